#pragma once
// What the credential sharers' tests share: a sharing fixture with the real
// clock, the loopback credential services started, the hub showing a root
// screen, the send and login reports recorded, and helpers that drive the login form as a
// user would.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/runloop/RunLoopPump.h"
#include "platform/system/NotificationCenter.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXSharer.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "support/sharing/CredentialServices.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {

class CredentialSharerTest : public SharingTest {
 protected:
  CredentialSharerTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    ASSERT_TRUE(service.start());
    configurator->set("diigoKey", box(CredentialServices::kApiKey));
    configurator->set("readItLaterKey", box(CredentialServices::kApiKey));
    configurator->set("appName", box("Zerivudor"));
    configurator->set("appURL", box("https://www.mirovast.com/zerivudor"));
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    for (const char* name :
         {kSXSendDidStartNotification, kSXSendDidFinish, kSXSendDidFailWithError, kSXSendDidCancel, kSXAuthDidFinish}) {
      tokens_.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, [this](const Ref<Notification>& n) { reports.push_back(n->name()); }));
    }
  }
  void TearDown() override {
    for (const auto& token : tokens_) NotificationCenter::defaultCenter()->removeObserver(token);
    pumpRunLoopFor(0.4);
    SharingTest::TearDown();
  }

  Ref<SXFormController> waitForForm(const Ref<SXSharer>& sharer, const std::string& title) {
    Ref<SXFormController> form;
    bool shown = pumpRunLoopUntil(
        [&] {
          form = dyn<SXFormController>(sharer->topViewController());
          return form && form->isVisible() && form->title().value_or("") == title &&
                 SX::currentHelper()->currentView() == sharer && !SX::currentHelper()->isDismissingView();
        },
        20.0);
    EXPECT_TRUE(shown) << "no form \"" << title << "\" on screen";
    return shown ? form : nullptr;
  }
  bool waitForReport(const std::string& name) {
    return pumpRunLoopUntil([&] { return std::count(reports.begin(), reports.end(), name) > 0; }, 20.0);
  }
  bool waitForAlert() {
    return pumpRunLoopUntil([&] { return topAlert() != nullptr; }, 20.0);
  }
  bool waitForCalls(std::size_t count) {
    return pumpRunLoopUntil([&] { return service.calls().size() >= count; }, 20.0);
  }
  // Types the two login values and presses the login button.
  void submitLogin(const Ref<SXFormController>& form, const std::string& user, const std::string& password) {
    typeInto(form, 0, user);
    typeInto(form, 1, password);
    ASSERT_TRUE(pressRight(form));
  }
  int count(const std::string& name) const {
    return static_cast<int>(std::count(reports.begin(), reports.end(), name));
  }
  // Answers the next call to `host` with a 307 to a plain-http server on loopback (started on
  // first use), which records whatever reaches it.
  void redirectNextToPlainHTTP(const std::string& host) {
    if (plain.port() == 0) {
      ASSERT_TRUE(plain.start());
    }
    service.failNext(host, 307, {"Location: " + plain.url("/collect")}, "");
  }

  CredentialServices service;
  FaultServer plain;
  Ref<ui::ViewController> root;
  std::vector<std::string> reports;

 private:
  std::vector<ObjectPtr> tokens_;
};

}  // namespace zv::testing
