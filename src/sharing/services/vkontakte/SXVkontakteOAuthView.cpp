#include "sharing/services/vkontakte/SXVkontakteOAuthView.h"

#include <algorithm>

#include "platform/foundation/URL.h"
#include "platform/runloop/Perform.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Types.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXOAuthView.h"

namespace zv {

namespace {

constexpr const char* kAPIHost = "oauth.vk.com";
// Longer than any token the service issues; a longer value is not a token.
constexpr std::size_t kLongestToken = 512;
constexpr std::size_t kLongestUserId = 32;

bool isTokenText(std::string_view text) {
  return !text.empty() && text.size() <= kLongestToken && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~';
  });
}

bool isUserIdText(std::string_view text) {
  return !text.empty() && text.size() <= kLongestUserId &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::string SXVkontakteOAuthView::redirectURLString() { return std::string("https://") + kAPIHost + "/blank.html"; }

std::string SXVkontakteOAuthView::deniedURLString() {
  return redirectURLString() +
         "#error=access_denied&error_reason=user_denied&error_description=User%20denied%20your%20request";
}

std::string SXVkontakteOAuthView::loginURLString(const std::string& appID) {
  return std::string("https://") + kAPIHost + "/oauth/authorize?client_id=" + percentEncode(appID) +
         "&scope=wall,photos&redirect_uri=" + percentEncode(redirectURLString()) +
         "&display=touch&response_type=token";
}

std::optional<std::string> SXVkontakteOAuthView::stringBetweenString(std::string_view start, std::string_view end,
                                                                     std::string_view text) {
  const auto at = text.find(start);
  if (at == std::string_view::npos) return std::nullopt;
  const auto from = at + start.size();
  auto to = end.empty() ? std::string_view::npos : text.find(end, from);
  if (to == std::string_view::npos) to = text.size();
  if (to == from) return std::nullopt;
  return std::string(text.substr(from, to - from));
}

SXVkontakteOAuthView::~SXVkontakteOAuthView() {
  if (vkWebView_) vkWebView_->setDelegate({});
}

void SXVkontakteOAuthView::viewDidLoad() {
  if (!vkWebView_) {
    vkWebView_ = ui::WebView::make(view()->bounds());
    vkWebView_->setDelegate(std::dynamic_pointer_cast<ui::WebViewDelegate>(self()));
    vkWebView_->setScalesPageToFit(true);
    vkWebView_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);
    view()->addSubview(vkWebView_);
  }
  if (appID_ && !appID_->empty()) {
    vkWebView_->loadRequest(net::URLRequest::requestWithURL(URL::make(loginURLString(*appID_))));
  } else {
    finish(false, false);
  }
}

void SXVkontakteOAuthView::viewDidDisappear(bool animated) {
  ui::ViewController::viewDidDisappear(animated);
  if (vkWebView_) {
    vkWebView_->stopLoading();
    vkWebView_->setDelegate({});
  }
}

bool SXVkontakteOAuthView::webViewShouldStartLoadWithRequestNavigationType(ui::WebView&,
                                                                          const Ref<net::URLRequest>& request,
                                                                          ui::WebViewNavigationType) {
  if (request && request->url() && request->url()->absoluteString() == deniedURLString()) {
    finish(false, false);
    return false;
  }
  return true;
}

void SXVkontakteOAuthView::webViewDidFinishLoad(ui::WebView& webView) {
  auto request = webView.request();
  if (!request || !request->url()) return;
  // Only the redirect address itself (scheme, host, port and path) ends the login: a page
  // elsewhere with a token in its address is no login.
  auto redirect = URL::make(redirectURLString());
  if (!SXOAuthView::isCallbackURL(*request->url(), *redirect)) return;  // still on the login pages
  const auto address = request->url()->absoluteString();
  if (address.find("access_token") == std::string::npos) {
    if (address.find("error") != std::string::npos) finish(false, false);
    return;
  }
  // The token and the user id come only from the redirect's fragment.
  const auto fragment = request->url()->fragment().value_or("");
  const auto token = stringBetweenString("access_token=", "&", fragment);
  const auto marker = fragment.rfind("&user_id=");
  std::optional<std::string> userId;
  if (marker != std::string::npos) {
    userId = fragment.substr(marker + 9);
    if (auto end = userId->find('&'); end != std::string::npos) userId->resize(end);
  }
  if (!token || !isTokenText(*token) || !userId || !isUserIdText(*userId)) {
    finish(false, true);
    return;
  }
  finish(true, false, *token, *userId);
}

void SXVkontakteOAuthView::webViewDidFailLoadWithError(ui::WebView&, const Ref<Error>& error) {
  // A load replaced by the next one is not a failure of the login.
  if (error && error->domain() == kURLErrorDomain && error->code() == ui::kWebErrorCancelled) return;
  finish(false, true);
}

void SXVkontakteOAuthView::closeWhenSettled(int attempt, bool success, bool showError, const std::string& token,
                                            const std::string& userId) {
  // A redirect can come while the screen is still being presented; a dismissal asked for then
  // would be refused, so it waits for the presentation to end (a few seconds at most). The
  // delegate hears of the outcome once the screen is on its way out, so that what it shows next
  // follows the dismissal.
  auto hold = self();
  auto screen = navigationController();
  if (screen && screen->isBeingPresented() && attempt < 100) {
    auto weak = std::weak_ptr<SXVkontakteOAuthView>(selfAs<SXVkontakteOAuthView>());
    performAfterDelay(0.05, [weak, attempt, success, showError, token, userId] {
      if (auto self = weak.lock()) self->closeWhenSettled(attempt + 1, success, showError, token, userId);
    });
    return;
  }
  // Only the page's own screen goes: one the hub has let go already (or not shown yet) leaves
  // the hub's screens alone.
  auto hub = SX::currentHelper();
  if (hub->pendingView().get() == this) {
    hub->setPendingView(nullptr);
  } else if (screen && hub->currentView() == screen) {
    hub->hideCurrentViewControllerAnimated(true);
  }
  if (auto delegate = delegate_.lock()) {
    if (success) {
      delegate->authComplete(token, userId);
    } else {
      delegate->authFailed(showError);
    }
  }
}

void SXVkontakteOAuthView::dismissPageOf(const SXVkontakteOAuthViewDelegate& delegate) {
  auto hub = SX::currentHelper();
  auto pageIn = [&](const Ref<ui::ViewController>& screen) -> Ref<SXVkontakteOAuthView> {
    auto page = dyn<SXVkontakteOAuthView>(screen);
    if (auto navigation = dyn<ui::NavigationController>(screen)) {
      page = dyn<SXVkontakteOAuthView>(navigation->topViewController());
    }
    return page && page->delegate().lock().get() == &delegate ? page : nullptr;
  };
  if (auto page = pageIn(hub->pendingView())) {
    page->abandon();
    hub->setPendingView(nullptr);
  }
  if (auto page = pageIn(hub->currentView())) {
    page->abandon();
    hub->hideCurrentViewControllerAnimated(true);
  }
}

bool SXVkontakteOAuthView::takenAway() {
  if (finished_) return false;  // its outcome is on its way to the delegate
  abandon();
  return true;
}

void SXVkontakteOAuthView::abandon() {
  finished_ = true;
  delegate_.reset();
  if (vkWebView_) {
    vkWebView_->stopLoading();
    vkWebView_->setDelegate({});
  }
}

void SXVkontakteOAuthView::finish(bool success, bool showError, const std::string& token, const std::string& userId) {
  if (finished_) return;
  finished_ = true;
  if (vkWebView_) {
    vkWebView_->stopLoading();
    vkWebView_->setDelegate({});
  }
  closeWhenSettled(0, success, showError, token, userId);
}

}  // namespace zv
