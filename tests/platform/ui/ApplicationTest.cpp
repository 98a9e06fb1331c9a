#include <gtest/gtest.h>

#include "UITestSupport.h"
#include "platform/system/BackgroundTasks.h"
#include "platform/system/NetworkActivityIndicator.h"
#include "platform/system/NotificationCenter.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/Composers.h"
#include "platform/ui/RegisterClasses.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/TextField.h"
#include "platform/ui/WebView.h"

namespace zv::ui::testing {
namespace {

using Journal = std::vector<std::string>;

class LifecycleDelegate : public Object, public ApplicationDelegate {
 public:
  bool applicationDidFinishLaunchingWithOptions(Application&, const Ref<Dictionary>& options) override {
    journal.push_back(options ? "launch with options" : "launch");
    return true;
  }
  void applicationWillResignActive(Application&) override { journal.push_back("resign"); }
  void applicationDidEnterBackground(Application&) override { journal.push_back("background"); }
  void applicationWillEnterForeground(Application&) override { journal.push_back("foreground"); }
  void applicationDidBecomeActive(Application&) override { journal.push_back("active"); }
  bool applicationOpenURLSourceApplicationAnnotation(Application&, const Ref<URL>& url, const std::string&,
                                                     const ObjectPtr&) override {
    return url->scheme() == std::optional<std::string>("fb123");
  }
  void applicationDidRegisterForRemoteNotificationsWithDeviceToken(Application&, const Ref<Data>& token) override {
    journal.push_back("token " + std::to_string(token->bytes().size()));
  }
  void applicationDidFailToRegisterForRemoteNotificationsWithError(Application&, const Ref<Error>& error) override {
    journal.push_back("no token " + std::to_string(error->code()));
  }
  Journal journal;
};

class ApplicationTest : public UITest {};

TEST_F(ApplicationTest, LifeCycleReachesTheDelegateAndTheNotificationCentre) {
  auto app = Application::sharedApplication();
  auto delegate = std::make_shared<LifecycleDelegate>();
  app->setDelegate(delegate);
  Journal posted;
  auto token = NotificationCenter::defaultCenter()->addObserverForName("", app, [&](const Ref<Notification>& n) {
    posted.push_back(n->name());
  });
  app->simulateLaunch();
  EXPECT_EQ(app->applicationState(), ApplicationState::Active);
  app->simulateEnterBackground();  // resigns first
  EXPECT_EQ(app->applicationState(), ApplicationState::Background);
  app->simulateEnterForeground();
  app->simulateBecomeActive();
  EXPECT_EQ(delegate->journal, (Journal{"launch", "active", "resign", "background", "foreground", "active"}));
  EXPECT_EQ(posted, (Journal{kApplicationDidFinishLaunchingNotification, kApplicationDidBecomeActiveNotification,
                             kApplicationWillResignActiveNotification, kApplicationDidEnterBackgroundNotification,
                             kApplicationWillEnterForegroundNotification, kApplicationDidBecomeActiveNotification}));
  NotificationCenter::defaultCenter()->removeObserver(token);

  EXPECT_TRUE(app->simulateOpenURL(URL::make("fb123://authorize#access_token=x")));
  EXPECT_FALSE(app->simulateOpenURL(URL::make("other://x")));
  app->registerForRemoteNotificationTypes(RemoteNotificationTypeBadge | RemoteNotificationTypeSound |
                                          RemoteNotificationTypeAlert);
  EXPECT_EQ(app->enabledRemoteNotificationTypes(), 7u);
  app->simulateRemoteNotificationRegistration(Data::make("12345678"));
  app->simulateRemoteNotificationRegistration(nullptr, Error::make("push", 3000));
  EXPECT_EQ(delegate->journal.back(), "no token 3000");
  EXPECT_EQ(delegate->journal[delegate->journal.size() - 2], "token 8");
}

TEST_F(ApplicationTest, OpenedURLsAreRecordedAndAnsweredAsConfigured) {
  auto app = Application::sharedApplication();
  EXPECT_TRUE(app->openURL(URL::make("http://store.example/app")));
  app->setOpenURLAnswer(false);
  EXPECT_FALSE(app->openURL(URL::make("sms:123")));
  EXPECT_FALSE(app->openURL(nullptr));
  app->setOpenURLHandler([](const Ref<URL>& url) { return url->scheme() == std::optional<std::string>("mailto"); });
  EXPECT_TRUE(app->canOpenURL(URL::make("mailto:a@b.example")));
  ASSERT_EQ(app->openedURLs().size(), 2u);
  EXPECT_EQ(app->openedURLs()[1]->absoluteString(), "sms:123");
}

TEST_F(ApplicationTest, StatusBarShapesTheApplicationFrameAndTheKeyboard) {
  auto app = Application::sharedApplication();
  auto screen = Screen::mainScreen();
  EXPECT_EQ(screen->applicationFrame(), Rect(0, 20, 320, 460));
  app->setStatusBarHidden(true);
  EXPECT_EQ(screen->applicationFrame(), Rect(0, 0, 320, 480));
  EXPECT_EQ(app->statusBarFrame(), Rect());
  app->setStatusBarHidden(false);
  app->setNetworkActivityIndicatorVisible(true);
  EXPECT_TRUE(app->isNetworkActivityIndicatorVisible());
  app->setStatusBarOrientation(InterfaceOrientation::LandscapeLeft);
  EXPECT_EQ(keyboardFrame(), Rect(320 - 162, 0, 162, 480));
}

TEST_F(ApplicationTest, TheIndicatorAndBackgroundTasksAreTheSystems) {
  auto app = Application::sharedApplication();
  // What the system layer's indicator shows (the HTTP client sets it there), the application shows.
  NetworkActivityIndicator::shared().setVisible(true);
  EXPECT_TRUE(app->isNetworkActivityIndicatorVisible());
  app->setNetworkActivityIndicatorVisible(false);
  EXPECT_FALSE(NetworkActivityIndicator::shared().isVisible());

  auto& tasks = BackgroundTasks::shared();
  app->simulateLaunch();
  EXPECT_FALSE(tasks.isInBackground());
  app->simulateEnterBackground();
  EXPECT_TRUE(tasks.isInBackground());
  int expired = 0;
  BackgroundTaskIdentifier task = kInvalidBackgroundTask;
  task = app->beginBackgroundTaskWithExpirationHandler([&] {
    ++expired;
    app->endBackgroundTask(task);
  });
  auto kept = app->beginBackgroundTaskWithExpirationHandler(nullptr);
  EXPECT_NE(task, kInvalidBackgroundTask);
  EXPECT_NE(task, kept);
  EXPECT_EQ(tasks.runningTaskCount(), 2u);
  app->simulateBackgroundTimeExpired();
  EXPECT_EQ(expired, 1);
  EXPECT_FALSE(tasks.isRunning(task));
  EXPECT_TRUE(tasks.isRunning(kept));
  // A task's time runs out once.
  app->simulateBackgroundTimeExpired();
  EXPECT_EQ(expired, 1);
  app->endBackgroundTask(kept);
  app->endBackgroundTask(kept);
  EXPECT_EQ(tasks.runningTaskCount(), 0u);
  app->simulateEnterForeground();
  EXPECT_FALSE(tasks.isInBackground());
}

class TurningScreen : public ViewController {
 public:
  explicit TurningScreen(bool landscape) : landscape_(landscape) {}
  bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) override {
    return o == InterfaceOrientation::Portrait || (landscape_ && isLandscape(o));
  }
  void willRotateToInterfaceOrientation(InterfaceOrientation o, double duration) override {
    journal.push_back("will " + std::to_string(static_cast<int>(o)) + " " + std::to_string(duration).substr(0, 3));
  }
  void didRotateFromInterfaceOrientation(InterfaceOrientation from) override {
    journal.push_back("did from " + std::to_string(static_cast<int>(from)));
  }
  Journal journal;

 private:
  bool landscape_;
};

TEST_F(ApplicationTest, TurningTheDeviceRotatesOnlyWhatTheTopScreenAllows) {
  auto device = Device::currentDevice();
  auto app = Application::sharedApplication();
  auto portraitOnly = std::make_shared<TurningScreen>(false);
  auto tabs = TabBarController::make({NavigationController::make(portraitOnly)});
  makeKeyWindow(tabs);
  int notifications = 0;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kDeviceOrientationDidChangeNotification, nullptr, [&](const Ref<Notification>&) { ++notifications; });
  device->simulateOrientation(DeviceOrientation::LandscapeLeft);
  EXPECT_EQ(app->statusBarOrientation(), InterfaceOrientation::Portrait);
  EXPECT_TRUE(portraitOnly->journal.empty());
  EXPECT_EQ(notifications, 0);  // not generating notifications

  device->beginGeneratingDeviceOrientationNotifications();
  auto turning = std::make_shared<TurningScreen>(true);
  tabs->presentViewController(turning, false);
  device->simulateOrientation(DeviceOrientation::LandscapeLeft);
  EXPECT_EQ(app->statusBarOrientation(), InterfaceOrientation::LandscapeRight);
  EXPECT_EQ(turning->journal, (Journal{"will 3 0.3", "did from 1"}));
  device->simulateOrientation(DeviceOrientation::FaceUp);  // the interface stays as it is
  EXPECT_EQ(app->statusBarOrientation(), InterfaceOrientation::LandscapeRight);
  EXPECT_EQ(notifications, 2);
  device->endGeneratingDeviceOrientationNotifications();
  NotificationCenter::defaultCenter()->removeObserver(token);
}

TEST_F(ApplicationTest, ResponderChainAndEndingEditing) {
  auto screen = std::make_shared<ViewController>();
  auto window = makeKeyWindow(screen);
  auto field = TextField::make(Rect(10, 10, 100, 30));
  auto box = View::make(Rect(20, 40, 200, 100));
  box->addSubview(field);
  screen->view()->addSubview(box);
  EXPECT_EQ(field->nextResponder(), box);
  EXPECT_EQ(screen->view()->nextResponder(), screen);
  EXPECT_EQ(screen->nextResponder(), window);
  EXPECT_EQ(field->convertPointToView({0, 0}, nullptr), (Point{30, 70}));  // 20 + 10, 20 + 40 + 10
  EXPECT_EQ(window->convertPointToView({30, 70}, field.get()), (Point{0, 0}));

  ASSERT_TRUE(field->becomeFirstResponder());
  EXPECT_TRUE(screen->view()->endEditing(false));
  EXPECT_FALSE(field->isFirstResponder());
  field->becomeFirstResponder();
  box->removeFromSuperview();  // leaving the window resigns
  EXPECT_EQ(Responder::currentFirstResponder(), nullptr);
}

TEST_F(ApplicationTest, ComposerDisappearanceReachesTheHook) {
  auto screen = std::make_shared<ViewController>();
  makeKeyWindow(screen);
  int gone = 0;
  MailComposeViewController::setDidDisappearHook([&](ViewController& composer) {
    ++gone;
    EXPECT_EQ(composer.presentedViewController(), nullptr);
  });
  auto mail = MailComposeViewController::make();
  auto text = MessageComposeViewController::make();
  screen->presentViewController(mail, false);
  screen->dismissViewControllerAnimated(false);
  screen->presentViewController(text, false);
  screen->dismissViewControllerAnimated(false);
  EXPECT_EQ(gone, 2);
  MailComposeViewController::setDidDisappearHook(nullptr);
}

TEST_F(ApplicationTest, EditButtonAndToolbarFollowTheTopScreen) {
  auto first = std::make_shared<ViewController>();
  auto second = std::make_shared<ViewController>();
  first->setToolbarItems({BarButtonItem::withTitle("One", BarButtonItemStyle::Plain)});
  second->setToolbarItems({BarButtonItem::withTitle("Two", BarButtonItemStyle::Plain), BarButtonItem::flexibleSpace()});
  auto nav = NavigationController::make(first);
  makeKeyWindow(nav);
  nav->pushViewController(second, false);
  EXPECT_EQ(nav->toolbar()->items().size(), 2u);
  nav->popViewControllerAnimated(false);
  EXPECT_EQ(nav->toolbar()->items()[0]->title(), std::optional<std::string>("One"));

  auto edit = first->editButtonItem();
  EXPECT_EQ(edit->title(), std::optional<std::string>("Edit"));
  EXPECT_TRUE(edit->simulateTap());
  EXPECT_TRUE(first->isEditing());
  EXPECT_EQ(edit->title(), std::optional<std::string>("Done"));
  edit->setEnabled(false);
  EXPECT_FALSE(edit->simulateTap());
  EXPECT_TRUE(first->isEditing());
}

TEST_F(ApplicationTest, ScreensCanBeMadeByClassName) {
  registerUIClasses();
  registerUIClasses();
  const ClassInfo* info = classNamed("NavigationController");
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->isSubclassOf("Responder"));
  EXPECT_TRUE(std::dynamic_pointer_cast<NavigationController>(info->create()));
  EXPECT_TRUE(classNamed("TableView")->isSubclassOf("View"));
  EXPECT_TRUE(std::dynamic_pointer_cast<WebView>(classNamed("WebView")->create()));
}

}  // namespace
}  // namespace zv::ui::testing
