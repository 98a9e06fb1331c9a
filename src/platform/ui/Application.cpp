#include "platform/ui/Application.h"

#include "platform/system/NetworkActivityIndicator.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace zv::ui {

Ref<Application> Application::sharedApplication() {
  static Ref<Application> application = std::make_shared<Application>();
  return application;
}

void Application::setKeyWindow(const Ref<Window>& window) {
  if (window) addWindow(window);
  keyWindow_ = window;
}

void Application::addWindow(const Ref<Window>& window) {
  for (const auto& w : windows_)
    if (w == window) return;
  windows_.push_back(window);
}

void Application::post(const char* name) { NotificationCenter::defaultCenter()->postNotificationName(name, self()); }

bool Application::simulateLaunch(const Ref<Dictionary>& options) {
  state_ = ApplicationState::Inactive;
  bool result = delegate_ ? delegate_->applicationDidFinishLaunchingWithOptions(*this, options) : true;
  post(kApplicationDidFinishLaunchingNotification);
  simulateBecomeActive();
  return result;
}

void Application::simulateResignActive() {
  if (delegate_) delegate_->applicationWillResignActive(*this);
  post(kApplicationWillResignActiveNotification);
  state_ = ApplicationState::Inactive;
}

void Application::simulateEnterBackground() {
  if (state_ == ApplicationState::Active) simulateResignActive();
  state_ = ApplicationState::Background;
  BackgroundTasks::shared().setInBackground(true);
  if (delegate_) delegate_->applicationDidEnterBackground(*this);
  post(kApplicationDidEnterBackgroundNotification);
}

void Application::simulateEnterForeground() {
  if (delegate_) delegate_->applicationWillEnterForeground(*this);
  post(kApplicationWillEnterForegroundNotification);
  state_ = ApplicationState::Inactive;
  BackgroundTasks::shared().setInBackground(false);
}

bool Application::isNetworkActivityIndicatorVisible() const { return NetworkActivityIndicator::shared().isVisible(); }

void Application::setNetworkActivityIndicatorVisible(bool visible) {
  NetworkActivityIndicator::shared().setVisible(visible);
}

BackgroundTaskIdentifier Application::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
  return BackgroundTasks::shared().beginBackgroundTask(std::move(handler));
}

void Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  BackgroundTasks::shared().endBackgroundTask(identifier);
}

void Application::simulateBackgroundTimeExpired() { BackgroundTasks::shared().expireBackgroundTasks(); }

void Application::simulateBecomeActive() {
  state_ = ApplicationState::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(*this);
  post(kApplicationDidBecomeActiveNotification);
}

void Application::simulateTerminate() {
  if (delegate_) delegate_->applicationWillTerminate(*this);
  post(kApplicationWillTerminateNotification);
}

void Application::simulateMemoryWarning() {
  if (delegate_) delegate_->applicationDidReceiveMemoryWarning(*this);
  post(kApplicationDidReceiveMemoryWarningNotification);
  std::vector<Ref<ViewController>> screens;
  std::function<void(const Ref<ViewController>&)> collect = [&](const Ref<ViewController>& screen) {
    if (!screen) return;
    screens.push_back(screen);
    for (const auto& child : screen->childViewControllers()) collect(child);
    collect(screen->presentedViewController());
  };
  for (const auto& window : std::vector<Ref<Window>>(windows_)) collect(window->rootViewController());
  for (const auto& screen : screens) screen->didReceiveMemoryWarning();
}

bool Application::simulateOpenURL(const Ref<URL>& url, const std::string& sourceApplication) {
  return delegate_ && url &&
         delegate_->applicationOpenURLSourceApplicationAnnotation(*this, url, sourceApplication, nullptr);
}

bool Application::openURL(const Ref<URL>& url) {
  if (!url) return false;
  openedURLs_.push_back(url);
  return openURLHandler_ ? openURLHandler_(url) : openURLAnswer_;
}

bool Application::canOpenURL(const Ref<URL>& url) const {
  if (!url) return false;
  return openURLHandler_ ? openURLHandler_(url) : openURLAnswer_;
}

void Application::setStatusBarHidden(bool hidden, bool) { statusBarHidden_ = hidden; }
void Application::setStatusBarStyle(StatusBarStyle style, bool) { statusBarStyle_ = style; }
void Application::setStatusBarOrientation(InterfaceOrientation orientation, bool) {
  statusBarOrientation_ = orientation;
}

graphics::Rect Application::statusBarFrame() const {
  if (statusBarHidden_) return {};
  auto screen = Screen::mainScreen()->bounds();
  if (isLandscape(statusBarOrientation_)) return {0, 0, 20, screen.height()};
  return {0, 0, screen.width(), 20};
}

void Application::registerForRemoteNotificationTypes(unsigned types) { remoteNotificationTypes_ = types; }

void Application::simulateRemoteNotificationRegistration(const Ref<Data>& token, const Ref<Error>& error) {
  if (!delegate_) return;
  if (token)
    delegate_->applicationDidRegisterForRemoteNotificationsWithDeviceToken(*this, token);
  else
    delegate_->applicationDidFailToRegisterForRemoteNotificationsWithError(*this, error);
}

void Application::simulateRemoteNotification(const Ref<Dictionary>& userInfo) {
  if (delegate_) delegate_->applicationDidReceiveRemoteNotification(*this, userInfo);
}

std::shared_ptr<bool> Application::beginTransitionIgnoringTouches() {
  auto token = std::make_shared<bool>(true);
  transitions_.push_back(token);
  return token;
}

bool Application::isIgnoringInteractionEvents() {
  std::erase_if(transitions_, [](const std::weak_ptr<bool>& weak) {
    auto token = weak.lock();
    return !token || !*token;
  });
  return !transitions_.empty();
}

void Application::reset() {
  delegate_.reset();
  transitions_.clear();
  windows_.clear();
  keyWindow_.reset();
  ButtonPanel::forgetVisiblePanels();
  state_ = ApplicationState::Inactive;
  openedURLs_.clear();
  openURLAnswer_ = true;
  openURLHandler_ = nullptr;
  statusBarHidden_ = false;
  statusBarStyle_ = StatusBarStyle::Default;
  statusBarOrientation_ = InterfaceOrientation::Portrait;
  NetworkActivityIndicator::shared().setVisible(false);
  BackgroundTasks::shared().reset();
  idleTimerDisabled_ = false;
  badgeNumber_ = 0;
  remoteNotificationTypes_ = 0;
}

}  // namespace zv::ui
