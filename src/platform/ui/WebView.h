#pragma once
// A web view without a renderer: it loads pages (URL requests, HTML strings, files), asks its
// delegate before every load with the navigation type, reports start, finish and failure with the
// platform's error codes, keeps a back/forward history, and answers scripts through a hook
// ("document.title" and element look-ups by id are answered from the page itself).
//
// Loads run on the run loop of the thread that started them: webViewDidStartLoad comes on a
// later turn, then exactly one of webViewDidFinishLoad or webViewDidFailLoadWithError. A load
// started while another is under way ends the old one with kWebErrorCancelled (-999, URL
// domain); a file that does not exist fails with -1100, one that is not a regular file (a pipe, a
// device) with -1102; a page larger than kWebViewMaximumPageSize, local file or network page,
// fails with -1103 (URL domain; a network page is cut off there and its connection cancelled); a
// redirect the delegate refuses ends the load with kWebErrorFrameLoadInterrupted (102,
// "WebKitErrorDomain"); a scheme the view cannot show fails with 101 (same domain). http and https
// pages come through the page loader (by default a URL connection); tests may install their own.
//
// History: every page shown has a slot of its own, and the slot at the history index is the page
// shown (its address after redirects). A load that fails or is still under way is not shown, so
// reload shows the page shown again; before any page is shown it tries the last load again.
//
// Refused before the delegate is asked, with nothing loaded and the address unchanged: any
// "javascript:" URL, and a "file:" URL reached by a link or a form of a page shown that is not
// itself a local file, or by a redirect. The application's own loads, history and reloads may open
// files.
//
// The delegate is not retained. Main thread only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/ScrollView.h"

namespace zv::ui {

class WebView;

inline constexpr const char* kWebKitErrorDomain = "WebKitErrorDomain";
inline constexpr std::int64_t kWebErrorCancelled = -999;
inline constexpr std::int64_t kWebErrorFileDoesNotExist = -1100;
inline constexpr std::int64_t kWebErrorNoPermissionsToReadFile = -1102;
inline constexpr std::int64_t kWebErrorDataLengthExceedsMaximum = -1103;
// The largest page shown, read from a local file or from the network.
inline constexpr std::uintmax_t kWebViewMaximumPageSize = std::uintmax_t{16} << 20;
inline constexpr std::int64_t kWebErrorFrameLoadInterrupted = 102;
inline constexpr std::int64_t kWebErrorCannotShowURL = 101;
// User-information key of load errors: the address that failed, as text.
inline constexpr const char* kErrorFailingURLStringKey = "ErrorFailingURLStringKey";

enum class WebViewNavigationType { LinkClicked = 0, FormSubmitted, BackForward, Reload, FormResubmitted, Other };

class WebViewDelegate : public Protocol {
 public:
  virtual bool webViewShouldStartLoadWithRequestNavigationType(WebView&, const Ref<net::URLRequest>& request,
                                                               WebViewNavigationType type) {
    (void)request, (void)type;
    return true;
  }
  virtual void webViewDidStartLoad(WebView&) {}
  virtual void webViewDidFinishLoad(WebView&) {}
  virtual void webViewDidFailLoadWithError(WebView&, const Ref<Error>& error) { (void)error; }
};

// Fetches an http(s) page. `redirect` is asked before each redirect is followed and answers
// whether to follow it; exactly one of `finish` or `fail` is called, on the starting thread's
// run loop. The returned cancel function stops the fetch; nothing is called after it.
struct PageFetch {
  std::function<bool(const Ref<net::URLRequest>& next)> redirect;
  std::function<void(std::string body, Ref<URL> finalURL)> finish;
  std::function<void(const Ref<Error>& error)> fail;
};
using PageLoader = std::function<std::function<void()>(const Ref<net::URLRequest>& request, PageFetch fetch)>;

class WebView : public View {
 public:
  static Ref<WebView> make(const Rect& frame = {});
  explicit WebView(const Rect& frame = {});
  ~WebView() override;

  std::weak_ptr<WebViewDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { delegate_ = std::move(delegate); }

  void loadRequest(const Ref<net::URLRequest>& request);
  void loadHTMLString(std::string html, const Ref<URL>& baseURL);
  void reload();
  void stopLoading();
  void goBack();
  void goForward();
  bool canGoBack() const { return historyIndex_ > 0; }
  bool canGoForward() const { return historyIndex_ + 1 < static_cast<long>(history_.size()); }
  bool isLoading() const { return loading_ != nullptr; }
  // The request of the last load started (after its redirects); nullptr before the first load.
  Ref<net::URLRequest> request() const;

  bool scalesPageToFit() const { return scalesPageToFit_; }
  void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }
  unsigned dataDetectorTypes() const { return dataDetectorTypes_; }
  void setDataDetectorTypes(unsigned types) { dataDetectorTypes_ = types; }
  // The page's scroll view (zoom scales live there).
  const Ref<ScrollView>& scrollView();

  // Scripts: "document.title" and "document.getElementById('<id>').<property>" with the property
  // innerHTML, innerText or value are answered from the page (an id the page lacks answers the
  // empty string); anything else goes to the hook, whose empty answer reads as the empty string.
  // Every script is recorded.
  using ScriptHandler = std::function<std::optional<std::string>(WebView& view, const std::string& script)>;
  void setScriptHandler(ScriptHandler handler) { scriptHandler_ = std::move(handler); }
  std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
  const std::vector<std::string>& evaluatedScripts() const { return scripts_; }

  // The page shown now.
  const std::string& pageHTML() const { return html_; }
  const std::string& pageTitle() const { return title_; }

  // A user's tap on a link of the page, or a form sent by it.
  void simulateLinkTap(const Ref<URL>& url);
  void simulateFormSubmit(const Ref<net::URLRequest>& request);

  // The loader of http(s) pages for every web view; nullptr restores the URL-connection one.
  static void setPageLoader(PageLoader loader);

 private:
  struct Load;
  // `historySlot` is the slot the page is shown in, -1 for a new one after the page shown.
  void start(const Ref<net::URLRequest>& request, WebViewNavigationType type, std::optional<std::string> html,
             long historySlot);
  // The request of the page shown; nullptr before the first page.
  Ref<net::URLRequest> shownRequest() const;
  void fetch(const std::shared_ptr<Load>& load);
  void finish(const std::shared_ptr<Load>& load, std::string html);
  void fail(const std::shared_ptr<Load>& load, const Ref<Error>& error);
  bool shouldStart(const Ref<net::URLRequest>& request, WebViewNavigationType type);
  bool refusesNavigation(const Ref<net::URLRequest>& request, WebViewNavigationType type) const;

  std::weak_ptr<WebViewDelegate> delegate_;
  std::shared_ptr<Load> lastLoad_;
  std::shared_ptr<Load> loading_;
  std::vector<Ref<net::URLRequest>> history_;
  std::vector<std::optional<std::string>> historyHTML_;
  long historyIndex_ = -1;
  bool scalesPageToFit_ = false;
  unsigned dataDetectorTypes_ = 0;
  Ref<ScrollView> scrollView_;
  ScriptHandler scriptHandler_;
  std::vector<std::string> scripts_;
  std::string html_;
  std::string title_;
};

}  // namespace zv::ui
