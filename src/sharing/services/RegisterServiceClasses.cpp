#include "sharing/services/RegisterServiceClasses.h"

#include "sharing/services/facebook/SXFacebook.h"

namespace zv {

void registerSharingServicesClasses() {
  // One line per service sharer.
  SXFacebook::registerClass();
}

}  // namespace zv
