// The rating prompt end to end: counters and days on a manual clock, the store check against a
// loopback stand-in of the lookup service (reached through the test host map), the alert and its
// buttons.
#include <gtest/gtest.h>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Values.h"
#include "platform/net/NetErrors.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"
#include "support/TestSupport.h"
#include "support/net/StoreLookupStandIn.h"
#include "utilities/RatingPrompt.h"
#include "utilities/RegisterUtilitiesClasses.h"

namespace zv {
namespace {

using Answer = zv::testing::StoreLookupStandIn::Answer;
constexpr double kDay = 86400;
constexpr const char* kBundleID = "com.mirovast.zerivudor";

class RecordingDelegate : public Object, public RatingPromptDelegate {
 public:
  bool respondsToSelector(std::string_view selector) const override {
    return selector != "ratingPromptShouldPromptForRating" || answersShouldPrompt;
  }
  void ratingPromptCouldNotConnectToAppStore(const Ref<Error>& error) override { errors.push_back(error); }
  void ratingPromptDidDetectAppUpdate() override { ++updates; }
  bool ratingPromptShouldPromptForRating() override { return shouldPrompt; }
  void ratingPromptUserDidAttemptToRateApp() override { ++rated; }
  void ratingPromptUserDidDeclineToRateApp() override { ++declined; }
  void ratingPromptUserDidRequestReminderToRateApp() override { ++reminded; }

  std::vector<Ref<Error>> errors;
  int updates = 0, rated = 0, declined = 0, reminded = 0;
  bool answersShouldPrompt = false, shouldPrompt = true;
};

class RatingPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    clock = std::make_shared<ManualClock>(700000000.0);
    auto& environment = ApplicationEnvironment::shared();
    environment.setClock(clock);
    environment.setHomeDirectory(home.path());
    environment.setCountryCode("US");
    environment.setSystemVersion("6.1.0");
    environment.setPreferredLanguages({"en"});
    UserDefaults::resetStandardUserDefaults();
    writeInfo("1.9");
    Bundle::setMainBundlePath(resources.path());
    ui::Application::sharedApplication()->reset();
    window = ui::Window::make(ui::Rect(0, 0, 320, 480));
    window->makeKeyAndVisible();
    ASSERT_TRUE(store.start());
    store.install();
    store.setResult(kBundleID, "5000000000123", "1.9", "6008");
  }
  void TearDown() override {
    store.release();
    prompt.reset();
    ui::Application::sharedApplication()->reset();
    Bundle::setMainBundlePath(std::nullopt);
    UserDefaults::resetStandardUserDefaults();
    ApplicationEnvironment::shared().reset();
    Clock::install(nullptr);
  }

  void writeInfo(const std::string& version) {
    auto info = Dictionary::make({{"CFBundleIdentifier", box(kBundleID)},
                                  {"CFBundleDisplayName", box("Zerivudor")},
                                  {"CFBundleShortVersionString", box(version)}});
    ASSERT_TRUE(storage::writePropertyList(resources / "Info.plist", *info, storage::PropertyListFormat::XML));
  }

  // A new prompt with the application's configuration; its queued launch has run.
  Ref<RatingPrompt> launch(bool promptAtLaunch = true) {
    auto made = RatingPrompt::make();
    made->setDaysUntilPrompt(10);
    made->setUsesUntilPrompt(10);
    made->setEventsUntilPrompt(5);
    made->setRemindPeriod(1);
    made->setPromptAtLaunch(promptAtLaunch);
    made->setDelegate(delegate);
    // Work queued after the prompt's own launch runs after it.
    auto launched = std::make_shared<bool>(false);
    performOnMainThread([launched] { *launched = true; }, false);
    EXPECT_TRUE(pumpRunLoopUntil([&] { return *launched; }, 10));
    prompt = made;
    return made;
  }

  // Counters that make the decision say yes.
  void makeDue() {
    prompt->setFirstUsed(Date::make(clock->now() - 11 * kDay));
    prompt->setEventCount(5);
  }

  // Runs the check to its end (alert shown, or the flag cleared).
  void check() {
    prompt->promptIfNetworkAvailable();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return !prompt->currentlyChecking(); }, 30));
  }

  std::shared_ptr<ManualClock> clock;
  zv::testing::TemporaryDirectory home, resources;
  zv::testing::StoreLookupStandIn store{kStoreLookupHost};
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  Ref<RatingPrompt> prompt;
  Ref<ui::Window> window;
};

TEST_F(RatingPromptTest, DefaultsComeFromTheBundleAndTheEnvironment) {
  auto made = RatingPrompt::make();
  EXPECT_EQ(made->applicationName(), "Zerivudor");
  EXPECT_EQ(made->applicationVersion(), "1.9");
  EXPECT_EQ(made->applicationBundleID(), kBundleID);
  EXPECT_EQ(made->appStoreCountry(), "US");
  EXPECT_EQ(made->messageTitle(), "Rate Zerivudor");
  EXPECT_NE(made->message().find("If you enjoy using Zerivudor,"), std::string::npos);
  made->setAppStoreGenreID(kGamesGenreID);
  EXPECT_NE(made->message().find("If you enjoy playing Zerivudor,"), std::string::npos);
  EXPECT_EQ(made->cancelButtonLabel(), "No, Thanks");
  EXPECT_EQ(made->remindButtonLabel(), "Remind Me Later");
  made->setAppStoreID(5000000000123);
  EXPECT_EQ(made->ratingsURL()->absoluteString(), std::string("itms-apps://") + kStoreReviewHost + "/app/id5000000000123");
  ApplicationEnvironment::shared().setSystemVersion("5.1");
  EXPECT_NE(made->ratingsURL()->absoluteString().find("viewContentsUserReviews?type=Purple+Software&id=5000000000123"),
            std::string::npos);
  EXPECT_TRUE(pumpRunLoopUntil([&] { return made->usesCount() == 1; }));
}

TEST_F(RatingPromptTest, EventsAfterTheDaysStartTheCheckAndTheAlertRatesTheApp) {
  launch();
  EXPECT_EQ(delegate->updates, 1);
  ASSERT_TRUE(prompt->firstUsed());
  for (int i = 0; i < 5; ++i) prompt->logEvent(true);  // deferred: never starts a check
  EXPECT_FALSE(prompt->currentlyChecking());
  EXPECT_FALSE(prompt->shouldPromptForRating());  // 5 events, 1 use, but only day 0
  clock->advance(10 * kDay - 1);
  EXPECT_FALSE(prompt->shouldPromptForRating());
  clock->advance(1);
  EXPECT_TRUE(prompt->shouldPromptForRating());
  EXPECT_EQ(store.lookupCount(), 0);

  // Back to the foreground on day 10: the check runs and the alert comes up.
  ui::Application::sharedApplication()->simulateEnterBackground();
  ui::Application::sharedApplication()->simulateEnterForeground();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return prompt->visibleAlert() != nullptr; }, 30));
  EXPECT_FALSE(prompt->currentlyChecking());
  ASSERT_EQ(store.lookupCount(), 1);
  EXPECT_EQ(store.badRequestCount(), 0);
  EXPECT_EQ(store.requests().front().target, "/US/lookup?bundleId=com.mirovast.zerivudor");
  EXPECT_EQ(prompt->appStoreID(), 5000000000123u);  // 64 bits kept whole
  EXPECT_EQ(prompt->appStoreGenreID(), 6008u);
  auto alert = prompt->visibleAlert();
  EXPECT_EQ(alert->title(), "Rate Zerivudor");
  ASSERT_EQ(alert->numberOfButtons(), 3);
  EXPECT_EQ(alert->buttonTitleAtIndex(0), "No, Thanks");
  EXPECT_EQ(alert->buttonTitleAtIndex(1), "Rate It Now");
  EXPECT_EQ(alert->buttonTitleAtIndex(2), "Remind Me Later");

  alert->simulateTapButtonAtIndex(1);
  EXPECT_EQ(prompt->visibleAlert(), nullptr);
  EXPECT_TRUE(prompt->ratedThisVersion());
  EXPECT_EQ(delegate->rated, 1);
  auto opened = ui::Application::sharedApplication()->openedURLs();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0]->absoluteString(), std::string("itms-apps://") + kStoreReviewHost + "/app/id5000000000123");
  EXPECT_FALSE(prompt->shouldPromptForRating());

  // A later check asks by the identifier it learnt.
  prompt->setDebug(true);
  check();
  EXPECT_EQ(store.requests().back().target, "/US/lookup?id=5000000000123");
}

TEST_F(RatingPromptTest, UnknownApplicationMalformedAndHugeAnswersReportAnError) {
  launch(false);
  // An answer past the check's bound is not read to its end.
  store.setAnswer(Answer::Huge);
  check();
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0]->domain(), kURLErrorDomain);
  EXPECT_EQ(delegate->errors[0]->code(), net::kURLErrorDataLengthExceedsMaximum);
  EXPECT_EQ(prompt->visibleAlert(), nullptr);
  for (Answer answer : {Answer::NotFound, Answer::Malformed}) {
    store.setAnswer(answer);
    delegate->errors.clear();
    check();
    ASSERT_EQ(delegate->errors.size(), 1u);
    EXPECT_EQ(delegate->errors[0]->domain(), kRatingPromptErrorDomain);
    EXPECT_EQ(delegate->errors[0]->code(), RatingPromptErrorBundleIDMismatch);
    EXPECT_EQ(prompt->visibleAlert(), nullptr);
  }
  // Another application's entry is no match either.
  store.setAnswer(Answer::Found);
  store.setResult("com.example.other", "1", "1.9", "6008");
  delegate->errors.clear();
  check();
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(prompt->appStoreID(), 0u);
}

TEST_F(RatingPromptTest, ANewerStoreVersionBlocksThePromptAndAnEqualOnePasses) {
  launch(false);
  store.setResult(kBundleID, "77", "1.10", "6008");
  check();
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0]->code(), RatingPromptErrorNotLatestVersion);
  EXPECT_EQ(prompt->visibleAlert(), nullptr);

  prompt->setOnlyPromptIfLatestVersion(false);
  check();
  EXPECT_NE(prompt->visibleAlert(), nullptr);
  prompt->visibleAlert()->simulateTapButtonAtIndex(0);
  EXPECT_TRUE(prompt->declinedThisVersion());
  EXPECT_EQ(delegate->declined, 1);

  prompt->setOnlyPromptIfLatestVersion(true);
  store.setResult(kBundleID, "77", "1.9", "6008");
  check();
  EXPECT_NE(prompt->visibleAlert(), nullptr);
  EXPECT_EQ(delegate->errors.size(), 1u);
}

// Makes connect() fail with EPERM (POSIX code 1) on the calling thread and every thread it starts
// from now on; the thread must end soon after (the filter cannot be taken off). NO where the
// kernel's system-call filter cannot be installed.
bool denyConnectsFromThisThread() {
#if defined(__x86_64__)
  constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
  return false;
#endif
#if defined(__x86_64__) || defined(__aarch64__)
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_connect, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#endif
}

TEST_F(RatingPromptTest, AFailedConnectionIsReportedAndTheNextCheckCanRun) {
  launch(false);
  // Nothing listens on the mapped port: the connection is refused.
  ApplicationEnvironment::shared().setTestHostMap({{kStoreLookupHost, 1}});
  check();
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0]->code(), net::kURLErrorCannotConnectToHost);
  EXPECT_EQ(prompt->visibleAlert(), nullptr);

  // The system refuses the connection itself (POSIX code 1) while the store identifier is known:
  // still a failure, reported, and no prompt.
  store.install();
  prompt->setAppStoreID(42);
  bool denied = false;
  std::thread([&] {
    denied = denyConnectsFromThisThread();
    if (denied) prompt->promptIfNetworkAvailable();  // the check's threads start from this one
  }).join();
  if (!denied) GTEST_SKIP() << "no system-call filter here to make connect() fail with EPERM";
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !prompt->currentlyChecking(); }, 30));
  ASSERT_EQ(delegate->errors.size(), 2u);
  auto cause = delegate->errors[1]->domain() == kPOSIXErrorDomain ? delegate->errors[1]
                                                                   : delegate->errors[1]->underlyingError();
  ASSERT_TRUE(cause);
  EXPECT_EQ(cause->domain(), kPOSIXErrorDomain);
  EXPECT_EQ(cause->code(), EPERM);
  EXPECT_EQ(prompt->visibleAlert(), nullptr);
  EXPECT_EQ(store.lookupCount(), 0);

  check();
  EXPECT_NE(prompt->visibleAlert(), nullptr);
  EXPECT_EQ(delegate->errors.size(), 2u);
}

TEST_F(RatingPromptTest, ASlowAnswerHoldsOneCheckOnly) {
  launch(false);
  store.setAnswer(Answer::Slow);
  prompt->promptIfNetworkAvailable();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return store.lookupCount() == 1; }, 30));
  EXPECT_TRUE(prompt->currentlyChecking());
  prompt->promptIfNetworkAvailable();  // ignored while the first one runs
  prompt->logEvent(false);
  EXPECT_EQ(prompt->visibleAlert(), nullptr);
  store.release();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return prompt->visibleAlert() != nullptr; }, 30));
  EXPECT_EQ(store.lookupCount(), 1);
  EXPECT_FALSE(prompt->currentlyChecking());
}

TEST_F(RatingPromptTest, AnAnswerWithoutTrackIdShowsNothingButAllowsLaterChecks) {
  launch(false);
  store.setResult(kBundleID, "null", "1.9", "6008");
  check();
  EXPECT_EQ(prompt->visibleAlert(), nullptr);
  EXPECT_TRUE(delegate->errors.empty());
  EXPECT_FALSE(prompt->currentlyChecking());
  store.setResult(kBundleID, "12", "1.9", "6008");
  check();
  EXPECT_NE(prompt->visibleAlert(), nullptr);
}

TEST_F(RatingPromptTest, TheDelegateCanRefuseThePrompt) {
  launch(false);
  delegate->answersShouldPrompt = true;
  delegate->shouldPrompt = false;
  check();
  EXPECT_EQ(prompt->visibleAlert(), nullptr);
  delegate->shouldPrompt = true;
  check();
  EXPECT_NE(prompt->visibleAlert(), nullptr);
}

TEST_F(RatingPromptTest, TheReminderWaitsItsPeriod) {
  launch(false);
  makeDue();
  check();
  ASSERT_NE(prompt->visibleAlert(), nullptr);
  prompt->visibleAlert()->simulateTapButtonAtIndex(2);
  EXPECT_EQ(delegate->reminded, 1);
  ASSERT_TRUE(prompt->lastReminded());
  prompt->setUsesCount(100);
  clock->advance(kDay - 1);
  EXPECT_FALSE(prompt->shouldPromptForRating());
  clock->advance(1);
  EXPECT_TRUE(prompt->shouldPromptForRating());
}

TEST_F(RatingPromptTest, ANewVersionResetsTheCountersAndForgetsTheDecline) {
  launch(false);
  makeDue();
  prompt->setUsesCount(20);
  prompt->setDeclinedThisVersion(true);
  EXPECT_FALSE(prompt->shouldPromptForRating());
  prompt.reset();

  writeInfo("2.0");
  Bundle::setMainBundlePath(resources.path());  // read the new Info.plist
  clock->advance(kDay);
  launch(false);
  EXPECT_EQ(delegate->updates, 2);
  EXPECT_EQ(prompt->usesCount(), 1);
  EXPECT_EQ(prompt->eventCount(), 0);
  EXPECT_DOUBLE_EQ(prompt->firstUsed()->timeIntervalSinceReferenceDate(), clock->now());
  EXPECT_FALSE(prompt->declinedThisVersion());
  prompt->setEventCount(5);
  clock->advance(10 * kDay);
  EXPECT_TRUE(prompt->shouldPromptForRating());
}

TEST_F(RatingPromptTest, WithoutACancelButtonTheFirstButtonRatesAndTheSecondReminds) {
  launch(false);
  prompt->setCancelButtonLabel(std::nullopt);
  prompt->setAppStoreID(9);
  prompt->promptForRating();
  auto alert = prompt->visibleAlert();
  ASSERT_EQ(alert->numberOfButtons(), 2);
  alert->simulateTapButtonAtIndex(1);
  EXPECT_EQ(delegate->reminded, 1);
  prompt->promptForRating();
  prompt->visibleAlert()->simulateTapButtonAtIndex(0);
  EXPECT_EQ(delegate->rated, 1);
  EXPECT_EQ(delegate->declined, 0);
}

// The only test of this program that makes the shared prompt.
TEST_F(RatingPromptTest, StartUpRegistrationMakesTheSharedPromptWhenTheMainLoopTurns) {
  auto defaults = UserDefaults::standardUserDefaults();
  registerUtilitiesClasses();
  EXPECT_FALSE(defaults->objectForKey(kRatingPromptUseCountKey));  // scheduled, not made at once
  // Made on the main thread, it counts the launch without anyone asking for it.
  ASSERT_TRUE(pumpRunLoopUntil([&] { return defaults->integerForKey(kRatingPromptUseCountKey) == 1; }, 30));
  auto shared = RatingPrompt::sharedInstance();
  EXPECT_EQ(shared->usesCount(), 1);
  EXPECT_EQ(shared->applicationVersion(), "1.9");
  // It outlives this test: keep it from starting checks in later ones.
  shared->setPromptAtLaunch(false);
}

TEST_F(RatingPromptTest, TheApplicationsDelegateIsUsedWhenNoneIsSet) {
  auto made = RatingPrompt::make();
  EXPECT_EQ(made->delegate(), nullptr);
  ui::Application::sharedApplication()->setDelegate(nullptr);
  class AppDelegateStandIn : public Object, public ui::ApplicationDelegate, public RatingPromptDelegate {};
  auto application = std::make_shared<AppDelegateStandIn>();
  ui::Application::sharedApplication()->setDelegate(application);
  EXPECT_EQ(made->delegate().get(), static_cast<RatingPromptDelegate*>(application.get()));
  EXPECT_TRUE(pumpRunLoopUntil([&] { return made->usesCount() == 1; }));
}

TEST_F(RatingPromptTest, LayoutAdjustmentGrowsTheMessageAndMovesTheButtons) {
  launch(false);
  prompt->setMessage(std::string(300, 'w') + " end of a long message");
  prompt->promptForRating();
  auto alert = prompt->visibleAlert();
  ASSERT_NE(alert, nullptr);
  auto title = std::dynamic_pointer_cast<ui::Label>(alert->viewWithTag(1));
  auto text = std::dynamic_pointer_cast<ui::Label>(alert->viewWithTag(2));
  ASSERT_TRUE(title && text);
  // Squeeze the message as a platform with a fixed-size alert would, then lay out again.
  auto squeezed = text->frame();
  text->setFrame({squeezed.x(), squeezed.y(), squeezed.width(), 20});
  const double titleHeight = title->frame().height();
  const double buttonY = alert->buttonAtIndex(1)->frame().y();
  const auto before = alert->frame();
  prompt->resizeAlertView(*alert);
  const double grown = text->frame().height();
  EXPECT_GT(grown, 60);  // several wrapped lines
  EXPECT_DOUBLE_EQ(text->frame().width(), squeezed.width());
  // The title did not grow: its offset is its height less what it lacks of 45 points.
  const double offset = titleHeight - std::max(0.0, 45 - titleHeight) + (grown - 20);
  EXPECT_DOUBLE_EQ(alert->buttonAtIndex(1)->frame().y(), buttonY + offset);
  EXPECT_DOUBLE_EQ(alert->frame().height(), before.height() + offset);
  EXPECT_DOUBLE_EQ(alert->frame().y(), before.y() - std::round(offset / 2));

  // Disabled: nothing moves.
  prompt->setDisableAlertViewResizing(true);
  const auto settled = alert->frame();
  prompt->resizeAlertView(*alert);
  EXPECT_EQ(alert->frame(), settled);
  alert->simulateTapButtonAtIndex(0);
}

}  // namespace
}  // namespace zv
