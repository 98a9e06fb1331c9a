#pragma once
// A fixture for a service sharer's end-to-end tests against its loopback stand-in: the sharing
// fixture on the real clock (replies arrive on their own), the service sharers registered, a root
// screen shown and given to the hub, and `outcomes`, a share delegate that records how each send
// went. TearDown lets the last screen finish going away before the hub is reset. A test's own
// SetUp starts its stand-in and sets the configuration keys after this one.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/runloop/RunLoopPump.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXSharer.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {

// "start", "finish", and "relogin" or "fail" (with the error kept), in the order they came.
// With `prompt` set, a relogin is also asked of the user as the default delegate asks it.
class ShareOutcomes : public SXDefaultSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>&) override { events.push_back("start"); }
  void sharerFinishedSending(const Ref<SXSharer>&) override { events.push_back("finish"); }
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>& sharer, const Ref<Error>& error,
                                          bool relogin) override {
    events.push_back(relogin ? "relogin" : "fail");
    errors.push_back(error);
    if (prompt) SXDefaultSharerDelegate::sharerFailedWithErrorShouldRelogin(sharer, error, relogin);
  }
  std::vector<std::string> events;
  std::vector<Ref<Error>> errors;
  bool prompt = false;
};

class ServiceSharerTest : public SharingTest {
 protected:
  ServiceSharerTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    outcomes = std::make_shared<ShareOutcomes>();
  }

  void TearDown() override {
    pumpRunLoopUntil([] { return !SX::currentHelper()->isDismissingView() && !SX::currentHelper()->currentView(); },
                     5.0);
    pumpRunLoopFor(0.3);
    SharingTest::TearDown();
  }

  Ref<ui::ViewController> root;
  std::shared_ptr<ShareOutcomes> outcomes;
};

}  // namespace zv::testing
