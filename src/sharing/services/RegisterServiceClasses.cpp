#include "sharing/services/RegisterServiceClasses.h"

#include "sharing/services/facebook/SXFacebook.h"
#include "sharing/services/flickr/SXFlickr.h"
#include "sharing/services/twitter/SXTwitter.h"

namespace zv {

void registerSharingServicesClasses() {
  // One line per service sharer.
  SXFacebook::registerClass();
  SXTwitter::registerClass();
  SXFlickr::registerClass();
}

}  // namespace zv
