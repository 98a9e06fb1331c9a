// The Vkontakte sharer end to end against the loopback service: the login page driven through the
// web view, text, link and photo posts, captcha rounds, checked photo steps, and unusable redirects
// and replies.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Log.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HTTPCookie.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/Keychain.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TextField.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXLoginAttempt.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/services/vkontakte/SXVkontakte.h"
#include "support/sharing/FacebookService.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/ShareReports.h"
#include "support/sharing/SharingTestSupport.h"
#include "support/sharing/VkontakteService.h"

namespace zv::testing {
namespace {

constexpr const char* kSharerId = "SXVkontakte";

class SXVkontakteTest : public SharingTest {
 protected:
  SXVkontakteTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    net::CookieStore::sharedInstance()->removeAllCookies();
    ASSERT_TRUE(service.start());
    configurator->set("vkontakteAppId", box(VkontakteService::kAppId));
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    SXVkontakte::flushAccessToken();
  }
  void TearDown() override {
    pumpRunLoopFor(0.4);  // closing animations end
    net::CookieStore::sharedInstance()->removeAllCookies();
    SharingTest::TearDown();
  }

  bool waitForReport(const std::string& prefix) {
    return pumpRunLoopUntil([&] {
      return std::any_of(reports.begin(), reports.end(), [&](const auto& r) { return r.starts_with(prefix); });
    }, 20.0);
  }
  // A login the service knows, kept as a login through the page keeps it.
  std::string storeLogin(double expiresIn = 86400) {
    auto token = service.issueToken();
    EXPECT_TRUE(SX::setAuthValue(token, kSXVkontakteTokenAccount, kSharerId));
    EXPECT_TRUE(SX::setAuthValue(VkontakteService::kUserId, kSXVkontakteUserIdAccount, kSharerId));
    EXPECT_TRUE(SX::setAuthValue(std::to_string(Date::now()->timeIntervalSince1970() + expiresIn),
                                 kSXVkontakteExpiryAccount, kSharerId));
    return token;
  }
  // Waits for the login page and signs in as a user would; `button` "allow" or "deny".
  void logIn(const std::string& button = "allow") {
    Ref<SXVkontakteOAuthView> login;
    ASSERT_TRUE(pumpRunLoopUntil([&] {
      auto screen = dyn<ui::NavigationController>(SX::currentHelper()->currentView());
      login = screen ? dyn<SXVkontakteOAuthView>(screen->topViewController()) : nullptr;
      return login && !login->vkWebView()->isLoading() && login->vkWebView()->pageTitle() == "Log In";
    }, 20.0)) << service.lastComplaint();
    auto webView = login->vkWebView();
    auto request = FacebookService::formSubmission(
        webView->pageHTML(), webView->request()->url(),
        {{"email", VkontakteService::kEmail}, {"pass", VkontakteService::kPassword}}, button);
    ASSERT_TRUE(request);
    webView->simulateFormSubmit(request);
  }
  static Ref<graphics::Image> photo() {
    auto context = graphics::BitmapContext::make(8, 8, graphics::BitmapColorSpace::RGB);
    context->setFillColor(0.2, 0.6, 0.4);
    context->fillRect(ui::Rect(0, 0, 8, 8));
    return context->makeImage();
  }
  // Answers the captcha alert on screen.
  void answerCaptcha(const std::string& answer, long button = 1) {
    auto alert = topAlert();
    ASSERT_TRUE(alert);
    auto field = dyn<ui::TextField>(alert->viewWithTag(kSXVkontakteCaptchaFieldTag));
    ASSERT_TRUE(field);
    field->setText(answer);
    alert->simulateTapButtonAtIndex(button);
  }
  int failures() const {
    return static_cast<int>(std::count_if(reports.begin(), reports.end(),
                                          [](const auto& r) { return r.starts_with(kSXSendDidFailWithError); }));
  }

  VkontakteService service;
  Ref<ui::ViewController> root;
  ShareReports recorder{true};
  std::vector<std::string>& reports = recorder.entries;
};

TEST_F(SXVkontakteTest, ATextIsPostedAfterALoginThatIsKeptInTheKeychainForADay) {
  LogCapture logs;
  auto sharer = SXSharer::shareText<SXVkontakte>("Calm");
  logIn();
  Ref<SXFormControllerLargeTextField> editor;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    editor = dyn<SXFormControllerLargeTextField>(sharer->topViewController());
    return editor && editor->isVisible() && !SX::currentHelper()->isDismissingView();
  }, 20.0)) << service.lastComplaint();
  editor->textView()->insertText(" & steady +1 #ok");
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();

  ASSERT_EQ(service.tokens().size(), 1u);
  const auto token = service.tokens()[0];
  EXPECT_EQ(SX::getAuthValueForKey(kSXVkontakteTokenAccount, kSharerId), token);
  EXPECT_EQ(SX::getAuthValueForKey(kSXVkontakteUserIdAccount, kSharerId), VkontakteService::kUserId);
  const double expiry = std::stod(SX::getAuthValueForKey(kSXVkontakteExpiryAccount, kSharerId).value_or("0"));
  EXPECT_NEAR(expiry - Date::now()->timeIntervalSince1970(), 86400, 60);
  auto defaults = UserDefaults::standardUserDefaults();
  EXPECT_FALSE(defaults->objectForKey(kSXVkontakteLegacyAccessTokenKey));
  EXPECT_FALSE(defaults->objectForKey(kSXVkontakteLegacyUserIdKey));

  ASSERT_EQ(service.wallPosts().size(), 1u);
  EXPECT_EQ(service.wallPosts()[0].at("message"), "Calm & steady +1 #ok");
  EXPECT_FALSE(service.wallPosts()[0].contains("attachment"));
  EXPECT_EQ(reports.front(), std::string(kSXAuthDidFinish) + " YES");
  EXPECT_EQ(failures(), 0);
  for (const auto& line : logs.lines()) EXPECT_EQ(line.find(token), std::string::npos) << line;
  EXPECT_TRUE(service.lastComplaint().empty()) << service.lastComplaint();
}

// The login page the hub lets go for another share's screen, shown or still waiting, ends its
// login and the share waiting for it once; the login's late answer is dropped. The editor of a
// logged-in share, taken away, cancels that share once.
TEST_F(SXVkontakteTest, ALoginPageOrEditorTakenAwayByAnotherScreenEndsItsShareOnce) {
  auto hub = SX::currentHelper();
  const std::vector<std::string> loginEnded = {std::string(kSXAuthDidFinish) + " NO", kSXSendDidCancel};
  auto takeOver = [&] {
    auto other = std::make_shared<ui::ViewController>();
    hub->showViewController(other, [] {});
    return other;
  };
  auto shows = [&](const Ref<ui::ViewController>& screen) {
    return pumpRunLoopUntil([&] { return screen->isVisible() && !hub->isDismissingView(); }, 20.0);
  };

  auto sharer = SXSharer::shareText<SXVkontakte>("Calm");
  Ref<SXVkontakteOAuthView> page;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    auto screen = dyn<ui::NavigationController>(hub->currentView());
    page = screen ? dyn<SXVkontakteOAuthView>(screen->topViewController()) : nullptr;
    return page && page->vkWebView()->pageTitle() == "Log In" && !hub->isDismissingView();
  }, 20.0)) << service.lastComplaint();
  auto attempt = SXLoginAttempt::current(kSharerId);
  ASSERT_TRUE(attempt);
  auto other = takeOver();
  ASSERT_TRUE(shows(other));
  EXPECT_EQ(reports, loginEnded);
  EXPECT_FALSE(attempt->isCurrent());
  EXPECT_FALSE(SXLoginAttempt::current(kSharerId));
  sharer->authComplete(service.issueToken(), VkontakteService::kUserId);
  pumpRunLoopFor(0.1);
  EXPECT_EQ(reports, loginEnded);
  EXPECT_FALSE(SX::getAuthValueForKey(kSXVkontakteTokenAccount, kSharerId));
  EXPECT_EQ(dyn<ui::NavigationController>(hub->currentView())->topViewController(), other);

  // A page waiting for the screen before it, dropped for a newer one.
  reports.clear();
  auto waiting = SXSharer::shareText<SXVkontakte>("Later");
  ASSERT_TRUE(dyn<SXVkontakteOAuthView>(hub->pendingView()));
  auto newer = takeOver();
  EXPECT_EQ(reports, loginEnded);
  EXPECT_FALSE(SXLoginAttempt::current(kSharerId));
  EXPECT_EQ(waiting->pendingAction(), SXPendingActionNone);
  ASSERT_TRUE(shows(newer));
  EXPECT_EQ(reports, loginEnded);

  reports.clear();
  storeLogin();
  auto editing = SXSharer::shareText<SXVkontakte>("Edited");
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    auto editor = dyn<SXFormControllerLargeTextField>(editing->topViewController());
    return editor && editor->isVisible() && !hub->isDismissingView();
  }, 20.0));
  ASSERT_TRUE(shows(takeOver()));
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidCancel});
  EXPECT_TRUE(service.wallPosts().empty());
  hub->hideCurrentViewControllerAnimated(false);
}

TEST_F(SXVkontakteTest, ALinkWithoutTextIsPostedEscapedAsMessageAndAttachment) {
  storeLogin();
  const std::string link = "https://example.org/r?a=1&b=%2F#top";
  auto sharer = SXSharer::shareURL<SXVkontakte>(URL::make(link));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  ASSERT_EQ(service.wallPosts().size(), 1u);
  EXPECT_EQ(service.wallPosts()[0].at("message"), link);
  EXPECT_EQ(service.wallPosts()[0].at("attachment"), link);

  reports.clear();
  auto withText = SXItem::makeURL(URL::make(link), "Read this");
  withText->text = "Worth it";
  SXSharer::shareItem<SXVkontakte>(withText);
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(service.wallPosts()[1].at("message"), "Worth it");
}

TEST_F(SXVkontakteTest, APhotoGoesThroughUploadAndSaveAndIsReportedOnceAfterACaptchaRound) {
  storeLogin();
  service.requireCaptcha(1);
  auto sharer = SXSharer::shareImage<SXVkontakte>(photo(), "Ring");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return sharer->isCaptcha(); }, 20.0));
  auto alert = topAlert();
  ASSERT_TRUE(alert);
  bool hasImage = false;
  for (const auto& view : alert->subviews()) {
    if (auto imageView = dyn<ui::ImageView>(view)) hasImage = imageView->image() != nullptr;
  }
  EXPECT_TRUE(hasImage) << "the captcha image was not loaded";
  EXPECT_EQ(failures(), 0) << "the share is reported only after the captcha is answered";

  answerCaptcha(VkontakteService::kCaptchaAnswer);
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  EXPECT_FALSE(sharer->isCaptcha());
  EXPECT_EQ(service.uploads(), 1);
  ASSERT_EQ(service.wallPosts().size(), 1u);
  EXPECT_EQ(service.wallPosts()[0].at("attachment"), "photo66_457239017");
  EXPECT_EQ(service.wallPosts()[0].at("message"), "Ring");
  EXPECT_EQ(failures(), 0);
  EXPECT_TRUE(service.lastComplaint().empty()) << service.lastComplaint();
}

TEST_F(SXVkontakteTest, ACancelledCaptchaOrEndlessCaptchasFailTheShareOnce) {
  storeLogin();
  service.requireCaptcha(1);
  auto sharer = SXSharer::shareURL<SXVkontakte>(URL::make("https://example.org/"));
  ASSERT_TRUE(sharer->isCaptcha());
  answerCaptcha("whatever", 0);
  EXPECT_EQ(failures(), 1);
  EXPECT_EQ(reports.back(), std::string(kSXSendDidFailWithError) + " Captcha needed");
  EXPECT_TRUE(service.wallPosts().empty());

  // The service keeps asking: the sharer gives up after a few rounds instead of looping.
  reports.clear();
  service.requireCaptcha(100);
  auto again = SXSharer::shareURL<SXVkontakte>(URL::make("https://example.org/"));
  int rounds = 0;
  while (again->isCaptcha() && rounds < 10) {
    answerCaptcha(VkontakteService::kCaptchaAnswer);
    ++rounds;
  }
  EXPECT_EQ(rounds, kSXVkontakteMostCaptchaRounds);
  EXPECT_EQ(failures(), 1);
  EXPECT_TRUE(service.wallPosts().empty());
}

TEST_F(SXVkontakteTest, EachPhotoStepIsCheckedBeforeTheNext) {
  storeLogin();
  struct Case {
    const char* path;
    const char* body;
    const char* stepNotReached;
  };
  const Case cases[] = {
      {"/method/photos.getWallUploadServer", "<html>busy</html>", "/upload.php"},
      {"/method/photos.getWallUploadServer", "{\"response\":{}}", "/upload.php"},
      {"/upload.php", "{\"server\":1,\"hash\":\"x\"}", "/method/photos.saveWallPhoto"},
      {"/upload.php", "{\"error\":\"ERR_UPLOAD_BAD_IMAGE_SIZE\"}", "/method/photos.saveWallPhoto"},
      {"/method/photos.saveWallPhoto", "{\"response\":[]}", "/method/wall.post"},
      {"/method/photos.saveWallPhoto", "{\"error\":{\"error_msg\":\"Access denied\"}}", "/method/wall.post"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.body);
    reports.clear();
    const auto before = service.requestsTo(c.stepNotReached).size();
    service.failNext(c.path, c.body);
    SXSharer::shareImage<SXVkontakte>(photo(), "Ring");
    ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
    EXPECT_EQ(failures(), 1);
    EXPECT_EQ(service.requestsTo(c.stepNotReached).size(), before);
  }
  EXPECT_TRUE(service.wallPosts().empty());
}

TEST_F(SXVkontakteTest, ARedirectToPlainHTTPFailsTheShareAndReachesNobody) {
  storeLogin();
  FaultServer plain;
  ASSERT_TRUE(plain.start());
  // The photo upload (a body) and a method call (the token in its address).
  service.redirectNext("/upload.php", plain.url("/collect"));
  SXSharer::shareImage<SXVkontakte>(photo(), "Ring");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return failures() == 1; }, 20.0));
  service.redirectNext("/method/wall.post", plain.url("/collect"));
  SXSharer::shareURL<SXVkontakte>(URL::make("https://example.org/calm"));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return failures() == 2; }, 20.0));
  pumpRunLoopFor(0.2);
  EXPECT_TRUE(plain.requests().empty());
  EXPECT_EQ(service.uploads(), 0);
  EXPECT_TRUE(service.wallPosts().empty());
}

TEST_F(SXVkontakteTest, AWallPostWithoutAReplyOrWithAnErrorFails) {
  storeLogin();
  service.failNext("/method/wall.post", "");
  SXSharer::shareURL<SXVkontakte>(URL::make("https://example.org/"));
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(std::count(reports.begin(), reports.end(), std::string(kSXSendDidFinish)), 0);

  reports.clear();
  service.failNext("/method/wall.post", "{\"error\":{\"error_code\":214,\"error_msg\":\"Access to adding post denied\"}}");
  SXSharer::shareURL<SXVkontakte>(URL::make("https://example.org/"));
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(reports.back(), std::string(kSXSendDidFailWithError) + " Access to adding post denied");
}

TEST_F(SXVkontakteTest, UnusableRedirectsAreFailedLoginsReportedOnce) {
  for (auto kind : {VkontakteService::RedirectKind::NoUserId, VkontakteService::RedirectKind::HugeFragment}) {
    SCOPED_TRACE(static_cast<int>(kind));
    LogCapture logs;
    reports.clear();
    service.setRedirectKind(kind);
    auto sharer = SXSharer::shareText<SXVkontakte>("Calm");
    logIn();
    ASSERT_TRUE(waitForReport(kSXAuthDidFinish));
    EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
    EXPECT_FALSE(SX::getAuthValueForKey(kSXVkontakteTokenAccount, kSharerId));
    EXPECT_FALSE(SX::getAuthValueForKey(kSXVkontakteUserIdAccount, kSharerId));
    auto alert = topAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Authorize Error");
    alert->simulateTapButtonAtIndex(0);
    EXPECT_FALSE(sharer->isAuthorized());
    for (const auto& line : logs.lines()) {
      for (const auto& token : service.tokens()) EXPECT_EQ(line.find(token), std::string::npos) << line;
    }
    ASSERT_TRUE(pumpRunLoopUntil([] { return !SX::currentHelper()->currentView(); }, 20.0));
  }
}

TEST_F(SXVkontakteTest, ALoginTheKeychainCannotKeepIsReportedOnceAndTheShareStops) {
  // A folder where the keychain file belongs: the keychain can keep nothing.
  std::filesystem::create_directories(Keychain::shared().filePath());
  auto sharer = SXSharer::shareText<SXVkontakte>("Calm");
  logIn();
  ASSERT_TRUE(waitForReport(kSXAuthDidFinish));
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
  auto alert = topAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title(), "Authorize Error");
  alert->simulateTapButtonAtIndex(0);
  // No second login page, no post, nothing more to report.
  EXPECT_TRUE(pumpRunLoopUntil([] { return !SX::currentHelper()->currentView(); }, 20.0));
  pumpRunLoopFor(0.5);
  EXPECT_FALSE(SX::currentHelper()->currentView());
  EXPECT_FALSE(topAlert());
  EXPECT_EQ(service.requestsTo("/oauth/authorize").size(), 1u);
  EXPECT_TRUE(service.wallPosts().empty());
  EXPECT_EQ(reports.size(), 1u);
  std::filesystem::remove(Keychain::shared().filePath());
}

TEST_F(SXVkontakteTest, OnlyTheRedirectAddressItselfEndsTheLogin) {
  // The login form sends the browser to a plain-http page elsewhere whose address carries a
  // token and a user id of someone else's choosing.
  FaultServer elsewhere;
  elsewhere.route("/blank.html", [](const RecordedRequest&, FaultServer::Connection& connection) {
    connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n");
  });
  ASSERT_TRUE(elsewhere.start());
  service.redirectNext("/oauth/grant", elsewhere.url("/blank.html") + "#access_token=planted&expires_in=86400&user_id=7");
  auto sharer = SXSharer::shareText<SXVkontakte>("Calm");
  logIn();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !elsewhere.requests().empty(); }, 20.0));
  pumpRunLoopFor(0.8);
  EXPECT_TRUE(reports.empty());
  EXPECT_FALSE(SX::getAuthValueForKey(kSXVkontakteTokenAccount, kSharerId));
  EXPECT_FALSE(SX::getAuthValueForKey(kSXVkontakteUserIdAccount, kSharerId));
  EXPECT_TRUE(service.wallPosts().empty());
  // The page is still the login's; logging out through the hub ends the login once.
  SX::logoutOfService("SXVkontakte");
  ASSERT_TRUE(pumpRunLoopUntil([] { return !SX::currentHelper()->currentView(); }, 20.0));
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
}

TEST_F(SXVkontakteTest, LogoutDeletesTheLoginPagesCookies) {
  auto sharer = SXSharer::shareText<SXVkontakte>("Calm");
  logIn();
  ASSERT_TRUE(waitForReport(std::string(kSXAuthDidFinish) + " YES"));
  // The session the login pages keep, for the service's hosts.
  auto store = net::CookieStore::sharedInstance();
  for (const char* domain : {"oauth.vk.com", "vk.com"}) {
    net::HTTPCookie::Fields fields;
    fields.name = "remixsid";
    fields.value = "session-of-ada";
    fields.domain = domain;
    fields.hostOnly = std::string(domain) == "oauth.vk.com";
    fields.secure = true;
    store->setCookie(net::HTTPCookie::make(std::move(fields)));
  }
  ASSERT_EQ(store->cookiesForURL(*URL::make(SXVkontakteOAuthView::loginURLString(VkontakteService::kAppId))).size(), 2u);
  SX::logoutOfService("SXVkontakte");
  EXPECT_TRUE(store->cookiesForURL(*URL::make(SXVkontakteOAuthView::loginURLString(VkontakteService::kAppId))).empty());
  EXPECT_FALSE(SXSharer::make<SXVkontakte>()->isAuthorized());
}

TEST_F(SXVkontakteTest, RefusingTheLoginClosesThePageWithoutAnAlert) {
  auto sharer = SXSharer::shareText<SXVkontakte>("Calm");
  logIn("deny");
  ASSERT_TRUE(waitForReport(kSXAuthDidFinish));
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
  EXPECT_FALSE(topAlert());
  EXPECT_TRUE(pumpRunLoopUntil([] { return !SX::currentHelper()->currentView(); }, 20.0));
}

TEST_F(SXVkontakteTest, AnOldPlainLoginIsMovedToTheKeychainOnceAndExpiresAfterItsDay) {
  auto defaults = UserDefaults::standardUserDefaults();
  defaults->setObject(box("legacy-token"), kSXVkontakteLegacyAccessTokenKey);
  defaults->setObject(box("66"), kSXVkontakteLegacyUserIdKey);
  defaults->setObject(Date::now()->dateByAddingTimeInterval(3600), kSXVkontakteLegacyExpiryDateKey);
  auto sharer = SXSharer::make<SXVkontakte>();
  EXPECT_TRUE(sharer->isAuthorized());
  EXPECT_EQ(sharer->accessToken(), "legacy-token");
  EXPECT_FALSE(defaults->objectForKey(kSXVkontakteLegacyAccessTokenKey));
  EXPECT_FALSE(defaults->objectForKey(kSXVkontakteLegacyUserIdKey));
  EXPECT_FALSE(defaults->objectForKey(kSXVkontakteLegacyExpiryDateKey));
  EXPECT_EQ(SX::getAuthValueForKey(kSXVkontakteTokenAccount, kSharerId), "legacy-token");

  storeLogin(-1);
  EXPECT_FALSE(SXSharer::make<SXVkontakte>()->isAuthorized());
  SXVkontakte::flushAccessToken();
  EXPECT_FALSE(SX::getAuthValueForKey(kSXVkontakteTokenAccount, kSharerId));
}

TEST(SXVkontakteOAuthViewText, TextBetweenMarkers) {
  EXPECT_EQ(SXVkontakteOAuthView::stringBetweenString("access_token=", "&", "a#access_token=T1&user_id=6"), "T1");
  EXPECT_EQ(SXVkontakteOAuthView::stringBetweenString("access_token=", "&", "#access_token=T2"), "T2");
  EXPECT_EQ(SXVkontakteOAuthView::stringBetweenString("access_token=", "&", "#access_token=&x"), std::nullopt);
  EXPECT_EQ(SXVkontakteOAuthView::stringBetweenString("access_token=", "&", "#user_id=6"), std::nullopt);
  EXPECT_EQ(SXVkontakte::URLEncodedString("a b&c=d/é!*'();:@+$,?%#[]"),
            "a%20b%26c%3Dd%2F%C3%A9%21%2A%27%28%29%3B%3A%40%2B%24%2C%3F%25%23%5B%5D");
}

}  // namespace
}  // namespace zv::testing
