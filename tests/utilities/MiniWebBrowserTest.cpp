// The in-app browser: its layout per mode (rendered to PNG), the toolbar's items, the link filter,
// page titles and load failures against a loopback web server, the action sheet and dismissal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/ViewRenderer.h"
#include "platform/ui/Window.h"
#include "support/TestSupport.h"
#include "support/net/FaultServer.h"
#include "support/net/LoopbackPorts.h"
#include "utilities/MiniWebBrowser.h"

namespace zv {
namespace {

using ui::Rect;

std::string page(const std::string& title) {
  std::string body = "<html><head><title>" + title + "</title></head><body>text</body></html>";
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class DismissCounter : public Object, public MiniWebBrowserDelegate {
 public:
  bool respondsToSelector(std::string_view selector) const override { return selector == "miniWebBrowserDidDismiss"; }
  void miniWebBrowserDidDismiss() override { ++dismissed; }
  int dismissed = 0;
};

class MiniWebBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    ui::Application::sharedApplication()->reset();
    server.route("/one", [](const zv::testing::RecordedRequest&, zv::testing::FaultServer::Connection& c) {
      c.send(page("First page"));
    });
    server.route("/two", [](const zv::testing::RecordedRequest&, zv::testing::FaultServer::Connection& c) {
      c.send(page("Second page"));
    });
    // Answers once the test lets it (the time limit only ends a test that never does).
    server.route("/held", [this](const zv::testing::RecordedRequest&, zv::testing::FaultServer::Connection& c) {
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!released && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      c.send(page("Held page"));
    });
    ASSERT_TRUE(server.start());
    window = ui::Window::make(Rect(0, 0, 320, 480));
    root = std::make_shared<ui::ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    released = true;
    ui::Application::sharedApplication()->reset();
  }

  // Presented the way the help book does: mode 1 in a navigation controller without its bar.
  Ref<MiniWebBrowser> present(const std::string& path, int mode = 1) {
    auto browser = MiniWebBrowser::makeWithUrl(URL::make(server.url(path)));
    browser->setMode(mode);
    browser->setModalDismissButtonTitle("Back");
    browser->setBarStyle(ui::BarStyle::Black);
    auto navigation = ui::NavigationController::make(browser);
    navigation->setNavigationBarHidden(true);
    root->presentViewController(navigation, true);
    return browser;
  }
  static bool settled(const Ref<MiniWebBrowser>& browser) {
    return browser->webView() && !browser->webView()->isLoading() && !browser->activityIndicator()->isAnimating();
  }

  std::atomic<bool> released{false};
  zv::testing::FaultServer server;
  Ref<ui::Window> window;
  Ref<ui::ViewController> root;
};

TEST_F(MiniWebBrowserTest, ModalModeLaysOutTitleBarWebViewAndToolbar) {
  auto browser = present("/one");
  Rect bounds = browser->view()->bounds();
  EXPECT_EQ(browser->toolBar()->frame(), Rect(0, bounds.height() - 44, bounds.width(), 44));
  EXPECT_EQ(browser->webView()->frame(), Rect(0, 44, bounds.width(), bounds.height() - 88));
  ASSERT_TRUE(browser->navigationBarModal());
  EXPECT_EQ(browser->navigationBarModal()->frame(), Rect(0, 0, bounds.width(), 44));
  EXPECT_EQ(browser->navigationBarModal()->barStyle(), ui::BarStyle::Black);
  auto dismiss = browser->navigationBarModal()->topItem()->leftBarButtonItem();
  ASSERT_TRUE(dismiss);
  EXPECT_EQ(dismiss->title(), "Back");
  EXPECT_FALSE(browser->buttonGoBack()->isEnabled());
  EXPECT_FALSE(browser->buttonGoForward()->isEnabled());
  // back, 30, forward, flexible, spinner, reload, 20, action
  const auto& items = browser->toolBar()->items();
  ASSERT_EQ(items.size(), 8u);
  EXPECT_DOUBLE_EQ(items[1]->width(), 30);
  EXPECT_EQ(items[4]->customView()->frame(), Rect(0, 0, 43, 33));
  EXPECT_EQ(browser->activityIndicator()->frame(), Rect(11, 7, 20, 20));
  EXPECT_DOUBLE_EQ(items[6]->width(), 20);

  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
  auto path = zv::testing::testOutputDirectory() / "mini-web-browser-modal.png";
  ASSERT_EQ(ui::renderViewToPNG(browser->view(), path), nullptr);
}

TEST_F(MiniWebBrowserTest, ToolbarEndsWithReloadOrSpinnerWhenButtonsAreOff) {
  auto browser = MiniWebBrowser::makeWithUrl(nullptr);
  browser->setMode(1);
  browser->setShowActionButton(false);
  browser->view();
  ASSERT_EQ(browser->toolBar()->items().size(), 6u);
  EXPECT_EQ(browser->toolBar()->items().back()->customView(), nullptr);  // the reload button

  auto bare = MiniWebBrowser::makeWithUrl(nullptr);
  bare->setShowActionButton(false);
  bare->setShowReloadButton(false);
  bare->view();
  ASSERT_EQ(bare->toolBar()->items().size(), 5u);
  EXPECT_NE(bare->toolBar()->items().back()->customView(), nullptr);  // the spinner
}

TEST_F(MiniWebBrowserTest, TabModeKeepsItsBackgroundAndHasNoTitle) {
  auto browser = MiniWebBrowser::makeWithUrl(nullptr);
  browser->setMode(2);
  auto view = browser->view();
  Rect bounds = view->bounds();
  EXPECT_DOUBLE_EQ(browser->toolBar()->frame().y(), -1);
  EXPECT_EQ(browser->webView()->frame(), Rect(0, 43, bounds.width(), bounds.height() - 43));
  auto background = view->backgroundColor();
  EXPECT_FALSE(background && background->isEqual(*graphics::Color::redColor()));
  auto image = ui::renderView(view);
  ASSERT_TRUE(image);
  const std::uint8_t* middle = image->bitmap().pixel(static_cast<int>(bounds.width() / 2), static_cast<int>(bounds.height() / 2));
  EXPECT_FALSE(middle[0] > 200 && middle[1] < 60 && middle[2] < 60) << "the page area is painted red";
  browser->setTitleBarText("ignored");
  EXPECT_FALSE(browser->navigationItem()->title());
}

TEST_F(MiniWebBrowserTest, PageTitlesFollowLoadsUnlessATitleIsFixed) {
  auto browser = present("/one");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return browser->navigationBarModal()->topItem()->title() == "First page"; }, 30));
  EXPECT_FALSE(ui::Application::sharedApplication()->isNetworkActivityIndicatorVisible());
  browser->webView()->simulateLinkTap(URL::make(server.url("/two")));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return browser->navigationBarModal()->topItem()->title() == "Second page"; }, 30));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
  EXPECT_TRUE(browser->buttonGoBack()->isEnabled());
  browser->backButtonTouchUp();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return browser->navigationBarModal()->topItem()->title() == "First page"; }, 30));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser) && browser->buttonGoForward()->isEnabled(); }, 30));

  auto fixed = MiniWebBrowser::makeWithUrl(URL::make(server.url("/one")));
  fixed->setMode(1);
  fixed->setFixedTitleBarText("Help");
  fixed->view();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(fixed); }, 30));
  EXPECT_EQ(fixed->navigationBarModal()->topItem()->title(), "Help");
}

TEST_F(MiniWebBrowserTest, FilteredLinksGoToTheSystemAndLeaveThePage) {
  auto browser = present("/one");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
  int requests = static_cast<int>(server.requests().size());
  for (std::string link : {std::string("sms:+15550100"), std::string(kMiniWebBrowserVideoPlayerPrefix) + "abc",
                           std::string(kMiniWebBrowserStorePrefixes[1]) + "app/id1"}) {
    browser->webView()->simulateLinkTap(URL::make(link));
  }
  auto opened = ui::Application::sharedApplication()->openedURLs();
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0]->absoluteString(), "sms:+15550100");
  EXPECT_EQ(static_cast<int>(server.requests().size()), requests);
  EXPECT_EQ(browser->webView()->request()->url()->absoluteString(), server.url("/one"));
}

// Links on a network page to a local file or to a script: the page, its title and its address
// stay, so reload and "open outside" still mean the page.
TEST_F(MiniWebBrowserTest, ANetworkPageCannotOpenLocalFilesOrMakeAScriptTheAddress) {
  zv::testing::TemporaryDirectory folder;
  zv::testing::writeFile(folder / "private.html", "<title>Private notes</title>");
  auto browser = present("/one");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
  browser->webView()->simulateLinkTap(URL::fileURL((folder / "private.html").string()));
  pumpRunLoopFor(0.1);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
  EXPECT_EQ(browser->navigationBarModal()->topItem()->title(), "First page");
  EXPECT_EQ(browser->webView()->pageTitle(), "First page");
  browser->webView()->simulateLinkTap(URL::make("javascript:void(0)"));
  pumpRunLoopFor(0.1);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
  EXPECT_EQ(browser->webView()->request()->url()->absoluteString(), server.url("/one"));
  browser->buttonActionTouchUp();
  browser->visibleActionSheet()->simulateTapButtonAtIndex(0);
  ASSERT_EQ(ui::Application::sharedApplication()->openedURLs().size(), 1u);
  EXPECT_EQ(ui::Application::sharedApplication()->openedURLs()[0]->absoluteString(), server.url("/one"));
}

TEST_F(MiniWebBrowserTest, FailedLoadsAlertButCancelledOnesDoNot) {
  // A stalled page replaced by another: the first load is cancelled, silently.
  auto browser = present("/stall");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return browser->webView()->isLoading() && server.requests().size() == 1; }, 30));
  browser->loadURL(URL::make(server.url("/one")));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return browser->navigationBarModal()->topItem()->title() == "First page"; }, 30));
  EXPECT_TRUE(ui::ButtonPanel::visiblePanels().empty());

  zv::testing::HeldLoopbackPort refusing;
  browser->loadURL(URL::make(refusing.url("/gone")));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !ui::ButtonPanel::visiblePanels().empty(); }, 30));
  auto alert = std::dynamic_pointer_cast<ui::AlertView>(ui::ButtonPanel::visiblePanels().back());
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title(), "Could not load page");
  EXPECT_EQ(alert->buttonTitleAtIndex(0), "OK");
  EXPECT_FALSE(browser->activityIndicator()->isAnimating());
  alert->simulateTapButtonAtIndex(0);
}

TEST_F(MiniWebBrowserTest, ActionSheetOpensThePageInTheSystemBrowser) {
  auto browser = present("/one");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
  browser->buttonActionTouchUp();
  auto sheet = browser->visibleActionSheet();
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->title(), server.url("/one"));
  EXPECT_EQ(sheet->buttonTitleAtIndex(0), "Open in Safari");
  EXPECT_EQ(sheet->actionSheetStyle(), ui::ActionSheetStyle::BlackTranslucent);
  sheet->simulateTapButtonAtIndex(0);
  auto opened = ui::Application::sharedApplication()->openedURLs();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0]->absoluteString(), server.url("/one"));

  browser->setShowURLStringOnActionSheetTitle(false);
  browser->showActionSheet();
  EXPECT_EQ(browser->visibleActionSheet()->title(), "");
  browser->visibleActionSheet()->simulateTapButtonAtIndex(browser->visibleActionSheet()->cancelButtonIndex());
  EXPECT_EQ(ui::Application::sharedApplication()->openedURLs().size(), 1u);
}

TEST_F(MiniWebBrowserTest, DismissButtonDismissesAndTellsTheDelegate) {
  auto delegate = std::make_shared<DismissCounter>();
  auto browser = present("/one");
  browser->setDelegate(delegate);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return browser->isVisible(); }, 30));  // the presentation is over
  auto dismiss = browser->navigationBarModal()->topItem()->leftBarButtonItem();
  dismiss->simulateTap();
  EXPECT_EQ(delegate->dismissed, 1);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return root->presentedViewController() == nullptr; }, 30));
}

// Leaving the browser while a page loads stops the load and turns the activity indicator off,
// whether it is popped off its navigation controller or simply goes away.
TEST_F(MiniWebBrowserTest, LeavingTheBrowserStopsItsLoadAndTheActivityIndicator) {
  auto application = ui::Application::sharedApplication();
  auto navigation = ui::NavigationController::make(std::make_shared<ui::ViewController>());
  window->setRootViewController(navigation);
  auto browser = MiniWebBrowser::makeWithUrl(URL::make(server.url("/stall")));
  navigation->pushViewController(browser, false);
  ASSERT_TRUE(pumpRunLoopUntil(
      [&] { return application->isNetworkActivityIndicatorVisible() && !server.requests().empty(); }, 30));
  auto web = browser->webView();
  navigation->popViewControllerAnimated(false);
  EXPECT_FALSE(web->isLoading());
  EXPECT_FALSE(application->isNetworkActivityIndicatorVisible());
  EXPECT_FALSE(browser->activityIndicator()->isAnimating());

  auto gone = MiniWebBrowser::makeWithUrl(URL::make(server.url("/stall")));
  gone->view();
  ASSERT_TRUE(pumpRunLoopUntil(
      [&] { return application->isNetworkActivityIndicatorVisible() && server.requests().size() == 2; }, 30));
  web = gone->webView();
  std::weak_ptr<MiniWebBrowser> watch = gone;
  gone = nullptr;
  ASSERT_TRUE(watch.expired());
  EXPECT_FALSE(web->isLoading());
  EXPECT_FALSE(application->isNetworkActivityIndicatorVisible());
}

// Dismissed by its presenter (not through its own button), or taken out of its tab bar, while a
// page loads: the browser has left, and its load stops.
TEST_F(MiniWebBrowserTest, ADismissedOrRemovedBrowserStopsItsLoadAndTheActivityIndicator) {
  auto application = ui::Application::sharedApplication();
  auto browser = present("/stall");
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    return browser->isVisible() && application->isNetworkActivityIndicatorVisible() && server.requests().size() == 1;
  }, 30));
  root->dismissViewControllerAnimated(false);
  EXPECT_FALSE(browser->webView()->isLoading());
  EXPECT_FALSE(browser->activityIndicator()->isAnimating());
  EXPECT_FALSE(application->isNetworkActivityIndicatorVisible());

  auto tabbed = MiniWebBrowser::makeWithUrl(URL::make(server.url("/stall")));
  tabbed->setMode(2);
  auto other = std::make_shared<ui::ViewController>();
  auto tabs = ui::TabBarController::make({tabbed, other});
  window->setRootViewController(tabs);
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    return tabbed->isVisible() && application->isNetworkActivityIndicatorVisible() && server.requests().size() == 2;
  }, 30));
  tabs->setViewControllers({other});
  EXPECT_FALSE(tabbed->webView()->isLoading());
  EXPECT_FALSE(application->isNetworkActivityIndicatorVisible());

  // Covered by a pushed screen when its whole stack is dismissed: it never disappears itself.
  window->setRootViewController(root);
  auto covered = present("/stall");
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    return covered->isVisible() && application->isNetworkActivityIndicatorVisible() && server.requests().size() == 3;
  }, 30));
  covered->navigationController()->pushViewController(std::make_shared<ui::ViewController>(), false);
  EXPECT_TRUE(covered->webView()->isLoading());
  root->dismissViewControllerAnimated(false);
  EXPECT_FALSE(covered->webView()->isLoading());
  EXPECT_FALSE(covered->activityIndicator()->isAnimating());
  EXPECT_FALSE(application->isNetworkActivityIndicatorVisible());
}

// Covered while its page loads (another tab chosen, a screen pushed or presented over it), the
// browser is still there: the page arrives meanwhile and shows when the browser comes back.
TEST_F(MiniWebBrowserTest, ACoveredBrowserKeepsLoadingAndShowsThePageWhenItComesBack) {
  auto application = ui::Application::sharedApplication();
  auto waitForTheHeldLoad = [&](const Ref<MiniWebBrowser>& browser, std::size_t requests) {
    return pumpRunLoopUntil([&] {
      return browser->isVisible() && browser->webView()->isLoading() && server.requests().size() == requests;
    }, 30);
  };
  auto letItArriveWhileCovered = [&](const Ref<MiniWebBrowser>& browser) {
    EXPECT_FALSE(browser->isVisible());
    EXPECT_TRUE(browser->webView()->isLoading()) << "covering the browser stopped its load";
    released = true;
    EXPECT_TRUE(pumpRunLoopUntil([&] { return settled(browser); }, 30));
    released = false;
  };
  auto thePageShows = [&](const Ref<MiniWebBrowser>& browser) {
    EXPECT_TRUE(browser->isVisible());
    EXPECT_EQ(browser->webView()->pageTitle(), "Held page");
    ASSERT_TRUE(browser->webView()->request());
    EXPECT_EQ(browser->webView()->request()->url()->absoluteString(), server.url("/held"));
    EXPECT_FALSE(browser->activityIndicator()->isAnimating());
    EXPECT_FALSE(application->isNetworkActivityIndicatorVisible());
  };
  {
    SCOPED_TRACE("another tab");
    auto browser = MiniWebBrowser::makeWithUrl(URL::make(server.url("/held")));
    browser->setMode(2);
    auto tabs = ui::TabBarController::make({browser, std::make_shared<ui::ViewController>()});
    window->setRootViewController(tabs);
    ASSERT_TRUE(waitForTheHeldLoad(browser, 1));
    tabs->simulateTabTap(1);
    letItArriveWhileCovered(browser);
    tabs->simulateTabTap(0);
    thePageShows(browser);
  }
  {
    SCOPED_TRACE("a pushed screen");
    auto browser = MiniWebBrowser::makeWithUrl(URL::make(server.url("/held")));
    auto navigation = ui::NavigationController::make(browser);
    window->setRootViewController(navigation);
    ASSERT_TRUE(waitForTheHeldLoad(browser, 2));
    navigation->pushViewController(std::make_shared<ui::ViewController>(), false);
    letItArriveWhileCovered(browser);
    navigation->popViewControllerAnimated(false);
    thePageShows(browser);
    EXPECT_EQ(browser->navigationItem()->title(), "Held page");
  }
  {
    SCOPED_TRACE("a presented screen");
    window->setRootViewController(root);
    auto browser = present("/held");
    ASSERT_TRUE(waitForTheHeldLoad(browser, 3));
    browser->presentViewController(std::make_shared<ui::ViewController>(), false);
    letItArriveWhileCovered(browser);
    browser->dismissViewControllerAnimated(false);
    thePageShows(browser);
    EXPECT_EQ(root->presentedViewController(), browser->navigationController());
  }
}

TEST_F(MiniWebBrowserTest, RotationScalesZoomByTheViewProportionsAndSurvivesNoHeight) {
  auto browser = MiniWebBrowser::makeWithUrl(nullptr);
  browser->setMode(1);
  browser->view();
  auto scroll = browser->webView()->scrollView();
  scroll->setMaximumZoomScale(4);
  browser->webView()->setFrame(Rect(0, 0, 480, 240));
  browser->willRotateToInterfaceOrientation(ui::InterfaceOrientation::Portrait, 0.3);
  EXPECT_DOUBLE_EQ(scroll->maximumZoomScale(), 2);
  EXPECT_DOUBLE_EQ(scroll->minimumZoomScale(), 0.5);
  browser->willRotateToInterfaceOrientation(ui::InterfaceOrientation::LandscapeLeft, 0.3);
  EXPECT_DOUBLE_EQ(scroll->maximumZoomScale(), 4);

  browser->webView()->setFrame(Rect(0, 0, 480, 0));
  browser->willRotateToInterfaceOrientation(ui::InterfaceOrientation::Portrait, 0.3);
  EXPECT_DOUBLE_EQ(scroll->maximumZoomScale(), 4);
  EXPECT_DOUBLE_EQ(scroll->minimumZoomScale(), 1);
  EXPECT_FALSE(browser->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::PortraitUpsideDown));
  EXPECT_TRUE(browser->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::LandscapeRight));
}

}  // namespace
}  // namespace zv
