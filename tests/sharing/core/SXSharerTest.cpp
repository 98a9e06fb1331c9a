#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "platform/system/Keychain.h"
#include "platform/system/NotificationCenter.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXSharer.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

struct ProbeSettings {
  bool needsLogin = true;
  bool autoShare = true;
  bool sendAnswer = true;
  bool finishAtOnce = true;
  int sends = 0;
};
ProbeSettings probe;

class ProbeSharer : public SXSharer {
 public:
  std::string sharerTitle() const override { return "Probe"; }
  bool canShareURL() const override { return true; }
  bool canShareText() const override { return true; }
  bool requiresAuthentication() const override { return probe.needsLogin; }
  bool canAutoShare() const override { return probe.autoShare; }
  void authorizationFormValidate(SXFormController& form) override { form.saveForm(); }
  bool send() override {
    ++probe.sends;
    if (!validateItem()) return false;
    sendDidStart();
    if (probe.finishAtOnce) sendDidFinish();
    return probe.sendAnswer;
  }
};

// A sharer that always shares at once, whatever the user chose.
class AlwaysAutoSharingProbe : public ProbeSharer {
 public:
  bool shouldAutoShare() const override { return true; }
};

class SXSharerTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    probe = ProbeSettings{};
    SXSharer::registerSharerClass<ProbeSharer>();
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    settle();
    for (const char* name : {kSXSendDidStartNotification, kSXSendDidFinish, kSXSendDidFailWithError, kSXSendDidCancel,
                             kSXAuthDidFinish}) {
      tokens_.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, [this](const Ref<Notification>& n) { reports.push_back(n->name()); }));
    }
  }
  void TearDown() override {
    for (const auto& token : tokens_) NotificationCenter::defaultCenter()->removeObserver(token);
    SX::setOfflineQueueHandlers(nullptr, nullptr);
    SharingTest::TearDown();
  }
  Ref<SXFormController> topForm(const Ref<SXSharer>& sharer) {
    settle();
    return dyn<SXFormController>(sharer->topViewController());
  }
  void logIn() {
    ASSERT_TRUE(SX::setAuthValue("alice", "username", "ProbeSharer"));
  }

  Ref<ui::ViewController> root;
  std::vector<std::string> reports;

 private:
  std::vector<ObjectPtr> tokens_;
};

TEST_F(SXSharerTest, AuthorizationNeedsOneStoredLoginValue) {
  auto sharer = SXSharer::make<ProbeSharer>();
  EXPECT_FALSE(sharer->isAuthorized());
  ASSERT_TRUE(SX::setAuthValue("only the password", "password", "ProbeSharer"));
  EXPECT_TRUE(sharer->isAuthorized());
  EXPECT_TRUE(SXSharer::isServiceAuthorized<ProbeSharer>());
  sharer->logout();
  EXPECT_FALSE(sharer->isAuthorized());
  probe.needsLogin = false;
  EXPECT_TRUE(sharer->isAuthorized());
}

TEST_F(SXSharerTest, CapabilitiesAndItemValidation) {
  auto sharer = SXSharer::make<ProbeSharer>();
  EXPECT_EQ(sharer->sharerId(), "ProbeSharer");
  EXPECT_TRUE(sharer->canShareType(SXShareTypeURL));
  EXPECT_FALSE(sharer->canShareType(SXShareTypeImage));
  EXPECT_FALSE(sharer->canShareType(9));
  sharer->setItem(SXItem::make());
  EXPECT_FALSE(sharer->validateItem());
  sharer->item()->shareType = SXShareTypeText;
  EXPECT_FALSE(sharer->validateItem());
  sharer->item()->text = "t";
  EXPECT_TRUE(sharer->validateItem());
  sharer->item()->shareType = SXShareTypeUserInfo;
  EXPECT_FALSE(sharer->validateItem());
  EXPECT_EQ(SXSharer::sharerNamed("ProbeSharer")->className(), "ProbeSharer");
  EXPECT_EQ(SXSharer::sharerNamed("NoSuchSharer"), nullptr);
}

TEST_F(SXSharerTest, AURLShareShowsItsFormAndSavingItSends) {
  logIn();
  auto item = SXItem::makeURL(URL::make("https://example.org/x"), "T");
  auto sharer = SXSharer::shareItem<ProbeSharer>(item);
  auto form = topForm(sharer);
  ASSERT_TRUE(form);
  EXPECT_EQ(SX::currentHelper()->currentView(), sharer);
  EXPECT_EQ(form->sections()[0].footer, "https://example.org/x");
  EXPECT_EQ(form->sections()[1].rows[0]->value, "0");
  flipSwitch(form, 1, 0);
  replaceIn(form, 0, "New title");
  ASSERT_TRUE(pressRight(form));
  EXPECT_EQ(probe.sends, 1);
  EXPECT_EQ(item->title, "New title");
  EXPECT_TRUE(sharer->shouldAutoShare());
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFinish}));
  settle();
  EXPECT_EQ(root->presentedViewController(), nullptr);
  // Pushed onto the link favourites by shareItem.
  auto favourites = UserDefaults::standardUserDefaults()->arrayForKey("SX_FAVS_1");
  ASSERT_TRUE(favourites);
  EXPECT_EQ(stringValueOf(favourites->firstObject()), "ProbeSharer");
}

TEST_F(SXSharerTest, AutoShareSendsWithoutAFormUnlessTheSendIsRefused) {
  logIn();
  auto sharer = SXSharer::make<ProbeSharer>();
  sharer->setShouldAutoShare(true);
  sharer->setItem(SXItem::makeURL(URL::make("https://example.org/x")));
  sharer->share();
  EXPECT_EQ(probe.sends, 1);
  EXPECT_EQ(topForm(sharer), nullptr);

  probe.sendAnswer = false;
  probe.finishAtOnce = false;
  auto refused = SXSharer::make<ProbeSharer>();
  refused->setItem(SXItem::makeURL(URL::make("https://example.org/x")));
  refused->share();
  EXPECT_EQ(probe.sends, 2);
  EXPECT_TRUE(topForm(refused));
  settle();

  // Offline, not allowed to queue: the failure is the share's one outcome, no form follows it.
  setOffline(true);
  configurator->set("allowOffline", box(false));
  reports.clear();
  auto offline = SXSharer::make<ProbeSharer>();
  offline->setItem(SXItem::makeURL(URL::make("https://example.org/x")));
  offline->share();
  EXPECT_EQ(probe.sends, 2);
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidFailWithError});
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topForm(offline), nullptr);
  EXPECT_NE(SX::currentHelper()->currentView(), offline);
}

TEST_F(SXSharerTest, ASharerCanDecideForItselfToAutoShare) {
  probe.needsLogin = false;
  SXSharer::registerSharerClass<AlwaysAutoSharingProbe>();
  Ref<SXSharer> sharer = SXSharer::make<AlwaysAutoSharingProbe>();
  EXPECT_TRUE(sharer->shouldAutoShare());
  EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey("AlwaysAutoSharingProbe_shouldAutoShare"));
  sharer->setItem(SXItem::makeURL(URL::make("https://example.org/x")));
  sharer->share();
  EXPECT_EQ(probe.sends, 1);
  EXPECT_EQ(topForm(sharer), nullptr);
}

TEST_F(SXSharerTest, SavingWithTheSwitchOffStoresNoAndWithoutTheSwitchLeavesTheChoice) {
  logIn();
  auto sharer = SXSharer::make<ProbeSharer>();
  sharer->setShouldAutoShare(true);
  configurator->set("allowAutoShare", box(false));  // no auto share, but the form gets no switch either
  sharer->setItem(SXItem::makeURL(URL::make("https://example.org/x")));
  sharer->share();
  auto form = topForm(sharer);
  ASSERT_TRUE(form);
  EXPECT_EQ(form->sections().size(), 1u);
  ASSERT_TRUE(pressRight(form));
  EXPECT_TRUE(sharer->shouldAutoShare());
  settle();

  configurator->set("allowAutoShare", box(true));
  sharer->setShouldAutoShare(false);
  auto second = SXSharer::make<ProbeSharer>();
  second->setItem(SXItem::makeURL(URL::make("https://example.org/y")));
  second->share();
  form = topForm(second);
  ASSERT_TRUE(form);
  flipSwitch(form, 1, 0);
  flipSwitch(form, 1, 0);
  ASSERT_TRUE(pressRight(form));
  EXPECT_EQ(UserDefaults::standardUserDefaults()->objectForKey("ProbeSharer_shouldAutoShare")->description(), "0");
}

TEST_F(SXSharerTest, ATextShareOnTheBaseHasNoFormAndSendsAtOnce) {
  logIn();
  auto sharer = SXSharer::shareText<ProbeSharer>("hello");
  EXPECT_EQ(probe.sends, 1);
  EXPECT_EQ(topForm(sharer), nullptr);
  // The typed entries leave the favourites alone.
  EXPECT_EQ(UserDefaults::standardUserDefaults()->objectForKey("SX_FAVS_2"), nullptr);
}

TEST_F(SXSharerTest, CancellingTheFormReportsCancel) {
  logIn();
  auto sharer = SXSharer::shareURL<ProbeSharer>(URL::make("https://example.org/x"));
  auto form = topForm(sharer);
  ASSERT_TRUE(form);
  ASSERT_TRUE(pressLeft(form));
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidCancel});
  EXPECT_EQ(probe.sends, 0);
  settle();
  EXPECT_EQ(SX::currentHelper()->currentView(), nullptr);
}

TEST_F(SXSharerTest, OfflineSendsAlwaysReportTheirOutcome) {
  logIn();
  setOffline(true);
  auto sharer = SXSharer::make<ProbeSharer>();
  sharer->setItem(SXItem::makeText("t"));

  // Not allowed to queue, quiet: answers NO, shows nothing, but the failure is reported.
  configurator->set("allowOffline", box(false));
  sharer->setQuiet(true);
  EXPECT_FALSE(sharer->tryToSend());
  EXPECT_EQ(topAlert(), nullptr);
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidFailWithError});

  // Not quiet: the user is told.
  reports.clear();
  sharer->setQuiet(false);
  EXPECT_FALSE(sharer->tryToSend());
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->message(), "You must be online in order to share with Probe");
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidFailWithError});
  topAlert()->simulateTapButtonAtIndex(0);

  // Allowed, but no queue takes it: a failure, not a silent YES.
  reports.clear();
  SX::setOfflineQueueHandlers(nullptr, nullptr);  // registration installs the offline queue's
  configurator->set("allowOffline", box(true));
  EXPECT_FALSE(sharer->tryToSend());
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidFailWithError});
  EXPECT_EQ(sharer->lastError()->localizedDescription(), "Could not keep the share to Probe for later");
  topAlert()->simulateTapButtonAtIndex(0);

  // Queued: the user learns it is kept.
  reports.clear();
  Ref<SXItem> queued;
  SX::setOfflineQueueHandlers([&](const Ref<SXItem>& item, const std::string&) { queued = item; return true; }, nullptr);
  EXPECT_TRUE(sharer->tryToSend());
  EXPECT_EQ(queued, sharer->item());
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Offline");
  EXPECT_EQ(probe.sends, 0);
}

TEST_F(SXSharerTest, LoggingInOfflineIsRefusedWithAnAlert) {
  setOffline(true);
  auto sharer = SXSharer::shareText<ProbeSharer>("t");
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionShare);
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->message(), "You must be online to login to Probe");
  EXPECT_EQ(topForm(sharer), nullptr);
}

TEST_F(SXSharerTest, TheLoginRunsThePendingShareOnlyOnceStored) {
  auto sharer = SXSharer::shareText<ProbeSharer>("t");
  auto login = topForm(sharer);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->title(), "Login");
  typeInto(login, 0, "alice");
  ASSERT_TRUE(pressRight(login));
  EXPECT_EQ(probe.sends, 1);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_EQ(SX::getAuthValueForKey("username", "ProbeSharer"), "alice");
}

TEST_F(SXSharerTest, ALoginThatCannotBeStoredRunsNothingAndSaysSo) {
  auto sharer = SXSharer::shareText<ProbeSharer>("t");
  auto login = topForm(sharer);
  ASSERT_TRUE(login);
  typeInto(login, 0, "alice");
  zv::testing::writeFile(Keychain::shared().filePath(), "not a keychain");
  LogCapture capture;
  ASSERT_TRUE(pressRight(login));
  EXPECT_EQ(probe.sends, 0);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidFailWithError});
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->message(), "Could not save your login for Probe");
  EXPECT_FALSE(capture.contains("alice"));  // the value never reaches the log
}

TEST_F(SXSharerTest, PendingActionsAndReloginFailures) {
  auto sharer = SXSharer::make<ProbeSharer>();
  sharer->setItem(SXItem::makeText("t"));
  sharer->tryPendingAction();
  EXPECT_EQ(probe.sends, 0);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);

  // A failure while a send waits for a new login: no error alert, the login form instead.
  sharer->shouldReloginWithPendingAction(SXPendingActionSend);
  EXPECT_EQ(sharer->lastError()->localizedDescription(), "Could not authenticate you. Please relogin.");
  EXPECT_EQ(topAlert(), nullptr);
  auto login = topForm(sharer);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->title(), "Login");

  // An ordinary failure shows its text.
  auto other = SXSharer::make<ProbeSharer>();
  other->sendShowSimpleErrorAlert();
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->message(), "There was a problem saving to Probe");
}

// A share ends once: a cancel after its outcome (the hub taking away a form the failure left up, a
// cancelled login that a refused share asked for) is dropped and logged, until the sharer starts
// again (a new share, a send, a resend after the new login).
TEST_F(SXSharerTest, AShareThatHadItsOutcomeIsNotCancelledAfterIt) {
  logIn();
  auto sharer = SXSharer::shareURL<ProbeSharer>(URL::make("https://example.org/x"));
  auto form = topForm(sharer);
  ASSERT_TRUE(form);
  {
    LogCapture capture;
    sharer->sendDidFailWithError(SX::error("refused"));
    SX::currentHelper()->hideCurrentViewControllerAnimated(true);
    settle();
    EXPECT_EQ(SX::currentHelper()->currentView(), nullptr);
    EXPECT_TRUE(form->finished()) << "the form was taken away";
    EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidFailWithError});
    EXPECT_TRUE(capture.contains("ProbeSharer: the share had its outcome; a later cancel is dropped"));
  }
  if (auto alert = topAlert()) alert->simulateTapButtonAtIndex(0);

  // The same sharer shares again: a new outcome.
  reports.clear();
  sharer->setShouldAutoShare(true);
  sharer->share();
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFinish}));

  // The share form's data is refused and a new login asked for; cancelling that login ends the
  // share as it stands.
  reports.clear();
  sharer->setShouldAutoShare(false);
  sharer->share();
  ASSERT_TRUE(topForm(sharer));
  sharer->shouldReloginWithPendingAction(SXPendingActionShare);
  auto login = topForm(sharer);
  ASSERT_TRUE(login);
  ASSERT_EQ(login->title(), "Login");
  ASSERT_TRUE(pressLeft(login));
  settle();
  EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidFailWithError});
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);

  // A refused send whose new login is made sends again, with an outcome of its own.
  reports.clear();
  probe.finishAtOnce = false;
  sharer->setShouldAutoShare(true);
  sharer->share();
  sharer->shouldReloginWithPendingAction(SXPendingActionSend);
  login = topForm(sharer);
  ASSERT_TRUE(login);
  typeInto(login, 0, "alice");
  probe.finishAtOnce = true;
  ASSERT_TRUE(pressRight(login));
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFailWithError,
                                               kSXSendDidStartNotification, kSXSendDidFinish}));
}

TEST_F(SXSharerTest, TheDefaultDelegateShowsProgressUnlessQuiet) {
  auto sharer = SXSharer::make<ProbeSharer>();
  sharer->sendDidStart();
  auto display = SXActivityIndicator::currentIndicator();
  ASSERT_TRUE(display->subMessageLabel());
  EXPECT_EQ(display->subMessageLabel()->text(), "Saving to Probe");
  EXPECT_TRUE(display->window());
  renderKeyWindow("sharing-activity");
  sharer->sendDidFinish();
  EXPECT_EQ(display->subMessageLabel()->text(), "Saved!");
  settle();
  EXPECT_FALSE(display->window());

  auto quiet = SXSharer::make<ProbeSharer>();
  quiet->setQuiet(true);
  quiet->sendDidStart();
  EXPECT_FALSE(display->window());
  quiet->sendDidFailWithError(SX::error("boom"));
  EXPECT_EQ(topAlert(), nullptr);
}

TEST_F(SXSharerTest, AuthDidFinishCarriesItsOutcome) {
  auto sharer = SXSharer::make<ProbeSharer>();
  bool success = false;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kSXAuthDidFinish, sharer, [&](const Ref<Notification>& n) { success = boolValueOf(n->userInfo()->objectForKey("success")); });
  sharer->authDidFinish(true);
  NotificationCenter::defaultCenter()->removeObserver(token);
  EXPECT_TRUE(success);
}

}  // namespace
}  // namespace zv::testing
