// The Twitter sharers end to end against the loopback Twitter stand-in: logins (xAuth and the
// authorization page), status, link and image shares, the profile, lost logins, and the
// platform's tweet sheet.
#include <gtest/gtest.h>

#include <random>

#include "platform/foundation/Log.h"
#include "platform/graphics/ImageCodec.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Composers.h"
#include "platform/ui/Window.h"
#include "sharing/core/SX.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/services/twitter/SXTwitter.h"
#include "sharing/services/twitter/SXiOS5Twitter.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"
#include "support/sharing/TwitterService.h"

namespace zv::testing {
namespace {

// Reports of one sharer's delegate, in order, with the errors and relogin flags.
class Recorder : public SXDefaultSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>& sharer) override {
    events.push_back("start");
    SXDefaultSharerDelegate::sharerStartedSending(sharer);
  }
  void sharerFinishedSending(const Ref<SXSharer>& sharer) override {
    events.push_back("finish");
    SXDefaultSharerDelegate::sharerFinishedSending(sharer);
  }
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>& sharer, const Ref<Error>& error,
                                          bool relogin) override {
    events.push_back(relogin ? "relogin" : "fail");
    errors.push_back(error);
    SXDefaultSharerDelegate::sharerFailedWithErrorShouldRelogin(sharer, error, relogin);
  }
  void sharerCancelledSending(const Ref<SXSharer>&) override { events.push_back("cancel"); }
  std::vector<std::string> events;
  std::vector<Ref<Error>> errors;
};

Ref<graphics::Image> noiseImage(int width, int height, unsigned seed) {
  graphics::Bitmap bitmap = graphics::Bitmap::filled(width, height, 0, 0, 0);
  std::mt19937 random(seed);
  for (auto& byte : bitmap.rgba) byte = static_cast<std::uint8_t>(random());
  for (std::size_t i = 3; i < bitmap.rgba.size(); i += 4) bitmap.rgba[i] = 255;
  return graphics::Image::make(std::move(bitmap));
}

class SXTwitterTest : public SharingTest {
 protected:
  SXTwitterTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    ASSERT_TRUE(service.start());
    configurator->set("twitterConsumerKey", box(TwitterService::kConsumerKey));
    configurator->set("twitterSecret", box(TwitterService::kConsumerSecret));
    configurator->set("twitterCallbackUrl", box(TwitterService::kCallback));
    configurator->set("twitterUseXAuth", box(true));
    configurator->set("twitterUsername", box(""));
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    recorder = std::make_shared<Recorder>();
  }

  void TearDown() override {
    ui::TweetComposeViewController::setAvailable(false);
    // Let the last screen finish going away before the hub is reset.
    pumpRunLoopUntil([] { return !SX::currentHelper()->isDismissingView() && !SX::currentHelper()->currentView(); },
                     5.0);
    pumpRunLoopFor(0.3);
    SharingTest::TearDown();
  }

  Ref<SXTwitter> start(const Ref<SXItem>& item) {
    auto sharer = SXSharer::make<SXTwitter>();
    sharer->setShareDelegate(recorder);
    SXSharer::shareItem(sharer, item);
    return sharer;
  }

  template <class Screen>
  Ref<Screen> waitForTop(const Ref<SXSharer>& sharer) {
    Ref<Screen> screen;
    bool shown = pumpRunLoopUntil([&] {
      screen = dyn<Screen>(sharer->topViewController());
      return screen && screen->isVisible() && SX::currentHelper()->currentView() == sharer &&
             !SX::currentHelper()->isDismissingView();
    }, 20.0);
    EXPECT_TRUE(shown);
    return shown ? screen : nullptr;
  }

  void logIn(const Ref<SXSharer>& sharer, const std::string& password = TwitterService::kPassword) {
    auto login = waitForTop<SXFormController>(sharer);
    ASSERT_TRUE(login);
    typeInto(login, 0, TwitterService::kUser);
    typeInto(login, 1, password);
    ASSERT_TRUE(pressRight(login));
    if (password == TwitterService::kPassword) {
      ASSERT_TRUE(pumpRunLoopUntil([] { return SX::getAuthValueForKey("accessKey", "SXTwitter").has_value(); }, 20.0));
    }
  }

  // Edits the status in the tweet form and sends it.
  void sendFromEditor(const Ref<SXSharer>& sharer, std::optional<std::string> text = std::nullopt) {
    auto editor = waitForTop<SXFormControllerLargeTextField>(sharer);
    ASSERT_TRUE(editor);
    if (text) editor->textView()->setText(*text);
    ASSERT_TRUE(pressRight(editor));
  }

  bool waitForEvents(std::size_t count) {
    return pumpRunLoopUntil([&] { return recorder->events.size() >= count; }, 30.0);
  }

  void storeToken() {
    ASSERT_TRUE(SX::setAuthValue("at-old", "accessKey", "SXTwitter"));
    ASSERT_TRUE(SX::setAuthValue("old", "accessSecret", "SXTwitter"));
  }

  TwitterService service;
  Ref<ui::ViewController> root;
  std::shared_ptr<Recorder> recorder;
};

TEST_F(SXTwitterTest, XAuthLoginFollowsTheAccountAndPostsTheEditedStatus) {
  configurator->set("twitterUsername", box("zeri vudor/app"));
  LogCapture logs;
  auto sharer = start(SXItem::makeText("Coherence 80% & rising"));
  auto login = waitForTop<SXFormController>(sharer);
  ASSERT_TRUE(login);
  ASSERT_EQ(login->sections().at(0).rows.size(), 3u);
  EXPECT_EQ(login->sections()[0].rows[2]->label, "Follow zeri vudor/app");

  // A refused password keeps the form, with the service's words in the alert.
  typeInto(login, 0, TwitterService::kUser);
  typeInto(login, 1, "wrong");
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() != nullptr; }, 20.0));
  EXPECT_EQ(topAlert()->title(), "Access Error");
  EXPECT_EQ(topAlert()->message(), "Invalid user name or password");
  topAlert()->simulateTapButtonAtIndex(0);
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "SXTwitter"), std::nullopt);

  replaceIn(login, 1, TwitterService::kPassword);
  ASSERT_TRUE(pressRight(login));
  sendFromEditor(sharer, "Coherence 80% & rising \xF0\x9F\x92\x93");
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(service.statuses(), std::vector<std::string>{"Coherence 80% & rising \xF0\x9F\x92\x93"});
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "SXTwitter"), "at1");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !service.follows().empty(); }, 20.0));
  // The configured name travels escaped in the path.
  EXPECT_EQ(service.follows(), std::vector<std::string>{"zeri%20vudor%2Fapp"});
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
  // Neither the password nor a token secret reaches the log.
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.find("p&ss"), std::string::npos) << line;
    EXPECT_EQ(line.find("as+1"), std::string::npos) << line;
  }
}

// Cancel pressed on the login form while its token fetch runs wins over the answer that comes
// after it: no login is kept, nothing is sent, and the share ends in one cancel.
TEST_F(SXTwitterTest, CancelDuringTheXAuthLoginWinsOverItsAnswer) {
  auto sharer = start(SXItem::makeText("Coherence 80%"));
  auto login = waitForTop<SXFormController>(sharer);
  ASSERT_TRUE(login);
  typeInto(login, 0, TwitterService::kUser);
  typeInto(login, 1, TwitterService::kPassword);
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(pressLeft(login));
  // The service answers the fetch all the same.
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !service.requestsTo("/oauth/access_token").empty(); }, 20.0));
  pumpRunLoopFor(0.5);
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "SXTwitter"), std::nullopt);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"cancel"});
  EXPECT_FALSE(topAlert());
  EXPECT_TRUE(service.statuses().empty());
}

TEST_F(SXTwitterTest, AuthorizationPageLoginPostsTheStatus) {
  configurator->set("twitterUseXAuth", box(false));
  auto sharer = start(SXItem::makeText("via the web page"));
  sendFromEditor(sharer);
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(service.statuses(), std::vector<std::string>{"via the web page"});
  EXPECT_EQ(service.requestsTo("/oauth/request_token").size(), 1u);
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
}

TEST_F(SXTwitterTest, LinksAreShortenedWithEscapedCredentialsOrSentAsTheyAre) {
  storeToken();
  service.revokeAccessTokens();
  ASSERT_TRUE(SX::setAuthValue("at1", "accessKey", "SXTwitter"));
  // Without shortening credentials: the title and the link as written (decoding would make
  // another link of it), no request.
  {
    auto sharer = SXSharer::make<SXTwitter>();
    sharer->setItem(SXItem::makeURL(URL::make("https://example.org/a%20b?q=a%26b%3Dc"), "T"));
    EXPECT_TRUE(sharer->prepareItem());
    EXPECT_EQ(sharer->item()->customValueForKey("status"), "T https://example.org/a%20b?q=a%26b%3Dc");
  }
  configurator->set("bitLyLogin", box(TwitterService::kShortenLogin));
  configurator->set("bitLyKey", box(TwitterService::kShortenKey));
  auto sharer = SXSharer::make<SXTwitter>();
  sharer->setItem(SXItem::makeURL(URL::make("https://example.org/r?id=1&s=80"), "Result"));
  EXPECT_FALSE(sharer->prepareItem());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return sharer->item()->customValueForKey("status").has_value(); }, 20.0));
  EXPECT_EQ(sharer->item()->customValueForKey("status"), "Result https://bit.ly/sh0rt");
  EXPECT_EQ(service.longURLs(), std::vector<std::string>{"https://example.org/r?id=1&s=80"});
  EXPECT_EQ(topAlert(), nullptr);
  ASSERT_TRUE(waitForTop<SXFormControllerLargeTextField>(sharer));

  // A link that is short already keeps the item's own link quietly; nonsense alerts and keeps it.
  service.setShortenReply("ALREADY_A_BITLY_LINK");
  auto already = SXSharer::make<SXTwitter>();
  already->setItem(SXItem::makeURL(URL::make("https://bit.ly/x"), "Mine"));
  EXPECT_FALSE(already->prepareItem());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return already->item()->customValueForKey("status").has_value(); }, 20.0));
  EXPECT_EQ(already->item()->customValueForKey("status"), "Mine https://bit.ly/x");
  EXPECT_EQ(topAlert(), nullptr);
  ASSERT_TRUE(waitForTop<SXFormControllerLargeTextField>(already));

  service.setShortenReply("<html>oops</html>");
  auto broken = SXSharer::make<SXTwitter>();
  broken->setItem(SXItem::makeURL(URL::make("https://example.org/z?q=a%26b"), "Z"));
  EXPECT_FALSE(broken->prepareItem());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return broken->item()->customValueForKey("status").has_value(); }, 20.0));
  EXPECT_EQ(broken->item()->customValueForKey("status"), "Z https://example.org/z?q=a%26b");
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Shorten URL Error");
  ASSERT_TRUE(waitForTop<SXFormControllerLargeTextField>(broken));
}

TEST_F(SXTwitterTest, AnImageIsUploadedWithOAuthEchoAndItsLinkPosted) {
  auto sharer = start(SXItem::makeImage(noiseImage(64, 48, 1), "My curve"));
  logIn(sharer);
  sendFromEditor(sharer);
  ASSERT_TRUE(waitForEvents(2));
  // One start for the whole send, though it takes two requests.
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  ASSERT_EQ(service.uploads().size(), 1u);
  EXPECT_EQ(service.uploads()[0].second, "My curve");
  EXPECT_EQ(service.statuses(), std::vector<std::string>{"My curve https://pic.example/p1"});
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
}

// A message holding what used to be the fixed boundary stays one part: the stand-in frames the
// body by the boundary the request names, so a forged part would replace the message.
TEST_F(SXTwitterTest, AnUploadMessageHoldingABoundaryArrivesWhole) {
  const std::string message = std::string("see\r\n--") + SXTwitter::kBoundary +
                              "\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\nforged";
  auto sharer = start(SXItem::makeImage(noiseImage(16, 16, 3), "x"));
  logIn(sharer);
  sendFromEditor(sharer, message);
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"})) << service.lastComplaint();
  ASSERT_EQ(service.uploads().size(), 1u);
  EXPECT_EQ(service.uploads()[0].second, message);
}

TEST_F(SXTwitterTest, AFailedUploadIsReportedOnceWithAnError) {
  service.failNext(200, "<?xml version=\"1.0\"?><rsp><err>no url here</err></rsp>", /*upload=*/true);
  auto sharer = start(SXItem::makeImage(noiseImage(16, 16, 2), "x"));
  logIn(sharer);
  sendFromEditor(sharer);
  ASSERT_TRUE(waitForEvents(2));
  pumpRunLoopFor(0.3);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "fail"}));
  ASSERT_TRUE(recorder->errors.at(0));
  EXPECT_EQ(recorder->errors[0]->domain(), "Twitter");
  EXPECT_EQ(recorder->errors[0]->code(), 2);
  EXPECT_TRUE(service.statuses().empty());
}

TEST_F(SXTwitterTest, ALostLoginAsksOnceForANewOneAndThenSends) {
  auto sharer = start(SXItem::makeText("after relogin"));
  logIn(sharer);
  ASSERT_TRUE(waitForTop<SXFormControllerLargeTextField>(sharer));
  service.revokeAccessTokens();
  sendFromEditor(sharer);
  // Relogin only: no failure besides it.
  auto login = waitForTop<SXFormController>(sharer);
  ASSERT_TRUE(login);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "relogin"}));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend);
  typeInto(login, 0, TwitterService::kUser);
  typeInto(login, 1, TwitterService::kPassword);
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(waitForEvents(4));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "relogin", "start", "finish"}));
  EXPECT_EQ(service.statuses(), std::vector<std::string>{"after relogin"});
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
}

TEST_F(SXTwitterTest, AServiceThatRefusesEveryLoginEndsInOneFailure) {
  auto sharer = start(SXItem::makeText("never"));
  logIn(sharer);
  ASSERT_TRUE(waitForTop<SXFormControllerLargeTextField>(sharer));
  service.refuseEverything(true);
  sendFromEditor(sharer);
  auto login = waitForTop<SXFormController>(sharer);
  ASSERT_TRUE(login);
  service.refuseEverything(false);
  typeInto(login, 0, TwitterService::kUser);
  typeInto(login, 1, TwitterService::kPassword);
  service.refuseEverything(true);
  ASSERT_TRUE(pressRight(login));
  // The access token request itself is refused now: an alert, no loop.
  ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() != nullptr; }, 20.0));
  EXPECT_EQ(topAlert()->title(), "Access Error");
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "relogin"}));
}

TEST_F(SXTwitterTest, AnAuthenticationFailureRightAfterANewLoginIsAFailure) {
  auto sharer = start(SXItem::makeText("twice"));
  logIn(sharer);
  ASSERT_TRUE(waitForTop<SXFormControllerLargeTextField>(sharer));
  service.failNext(401, "{\"error\":\"Invalid / used nonce\"}");
  sendFromEditor(sharer);
  auto login = waitForTop<SXFormController>(sharer);
  ASSERT_TRUE(login);
  service.failNext(401, "{\"error\":\"Invalid / used nonce\"}");
  typeInto(login, 0, TwitterService::kUser);
  typeInto(login, 1, TwitterService::kPassword);
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(waitForEvents(4));
  pumpRunLoopFor(0.3);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "relogin", "start", "fail"}));
  EXPECT_EQ(recorder->errors.back()->localizedDescription(), "Invalid / used nonce");
}

TEST_F(SXTwitterTest, UnsuccessfulRepliesBecomeErrorsOrANewLogin) {
  storeToken();
  auto sharer = SXSharer::make<SXTwitter>();
  sharer->setShareDelegate(recorder);
  sharer->setItem(SXItem::makeText("x"));
  sharer->item()->setCustomValue("x", "status");
  ASSERT_TRUE(sharer->isAuthorized());

  sharer->handleUnsuccessfulTicket(Data::make("{\"error\":\"Status is a duplicate.\"}"));
  sharer->handleUnsuccessfulTicket(Data::make("<html>502 Bad Gateway</html>"));
  sharer->handleUnsuccessfulTicket(nullptr);
  ASSERT_EQ(recorder->errors.size(), 3u);
  EXPECT_EQ(recorder->errors[0]->localizedDescription(), "Status is a duplicate.");
  EXPECT_EQ(recorder->errors[1]->localizedDescription(), "Unknown Error");
  EXPECT_EQ(recorder->errors[2]->localizedDescription(), "Unknown Error");
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"fail", "fail", "fail"}));
  sharer->handleUnsuccessfulTicket(
      Data::make("<?xml version=\"1.0\"?><hash><code>401</code><error>Unauthorized</error></hash>"));
  EXPECT_EQ(recorder->events.back(), "relogin");
  pumpRunLoopFor(0.3);
}

TEST_F(SXTwitterTest, TheStatusLimitCountsWhatTheEditorCounts) {
  auto sharer = SXSharer::make<SXTwitter>();
  sharer->setItem(SXItem::makeText(""));
  auto check = [&](const std::string& status) {
    sharer->item()->setCustomValue(status, "status");
    return sharer->validateItemAfterUserEdit();
  };
  EXPECT_TRUE(check(std::string(140, 'a')));
  EXPECT_FALSE(check(std::string(141, 'a')));
  EXPECT_FALSE(check(std::string(300, 'a')));
  std::string heart = "\xF0\x9F\x92\x93";  // outside the BMP: two units
  std::string seventy;
  for (int i = 0; i < 70; ++i) seventy += heart;
  EXPECT_TRUE(check(seventy));
  EXPECT_FALSE(check(seventy + "a"));
  sharer->item()->setCustomValue(std::nullopt, "status");
  EXPECT_FALSE(sharer->validateItem());
  // A 300-character status is not sent at all.
  sharer->item()->setCustomValue(std::string(300, 'b'), "status");
  EXPECT_FALSE(sharer->send());
  EXPECT_TRUE(service.requestsTo("/1/statuses/update.json").empty());
}

TEST_F(SXTwitterTest, TheUploadQualityStepsInWholeTenthsAndGivesUpWithAnError) {
  auto image = noiseImage(96, 96, 3);
  auto at = [&](double quality) { return graphics::imageJPEGRepresentation(image, quality); };
  ASSERT_GT(at(0.5)->length(), at(0.4)->length());
  // The first encoding that fits is quality 0.4 exactly.
  Ref<Error> error;
  auto chosen = SXTwitter::uploadJPEG(image, at(0.4)->length(), &error);
  ASSERT_TRUE(chosen);
  EXPECT_TRUE(chosen->isEqual(*at(0.4)));
  chosen = SXTwitter::uploadJPEG(image, at(0.1)->length(), &error);
  ASSERT_TRUE(chosen);
  EXPECT_TRUE(chosen->isEqual(*at(0.1)));
  EXPECT_FALSE(error);
  // Nothing fits: an error, not an oversized upload.
  EXPECT_FALSE(SXTwitter::uploadJPEG(image, at(0.1)->length() - 1, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription(), "The image is too large to upload.");
}

TEST_F(SXTwitterTest, TheProfileIsStoredWithoutNullsAndDroppedAtLogout) {
  auto sharer = start(SXItem::makeText("x"));
  logIn(sharer);
  sendFromEditor(sharer);
  ASSERT_TRUE(waitForEvents(2));
  recorder->events.clear();
  auto info = SXSharer::make<SXTwitter>();
  info->setShareDelegate(recorder);
  auto item = SXItem::make();
  item->shareType = SXShareTypeUserInfo;
  SXSharer::shareItem(info, item);
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  auto profile = dyn<Dictionary>(UserDefaults::standardUserDefaults()->objectForKey(SXTwitter::kUserInfoKey));
  ASSERT_TRUE(profile);
  EXPECT_EQ(profile->stringForKey("screen_name"), "ada");
  EXPECT_EQ(profile->stringForKey("url"), "");
  ASSERT_TRUE(profile->objectForKeyAs<Dictionary>("status"));
  EXPECT_EQ(profile->objectForKeyAs<Dictionary>("status")->stringForKey("place"), "");
  info->logout();
  EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey(SXTwitter::kUserInfoKey));
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "SXTwitter"), std::nullopt);
}

TEST_F(SXTwitterTest, ASheetWaitingForAnotherScreenStaysUntilItReports) {
  ui::TweetComposeViewController::setAvailable(true);
  // Another sharer's screen is on: the sheet waits for it to go.
  auto other = std::make_shared<ui::ViewController>();
  SX::currentHelper()->showViewController(other, [] {});
  ASSERT_TRUE(pumpRunLoopUntil([&] { return other->isVisible(); }, 20.0));
  std::weak_ptr<SXiOS5Twitter> weak;
  {
    auto sharer = SXSharer::make<SXiOS5Twitter>();
    sharer->setShareDelegate(recorder);
    sharer->setItem(SXItem::makeText("waiting"));
    sharer->share();
    weak = sharer;
  }
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  Ref<ui::TweetComposeViewController> sheet;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    sheet = dyn<ui::TweetComposeViewController>(root->presentedViewController());
    return sheet && !sheet->isBeingPresented();
  }, 20.0));
  EXPECT_EQ(sheet->initialText(), "waiting");
  sheet->simulateFinish(ui::TweetComposeResult::Done);
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(recorder->events, std::vector<std::string>{"finish"});
  EXPECT_TRUE(pumpRunLoopUntil([&] { return root->presentedViewController() == nullptr; }, 20.0));
  EXPECT_TRUE(pumpRunLoopUntil([&] { return weak.expired(); }, 20.0));

  // With no screen to show the sheet on, the share fails once and the sharer goes.
  recorder->events.clear();
  auto window = root->view()->window();
  ui::Application::sharedApplication()->setKeyWindow(nullptr);
  SX::setRootViewController(nullptr);
  {
    auto sharer = SXSharer::make<SXiOS5Twitter>();
    sharer->setShareDelegate(recorder);
    sharer->setItem(SXItem::makeText("nowhere"));
    sharer->share();
    weak = sharer;
  }
  EXPECT_EQ(recorder->events, std::vector<std::string>{"fail"});
  EXPECT_TRUE(weak.expired());
  window->makeKeyAndVisible();
  SX::setRootViewController(root);
  if (auto alert = topAlert()) alert->dismissWithClickedButtonIndex(0, false);
}

TEST_F(SXTwitterTest, ASheetTakenDownWithTheScreenUnderItIsCancelledOnce) {
  ui::TweetComposeViewController::setAvailable(true);
  auto hub = SX::currentHelper();
  auto showThroughHub = [&](const Ref<ui::ViewController>& screen) {
    hub->showViewController(screen, [] {});
    return pumpRunLoopUntil([&] { return screen->isVisible() && !hub->isDismissingView(); }, 20.0);
  };
  ASSERT_TRUE(showThroughHub(std::make_shared<ui::ViewController>()));
  std::weak_ptr<SXiOS5Twitter> weak;
  Ref<ui::TweetComposeViewController> sheet;
  {
    auto sharer = SXSharer::make<SXiOS5Twitter>();
    sharer->setShareDelegate(recorder);
    sharer->setItem(SXItem::makeText("under way"));
    sharer->presentUI();  // over the hub's screen
    sheet = sharer->sheet();
    weak = sharer;
  }
  ASSERT_TRUE(sheet);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return sheet->isVisible(); }, 20.0));

  // Another share's screen reaches the hub: the screen under the sheet goes, and the sheet with it.
  ASSERT_TRUE(showThroughHub(std::make_shared<ui::ViewController>()));
  EXPECT_FALSE(sheet->presentingViewController());
  EXPECT_EQ(recorder->events, std::vector<std::string>{"cancel"});
  EXPECT_TRUE(weak.expired());
  // A late report of the gone sheet ends nothing more.
  sheet->simulateFinish(ui::TweetComposeResult::Done);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"cancel"});
  hub->hideCurrentViewControllerAnimated(false);
}

TEST_F(SXTwitterTest, TheTweetSheetTakesOverAndDropsTheStoredLogin) {
  storeToken();
  ui::TweetComposeViewController::setAvailable(true);
  std::string text(150, 'w');
  auto item = SXItem::makeURL(URL::make("https://example.org/r"), text);
  auto sharer = start(item);
  Ref<SXiOS5Twitter> sheetSharer;
  Ref<ui::TweetComposeViewController> sheet;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    sheet = dyn<ui::TweetComposeViewController>(root->presentedViewController());
    return sheet != nullptr;
  }, 20.0));
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "SXTwitter"), std::nullopt);
  // The text is cut to what fits beside the link (140 - 21 characters).
  EXPECT_EQ(sheet->initialText(), std::string(119, 'w'));
  ASSERT_EQ(sheet->urls().size(), 1u);
  sheet->simulateFinish(ui::TweetComposeResult::Done);
  ASSERT_TRUE(waitForEvents(1));
  EXPECT_EQ(recorder->events, std::vector<std::string>{"finish"});
  EXPECT_TRUE(pumpRunLoopUntil([&] { return root->presentedViewController() == nullptr; }, 20.0));
  EXPECT_TRUE(service.requests().empty());
  EXPECT_EQ(SXSharer::make<SXiOS5Twitter>()->sharerId(), "SXTwitter");

  // Forced off by the configuration: the OAuth road.
  configurator->set("forcePreIOS5TwitterAccess", box(true));
  EXPECT_FALSE(SXTwitter::twitterFrameworkAvailable());
}

}  // namespace
}  // namespace zv::testing
