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

void SharingTest::resetHub() {
  SXActivityIndicator::resetForTesting();
  SX::resetForTesting();
}

}  // namespace zv::testing
