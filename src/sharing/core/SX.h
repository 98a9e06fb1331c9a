#pragma once
// The sharing framework's hub: the singleton that presents sharer screens modally over whatever
// the application shows and dismisses them again, one at a time; and class operations for the
// favourite sharers per share type, the stored login values in the keychain, the sharers list,
// connectivity, errors and the offline queue.
//
// Presentation: showViewController presents from the top screen over the root (the
// application's rootViewController when set, else the key window's screen). While a screen is
// current, a new one waits as pendingView until the current one's dismissal is reported
// (viewWasDismissed, from the screens' viewDidDisappear or from the dismissal's own completion,
// so isDismissingView is cleared on every path). A report while the current screen is still
// presented and not being dismissed comes from another screen and changes nothing. A hide asked
// for during the current screen's presentation runs once that presentation has ended.
// Every screen comes with a "taken away" callback, so that no screen a share waits on can be
// shown without saying how it ends: the callback runs once when the hub lets the screen go (its
// dismissal reported, dropped while it waited as pendingView for a newer one, or with nothing to
// present from), and its owner ends what the screen was for (a login page: the login is not made,
// its attempt ends and the share waiting for it is cancelled); an owner whose screen already
// reported ignores it. A sharer showing itself needs no callback of its own: the hub asks the
// sharer (SXSharer::screenTakenAway), whose form the share waits on ends the share. A screen shown
// again while it is current or waiting keeps its place: it is not taken away in between, and the
// callback of its newest showing is the one kept.
//
// Stored values: favourites in the user defaults ("SX_FAVS_<type>", exclusions "SXExcluded"),
// login values as keychain generic passwords (service "SX_AUTH_" + sharer id, account = field
// key). Keychain failures reach the caller through the error slot. Removing a login value of a
// sharer (every logout does) abandons that service's login attempts under way (SXLoginAttempt), so
// no login answered after a logout is kept; logoutOfService abandons them too.
//
// Offline queue: addToOfflineQueue and flushOfflineQueue forward to the handlers the offline
// queue installs (setOfflineQueueHandlers); without handlers a share cannot be queued (false) and
// a flush does nothing. A flush never throws (a handler's exception is logged).
//
// Threads: presentation, favourites and the sharers list on the main thread; login values,
// error, connected and the text helpers on any thread. isDismissingView is atomic.
// Ownership: the singleton lives for the process; it retains currentView and pendingView and
// keeps the roots weakly (the application's screen is not retained).

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Values.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/ui/Types.h"
#include "platform/ui/ViewController.h"
#include "sharing/core/SXItem.h"
#include "sharing/core/SXText.h"

namespace zv {

class SXSharer;

inline constexpr const char* kSXErrorDomain = "sharing";
inline constexpr const char* kSXHideCurrentViewFinished = "SXHideCurrentViewFinished";
inline constexpr const char* kSXExcludedKey = "SXExcluded";

class SX : public Object {
 public:
  static Ref<SX> currentHelper();

  // Presentation.
  static void setRootViewController(const Ref<ui::ViewController>& root);
  Ref<ui::ViewController> rootViewController() const { return rootViewController_.lock(); }
  Ref<ui::ViewController> currentRootViewController() const { return currentRootViewController_.lock(); }
  const Ref<ui::ViewController>& currentView() const { return currentView_; }
  void setCurrentView(Ref<ui::ViewController> view) { currentView_ = std::move(view); }
  const Ref<ui::ViewController>& pendingView() const { return pendingView_; }
  // Replaces the waiting screen without a word to its owner (who drops it itself).
  void setPendingView(Ref<ui::ViewController> view) {
    if (view != pendingView_) pendingTakenAway_ = {};
    pendingView_ = std::move(view);
  }
  bool isDismissingView() const { return isDismissingView_.load(); }
  void setIsDismissingView(bool dismissing) { isDismissingView_.store(dismissing); }
  const Ref<OperationQueue>& offlineQueue() const { return offlineQueue_; }
  void setOfflineQueue(Ref<OperationQueue> queue) { offlineQueue_ = std::move(queue); }

  // `whenTakenAway` is required; a screen nothing waits on (a menu) passes one that says so.
  void showViewController(const Ref<ui::ViewController>& controller, std::function<void()> whenTakenAway);
  // A sharer's own screen (its forms and editors); taken away, it ends the share it waits on.
  void showViewController(const Ref<SXSharer>& sharer);
  void hideCurrentViewController() { hideCurrentViewControllerAnimated(true); }
  void hideCurrentViewControllerAnimated(bool animated);
  void showPendingView();
  void viewWasDismissed();
  Ref<ui::ViewController> getCurrentRootViewController() const;
  static Ref<ui::ViewController> getTopViewController(const Ref<ui::ViewController>& controller);
  // The top screen over the current root, for screens that present platform UI themselves.
  Ref<ui::ViewController> rootViewForCustomUIDisplay() const;

  static ui::BarStyle barStyle();
  static ui::ModalPresentationStyle modalPresentationStyle();
  static ui::ModalTransitionStyle modalTransitionStyle();

  // Favourites (class names) per share type.
  static std::vector<std::string> favoriteSharersForType(int type);
  static void pushOnFavorites(const std::string& className, int type);
  static void setFavorites(const std::vector<std::string>& classNames, int type);

  // Login values of a sharer (keychain). Failures answer nullopt / false and fill `error`.
  static std::optional<std::string> getAuthValueForKey(const std::string& key, const std::string& sharerId,
                                                       Ref<Error>* error = nullptr);
  static bool setAuthValue(const std::optional<std::string>& value, const std::string& key,
                           const std::string& sharerId, Ref<Error>* error = nullptr);
  // Removing a value that is not stored is not a failure.
  static bool removeAuthValueForKey(const std::string& key, const std::string& sharerId, Ref<Error>* error = nullptr);

  // The sharers list.
  static std::optional<std::string> sharingLibraryBundlePath();
  // {"actions": [class names], "services": [class names]}; nullptr while none is found.
  static Ref<Dictionary> sharersDictionary();
  // Every class name of the sharers list (union of its arrays).
  static std::vector<std::string> allSharerClassNames();
  static void logoutOfAll();
  static void logoutOfService(const std::string& className);

  // Whether the internet can be reached now.
  static bool connected();
  // An error of domain "sharing", code 1, whose localized description is `message`.
  static Ref<Error> error(std::string message);

  // The offline queue's entry points.
  using AddToOfflineQueueHandler = std::function<bool(const Ref<SXItem>& item, const std::string& sharerId)>;
  using FlushOfflineQueueHandler = std::function<void()>;
  static void setOfflineQueueHandlers(AddToOfflineQueueHandler add, FlushOfflineQueueHandler flush);
  static bool addToOfflineQueue(const Ref<SXItem>& item, const std::string& sharerId);
  static void flushOfflineQueue();

  // Tests only: forgets the presentation state, the kept sharers list and bundle path.
  static void resetForTesting();

  SX() = default;

 private:
  void dismissalEnded(const Ref<ui::ViewController>& dismissed);

  // The callback of a screen the hub holds, with the screen it belongs to.
  struct TakenAway {
    std::weak_ptr<ui::ViewController> screen;
    std::function<void()> callback;
  };
  // The callback of `slot` when it belongs to `screen` (empty otherwise); the slot is cleared.
  static std::function<void()> takeCallback(TakenAway& slot, const Ref<ui::ViewController>& screen);

  Ref<ui::ViewController> currentView_;
  Ref<ui::ViewController> pendingView_;
  TakenAway currentTakenAway_;
  TakenAway pendingTakenAway_;
  // A hide asked for while the current screen was still being presented (the platform refuses
  // to dismiss then); it runs once the presentation has ended.
  bool hideAfterPresentation_ = false;
  std::atomic<bool> isDismissingView_{false};
  Ref<OperationQueue> offlineQueue_;
  std::weak_ptr<ui::ViewController> rootViewController_;
  std::weak_ptr<ui::ViewController> currentRootViewController_;
};

}  // namespace zv
