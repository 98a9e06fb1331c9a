#include "app/AppDelegate.h"

#include "app/SharingConfigurator.h"
#include "http/ui/HTTPAuthenticationDialog.h"
#include "platform/foundation/AsciiText.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/system/Bundle.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXRegisterClasses.h"
#include "sharing/services/RegisterServiceClasses.h"

namespace zv {

namespace {

std::string localized(const char* english) { return Bundle::mainBundle()->localizedStringForKey(english, english); }

}  // namespace

void AppDelegate::initializeClass() {
  auto prompt = RatingPrompt::sharedInstance();
  prompt->setPromptAtLaunch(true);
  prompt->setDaysUntilPrompt(10);
  prompt->setUsesUntilPrompt(10);
  prompt->setEventsUntilPrompt(5);
  prompt->setRemindPeriod(1);
  prompt->setMessageTitle(localized("Enjoying Zerivudor?"));
  prompt->setMessage(localized("If Zerivudor helps your breathing, would you rate it in the store? "
                               "It takes less than a minute. Thank you!"));
  prompt->setCancelButtonLabel(localized("No, Thanks"));
  prompt->setRemindButtonLabel(localized("Remind Me Later"));
  prompt->setRateButtonLabel(localized("Rate Zerivudor"));
}

bool AppDelegate::applicationDidFinishLaunchingWithOptions(ui::Application&, const Ref<Dictionary>&) {
  RatingPrompt::sharedInstance()->setDelegate(
      std::static_pointer_cast<AppDelegate>(shared_from_this()));
  // Requests that need credentials nobody else gives ask the user through the login dialog.
  HTTPAuthenticationDialog::registerPresenter();
  // Sharing: its classes, the application's configuration, then the shares queued while offline.
  registerSharingCoreClasses();
  registerSharingServicesClasses();
  registerSharingConfiguratorClass();
  SXConfiguration::sharedInstanceWithConfiguratorClass("SharingConfigurator");
  SX::flushOfflineQueue();
  return true;
}

bool AppDelegate::applicationOpenURLSourceApplicationAnnotation(ui::Application&, const Ref<URL>& url,
                                                                const std::string&, const ObjectPtr&) {
  if (!url || !SXConfiguration::isConfigured()) return false;
  const auto appId = SXConfigString("facebookAppId").value_or("");
  const auto scheme = url->lowercaseScheme().value_or("");
  if (appId.empty() || !scheme.starts_with("fb" + ascii::lowercase(appId))) return false;
  const ClassInfo* facebook = classNamed("SXFacebook");
  auto handle = facebook ? facebook->classMethod("handleOpenURL") : nullptr;
  return handle && boolValueOf(handle({url}));
}

void AppDelegate::recordGoodResult() { RatingPrompt::sharedInstance()->logEvent(true); }

}  // namespace zv
