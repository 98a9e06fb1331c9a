#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/foundation/Log.h"
#include "platform/graphics/Color.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/Keychain.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "sharing/core/KeychainWrapper.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXOAuthView.h"
#include "sharing/core/SXSharer.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv {
namespace {

using zv::testing::SharingTest;
using Names = std::vector<std::string>;

Names namesOfStored(const std::string& key) {
  Names names;
  if (auto list = UserDefaults::standardUserDefaults()->arrayForKey(key)) {
    for (const auto& n : *list) names.push_back(stringValueOf(n).value_or(""));
  }
  return names;
}

// A sharer with the standard login fields, to see logouts reach the keychain.
class LogoutProbeSharer : public SXSharer {};

class SXHubTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    SXSharer::registerSharerClass<LogoutProbeSharer>();
  }
  Ref<UserDefaults> defaults() { return UserDefaults::standardUserDefaults(); }
};

TEST_F(SXHubTest, SharersListComesFromSharingBundle) {
  auto list = SX::sharersDictionary();
  ASSERT_TRUE(list);
  auto actions = list->objectForKeyAs<Array>("actions");
  ASSERT_TRUE(actions);
  EXPECT_TRUE(actions->containsObject(box("SXMail")));
  auto all = SX::allSharerClassNames();
  EXPECT_NE(std::find(all.begin(), all.end(), "SXTwitter"), all.end());
  EXPECT_NE(std::find(all.begin(), all.end(), "SXLogout"), all.end());
  EXPECT_TRUE(SX::sharingLibraryBundlePath()->ends_with("Sharing.bundle"));
}

TEST_F(SXHubTest, NoSharersListMeansNoFavourites) {
  configurator->set("sharersPlistName", box("Missing.plist"));
  SX::resetForTesting();
  EXPECT_EQ(SX::sharersDictionary(), nullptr);
  EXPECT_TRUE(SX::favoriteSharersForType(SXShareTypeURL).empty());
  SX::logoutOfAll();  // nothing to do, nothing raised
}

TEST_F(SXHubTest, DefaultFavouritesAreStoredLessUnknownClasses) {
  configurator->set("defaultFavoriteURLSharers", Array::make({box("SXTwitter"), box("NoSuchSharer"), box("SXFacebook")}));
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeURL), (Names{"SXTwitter", "SXFacebook"}));
  EXPECT_EQ(namesOfStored("SX_FAVS_1"), (Names{"SXTwitter", "SXFacebook"}));
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeImage), (Names{"SXMail", "SXFacebook", "SXCopy"}));
  EXPECT_TRUE(SX::favoriteSharersForType(SXShareTypeUserInfo).empty());
}

TEST_F(SXHubTest, PushingFavouritesKeepsTheNewestWithinTheMaximum) {
  SX::setFavorites({"SXMail", "SXCopy", "SXPrint"}, SXShareTypeText);
  SX::pushOnFavorites("SXSafari", SXShareTypeText);
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeText), (Names{"SXSafari", "SXMail", "SXCopy"}));
  SX::pushOnFavorites("SXCopy", SXShareTypeText);
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeText), (Names{"SXCopy", "SXSafari", "SXMail"}));
  configurator->set("autoOrderFavoriteSharers", box(false));
  SX::pushOnFavorites("SXPrint", SXShareTypeText);
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeText), (Names{"SXCopy", "SXSafari", "SXMail"}));
}

TEST_F(SXHubTest, ExcludedSharersLeaveTheFavouritesAndAreNeverPushed) {
  SX::setFavorites({"SXMail", "SXCopy", "SXPrint"}, SXShareTypeText);
  defaults()->setObject(Array::make({box("SXCopy"), box("SXSafari")}), kSXExcludedKey);
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeText), (Names{"SXMail", "SXPrint"}));
  EXPECT_EQ(namesOfStored("SX_FAVS_2"), (Names{"SXMail", "SXPrint"}));
  SX::pushOnFavorites("SXSafari", SXShareTypeText);
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeText), (Names{"SXMail", "SXPrint"}));
  // The older dictionary form of the exclusions is read by its keys.
  defaults()->setObject(Dictionary::make({{"SXPrint", box(true)}}), kSXExcludedKey);
  EXPECT_EQ(SX::favoriteSharersForType(SXShareTypeText), (Names{"SXMail"}));
}

TEST_F(SXHubTest, LoginValuesRoundTripThroughTheKeychain) {
  Ref<Error> error;
  EXPECT_EQ(SX::getAuthValueForKey("username", "LogoutProbeSharer", &error), std::nullopt);
  EXPECT_EQ(error, nullptr);  // not stored is no failure
  ASSERT_TRUE(SX::setAuthValue("alice", "username", "LogoutProbeSharer", &error));
  EXPECT_EQ(SX::getAuthValueForKey("username", "LogoutProbeSharer"), "alice");
  auto accounts = KeychainWrapper::accountsForService(std::string("SX_AUTH_LogoutProbeSharer"));
  ASSERT_TRUE(accounts);
  EXPECT_EQ(accounts->count(), 1u);
  EXPECT_TRUE(SX::removeAuthValueForKey("username", "LogoutProbeSharer", &error));
  EXPECT_TRUE(SX::removeAuthValueForKey("username", "LogoutProbeSharer", &error));  // already gone
  EXPECT_EQ(SX::getAuthValueForKey("username", "LogoutProbeSharer"), std::nullopt);
}

TEST_F(SXHubTest, KeychainFailuresReachTheCaller) {
  ASSERT_TRUE(SX::setAuthValue("alice", "username", "LogoutProbeSharer"));
  zv::testing::writeFile(Keychain::shared().filePath(), "not a keychain");
  LogCapture quiet;
  Ref<Error> error;
  EXPECT_FALSE(SX::setAuthValue("bob", "username", "LogoutProbeSharer", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kKeychainDecode);
  error = nullptr;
  EXPECT_EQ(SX::getAuthValueForKey("username", "LogoutProbeSharer", &error), std::nullopt);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kKeychainDecode);
  error = nullptr;
  EXPECT_FALSE(SX::removeAuthValueForKey("username", "LogoutProbeSharer", &error));
  ASSERT_TRUE(error);
}

TEST_F(SXHubTest, LogoutOfAllLogsOutEveryServiceOfTheList) {
  ClassRegistry::shared().registerClass("SXTwitter", "SXSharer").setFactory([] {
    return ObjectPtr(SXSharer::make<LogoutProbeSharer>());
  });
  ASSERT_TRUE(SX::setAuthValue("alice", "username", "LogoutProbeSharer"));
  ASSERT_TRUE(SX::setAuthValue("secret", "password", "LogoutProbeSharer"));
  ASSERT_TRUE(SX::setAuthValue("keep", "username", "OtherSharer"));
  SX::logoutOfAll();
  EXPECT_EQ(SX::getAuthValueForKey("username", "LogoutProbeSharer"), std::nullopt);
  EXPECT_EQ(SX::getAuthValueForKey("password", "LogoutProbeSharer"), std::nullopt);
  EXPECT_EQ(SX::getAuthValueForKey("username", "OtherSharer"), "keep");
}

TEST_F(SXHubTest, ConnectivityErrorsAndStyles) {
  EXPECT_TRUE(SX::connected());
  setOffline(true);
  EXPECT_FALSE(SX::connected());
  auto error = SX::error("Went wrong");
  EXPECT_EQ(error->domain(), "sharing");
  EXPECT_EQ(error->code(), 1);
  EXPECT_EQ(error->localizedDescription(), "Went wrong");
  EXPECT_EQ(SX::barStyle(), ui::BarStyle::Default);
  EXPECT_EQ(SX::modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);
  EXPECT_EQ(SX::modalTransitionStyle(), ui::ModalTransitionStyle::CoverVertical);
  configurator->set("barStyle", box("UIBarStyleBlackOpaque"));
  configurator->set("modalPresentationStyle", box("Anything"));
  configurator->set("modalTransitionStyle", box("UIModalTransitionStylePartialCurl"));
  EXPECT_EQ(SX::barStyle(), ui::BarStyle::Black);
  EXPECT_EQ(SX::modalPresentationStyle(), ui::ModalPresentationStyle::CurrentContext);
  EXPECT_EQ(SX::modalTransitionStyle(), ui::ModalTransitionStyle::PartialCurl);
}

TEST_F(SXHubTest, OfflineQueueWithoutHandlersQueuesNothing) {
  SX::setOfflineQueueHandlers(nullptr, nullptr);  // registration installs the offline queue's
  EXPECT_FALSE(SX::addToOfflineQueue(SXItem::makeText("t"), "LogoutProbeSharer"));
  int flushed = 0;
  std::string queuedFor;
  SX::setOfflineQueueHandlers([&](const Ref<SXItem>&, const std::string& id) { queuedFor = id; return true; },
                              [&] { ++flushed; });
  EXPECT_TRUE(SX::addToOfflineQueue(SXItem::makeText("t"), "LogoutProbeSharer"));
  SX::flushOfflineQueue();
  EXPECT_EQ(queuedFor, "LogoutProbeSharer");
  EXPECT_EQ(flushed, 1);
  // A flush runs in the launch handler: what goes wrong in it is logged, not thrown there.
  SX::setOfflineQueueHandlers(nullptr, [] { throw std::runtime_error("no more threads"); });
  LogCapture log;
  EXPECT_NO_THROW(SX::flushOfflineQueue());
  EXPECT_TRUE(log.contains("no more threads"));
  SX::setOfflineQueueHandlers(nullptr, nullptr);
}

class SXPresentationTest : public SXHubTest {
 protected:
  void SetUp() override {
    SXHubTest::SetUp();
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    settle();
  }
  Ref<ui::ViewController> root;
};

TEST_F(SXPresentationTest, ScreensArePresentedOneAtATimeFromTheTopScreen) {
  auto hub = SX::currentHelper();
  // No root set: the key window's screen is the root.
  EXPECT_EQ(hub->getCurrentRootViewController(), root);
  auto first = std::make_shared<ui::ViewController>();
  hub->showViewController(first, [] {});
  settle();
  auto wrapper = dyn<ui::NavigationController>(hub->currentView());
  ASSERT_TRUE(wrapper);
  EXPECT_EQ(wrapper->topViewController(), first);
  EXPECT_EQ(root->presentedViewController(), wrapper);
  EXPECT_EQ(wrapper->modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);
  EXPECT_EQ(hub->rootViewForCustomUIDisplay(), wrapper);

  // A second screen waits until the first is gone, then shows.
  auto second = std::make_shared<ui::NavigationController>();
  hub->showViewController(second, [] {});
  EXPECT_EQ(hub->pendingView(), second);
  settle();
  EXPECT_EQ(hub->currentView(), second);
  EXPECT_EQ(root->presentedViewController(), second);
  EXPECT_FALSE(hub->isDismissingView());
}

TEST_F(SXPresentationTest, HidingAScreenThatDoesNotReportItsDisappearanceEndsTheDismissal) {
  auto hub = SX::currentHelper();
  int finished = 0;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(kSXHideCurrentViewFinished, nullptr,
                                                                       [&](const Ref<Notification>&) { ++finished; });
  hub->showViewController(std::make_shared<ui::ViewController>(), [] {});
  settle();
  hub->hideCurrentViewController();
  EXPECT_TRUE(hub->isDismissingView());
  settle();
  EXPECT_FALSE(hub->isDismissingView());
  EXPECT_EQ(hub->currentView(), nullptr);
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_TRUE(pumpRunLoopUntil([&] { return finished == 1; }, 10.0));
  NotificationCenter::defaultCenter()->removeObserver(token);

  // The hub is free for the next screen.
  auto next = std::make_shared<ui::ViewController>();
  hub->showViewController(next, [] {});
  settle();
  ASSERT_TRUE(hub->currentView());
  EXPECT_EQ(root->presentedViewController(), hub->currentView());
}

// A screen that answers at once (a login page redirecting straight to its callback) asks to be
// hidden while it is still being presented; repeated hides and shows must not pile up dismissals.
TEST_F(SXPresentationTest, AHideAskedDuringThePresentationRunsOnceWhenItEnds) {
  auto hub = SX::currentHelper();
  int finished = 0;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(kSXHideCurrentViewFinished, nullptr,
                                                                       [&](const Ref<Notification>&) { ++finished; });
  LogCapture log;
  auto sharer = SXSharer::make<LogoutProbeSharer>();
  hub->showViewController(sharer);
  ASSERT_TRUE(sharer->isBeingPresented());
  hub->hideCurrentViewController();
  hub->hideCurrentViewController();
  EXPECT_FALSE(hub->isDismissingView());
  EXPECT_EQ(root->presentedViewController(), sharer);
  settle();
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(hub->currentView(), nullptr);
  EXPECT_FALSE(hub->isDismissingView());
  EXPECT_TRUE(pumpRunLoopUntil([&] { return finished == 1; }, 10.0));
  pumpRunLoopFor(0.05);
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(log.contains("Attempt to dismiss")) << "a dismissal was asked for twice";
  NotificationCenter::defaultCenter()->removeObserver(token);
}

// Every screen the hub shows ends through its taken-away callback: taken away by the next screen
// before its slide-in began, mid-way, right at its end or after it, the callback runs once, when
// the screen is off the window, and the next screen shows.
TEST_F(SXPresentationTest, AScreenTakenAwayAtAnyPointOfItsSlideInIsTakenAwayOnceWhenGone) {
  auto hub = SX::currentHelper();
  for (double after : {0.0, 0.1, 0.34, 0.35, 0.6}) {
    SCOPED_TRACE(::testing::Message() << "taken away " << after << " s into the slide-in");
    auto first = std::make_shared<ui::ViewController>();
    int taken = 0;
    bool goneWhenTaken = false;
    hub->showViewController(first, [&] {
      ++taken;
      goneWhenTaken = !first->view()->window();
    });
    advance(after);
    auto next = std::make_shared<ui::ViewController>();
    hub->showViewController(next, [] {});
    settle();
    EXPECT_EQ(taken, 1);
    EXPECT_TRUE(goneWhenTaken);
    EXPECT_TRUE(next->isVisible());
    EXPECT_EQ(root->presentedViewController(), hub->currentView());
    hub->hideCurrentViewControllerAnimated(false);
    settle();
  }
}

// A screen reaching the hub while a screen shown outside it (a tweet sheet, a login page) slides
// out over the root comes up once that screen is gone.
TEST_F(SXPresentationTest, AScreenShownWhileAnotherLeavesTheRootComesUpAfterIt) {
  auto hub = SX::currentHelper();
  auto outside = std::make_shared<ui::ViewController>();
  root->presentViewController(outside, false);
  outside->dismissViewControllerAnimated(true);
  auto screen = std::make_shared<ui::ViewController>();
  int taken = 0;
  hub->showViewController(screen, [&] { ++taken; });
  settle();
  EXPECT_TRUE(screen->isVisible());
  EXPECT_EQ(root->presentedViewController(), hub->currentView());
  EXPECT_FALSE(outside->view()->window());
  hub->hideCurrentViewControllerAnimated(true);
  settle();
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(SXPresentationTest, AShowAskedWhileDismissingWaitsForTheDismissal) {
  auto hub = SX::currentHelper();
  LogCapture log;
  auto first = SXSharer::make<LogoutProbeSharer>();
  hub->showViewController(first);
  settle();
  hub->hideCurrentViewController();
  ASSERT_TRUE(hub->isDismissingView());
  hub->hideCurrentViewController();  // ignored: the dismissal is under way
  auto second = SXSharer::make<LogoutProbeSharer>();
  hub->showViewController(second);
  EXPECT_EQ(hub->currentView(), first);
  EXPECT_EQ(hub->pendingView(), second);
  settle();
  EXPECT_EQ(hub->currentView(), second);
  EXPECT_EQ(root->presentedViewController(), second);
  EXPECT_EQ(hub->pendingView(), nullptr);
  EXPECT_FALSE(hub->isDismissingView());
  EXPECT_FALSE(log.contains("Attempt to"));
}

// What the hub believes must follow what is on screen when others move screens behind its back.
TEST_F(SXPresentationTest, ScreensMovedWithoutTheHubLeaveNoStaleState) {
  auto hub = SX::currentHelper();
  // The current screen dismissed by someone else without a report: a new screen still shows.
  hub->showViewController(std::make_shared<ui::ViewController>(), [] {});
  settle();
  root->dismissViewControllerAnimated(false);
  auto next = SXSharer::make<LogoutProbeSharer>();
  hub->showViewController(next);
  settle();
  EXPECT_EQ(hub->currentView(), next);
  EXPECT_EQ(root->presentedViewController(), next);

  // A disappearance inside the current screen (a login page pushed on it and popped) is not the
  // current screen's dismissal: the hub still hides it afterwards.
  auto login = std::make_shared<SXOAuthView>();
  next->pushViewController(login, false);
  next->popViewControllerAnimated(false);
  EXPECT_EQ(hub->currentView(), next);

  // A screen being dismissed by someone else is left to that dismissal: no second one, and the
  // hub is not left believing it dismisses.
  root->dismissViewControllerAnimated(true);
  hub->hideCurrentViewController();
  EXPECT_FALSE(hub->isDismissingView());
  settle();
  EXPECT_EQ(hub->currentView(), nullptr);
  EXPECT_FALSE(hub->isDismissingView());
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(SXPresentationTest, TheApplicationsRootIsUsedAndNotRetained) {
  auto hub = SX::currentHelper();
  auto other = std::make_shared<ui::ViewController>();
  root->presentViewController(other, false);
  settle();
  {
    auto appRoot = std::make_shared<ui::ViewController>();
    SX::setRootViewController(appRoot);
    EXPECT_EQ(hub->getCurrentRootViewController(), appRoot);
  }
  // Gone: the window's screen again, and the top screen is the one it presents.
  EXPECT_EQ(hub->getCurrentRootViewController(), root);
  EXPECT_EQ(SX::getTopViewController(root), other);
}

TEST_F(SXPresentationTest, BarTintAndStyleComeFromTheConfiguration) {
  configurator->set("barStyle", box("UIBarStyleBlackTranslucent"));
  configurator->set("barTintForView:", graphics::Color::make(0.1, 0.2, 0.3));
  auto sharer = SXSharer::make<LogoutProbeSharer>();
  SX::currentHelper()->showViewController(sharer);
  settle();
  EXPECT_EQ(SX::currentHelper()->currentView(), sharer);
  EXPECT_EQ(sharer->navigationBar()->barStyle(), ui::BarStyle::BlackTranslucent);
  EXPECT_EQ(sharer->toolbar()->barStyle(), ui::BarStyle::BlackTranslucent);
  ASSERT_TRUE(sharer->navigationBar()->tintColor());
  EXPECT_TRUE(sharer->navigationBar()->tintColor()->isEqual(*graphics::Color::make(0.1, 0.2, 0.3)));
}

}  // namespace
}  // namespace zv

namespace zv {
namespace {

class SXRootChoiceTest : public zv::testing::SharingTest {};

TEST_F(SXRootChoiceTest, AWindowAboveTheNormalLevelIsPassedOver) {
  auto normalRoot = std::make_shared<ui::ViewController>();
  showRoot(normalRoot);
  auto overlayRoot = std::make_shared<ui::ViewController>();
  auto overlay = ui::Window::make(ui::Rect(0, 0, 320, 480));
  overlay->setRootViewController(overlayRoot);
  overlay->setWindowLevel(ui::kWindowLevelAlert);
  overlay->makeKeyAndVisible();
  EXPECT_EQ(SX::currentHelper()->getCurrentRootViewController(), normalRoot);
  overlay->setWindowLevel(ui::kWindowLevelNormal);
  EXPECT_EQ(SX::currentHelper()->getCurrentRootViewController(), overlayRoot);
}

TEST_F(SXRootChoiceTest, WithoutAnyWindowNothingIsPresented) {
  auto hub = SX::currentHelper();
  EXPECT_EQ(hub->getCurrentRootViewController(), nullptr);
  hub->showViewController(std::make_shared<ui::ViewController>(), [] {});
  EXPECT_EQ(hub->currentView(), nullptr);
}

}  // namespace
}  // namespace zv
