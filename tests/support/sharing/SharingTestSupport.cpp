#include "support/sharing/SharingTestSupport.h"

#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXRegisterClasses.h"
#include "support/sharing/EchoSharer.h"

namespace zv::testing {

void registerSharingTestClasses() {
  registerSharingCoreClasses();
  EchoSharer::registerClass();
}

Ref<ui::ViewController> SharingTest::showThroughHub() {
  auto screen = std::make_shared<ui::ViewController>();
  SX::currentHelper()->showViewController(screen, [] {});
  settleAll();
  EXPECT_TRUE(screen->isVisible());
  return screen;
}

void SharingTest::resetHub() {
  SXActivityIndicator::resetForTesting();
  SX::resetForTesting();
}

}  // namespace zv::testing
