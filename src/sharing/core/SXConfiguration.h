#pragma once
// Every adjustable value of the sharing framework is read through one process-wide
// SXConfiguration, which answers a configuration key by calling the installed configurator's
// operation of that very name (`configurationValue("appName")` calls `appName()`).
// DefaultSXConfigurator answers every key with its default; an application derives from it,
// overrides what it needs and installs an instance once at launch, before any sharer is used.
//
// Values are objects: String, Number (boolean, integer or float), Array of String, Color, or, for
// the class keys ("SXFormControllerSubclass" ...), the class name as a String when that class is
// registered (nullptr when it is not). An absent value (nullptr) reads as NO, 0 or empty; the
// helpers at the end of this header do that conversion.
//
// Keys a subclass adds beyond the 61 below are reached through the ClassRegistry: a configurator
// class that registers an instance method under the key's name answers it.
//
// Threads: installation and lookup take one lock; key resolution takes none (a configurator
// keeps no mutable state), so any thread may read configuration. Ownership: the installed
// instance and its configurator live until the process ends.

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"

namespace zv {

class DefaultSXConfigurator : public Object {
 public:
  DefaultSXConfigurator() = default;

  // Application identity.
  virtual ObjectPtr appName();
  virtual ObjectPtr appURL();
  // Facebook and Vkontakte.
  virtual ObjectPtr vkontakteAppId();
  virtual ObjectPtr facebookAppId();
  virtual ObjectPtr facebookLocalAppId();
  virtual ObjectPtr facebookListOfPermissions();
  // Bookmarking and reading services.
  virtual ObjectPtr readItLaterKey();
  virtual ObjectPtr diigoKey();
  virtual ObjectPtr readabilityConsumerKey();
  virtual ObjectPtr readabilitySecret();
  virtual ObjectPtr readabilityUseXAuth();
  // Twitter.
  virtual ObjectPtr forcePreIOS5TwitterAccess();
  virtual ObjectPtr twitterConsumerKey();
  virtual ObjectPtr twitterSecret();
  virtual ObjectPtr twitterCallbackUrl();
  virtual ObjectPtr twitterUseXAuth();
  virtual ObjectPtr twitterUsername();
  virtual ObjectPtr bitLyLogin();
  virtual ObjectPtr bitLyKey();
  // Note service, photo service, LinkedIn, Foursquare.
  virtual ObjectPtr evernoteHost();
  virtual ObjectPtr evernoteConsumerKey();
  virtual ObjectPtr evernoteSecret();
  virtual ObjectPtr flickrConsumerKey();
  virtual ObjectPtr flickrSecretKey();
  virtual ObjectPtr flickrCallbackUrl();
  virtual ObjectPtr linkedInConsumerKey();
  virtual ObjectPtr linkedInSecret();
  virtual ObjectPtr linkedInCallbackUrl();
  virtual ObjectPtr foursquareV2ClientId();
  virtual ObjectPtr foursquareV2RedirectURI();
  // Appearance. `barTintForView` is the one key with an argument (key "barTintForView:").
  virtual ObjectPtr barStyle();
  virtual ObjectPtr barTintForView(const ObjectPtr& view);
  virtual ObjectPtr formFontColor();
  virtual ObjectPtr formBackgroundColor();
  virtual ObjectPtr modalPresentationStyle();
  virtual ObjectPtr modalTransitionStyle();
  // Share menu, action sheet and favourites.
  virtual ObjectPtr shareMenuAlphabeticalOrder();
  virtual ObjectPtr sharersPlistName();
  virtual ObjectPtr showActionSheetMoreButton();
  virtual ObjectPtr defaultFavoriteURLSharers();
  virtual ObjectPtr defaultFavoriteImageSharers();
  virtual ObjectPtr defaultFavoriteTextSharers();
  virtual ObjectPtr defaultFavoriteFileSharers();
  virtual ObjectPtr autoOrderFavoriteSharers();
  virtual ObjectPtr SXActionSheetSubclass();
  virtual ObjectPtr SXShareMenuSubclass();
  virtual ObjectPtr SXShareMenuCellSubclass();
  virtual ObjectPtr SXFormControllerSubclass();
  virtual ObjectPtr maxFavCount();
  // Stored-key prefixes and behaviour switches.
  virtual ObjectPtr favsPrefixKey();
  virtual ObjectPtr authPrefix();
  virtual ObjectPtr allowOffline();
  virtual ObjectPtr allowAutoShare();
  // Defaults of a new share item.
  virtual ObjectPtr printOutputType();
  virtual ObjectPtr mailBody();
  virtual ObjectPtr isMailHTML();
  virtual ObjectPtr mailToRecipients();
  virtual ObjectPtr mailJPGQuality();
  virtual ObjectPtr sharedWithSignature();
  virtual ObjectPtr facebookURLSharePictureURI();
  virtual ObjectPtr facebookURLShareDescription();

  // The value of `key` (an operation name, "barTintForView:" with its colon); nullptr when this
  // configurator has no such operation. `object` is the argument of an operation that takes one.
  // A subclass may answer keys itself before falling back to this.
  virtual ObjectPtr valueForKey(std::string_view key, const ObjectPtr& object);
  // Whether `key` names an operation of this configurator.
  virtual bool answersKey(std::string_view key) const;
};

class SXConfiguration : public Object {
 public:
  // An instance holding `configurator` (not installed; sharedInstanceWithConfigurator installs).
  explicit SXConfiguration(Ref<DefaultSXConfigurator> configurator);

  // Installs the configurator; once per process. A second install raises "IllegalStateException"
  // ("SXConfiguration has already been configured with a delegate.") and the first stays.
  static Ref<SXConfiguration> sharedInstanceWithConfigurator(Ref<DefaultSXConfigurator> configurator);
  // Installs an instance of the configurator class registered under `className` (it must derive
  // from DefaultSXConfigurator); raises "IllegalStateException" when there is none.
  static Ref<SXConfiguration> sharedInstanceWithConfiguratorClass(std::string_view className);
  // The installed instance; raises "IllegalStateException" while nothing is installed.
  static Ref<SXConfiguration> sharedInstance();
  static bool isConfigured();
  // Tests only: forgets the installed instance so the next test can install its own.
  static void resetForTesting();

  ObjectPtr configurationValue(std::string_view key, const ObjectPtr& object = nullptr) const;
  const Ref<DefaultSXConfigurator>& configurator() const { return configurator_; }

  ObjectPtr copy() const override { return self(); }

 private:
  Ref<DefaultSXConfigurator> configurator_;
};

// The shared configuration's value of `key`, converted as consumers do: nullptr reads as NO, 0,
// 0.0, nullopt or an empty list; a value of another kind than asked reads the same way.
ObjectPtr SXConfigValue(std::string_view key, const ObjectPtr& object = nullptr);
bool SXConfigBool(std::string_view key);
std::int64_t SXConfigInteger(std::string_view key);
double SXConfigFloat(std::string_view key);
std::optional<std::string> SXConfigString(std::string_view key);
std::vector<std::string> SXConfigStringList(std::string_view key);

}  // namespace zv
