#pragma once
// The application's sharing configuration: the application's name, address and callback
// addresses, the bar tints of the Twitter and Facebook screens, and the service keys and secrets.
// Keys and secrets are not part of the program: they are read from the file
// "SharingConfiguration.plist" in the application home (a property-list dictionary, key ->
// string, or number for "twitterUseXAuth" and "readabilityUseXAuth"; meant to be mode 0600).
// Without the file every secret is empty; an entry of the wrong kind is skipped with a log line
// naming the key (never the value); a file others may read is used, with a warning. A file that
// cannot be used (malformed, unreadable, not a regular file, larger than
// kSharingConfigurationReadLimit) leaves every key empty, with one log line saying why.
//
// Installed at launch by class name: SXConfiguration::sharedInstanceWithConfiguratorClass(
// "SharingConfigurator") after registerSharingConfiguratorClass().
//
// Threads: any (the file is read once, when the configurator is made; it is immutable after).

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "sharing/core/SXConfiguration.h"

namespace zv {

inline constexpr const char* kSharingConfigurationFileName = "SharingConfiguration.plist";
// A configuration file is a few kilobytes; anything larger is refused unread.
inline constexpr std::uint64_t kSharingConfigurationReadLimit = std::uint64_t{1} << 20;

class SharingConfigurator : public DefaultSXConfigurator {
 public:
  // Reads the file in the application home.
  SharingConfigurator();
  // Reads `file` (tests).
  explicit SharingConfigurator(const std::filesystem::path& file);

  static std::filesystem::path configurationFilePath();

  ObjectPtr appName() override;
  ObjectPtr appURL() override;
  ObjectPtr vkontakteAppId() override;
  ObjectPtr facebookAppId() override;
  ObjectPtr facebookLocalAppId() override;
  ObjectPtr readItLaterKey() override;
  ObjectPtr diigoKey() override;
  ObjectPtr twitterConsumerKey() override;
  ObjectPtr twitterSecret() override;
  ObjectPtr twitterCallbackUrl() override;
  ObjectPtr twitterUseXAuth() override;
  ObjectPtr twitterUsername() override;
  ObjectPtr evernoteHost() override;
  ObjectPtr evernoteConsumerKey() override;
  ObjectPtr evernoteSecret() override;
  ObjectPtr flickrConsumerKey() override;
  ObjectPtr flickrSecretKey() override;
  ObjectPtr flickrCallbackUrl() override;
  ObjectPtr bitLyLogin() override;
  ObjectPtr bitLyKey() override;
  ObjectPtr linkedInConsumerKey() override;
  ObjectPtr linkedInSecret() override;
  ObjectPtr linkedInCallbackUrl() override;
  ObjectPtr readabilityConsumerKey() override;
  ObjectPtr readabilitySecret() override;
  ObjectPtr readabilityUseXAuth() override;
  ObjectPtr foursquareV2ClientId() override;
  ObjectPtr foursquareV2RedirectURI() override;
  ObjectPtr barTintForView(const ObjectPtr& view) override;

 private:
  // The file's value of `key`, else `fallback`.
  ObjectPtr value(const char* key, ObjectPtr fallback) const;

  std::map<std::string, ObjectPtr> fileValues_;
};

void registerSharingConfiguratorClass();

}  // namespace zv
