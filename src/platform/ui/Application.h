#pragma once
// The application object: its windows and key window, its delegate and life-cycle state (with the
// notifications the platform posts), URLs handed to the system (recorded, answered as configured),
// the status bar, remote-notification registration and the idle timer. Tests drive the life
// cycle with the `simulate...` calls. Main thread only. The network-activity indicator and the
// background state and tasks live in the system layer's services, which this object reflects.

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/graphics/Geometry.h"
#include "platform/system/BackgroundTasks.h"
#include "platform/ui/Types.h"

namespace zv::ui {

class Application;
class Window;

inline constexpr const char* kApplicationDidFinishLaunchingNotification = "ApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "ApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "ApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "ApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "ApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "ApplicationWillTerminateNotification";
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification =
    "ApplicationDidReceiveMemoryWarningNotification";
// Launch-option key of a remote notification that started the application.
inline constexpr const char* kApplicationLaunchOptionsRemoteNotificationKey = "ApplicationLaunchOptionsRemoteNotificationKey";
inline constexpr const char* kApplicationLaunchOptionsURLKey = "ApplicationLaunchOptionsURLKey";

class ApplicationDelegate : public Protocol {
 public:
  virtual bool applicationDidFinishLaunchingWithOptions(Application& application, const Ref<Dictionary>& options) {
    (void)application, (void)options;
    return true;
  }
  virtual void applicationWillResignActive(Application&) {}
  virtual void applicationDidEnterBackground(Application&) {}
  virtual void applicationWillEnterForeground(Application&) {}
  virtual void applicationDidBecomeActive(Application&) {}
  virtual void applicationWillTerminate(Application&) {}
  virtual void applicationDidReceiveMemoryWarning(Application&) {}
  // A URL for this application; the answer says whether it was handled.
  virtual bool applicationOpenURLSourceApplicationAnnotation(Application& application, const Ref<URL>& url,
                                                             const std::string& sourceApplication,
                                                             const ObjectPtr& annotation) {
    (void)application, (void)url, (void)sourceApplication, (void)annotation;
    return false;
  }
  virtual void applicationDidRegisterForRemoteNotificationsWithDeviceToken(Application&, const Ref<Data>& token) {
    (void)token;
  }
  virtual void applicationDidFailToRegisterForRemoteNotificationsWithError(Application&, const Ref<Error>& error) {
    (void)error;
  }
  virtual void applicationDidReceiveRemoteNotification(Application&, const Ref<Dictionary>& userInfo) {
    (void)userInfo;
  }
};

class Application : public Object {
 public:
  static Ref<Application> sharedApplication();

  // The delegate is retained, as the platform's launch retains the delegate object it makes.
  const std::shared_ptr<ApplicationDelegate>& delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

  // Windows.
  const std::vector<Ref<Window>>& windows() const { return windows_; }
  Ref<Window> keyWindow() const { return keyWindow_.lock(); }
  void setKeyWindow(const Ref<Window>& window);
  void addWindow(const Ref<Window>& window);

  // Life cycle.
  ApplicationState applicationState() const { return state_; }
  // The launch: didFinishLaunching with the options, then becoming active.
  bool simulateLaunch(const Ref<Dictionary>& options = nullptr);
  void simulateResignActive();
  void simulateEnterBackground();
  void simulateEnterForeground();
  void simulateBecomeActive();
  void simulateTerminate();
  // Low memory: the delegate and the notification centre hear it, then every screen of every
  // window (containers' children and presented screens included) gets didReceiveMemoryWarning.
  void simulateMemoryWarning();
  // A URL opened by another application: handed to the delegate; its answer is returned.
  bool simulateOpenURL(const Ref<URL>& url, const std::string& sourceApplication = {});

  // URLs handed to the system (browser, messages, store). Every call is recorded; the answer is
  // the configured one (YES unless set), or the handler's when one is installed.
  bool openURL(const Ref<URL>& url);
  bool canOpenURL(const Ref<URL>& url) const;
  const std::vector<Ref<URL>>& openedURLs() const { return openedURLs_; }
  void setOpenURLAnswer(bool answer) { openURLAnswer_ = answer; }
  void setOpenURLHandler(std::function<bool(const Ref<URL>&)> handler) { openURLHandler_ = std::move(handler); }

  // Status bar.
  bool isStatusBarHidden() const { return statusBarHidden_; }
  void setStatusBarHidden(bool hidden, bool animated = false);
  StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(StatusBarStyle style, bool animated = false);
  InterfaceOrientation statusBarOrientation() const { return statusBarOrientation_; }
  void setStatusBarOrientation(InterfaceOrientation orientation, bool animated = false);
  double statusBarOrientationAnimationDuration() const { return 0.3; }
  // 20 points high across the top while shown (in portrait), empty when hidden.
  graphics::Rect statusBarFrame() const;
  // The indicator is the system's (NetworkActivityIndicator), which the HTTP client drives.
  bool isNetworkActivityIndicatorVisible() const;
  void setNetworkActivityIndicatorVisible(bool visible);

  // Background tasks (the system's BackgroundTasks): the background state follows
  // simulateEnterBackground and simulateEnterForeground; simulateBackgroundTimeExpired runs out the
  // time of every running task.
  BackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
  void endBackgroundTask(BackgroundTaskIdentifier identifier);
  void simulateBackgroundTimeExpired();

  bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
  void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }
  long applicationIconBadgeNumber() const { return badgeNumber_; }
  void setApplicationIconBadgeNumber(long number) { badgeNumber_ = number; }

  // Remote notifications: the requested types are recorded; the outcome comes through the
  // simulate calls, which reach the delegate.
  void registerForRemoteNotificationTypes(unsigned types);
  unsigned enabledRemoteNotificationTypes() const { return remoteNotificationTypes_; }
  void simulateRemoteNotificationRegistration(const Ref<Data>& token, const Ref<Error>& error = nullptr);
  void simulateRemoteNotification(const Ref<Dictionary>& userInfo);

  // Back to a freshly started application (tests): no windows, delegate or recorded URLs.
  void reset();

  // While a screen comes or goes (an animated modal presentation or dismissal) the user's touches
  // are ignored, as on the platform: every simulated tap, toggle and row selection asks this
  // first. A transition holds the token it began with and sets it to false when it ends; a token
  // released without that (its transition dropped) ends it as well.
  std::shared_ptr<bool> beginTransitionIgnoringTouches();
  bool isIgnoringInteractionEvents();

 private:
  void post(const char* name);

  std::shared_ptr<ApplicationDelegate> delegate_;
  std::vector<Ref<Window>> windows_;
  std::vector<std::weak_ptr<bool>> transitions_;
  std::weak_ptr<Window> keyWindow_;
  ApplicationState state_ = ApplicationState::Inactive;
  std::vector<Ref<URL>> openedURLs_;
  bool openURLAnswer_ = true;
  std::function<bool(const Ref<URL>&)> openURLHandler_;
  bool statusBarHidden_ = false;
  StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
  InterfaceOrientation statusBarOrientation_ = InterfaceOrientation::Portrait;
  bool idleTimerDisabled_ = false;
  long badgeNumber_ = 0;
  unsigned remoteNotificationTypes_ = 0;
};

}  // namespace zv::ui
