// The worked example end to end: an echo share through the login form (with its keychain round
// trip), the share form, the send to the loopback echo service and the report.

#include <gtest/gtest.h>

#include "platform/runloop/RunLoopPump.h"
#include "platform/system/NotificationCenter.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "support/net/LoopbackPorts.h"
#include "support/sharing/EchoService.h"
#include "support/sharing/EchoSharer.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

class EchoShareFlowTest : public SharingTest {
 protected:
  EchoShareFlowTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    ASSERT_TRUE(service.start());
    configurator->set("echoServiceURL", box(service.baseURL()));
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    for (const char* name : {kSXSendDidStartNotification, kSXSendDidFinish, kSXSendDidFailWithError, kSXSendDidCancel}) {
      tokens_.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, [this](const Ref<Notification>& n) { reports.push_back(n->name()); }));
    }
  }
  void TearDown() override {
    for (const auto& token : tokens_) NotificationCenter::defaultCenter()->removeObserver(token);
    pumpRunLoopFor(0.5);  // let the last dismissal end
    SharingTest::TearDown();
  }

  bool waitForReport(const std::string& name) {
    return pumpRunLoopUntil([&] { return std::find(reports.begin(), reports.end(), name) != reports.end(); }, 20.0);
  }

  EchoService service{"alice", "s3cret"};
  Ref<ui::ViewController> root;
  std::vector<std::string> reports;

 private:
  std::vector<ObjectPtr> tokens_;
};

TEST_F(EchoShareFlowTest, LoginThenShareFormThenSendThenReport) {
  auto item = SXItem::makeURL(URL::make("https://example.org/results/42?score=80%25"), "My result");
  auto sharer = SXSharer::shareItem<EchoSharer>(item);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionShare);

  // Login: both fields are needed; an empty password keeps the form open with an alert.
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  renderKeyWindow("sharing-echo-login");
  typeInto(login, 0, "alice");
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Login Error");
  topAlert()->simulateTapButtonAtIndex(0);
  EXPECT_EQ(SX::getAuthValueForKey("username", "EchoSharer"), std::nullopt);
  // An emoji typed and taken back with Backspace is not part of the password.
  typeInto(login, 1, "s3cret\U0001F600");
  dyn<SXFormFieldCellText>(formCell(login, 0, 1))->textField()->deleteBackward();
  ASSERT_TRUE(pressRight(login));

  // Stored in the keychain, then the pending share runs: the URL's share form.
  EXPECT_EQ(SX::getAuthValueForKey("username", "EchoSharer"), "alice");
  EXPECT_EQ(SX::getAuthValueForKey("password", "EchoSharer"), "s3cret");
  auto form = waitForForm(sharer, "");
  ASSERT_TRUE(form);
  ASSERT_EQ(form->sections().size(), 2u);
  EXPECT_EQ(form->sections()[0].footer, "https://example.org/results/42?score=80%25");
  EXPECT_EQ(form->navigationItem()->rightBarButtonItem()->title(), "Send to Echo");
  renderKeyWindow("sharing-echo-share-form");
  replaceIn(form, 0, "Coherence 80% & rising");
  ASSERT_TRUE(pressRight(form));

  // Sent and reported once; the display says so.
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFinish}));
  ASSERT_EQ(service.acceptedPosts(), 1);
  auto fields = EchoService::formFields(service.requests().back());
  EXPECT_EQ(fields["title"], "Coherence 80% & rising");
  EXPECT_EQ(fields["url"], "https://example.org/results/42?score=80%25");
  auto display = SXActivityIndicator::currentIndicator();
  ASSERT_TRUE(display->subMessageLabel());
  EXPECT_EQ(display->subMessageLabel()->text(), "Saved!");

  // A new sharer of the class finds the login in the keychain and goes straight to the form.
  reports.clear();
  auto again = SXSharer::shareItem<EchoSharer>(SXItem::makeText("second"));
  EXPECT_TRUE(again->isAuthorized());
  // A text share on this sharer has no form: it is sent at once.
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(service.acceptedPosts(), 2);
  EXPECT_EQ(EchoService::formFields(service.requests().back())["text"], "second");
}

// A sharer's form the hub lets go for another share's screen ends its share once, as its Cancel
// would; the sharer moving from its login form to its share form is not such a loss, and a form
// the user finished reports nothing more when it goes.
TEST_F(EchoShareFlowTest, AFormTakenAwayByAnotherScreenEndsItsShareOnce) {
  auto hub = SX::currentHelper();
  auto takeOver = [&] {
    auto other = std::make_shared<ui::ViewController>();
    hub->showViewController(other, [] {});
    return pumpRunLoopUntil([&] {
      auto shown = dyn<ui::NavigationController>(hub->currentView());
      return shown && shown->topViewController() == other && other->isVisible() && !hub->isDismissingView();
    }, 20.0);
  };
  auto item = [] { return SXItem::makeURL(URL::make("https://example.org/r"), "R"); };

  auto first = SXSharer::shareItem<EchoSharer>(item());
  ASSERT_TRUE(waitForForm(first, "Login"));
  ASSERT_TRUE(takeOver());
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidCancel});
  EXPECT_EQ(first->pendingAction(), SXPendingActionNone);

  reports.clear();
  auto second = SXSharer::shareItem<EchoSharer>(item());
  auto login = waitForForm(second, "Login");
  ASSERT_TRUE(login);
  typeInto(login, 0, "alice");
  typeInto(login, 1, "s3cret");
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(waitForForm(second, ""));
  EXPECT_TRUE(reports.empty());
  ASSERT_TRUE(takeOver());
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidCancel});

  reports.clear();
  auto third = SXSharer::shareItem<EchoSharer>(item());
  auto form = waitForForm(third, "");
  ASSERT_TRUE(form);
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  ASSERT_TRUE(takeOver());
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFinish}));
  hub->hideCurrentViewControllerAnimated(false);
}

TEST_F(EchoShareFlowTest, ARejectedLoginAsksForANewOneAndSendsAgain) {
  ASSERT_TRUE(SX::setAuthValue("alice", "username", "EchoSharer"));
  ASSERT_TRUE(SX::setAuthValue("wrong", "password", "EchoSharer"));
  auto sharer = SXSharer::make<EchoSharer>();
  sharer->setItem(SXItem::makeText("hello"));
  ASSERT_TRUE(sharer->tryToSend());

  // The service refuses: no error alert, the login form instead, with the send pending.
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFailWithError}));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend);
  EXPECT_EQ(topAlert(), nullptr);
  typeInto(login, 0, "alice");
  typeInto(login, 1, "s3cret");
  ASSERT_TRUE(pressRight(login));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(service.acceptedPosts(), 1);
  EXPECT_EQ(SX::getAuthValueForKey("password", "EchoSharer"), "s3cret");
}

TEST_F(EchoShareFlowTest, AnUnreachableServiceIsReportedAsAFailure) {
  ASSERT_TRUE(SX::setAuthValue("alice", "username", "EchoSharer"));
  ASSERT_TRUE(SX::setAuthValue("s3cret", "password", "EchoSharer"));
  testing::HeldLoopbackPort refusing;
  configurator->set("echoServiceURL", box(refusing.url("")));
  auto sharer = SXSharer::make<EchoSharer>();
  sharer->setItem(SXItem::makeText("hello"));
  ASSERT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  ASSERT_TRUE(sharer->lastError());
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Error");
}

}  // namespace
}  // namespace zv::testing
