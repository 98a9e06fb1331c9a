#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXOAuthView.h"
#include "support/net/ChildProcess.h"
#include "support/net/FaultServer.h"
#include "support/net/LoopbackPorts.h"
#include "support/net/TestCertificates.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

struct Report {
  bool success = false;
  Ref<Dictionary> params;
  Ref<Error> error;
};

class RecordingOAuthDelegate : public Object, public SXOAuthViewDelegate {
 public:
  explicit RecordingOAuthDelegate(std::string callback) : callback_(URL::make(callback)) {}
  void tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView&, bool success,
                                                              const Ref<Dictionary>& params,
                                                              const Ref<Error>& error) override {
    reports.push_back({success, params, error});
  }
  void tokenAuthorizeCancelledView(SXOAuthView&) override { ++cancelled; }
  void tokenAuthorizeTakenAwayView(SXOAuthView&) override { ++takenAway; }
  Ref<URL> authorizeCallbackURL() const override { return callback_; }

  std::vector<Report> reports;
  int cancelled = 0;
  int takenAway = 0;

 private:
  Ref<URL> callback_;
};

TEST(SXOAuthViewCallbackTest, MatchesSchemeHostAndPathExactly) {
  struct Case {
    const char* url;
    const char* callback;
    bool expected;
  } cases[] = {
      {"myapp://oauth/done?oauth_token=t", "myapp://oauth/done", true},
      {"MYAPP://OAuth/done?oauth_token=t", "myapp://oauth/done", true},      // scheme and host ignore case
      {"myapp://oauth/Done?oauth_token=t", "myapp://oauth/done", false},     // the path keeps its case
      {"https://evil.example/?next=myapp://oauth/done", "myapp://oauth/done", false},
      {"https://evil.example/myapp://oauth/done", "myapp://oauth/done", false},
      {"http://example.com/cb/more", "http://example.com/cb", false},
      {"http://example.com:8080/cb", "http://example.com/cb", false},
      {"http://example.com:80/cb?x=1", "http://example.com/cb", true},
      {"http://example.com?x=1", "http://example.com/", true},
      {"https://example.com/cb", "http://example.com/cb", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SXOAuthView::isCallbackURL(*URL::make(c.url), *URL::make(c.callback)), c.expected) << c.url;
  }
}

TEST(SXOAuthViewCallbackTest, QueryValuesAreDecodedAndOddPiecesLeftOut) {
  ASSERT_TRUE(URL::make("myapp://cb?a=%zz") == nullptr);  // such an address never reaches the view
  auto params = SXOAuthView::callbackQueryParameters(
      *URL::make("myapp://cb?oauth_token=a%20b%2Bc&oauth_verifier=v%3D1&flag&x=1=2&empty="));
  ASSERT_TRUE(params);
  EXPECT_EQ(params->count(), 3u);
  EXPECT_EQ(params->stringForKey("oauth_token"), "a b+c");
  EXPECT_EQ(params->stringForKey("oauth_verifier"), "v=1");
  EXPECT_EQ(params->stringForKey("empty"), "");
  EXPECT_FALSE(SXOAuthView::callbackQueryParameters(*URL::make("myapp://cb")));
  EXPECT_FALSE(SXOAuthView::callbackQueryParameters(*URL::make("myapp://cb?only")));
}

std::string reply(int status, const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + extra + "Connection: close\r\n\r\n" + body;
}

class SXOAuthViewTest : public testing::SharingTest {
 protected:
  SXOAuthViewTest() : SharingTest(false) {}

  void SetUp() override {
    SharingTest::SetUp();
    server_.route("/authorize", [this](const testing::RecordedRequest& request, testing::FaultServer::Connection& c) {
      // The service sends the user back to the application with the verifier.
      EXPECT_NE(request.target.find("oauth_token=rt"), std::string::npos);
      c.send(reply(302, "", "Location: " + callback() + "?oauth_token=rt&oauth_verifier=v%2F1\r\n"));
    });
    server_.route("/page", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
      c.send(reply(200, "<html><title>Sign in</title></html>"));
    });
    server_.route("/callback", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
      ADD_FAILURE() << "the callback address must never be loaded";
      c.send(reply(200, "loaded"));
    });
    ASSERT_TRUE(server_.start());
  }

  std::string callback() const { return server_.url("/callback"); }

  testing::FaultServer server_;
};

TEST_F(SXOAuthViewTest, RedirectToTheCallbackReportsDecodedParametersOnceAndIsRefused) {
  auto delegate = std::make_shared<RecordingOAuthDelegate>(callback());
  auto view = SXOAuthView::initWithURL(URL::make(server_.url("/authorize?oauth_token=rt")), delegate);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !delegate->reports.empty(); }, 20.0));
  ASSERT_EQ(delegate->reports.size(), 1u);
  EXPECT_TRUE(delegate->reports[0].success);
  EXPECT_FALSE(delegate->reports[0].error);
  ASSERT_TRUE(delegate->reports[0].params);
  EXPECT_EQ(delegate->reports[0].params->stringForKey("oauth_verifier"), "v/1");
  EXPECT_EQ(delegate->reports[0].params->stringForKey("oauth_token"), "rt");
  EXPECT_FALSE(view->delegate());  // let go after the success

  // Later load events reach nobody.
  view->webViewDidFailLoadWithError(*view->webView(), Error::make("NSURLErrorDomain", -1004, "refused"));
  EXPECT_EQ(delegate->reports.size(), 1u);
  pumpRunLoopUntil([&] { return !view->webView()->isLoading(); }, 20.0);
  for (const auto& request : server_.requests()) EXPECT_NE(request.path(), "/callback");
}

TEST_F(SXOAuthViewTest, LoadFailuresAreReportedExceptReplacedLoads) {
  auto delegate = std::make_shared<RecordingOAuthDelegate>(callback());
  // A page that never answers, replaced by another load: the replaced load is no failure.
  server_.route("/stall", [](const testing::RecordedRequest&, testing::FaultServer::Connection& c) {
    c.stallUntilStopped();
  });
  auto view = SXOAuthView::initWithURL(URL::make(server_.url("/stall")), delegate);
  view->webView()->loadRequest(net::URLRequest::requestWithURL(URL::make(server_.url("/page"))));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return view->webView()->pageTitle() == "Sign in"; }, 20.0));
  EXPECT_TRUE(delegate->reports.empty());
  ASSERT_TRUE(view->spinner());
  EXPECT_FALSE(view->spinner()->isAnimating());

  // Neither are a missing file (-1100) nor a redirect the view refused (102).
  view->webView()->loadRequest(net::URLRequest::requestWithURL(URL::fileURL((home / "missing.html").string())));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !view->webView()->isLoading(); }, 20.0));
  view->webViewDidFailLoadWithError(
      *view->webView(), Error::make(ui::kWebKitErrorDomain, ui::kWebErrorFrameLoadInterrupted, "Frame load interrupted"));
  EXPECT_TRUE(delegate->reports.empty());

  // A server that cannot be reached is a failure with the load's error.
  testing::HeldLoopbackPort refusing;
  view->webView()->loadRequest(net::URLRequest::requestWithURL(URL::make(refusing.url())));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !delegate->reports.empty(); }, 20.0));
  EXPECT_FALSE(delegate->reports[0].success);
  EXPECT_TRUE(delegate->reports[0].error);
  EXPECT_TRUE(view->delegate());  // a failure keeps the delegate
}

TEST_F(SXOAuthViewTest, APinPageOfTheTwitterHostIsAConfigurationFailure) {
  // The service's own page, over TLS from a loopback stand-in for its host; nothing answers
  // scripts but the web view itself.
  testing::TestCertificateAuthority authority;
  testing::FaultServer twitter(authority.issueForHosts({"api.twitter.com"}));
  twitter.route("/oauth/authorize", [](const testing::RecordedRequest& request, testing::FaultServer::Connection& c) {
    const bool pin = request.target.find("oauth_token=pin") != std::string::npos;
    c.send(reply(200, pin ? "<html><body><p>Enter this PIN:</p><div id=\"oauth_pin\"><code>1234567</code></div>"
                            "</body></html>"
                          : "<html><body><form><input id=\"username_or_email\"></form></body></html>"));
  });
  ASSERT_TRUE(twitter.start());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{"api.twitter.com", static_cast<std::uint16_t>(twitter.port())}});
  environment.setExtraTrustAnchor(authority.certificatePEM());

  // The sign-in page itself is no failure.
  auto delegate = std::make_shared<RecordingOAuthDelegate>(callback());
  auto view = SXOAuthView::initWithURL(URL::make("https://api.twitter.com/oauth/authorize?oauth_token=rt"), delegate);
  const bool signInShown = pumpRunLoopUntil([&] { return twitter.requests().size() == 1 && !view->webView()->isLoading(); }, 20.0);
  // The PIN page is.
  auto pinDelegate = std::make_shared<RecordingOAuthDelegate>(callback());
  auto pinView =
      SXOAuthView::initWithURL(URL::make("https://api.twitter.com/oauth/authorize?oauth_token=pin"), pinDelegate);
  const bool done = pumpRunLoopUntil([&] { return !pinDelegate->reports.empty(); }, 20.0);
  environment.setTestHostMap({});
  environment.setExtraTrustAnchor(std::nullopt);
  ASSERT_TRUE(signInShown);
  EXPECT_TRUE(delegate->reports.empty());
  ASSERT_TRUE(done);
  EXPECT_FALSE(pinDelegate->reports[0].success);
  ASSERT_TRUE(pinDelegate->reports[0].error);
  EXPECT_EQ(pinDelegate->reports[0].error->domain(), "sharing");
  EXPECT_NE(pinDelegate->reports[0].error->localizedDescription().find("Your SXTwitter config is incorrect."),
            std::string::npos);
}

TEST_F(SXOAuthViewTest, CancelTellsTheDelegateAndHidesTheScreen) {
  auto root = std::make_shared<ui::ViewController>();
  showRoot(root);
  SX::setRootViewController(root);
  auto delegate = std::make_shared<RecordingOAuthDelegate>(callback());
  auto view = SXOAuthView::initWithURL(URL::make(server_.url("/page")), delegate);
  SX::currentHelper()->showViewController(view, [view] { view->takenAway(); });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return view->isVisible(); }, 20.0));
  ASSERT_TRUE(view->navigationItem()->leftBarButtonItem());
  view->navigationItem()->leftBarButtonItem()->simulateTap();
  EXPECT_EQ(delegate->cancelled, 1);
  EXPECT_TRUE(delegate->reports.empty());
  // The page stopped and let its delegate go: an answer still on its way reaches nobody.
  EXPECT_FALSE(view->delegate());
  EXPECT_FALSE(view->webView()->isLoading());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !SX::currentHelper()->currentView(); }, 20.0));
  EXPECT_FALSE(view->isVisible());
  EXPECT_EQ(delegate->takenAway, 0) << "a cancelled page reported again when it went";
}

// A page the hub lets go for another screen tells its delegate once, then nothing more.
TEST_F(SXOAuthViewTest, APageTakenAwayTellsTheDelegateOnce) {
  auto root = std::make_shared<ui::ViewController>();
  showRoot(root);
  SX::setRootViewController(root);
  auto delegate = std::make_shared<RecordingOAuthDelegate>(callback());
  auto view = SXOAuthView::initWithURL(URL::make(server_.url("/page")), delegate);
  SX::currentHelper()->showViewController(view, [view] { view->takenAway(); });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return view->isVisible(); }, 20.0));
  SX::currentHelper()->showViewController(std::make_shared<ui::ViewController>(), [] {});
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !view->isVisible() && !SX::currentHelper()->isDismissingView(); }, 20.0));
  EXPECT_EQ(delegate->takenAway, 1);
  EXPECT_EQ(delegate->cancelled, 0);
  EXPECT_TRUE(delegate->reports.empty());
  EXPECT_FALSE(view->delegate());
  view->takenAway();
  EXPECT_EQ(delegate->takenAway, 1);
  SX::currentHelper()->hideCurrentViewControllerAnimated(false);
}

}  // namespace
}  // namespace zv
