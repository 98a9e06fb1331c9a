#include "sharing/services/notes/NCOAuthViewController.h"

#include <utility>

#include "platform/net/URLRequest.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Types.h"

namespace zv {

namespace {
constexpr const char* kWebKitErrorDomain = "WebKitErrorDomain";
constexpr std::int64_t kFrameLoadInterrupted = 102;
constexpr std::int64_t kCancelledLoad = -999;
}  // namespace

Ref<NCOAuthViewController> NCOAuthViewController::initWithAuthorizationURL(
    Ref<URL> authorizationURL, std::string oauthCallbackPrefix, std::weak_ptr<NCOAuthViewControllerDelegate> delegate) {
  auto controller = std::make_shared<NCOAuthViewController>();
  controller->authorizationURL_ = std::move(authorizationURL);
  controller->oauthCallbackPrefix_ = std::move(oauthCallbackPrefix);
  controller->delegate_ = std::move(delegate);
  return controller;
}

void NCOAuthViewController::loadView() {
  auto root = ui::View::make(ui::Screen::mainScreen()->applicationFrame());
  webView_ = ui::WebView::make(root->bounds());
  webView_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);
  webView_->setScalesPageToFit(true);
  webView_->setDelegate(selfAs<NCOAuthViewController>());
  root->addSubview(webView_);
  setView(root);
}

void NCOAuthViewController::viewDidLoad() {
  std::weak_ptr<NCOAuthViewController> weak = selfAs<NCOAuthViewController>();
  navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel, [weak](ui::BarButtonItem&) {
    if (auto controller = weak.lock()) controller->cancel();
  }));
  if (authorizationURL_) webView_->loadRequest(net::URLRequest::requestWithURL(authorizationURL_));
}

void NCOAuthViewController::cancel() {
  if (webView_) webView_->stopLoading();
  if (std::exchange(cancelled_, true)) return;
  if (auto delegate = delegate_.lock()) delegate->oauthViewControllerDidCancel(*this);
}

void NCOAuthViewController::viewDidLeave() {
  ui::ViewController::viewDidLeave();
  if (webView_) webView_->stopLoading();
  auto delegate = delegate_.lock();
  delegate_.reset();
  if (delegate) delegate->oauthViewControllerLeftTheScreen(*this);
}

bool NCOAuthViewController::webViewShouldStartLoadWithRequestNavigationType(ui::WebView&,
                                                                            const Ref<net::URLRequest>& request,
                                                                            ui::WebViewNavigationType) {
  if (!request || !request->url()) return true;
  const std::string& address = request->url()->absoluteString();
  if (oauthCallbackPrefix_.empty() || address.compare(0, oauthCallbackPrefix_.size(), oauthCallbackPrefix_) != 0) {
    return true;
  }
  if (auto delegate = delegate_.lock()) delegate->oauthViewControllerReceivedOAuthCallbackURL(*this, request->url());
  return false;
}

void NCOAuthViewController::webViewDidFailLoadWithError(ui::WebView& webView, const Ref<Error>& error) {
  if (!error) return;
  if ((error->domain() == kWebKitErrorDomain && error->code() == kFrameLoadInterrupted) ||
      error->code() == kCancelledLoad) {
    return;
  }
  webView.stopLoading();
  if (auto delegate = delegate_.lock()) delegate->oauthViewControllerDidFailWithError(*this, error);
}

}  // namespace zv
