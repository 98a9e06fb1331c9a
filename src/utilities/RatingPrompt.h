#pragma once
// Asks the user, at most once per application version, to rate the application in the store.
// Uses and significant events are counted in the standard user defaults; after enough days since
// the first use of this version and enough uses or events, a background check asks the store's
// lookup service whether the application is known there (and, by default, whether this is its
// latest version), and then an alert offers: rate now, remind me later, no thanks.
//
// Threads: every call on the main thread, except the store check, which runs on a thread of its
// own with a snapshot of the settings it needs and reports back to the main thread (waiting).
// One check runs at a time. Ownership: sharedInstance() lives until the process ends; the delegate
// is not retained; the visible alert is retained.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Types.h"

namespace zv {

class RatingPrompt;

inline constexpr const char* kRatingPromptErrorDomain = "RatingPrompt";
enum RatingPromptErrorCode {
  RatingPromptErrorNotLatestVersion = 1,
  RatingPromptErrorBundleIDMismatch = 2,
};

// User-defaults keys.
inline constexpr const char* kRatingPromptFirstUsedKey = "RatingPromptFirstUsed";
inline constexpr const char* kRatingPromptLastRemindedKey = "RatingPromptLastReminded";
inline constexpr const char* kRatingPromptUseCountKey = "RatingPromptUseCount";
inline constexpr const char* kRatingPromptEventCountKey = "RatingPromptEventCount";
inline constexpr const char* kRatingPromptDeclinedVersionKey = "RatingPromptDeclinedVersion";
inline constexpr const char* kRatingPromptRatedVersionKey = "RatingPromptRatedVersionChecked";
inline constexpr const char* kRatingPromptLastVersionUsedKey = "RatingPromptLastVersionUsed";

// The store's hosts: the lookup service (https) and the review page (the store's own scheme).
inline constexpr const char* kStoreLookupHost = "lookup.store.mirovast.com";
inline constexpr const char* kStoreReviewHost = "store.mirovast.com";
// The most of the lookup service's answer the check reads; a longer one fails the check.
inline constexpr std::size_t kStoreLookupMaximumLength = std::size_t{1} << 20;
// The genre whose message speaks of playing.
inline constexpr std::uint32_t kGamesGenreID = 6014;

// Every call is optional; the defaults leave the prompt's own behaviour in place.
class RatingPromptDelegate : public Protocol {
 public:
  virtual void ratingPromptCouldNotConnectToAppStore(const Ref<Error>& error) { (void)error; }
  virtual void ratingPromptDidDetectAppUpdate() {}
  // Asked only when the delegate responds to it.
  virtual bool ratingPromptShouldPromptForRating() { return true; }
  virtual void ratingPromptUserDidAttemptToRateApp() {}
  virtual void ratingPromptUserDidDeclineToRateApp() {}
  virtual void ratingPromptUserDidRequestReminderToRateApp() {}
};

class RatingPrompt : public Object, public ui::AlertViewDelegate {
 public:
  static Ref<RatingPrompt> sharedInstance();
  // A new prompt (the shared one is made this way): observes the foreground and orientation
  // notifications and queues applicationLaunched on the main run loop, so that configuration made
  // before the loop turns takes effect.
  static Ref<RatingPrompt> make();
  ~RatingPrompt() override;

  // Configuration.
  std::uint64_t appStoreID() const { return appStoreID_; }
  void setAppStoreID(std::uint64_t id) { appStoreID_ = id; }
  std::uint32_t appStoreGenreID() const { return appStoreGenreID_; }
  void setAppStoreGenreID(std::uint32_t id) { appStoreGenreID_ = id; }
  const std::string& appStoreCountry() const { return appStoreCountry_; }
  void setAppStoreCountry(std::string country) { appStoreCountry_ = std::move(country); }
  const std::string& applicationName() const { return applicationName_; }
  void setApplicationName(std::string name) { applicationName_ = std::move(name); }
  const std::string& applicationVersion() const { return applicationVersion_; }
  void setApplicationVersion(std::string version) { applicationVersion_ = std::move(version); }
  const std::string& applicationBundleID() const { return applicationBundleID_; }
  void setApplicationBundleID(std::string id) { applicationBundleID_ = std::move(id); }
  float daysUntilPrompt() const { return daysUntilPrompt_; }
  void setDaysUntilPrompt(float days) { daysUntilPrompt_ = days; }
  unsigned usesUntilPrompt() const { return usesUntilPrompt_; }
  void setUsesUntilPrompt(unsigned uses) { usesUntilPrompt_ = uses; }
  unsigned eventsUntilPrompt() const { return eventsUntilPrompt_; }
  void setEventsUntilPrompt(unsigned events) { eventsUntilPrompt_ = events; }
  float remindPeriod() const { return remindPeriod_; }
  void setRemindPeriod(float days) { remindPeriod_ = days; }
  // Unset texts read as the localized defaults (with the application's name).
  std::string messageTitle();
  void setMessageTitle(std::optional<std::string> title) { messageTitle_ = std::move(title); }
  std::string message();
  void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
  std::optional<std::string> cancelButtonLabel() const { return cancelButtonLabel_; }
  void setCancelButtonLabel(std::optional<std::string> label) { cancelButtonLabel_ = std::move(label); }
  // No reminder button when nullopt.
  std::optional<std::string> remindButtonLabel() const { return remindButtonLabel_; }
  void setRemindButtonLabel(std::optional<std::string> label) { remindButtonLabel_ = std::move(label); }
  std::string rateButtonLabel() const { return rateButtonLabel_; }
  void setRateButtonLabel(std::string label) { rateButtonLabel_ = std::move(label); }
  // Unset: the store's review page of appStoreID.
  Ref<URL> ratingsURL() const;
  void setRatingsURL(Ref<URL> url) { ratingsURL_ = std::move(url); }
  bool disableAlertViewResizing() const { return disableAlertViewResizing_; }
  void setDisableAlertViewResizing(bool disable) { disableAlertViewResizing_ = disable; }
  bool onlyPromptIfLatestVersion() const { return onlyPromptIfLatestVersion_; }
  void setOnlyPromptIfLatestVersion(bool only) { onlyPromptIfLatestVersion_ = only; }
  bool promptAtLaunch() const { return promptAtLaunch_; }
  void setPromptAtLaunch(bool prompt) { promptAtLaunch_ = prompt; }
  bool debug() const { return debug_; }
  void setDebug(bool debug) { debug_ = debug; }
  // Unset: the application's delegate when it adopts RatingPromptDelegate (and then it is kept).
  std::shared_ptr<RatingPromptDelegate> delegate();
  void setDelegate(std::weak_ptr<RatingPromptDelegate> delegate) { delegate_ = std::move(delegate); }
  const Ref<ui::AlertView>& visibleAlert() const { return visibleAlert_; }
  bool currentlyChecking() const { return currentlyChecking_; }

  // Counters, kept in the standard user defaults (each setter saves them at once).
  Ref<Date> firstUsed() const;
  void setFirstUsed(const Ref<Date>& date);
  Ref<Date> lastReminded() const;
  void setLastReminded(const Ref<Date>& date);
  std::int64_t usesCount() const;
  void setUsesCount(std::int64_t count);
  std::int64_t eventCount() const;
  void setEventCount(std::int64_t count);
  bool declinedThisVersion() const;
  void setDeclinedThisVersion(bool declined);
  bool ratedThisVersion() const;
  void setRatedThisVersion(bool rated);
  void incrementUseCount();
  void incrementEventCount();

  // Life cycle.
  void applicationLaunched();
  void applicationWillEnterForeground();
  void logEvent(bool deferPrompt);
  bool shouldPromptForRating();
  // Starts the store check unless one runs.
  void promptIfNetworkAvailable();
  void promptForRating();
  void openRatingsPageInAppStore();
  std::string localizedStringForKey(const std::string& key);
  // Lays the alert out for longer texts (skipped when resizing is disabled).
  void resizeAlertView(ui::AlertView& alert);

  // Alert delegate.
  void willPresentAlertView(ui::AlertView& alert) override;
  void alertViewDidDismissWithButtonIndex(ui::AlertView& alert, long buttonIndex) override;

  RatingPrompt();

 private:
  struct CheckSettings {
    std::string country, bundleID, version;
    std::uint64_t appStoreID = 0;
    bool debug = false, onlyLatest = true;
    bool knowsGenre = false;
  };
  struct CheckOutcome {
    Ref<Error> error;
    std::optional<std::uint64_t> trackID;
    std::optional<std::uint32_t> genreID;
  };
  static CheckOutcome checkStore(const CheckSettings& settings);
  void finishCheck(const CheckOutcome& outcome);
  void didRotate();
  std::string defaultLocalizedText(const std::string& key);

  std::uint64_t appStoreID_ = 0;
  std::uint32_t appStoreGenreID_ = 0;
  std::string appStoreCountry_;
  std::string applicationName_;
  std::string applicationVersion_;
  std::string applicationBundleID_;
  float daysUntilPrompt_ = 10;
  unsigned usesUntilPrompt_ = 10;
  unsigned eventsUntilPrompt_ = 10;
  float remindPeriod_ = 1;
  std::optional<std::string> messageTitle_;
  std::optional<std::string> message_;
  std::optional<std::string> cancelButtonLabel_;
  std::optional<std::string> remindButtonLabel_;
  std::string rateButtonLabel_;
  Ref<URL> ratingsURL_;
  bool disableAlertViewResizing_ = false;
  bool onlyPromptIfLatestVersion_ = true;
  bool promptAtLaunch_ = true;
  bool debug_ = false;
  std::weak_ptr<RatingPromptDelegate> delegate_;
  Ref<ui::AlertView> visibleAlert_;
  bool currentlyChecking_ = false;
  ui::InterfaceOrientation previousOrientation_{};
  std::vector<ObjectPtr> observerTokens_;
  std::mutex checkMutex_;  // one store check at a time
  std::optional<std::string> localizationFolder_;
  bool localizationChosen_ = false;
};

}  // namespace zv
