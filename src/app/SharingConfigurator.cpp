#include "app/SharingConfigurator.h"

#include <sys/stat.h>

#include <cerrno>
#include <set>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/Color.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv {

namespace {

// Every key the file may set; the two switches are numbers, the rest texts.
const std::set<std::string, std::less<>>& numberKeys() {
  static const auto& keys = *new std::set<std::string, std::less<>>({"twitterUseXAuth", "readabilityUseXAuth"});
  return keys;
}
const std::set<std::string, std::less<>>& fileKeys() {
  static const auto& keys = *new std::set<std::string, std::less<>>{
      "appName", "appURL", "vkontakteAppId", "facebookAppId", "facebookLocalAppId", "readItLaterKey", "diigoKey",
      "twitterConsumerKey", "twitterSecret", "twitterCallbackUrl", "twitterUseXAuth", "twitterUsername",
      "evernoteHost", "evernoteConsumerKey", "evernoteSecret", "flickrConsumerKey", "flickrSecretKey",
      "flickrCallbackUrl", "bitLyLogin", "bitLyKey", "linkedInConsumerKey", "linkedInSecret", "linkedInCallbackUrl",
      "readabilityConsumerKey", "readabilitySecret", "readabilityUseXAuth", "foursquareV2ClientId",
      "foursquareV2RedirectURI"};
  return keys;
}

void logLine(const std::string& message) { log(LogLevel::Info, "SharingConfigurator: " + message); }

}  // namespace

std::filesystem::path SharingConfigurator::configurationFilePath() {
  return ApplicationEnvironment::shared().homeDirectory() / kSharingConfigurationFileName;
}

SharingConfigurator::SharingConfigurator() : SharingConfigurator(configurationFilePath()) {}

SharingConfigurator::SharingConfigurator(const std::filesystem::path& file) {
  // The reader opens without blocking and takes only a regular file of a sensible size, so a pipe,
  // a folder or a device in its place costs the launch nothing but this one line.
  Ref<Error> error;
  auto root = dyn<Dictionary>(storage::readPropertyList(file, &error, false, kSharingConfigurationReadLimit));
  if (!root) {
    if (error && error->domain() == kPOSIXErrorDomain && error->code() == ENOENT) return;
    logLine("cannot use " + file.string() + " (" + (error ? error->localizedDescription() : "not a dictionary") +
            "); every service key is empty");
    return;
  }
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0 && (info.st_mode & 077) != 0) {
    logLine(file.string() + " may be read by others; it holds secrets and should be mode 0600");
  }
  root->enumerate([&](const ObjectPtr& keyObject, const ObjectPtr& value) {
    auto key = dyn<String>(keyObject);
    if (!key || !fileKeys().contains(key->utf8())) {
      logLine("ignores the unknown entry " + describe(keyObject));
      return true;
    }
    const bool wantsNumber = numberKeys().contains(key->utf8());
    if (wantsNumber ? !dyn<Number>(value) : !dyn<String>(value)) {
      logLine("skips \"" + key->utf8() + "\": expected " + (wantsNumber ? "a number" : "a string") + ", found " +
              (value ? value->className() : "nothing"));
      return true;
    }
    fileValues_[key->utf8()] = value;
    return true;
  });
}

ObjectPtr SharingConfigurator::value(const char* key, ObjectPtr fallback) const {
  if (auto found = fileValues_.find(key); found != fileValues_.end()) return found->second;
  return fallback;
}

ObjectPtr SharingConfigurator::appName() { return value("appName", box("Tavrilune")); }
ObjectPtr SharingConfigurator::appURL() { return value("appURL", box("https://www.mirovast.com/tavrilune")); }
ObjectPtr SharingConfigurator::vkontakteAppId() { return value("vkontakteAppId", box("")); }
ObjectPtr SharingConfigurator::facebookAppId() { return value("facebookAppId", box("")); }
ObjectPtr SharingConfigurator::facebookLocalAppId() { return value("facebookLocalAppId", box("")); }
ObjectPtr SharingConfigurator::readItLaterKey() { return value("readItLaterKey", box("")); }
ObjectPtr SharingConfigurator::diigoKey() { return value("diigoKey", box("")); }
ObjectPtr SharingConfigurator::twitterConsumerKey() { return value("twitterConsumerKey", box("")); }
ObjectPtr SharingConfigurator::twitterSecret() { return value("twitterSecret", box("")); }
ObjectPtr SharingConfigurator::twitterCallbackUrl() { return value("twitterCallbackUrl", box("http://www.mirovast.com")); }
ObjectPtr SharingConfigurator::twitterUseXAuth() { return value("twitterUseXAuth", box(0)); }
ObjectPtr SharingConfigurator::twitterUsername() { return value("twitterUsername", box("")); }
ObjectPtr SharingConfigurator::evernoteHost() { return value("evernoteHost", box("sandbox.notes.mirovast.com")); }
ObjectPtr SharingConfigurator::evernoteConsumerKey() { return value("evernoteConsumerKey", box("")); }
ObjectPtr SharingConfigurator::evernoteSecret() { return value("evernoteSecret", box("")); }
ObjectPtr SharingConfigurator::flickrConsumerKey() { return value("flickrConsumerKey", box("")); }
ObjectPtr SharingConfigurator::flickrSecretKey() { return value("flickrSecretKey", box("")); }
ObjectPtr SharingConfigurator::flickrCallbackUrl() { return value("flickrCallbackUrl", box("app://flickr")); }
ObjectPtr SharingConfigurator::bitLyLogin() { return value("bitLyLogin", box("")); }
ObjectPtr SharingConfigurator::bitLyKey() { return value("bitLyKey", box("")); }
ObjectPtr SharingConfigurator::linkedInConsumerKey() { return value("linkedInConsumerKey", box("")); }
ObjectPtr SharingConfigurator::linkedInSecret() { return value("linkedInSecret", box("")); }
ObjectPtr SharingConfigurator::linkedInCallbackUrl() {
  return value("linkedInCallbackUrl", box("http://www.mirovast.com/callback"));
}
ObjectPtr SharingConfigurator::readabilityConsumerKey() { return value("readabilityConsumerKey", box("")); }
ObjectPtr SharingConfigurator::readabilitySecret() { return value("readabilitySecret", box("")); }
ObjectPtr SharingConfigurator::readabilityUseXAuth() { return value("readabilityUseXAuth", box(1)); }
ObjectPtr SharingConfigurator::foursquareV2ClientId() { return value("foursquareV2ClientId", box("")); }
ObjectPtr SharingConfigurator::foursquareV2RedirectURI() { return value("foursquareV2RedirectURI", box("app://foursquare")); }

ObjectPtr SharingConfigurator::barTintForView(const ObjectPtr& view) {
  if (!view) return nullptr;
  const std::string name = view->className();
  if (name == "SXTwitter") return graphics::Color::make(0, 151.0 / 255, 222.0 / 255, 1);
  if (name == "SXFacebook") return graphics::Color::make(59.0 / 255, 89.0 / 255, 152.0 / 255, 1);
  return nullptr;
}

void registerSharingConfiguratorClass() {
  ClassRegistry::shared().registerClass<SharingConfigurator>("DefaultSXConfigurator");
}

}  // namespace zv
