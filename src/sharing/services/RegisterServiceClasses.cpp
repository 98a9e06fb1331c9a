#include "sharing/services/RegisterServiceClasses.h"

#include "sharing/services/facebook/SXFacebook.h"
#include "sharing/services/linkedin/SXLinkedIn.h"
#include "sharing/services/notes/SXEvernote.h"
#include "sharing/services/readability/SXReadability.h"
#include "sharing/services/twitter/SXTwitter.h"

namespace zv {

void registerSharingServicesClasses() {
  // One line per service sharer.
  SXFacebook::registerClass();
  SXTwitter::registerClass();
  SXEvernote::registerClass();
  SXLinkedIn::registerClass();
  SXReadability::registerClass();
}

}  // namespace zv
