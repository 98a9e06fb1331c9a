#include "sharing/core/SXOAuthView.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/String.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Screen.h"
#include "sharing/core/SX.h"
#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv {

namespace {

std::string pathOrRoot(const URL& url) {
  std::string path = url.encodedPath();
  return path.empty() ? "/" : path;
}

// The port a URL reaches: the one written, else the scheme's default (none for other schemes).
int effectivePort(const URL& url) {
  if (url.port()) return *url.port();
  auto scheme = url.lowercaseScheme();
  if (scheme == std::string("http")) return 80;
  if (scheme == std::string("https")) return 443;
  return -1;
}

}  // namespace

Ref<SXOAuthView> SXOAuthView::initWithURL(const Ref<URL>& url, std::shared_ptr<SXOAuthViewDelegate> delegate) {
  auto view = std::make_shared<SXOAuthView>();
  view->setUpWithURL(url, std::move(delegate));
  return view;
}

void SXOAuthView::setUpWithURL(const Ref<URL>& url, std::shared_ptr<SXOAuthViewDelegate> delegate) {
  auto view = selfAs<SXOAuthView>();
  std::weak_ptr<SXOAuthView> weak = view;
  view->navigationItem()->setLeftBarButtonItem(
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel, [weak](ui::BarButtonItem&) {
        if (auto strong = weak.lock()) strong->cancel();
      }));
  view->setDelegate(std::move(delegate));
  view->webView_ = ui::WebView::make(ui::Screen::mainScreen()->applicationFrame());
  view->webView_->setDelegate(std::weak_ptr<ui::WebViewDelegate>(view));
  view->webView_->setScalesPageToFit(true);
  view->webView_->setDataDetectorTypes(0);
  if (url) view->webView_->loadRequest(net::URLRequest::requestWithURL(url));
}

SXOAuthView::SXOAuthView() = default;

void SXOAuthView::loadView() {
  if (!webView_) webView_ = ui::WebView::make(ui::Screen::mainScreen()->applicationFrame());
  setView(webView_);
}

bool SXOAuthView::isCallbackURL(const URL& url, const URL& callback) {
  if (!url.scheme() || url.lowercaseScheme() != callback.lowercaseScheme()) return false;
  if (url.lowercaseHost().value_or("") != callback.lowercaseHost().value_or("")) return false;
  if (effectivePort(url) != effectivePort(callback)) return false;
  return pathOrRoot(url) == pathOrRoot(callback);
}

Ref<Dictionary> SXOAuthView::callbackQueryParameters(const URL& url) {
  if (!url.query() || url.query()->empty()) return nullptr;
  std::size_t undecodable = 0;
  auto parameters = oauth_encoding::parametersFromQueryString(*url.query(), &undecodable);
  for (std::size_t i = 0; i < undecodable; ++i) {
    logError("SXOAuthView: a callback parameter with a broken escape was left out");
  }
  if (parameters->empty()) return nullptr;
  return parameters;
}

bool SXOAuthView::webViewShouldStartLoadWithRequestNavigationType(ui::WebView&, const Ref<net::URLRequest>& request,
                                                                  ui::WebViewNavigationType) {
  auto delegate = this->delegate();
  if (!delegate || !request || !request->url()) return true;
  auto callback = delegate->authorizeCallbackURL();
  if (!callback || !isCallbackURL(*request->url(), *callback)) return true;
  auto parameters = callbackQueryParameters(*request->url());
  // After a success the view is done with its delegate: later load events stay silent.
  setDelegate(nullptr);
  delegate->tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(*this, true, parameters, nullptr);
  return false;
}

void SXOAuthView::webViewDidStartLoad(ui::WebView&) { startSpinner(); }

void SXOAuthView::webViewDidFinishLoad(ui::WebView& webView) {
  stopSpinner();
  auto request = webView.request();
  if (!request || !request->url() || request->url()->lowercaseHost() != std::string(kTwitterAPIHost)) return;
  std::string pin = webView.stringByEvaluatingJavaScriptFromString("document.getElementById('oauth_pin').innerHTML");
  if (pin.empty()) return;
  reportFailure(SX::error(
      "Your SXTwitter config is incorrect.  You must set your application type to Browser and define a callback "
      "url.  See SXConfig for more details"));
}

void SXOAuthView::webViewDidFailLoadWithError(ui::WebView&, const Ref<Error>& error) {
  if (error) {
    auto code = error->code();
    // A load replaced by a newer one, a load the view refused, a missing file: not failures.
    if (code == ui::kWebErrorCancelled || code == ui::kWebErrorFrameLoadInterrupted ||
        code == ui::kWebErrorFileDoesNotExist) {
      return;
    }
  }
  stopSpinner();
  reportFailure(error);
}

void SXOAuthView::reportFailure(const Ref<Error>& error) {
  if (auto delegate = this->delegate()) {
    failureReported_ = true;
    delegate->tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(*this, false, nullptr, error);
  }
}

void SXOAuthView::takenAway() {
  auto hold = self();
  auto delegate = this->delegate();
  stopAndForget();
  // A page that reported a failure has had its say: the login it was for ended with it.
  if (delegate && !failureReported_) delegate->tokenAuthorizeTakenAwayView(*this);
}

void SXOAuthView::startSpinner() {
  if (!spinner_) {
    spinner_ = ui::ActivityIndicatorView::make(ui::ActivityIndicatorViewStyle::White);
    spinner_->setHidesWhenStopped(true);
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withCustomView(spinner_));
  }
  spinner_->startAnimating();
}

void SXOAuthView::stopSpinner() {
  if (spinner_) spinner_->stopAnimating();
}

void SXOAuthView::stopAndForget() {
  if (webView_) webView_->stopLoading();
  setDelegate(nullptr);
  stopSpinner();
}

void SXOAuthView::cancel() {
  auto hold = self();
  // The page stops and the view forgets its delegate before it is told: a redirect already on its
  // way reaches nobody.
  auto delegate = this->delegate();
  stopAndForget();
  if (delegate) delegate->tokenAuthorizeCancelledView(*this);
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
}

void SXOAuthView::dismissPageOf(const SXOAuthViewDelegate& delegate) {
  auto hub = SX::currentHelper();
  auto pageIn = [&](const Ref<ui::ViewController>& screen) -> Ref<SXOAuthView> {
    auto navigation = dyn<ui::NavigationController>(screen);
    if (!navigation) return nullptr;
    for (const auto& controller : navigation->viewControllers()) {
      auto page = dyn<SXOAuthView>(controller);
      if (page && page->delegate().get() == &delegate) return page;
    }
    return nullptr;
  };
  if (auto page = pageIn(hub->pendingView())) {
    page->stopAndForget();
    hub->setPendingView(nullptr);
  } else if (auto page = dyn<SXOAuthView>(hub->pendingView()); page && page->delegate().get() == &delegate) {
    page->stopAndForget();
    hub->setPendingView(nullptr);
  }
  if (auto page = pageIn(hub->currentView())) {
    page->stopAndForget();
    hub->hideCurrentViewControllerAnimated(true);
  }
}

void SXOAuthView::viewDidDisappear(bool animated) {
  ViewController::viewDidDisappear(animated);
  SX::currentHelper()->viewWasDismissed();
}

}  // namespace zv
