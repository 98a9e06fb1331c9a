#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/CookieStore.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/Keychain.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXLoginAttempt.h"
#include "sharing/core/SXOAuthSharer.h"
#include "support/net/FaultServer.h"
#include "support/net/RedirectingService.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

std::string reply(int status, const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         extra + "Connection: close\r\n\r\n" + body;
}

// The service's addresses, set by the test before a sharer is made.
std::string& serviceBase() {
  static std::string base;
  return base;
}

class OAuthTestSharer : public SXOAuthSharer {
 public:
  void init() override {
    SXOAuthSharer::init();
    setConsumerKey("ck");
    setSecretKey("cs");
    setRequestURL(URL::make(serviceBase() + "/request_token"));
    setAuthorizeURL(URL::make(serviceBase() + "/authorize"));
    setAccessURL(URL::make(serviceBase() + "/access_token"));
    setAuthorizeCallbackURL(URL::make(serviceBase() + "/callback"));
    setSignatureProvider(OCHMAC_SHA1SignatureProvider::make());
  }
  std::string sharerTitle() const override { return "OAuth Test"; }
  bool canShareText() const override { return true; }
  void tokenAccessModifyRequest(OCMutableURLRequest& request) override {
    if (!xAuth()) addAuthorizeVerifier(request);
    SXOAuthSharer::tokenAccessModifyRequest(request);
  }
  bool send() override {
    ++sends;
    sendDidStart();
    sendDidFinish();
    return true;
  }
  int sends = 0;
};

class AuthRecorder : public Object, public SXSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>&) override {}
  void sharerFinishedSending(const Ref<SXSharer>&) override { ++finished; }
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>&, const Ref<Error>&, bool) override { ++failed; }
  void sharerCancelledSending(const Ref<SXSharer>&) override { ++cancelled; }
  void sharerShowBadCredentialsAlert(const Ref<SXSharer>&) override {}
  void sharerShowOtherAuthorizationErrorAlert(const Ref<SXSharer>&) override {}
  void sharerAuthDidFinishSuccess(const Ref<SXSharer>&, bool success) override { auth.push_back(success); }
  bool respondsToSelector(std::string_view) const override { return true; }
  int finished = 0;
  int failed = 0;
  int cancelled = 0;
  std::vector<bool> auth;
};

class SXOAuthSharerTest : public testing::SharingTest {
 protected:
  SXOAuthSharerTest() : SharingTest(false) {}

  void SetUp() override {
    SharingTest::SetUp();
    SXSharer::registerSharerClass<OAuthTestSharer>();
    server_.route("/request_token", [this](const testing::RecordedRequest& r, testing::FaultServer::Connection& c) {
      EXPECT_EQ(r.method, "POST");
      EXPECT_NE(r.header("Authorization").value_or("").find("oauth_consumer_key=\"ck\""), std::string::npos);
      c.send(reply(200, requestTokenReply()));
    });
    server_.route("/authorize", [this](const testing::RecordedRequest& r, testing::FaultServer::Connection& c) {
      EXPECT_NE(r.target.find("oauth_token=rt"), std::string::npos);
      c.send(reply(302, "", "Location: " + serviceBase() + "/callback?oauth_token=rt&oauth_verifier=" + verifier() +
                                "\r\n"));
    });
    server_.route("/access_token", [](const testing::RecordedRequest& r, testing::FaultServer::Connection& c) {
      auto authorization = r.header("Authorization").value_or("");
      if (authorization.find("oauth_token=\"old\"") != std::string::npos) {
        // A refresh, signed with the access token itself: a new token with a session handle.
        c.send(reply(200, "oauth_token=at2&oauth_token_secret=as2&oauth_session_handle=h2"));
        return;
      }
      EXPECT_NE(authorization.find("oauth_token=\"rt\""), std::string::npos) << authorization;
      EXPECT_NE(authorization.find("oauth_verifier=\"v%201\""), std::string::npos) << authorization;
      c.send(reply(200, "oauth_token=at&oauth_token_secret=as"));
    });
    ASSERT_TRUE(server_.start());
    serviceBase() = "http://127.0.0.1:" + std::to_string(server_.port());
    root_ = std::make_shared<ui::ViewController>();
    showRoot(root_);
    SX::setRootViewController(root_);
  }

  std::string requestTokenReply() {
    std::lock_guard lock(mutex_);
    return requestTokenReply_;
  }
  std::string verifier() {
    std::lock_guard lock(mutex_);
    return verifier_;
  }
  void setRequestTokenReply(std::string body) {
    std::lock_guard lock(mutex_);
    requestTokenReply_ = std::move(body);
  }
  void setVerifier(std::string verifier) {
    std::lock_guard lock(mutex_);
    verifier_ = std::move(verifier);
  }
  // The authorization page shows and waits for the user.
  void holdTheAuthorizationPage() {
    server_.route("/authorize", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
      c.send(reply(200, "<html><title>Sign in</title></html>", "Content-Type: text/html\r\n"));
    });
  }
  static Ref<OAuthTestSharer> recordedSharer(const std::shared_ptr<AuthRecorder>& recorder) {
    auto sharer = SXSharer::make<OAuthTestSharer>();
    sharer->setShareDelegate(recorder);
    sharer->setItem(SXItem::makeText("hello"));
    return sharer;
  }
  int requestsTo(const std::string& path) {
    int n = 0;
    for (const auto& r : server_.requests()) n += r.path() == path;
    return n;
  }

  testing::FaultServer server_;
  Ref<ui::ViewController> root_;
  std::mutex mutex_;
  std::string requestTokenReply_ = "oauth_token=rt&oauth_token_secret=rs&oauth_callback_confirmed=true";
  std::string verifier_ = "v%201";
};

TEST_F(SXOAuthSharerTest, LogsInThroughTheWebPageStoresTheTokenAndSends) {
  // A handle left from an earlier login must not survive a token that comes without one.
  ASSERT_TRUE(SX::setAuthValue("stale-handle", "sessionHandle", "OAuthTestSharer"));
  auto sharer = SXSharer::make<OAuthTestSharer>();
  auto recorder = std::make_shared<AuthRecorder>();
  sharer->setShareDelegate(recorder);
  sharer->setItem(SXItem::makeText("hello"));
  sharer->share();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !recorder->auth.empty(); }, 30.0));
  EXPECT_EQ(recorder->auth, std::vector<bool>{true});
  EXPECT_EQ(sharer->sends, 1);
  EXPECT_EQ(recorder->finished, 1);
  EXPECT_EQ(requestsTo("/callback"), 0);
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "OAuthTestSharer"), "at");
  EXPECT_EQ(SX::getAuthValueForKey("accessSecret", "OAuthTestSharer"), "as");
  EXPECT_EQ(SX::getAuthValueForKey("sessionHandle", "OAuthTestSharer"), std::nullopt);
  ASSERT_TRUE(sharer->authorizeResponseQueryVars());
  EXPECT_EQ(sharer->authorizeResponseQueryVars()->stringForKey("oauth_verifier"), "v 1");

  // A new sharer of the class restores the token without a handle.
  auto later = SXSharer::make<OAuthTestSharer>();
  ASSERT_TRUE(later->isAuthorized());
  EXPECT_EQ(later->accessToken()->key(), "at");
  EXPECT_FALSE(later->accessToken()->sessionHandle());
}

TEST_F(SXOAuthSharerTest, XAuthSignsTheLoginFormIntoTheAccessTokenRequest) {
  server_.route("/access_token", [](const testing::RecordedRequest& r, testing::FaultServer::Connection& c) {
    const bool right = r.body.find("x_auth_username=ada") != std::string::npos &&
                       r.body.find("x_auth_password=pw%201") != std::string::npos &&
                       r.body.find("x_auth_mode=client_auth") != std::string::npos &&
                       r.header("Authorization").value_or("").find("oauth_token=") == std::string::npos;
    if (r.body.find("x_auth_password=page") != std::string::npos) {
      // A whole error page of the service's: about 240 KB in many lines.
      std::string page = "Wrong password for ada\r\n\r\nTry again later.\n";
      while (page.size() < 240 * 1024) page += "<p>" + std::string(44, 'x') + "</p>\n";
      c.send(reply(401, page));
      return;
    }
    c.send(right ? reply(200, "oauth_token=xt&oauth_token_secret=xs") : reply(401, "Wrong password for ada"));
  });
  auto sharer = SXSharer::make<OAuthTestSharer>();
  sharer->setXAuth(true);
  auto recorder = std::make_shared<AuthRecorder>();
  sharer->setShareDelegate(recorder);
  SXSharer::shareItem(sharer, SXItem::makeText("hello"));
  auto login = testing::waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  testing::typeInto(login, 0, "ada");
  // A refusal with a whole page for a reply: an alert shows no more than its first lines.
  testing::typeInto(login, 1, "page");
  ASSERT_TRUE(testing::pressRight(login));
  ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() != nullptr; }, 30.0));
  const auto brief = topAlert()->message().value_or("");
  EXPECT_EQ(brief, "Wrong password for ada\nTry again later.\n<p>" + std::string(44, 'x') + "</p>...");
  topAlert()->simulateTapButtonAtIndex(0);
  testing::replaceIn(login, 1, "wrong");
  ASSERT_TRUE(testing::pressRight(login));
  // A refusal shows the service's own words and keeps the form for another try.
  ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() != nullptr; }, 30.0));
  EXPECT_EQ(topAlert()->message(), "Wrong password for ada");
  topAlert()->simulateTapButtonAtIndex(0);
  EXPECT_EQ(sharer->pendingForm(), login);
  testing::replaceIn(login, 1, "pw 1");
  ASSERT_TRUE(testing::pressRight(login));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !recorder->auth.empty(); }, 30.0));
  EXPECT_EQ(recorder->auth, std::vector<bool>{true});
  EXPECT_FALSE(sharer->pendingForm());
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "OAuthTestSharer"), "xt");
  EXPECT_EQ(requestsTo("/request_token"), 0);  // no web page in an xAuth login
}

TEST_F(SXOAuthSharerTest, AnXAuthLoginRedirectedElsewhereSendsThePasswordNowhereAndTakesNoToken) {
  testing::RedirectingService moved({"oauth.service.example"});
  ASSERT_TRUE(moved.start());
  moved.setCaughtReply("text/plain", "oauth_token=forged&oauth_token_secret=forged");
  serviceBase() = "https://oauth.service.example";
  auto sharer = SXSharer::make<OAuthTestSharer>();
  sharer->setXAuth(true);
  auto recorder = std::make_shared<AuthRecorder>();
  sharer->setShareDelegate(recorder);
  SXSharer::shareItem(sharer, SXItem::makeText("hello"));
  auto login = testing::waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  testing::typeInto(login, 0, "ada");
  testing::typeInto(login, 1, "pw 1");
  for (int status : {307, 308}) {
    for (auto target : {testing::RedirectingService::Target::AnotherHost, testing::RedirectingService::Target::PlainHTTP}) {
      SCOPED_TRACE(status);
      moved.redirectWith(status, target);
      ASSERT_TRUE(testing::pressRight(login));
      ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() != nullptr; }, 30.0));
      topAlert()->simulateTapButtonAtIndex(0);
      ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() == nullptr; }, 5.0));
      EXPECT_EQ(sharer->pendingForm(), login);
    }
  }
  ASSERT_EQ(moved.received().size(), 4u);
  EXPECT_NE(moved.received()[0].body.find("x_auth_password=pw%201"), std::string::npos);
  EXPECT_TRUE(moved.caught().empty());
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "OAuthTestSharer"), std::nullopt);
  EXPECT_TRUE(std::find(recorder->auth.begin(), recorder->auth.end(), true) == recorder->auth.end());
}

TEST_F(SXOAuthSharerTest, AReplyWithoutARequestTokenOpensNoAuthorizationPage) {
  setRequestTokenReply("oauth_callback_confirmed=true");
  auto sharer = SXSharer::make<OAuthTestSharer>();
  sharer->setItem(SXItem::makeText("hello"));
  sharer->share();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return topAlert() != nullptr; }, 30.0));
  EXPECT_EQ(topAlert()->title(), "Request Error");
  EXPECT_EQ(requestsTo("/authorize"), 0);
  EXPECT_FALSE(SX::currentHelper()->currentView());

  // Asked directly, authorization without a request token refuses rather than ask for "(null)".
  auto recorder = std::make_shared<AuthRecorder>();
  auto direct = SXSharer::make<OAuthTestSharer>();
  direct->setShareDelegate(recorder);
  direct->tokenAuthorize();
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  EXPECT_FALSE(SX::currentHelper()->currentView());
}

TEST_F(SXOAuthSharerTest, AProblemReportedByThePageIsAFailure) {
  setVerifier("v&oauth_problem=user_refused");
  auto sharer = SXSharer::make<OAuthTestSharer>();
  auto recorder = std::make_shared<AuthRecorder>();
  sharer->setShareDelegate(recorder);
  sharer->setItem(SXItem::makeText("hello"));
  sharer->share();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !recorder->auth.empty(); }, 30.0));
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Authorize Error");
  EXPECT_EQ(requestsTo("/access_token"), 0);
  EXPECT_EQ(sharer->sends, 0);
}

TEST_F(SXOAuthSharerTest, CancellingTheWebPageReportsNoSuccessAndNoAlert) {
  holdTheAuthorizationPage();
  auto recorder = std::make_shared<AuthRecorder>();
  auto sharer = recordedSharer(recorder);
  sharer->share();
  Ref<SXOAuthView> view;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    auto shown = SX::currentHelper()->currentView();
    auto navigation = dyn<ui::NavigationController>(shown);
    view = navigation ? dyn<SXOAuthView>(navigation->topViewController()) : dyn<SXOAuthView>(shown);
    return view && view->webView()->pageTitle() == "Sign in";
  }, 30.0));
  view->cancel();
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  EXPECT_FALSE(topAlert());
  EXPECT_EQ(sharer->sends, 0);
}

// The page the hub lets go for another share's screen ends its login and the share waiting for
// it, once; the login's late approval finds no login.
TEST_F(SXOAuthSharerTest, APageTakenAwayByAnotherScreenEndsItsLoginAndShareOnce) {
  holdTheAuthorizationPage();
  auto recorder = std::make_shared<AuthRecorder>();
  auto sharer = recordedSharer(recorder);
  sharer->share();
  auto hub = SX::currentHelper();
  Ref<SXOAuthView> view;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    auto navigation = dyn<ui::NavigationController>(hub->currentView());
    view = navigation ? dyn<SXOAuthView>(navigation->topViewController()) : nullptr;
    return view && view->webView()->pageTitle() == "Sign in" && !hub->isDismissingView();
  }, 30.0));
  auto attempt = SXLoginAttempt::current("OAuthTestSharer");
  ASSERT_TRUE(attempt);

  auto other = std::make_shared<ui::ViewController>();
  hub->showViewController(other, [] {});
  ASSERT_TRUE(pumpRunLoopUntil([&] { return other->isVisible() && !hub->isDismissingView(); }, 30.0));
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  EXPECT_EQ(recorder->cancelled, 1);
  EXPECT_FALSE(attempt->isCurrent());
  EXPECT_FALSE(SXLoginAttempt::current("OAuthTestSharer"));
  EXPECT_FALSE(view->delegate());

  auto approved = Dictionary::make({{"oauth_token", box("rt")}, {"oauth_verifier", box("v 1")}});
  sharer->tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(*view, true, approved, nullptr);
  pumpRunLoopUntil([&] { return requestsTo("/access_token") > 0; }, 0.5);
  EXPECT_EQ(requestsTo("/access_token"), 0);
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  EXPECT_EQ(recorder->cancelled, 1);
  EXPECT_EQ(sharer->sends, 0);
  EXPECT_EQ(dyn<ui::NavigationController>(hub->currentView())->topViewController(), other);
  hub->hideCurrentViewControllerAnimated(false);
}

// A share refused while its form was up (an option list the service refused) failed and asked for
// a new login; the login page taken away then ends the login, and the share stays failed.
TEST_F(SXOAuthSharerTest, APageTakenAwayAfterARefusedShareAskedForItAddsNoCancel) {
  holdTheAuthorizationPage();
  auto recorder = std::make_shared<AuthRecorder>();
  auto sharer = recordedSharer(recorder);
  ASSERT_FALSE(sharer->isAuthorized());  // the share's check when it began; its token was refused
  sharer->shouldReloginWithPendingAction(SXPendingActionShare);
  sharer->promptAuthorization();  // as the default delegate does for a failure asking for a login
  auto hub = SX::currentHelper();
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    auto navigation = dyn<ui::NavigationController>(hub->currentView());
    auto view = navigation ? dyn<SXOAuthView>(navigation->topViewController()) : nullptr;
    return view && view->webView()->pageTitle() == "Sign in" && !hub->isDismissingView();
  }, 30.0));

  auto other = std::make_shared<ui::ViewController>();
  hub->showViewController(other, [] {});
  ASSERT_TRUE(pumpRunLoopUntil([&] { return other->isVisible() && !hub->isDismissingView(); }, 30.0));
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  EXPECT_EQ(recorder->failed, 1);
  EXPECT_EQ(recorder->cancelled, 0);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_FALSE(SXLoginAttempt::current("OAuthTestSharer"));
  hub->hideCurrentViewControllerAnimated(false);
}

TEST_F(SXOAuthSharerTest, AFailedTokenFetchOrAPageWithNowhereToShowEndsTheLoginOnce) {
  // The service refuses the request token: one failed login, and the next one may start.
  server_.route("/request_token", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
    c.send(reply(500, "down"));
  });
  auto recorder = std::make_shared<AuthRecorder>();
  auto sharer = SXSharer::make<OAuthTestSharer>();
  sharer->setShareDelegate(recorder);
  sharer->setItem(SXItem::makeText("hello"));
  sharer->share();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !recorder->auth.empty(); }, 30.0));
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  if (auto alert = topAlert()) alert->simulateTapButtonAtIndex(0);
  sharer->promptAuthorization();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return recorder->auth.size() == 2; }, 30.0));
  EXPECT_EQ(requestsTo("/request_token"), 2);
  if (auto alert = topAlert()) alert->simulateTapButtonAtIndex(0);

  // No screen to show the authorization page on: the login fails at once instead of hanging.
  server_.route("/request_token", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
    c.send(reply(200, "oauth_token=rt&oauth_token_secret=rs&oauth_callback_confirmed=true"));
  });
  auto window = root_->view()->window();
  ui::Application::sharedApplication()->setKeyWindow(nullptr);
  SX::setRootViewController(nullptr);
  recorder->auth.clear();
  sharer->promptAuthorization();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !recorder->auth.empty(); }, 30.0));
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  EXPECT_EQ(requestsTo("/authorize"), 0);
  window->makeKeyAndVisible();
  SX::setRootViewController(root_);
  if (auto alert = topAlert()) alert->simulateTapButtonAtIndex(0);
}

TEST_F(SXOAuthSharerTest, APageReplyCountsOnlyOnceAndNotAfterCancelOrLogout) {
  holdTheAuthorizationPage();
  auto recorder = std::make_shared<AuthRecorder>();
  auto sharer = recordedSharer(recorder);
  auto waitForPage = [&] {
    Ref<SXOAuthView> view;
    pumpRunLoopUntil([&] {
      auto navigation = dyn<ui::NavigationController>(SX::currentHelper()->currentView());
      view = navigation ? dyn<SXOAuthView>(navigation->topViewController()) : nullptr;
      return view && view->webView()->pageTitle() == "Sign in" && !SX::currentHelper()->isDismissingView();
    }, 30.0);
    return view;
  };
  auto approved = Dictionary::make({{"oauth_token", box("rt")}, {"oauth_verifier", box("v 1")}});

  // Approved twice (a page reporting again): one access-token request, one login.
  sharer->share();
  auto view = waitForPage();
  ASSERT_TRUE(view);
  // Another login asked for meanwhile starts nothing new.
  sharer->promptAuthorization();
  sharer->tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(*view, true, approved, nullptr);
  sharer->tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(*view, true, approved, nullptr);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !recorder->auth.empty(); }, 30.0));
  pumpRunLoopUntil([&] { return requestsTo("/access_token") > 1; }, 0.5);
  EXPECT_EQ(recorder->auth, std::vector<bool>{true});
  EXPECT_EQ(requestsTo("/request_token"), 1);
  EXPECT_EQ(requestsTo("/access_token"), 1);
  EXPECT_EQ(sharer->sends, 1);

  // A reply after the page was cancelled, or after a logout, is dropped.
  for (bool byLogout : {false, true}) {
    SCOPED_TRACE(byLogout ? "logout" : "cancel");
    pumpRunLoopUntil([] { return !SX::currentHelper()->currentView() && !SX::currentHelper()->isDismissingView(); },
                     30.0);
    sharer->logout();
    recorder->auth.clear();
    sharer->promptAuthorization();
    view = waitForPage();
    ASSERT_TRUE(view);
    if (byLogout) {
      sharer->logout();
      SX::currentHelper()->hideCurrentViewControllerAnimated(false);
    } else {
      view->cancel();
    }
    sharer->tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(*view, true, approved, nullptr);
    pumpRunLoopUntil([&] { return requestsTo("/access_token") > 1; }, 0.5);
    EXPECT_EQ(requestsTo("/access_token"), 1);
    EXPECT_FALSE(sharer->isAuthorized());
    EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  }
}

TEST_F(SXOAuthSharerTest, RestoringNeedsKeyAndSecretAndLogoutForgetsTheToken) {
  auto sharer = SXSharer::make<OAuthTestSharer>();
  ASSERT_TRUE(SX::setAuthValue("k", "accessKey", "OAuthTestSharer"));
  EXPECT_FALSE(sharer->isAuthorized());
  ASSERT_TRUE(SX::removeAuthValueForKey("accessKey", "OAuthTestSharer"));
  ASSERT_TRUE(SX::setAuthValue("s", "accessSecret", "OAuthTestSharer"));
  EXPECT_FALSE(sharer->isAuthorized());
  ASSERT_TRUE(SX::setAuthValue("k", "accessKey", "OAuthTestSharer"));
  ASSERT_TRUE(SX::setAuthValue("h", "sessionHandle", "OAuthTestSharer"));
  ASSERT_TRUE(sharer->isAuthorized());
  EXPECT_EQ(sharer->accessToken()->sessionHandle(), "h");
  EXPECT_EQ(sharer->consumer()->key(), "ck");

  // The login page's cookies go with the token (the next login asks afresh); other sites' stay.
  auto cookies = net::CookieStore::sharedInstance();
  cookies->removeAllCookies();
  cookies->setCookies({net::HTTPCookie::parseSetCookie("session=1; Path=/", *URL::make(serviceBase() + "/authorize"))},
                      *URL::make(serviceBase() + "/authorize"));
  cookies->setCookies({net::HTTPCookie::parseSetCookie("kept=1; Path=/", *URL::make("https://elsewhere.example/"))},
                      *URL::make("https://elsewhere.example/"));
  ASSERT_EQ(cookies->count(), 2u);

  SX::logoutOfService("OAuthTestSharer");
  for (const char* key : {"accessKey", "accessSecret", "sessionHandle"}) {
    EXPECT_EQ(SX::getAuthValueForKey(key, "OAuthTestSharer"), std::nullopt) << key;
  }
  EXPECT_FALSE(SXSharer::make<OAuthTestSharer>()->isAuthorized());
  EXPECT_TRUE(cookies->cookiesForURL(*URL::make(serviceBase() + "/authorize")).empty());
  ASSERT_EQ(cookies->count(), 1u);
  EXPECT_EQ(cookies->cookies().front()->name(), "kept");
  cookies->removeAllCookies();
}

TEST_F(SXOAuthSharerTest, ARefreshSignsWithTheAccessTokenStoresTheNewOneAndSends) {
  ASSERT_TRUE(SX::setAuthValue("old", "accessKey", "OAuthTestSharer"));
  ASSERT_TRUE(SX::setAuthValue("olds", "accessSecret", "OAuthTestSharer"));
  auto sharer = SXSharer::make<OAuthTestSharer>();
  auto recorder = std::make_shared<AuthRecorder>();
  sharer->setShareDelegate(recorder);
  sharer->setItem(SXItem::makeText("after refresh"));
  ASSERT_TRUE(sharer->isAuthorized());
  sharer->refreshToken();
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionRefreshToken);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return sharer->sends == 1; }, 30.0));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_EQ(recorder->auth, std::vector<bool>{true});
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "OAuthTestSharer"), "at2");
  EXPECT_EQ(SX::getAuthValueForKey("accessSecret", "OAuthTestSharer"), "as2");
  EXPECT_EQ(SX::getAuthValueForKey("sessionHandle", "OAuthTestSharer"), "h2");
  EXPECT_EQ(requestsTo("/request_token"), 0);
}

TEST_F(SXOAuthSharerTest, RefreshesOfSharesSendingAtOnceEachGoOnAndALogoutEndsEachOnce) {
  auto refreshBoth = [&](const std::shared_ptr<AuthRecorder>& recorder) {
    EXPECT_TRUE(SX::setAuthValue("old", "accessKey", "OAuthTestSharer"));
    EXPECT_TRUE(SX::setAuthValue("olds", "accessSecret", "OAuthTestSharer"));
    std::vector<Ref<OAuthTestSharer>> sharers{recordedSharer(recorder), recordedSharer(recorder)};
    for (const auto& sharer : sharers) EXPECT_TRUE(sharer->isAuthorized());
    for (const auto& sharer : sharers) sharer->refreshToken();
    return sharers;
  };
  auto recorder = std::make_shared<AuthRecorder>();
  auto sharers = refreshBoth(recorder);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return recorder->finished + recorder->failed == 2; }, 30.0));
  EXPECT_EQ(recorder->failed, 0);
  for (const auto& sharer : sharers) EXPECT_EQ(sharer->sends, 1);

  auto logoutRecorder = std::make_shared<AuthRecorder>();
  sharers = refreshBoth(logoutRecorder);
  SX::logoutOfService("OAuthTestSharer");
  EXPECT_EQ(logoutRecorder->failed, 2);
  pumpRunLoopUntil([&] { return requestsTo("/access_token") == 4; }, 30.0);
  pumpRunLoopFor(0.3);
  EXPECT_EQ(logoutRecorder->failed, 2);
  EXPECT_EQ(logoutRecorder->finished, 0);
  for (const auto& sharer : sharers) EXPECT_EQ(sharer->sends, 0);
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "OAuthTestSharer"), std::nullopt);
}

TEST_F(SXOAuthSharerTest, ARefreshWhoseTokenCannotBeStoredEndsTheSendOnce) {
  ASSERT_TRUE(SX::setAuthValue("old", "accessKey", "OAuthTestSharer"));
  ASSERT_TRUE(SX::setAuthValue("olds", "accessSecret", "OAuthTestSharer"));
  auto sharer = SXSharer::make<OAuthTestSharer>();
  auto recorder = std::make_shared<AuthRecorder>();
  sharer->setShareDelegate(recorder);
  sharer->setItem(SXItem::makeText("after refresh"));
  ASSERT_TRUE(sharer->isAuthorized());
  // From now on the keychain can be written no more (a folder where its file belongs).
  const auto keychain = Keychain::shared().filePath();
  std::filesystem::remove(keychain);
  std::filesystem::create_directories(keychain);
  sharer->refreshToken();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return recorder->failed > 0; }, 30.0));
  pumpRunLoopFor(0.3);
  std::filesystem::remove(keychain);
  EXPECT_EQ(recorder->failed, 1);
  EXPECT_EQ(sharer->sends, 0);
  EXPECT_EQ(recorder->auth, std::vector<bool>{false});
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_FALSE(sharer->accessToken());
}

}  // namespace
}  // namespace zv
