#pragma once
// The screen that shows a service's authorization page and watches every load for the
// application's callback address. A load of the callback address (same scheme, host and port
// without regard to case; the same path, case kept) is refused and its query parameters, percent-
// decoded, go to the delegate as a success; load failures other than a cancelled or interrupted
// load, and a page that shows a PIN instead of redirecting, go to the delegate as failures;
// Cancel stops the page and lets the delegate go before it tells it, then hides the screen
// through the hub, so an answer the page still receives reaches nobody. A page the hub takes away
// before it reported (takenAway, the callback its presenter gives the hub) stops, lets the
// delegate go and tells it so, once; one that reported a failure only stops and lets it go.
//
// Ownership: the delegate is retained until the view reports success, is cancelled or is taken
// away; after that the view talks to no delegate. The web view is the controller's whole view and is owned by it.
// Main thread only.
#include <memory>
#include <string>
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/foundation/URL.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace zv {

class SXOAuthView;

class SXOAuthViewDelegate : public Protocol {
 public:
  // `queryParams` is nullptr when the callback had no parameters.
  virtual void tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView& view, bool success,
                                                                      const Ref<Dictionary>& queryParams,
                                                                      const Ref<Error>& error) = 0;
  virtual void tokenAuthorizeCancelledView(SXOAuthView& view) = 0;
  // The hub let the page go before it reported: the login it was for gets no answer.
  virtual void tokenAuthorizeTakenAwayView(SXOAuthView& view) = 0;
  virtual Ref<URL> authorizeCallbackURL() const = 0;
};

class SXOAuthView : public ui::ViewController, public ui::WebViewDelegate {
 public:
  // The host whose pages may show a PIN instead of redirecting to the callback.
  static constexpr const char* kTwitterAPIHost = "api.twitter.com";

  // Makes the screen and starts loading `url`.
  static Ref<SXOAuthView> initWithURL(const Ref<URL>& url, std::shared_ptr<SXOAuthViewDelegate> delegate);
  SXOAuthView();

  // Whether `url` is the callback address: scheme, host and port equal without regard to case,
  // path equal as written (an empty path reads as "/").
  static bool isCallbackURL(const URL& url, const URL& callback);
  // The query's "name=value" pieces, values percent-decoded; pieces without exactly one "=" are
  // left out, and so are values that do not decode. nullptr when nothing is left.
  static Ref<Dictionary> callbackQueryParameters(const URL& url);

  void loadView() override;
  void viewDidDisappear(bool animated) override;

  bool webViewShouldStartLoadWithRequestNavigationType(ui::WebView& webView, const Ref<net::URLRequest>& request,
                                                       ui::WebViewNavigationType type) override;
  void webViewDidStartLoad(ui::WebView& webView) override;
  void webViewDidFinishLoad(ui::WebView& webView) override;
  void webViewDidFailLoadWithError(ui::WebView& webView, const Ref<Error>& error) override;

  void startSpinner();
  void stopSpinner();
  // Stops the page and forgets the delegate, then tells the former delegate and hides the screen.
  void cancel();
  // Stops the page and forgets the delegate, without a word to it.
  void stopAndForget();
  // The hub let the page go: a page that has not reported stops, forgets its delegate and tells
  // it (tokenAuthorizeTakenAwayView). Give it to the hub as the page's callback.
  void takenAway();
  // The login page of `delegate` (shown by the hub or waiting to be) stops, forgets its delegate
  // and goes: its login was abandoned.
  static void dismissPageOf(const SXOAuthViewDelegate& delegate);

  const Ref<ui::WebView>& webView() const { return webView_; }
  std::shared_ptr<SXOAuthViewDelegate> delegate() const { return std::atomic_load(&delegate_); }
  void setDelegate(std::shared_ptr<SXOAuthViewDelegate> delegate) { std::atomic_store(&delegate_, std::move(delegate)); }
  const Ref<ui::ActivityIndicatorView>& spinner() const { return spinner_; }

 protected:
  // What initWithURL does to a new view: the cancel button, the web view, the first load. For
  // subclasses made with std::make_shared.
  void setUpWithURL(const Ref<URL>& url, std::shared_ptr<SXOAuthViewDelegate> delegate);

 private:
  void reportFailure(const Ref<Error>& error);

  Ref<ui::WebView> webView_;
  std::shared_ptr<SXOAuthViewDelegate> delegate_;
  Ref<ui::ActivityIndicatorView> spinner_;
  bool failureReported_ = false;
};

}  // namespace zv
