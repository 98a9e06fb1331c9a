#include "sharing/services/RegisterServiceClasses.h"

#include "sharing/services/facebook/SXFacebook.h"
#include "sharing/services/foursquare/SXFoursquareV2.h"
#include "sharing/services/twitter/SXTwitter.h"
#include "sharing/services/vkontakte/SXVkontakte.h"

namespace zv {

void registerSharingServicesClasses() {
  // One line per service sharer.
  SXFacebook::registerClass();
  SXTwitter::registerClass();
  SXVkontakte::registerClass();
  SXFoursquareV2::registerClass();
}

}  // namespace zv
