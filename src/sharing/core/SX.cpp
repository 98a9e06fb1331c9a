#include "sharing/core/SX.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <utility>

#include "http/Reachability.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/Color.h"
#include "platform/runloop/Perform.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/Bundle.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "sharing/core/KeychainWrapper.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXLoginAttempt.h"
#include "sharing/core/SXSharer.h"

namespace zv {

namespace {

struct ClassState {
  std::mutex lock;
  std::optional<std::string> bundlePath;
  bool bundlePathKnown = false;
  Ref<Dictionary> sharers;
  SX::AddToOfflineQueueHandler add;
  SX::FlushOfflineQueueHandler flush;
};

ClassState& state() {
  static ClassState& s = *new ClassState;
  return s;
}

Ref<SX>& helperSlot() {
  static Ref<SX>& helper = *new Ref<SX>(std::make_shared<SX>());
  return helper;
}

std::string favoritesKey(int type) { return format("%s%i", SXConfigString("favsPrefixKey").value_or("").c_str(), type); }

std::vector<std::string> namesOf(const Ref<Array>& list) {
  std::vector<std::string> names;
  if (!list) return names;
  for (const auto& entry : *list) {
    if (auto name = dyn<String>(entry)) names.push_back(name->utf8());
  }
  return names;
}

Ref<Array> arrayOf(const std::vector<std::string>& names) {
  std::vector<ObjectPtr> items;
  for (const auto& name : names) items.push_back(box(name));
  return Array::make(std::move(items));
}

// The excluded class names: an array, or the keys of the older dictionary form.
std::optional<std::vector<std::string>> excludedNames() {
  ObjectPtr stored = UserDefaults::standardUserDefaults()->objectForKey(kSXExcludedKey);
  if (!stored) return std::nullopt;
  if (auto list = dyn<Array>(stored)) return namesOf(list);
  if (auto map = dyn<Dictionary>(stored)) return namesOf(map->allKeys());
  return std::vector<std::string>{};
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

Ref<Dictionary> readSharersList(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  Ref<Error> error;
  auto list = dyn<Dictionary>(storage::readPropertyList(path, &error));
  if (!list) log(LogLevel::Debug, "SX::sharersDictionary cannot read " + path.string() + ": " + describe(error));
  return list;
}

}  // namespace

Ref<SX> SX::currentHelper() { return helperSlot(); }

void SX::setRootViewController(const Ref<ui::ViewController>& root) { currentHelper()->rootViewController_ = root; }

Ref<ui::ViewController> SX::getCurrentRootViewController() const {
  if (auto root = rootViewController()) return root;
  auto application = ui::Application::sharedApplication();
  auto window = application->keyWindow();
  if (window && window->windowLevel() != ui::kWindowLevelNormal) {
    window = nullptr;
    for (const auto& candidate : application->windows()) {
      if (candidate->windowLevel() == ui::kWindowLevelNormal) {
        window = candidate;
        break;
      }
    }
  }
  if (!window) return nullptr;
  if (!window->subviews().empty()) {
    if (auto controller = dyn<ui::ViewController>(window->subviews().front()->nextResponder())) return controller;
  }
  return window->rootViewController();
}

Ref<ui::ViewController> SX::getTopViewController(const Ref<ui::ViewController>& controller) {
  auto top = controller;
  while (top && top->presentedViewController()) top = top->presentedViewController();
  return top;
}

Ref<ui::ViewController> SX::rootViewForCustomUIDisplay() const {
  return getTopViewController(getCurrentRootViewController());
}

std::function<void()> SX::takeCallback(TakenAway& slot, const Ref<ui::ViewController>& screen) {
  auto taken = std::exchange(slot, {});
  if (!screen || taken.screen.lock() != screen) return nullptr;
  return std::move(taken.callback);
}

void SX::showViewController(const Ref<ui::ViewController>& controller, std::function<void()> whenTakenAway) {
  if (!controller) return;
  auto root = getCurrentRootViewController();
  currentRootViewController_ = root;
  auto top = getTopViewController(root);

  // A screen that was waiting is dropped for the newer one: its owner hears so, once the hub's
  // own state is settled (the owner may show something else).
  auto dropped = pendingView_ && pendingView_ != controller ? takeCallback(pendingTakenAway_, pendingView_) : nullptr;
  if (currentView_) {
    pendingView_ = controller;
    pendingTakenAway_ = {controller, std::move(whenTakenAway)};
    hideCurrentViewControllerAnimated(true);
    if (dropped) dropped();
    return;
  }
  if (!top) {
    log(LogLevel::Debug, "SX::showViewController: no screen to present from");
    pendingView_ = nullptr;
    pendingTakenAway_ = {};
    if (dropped) dropped();
    if (whenTakenAway) whenTakenAway();
    return;
  }

  auto navigation = dyn<ui::NavigationController>(controller);
  auto tintSource = ObjectPtr(controller);
  if (!navigation) navigation = ui::NavigationController::make(controller);
  navigation->setModalPresentationStyle(modalPresentationStyle());
  navigation->setModalTransitionStyle(modalTransitionStyle());
  auto weakHub = std::weak_ptr<SX>(std::static_pointer_cast<SX>(self()));
  hideAfterPresentation_ = false;
  top->presentViewController(navigation, true, [weakHub] {
    auto hub = weakHub.lock();
    if (!hub || !hub->hideAfterPresentation_) return;
    hub->hideAfterPresentation_ = false;
    hub->hideCurrentViewControllerAnimated(true);
  });
  navigation->navigationBar()->setBarStyle(barStyle());
  navigation->toolbar()->setBarStyle(barStyle());
  navigation->navigationBar()->setTintColor(dyn<graphics::Color>(SXConfigValue("barTintForView:", tintSource)));

  currentView_ = navigation;
  currentTakenAway_ = {navigation, std::move(whenTakenAway)};
  pendingView_ = nullptr;
  pendingTakenAway_ = {};
  if (dropped) dropped();
}

void SX::showViewController(const Ref<SXSharer>& sharer) {
  if (!sharer) return;
  // The callback keeps the sharer until its screen has gone, so the share it waits on can end.
  showViewController(Ref<ui::ViewController>(sharer), [sharer] { sharer->screenTakenAway(); });
}

void SX::hideCurrentViewControllerAnimated(bool animated) {
  if (isDismissingView() || !currentView_) return;
  auto current = currentView_;
  if (current->isBeingPresented()) {
    // A screen that answers at once (an authorization page redirecting straight to its callback)
    // asks to go away before its presentation has ended; the platform would refuse that.
    hideAfterPresentation_ = true;
    return;
  }
  auto presenter = current->presentingViewController();
  if (!presenter) {
    // Already gone without telling the hub (dismissed by someone else): a screen waiting for it
    // shows now instead of waiting for a report that will not come.
    viewWasDismissed();
    return;
  }
  if (current->isBeingDismissed()) return;  // someone else's dismissal is under way; it reports
  setIsDismissingView(true);
  auto weakSelf = std::weak_ptr<SX>(std::static_pointer_cast<SX>(self()));
  presenter->dismissViewControllerAnimated(animated, [weakSelf, current] {
    if (auto hub = weakSelf.lock()) hub->dismissalEnded(current);
    OperationQueue::mainQueue()->addOperationWithBlock(
        [] { NotificationCenter::defaultCenter()->postNotificationName(kSXHideCurrentViewFinished); });
  });
}

// The dismissal's own completion: a screen that does not report its disappearance (a platform
// screen, a wrapped controller) must not leave the hub believing a dismissal is still under way.
void SX::dismissalEnded(const Ref<ui::ViewController>& dismissed) {
  setIsDismissingView(false);
  if (currentView_ == dismissed) viewWasDismissed();
}

void SX::viewWasDismissed() {
  // A report that is not about the current screen (a screen inside it, or one from an earlier
  // presentation) while that screen is still presented and not being dismissed changes nothing.
  if (currentView_ && !isDismissingView() && !currentView_->isBeingDismissed() &&
      currentView_->presentingViewController()) {
    return;
  }
  setIsDismissingView(false);
  // A screen shown again meanwhile (a sharer moving from its login form to its share form) comes
  // back: it is not taken away, and the callback of its new showing is kept.
  std::function<void()> takenAway;
  if (pendingView_ && pendingView_ == currentView_) {
    currentTakenAway_ = {};
  } else {
    takenAway = takeCallback(currentTakenAway_, currentView_);
  }
  currentView_ = nullptr;
  currentRootViewController_.reset();
  if (takenAway) takenAway();
  if (pendingView_) {
    auto weakSelf = std::weak_ptr<SX>(std::static_pointer_cast<SX>(self()));
    performAfterDelay(0.02, [weakSelf] {
      if (auto hub = weakSelf.lock()) hub->showPendingView();
    });
  }
}

void SX::showPendingView() {
  if (!pendingView_ || currentView_) return;
  auto pending = pendingView_;
  pendingView_ = nullptr;
  showViewController(pending, takeCallback(pendingTakenAway_, pending));
}

ui::BarStyle SX::barStyle() {
  auto name = SXConfigString("barStyle").value_or("");
  if (name == "UIBarStyleBlack" || name == "UIBarStyleBlackOpaque") return ui::BarStyle::Black;
  if (name == "UIBarStyleBlackTranslucent") return ui::BarStyle::BlackTranslucent;
  return ui::BarStyle::Default;
}

ui::ModalPresentationStyle SX::modalPresentationStyle() {
  auto name = SXConfigString("modalPresentationStyle").value_or("");
  if (name == "UIModalPresentationFullScreen") return ui::ModalPresentationStyle::FullScreen;
  if (name == "UIModalPresentationPageSheet") return ui::ModalPresentationStyle::PageSheet;
  if (name == "UIModalPresentationFormSheet") return ui::ModalPresentationStyle::FormSheet;
  return ui::ModalPresentationStyle::CurrentContext;
}

ui::ModalTransitionStyle SX::modalTransitionStyle() {
  auto name = SXConfigString("modalTransitionStyle").value_or("");
  if (name == "UIModalTransitionStyleFlipHorizontal") return ui::ModalTransitionStyle::FlipHorizontal;
  if (name == "UIModalTransitionStyleCrossDissolve") return ui::ModalTransitionStyle::CrossDissolve;
  if (name == "UIModalTransitionStylePartialCurl") return ui::ModalTransitionStyle::PartialCurl;
  return ui::ModalTransitionStyle::CoverVertical;
}

std::vector<std::string> SX::favoriteSharersForType(int type) {
  auto defaults = UserDefaults::standardUserDefaults();
  const std::string key = favoritesKey(type);
  std::vector<std::string> favorites;
  if (auto stored = defaults->arrayForKey(key)) {
    favorites = namesOf(stored);
  } else {
    static constexpr const char* kDefaultKeys[] = {"defaultFavoriteURLSharers", "defaultFavoriteTextSharers",
                                                   "defaultFavoriteImageSharers", "defaultFavoriteFileSharers"};
    if (type >= SXShareTypeURL && type <= SXShareTypeFile) favorites = SXConfigStringList(kDefaultKeys[type - 1]);
    defaults->setObject(arrayOf(favorites), key);
  }

  const auto known = allSharerClassNames();
  const auto before = favorites.size();
  std::erase_if(favorites, [&](const std::string& name) { return !contains(known, name); });
  if (favorites.size() != before) defaults->setObject(arrayOf(favorites), key);

  if (auto excluded = excludedNames()) {
    std::erase_if(favorites, [&](const std::string& name) { return contains(*excluded, name); });
    defaults->setObject(arrayOf(favorites), key);
  }
  return favorites;
}

void SX::pushOnFavorites(const std::string& className, int type) {
  if (!SXConfigBool("autoOrderFavoriteSharers")) return;
  if (auto excluded = excludedNames(); excluded && contains(*excluded, className)) return;
  auto favorites = favoriteSharersForType(type);
  std::erase(favorites, className);
  favorites.insert(favorites.begin(), className);
  const auto maximum = static_cast<std::size_t>(std::max<std::int64_t>(0, SXConfigInteger("maxFavCount")));
  if (favorites.size() > maximum) favorites.resize(maximum);
  setFavorites(favorites, type);
}

void SX::setFavorites(const std::vector<std::string>& classNames, int type) {
  UserDefaults::standardUserDefaults()->setObject(arrayOf(classNames), favoritesKey(type));
}

std::optional<std::string> SX::getAuthValueForKey(const std::string& key, const std::string& sharerId,
                                                  Ref<Error>* error) {
  Ref<Error> failure;
  auto value = KeychainWrapper::passwordForService(SXConfigString("authPrefix").value_or("") + sharerId, key, &failure);
  // A value that is simply not stored is no failure.
  if (error) *error = failure && failure->code() != -25300 ? failure : nullptr;
  return value;
}

bool SX::setAuthValue(const std::optional<std::string>& value, const std::string& key, const std::string& sharerId,
                      Ref<Error>* error) {
  return KeychainWrapper::setPassword(value, SXConfigString("authPrefix").value_or("") + sharerId, key, error);
}

bool SX::removeAuthValueForKey(const std::string& key, const std::string& sharerId, Ref<Error>* error) {
  // A login dropped, however the logout was reached, takes the login still under way with it:
  // what that login brings back later belongs to no current login.
  SXLoginAttempt::abandon(sharerId);
  Ref<Error> failure;
  if (KeychainWrapper::deletePasswordForService(SXConfigString("authPrefix").value_or("") + sharerId, key, &failure)) {
    return true;
  }
  if (failure && failure->code() == -25300) return true;
  if (error) *error = failure;
  return false;
}

std::optional<std::string> SX::sharingLibraryBundlePath() {
  auto& s = state();
  std::lock_guard lock(s.lock);
  if (!s.bundlePathKnown) {
    s.bundlePath = Bundle::mainBundle()->pathForResource("Sharing", "bundle");
    s.bundlePathKnown = true;
  }
  return s.bundlePath;
}

Ref<Dictionary> SX::sharersDictionary() {
  {
    std::lock_guard lock(state().lock);
    if (state().sharers) return state().sharers;
  }
  const std::string name = SXConfigString("sharersPlistName").value_or("SXSharers.plist");
  Ref<Dictionary> found;
  if (auto bundle = sharingLibraryBundlePath()) found = readSharersList(std::filesystem::path(*bundle) / name);
  if (!found) found = readSharersList(std::filesystem::path(Bundle::mainBundle()->resourcePath()) / name);
  if (!found) found = readSharersList(name);
  if (found) {
    std::lock_guard lock(state().lock);
    state().sharers = found;
  }
  return found;
}

std::vector<std::string> SX::allSharerClassNames() {
  std::vector<std::string> names;
  auto list = sharersDictionary();
  if (!list) return names;
  list->enumerate([&](const ObjectPtr&, const ObjectPtr& value) {
    for (const auto& name : namesOf(dyn<Array>(value))) {
      if (!contains(names, name)) names.push_back(name);
    }
    return true;
  });
  return names;
}

void SX::logoutOfAll() {
  auto list = sharersDictionary();
  if (!list) return;
  for (const auto& name : namesOf(list->objectForKeyAs<Array>("services"))) logoutOfService(name);
}

void SX::logoutOfService(const std::string& className) {
  if (auto sharer = SXSharer::sharerNamed(className)) {
    // The logout reaches the login under way of whichever sharer object started it.
    SXLoginAttempt::abandon(sharer->sharerId());
    sharer->logout();
  } else {
    log(LogLevel::Debug, "SX::logoutOfService: no sharer class " + className);
  }
}

bool SX::connected() {
  auto reachability = Reachability::reachabilityForInternetConnection();
  return reachability && reachability->currentReachabilityStatus() != ReachabilityStatusNone;
}

Ref<Error> SX::error(std::string message) { return Error::make(kSXErrorDomain, 1, std::move(message)); }

void SX::setOfflineQueueHandlers(AddToOfflineQueueHandler add, FlushOfflineQueueHandler flush) {
  std::lock_guard lock(state().lock);
  state().add = std::move(add);
  state().flush = std::move(flush);
}

bool SX::addToOfflineQueue(const Ref<SXItem>& item, const std::string& sharerId) {
  AddToOfflineQueueHandler add;
  {
    std::lock_guard lock(state().lock);
    add = state().add;
  }
  if (!add) {
    log(LogLevel::Debug, "SX::addToOfflineQueue: no offline queue installed");
    return false;
  }
  return add(item, sharerId);
}

void SX::flushOfflineQueue() {
  FlushOfflineQueueHandler flush;
  {
    std::lock_guard lock(state().lock);
    flush = state().flush;
  }
  if (!flush) return;
  // Called at launch: a failing flush is logged, never thrown into the launch.
  try {
    flush();
  } catch (const std::exception& exception) {
    logError(std::string("SX::flushOfflineQueue: ") + exception.what());
  } catch (...) {
    logError("SX::flushOfflineQueue: the flush failed");
  }
}

void SX::resetForTesting() {
  {
    std::lock_guard lock(state().lock);
    state().bundlePath.reset();
    state().bundlePathKnown = false;
    state().sharers.reset();
  }
  auto hub = currentHelper();
  hub->currentView_.reset();
  hub->pendingView_.reset();
  hub->currentTakenAway_ = {};
  hub->pendingTakenAway_ = {};
  hub->hideAfterPresentation_ = false;
  hub->setIsDismissingView(false);
  hub->rootViewController_.reset();
  hub->currentRootViewController_.reset();
}

}  // namespace zv
