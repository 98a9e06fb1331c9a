#include "utilities/RatingPrompt.h"

#include <cmath>
#include <filesystem>
#include <thread>

#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/foundation/Values.h"
#include "platform/net/NetErrors.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TextView.h"
#include "utilities/StoreLookupReply.h"

namespace zv {

namespace {

constexpr double kSecondsPerDay = 86400.0;

Ref<UserDefaults> defaults() { return UserDefaults::standardUserDefaults(); }

double now() { return ApplicationEnvironment::shared().clock()->now(); }

std::optional<std::string> infoString(const Bundle& bundle, std::string_view key) {
  return stringValueOf(bundle.objectForInfoDictionaryKey(key));
}

Ref<Date> dateForKey(const char* key) { return std::dynamic_pointer_cast<Date>(defaults()->objectForKey(key)); }

void storeAndSave(const char* key, const ObjectPtr& value) {
  if (value)
    defaults()->setObject(value, key);
  else
    defaults()->removeObjectForKey(key);
  defaults()->synchronize();
}

std::string percentEscaped(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string replacePlaceholder(std::string format, const std::string& value) {
  auto at = format.find("%@");
  if (at != std::string::npos) format.replace(at, 2, value);
  return format;
}

}  // namespace

Ref<RatingPrompt> RatingPrompt::sharedInstance() {
  static Ref<RatingPrompt>& shared = *new Ref<RatingPrompt>(make());
  return shared;
}

RatingPrompt::RatingPrompt() = default;

Ref<RatingPrompt> RatingPrompt::make() {
  auto prompt = std::make_shared<RatingPrompt>();
  auto bundle = Bundle::mainBundle();
  prompt->appStoreCountry_ = ApplicationEnvironment::shared().countryCode();
  prompt->applicationName_ =
      infoString(*bundle, "CFBundleDisplayName").value_or(infoString(*bundle, "CFBundleName").value_or(""));
  prompt->applicationVersion_ =
      infoString(*bundle, "CFBundleShortVersionString").value_or(infoString(*bundle, "CFBundleVersion").value_or(""));
  prompt->applicationBundleID_ = bundle->bundleIdentifier().value_or("");
  prompt->cancelButtonLabel_ = prompt->localizedStringForKey("No, Thanks");
  prompt->remindButtonLabel_ = prompt->localizedStringForKey("Remind Me Later");
  prompt->rateButtonLabel_ = prompt->localizedStringForKey("Rate It Now");
  prompt->previousOrientation_ = ui::Application::sharedApplication()->statusBarOrientation();

  std::weak_ptr<RatingPrompt> weak = prompt;
  auto center = NotificationCenter::defaultCenter();
  prompt->observerTokens_.push_back(
      center->addObserverForName(ui::kApplicationWillEnterForegroundNotification, nullptr, [weak](const auto&) {
        if (auto self = weak.lock()) self->applicationWillEnterForeground();
      }));
  prompt->observerTokens_.push_back(
      center->addObserverForName(ui::kDeviceOrientationDidChangeNotification, nullptr, [weak](const auto&) {
        performOnMainThread(
            [weak] {
              if (auto self = weak.lock()) self->didRotate();
            },
            false);
      }));
  performOnMainThread(
      [weak] {
        if (auto self = weak.lock()) self->applicationLaunched();
      },
      false);
  return prompt;
}

RatingPrompt::~RatingPrompt() {
  auto center = NotificationCenter::defaultCenter();
  for (const auto& token : observerTokens_) center->removeObserver(token);
}

// --- Texts ---

std::string RatingPrompt::localizedStringForKey(const std::string& key) {
  if (!localizationChosen_) {
    localizationChosen_ = true;
    auto main = Bundle::mainBundle();
    if (auto folder = main->pathForResource("RatingPrompt", "bundle")) {
      localizationFolder_ = *folder;
      for (const auto& language : ApplicationEnvironment::shared().preferredLanguages()) {
        auto candidate = std::filesystem::path(*folder) / (language + ".lproj");
        std::error_code ignored;
        if (std::filesystem::is_directory(candidate, ignored)) {
          localizationFolder_ = candidate.string();
          break;
        }
      }
    }
  }
  if (localizationFolder_) return Bundle::bundleWithPath(*localizationFolder_)->localizedStringForKey(key, key);
  return Bundle::mainBundle()->localizedStringForKey(key, key);
}

std::string RatingPrompt::messageTitle() {
  if (messageTitle_) return *messageTitle_;
  return replacePlaceholder(localizedStringForKey("Rate %@"), applicationName_);
}

std::string RatingPrompt::message() {
  if (message_) return *message_;
  const char* key = appStoreGenreID_ == kGamesGenreID
                        ? "If you enjoy playing %@, would you mind taking a moment to rate it? It won't take more "
                          "than a minute. Thanks for your support!"
                        : "If you enjoy using %@, would you mind taking a moment to rate it? It won't take more than "
                          "a minute. Thanks for your support!";
  return replacePlaceholder(localizedStringForKey(key), applicationName_);
}

Ref<URL> RatingPrompt::ratingsURL() const {
  if (ratingsURL_) return ratingsURL_;
  std::string base = std::string("itms-apps://") + kStoreReviewHost;
  double system = std::atof(ApplicationEnvironment::shared().systemVersion().c_str());
  if (system >= 6.0) return URL::make(base + "/app/id" + std::to_string(appStoreID_));
  return URL::make(base + "/WebObjects/MZStore.woa/wa/viewContentsUserReviews?type=Purple+Software&id=" +
                   std::to_string(appStoreID_));
}

std::shared_ptr<RatingPromptDelegate> RatingPrompt::delegate() {
  if (auto held = delegate_.lock()) return held;
  auto fromApplication =
      std::dynamic_pointer_cast<RatingPromptDelegate>(ui::Application::sharedApplication()->delegate());
  if (fromApplication) delegate_ = fromApplication;
  return fromApplication;
}

// --- Counters ---

Ref<Date> RatingPrompt::firstUsed() const { return dateForKey(kRatingPromptFirstUsedKey); }
void RatingPrompt::setFirstUsed(const Ref<Date>& date) { storeAndSave(kRatingPromptFirstUsedKey, date); }
Ref<Date> RatingPrompt::lastReminded() const { return dateForKey(kRatingPromptLastRemindedKey); }
void RatingPrompt::setLastReminded(const Ref<Date>& date) { storeAndSave(kRatingPromptLastRemindedKey, date); }
std::int64_t RatingPrompt::usesCount() const { return defaults()->integerForKey(kRatingPromptUseCountKey); }
void RatingPrompt::setUsesCount(std::int64_t count) { storeAndSave(kRatingPromptUseCountKey, box(count)); }
std::int64_t RatingPrompt::eventCount() const { return defaults()->integerForKey(kRatingPromptEventCountKey); }
void RatingPrompt::setEventCount(std::int64_t count) { storeAndSave(kRatingPromptEventCountKey, box(count)); }

bool RatingPrompt::declinedThisVersion() const {
  return defaults()->stringForKey(kRatingPromptDeclinedVersionKey) == applicationVersion_;
}
void RatingPrompt::setDeclinedThisVersion(bool declined) {
  storeAndSave(kRatingPromptDeclinedVersionKey, declined ? box(applicationVersion_) : nullptr);
}
bool RatingPrompt::ratedThisVersion() const {
  return defaults()->stringForKey(kRatingPromptRatedVersionKey) == applicationVersion_;
}
void RatingPrompt::setRatedThisVersion(bool rated) {
  storeAndSave(kRatingPromptRatedVersionKey, rated ? box(applicationVersion_) : nullptr);
}

void RatingPrompt::incrementUseCount() { setUsesCount(usesCount() + 1); }
void RatingPrompt::incrementEventCount() { setEventCount(eventCount() + 1); }

// --- Life cycle ---

void RatingPrompt::applicationLaunched() {
  if (defaults()->stringForKey(kRatingPromptLastVersionUsedKey) != applicationVersion_) {
    defaults()->setObject(box(applicationVersion_), kRatingPromptLastVersionUsedKey);
    defaults()->setObject(Date::make(now()), kRatingPromptFirstUsedKey);
    defaults()->setInteger(0, kRatingPromptUseCountKey);
    defaults()->setInteger(0, kRatingPromptEventCountKey);
    defaults()->removeObjectForKey(kRatingPromptLastRemindedKey);
    defaults()->synchronize();
    if (auto listener = delegate(); listener && listener->respondsToSelector("ratingPromptDidDetectAppUpdate"))
      listener->ratingPromptDidDetectAppUpdate();
  }
  incrementUseCount();
  if (promptAtLaunch_ && shouldPromptForRating()) promptIfNetworkAvailable();
}

void RatingPrompt::applicationWillEnterForeground() {
  if (ui::Application::sharedApplication()->applicationState() != ui::ApplicationState::Background) return;
  incrementUseCount();
  if (promptAtLaunch_ && shouldPromptForRating()) promptIfNetworkAvailable();
}

void RatingPrompt::logEvent(bool deferPrompt) {
  incrementEventCount();
  if (!deferPrompt && shouldPromptForRating()) promptIfNetworkAvailable();
}

bool RatingPrompt::shouldPromptForRating() {
  if (debug_) return true;
  if (ratedThisVersion() || declinedThisVersion()) return false;
  auto first = firstUsed();
  if (daysUntilPrompt_ > 0 && !first) return false;
  double current = now();
  if (first && current - first->timeIntervalSinceReferenceDate() < daysUntilPrompt_ * kSecondsPerDay) return false;
  if (usesCount() < usesUntilPrompt_ && eventCount() < eventsUntilPrompt_) return false;
  auto reminded = lastReminded();
  if (!reminded) return true;
  return current - reminded->timeIntervalSinceReferenceDate() >= remindPeriod_ * kSecondsPerDay;
}

void RatingPrompt::promptIfNetworkAvailable() {
  if (currentlyChecking_) return;
  currentlyChecking_ = true;
  // The check reads a copy: the properties belong to the main thread.
  CheckSettings settings{appStoreCountry_, applicationBundleID_, applicationVersion_, appStoreID_,
                         debug_, onlyPromptIfLatestVersion_, appStoreGenreID_ != 0};
  auto self = std::static_pointer_cast<RatingPrompt>(shared_from_this());
  // The prompt and its alert belong to the main thread: the check hands its reference over with
  // the outcome, so the last release (and the destructor) never runs on the check's thread.
  // A thread refused for now delays the check (detachThread): it still ends, so later checks run.
  detachThread([self, settings]() mutable {
    CheckOutcome outcome;
    {
      std::lock_guard lock(self->checkMutex_);
      outcome = checkStore(settings);
    }
    if (!performOnMainThread([self = std::move(self), outcome] { self->finishCheck(outcome); }, false)) {
      logError("RatingPrompt: the main run loop is gone; the store check's outcome is dropped");
    }
  }, "RatingPrompt");
}

RatingPrompt::CheckOutcome RatingPrompt::checkStore(const CheckSettings& settings) {
  CheckOutcome outcome;
  std::string address = std::string("https://") + kStoreLookupHost + "/" + percentEscaped(settings.country) +
                        "/lookup" +
                        (settings.appStoreID ? "?id=" + std::to_string(settings.appStoreID)
                                             : "?bundleId=" + percentEscaped(settings.bundleID));
  auto request = net::URLRequest::requestWithURL(URL::make(address), net::URLRequestCachePolicy::ReturnCacheDataElseLoad,
                                                 60.0);
  Ref<net::URLResponse> response;
  Ref<Error> error;
  auto data = net::URLConnection::sendSynchronousRequest(request, &response, &error, nullptr, kStoreLookupMaximumLength);
  if (!data) {
    outcome.error = error ? error : Error::make(kURLErrorDomain, -1, std::string("The store could not be reached"));
    return outcome;
  }
  std::string_view json(reinterpret_cast<const char*>(data->bytes().data()), data->bytes().size());
  auto bundleID = valueForKeyInJSON("bundleId", json);
  if ((!bundleID || *bundleID != settings.bundleID) && !settings.debug) {
    outcome.error = Error::make(kRatingPromptErrorDomain, RatingPromptErrorBundleIDMismatch,
                                std::string("Service bundleID and applicationBundleID did not match"));
    return outcome;
  }
  if (!settings.knowsGenre) {
    if (auto genre = valueForKeyInJSON("primaryGenreId", json)) {
      outcome.genreID = static_cast<std::uint32_t>(std::strtoul(genre->c_str(), nullptr, 10));
    }
  }
  if (!settings.appStoreID) {
    if (auto track = valueForKeyInJSON("trackId", json)) {
      std::uint64_t id = std::strtoull(track->c_str(), nullptr, 10);
      if (id) outcome.trackID = id;
    }
  }
  if (settings.onlyLatest && !settings.debug) {
    auto version = valueForKeyInJSON("version", json);
    if (version && compareNumerically(*version, settings.version) > 0) {
      outcome.error = Error::make(kRatingPromptErrorDomain, RatingPromptErrorNotLatestVersion,
                                  std::string("Installed app is not the latest version available"));
    }
  }
  return outcome;
}

void RatingPrompt::finishCheck(const CheckOutcome& outcome) {
  // Every way out clears the flag, so a later launch or event can check again.
  currentlyChecking_ = false;
  if (outcome.genreID && appStoreGenreID_ == 0) appStoreGenreID_ = *outcome.genreID;
  if (outcome.trackID && appStoreID_ == 0) appStoreID_ = *outcome.trackID;
  if (outcome.error) {
    if (auto listener = delegate(); listener && listener->respondsToSelector("ratingPromptCouldNotConnectToAppStore"))
      listener->ratingPromptCouldNotConnectToAppStore(outcome.error);
    return;
  }
  if (!appStoreID_ && !debug_) return;  // the store does not know the application's identifier
  auto listener = delegate();
  if (listener && listener->respondsToSelector("ratingPromptShouldPromptForRating") &&
      !listener->ratingPromptShouldPromptForRating()) {
    return;
  }
  promptForRating();
}

// --- Alert ---

void RatingPrompt::promptForRating() {
  if (visibleAlert_) return;
  std::vector<std::string> others{rateButtonLabel_};
  if (remindButtonLabel_) others.push_back(*remindButtonLabel_);
  auto self = std::static_pointer_cast<RatingPrompt>(shared_from_this());
  visibleAlert_ = ui::AlertView::make(messageTitle(), message(), std::weak_ptr<ui::AlertViewDelegate>(self),
                                      cancelButtonLabel_, others);
  visibleAlert_->show();
}

void RatingPrompt::willPresentAlertView(ui::AlertView& alert) {
  if (!disableAlertViewResizing_) resizeAlertView(alert);
}

void RatingPrompt::alertViewDidDismissWithButtonIndex(ui::AlertView& alert, long buttonIndex) {
  if (alert.cancelButtonIndex() < 0) ++buttonIndex;
  auto listener = delegate();
  if (buttonIndex == alert.cancelButtonIndex()) {
    setDeclinedThisVersion(true);
    if (listener && listener->respondsToSelector("ratingPromptUserDidDeclineToRateApp"))
      listener->ratingPromptUserDidDeclineToRateApp();
  } else if (buttonIndex == 2) {
    setLastReminded(Date::make(now()));
    if (listener && listener->respondsToSelector("ratingPromptUserDidRequestReminderToRateApp"))
      listener->ratingPromptUserDidRequestReminderToRateApp();
  } else {
    setRatedThisVersion(true);
    if (listener && listener->respondsToSelector("ratingPromptUserDidAttemptToRateApp"))
      listener->ratingPromptUserDidAttemptToRateApp();
    openRatingsPageInAppStore();
  }
  visibleAlert_ = nullptr;
}

void RatingPrompt::openRatingsPageInAppStore() { ui::Application::sharedApplication()->openURL(ratingsURL()); }

void RatingPrompt::resizeAlertView(ui::AlertView& alert) {
  if (disableAlertViewResizing_) return;
  double offset = 0, messageOffset = 0;
  int images = 0;
  for (const auto& view : alert.subviews()) {
    if (auto label = std::dynamic_pointer_cast<ui::Label>(view)) {
      const auto& text = label->text();
      auto before = label->frame();
      if (text && alert.title() && *text == *alert.title()) {
        label->sizeToFit();
        double height = label->frame().height();
        offset = height - std::max(0.0, 45.0 - height);
        if (height > before.height()) {
          offset = messageOffset = height - before.height();
          label->setFrame({before.x(), before.y(), before.width(), height});
        } else {
          label->setFrame(before);
        }
        continue;
      }
      if (text && alert.message() && *text == *alert.message()) {
        label->setAlpha(1.0);
        label->setLineBreakMode(ui::LineBreakMode::WordWrap);
        label->setNumberOfLines(0);
        label->sizeToFit();
        double height = label->frame().height();
        offset += height - before.height();
        label->setFrame({before.x(), before.y() + messageOffset, before.width(), height});
        continue;
      }
    }
    if (std::dynamic_pointer_cast<ui::TextView>(view)) {
      view->setAlpha(0);
    } else if (std::dynamic_pointer_cast<ui::ImageView>(view)) {
      if (images++ > 0) view->setAlpha(0);
    } else if (std::dynamic_pointer_cast<ui::Control>(view)) {
      auto frame = view->frame();
      view->setFrame({frame.x(), frame.y() + offset, frame.width(), frame.height()});
    }
  }
  auto frame = alert.frame();
  alert.setFrame({frame.x(), frame.y() - std::round(offset / 2), frame.width(), frame.height() + offset});
}

void RatingPrompt::didRotate() {
  auto orientation = ui::Application::sharedApplication()->statusBarOrientation();
  if (orientation == previousOrientation_) return;
  previousOrientation_ = orientation;
  if (visibleAlert_) resizeAlertView(*visibleAlert_);
}

}  // namespace zv
