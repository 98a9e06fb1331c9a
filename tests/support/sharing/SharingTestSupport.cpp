#include "support/sharing/SharingTestSupport.h"

#include "sharing/core/SXRegisterClasses.h"

namespace zv::testing {

void registerSharingTestClasses() { registerSharingCoreClasses(); }

void SharingTest::resetHub() {}

}  // namespace zv::testing
