#include "utilities/MiniWebBrowser.h"

#include <algorithm>

#include "platform/net/URLRequest.h"
#include "platform/system/Bundle.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/Window.h"

namespace zv {

using ui::Rect;

namespace {

constexpr double kBarHeight = 44;
constexpr double kTabBarHeight = 49;

std::string localized(const char* english) { return Bundle::mainBundle()->localizedStringForKey(english, english); }

// Whether a screen beginning to disappear leaves for good (dismissed, popped, taken out of its
// container) rather than being covered (another tab, a screen pushed or presented over it).
// Containers drop a screen from their list before its disappearance begins, and a dismissal marks
// the screens it removes first.
bool leavesForGood(Ref<ui::ViewController> screen) {
  while (screen) {
    if (screen->isBeingDismissed()) return true;
    auto parent = screen->parentViewController();
    if (!parent) {
      if (screen->presentingViewController()) return false;
      auto window = screen->isViewLoaded() ? screen->view()->window() : nullptr;
      return !(window && window->rootViewController() == screen);
    }
    const auto children = parent->childViewControllers();
    if (std::find(children.begin(), children.end(), screen) == children.end()) return true;
    screen = parent;
  }
  return true;
}

}  // namespace

Ref<MiniWebBrowser> MiniWebBrowser::makeWithUrl(const Ref<URL>& url) {
  auto browser = std::make_shared<MiniWebBrowser>();
  browser->urlToLoad_ = url;
  browser->modalDismissButtonTitle_ = localized("Done");
  return browser;
}

MiniWebBrowser::~MiniWebBrowser() {
  if (!webView_) return;
  // The web view no longer reaches this screen, so its cancellation cannot: stop here.
  webView_->setDelegate({});
  if (webView_->isLoading()) {
    webView_->stopLoading();
    hideActivityIndicators();
  }
}

std::shared_ptr<MiniWebBrowserDelegate> MiniWebBrowser::delegate() const {
  std::lock_guard lock(delegateMutex_);
  return delegate_.lock();
}

void MiniWebBrowser::setDelegate(std::weak_ptr<MiniWebBrowserDelegate> delegate) {
  std::lock_guard lock(delegateMutex_);
  delegate_ = std::move(delegate);
}

void MiniWebBrowser::setFixedTitleBarText(std::string text) {
  forcedTitleBarText_ = std::move(text);
  showPageTitleOnTitleBar_ = false;
}

// --- Building the view ---

void MiniWebBrowser::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  if (mode_ == 2) {
    auto application = ui::Application::sharedApplication();
    Rect screen = ui::Screen::mainScreen()->bounds();
    double status = application->isStatusBarHidden() ? 0 : application->statusBarFrame().height();
    view()->setFrame(Rect(0, 0, screen.width(), screen.height() - kTabBarHeight - status));
  }
  if (mode_ == 0) {
    if (auto navigation = navigationController()) originalBarStyle_ = navigation->navigationBar()->barStyle();
  }
  initToolBar();
  initWebView();
  if (mode_ == 1) initTitleBar();
  buttonGoBack_->setEnabled(false);
  buttonGoForward_->setEnabled(false);
  if (forcedTitleBarText_) setTitleBarText(forcedTitleBarText_);
}

void MiniWebBrowser::initToolBar() {
  if (mode_ == 0) {
    if (auto navigation = navigationController()) navigation->navigationBar()->setBarStyle(barStyle_);
  }
  Rect bounds = view()->bounds();
  double y = mode_ == 2 ? -1 : bounds.height() - kBarHeight;
  toolBar_ = ui::Toolbar::make(Rect(0, y, bounds.width(), kBarHeight));
  toolBar_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleTopMargin);
  toolBar_->setBarStyle(barStyle_);
  view()->addSubview(toolBar_);

  std::weak_ptr<MiniWebBrowser> weak = self();
  auto act = [weak](void (MiniWebBrowser::*method)()) {
    return [weak, method](ui::BarButtonItem&) {
      if (auto browser = weak.lock()) (browser.get()->*method)();
    };
  };
  buttonGoBack_ = ui::BarButtonItem::withImage(graphics::Image::imageNamed("back_icon.png"), ui::BarButtonItemStyle::Plain,
                                               act(&MiniWebBrowser::backButtonTouchUp));
  buttonGoForward_ = ui::BarButtonItem::withImage(graphics::Image::imageNamed("forward_icon.png"),
                                                  ui::BarButtonItemStyle::Plain, act(&MiniWebBrowser::forwardButtonTouchUp));
  activityIndicator_ = ui::ActivityIndicatorView::make(ui::ActivityIndicatorViewStyle::White);
  activityIndicator_->setFrame(Rect(11, 7, 20, 20));
  auto holder = ui::View::make(Rect(0, 0, 43, 33));
  holder->addSubview(activityIndicator_);

  std::vector<Ref<ui::BarButtonItem>> items{buttonGoBack_, ui::BarButtonItem::fixedSpace(30), buttonGoForward_,
                                            ui::BarButtonItem::flexibleSpace(),
                                            ui::BarButtonItem::withCustomView(holder)};
  if (showReloadButton_) {
    items.push_back(ui::BarButtonItem::withImage(graphics::Image::imageNamed("reload_icon.png"),
                                                 ui::BarButtonItemStyle::Plain, act(&MiniWebBrowser::reloadButtonTouchUp)));
  }
  if (showActionButton_) {
    items.push_back(ui::BarButtonItem::fixedSpace(20));
    items.push_back(ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Action,
                                                      act(&MiniWebBrowser::buttonActionTouchUp)));
  }
  toolBar_->setItems(std::move(items), true);
}

void MiniWebBrowser::initWebView() {
  Rect bounds = view()->bounds();
  Rect frame;
  switch (mode_) {
    case 0: frame = Rect(0, 0, bounds.width(), bounds.height() - kBarHeight); break;
    case 1: frame = Rect(0, kBarHeight, bounds.width(), bounds.height() - 2 * kBarHeight); break;
    default:
      // Under the toolbar at the top; the view keeps its own background.
      frame = Rect(0, kBarHeight - 1, bounds.width(), bounds.height() - (kBarHeight - 1));
      break;
  }
  webView_ = ui::WebView::make(frame);
  webView_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);
  webView_->setScalesPageToFit(true);
  webView_->setDelegate(std::weak_ptr<ui::WebViewDelegate>(self()));
  view()->insertSubviewBelowSubview(webView_, toolBar_);
  if (urlToLoad_) webView_->loadRequest(net::URLRequest::requestWithURL(urlToLoad_));
}

void MiniWebBrowser::initTitleBar() {
  navigationBarModal_ = ui::NavigationBar::make(Rect(0, 0, view()->bounds().width(), kBarHeight));
  navigationBarModal_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth);
  navigationBarModal_->setBarStyle(barStyle_);
  auto item = ui::NavigationItem::make("");
  std::weak_ptr<MiniWebBrowser> weak = self();
  item->setLeftBarButtonItem(ui::BarButtonItem::withTitle(modalDismissButtonTitle_, ui::BarButtonItemStyle::Bordered,
                                                          [weak](ui::BarButtonItem&) {
                                                            if (auto browser = weak.lock()) browser->dismissController();
                                                          }));
  navigationBarModal_->pushNavigationItem(item, false);
  view()->addSubview(navigationBarModal_);
}

void MiniWebBrowser::viewWillDisappear(bool animated) {
  ui::ViewController::viewWillDisappear(animated);
  if (mode_ == 0) {
    if (auto navigation = navigationController()) navigation->navigationBar()->setBarStyle(originalBarStyle_);
  }
  // A page left behind stops loading; its cancellation turns the activity indicators off. A
  // browser that is only covered keeps loading: its page shows when it comes back.
  if (webView_ && webView_->isLoading() && leavesForGood(self())) webView_->stopLoading();
}

void MiniWebBrowser::viewDidLeave() {
  ui::ViewController::viewDidLeave();
  if (webView_ && webView_->isLoading()) webView_->stopLoading();
}

bool MiniWebBrowser::shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation orientation) {
  return orientation != ui::InterfaceOrientation::PortraitUpsideDown;
}

void MiniWebBrowser::willRotateToInterfaceOrientation(ui::InterfaceOrientation orientation, double duration) {
  ui::ViewController::willRotateToInterfaceOrientation(orientation, duration);
  if (!webView_) return;
  Rect bounds = webView_->bounds();
  // A view with no height has no proportions to keep.
  if (bounds.height() <= 0 || bounds.width() <= 0) return;
  double ratio = bounds.width() / bounds.height();
  bool portrait = ui::isPortrait(orientation);
  for (const auto& subview : webView_->subviews()) {
    auto scroll = std::dynamic_pointer_cast<ui::ScrollView>(subview);
    if (!scroll) continue;
    double factor = portrait ? 1 / ratio : ratio;
    scroll->setMinimumZoomScale(scroll->minimumZoomScale() * factor);
    scroll->setMaximumZoomScale(scroll->maximumZoomScale() * factor);
    scroll->setZoomScale(scroll->zoomScale() * factor, true);
  }
}

// --- Actions ---

void MiniWebBrowser::loadURL(const Ref<URL>& url) {
  if (webView_ && url) webView_->loadRequest(net::URLRequest::requestWithURL(url));
}

void MiniWebBrowser::setTitleBarText(const std::optional<std::string>& text) {
  if (mode_ == 0) {
    if (text) navigationItem()->setTitle(text);
  } else if (mode_ == 1) {
    if (navigationBarModal_ && navigationBarModal_->topItem()) navigationBarModal_->topItem()->setTitle(text);
  }
}

void MiniWebBrowser::toggleBackForwardButtons() {
  if (!webView_) return;
  buttonGoBack_->setEnabled(webView_->canGoBack());
  buttonGoForward_->setEnabled(webView_->canGoForward());
}

void MiniWebBrowser::showActivityIndicators() {
  activityIndicator_->setHidden(false);
  activityIndicator_->startAnimating();
  ui::Application::sharedApplication()->setNetworkActivityIndicatorVisible(true);
}

void MiniWebBrowser::hideActivityIndicators() {
  activityIndicator_->stopAnimating();
  activityIndicator_->setHidden(true);
  ui::Application::sharedApplication()->setNetworkActivityIndicatorVisible(false);
}

void MiniWebBrowser::backButtonTouchUp() {
  webView_->goBack();
  toggleBackForwardButtons();
}

void MiniWebBrowser::forwardButtonTouchUp() {
  webView_->goForward();
  toggleBackForwardButtons();
}

void MiniWebBrowser::reloadButtonTouchUp() {
  webView_->reload();
  toggleBackForwardButtons();
}

void MiniWebBrowser::buttonActionTouchUp() { showActionSheet(); }

void MiniWebBrowser::showActionSheet() {
  std::string title;
  if (showURLStringOnActionSheetTitle_ && webView_ && webView_->request() && webView_->request()->url())
    title = webView_->request()->url()->absoluteString();
  actionSheet_ = ui::ActionSheet::make(title, std::weak_ptr<ui::ActionSheetDelegate>(self()), localized("Cancel"),
                                       std::nullopt, {localized("Open in Safari")});
  actionSheet_->setActionSheetStyle(ui::ActionSheetStyle::BlackTranslucent);
  auto tabs = tabBarController();
  actionSheet_->showInView(mode_ == 2 && tabs ? tabs->view() : view());
}

void MiniWebBrowser::actionSheetClickedButtonAtIndex(ui::ActionSheet&, long buttonIndex) {
  if (buttonIndex == 0 && webView_ && webView_->request())
    ui::Application::sharedApplication()->openURL(webView_->request()->url());
  actionSheet_ = nullptr;
}

void MiniWebBrowser::dismissController() {
  if (webView_ && webView_->isLoading()) webView_->stopLoading();
  dismissViewControllerAnimated(true);
  auto listener = delegate();
  if (listener && listener->respondsToSelector("miniWebBrowserDidDismiss")) listener->miniWebBrowserDidDismiss();
}

// --- Web view events ---

bool MiniWebBrowser::webViewShouldStartLoadWithRequestNavigationType(ui::WebView&, const Ref<net::URLRequest>& request,
                                                                     ui::WebViewNavigationType) {
  auto url = request ? request->url() : nullptr;
  if (!url) return true;
  std::string address = url->absoluteString();
  bool handOver = address.starts_with("sms:") || address.starts_with(kMiniWebBrowserVideoPlayerPrefix);
  for (const char* prefix : kMiniWebBrowserStorePrefixes) handOver = handOver || address.starts_with(prefix);
  if (!handOver) return true;
  ui::Application::sharedApplication()->openURL(url);
  return false;
}

void MiniWebBrowser::webViewDidStartLoad(ui::WebView&) {
  toggleBackForwardButtons();
  showActivityIndicators();
}

void MiniWebBrowser::webViewDidFinishLoad(ui::WebView& view) {
  if (showPageTitleOnTitleBar_) setTitleBarText(view.stringByEvaluatingJavaScriptFromString("document.title"));
  hideActivityIndicators();
  toggleBackForwardButtons();
}

void MiniWebBrowser::webViewDidFailLoadWithError(ui::WebView&, const Ref<Error>& error) {
  hideActivityIndicators();
  if (error && error->code() == ui::kWebErrorCancelled) return;
  failureAlert_ = ui::AlertView::make(localized("Could not load page"),
                                      error ? error->localizedDescription() : std::string(), {}, localized("OK"));
  failureAlert_->show();
}

}  // namespace zv
