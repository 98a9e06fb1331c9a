#pragma once
// A small web-browser screen: a web view with a toolbar (back, forward, activity spinner, reload,
// action), an optional title bar with a dismiss button, page titles from the loaded document, an
// action sheet that hands the page to the system browser, and a filter that hands text-message,
// video-player and store links to the system instead of loading them. Its web view refuses a
// network page's links to local files and never loads a script link (see WebView.h).
//
// Modes: 0 inside a navigation controller, 1 modal with its own title bar, 2 toolbar at the top
// (inside a tab). Mode, flags, bar style and dismiss title take effect when the view is built.
//
// Main thread only. The delegate is not retained (its accessors may be called from any thread).
// Leaving the screen for good (popped, dismissed, taken out of its tab bar, destroyed) stops its
// page load and turns the activity indicators off; covered (another tab chosen, a screen pushed or
// presented over it) it keeps loading, and the page shows when it comes back.

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Bars.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace zv {

// Hosts of the links handed to the system.
inline constexpr const char* kMiniWebBrowserVideoPlayerPrefix = "http://video.mirovast.com/v/";
inline constexpr const char* kMiniWebBrowserStorePrefixes[] = {"http://store.mirovast.com/", "http://apps.mirovast.com/"};

class MiniWebBrowserDelegate : public Protocol {
 public:
  // Optional: asked with respondsToSelector.
  virtual void miniWebBrowserDidDismiss() {}
};

class MiniWebBrowser : public ui::ViewController, public ui::WebViewDelegate, public ui::ActionSheetDelegate {
 public:
  static Ref<MiniWebBrowser> makeWithUrl(const Ref<URL>& url);
  MiniWebBrowser() = default;
  ~MiniWebBrowser() override;

  std::shared_ptr<MiniWebBrowserDelegate> delegate() const;
  void setDelegate(std::weak_ptr<MiniWebBrowserDelegate> delegate);
  int mode() const { return mode_; }
  void setMode(int mode) { mode_ = mode; }
  bool showURLStringOnActionSheetTitle() const { return showURLStringOnActionSheetTitle_; }
  void setShowURLStringOnActionSheetTitle(bool show) { showURLStringOnActionSheetTitle_ = show; }
  bool showPageTitleOnTitleBar() const { return showPageTitleOnTitleBar_; }
  void setShowPageTitleOnTitleBar(bool show) { showPageTitleOnTitleBar_ = show; }
  bool showReloadButton() const { return showReloadButton_; }
  void setShowReloadButton(bool show) { showReloadButton_ = show; }
  bool showActionButton() const { return showActionButton_; }
  void setShowActionButton(bool show) { showActionButton_ = show; }
  ui::BarStyle barStyle() const { return barStyle_; }
  void setBarStyle(ui::BarStyle style) { barStyle_ = style; }
  const std::string& modalDismissButtonTitle() const { return modalDismissButtonTitle_; }
  void setModalDismissButtonTitle(std::string title) { modalDismissButtonTitle_ = std::move(title); }
  // A fixed title; page titles are then no longer shown.
  void setFixedTitleBarText(std::string text);

  void loadURL(const Ref<URL>& url);
  void setTitleBarText(const std::optional<std::string>& text);
  void toggleBackForwardButtons();
  void showActivityIndicators();
  void hideActivityIndicators();
  void backButtonTouchUp();
  void forwardButtonTouchUp();
  void reloadButtonTouchUp();
  void buttonActionTouchUp();
  void showActionSheet();
  void dismissController();

  // The parts, once the view is built.
  const Ref<ui::WebView>& webView() const { return webView_; }
  const Ref<ui::Toolbar>& toolBar() const { return toolBar_; }
  const Ref<ui::NavigationBar>& navigationBarModal() const { return navigationBarModal_; }
  const Ref<ui::ActivityIndicatorView>& activityIndicator() const { return activityIndicator_; }
  const Ref<ui::BarButtonItem>& buttonGoBack() const { return buttonGoBack_; }
  const Ref<ui::BarButtonItem>& buttonGoForward() const { return buttonGoForward_; }
  const Ref<ui::ActionSheet>& visibleActionSheet() const { return actionSheet_; }

  // View controller.
  void viewDidLoad() override;
  void viewWillDisappear(bool animated) override;
  // Taken away while covered (a screen pushed over it, then its whole stack dismissed), the
  // browser gets no disappearance of its own: leaving for good stops its load there.
  void viewDidLeave() override;
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation orientation) override;
  void willRotateToInterfaceOrientation(ui::InterfaceOrientation orientation, double duration) override;

  // Web view and action sheet delegate.
  bool webViewShouldStartLoadWithRequestNavigationType(ui::WebView&, const Ref<net::URLRequest>& request,
                                                       ui::WebViewNavigationType type) override;
  void webViewDidStartLoad(ui::WebView&) override;
  void webViewDidFinishLoad(ui::WebView&) override;
  void webViewDidFailLoadWithError(ui::WebView&, const Ref<Error>& error) override;
  void actionSheetClickedButtonAtIndex(ui::ActionSheet&, long buttonIndex) override;

 private:
  void initToolBar();
  void initWebView();
  void initTitleBar();
  Ref<MiniWebBrowser> self() { return std::static_pointer_cast<MiniWebBrowser>(shared_from_this()); }

  Ref<URL> urlToLoad_;
  Ref<ui::WebView> webView_;
  Ref<ui::Toolbar> toolBar_;
  Ref<ui::NavigationBar> navigationBarModal_;
  Ref<ui::ActivityIndicatorView> activityIndicator_;
  Ref<ui::BarButtonItem> buttonGoBack_, buttonGoForward_;
  Ref<ui::ActionSheet> actionSheet_;
  Ref<ui::AlertView> failureAlert_;
  int mode_ = 0;
  bool showURLStringOnActionSheetTitle_ = true;
  bool showPageTitleOnTitleBar_ = true;
  bool showReloadButton_ = true;
  bool showActionButton_ = true;
  ui::BarStyle barStyle_ = ui::BarStyle::Default;
  std::string modalDismissButtonTitle_;
  std::optional<std::string> forcedTitleBarText_;
  ui::BarStyle originalBarStyle_ = ui::BarStyle::Default;
  mutable std::mutex delegateMutex_;
  std::weak_ptr<MiniWebBrowserDelegate> delegate_;
};

}  // namespace zv
