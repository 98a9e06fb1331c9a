#include "sharing/services/RegisterServiceClasses.h"

#include "sharing/services/facebook/SXFacebook.h"
#include "sharing/services/twitter/SXTwitter.h"
#include "sharing/services/notes/SXEvernote.h"

namespace zv {

void registerSharingServicesClasses() {
  // One line per service sharer.
  SXFacebook::registerClass();
  SXTwitter::registerClass();
  SXEvernote::registerClass();
}

}  // namespace zv
