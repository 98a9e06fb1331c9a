// The application delegate as the rating prompt's delegate.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/SharingConfigurator.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/UserDefaults.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXOfflineQueue.h"
#include "support/TestSupport.h"
#include "support/sharing/OfflineQueueSupport.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    ApplicationEnvironment::shared().setHomeDirectory(home.path());
    UserDefaults::resetStandardUserDefaults();
    ui::Application::sharedApplication()->reset();
    SXConfiguration::resetForTesting();  // the launch installs the application's configuration
  }
  void TearDown() override {
    ui::Application::sharedApplication()->reset();
    SXConfiguration::resetForTesting();
    UserDefaults::resetStandardUserDefaults();
    ApplicationEnvironment::shared().reset();
  }
  zv::testing::TemporaryDirectory home;
};

TEST_F(AppDelegateTest, ConfiguresThePromptWithTheApplicationsValues) {
  AppDelegate::initializeClass();
  auto prompt = RatingPrompt::sharedInstance();
  EXPECT_TRUE(prompt->promptAtLaunch());
  EXPECT_FLOAT_EQ(prompt->daysUntilPrompt(), 10);
  EXPECT_EQ(prompt->usesUntilPrompt(), 10u);
  EXPECT_EQ(prompt->eventsUntilPrompt(), 5u);
  EXPECT_FLOAT_EQ(prompt->remindPeriod(), 1);
  EXPECT_EQ(prompt->messageTitle(), "Enjoying Zerivudor?");
  EXPECT_EQ(prompt->remindButtonLabel(), "Remind Me Later");
  EXPECT_EQ(prompt->rateButtonLabel(), "Rate Zerivudor");
}

TEST_F(AppDelegateTest, BecomesTheDelegateAtLaunchAndImplementsNoOptionalCall) {
  AppDelegate::initializeClass();
  auto delegate = AppDelegate::make();
  auto application = ui::Application::sharedApplication();
  application->setDelegate(delegate);
  application->simulateLaunch();
  auto prompt = RatingPrompt::sharedInstance();
  EXPECT_EQ(prompt->delegate().get(), static_cast<RatingPromptDelegate*>(delegate.get()));
  for (const char* call : {"ratingPromptCouldNotConnectToAppStore", "ratingPromptDidDetectAppUpdate",
                           "ratingPromptShouldPromptForRating", "ratingPromptUserDidAttemptToRateApp",
                           "ratingPromptUserDidDeclineToRateApp", "ratingPromptUserDidRequestReminderToRateApp"}) {
    EXPECT_FALSE(prompt->delegate()->respondsToSelector(call)) << call;
  }
}

TEST_F(AppDelegateTest, GoodResultsCountEventsWithoutStartingACheck) {
  AppDelegate::initializeClass();
  auto prompt = RatingPrompt::sharedInstance();
  prompt->setFirstUsed(Date::make(Date::now()->timeIntervalSinceReferenceDate() - 30 * 86400.0));
  prompt->setEventCount(0);
  auto delegate = AppDelegate::make();
  for (int i = 0; i < 6; ++i) delegate->recordGoodResult();
  EXPECT_EQ(prompt->eventCount(), 6);
  EXPECT_TRUE(prompt->shouldPromptForRating());
  EXPECT_FALSE(prompt->currentlyChecking());
}

// The launch as the sharing framework sees it; a probe sharer that does no I/O stands in for a
// service whose share waited in the offline queue.
class AppDelegateLaunchTest : public zv::testing::SharingTest {
 protected:
  AppDelegateLaunchTest() : SharingTest(false) {}
  void SetUp() override {
    SharingTest::SetUp();
    zv::testing::registerOfflineQueueTestSharers();
    zv::testing::QueueProbeSharer::reset();
  }
  void TearDown() override {
    if (auto queue = SX::currentHelper()->offlineQueue()) {
      EXPECT_TRUE(pumpRunLoopUntil([&] { return queue->operations().empty(); }, 30.0));
    }
    zv::testing::QueueProbeSharer::reset();
    SharingTest::TearDown();
  }
};

TEST_F(AppDelegateLaunchTest, InstallsTheApplicationsSharingConfigurationAndReplaysTheOfflineQueue) {
  // A share an earlier run queued while offline; the launch installs the application's own
  // configuration, so the test's goes first.
  ASSERT_TRUE(SXOfflineQueue::addToOfflineQueue(SXItem::makeText("from last time"), "QueueProbeSharer"));
  SXConfiguration::resetForTesting();
  auto application = ui::Application::sharedApplication();
  application->setDelegate(AppDelegate::make());
  EXPECT_TRUE(application->simulateLaunch());

  ASSERT_TRUE(SXConfiguration::isConfigured());
  EXPECT_TRUE(dyn<SharingConfigurator>(SXConfiguration::sharedInstance()->configurator()));
  EXPECT_EQ(SXConfigString("appName"), "Tavrilune");
  // The history screen and the opened-URL routing find the service sharers by class name.
  EXPECT_TRUE(classNamed("SXTwitter"));
  EXPECT_TRUE(classNamed("SXFacebook"));
  ASSERT_TRUE(pumpRunLoopUntil([] { return !zv::testing::QueueProbeSharer::sent().empty(); }, 30.0));
  EXPECT_EQ(zv::testing::QueueProbeSharer::sent()[0].text, "from last time");
}

}  // namespace
}  // namespace zv
