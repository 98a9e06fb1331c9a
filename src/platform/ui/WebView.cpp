#include "platform/ui/WebView.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/foundation/Format.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/net/URLConnection.h"
#include "platform/storage/AtomicFile.h"
#include "platform/ui/HTMLTitle.h"
#include "platform/ui/Scheduler.h"

namespace zv::ui {

struct WebView::Load {
  Ref<net::URLRequest> request;
  WebViewNavigationType type = WebViewNavigationType::Other;
  std::optional<std::string> html;
  long historySlot = -1;
  bool started = false;
  std::function<void()> cancel;
};

namespace {

Ref<Error> webError(const char* domain, std::int64_t code, const char* description, const Ref<URL>& url) {
  auto info = Dictionary::make({{kLocalizedDescriptionKey, box(description)},
                                {kErrorFailingURLStringKey, box(url ? url->absoluteString() : std::string())}});
  return Error::make(domain, code, info);
}

std::string schemeOf(const Ref<net::URLRequest>& request) {
  return request && request->url() ? request->url()->lowercaseScheme().value_or("") : std::string();
}

// A page past kWebViewMaximumPageSize, from a file or from the network.
Ref<Error> pageTooLargeError(const Ref<URL>& url) {
  return webError(kURLErrorDomain, kWebErrorDataLengthExceedsMaximum, "The page is too large to be shown.", url);
}

// The file of a file: page, read only when it is a regular file of a page's size: a named pipe
// or a device would block the main thread or never end.
Ref<Error> readPageFile(const Ref<URL>& url, std::string& page) {
  const std::filesystem::path path(url->path());
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status))
    return webError(kURLErrorDomain, kWebErrorFileDoesNotExist, "The requested URL was not found on this server.", url);
  if (!std::filesystem::is_regular_file(status))
    return webError(kURLErrorDomain, kWebErrorNoPermissionsToReadFile, "The file can't be read.", url);
  auto size = std::filesystem::file_size(path, ec);
  if (!ec && size > kWebViewMaximumPageSize) return pageTooLargeError(url);
  // The reader checks the opened file itself (a regular file within the limit), so a file swapped or grown
  // since the look above is refused too.
  Ref<Error> readError;
  auto contents = storage::readFile(path, &readError, kWebViewMaximumPageSize);
  if (!contents) {
    if (readError && readError->code() == EFBIG) return pageTooLargeError(url);
    if (readError && readError->code() != ENOENT)
      return webError(kURLErrorDomain, kWebErrorNoPermissionsToReadFile, "The file can't be read.", url);
    return webError(kURLErrorDomain, kWebErrorFileDoesNotExist, "The requested URL was not found on this server.", url);
  }
  page = std::move(*contents);
  return nullptr;
}

// Fetches through a URL connection, asking before each redirect. The body it gathers is the
// page: past kWebViewMaximumPageSize the connection is cancelled and the fetch fails.
class ConnectionBridge : public net::URLConnectionDelegate {
 public:
  explicit ConnectionBridge(PageFetch fetch) : fetch_(std::move(fetch)) {}

  bool respondsToSelector(std::string_view selector) const override {
    return selector == "connectionWillSendRequestRedirectResponse" || net::URLConnectionDelegate::respondsToSelector(selector);
  }

  Ref<net::URLRequest> connectionWillSendRequestRedirectResponse(net::URLConnection&, const Ref<net::URLRequest>& request,
                                                                const Ref<net::URLResponse>& redirect) override {
    if (!redirect) return request;
    // The decision may end the page load, which owns this bridge: stay alive until we return.
    auto hold = self_.lock();
    if (done_ || fetch_.redirect(request)) {
      url_ = request->url();
      return request;
    }
    interrupted_ = true;
    return nullptr;
  }
  void connectionDidReceiveResponse(net::URLConnection&, const Ref<net::URLResponse>& response) override {
    body_.clear();
    if (response && response->url()) url_ = response->url();
  }
  void connectionDidReceiveData(net::URLConnection& connection, const Ref<Data>& data) override {
    if (done_) return;
    if (body_.size() + data->length() > kWebViewMaximumPageSize) {
      auto hold = self_.lock();
      done_ = true;
      std::string().swap(body_);
      connection.cancel();
      fetch_.fail(pageTooLargeError(url_ ? url_ : connection.originalRequest()->url()));
      return;
    }
    body_.append(data->view());
  }
  void connectionDidFinishLoading(net::URLConnection& connection) override {
    auto hold = self_.lock();
    if (done_) return;
    done_ = true;
    if (interrupted_)
      fetch_.fail(webError(kWebKitErrorDomain, kWebErrorFrameLoadInterrupted, "Frame load interrupted",
                           connection.originalRequest()->url()));
    else
      fetch_.finish(std::move(body_), url_);
  }
  void connectionDidFailWithError(net::URLConnection&, const Ref<Error>& error) override {
    auto hold = self_.lock();
    if (done_) return;
    done_ = true;
    fetch_.fail(error);
  }
  void cancel() { done_ = true; }
  void setSelf(const std::shared_ptr<ConnectionBridge>& self) { self_ = self; }

 private:
  std::weak_ptr<ConnectionBridge> self_;
  PageFetch fetch_;
  std::string body_;
  Ref<URL> url_;
  bool interrupted_ = false;
  bool done_ = false;
};

std::function<void()> connectionLoader(const Ref<net::URLRequest>& request, PageFetch fetch) {
  auto failed = fetch.fail;
  auto bridge = std::make_shared<ConnectionBridge>(std::move(fetch));
  bridge->setSelf(bridge);
  auto connection = net::URLConnection::make(request, bridge, true);
  if (!connection) {
    failed(webError(kURLErrorDomain, -1000, "bad URL", request->url()));
    return [] {};
  }
  return [bridge, connection] {
    bridge->cancel();
    connection->cancel();
  };
}

ForkMutex& loaderMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::WebViewLoader);
  return mutex;
}

PageLoader& loaderSlot() {
  static PageLoader& loader = *new PageLoader;
  return loader;
}

// Made before main: a fork never finds them half made.
[[maybe_unused]] const bool gLoaderMade = (loaderMutex(), loaderSlot(), true);

}  // namespace

Ref<WebView> WebView::make(const Rect& frame) {
  auto view = std::make_shared<WebView>(frame);
  view->scrollView();  // the page's scroll view is the web view's one subview, as screens expect
  return view;
}

WebView::WebView(const Rect& frame) : View(frame) {}

WebView::~WebView() {
  if (loading_ && loading_->cancel) loading_->cancel();
}

Ref<net::URLRequest> WebView::request() const { return lastLoad_ ? lastLoad_->request : nullptr; }

Ref<net::URLRequest> WebView::shownRequest() const {
  return historyIndex_ >= 0 ? history_[static_cast<std::size_t>(historyIndex_)] : nullptr;
}

void WebView::setPageLoader(PageLoader loader) {
  std::lock_guard lock(loaderMutex());
  // The one replaced is let go with `loader`, once the lock is.
  std::swap(loaderSlot(), loader);
}

const Ref<ScrollView>& WebView::scrollView() {
  if (!scrollView_) {
    scrollView_ = ScrollView::make(Rect({0, 0}, bounds().size));
    scrollView_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
    addSubview(scrollView_);
  }
  return scrollView_;
}

bool WebView::shouldStart(const Ref<net::URLRequest>& request, WebViewNavigationType type) {
  auto delegate = delegate_.lock();
  return !delegate || delegate->webViewShouldStartLoadWithRequestNavigationType(*this, request, type);
}

void WebView::loadRequest(const Ref<net::URLRequest>& request) {
  if (!request || !request->url()) return;
  start(request, WebViewNavigationType::Other, std::nullopt, -1);
}

void WebView::loadHTMLString(std::string html, const Ref<URL>& baseURL) {
  auto url = baseURL ? baseURL : URL::make("about:blank");
  start(net::URLRequest::requestWithURL(url), WebViewNavigationType::Other, std::move(html), -1);
}

void WebView::simulateLinkTap(const Ref<URL>& url) {
  if (!url) return;
  start(net::URLRequest::requestWithURL(url), WebViewNavigationType::LinkClicked, std::nullopt, -1);
}

void WebView::simulateFormSubmit(const Ref<net::URLRequest>& request) {
  if (!request || !request->url()) return;
  start(request, WebViewNavigationType::FormSubmitted, std::nullopt, -1);
}

void WebView::reload() {
  if (historyIndex_ >= 0) {
    auto index = static_cast<std::size_t>(historyIndex_);
    start(history_[index], WebViewNavigationType::Reload, historyHTML_[index], historyIndex_);
  } else if (lastLoad_) {
    // Nothing shown yet: the last load again, and the page it brings takes the first slot.
    auto last = lastLoad_;
    start(last->request, WebViewNavigationType::Reload, last->html, -1);
  }
}

void WebView::goBack() {
  if (!canGoBack()) return;
  auto index = static_cast<std::size_t>(historyIndex_ - 1);
  start(history_[index], WebViewNavigationType::BackForward, historyHTML_[index], historyIndex_ - 1);
}

void WebView::goForward() {
  if (!canGoForward()) return;
  auto index = static_cast<std::size_t>(historyIndex_ + 1);
  start(history_[index], WebViewNavigationType::BackForward, historyHTML_[index], historyIndex_ + 1);
}

void WebView::stopLoading() {
  auto load = std::move(loading_);
  loading_ = nullptr;
  if (!load) return;
  if (auto cancel = std::move(load->cancel)) cancel();
  load->cancel = nullptr;
  if (load->started)
    if (auto d = delegate_.lock())
      d->webViewDidFailLoadWithError(*this, webError(kURLErrorDomain, kWebErrorCancelled, "cancelled", load->request->url()));
}

bool WebView::refusesNavigation(const Ref<net::URLRequest>& request, WebViewNavigationType type) const {
  const std::string scheme = schemeOf(request);
  // A script link runs in its page; it is never an address to load, reload or hand on.
  if (scheme == "javascript") {
    log(LogLevel::Warning, "WebView: a javascript: URL is not loaded");
    return true;
  }
  // Local files open from the application or from another local page, never from a page of
  // another scheme (a link, a form or a redirect on a network page).
  if (scheme == "file") {
    const bool fromPage = type == WebViewNavigationType::LinkClicked || type == WebViewNavigationType::FormSubmitted ||
                          type == WebViewNavigationType::FormResubmitted;
    if (fromPage && schemeOf(shownRequest()) != "file") {
      log(LogLevel::Warning, "WebView: a page that is not a local file cannot open a local file");
      return true;
    }
  }
  return false;
}

void WebView::start(const Ref<net::URLRequest>& request, WebViewNavigationType type, std::optional<std::string> html,
                    long historySlot) {
  auto keep = self();
  if (refusesNavigation(request, type)) return;
  if (!shouldStart(request, type)) return;
  stopLoading();
  auto load = std::make_shared<Load>();
  load->request = request;
  load->type = type;
  load->html = std::move(html);
  load->historySlot = historySlot;
  loading_ = load;
  lastLoad_ = load;
  std::weak_ptr<WebView> weak = selfAs<WebView>();
  scheduleAfter(0, [weak, load] {
    auto self = weak.lock();
    if (!self || self->loading_ != load) return;
    load->started = true;
    if (auto d = self->delegate_.lock()) d->webViewDidStartLoad(*self);
    if (self->loading_ == load) self->fetch(load);
  });
}

void WebView::fetch(const std::shared_ptr<Load>& load) {
  std::weak_ptr<WebView> weak = selfAs<WebView>();
  auto later = [weak, load](std::function<void(WebView&)> step) {
    scheduleAfter(0, [weak, load, step = std::move(step)] {
      if (auto self = weak.lock(); self && self->loading_ == load) step(*self);
    });
  };
  const Ref<URL>& url = load->request->url();
  if (load->html) {
    later([load](WebView& self) { self.finish(load, *load->html); });
    return;
  }
  auto scheme = url->lowercaseScheme().value_or("");
  if (scheme == "about") {
    later([load](WebView& self) { self.finish(load, ""); });
  } else if (scheme == "file") {
    std::string page;
    if (auto error = readPageFile(url, page))
      later([load, error](WebView& self) { self.fail(load, error); });
    else
      later([load, text = std::move(page)](WebView& self) { self.finish(load, text); });
  } else if (scheme == "http" || scheme == "https") {
    PageLoader loader;
    {
      std::lock_guard lock(loaderMutex());
      loader = loaderSlot();
    }
    if (!loader) loader = connectionLoader;
    // The fetch holds the load weakly: the load holds the fetch's cancel function.
    std::weak_ptr<Load> weakLoad = load;
    PageFetch fetch;
    fetch.redirect = [weak, weakLoad](const Ref<net::URLRequest>& next) {
      auto self = weak.lock();
      auto load = weakLoad.lock();
      if (!self || !load || self->loading_ != load) return false;
      // A network page's redirect never leads to a local file.
      if (schemeOf(next) == "file" || schemeOf(next) == "javascript") return false;
      if (!self->shouldStart(next, WebViewNavigationType::Other)) return false;
      load->request = next;
      return true;
    };
    fetch.finish = [weak, weakLoad](std::string body, Ref<URL>) {
      auto self = weak.lock();
      auto load = weakLoad.lock();
      if (self && load && self->loading_ == load) self->finish(load, std::move(body));
    };
    fetch.fail = [weak, weakLoad](const Ref<Error>& error) {
      auto self = weak.lock();
      auto load = weakLoad.lock();
      if (self && load && self->loading_ == load) self->fail(load, error);
    };
    load->cancel = loader(load->request, std::move(fetch));
  } else {
    later([load, url](WebView& self) {
      self.fail(load, webError(kWebKitErrorDomain, kWebErrorCannotShowURL, "The URL can't be shown", url));
    });
  }
}

void WebView::finish(const std::shared_ptr<Load>& load, std::string html) {
  if (loading_ != load) return;
  loading_ = nullptr;
  load->cancel = nullptr;
  html_ = std::move(html);
  title_ = htmlDocumentTitle(html_);
  // The page now shown is the one in the slot at the history index, at the address it ended at.
  if (load->historySlot < 0) {
    history_.resize(static_cast<std::size_t>(historyIndex_ + 1));
    historyHTML_.resize(static_cast<std::size_t>(historyIndex_ + 1));
    history_.push_back(load->request);
    historyHTML_.push_back(load->html);
    historyIndex_ = static_cast<long>(history_.size()) - 1;
  } else if (load->historySlot < static_cast<long>(history_.size())) {
    historyIndex_ = load->historySlot;
    history_[static_cast<std::size_t>(historyIndex_)] = load->request;
  }
  auto keep = self();
  if (auto d = delegate_.lock()) d->webViewDidFinishLoad(*this);
}

void WebView::fail(const std::shared_ptr<Load>& load, const Ref<Error>& error) {
  if (loading_ != load) return;
  loading_ = nullptr;
  load->cancel = nullptr;
  auto keep = self();
  if (auto d = delegate_.lock()) d->webViewDidFailLoadWithError(*this, error);
}

namespace {

struct ElementLookup {
  std::string id;
  std::string property;
};

// `document.getElementById('<id>').<property>` (either quote, an optional ";" and blanks around),
// read apart; nullopt for any other script.
std::optional<ElementLookup> elementLookup(std::string_view script) {
  auto trim = [](std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
  };
  script = trim(script);
  if (!script.empty() && script.back() == ';') script = trim(script.substr(0, script.size() - 1));
  constexpr std::string_view kCall = "document.getElementById(";
  if (!script.starts_with(kCall)) return std::nullopt;
  script.remove_prefix(kCall.size());
  if (script.empty() || (script.front() != '\'' && script.front() != '"')) return std::nullopt;
  const char quote = script.front();
  const auto close = script.find(quote, 1);
  if (close == std::string_view::npos) return std::nullopt;
  ElementLookup lookup{std::string(script.substr(1, close - 1)), {}};
  if (lookup.id.find('\\') != std::string::npos) return std::nullopt;  // escapes are not read
  script.remove_prefix(close + 1);
  if (!script.starts_with(").")) return std::nullopt;
  lookup.property = std::string(script.substr(2));
  return lookup;
}

}  // namespace

std::string WebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
  scripts_.push_back(script);
  if (script == "document.title") return title_;
  // Element look-ups by id are answered from the page (no element: the empty answer).
  if (auto lookup = elementLookup(script)) {
    if (lookup->property == "innerHTML" || lookup->property == "innerText" || lookup->property == "value") {
      return htmlElementProperty(html_, lookup->id, lookup->property).value_or("");
    }
  }
  if (scriptHandler_)
    if (auto answer = scriptHandler_(*this, script)) return *answer;
  return {};
}

}  // namespace zv::ui
