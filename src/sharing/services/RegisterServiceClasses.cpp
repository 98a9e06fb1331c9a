#include "sharing/services/RegisterServiceClasses.h"

#include "sharing/services/facebook/SXFacebook.h"
#include "sharing/services/linkedin/SXLinkedIn.h"
#include "sharing/services/notes/SXEvernote.h"
#include "sharing/services/bookmarks/SXBookmarkSharers.h"
#include "sharing/services/reading/SXReadingSharers.h"
#include "sharing/services/tumblr/SXTumblr.h"
#include "sharing/services/readability/SXReadability.h"
#include "sharing/services/flickr/SXFlickr.h"
#include "sharing/services/foursquare/SXFoursquareV2.h"
#include "sharing/services/twitter/SXTwitter.h"
#include "sharing/services/vkontakte/SXVkontakte.h"

namespace zv {

void registerSharingServicesClasses() {
  // One line per service sharer.
  SXFacebook::registerClass();
  SXTwitter::registerClass();
  SXEvernote::registerClass();
  SXDiigo::registerClass();
  SXPinboard::registerClass();
  SXDelicious::registerClass();
  SXInstapaper::registerClass();
  SXReadItLater::registerClass();
  SXGoogleReader::registerClass();
  SXTumblr::registerClass();
  SXLinkedIn::registerClass();
  SXReadability::registerClass();
  SXFlickr::registerClass();
  SXVkontakte::registerClass();
  SXFoursquareV2::registerClass();
}

}  // namespace zv
