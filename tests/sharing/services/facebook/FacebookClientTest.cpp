// The Facebook session: login by another application, the browser or the in-application page,
// the reply URL that comes back, logout, token extension and expired sessions.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/net/HTTPCookie.h"
#include "platform/ui/Application.h"
#include "sharing/services/facebook/FacebookTestSupport.h"

namespace zv::testing {
namespace {

class FacebookClientTest : public FacebookTest {
 protected:
  Ref<FacebookClient> makeClient(std::optional<std::string> suffix = std::nullopt) {
    return FacebookTest::makeClient(std::move(suffix), session);
  }
  static double secondsFromNow(const Ref<Date>& date) { return date->timeIntervalSinceNow(); }
  bool waitForSessionEvent() { return pumpRunLoopUntil([&] { return !session->events.empty(); }, 20.0); }

  std::shared_ptr<RecordingSessionDelegate> session = std::make_shared<RecordingSessionDelegate>();
  Ref<ui::Application> application = ui::Application::sharedApplication();
};

TEST_F(FacebookClientTest, LoginGoesThroughTheFacebookApplicationAndComesBackByURL) {
  auto client = makeClient();
  client->authorize({"publish_stream", "offline_access"});
  ASSERT_EQ(application->openedURLs().size(), 1u);
  EXPECT_EQ(application->openedURLs()[0]->absoluteString(),
            "fbauth://authorize?client_id=1234567890&type=user_agent&redirect_uri=fbconnect%3A%2F%2Fsuccess"
            "&display=touch&sdk=ios&scope=publish_stream%2Coffline_access");
  EXPECT_TRUE(client->isLoginInProgress());
  EXPECT_FALSE(client->loginDialog());

  auto token = service.issueToken();
  EXPECT_TRUE(client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=" + token + "&expires_in=3600")));
  EXPECT_EQ(session->events, (std::vector<std::string>{"login"}));
  EXPECT_EQ(client->accessToken(), token);
  EXPECT_NEAR(secondsFromNow(client->expirationDate()), 3600, 60);
  EXPECT_TRUE(client->isSessionValid());
  EXPECT_FALSE(client->isLoginInProgress());
  // The login reloads the frictionless list with the new token.
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !client->frictionlessRequestSettings()->activeRequest(); }, 20.0));
  EXPECT_EQ(service.requestsTo("/me/apprequestformerrecipients").size(), 1u);
}

TEST_F(FacebookClientTest, ASchemeSuffixChangesBothAddresses) {
  auto client = makeClient("lite");
  EXPECT_EQ(client->ownBaseURL(), "fb1234567890lite://authorize");
  client->authorize({});
  ASSERT_EQ(application->openedURLs().size(), 1u);
  const auto& opened = application->openedURLs()[0]->absoluteString();
  EXPECT_TRUE(opened.starts_with("fbauth2://authorize?")) << opened;
  EXPECT_NE(opened.find("local_client_id=lite"), std::string::npos);
  EXPECT_EQ(opened.find("scope="), std::string::npos);
  EXPECT_FALSE(client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=x")));
  EXPECT_TRUE(client->handleOpenURL(URL::make("fb1234567890lite://authorize#access_token=x")));
}

TEST_F(FacebookClientTest, WithoutTheApplicationTheBrowserLogsIn) {
  application->setOpenURLHandler([](const Ref<URL>& url) { return url->lowercaseScheme() == "https"; });
  auto client = makeClient();
  client->authorize({"publish_stream"});
  ASSERT_EQ(application->openedURLs().size(), 2u);
  const auto& browser = application->openedURLs()[1]->absoluteString();
  EXPECT_TRUE(browser.starts_with("https://m.facebook.com/dialog/oauth?")) << browser;
  EXPECT_NE(browser.find("redirect_uri=fb1234567890%3A%2F%2Fauthorize"), std::string::npos);
  EXPECT_TRUE(client->isLoginInProgress());
}

TEST_F(FacebookClientTest, WithNeitherTheLoginPageShowsInTheApplication) {
  application->setOpenURLAnswer(false);
  auto client = makeClient();
  client->authorize({"publish_stream"});
  EXPECT_FALSE(client->isLoginInProgress());
  auto dialog = client->loginDialog();
  ASSERT_TRUE(dialog);
  // The page ends at the address the dialog watches, not at the browser's.
  EXPECT_NE(dialog->loadingURL()->absoluteString().find("redirect_uri=fbconnect%3A%2F%2Fsuccess"), std::string::npos);
  ASSERT_TRUE(waitForPage(dialog, "Log In"));

  submit(dialog, {{"email", FacebookService::kEmail}, {"pass", "wrong"}}, "login");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !dialog->webView()->isLoading(); }, 20.0));
  EXPECT_TRUE(session->events.empty());  // the page says so and stays

  ASSERT_TRUE(waitForPage(dialog, "Log In"));
  submit(dialog, {{"email", FacebookService::kEmail}, {"pass", FacebookService::kPassword}}, "login");
  ASSERT_TRUE(waitForSessionEvent());
  EXPECT_EQ(session->events, (std::vector<std::string>{"login"}));
  ASSERT_EQ(service.issuedTokens().size(), 1u);
  EXPECT_EQ(client->accessToken(), service.issuedTokens()[0]);
  EXPECT_NEAR(secondsFromNow(client->expirationDate()), 5183999, 60);
  // The page's login cookies were kept, for http and https.
  auto cookies = net::CookieStore::sharedInstance();
  EXPECT_EQ(cookies->cookiesForURL(*URL::make("https://m.facebook.com/")).size(), 2u);
}

TEST_F(FacebookClientTest, APageLoginWithoutALifetimeGivesALongLivedToken) {
  service.setLoginExpiresIn(std::nullopt);
  application->setOpenURLAnswer(false);
  auto client = makeClient();
  client->authorize({});
  ASSERT_TRUE(waitForPage(client->loginDialog(), "Log In"));
  submit(client->loginDialog(), {{"email", FacebookService::kEmail}, {"pass", FacebookService::kPassword}}, "login");
  ASSERT_TRUE(waitForSessionEvent());
  ASSERT_TRUE(client->expirationDate());
  EXPECT_NEAR(secondsFromNow(client->expirationDate()), kFacebookDefaultTokenLifetime, 60);
  EXPECT_TRUE(client->isSessionValid());

  session->events.clear();
  service.setLoginExpiresIn(0);
  client->authorize({});
  ASSERT_TRUE(waitForPage(client->loginDialog(), "Log In"));
  submit(client->loginDialog(), {{"email", FacebookService::kEmail}, {"pass", FacebookService::kPassword}}, "login");
  ASSERT_TRUE(waitForSessionEvent());
  EXPECT_TRUE(client->expirationDate()->isEqual(*Date::distantFuture()));
}

TEST_F(FacebookClientTest, ThePagesCancelAndTheCloseButtonAreCancellations) {
  application->setOpenURLAnswer(false);
  auto client = makeClient();
  client->authorize({});
  ASSERT_TRUE(waitForPage(client->loginDialog(), "Log In"));
  submit(client->loginDialog(), {}, "cancel");
  ASSERT_TRUE(waitForSessionEvent());
  EXPECT_EQ(session->events, (std::vector<std::string>{"cancelled"}));
  EXPECT_FALSE(client->accessToken());

  session->events.clear();
  client->authorize({});
  ASSERT_TRUE(waitForPage(client->loginDialog(), "Log In"));
  client->loginDialog()->closeButton()->simulateTap();
  EXPECT_EQ(session->events, (std::vector<std::string>{"cancelled"}));
}

TEST_F(FacebookClientTest, ALoginPageThatCannotLoadIsAFailedLogin) {
  service.setStallDialogs(true);
  application->setOpenURLAnswer(false);
  auto client = makeClient();
  client->setDialogLoadTimeout(0.5);
  client->authorize({});
  ASSERT_TRUE(waitForSessionEvent());
  EXPECT_EQ(session->events, (std::vector<std::string>{"failed"}));
}

TEST_F(FacebookClientTest, ALoginPageEndingInAnErrorOrWithoutAUsableTokenIsAFailedLogin) {
  application->setOpenURLAnswer(false);
  for (const char* redirect : {"fbconnect://cancel?error_code=190&error_msg=Error%20validating",
                               "fbconnect://success#access_token=&expires_in=3600",
                               "fbconnect://success#access_token=abc&expires_in=-100"}) {
    SCOPED_TRACE(redirect);
    session->events.clear();
    auto client = makeClient();
    client->authorize({});
    auto dialog = client->loginDialog();
    ASSERT_TRUE(waitForPage(dialog, "Log In"));
    dialog->webView()->simulateLinkTap(URL::make(redirect));
    EXPECT_EQ(session->events, (std::vector<std::string>{"failed"}));
    EXPECT_TRUE(dialog->isDismissed());
    EXPECT_FALSE(client->isSessionValid());
    // The next login starts afresh.
    client->authorize({});
    ASSERT_TRUE(waitForPage(client->loginDialog(), "Log In"));
    EXPECT_NE(client->loginDialog(), dialog);
    client->loginDialog()->closeButton()->simulateTap();
    EXPECT_EQ(session->events, (std::vector<std::string>{"failed", "cancelled"}));
  }
}

TEST_F(FacebookClientTest, ReplyURLsAreReadCarefully) {
  struct Case {
    std::string reply;
    bool consumed;
    std::vector<std::string> events;
    std::optional<std::string> token;
  };
  const std::vector<Case> cases = {
      {"fb999://authorize#access_token=planted", false, {}, std::nullopt},
      {"fb1234567890://authorize#access_token=abc%3D%3D&expires_in=60", true, {"login"}, "abc=="},
      {"fb1234567890://authorize#access_token=abc=def", true, {"login"}, "abc=def"},
      {"fb1234567890://authorize?access_token=fromquery", true, {"login"}, "fromquery"},
      {"fb1234567890://authorize#error=access_denied", true, {"cancelled"}, std::nullopt},
      {"fb1234567890://authorize#error=access_denied&error_code=200", true, {"failed"}, std::nullopt},
      {"fb1234567890://authorize#error=other", true, {"failed"}, std::nullopt},
      {"fb1234567890://authorize", true, {"cancelled"}, std::nullopt},
      {"fb1234567890://authorize#junk&&=&x", true, {"cancelled"}, std::nullopt},
      {"fb1234567890://authorize#access_token=a&access_token=b", true, {"failed"}, std::nullopt},
      {"fb1234567890://authorize#access_token=%FF", true, {"failed"}, std::nullopt},
      // No token, or one over already, is no login.
      {"fb1234567890://authorize#access_token=&expires_in=3600", true, {"failed"}, std::nullopt},
      {"fb1234567890://authorize#access_token=abc&expires_in=-100", true, {"failed"}, std::nullopt},
  };
  for (const auto& c : cases) {
    session->events.clear();
    auto client = makeClient();
    client->setLoginInProgress(true);
    EXPECT_EQ(client->handleOpenURL(URL::make(c.reply)), c.consumed) << c.reply;
    EXPECT_EQ(session->events, c.events) << c.reply;
    EXPECT_EQ(client->accessToken(), c.token) << c.reply;
  }
  auto client = makeClient();
  client->setLoginInProgress(true);
  client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=x&expires_in=0"));
  EXPECT_TRUE(client->expirationDate()->isEqual(*Date::distantFuture()));
}

TEST_F(FacebookClientTest, APlantedReplyCannotSetAToken) {
  auto client = makeClient();
  EXPECT_FALSE(client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=planted&expires_in=0")));
  EXPECT_FALSE(client->accessToken());
  EXPECT_TRUE(session->events.empty());

  // Once a login was answered, a second reply is not taken either.
  client->authorize({});
  EXPECT_TRUE(client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=real")));
  EXPECT_FALSE(client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=planted")));
  EXPECT_EQ(client->accessToken(), "real");

  // A login nobody came back from is abandoned after a while: a reply much later is not taken.
  SettableWallClock clock;
  const double start = clock.now();
  client->authorize({});
  EXPECT_TRUE(client->isLoginInProgress());
  clock.set(start + FacebookClient::kLoginReplyLifetime - 1);
  EXPECT_TRUE(client->isLoginInProgress());
  clock.set(start + FacebookClient::kLoginReplyLifetime);
  EXPECT_FALSE(client->isLoginInProgress());
  EXPECT_FALSE(client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=planted")));
  EXPECT_EQ(client->accessToken(), "real");

  // Nor one that comes after a logout; the waiting login ends as cancelled.
  client->authorize({});
  session->events.clear();
  client->logout();
  EXPECT_EQ(session->events, (std::vector<std::string>{"cancelled", "logout"}));
  EXPECT_FALSE(client->handleOpenURL(URL::make("fb1234567890://authorize#access_token=planted")));
  EXPECT_FALSE(client->accessToken());
}

TEST_F(FacebookClientTest, DisabledServicesFallBackToTheBrowserOrThePage) {
  auto client = makeClient();
  client->authorize({});
  EXPECT_TRUE(client->handleOpenURL(URL::make("fb1234567890://authorize#error=service_disabled_use_browser")));
  ASSERT_EQ(application->openedURLs().size(), 2u);
  EXPECT_TRUE(application->openedURLs()[1]->absoluteString().starts_with("https://m.facebook.com/dialog/oauth?"));
  EXPECT_TRUE(client->isLoginInProgress());

  EXPECT_TRUE(client->handleOpenURL(URL::make("fb1234567890://authorize#error=service_disabled")));
  ASSERT_TRUE(client->loginDialog());
  EXPECT_TRUE(session->events.empty());
}

TEST_F(FacebookClientTest, LogoutForgetsTheTokenAndTheServicesCookies) {
  auto cookies = net::CookieStore::sharedInstance();
  auto plain = net::HTTPCookie::parseSetCookie("c_user=4; Path=/", *URL::make("https://m.facebook.com/"));
  auto secure = net::HTTPCookie::parseSetCookie("xs=secret; Path=/; Secure", *URL::make("https://m.facebook.com/"));
  ASSERT_TRUE(plain && secure);
  cookies->setCookie(plain);
  cookies->setCookie(secure);
  ASSERT_EQ(cookies->cookiesForURL(*URL::make("https://m.facebook.com/")).size(), 2u);

  auto client = makeClient();
  client->setAccessToken("t");
  client->setExpirationDate(Date::distantFuture());
  auto other = std::make_shared<RecordingSessionDelegate>();
  client->logout(other);
  EXPECT_FALSE(client->isSessionValid());
  EXPECT_TRUE(cookies->cookiesForURL(*URL::make("https://m.facebook.com/")).empty());
  EXPECT_EQ(session->events, (std::vector<std::string>{"logout"}));
  EXPECT_EQ(other->events, (std::vector<std::string>{"logout"}));
}

TEST_F(FacebookClientTest, ARestoredTokenIsExtendedOnceOnTheFirstRequest) {
  auto client = makeClient();
  const auto old = service.issueToken();
  client->setAccessToken(old);
  client->setExpirationDate(Date::now()->dateByAddingTimeInterval(600));
  EXPECT_TRUE(client->shouldExtendAccessToken());

  auto reader = std::make_shared<RecordingRequestDelegate>();
  client->requestWithGraphPath("me", reader);
  client->requestWithGraphPath("me", reader);
  EXPECT_TRUE(client->isExtendingAccessToken());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !session->events.empty() && reader->endings() == 2; }, 20.0));
  ASSERT_EQ(session->events.size(), 1u);
  const auto fresh = service.issuedTokens().back();
  EXPECT_EQ(session->events[0], "extended:" + fresh);
  EXPECT_EQ(client->accessToken(), fresh);
  EXPECT_NEAR(secondsFromNow(client->expirationDate()), 5184000, 60);
  EXPECT_EQ(service.requestsTo("/method/auth.extendSSOAccessToken").size(), 1u);
  EXPECT_FALSE(client->shouldExtendAccessToken());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return client->requestsInFlight() == 0; }, 20.0));
}

TEST_F(FacebookClientTest, AnExtensionReplyOfTheWrongShapeChangesNothing) {
  for (const char* body : {"{\"access_token\":5,\"expires_at\":1}", "{\"access_token\":\"new\",\"expires_at\":\"soon\"}",
                           "{\"access_token\":\"new\"}", "[\"new\"]"}) {
    auto client = makeClient();
    const auto token = service.issueToken();
    client->setAccessToken(token);
    client->setExpirationDate(Date::now()->dateByAddingTimeInterval(600));
    service.failNextGraphCall(200, "text/javascript", body, "/method/auth.extendSSOAccessToken");
    client->extendAccessToken();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return !client->isExtendingAccessToken(); }, 20.0)) << body;
    EXPECT_EQ(client->accessToken(), token) << body;
    EXPECT_TRUE(client->shouldExtendAccessToken()) << body;  // tried again next time
  }
  EXPECT_TRUE(session->events.empty());
}

TEST_F(FacebookClientTest, AnExpiredSessionIsDroppedWhenTheServiceSaysSo) {
  auto client = makeClient();
  const auto token = service.issueToken();
  service.expireToken(token);
  client->setAccessToken(token);
  client->setExpirationDate(Date::now()->dateByAddingTimeInterval(600));
  auto reader = std::make_shared<RecordingRequestDelegate>();
  client->requestWithParams(MutableDictionary::make({{"method", box("users.getInfo")}}), reader);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return reader->ended() && client->requestsInFlight() == 0; }, 20.0));
  EXPECT_EQ(reader->error->code(), 190);
  EXPECT_NE(std::find(session->events.begin(), session->events.end(), "invalidated"), session->events.end());
  EXPECT_FALSE(client->accessToken());
  EXPECT_FALSE(client->isExtendingAccessToken());

  LogCapture logs;
  EXPECT_EQ(client->requestWithParams(MutableDictionary::make(), reader), nullptr);
  EXPECT_TRUE(logs.contains("API Method must be specified"));
}

TEST_F(FacebookClientTest, ALateVerdictOnAReplacedTokenLeavesTheNewOneAlone) {
  auto client = makeClient();
  const auto old = service.issueToken();
  service.expireToken(old);
  client->setAccessToken(old);
  client->setExpirationDate(Date::now()->dateByAddingTimeInterval(600));
  auto reader = std::make_shared<RecordingRequestDelegate>();
  client->requestWithGraphPath("me/friends", reader);
  // A new login lands before the answers about the old token come back.
  client->facebookDialogLoginExpirationDate("fresh", Date::now()->dateByAddingTimeInterval(600));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return reader->ended() && client->requestsInFlight() == 0; }, 20.0));
  EXPECT_EQ(client->accessToken(), "fresh");
  EXPECT_EQ(std::find(session->events.begin(), session->events.end(), "invalidated"), session->events.end());
}

TEST_F(FacebookClientTest, ASessionEndsAtItsExpiry) {
  SettableWallClock clock;
  const double start = clock.now();
  auto client = makeClient();
  client->setAccessToken("t");
  EXPECT_FALSE(client->isSessionValid());
  client->setExpirationDate(Date::make(start + 5));
  EXPECT_TRUE(client->isSessionValid());
  clock.set(start + 4.999);
  EXPECT_TRUE(client->isSessionValid());
  clock.set(start + 5);  // exactly at the expiry
  EXPECT_FALSE(client->isSessionValid());
  clock.set(start + 6);
  EXPECT_FALSE(client->isSessionValid());
}

}  // namespace
}  // namespace zv::testing
