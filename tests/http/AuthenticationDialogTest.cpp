// The login dialog: which waiting requests a login serves, the texts and fields it shows, and the
// one-dialog-at-a-time flow with real requests against the fault server.
#include <gtest/gtest.h>

#include "HTTPTestSupport.h"
#include "http/ui/HTTPAuthenticationDialog.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Window.h"
#include "platform/net/ProxySettings.h"
#include "support/net/FaultServer.h"
#include "support/net/ProxyServers.h"

namespace zv {
namespace {

Ref<HTTPRequest> challenged(const std::string& url, int kind, const std::string& scheme,
                            std::optional<std::string> realm = std::string("realm")) {
  auto request = HTTPRequest::requestWithURL(URL::make(url));
  request->setAuthenticationNeeded(kind);
  if (kind == 2) {
    request->setProxyAuthenticationScheme(scheme);
    request->setProxyAuthenticationRealm(realm);
  } else {
    request->setAuthenticationScheme(scheme);
    request->setAuthenticationRealm(realm);
  }
  return request;
}

Ref<HTTPAuthenticationDialog> dialogFor(const Ref<HTTPRequest>& request) {
  auto dialog = std::make_shared<HTTPAuthenticationDialog>();
  dialog->setRequest(request);
  dialog->setType(request->authenticationNeeded() == 2 ? HTTPAuthenticationDialog::ProxyCredentials
                                                       : HTTPAuthenticationDialog::ServerCredentials);
  return dialog;
}

std::string footer(const Ref<HTTPAuthenticationDialog>& dialog) {
  auto table = ui::TableView::make({0, 0, 320, 400}, ui::TableViewStyle::Grouped);
  std::size_t last = dialog->numberOfSectionsInTableView(*table) - 1;
  return dialog->tableViewTitleForFooterInSection(*table, last).value_or("");
}

TEST(AuthenticationDialogTexts, FooterSectionsAndHeader) {
  EXPECT_EQ(footer(dialogFor(challenged("http://h/", 1, "Basic"))), "Password will be sent in the clear.");
  EXPECT_EQ(footer(dialogFor(challenged("https://h/", 1, "Basic"))), "Password will be sent securely.");
  EXPECT_EQ(footer(dialogFor(challenged("http://h/", 1, "Digest"))), "Password will be sent securely.");
  // A proxy's Basic credentials travel to the plain proxy in the clear, whatever the server's scheme.
  auto proxied = challenged("https://h/", 2, "Basic");
  proxied->setProxyHost("proxy");
  proxied->setProxyPort(3128);
  proxied->setProxyType("HTTPS");  // a proxy for https URLs, reached over plain HTTP all the same
  EXPECT_EQ(footer(dialogFor(proxied)), "Password will be sent in the clear.");

  auto table = ui::TableView::make({0, 0, 320, 400}, ui::TableViewStyle::Grouped);
  auto ntlm = dialogFor(challenged("http://h/", 1, "NTLM", std::nullopt));
  EXPECT_EQ(ntlm->numberOfSectionsInTableView(*table), 2u);
  EXPECT_EQ(ntlm->tableViewTitleForFooterInSection(*table, 0), std::nullopt);
  EXPECT_DOUBLE_EQ(ntlm->tableViewHeightForFooterInSection(*table, 1), 30);
  auto basic = dialogFor(challenged("http://h/", 1, "Basic"));
  EXPECT_EQ(basic->numberOfSectionsInTableView(*table), 1u);
  EXPECT_EQ(basic->tableViewTitleForHeaderInSection(*table, 0).value_or(""), "realm");
  EXPECT_DOUBLE_EQ(basic->tableViewHeightForHeaderInSection(*table, 0), 30);
}

class AuthenticationDialogFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application::sharedApplication()->reset();
    window = ui::Window::make({0, 0, 320, 480});
    window->setRootViewController(std::make_shared<ui::ViewController>());
    window->makeKeyAndVisible();
    HTTPAuthenticationDialog::registerPresenter();
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(other.start());
  }
  void TearDown() override {
    // Every dialog still on screen or waiting is cancelled, one after the other.
    for (int i = 0; i < 20; ++i) {
      auto dialog = HTTPAuthenticationDialog::currentDialog();
      if (!dialog && HTTPAuthenticationDialog::waitingRequests().empty()) break;
      if (dialog) {
        tap(dialog, false);
        pumpRunLoopUntil([&] { return HTTPAuthenticationDialog::currentDialog() != dialog; }, 5);
      }
      pumpRunLoopFor(0.05);
    }
    ui::Application::sharedApplication()->reset();
    HTTPAuthenticationPresenter::setShared(nullptr);
  }
  Ref<HTTPRequest> request(testing::FaultServer& s, const std::string& path) {
    auto r = HTTPRequest::requestWithURL(URL::make(s.url(path)));
    r->setShouldPresentAuthenticationDialog(true);
    r->setTimeOutSeconds(30);
    return r;
  }
  static bool tap(const Ref<HTTPAuthenticationDialog>& dialog, bool login) {
    // A user taps once the dialog has come: touches during its presentation are ignored.
    pumpRunLoopUntil([] { return !ui::Application::sharedApplication()->isIgnoringInteractionEvents(); }, 20.0);
    auto item = dialog->navigationBar()->topItem();
    return (login ? item->rightBarButtonItem() : item->leftBarButtonItem())->simulateTap();
  }
  Ref<ui::Window> window;
  testing::FaultServer server, other;
};

TEST_F(AuthenticationDialogFlow, OneLoginServesEveryMatchingRequestAndOthersWaitTheirTurn) {
  HTTPRequest::clearSessionCredentials();
  auto first = request(server, "/auth");
  auto second = request(server, "/auth?second");
  auto third = request(other, "/auth");
  auto a = testing::recordOutcome(first);
  auto b = testing::recordOutcome(second);
  auto c = testing::recordOutcome(third);
  first->setUseSessionPersistence(false);
  second->setUseSessionPersistence(false);
  third->setUseSessionPersistence(false);
  first->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([] { return HTTPAuthenticationDialog::currentDialog() != nullptr; }, 10));
  second->startAsynchronous();
  third->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([] { return HTTPAuthenticationDialog::waitingRequests().size() == 2; }, 10));

  auto dialog = HTTPAuthenticationDialog::currentDialog();
  EXPECT_EQ(dialog->request(), first);
  EXPECT_EQ(dialog->navigationBar()->topItem()->prompt().value_or(""), "Login to this secure server.");
  EXPECT_EQ(dialog->navigationBar()->topItem()->title().value_or(""), "127.0.0.1");
  EXPECT_FALSE(dialog->domainField());
  dialog->usernameField()->setText("user");
  dialog->passwordField()->setText("secret");
  ASSERT_TRUE(tap(dialog, true));
  ASSERT_TRUE(testing::waitForOutcome(a, 10));
  ASSERT_TRUE(testing::waitForOutcome(b, 10));
  EXPECT_EQ(a->finished, 1);
  EXPECT_EQ(b->finished, 1);
  EXPECT_EQ(c->total(), 0);

  // The request to the other port gets a dialog of its own; an empty form sends "".
  ASSERT_TRUE(pumpRunLoopUntil(
      [&] { return HTTPAuthenticationDialog::currentDialog() && HTTPAuthenticationDialog::currentDialog()->request() == third; },
      10));
  auto next = HTTPAuthenticationDialog::currentDialog();
  EXPECT_TRUE(HTTPAuthenticationDialog::waitingRequests().empty());
  ASSERT_TRUE(tap(next, true));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return third->username().has_value(); }, 10));
  EXPECT_EQ(third->username().value_or("?"), "");
  EXPECT_EQ(third->password().value_or("?"), "");
  // The server refuses "" and the dialog comes back; cancel ends the request with code 3.
  ASSERT_TRUE(pumpRunLoopUntil(
      [&] { return HTTPAuthenticationDialog::currentDialog() && HTTPAuthenticationDialog::currentDialog() != next; }, 10));
  ASSERT_TRUE(tap(HTTPAuthenticationDialog::currentDialog(), false));
  ASSERT_TRUE(testing::waitForOutcome(c, 10));
  EXPECT_EQ(c->failed, 1);
  EXPECT_EQ(third->error()->code(), RequestErrorAuthentication);
}

TEST_F(AuthenticationDialogFlow, ARequestThatEndsLeavesTheDialogAndTheWaitingList) {
  HTTPRequest::clearSessionCredentials();
  auto timesOut = request(server, "/auth");
  timesOut->setTimeOutSeconds(1);
  auto cancelled = request(other, "/auth");
  auto a = testing::recordOutcome(timesOut);
  auto b = testing::recordOutcome(cancelled);
  timesOut->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([] { return HTTPAuthenticationDialog::currentDialog() != nullptr; }, 10));
  cancelled->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([] { return HTTPAuthenticationDialog::waitingRequests().size() == 1; }, 10));
  // Cancelled while it waits its turn: it leaves the list, and no dialog is ever shown for it.
  cancelled->cancel();
  ASSERT_TRUE(testing::waitForOutcome(b, 10));
  EXPECT_EQ(cancelled->error()->code(), RequestErrorCancelled);
  EXPECT_TRUE(HTTPAuthenticationDialog::waitingRequests().empty());
  // Timed out while its dialog is on screen: the dialog goes.
  ASSERT_TRUE(testing::waitForOutcome(a, 10));
  EXPECT_EQ(timesOut->error()->code(), RequestErrorTimedOut);
  EXPECT_TRUE(pumpRunLoopUntil([] { return HTTPAuthenticationDialog::currentDialog() == nullptr; }, 10));
  pumpRunLoopFor(0.1);
  EXPECT_FALSE(HTTPAuthenticationDialog::currentDialog());
}

TEST_F(AuthenticationDialogFlow, WhetherADialogCanAppearIsDecidedWhereTheWindowsChange) {
  // Windows come and go on the main thread while requests on the network thread are challenged;
  // the question whether a dialog can appear must not read the window list from there (a race
  // the thread sanitizer reports).
  HTTPRequest::clearSessionCredentials();
  constexpr int kRequests = 4;  // the shared queue runs four at a time
  std::vector<Ref<HTTPRequest>> requests;
  for (int i = 0; i < kRequests; ++i) {
    requests.push_back(request(server, "/auth?n=" + std::to_string(i)));
    requests.back()->setUseSessionPersistence(false);
    requests.back()->startAsynchronous();
  }
  // Each new window joins the application's list (which grows, moving its storage).
  for (int made = 0; made < 20000; ++made) {
    ui::Window::make({0, 0, 10, 10});
    if (made % 100 == 99 && server.requests().size() >= static_cast<std::size_t>(kRequests)) break;
  }
  auto shown = [&] {
    auto dialog = HTTPAuthenticationDialog::currentDialog();
    return dialog && HTTPAuthenticationDialog::waitingRequests().size() + 1 == static_cast<std::size_t>(kRequests);
  };
  EXPECT_TRUE(pumpRunLoopUntil(shown, 20));
}

TEST_F(AuthenticationDialogFlow, MatchingNeedsTheSameKindHostPortSchemeRealmAndProxy) {
  auto shown = challenged("https://h/a", 1, "Basic");
  auto samePlace = challenged("https://h/b", 1, "Basic");
  auto explicitPort = challenged("https://h:8443/a", 1, "Basic");
  auto otherRealm = challenged("https://h/a", 1, "Basic", std::string("other"));
  auto otherScheme = challenged("http://h/a", 1, "Basic");
  auto proxyKind = challenged("https://h/a", 2, "Basic");
  HTTPAuthenticationDialog::presentAuthenticationDialogForRequest(shown);
  for (const auto& r : {samePlace, explicitPort, otherRealm, otherScheme, proxyKind}) {
    HTTPAuthenticationDialog::presentAuthenticationDialogForRequest(r);
  }
  auto dialog = HTTPAuthenticationDialog::currentDialog();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->requestsRequiringTheseCredentials(), (std::vector<Ref<HTTPRequest>>{samePlace, shown}));

  // Proxy credentials go only to requests behind the same proxy.
  auto proxyA = challenged("http://x/", 2, "NTLM", std::nullopt);
  proxyA->setProxyHost("proxy");
  proxyA->setProxyPort(3128);
  auto proxyB = challenged("http://y/", 2, "NTLM", std::nullopt);
  proxyB->setProxyHost("proxy");
  proxyB->setProxyPort(3128);
  auto proxyOther = challenged("http://x/", 2, "NTLM", std::nullopt);
  proxyOther->setProxyHost("proxy");
  proxyOther->setProxyPort(8080);
  auto proxyDialog = dialogFor(proxyA);
  HTTPAuthenticationDialog::presentAuthenticationDialogForRequest(proxyB);
  HTTPAuthenticationDialog::presentAuthenticationDialogForRequest(proxyOther);
  auto served = proxyDialog->requestsRequiringTheseCredentials();
  EXPECT_EQ(served, (std::vector<Ref<HTTPRequest>>{proxyB, proxyA}));
}

TEST_F(AuthenticationDialogFlow, AProxyChallengeShowsTheProxyDialogByDefault) {
  testing::TinyproxyServer proxy("puser", "ppass");
  ASSERT_TRUE(proxy.start()) << proxy.log();
  net::ProxySettings::setSystemSettings(net::SystemProxySettings{});
  HTTPRequest::clearProxySessionCredentials();
  auto r = HTTPRequest::requestWithURL(URL::make(server.url("/ok")));
  r->setTimeOutSeconds(30);
  r->setProxyHost("127.0.0.1");
  r->setProxyPort(proxy.port());
  auto outcome = testing::recordOutcome(r);
  r->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([] { return HTTPAuthenticationDialog::currentDialog() != nullptr; }, 10));
  auto dialog = HTTPAuthenticationDialog::currentDialog();
  EXPECT_EQ(dialog->type(), HTTPAuthenticationDialog::ProxyCredentials);
  EXPECT_EQ(dialog->navigationBar()->topItem()->prompt().value_or(""), "Login to this secure proxy server.");
  EXPECT_EQ(dialog->navigationBar()->topItem()->title().value_or(""), "127.0.0.1");
  dialog->usernameField()->setText("puser");
  dialog->passwordField()->setText("ppass");
  ASSERT_TRUE(tap(dialog, true));
  ASSERT_TRUE(testing::waitForOutcome(outcome, 10));
  net::ProxySettings::setSystemSettings(std::nullopt);
  ASSERT_FALSE(r->error()) << r->error()->description();
  EXPECT_EQ(r->responseString().value_or(""), "hello");
  EXPECT_EQ(r->proxyUsername().value_or(""), "puser");
  HTTPRequest::clearProxySessionCredentials();
}

TEST_F(AuthenticationDialogFlow, NTLMDomainFieldFillsTheDomain) {
  auto ntlm = challenged("http://127.0.0.1:1/", 1, "NTLM", std::nullopt);
  HTTPAuthenticationDialog::presentAuthenticationDialogForRequest(ntlm);
  auto dialog = HTTPAuthenticationDialog::currentDialog();
  ASSERT_TRUE(dialog && dialog->domainField());
  EXPECT_EQ(dialog->domainField()->placeholder().value_or(""), "Domain");
  EXPECT_TRUE(dialog->passwordField()->isSecureTextEntry());
  dialog->usernameField()->setText("u");
  dialog->passwordField()->setText("p");
  dialog->domainField()->setText("CORP");
  ASSERT_TRUE(tap(dialog, true));
  EXPECT_EQ(ntlm->domain().value_or(""), "CORP");
  EXPECT_EQ(ntlm->username().value_or(""), "u");
}

}  // namespace
}  // namespace zv
