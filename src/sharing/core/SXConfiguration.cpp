#include "sharing/core/SXConfiguration.h"

#include <map>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Exception.h"
#include "platform/graphics/Color.h"

namespace zv {

namespace {

Ref<Array> stringList(std::initializer_list<const char*> names) {
  std::vector<ObjectPtr> items;
  for (const char* name : names) items.push_back(box(name));
  return Array::make(std::move(items));
}

// A class key's value: the name when such a class is registered.
ObjectPtr registeredClass(const char* name) {
  return classNamed(name) != nullptr ? box(name) : nullptr;
}

using KeyReader = ObjectPtr (*)(DefaultSXConfigurator&, const ObjectPtr&);

#define SX_KEY(name) {#name, [](DefaultSXConfigurator& c, const ObjectPtr&) { return c.name(); }},

const std::map<std::string, KeyReader, std::less<>>& keyTable() {
  static const auto& table = *new std::map<std::string, KeyReader, std::less<>>{
      SX_KEY(appName) SX_KEY(appURL) SX_KEY(vkontakteAppId) SX_KEY(facebookAppId) SX_KEY(facebookLocalAppId)
      SX_KEY(facebookListOfPermissions) SX_KEY(readItLaterKey) SX_KEY(diigoKey) SX_KEY(readabilityConsumerKey)
      SX_KEY(readabilitySecret) SX_KEY(readabilityUseXAuth) SX_KEY(forcePreIOS5TwitterAccess)
      SX_KEY(twitterConsumerKey) SX_KEY(twitterSecret) SX_KEY(twitterCallbackUrl) SX_KEY(twitterUseXAuth)
      SX_KEY(twitterUsername) SX_KEY(bitLyLogin) SX_KEY(bitLyKey) SX_KEY(evernoteHost) SX_KEY(evernoteConsumerKey)
      SX_KEY(evernoteSecret) SX_KEY(flickrConsumerKey) SX_KEY(flickrSecretKey) SX_KEY(flickrCallbackUrl)
      SX_KEY(linkedInConsumerKey) SX_KEY(linkedInSecret) SX_KEY(linkedInCallbackUrl) SX_KEY(foursquareV2ClientId)
      SX_KEY(foursquareV2RedirectURI) SX_KEY(barStyle) SX_KEY(formFontColor) SX_KEY(formBackgroundColor)
      SX_KEY(modalPresentationStyle) SX_KEY(modalTransitionStyle) SX_KEY(shareMenuAlphabeticalOrder)
      SX_KEY(sharersPlistName) SX_KEY(showActionSheetMoreButton) SX_KEY(defaultFavoriteURLSharers)
      SX_KEY(defaultFavoriteImageSharers) SX_KEY(defaultFavoriteTextSharers) SX_KEY(defaultFavoriteFileSharers)
      SX_KEY(autoOrderFavoriteSharers) SX_KEY(SXActionSheetSubclass) SX_KEY(SXShareMenuSubclass)
      SX_KEY(SXShareMenuCellSubclass) SX_KEY(SXFormControllerSubclass) SX_KEY(maxFavCount) SX_KEY(favsPrefixKey)
      SX_KEY(authPrefix) SX_KEY(allowOffline) SX_KEY(allowAutoShare) SX_KEY(printOutputType) SX_KEY(mailBody)
      SX_KEY(isMailHTML) SX_KEY(mailToRecipients) SX_KEY(mailJPGQuality) SX_KEY(sharedWithSignature)
      SX_KEY(facebookURLSharePictureURI) SX_KEY(facebookURLShareDescription)
      {"barTintForView:", [](DefaultSXConfigurator& c, const ObjectPtr& object) { return c.barTintForView(object); }},
  };
  return table;
}

#undef SX_KEY

constexpr const char* kIllegalState = "IllegalStateException";

std::mutex& installLock() {
  static std::mutex lock;
  return lock;
}
Ref<SXConfiguration>& installedSlot() {
  static Ref<SXConfiguration>& slot = *new Ref<SXConfiguration>;
  return slot;
}

}  // namespace

ObjectPtr DefaultSXConfigurator::appName() { return box("My App Name"); }
ObjectPtr DefaultSXConfigurator::appURL() { return box("https://example.org/my-app"); }
ObjectPtr DefaultSXConfigurator::vkontakteAppId() { return box(""); }
ObjectPtr DefaultSXConfigurator::facebookAppId() { return box(""); }
ObjectPtr DefaultSXConfigurator::facebookLocalAppId() { return box(""); }
ObjectPtr DefaultSXConfigurator::facebookListOfPermissions() { return stringList({"publish_stream", "offline_access"}); }
ObjectPtr DefaultSXConfigurator::readItLaterKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::diigoKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::readabilityConsumerKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::readabilitySecret() { return box(""); }
ObjectPtr DefaultSXConfigurator::readabilityUseXAuth() { return box(1); }
ObjectPtr DefaultSXConfigurator::forcePreIOS5TwitterAccess() { return box(false); }
ObjectPtr DefaultSXConfigurator::twitterConsumerKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::twitterSecret() { return box(""); }
ObjectPtr DefaultSXConfigurator::twitterCallbackUrl() { return box(""); }
ObjectPtr DefaultSXConfigurator::twitterUseXAuth() { return box(0); }
ObjectPtr DefaultSXConfigurator::twitterUsername() { return box(""); }
ObjectPtr DefaultSXConfigurator::bitLyLogin() { return box(""); }
ObjectPtr DefaultSXConfigurator::bitLyKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::evernoteHost() { return box(""); }
ObjectPtr DefaultSXConfigurator::evernoteConsumerKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::evernoteSecret() { return box(""); }
ObjectPtr DefaultSXConfigurator::flickrConsumerKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::flickrSecretKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::flickrCallbackUrl() { return box("app://flickr"); }
ObjectPtr DefaultSXConfigurator::linkedInConsumerKey() { return box(""); }
ObjectPtr DefaultSXConfigurator::linkedInSecret() { return box(""); }
ObjectPtr DefaultSXConfigurator::linkedInCallbackUrl() { return box(""); }
ObjectPtr DefaultSXConfigurator::foursquareV2ClientId() { return box(""); }
ObjectPtr DefaultSXConfigurator::foursquareV2RedirectURI() { return box(""); }
ObjectPtr DefaultSXConfigurator::barStyle() { return box("UIBarStyleDefault"); }
ObjectPtr DefaultSXConfigurator::barTintForView(const ObjectPtr&) { return nullptr; }
ObjectPtr DefaultSXConfigurator::formFontColor() { return nullptr; }
ObjectPtr DefaultSXConfigurator::formBackgroundColor() { return nullptr; }
ObjectPtr DefaultSXConfigurator::modalPresentationStyle() { return box("UIModalPresentationFormSheet"); }
ObjectPtr DefaultSXConfigurator::modalTransitionStyle() { return box("UIModalTransitionStyleCoverVertical"); }
ObjectPtr DefaultSXConfigurator::shareMenuAlphabeticalOrder() { return box(0); }
ObjectPtr DefaultSXConfigurator::sharersPlistName() { return box("SXSharers.plist"); }
ObjectPtr DefaultSXConfigurator::showActionSheetMoreButton() { return box(true); }
ObjectPtr DefaultSXConfigurator::defaultFavoriteURLSharers() { return stringList({"SXTwitter", "SXFacebook", "SXReadItLater"}); }
ObjectPtr DefaultSXConfigurator::defaultFavoriteImageSharers() { return stringList({"SXMail", "SXFacebook", "SXCopy"}); }
ObjectPtr DefaultSXConfigurator::defaultFavoriteTextSharers() { return stringList({"SXMail", "SXTwitter", "SXFacebook"}); }
ObjectPtr DefaultSXConfigurator::defaultFavoriteFileSharers() { return stringList({"SXMail", "SXEvernote"}); }
ObjectPtr DefaultSXConfigurator::autoOrderFavoriteSharers() { return box(true); }
ObjectPtr DefaultSXConfigurator::SXActionSheetSubclass() { return registeredClass("SXActionSheet"); }
ObjectPtr DefaultSXConfigurator::SXShareMenuSubclass() { return registeredClass("SXShareMenu"); }
ObjectPtr DefaultSXConfigurator::SXShareMenuCellSubclass() { return registeredClass("TableViewCell"); }
ObjectPtr DefaultSXConfigurator::SXFormControllerSubclass() { return registeredClass("SXFormController"); }
ObjectPtr DefaultSXConfigurator::maxFavCount() { return box(3); }
ObjectPtr DefaultSXConfigurator::favsPrefixKey() { return box("SX_FAVS_"); }
ObjectPtr DefaultSXConfigurator::authPrefix() { return box("SX_AUTH_"); }
ObjectPtr DefaultSXConfigurator::allowOffline() { return box(true); }
ObjectPtr DefaultSXConfigurator::allowAutoShare() { return box(true); }
ObjectPtr DefaultSXConfigurator::printOutputType() { return box(1); }
ObjectPtr DefaultSXConfigurator::mailBody() { return nullptr; }
ObjectPtr DefaultSXConfigurator::isMailHTML() { return box(1); }
ObjectPtr DefaultSXConfigurator::mailToRecipients() { return nullptr; }
ObjectPtr DefaultSXConfigurator::mailJPGQuality() { return box(1.0f); }
ObjectPtr DefaultSXConfigurator::sharedWithSignature() { return box(0); }
ObjectPtr DefaultSXConfigurator::facebookURLSharePictureURI() { return nullptr; }
ObjectPtr DefaultSXConfigurator::facebookURLShareDescription() { return nullptr; }

bool DefaultSXConfigurator::answersKey(std::string_view key) const {
  if (keyTable().contains(key)) return true;
  const ClassInfo* info = classNamed(className());
  return info != nullptr && info->instancesRespondToSelector(key);
}

ObjectPtr DefaultSXConfigurator::valueForKey(std::string_view key, const ObjectPtr& object) {
  const auto& table = keyTable();
  if (auto found = table.find(key); found != table.end()) return found->second(*this, object);
  const ClassInfo* info = classNamed(className());
  if (info == nullptr || !info->instancesRespondToSelector(key)) return nullptr;
  auto method = info->instanceMethod(key);
  ClassInfo::Arguments arguments;
  if (object) arguments.push_back(object);
  return method ? method(*this, arguments) : nullptr;
}

SXConfiguration::SXConfiguration(Ref<DefaultSXConfigurator> configurator) : configurator_(std::move(configurator)) {}

// The lock guards only the slot: nothing made or called under it takes it again, so an install
// cannot deadlock, and an instance made outside an install never blocks a later install.
Ref<SXConfiguration> SXConfiguration::sharedInstanceWithConfigurator(Ref<DefaultSXConfigurator> configurator) {
  if (!configurator) Exception::raise("NSInvalidArgumentException", "A configurator must be given.");
  auto instance = std::make_shared<SXConfiguration>(std::move(configurator));
  std::lock_guard lock(installLock());
  if (installedSlot()) {
    Exception::raise(kIllegalState, "SXConfiguration has already been configured with a delegate.");
  }
  installedSlot() = instance;
  return instance;
}

Ref<SXConfiguration> SXConfiguration::sharedInstanceWithConfiguratorClass(std::string_view className) {
  const ClassInfo* info = classNamed(className);
  auto configurator = info ? dyn<DefaultSXConfigurator>(info->create()) : nullptr;
  if (!configurator) {
    Exception::raise(kIllegalState, "No configurator class named " + std::string(className) +
                                        " deriving from DefaultSXConfigurator is registered.");
  }
  return sharedInstanceWithConfigurator(std::move(configurator));
}

Ref<SXConfiguration> SXConfiguration::sharedInstance() {
  std::lock_guard lock(installLock());
  if (!installedSlot()) {
    Exception::raise(kIllegalState,
                     "Sharing must be configured before use. Use your subclass of DefaultSXConfigurator, for more "
                     "info see docs/ARCHITECTURE.md (Sharing framework). Example: SharingDemoConfigurator in the "
                     "demo app");
  }
  return installedSlot();
}

bool SXConfiguration::isConfigured() {
  std::lock_guard lock(installLock());
  return installedSlot() != nullptr;
}

void SXConfiguration::resetForTesting() {
  std::lock_guard lock(installLock());
  installedSlot().reset();
}

ObjectPtr SXConfiguration::configurationValue(std::string_view key, const ObjectPtr& object) const {
  return configurator_->valueForKey(key, object);
}

ObjectPtr SXConfigValue(std::string_view key, const ObjectPtr& object) {
  return SXConfiguration::sharedInstance()->configurationValue(key, object);
}

bool SXConfigBool(std::string_view key) { return boolValueOf(SXConfigValue(key)); }
std::int64_t SXConfigInteger(std::string_view key) { return integerValueOf(SXConfigValue(key)); }
double SXConfigFloat(std::string_view key) { return doubleValueOf(SXConfigValue(key)); }

std::optional<std::string> SXConfigString(std::string_view key) {
  auto value = dyn<String>(SXConfigValue(key));
  if (!value) return std::nullopt;
  return value->utf8();
}

std::vector<std::string> SXConfigStringList(std::string_view key) {
  std::vector<std::string> names;
  if (auto list = dyn<Array>(SXConfigValue(key))) {
    for (const auto& entry : *list) {
      if (auto name = dyn<String>(entry)) names.push_back(name->utf8());
    }
  }
  return names;
}

}  // namespace zv
