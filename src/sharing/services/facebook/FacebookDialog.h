#pragma once
// The Facebook client's in-application web dialog: a framed overlay over the key window holding
// a web view that loads one of the service's mobile web dialogs (feed, requests, login) and
// watches the page's navigation for the redirect to the pseudo-scheme "fbconnect", which ends the
// dialog with success, cancellation or an error. FacebookLoginDialog reads the access token from
// the login page's redirect.
//
// A dialog ends exactly once: by that redirect, the close button (cancel), or a load error, a
// page request that times out after `loadTimeout` seconds included. Tapped links leave for
// the system browser unless the delegate refuses them.
//
// Threads: main thread only (views, notifications, timers). Ownership: the delegates are not
// retained; while shown the dialog is held by the window (through its background view); the
// client keeps the last dialog it opened.

#include <optional>
#include <string>

#include "platform/foundation/Values.h"
#include "platform/ui/Button.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/View.h"
#include "platform/ui/WebView.h"
#include "platform/runloop/Timer.h"

namespace zv {

class FacebookDialog;
class FacebookFrictionlessRequestSettings;

// Dialog outcome; every call optional (asked with respondsToSelector by its name).
class FacebookDialogDelegate : public Protocol {
 public:
  virtual void dialogDidComplete(FacebookDialog& dialog) { (void)dialog; }
  virtual void dialogCompleteWithUrl(const Ref<URL>& url) { (void)url; }
  virtual void dialogDidNotCompleteWithUrl(const Ref<URL>& url) { (void)url; }
  virtual void dialogDidNotComplete(FacebookDialog& dialog) { (void)dialog; }
  virtual void dialogDidFailWithError(FacebookDialog& dialog, const Ref<Error>& error) { (void)dialog, (void)error; }
  virtual bool dialogShouldOpenURLInExternalBrowser(FacebookDialog& dialog, const Ref<URL>& url) {
    (void)dialog, (void)url;
    return true;
  }
};

class FacebookLoginDialogDelegate : public Protocol {
 public:
  virtual void facebookDialogLoginExpirationDate(const std::string& token, const Ref<Date>& expirationDate) = 0;
  virtual void facebookDialogNotLogin(bool cancelled) = 0;
};

// YES on a pad.
bool FacebookDialogIsPad();

// The lifetime given to a login whose reply names none: the service's long-lived tokens last
// about sixty days.
inline constexpr double kFacebookDefaultTokenLifetime = 60.0 * 24 * 3600;

class FacebookDialog : public ui::View, public ui::WebViewDelegate {
 public:
  static Ref<FacebookDialog> make(std::string url, Ref<MutableDictionary> params, bool isViewInvisible,
                                  Ref<FacebookFrictionlessRequestSettings> frictionlessSettings,
                                  std::weak_ptr<FacebookDialogDelegate> delegate);
  FacebookDialog();
  ~FacebookDialog() override;

  // Builds the subviews (call once after construction; make() does).
  virtual void init();

  void show();
  void load();
  void loadURLGet(const std::string& url, const Ref<Dictionary>& params);
  // `base` + "?" + the escaped pairs; `base` alone when there is no dictionary.
  static Ref<URL> generateURL(const std::string& base, const Ref<Dictionary>& params);

  void dismissWithSuccess(bool success, bool animated);
  void dismissWithError(const Ref<Error>& error, bool animated);
  virtual void dialogDidSucceed(const Ref<URL>& url);
  virtual void dialogDidCancel(const Ref<URL>& url);
  // The page redirected to the cancel address with an error code.
  virtual void dialogDidFail(const Ref<Error>& error);
  // The close button.
  void cancel();
  virtual void dialogWillAppear() {}
  virtual void dialogWillDisappear() {}

  // The value after `needle` ("access_token=") in `url`, percent-decoded; the needle must start
  // the text or follow "?", "&" or "#".
  static std::optional<std::string> getStringFromUrl(std::string_view url, std::string_view needle);
  static bool testBoolUrlParam(const Ref<URL>& url, std::string_view needle);

  std::weak_ptr<FacebookDialogDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<FacebookDialogDelegate> delegate) { delegate_ = std::move(delegate); }
  const Ref<MutableDictionary>& params() const { return params_; }
  const std::string& serverURL() const { return serverURL_; }
  const Ref<URL>& loadingURL() const { return loadingURL_; }
  const Ref<ui::WebView>& webView() const { return webView_; }
  const Ref<ui::Button>& closeButton() const { return closeButton_; }
  const Ref<ui::ActivityIndicatorView>& spinner() const { return spinner_; }
  const Ref<ui::View>& modalBackgroundView() const { return modalBackgroundView_; }
  bool isViewInvisible() const { return isViewInvisible_; }
  // Whether the dialog is on screen now (added to a window and not dismissed).
  bool isShowing() const { return showing_; }
  // Whether the dialog has ended (told its delegate).
  bool isDismissed() const { return dismissed_; }
  // The time-out of the page's request, in seconds: the dialog fails with it.
  double loadTimeout() const { return loadTimeout_; }
  void setLoadTimeout(double seconds) { loadTimeout_ = seconds; }

  // Layout and orientation.
  void sizeToFitOrientation(bool transform);
  graphics::AffineTransform transformForOrientation() const;
  bool shouldRotateToOrientation(ui::InterfaceOrientation orientation) const;
  void updateWebOrientation();
  void drawRect(graphics::BitmapContext& context, const graphics::Rect& rect) override;

  // Web view.
  bool webViewShouldStartLoadWithRequestNavigationType(ui::WebView& webView, const Ref<net::URLRequest>& request,
                                                       ui::WebViewNavigationType type) override;
  void webViewDidFinishLoad(ui::WebView& webView) override;
  void webViewDidFailLoadWithError(ui::WebView& webView, const Ref<Error>& error) override;

 protected:
  Ref<FacebookDialogDelegate> delegateAnswering(std::string_view selector) const;
  void dismiss(bool animated);
  static bool isIgnoredLoadError(const Ref<Error>& error);

  std::weak_ptr<FacebookDialogDelegate> delegate_;
  Ref<MutableDictionary> params_;
  std::string serverURL_;
  Ref<URL> loadingURL_;
  Ref<ui::WebView> webView_;
  Ref<ui::ActivityIndicatorView> spinner_;
  Ref<ui::Button> closeButton_;
  ui::InterfaceOrientation orientation_ = ui::InterfaceOrientation::Portrait;
  bool showingKeyboard_ = false;
  bool isViewInvisible_ = false;
  Ref<FacebookFrictionlessRequestSettings> frictionlessSettings_;
  Ref<ui::View> modalBackgroundView_;

 private:
  void showWebView();
  void showSpinner();
  void hideSpinner();
  void postDismissCleanup();
  void addObservers();
  void removeObservers();
  void dialogSuccessHandleFrictionlessResponses(const Ref<URL>& url);
  void deviceOrientationDidChange();
  void keyboardWillShow();
  void keyboardWillHide();

  Ref<Timer> revealTimer_;
  double loadTimeout_ = 60.0;
  bool showing_ = false;
  bool dismissed_ = false;
  std::vector<ObjectPtr> observerTokens_;
};

class FacebookLoginDialog : public FacebookDialog {
 public:
  static Ref<FacebookLoginDialog> make(std::string url, Ref<MutableDictionary> loginParams,
                                       std::weak_ptr<FacebookLoginDialogDelegate> delegate);

  void dialogDidSucceed(const Ref<URL>& url) override;
  void dialogDidCancel(const Ref<URL>& url) override;
  void dialogDidFail(const Ref<Error>& error) override;
  void webViewDidFailLoadWithError(ui::WebView& webView, const Ref<Error>& error) override;

 private:
  std::weak_ptr<FacebookLoginDialogDelegate> loginDelegate_;
};

}  // namespace zv
