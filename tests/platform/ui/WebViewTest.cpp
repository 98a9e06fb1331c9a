#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "UITestSupport.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/HTMLTitle.h"
#include "platform/ui/WebView.h"
#include "support/TestSupport.h"

namespace zv::ui::testing {
namespace {

using Journal = std::vector<std::string>;

const char* typeName(WebViewNavigationType type) {
  switch (type) {
    case WebViewNavigationType::LinkClicked:
      return "link";
    case WebViewNavigationType::BackForward:
      return "back/forward";
    case WebViewNavigationType::Reload:
      return "reload";
    case WebViewNavigationType::FormSubmitted:
      return "form";
    default:
      return "other";
  }
}

class Browser : public Object, public WebViewDelegate {
 public:
  bool webViewShouldStartLoadWithRequestNavigationType(WebView&, const Ref<net::URLRequest>& request,
                                                       WebViewNavigationType type) override {
    const std::string& url = request->url()->absoluteString();
    journal.push_back(std::string("should ") + typeName(type) + " " + url);
    return url.find("sms:") != 0 && url.find("callback") == std::string::npos;
  }
  void webViewDidStartLoad(WebView&) override { journal.push_back("start"); }
  void webViewDidFinishLoad(WebView& view) override {
    journal.push_back("finish " + view.stringByEvaluatingJavaScriptFromString("document.title"));
  }
  void webViewDidFailLoadWithError(WebView&, const Ref<Error>& error) override {
    journal.push_back("fail " + error->domain() + " " + std::to_string(error->code()));
  }
  Journal journal;
};

class WebViewTest : public UITest {
 protected:
  void SetUp() override {
    UITest::SetUp();
    web = WebView::make(Rect(0, 0, 320, 416));
    browser = std::make_shared<Browser>();
    web->setDelegate(browser);
  }
  Ref<WebView> web;
  std::shared_ptr<Browser> browser;
};

TEST_F(WebViewTest, DecisionVetoesALoadBeforeAnythingHappens) {
  web->loadHTMLString("<html><head><title> Help \n page </title></head><body>hi</body></html>",
                      URL::make("http://help.example/"));
  settle();
  EXPECT_EQ(web->pageTitle(), "Help page");
  browser->journal.clear();
  web->simulateLinkTap(URL::make("sms:12345"));
  settle();
  EXPECT_EQ(browser->journal, (Journal{"should link sms:12345"}));
  EXPECT_EQ(web->request()->url()->absoluteString(), "http://help.example/");
  EXPECT_FALSE(web->isLoading());
}

TEST_F(WebViewTest, FilesHistoryAndErrorCodes) {
  zv::testing::TemporaryDirectory folder;
  zv::testing::writeFile(folder / "a.html", "<title>A</title>");
  zv::testing::writeFile(folder / "b.html", "<html><title>B</title></html>");
  web->loadRequest(net::URLRequest::requestWithURL(URL::fileURL((folder / "a.html").string())));
  EXPECT_TRUE(web->isLoading());
  settle();
  web->simulateLinkTap(URL::fileURL((folder / "b.html").string()));
  settle();
  EXPECT_TRUE(web->canGoBack());
  web->goBack();
  settle();
  EXPECT_EQ(web->pageTitle(), "A");
  EXPECT_TRUE(web->canGoForward());
  web->reload();
  settle();
  Journal expected;
  for (auto [type, page] : {std::pair{"other", "a"}, {"link", "b"}, {"back/forward", "a"}, {"reload", "a"}}) {
    expected.push_back(std::string("should ") + type + " " + URL::fileURL((folder / (std::string(page) + ".html")).string())->absoluteString());
    expected.push_back("start");
    expected.push_back(std::string("finish ") + (page[0] == 'a' ? "A" : "B"));
  }
  EXPECT_EQ(browser->journal, expected);

  browser->journal.clear();
  web->simulateLinkTap(URL::fileURL((folder / "missing.html").string()));
  settle();
  EXPECT_EQ(browser->journal.back(), "fail NSURLErrorDomain -1100");
  EXPECT_EQ(web->pageTitle(), "A");  // the page stays

  // A new load while one is under way cancels the old one.
  browser->journal.clear();
  WebView::setPageLoader([](const Ref<net::URLRequest>&, PageFetch) { return [] {}; });  // never answers
  web->loadRequest(net::URLRequest::requestWithURL(URL::make("http://slow.example/")));
  advance(0.01);
  web->loadHTMLString("<title>Now</title>", nullptr);
  settle();
  WebView::setPageLoader(nullptr);
  EXPECT_EQ(browser->journal, (Journal{"should other http://slow.example/", "start", "should other about:blank",
                                        "fail NSURLErrorDomain -999", "start", "finish Now"}));
}

// A network page cannot open a local file (by a link, a form or a redirect), and a script link
// is never loaded: the page and its address stay, and nothing is reported. A local page may
// still link to another local file.
TEST_F(WebViewTest, NetworkPagesCannotOpenLocalFilesAndScriptLinksAreNeverLoaded) {
  zv::testing::TemporaryDirectory folder;
  zv::testing::writeFile(folder / "secret.html", "<title>Secret</title>");
  zv::testing::writeFile(folder / "local.html", "<title>Local</title>");
  const auto secret = URL::fileURL((folder / "secret.html").string());
  WebView::setPageLoader([&](const Ref<net::URLRequest>& request, PageFetch fetch) -> std::function<void()> {
    if (request->url()->path() == "/jump" && !fetch.redirect(net::URLRequest::requestWithURL(secret)))
      fetch.fail(Error::make(kWebKitErrorDomain, kWebErrorFrameLoadInterrupted, "Frame load interrupted"));
    else
      fetch.finish("<title>Remote</title>", request->url());
    return [] {};
  });
  web->loadRequest(net::URLRequest::requestWithURL(URL::make("http://remote.example/")));
  settle();
  ASSERT_EQ(web->pageTitle(), "Remote");
  browser->journal.clear();

  web->simulateLinkTap(secret);
  settle();
  web->simulateFormSubmit(net::URLRequest::requestWithURL(secret));
  settle();
  web->simulateLinkTap(URL::make("javascript:alert(1)"));
  settle();
  EXPECT_EQ(browser->journal, Journal{});
  EXPECT_EQ(web->pageTitle(), "Remote");
  EXPECT_EQ(web->request()->url()->absoluteString(), "http://remote.example/");
  web->reload();
  settle();
  EXPECT_EQ(browser->journal, (Journal{"should reload http://remote.example/", "start", "finish Remote"}));

  browser->journal.clear();
  web->loadRequest(net::URLRequest::requestWithURL(URL::make("http://remote.example/jump")));
  settle();
  EXPECT_EQ(browser->journal,
            (Journal{"should other http://remote.example/jump", "start", "fail WebKitErrorDomain 102"}));
  EXPECT_EQ(web->pageTitle(), "Remote");
  WebView::setPageLoader(nullptr);

  // The application opens a local page, and that page links to another.
  web->loadRequest(net::URLRequest::requestWithURL(URL::fileURL((folder / "local.html").string())));
  settle();
  web->simulateLinkTap(secret);
  settle();
  EXPECT_EQ(web->pageTitle(), "Secret");
}

// Local pages are read only from regular files of a page's size: a named pipe or a device fails
// at once instead of blocking the main thread or filling memory.
TEST_F(WebViewTest, LocalPagesMustBeRegularFilesOfAPagesSize) {
  zv::testing::TemporaryDirectory folder;
  const auto pipe = folder / "pipe.html";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const auto large = folder / "large.html";
  zv::testing::writeFile(large, "<title>Large</title>");
  std::filesystem::resize_file(large, kWebViewMaximumPageSize + 1);  // sparse: no disk used
  struct Case {
    std::string path;
    const char* outcome;
  };
  for (const auto& c : {Case{pipe.string(), "fail NSURLErrorDomain -1102"},
                        Case{"/dev/zero", "fail NSURLErrorDomain -1102"},
                        Case{large.string(), "fail NSURLErrorDomain -1103"},
                        Case{(folder / "missing.html").string(), "fail NSURLErrorDomain -1100"}}) {
    browser->journal.clear();
    web->loadRequest(net::URLRequest::requestWithURL(URL::fileURL(c.path)));
    settle();
    ASSERT_EQ(browser->journal.size(), 3u) << c.path;
    EXPECT_EQ(browser->journal[2], c.outcome) << c.path;
  }
}

TEST_F(WebViewTest, RedirectsAreDecidedToo) {
  WebView::setPageLoader([](const Ref<net::URLRequest>&, PageFetch fetch) {
    auto next = net::URLRequest::requestWithURL(URL::make("http://app.example/callback?code=7"));
    if (fetch.redirect(next))
      fetch.finish("<title>followed</title>", next->url());
    else
      fetch.fail(Error::make(kWebKitErrorDomain, kWebErrorFrameLoadInterrupted, "Frame load interrupted"));
    return [] {};
  });
  web->loadRequest(net::URLRequest::requestWithURL(URL::make("http://auth.example/authorize")));
  settle();
  WebView::setPageLoader(nullptr);
  EXPECT_EQ(browser->journal, (Journal{"should other http://auth.example/authorize", "start",
                                        "should other http://app.example/callback?code=7", "fail WebKitErrorDomain 102"}));
}

TEST_F(WebViewTest, ElementLookUpsAreAnsweredFromThePageAndOtherScriptsGoToTheHook) {
  web->setScriptHandler([](WebView&, const std::string& script) -> std::optional<std::string> {
    if (script == "window.answer") return "42";
    return std::nullopt;
  });
  web->loadHTMLString("<html><body><p>Your code:</p><div id=\"oauth_pin\">\n  <code>12&amp;34</code> <b>x</b>\n</div>"
                      "<form><input id='user' name='u' value='ann &amp; bob'><input id='empty'>"
                      "<textarea id=\"note\">line one\nline two</textarea></form>"
                      "<span id=\"oauth_pin\">second of that id</span></body></html>",
                      URL::make("http://help.example/"));
  settle();
  auto run = [&](const std::string& script) { return web->stringByEvaluatingJavaScriptFromString(script); };
  EXPECT_EQ(run("document.getElementById('oauth_pin').innerHTML"), "\n  <code>12&amp;34</code> <b>x</b>\n");
  EXPECT_EQ(run("document.getElementById(\"oauth_pin\").innerText;"), "12&34 x");
  EXPECT_EQ(run("  document.getElementById('user').value  "), "ann & bob");
  EXPECT_EQ(run("document.getElementById('empty').value"), "");
  EXPECT_EQ(run("document.getElementById('note').value"), "line one\nline two");
  EXPECT_EQ(run("document.getElementById('missing').innerHTML"), "");
  EXPECT_EQ(run("document.getElementById('OAUTH_PIN').innerHTML"), "");  // ids keep their case
  EXPECT_EQ(run("window.answer"), "42");
  EXPECT_EQ(run("document.body.removeAttribute('orientation');"), "");
  EXPECT_EQ(web->evaluatedScripts().size(), 10u);  // with the title the delegate read on finishing

  struct Case {
    const char* html;
    const char* title;
  };
  for (auto c : {Case{"<TITLE>Upper</TITLE>", "Upper"}, Case{"<title>Caf&eacute; &amp; more</title>", "Café & more"},
                 Case{"<html><body>no title</body></html>", ""}, Case{"<title>unclosed", "unclosed"},
                 Case{"", ""}, Case{"<title>first</title><title>second</title>", "first"}}) {
    EXPECT_EQ(htmlDocumentTitle(c.html), c.title) << c.html;
  }
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<div>";
  deep += "<title>deep</title>";
  EXPECT_NO_FATAL_FAILURE(htmlDocumentTitle(deep));
}

// A loopback server answering each connection with one canned reply per path. The first
// request for a "/stall-once" address is held unanswered and the first for a "/drop-once" one is
// closed unanswered; later ones are served. "/endless" sends a page without length, four times
// the largest page, as fast as it is read.
class TinyServer {
 public:
  TinyServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 8);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~TinyServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
    for (int held : held_) ::close(held);
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int requestCount() const { return requests_.load(); }

 private:
  void serve() {
    std::set<std::string> seen;
    while (!stop_) {
      int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      std::string request;
      char buffer[2048];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      const auto target = request.substr(0, request.find(" HTTP/"));
      const bool first = seen.insert(target).second;
      ++requests_;
      if (first && target.starts_with("GET /stall-once")) {
        held_.push_back(client);
        continue;
      }
      if ((first && target.starts_with("GET /drop-once")) || target.starts_with("GET /endless")) {
        if (target.starts_with("GET /endless")) sendEndless(client);
        ::close(client);
        continue;
      }
      std::string reply;
      if (request.starts_with("GET /login")) {
        reply = "HTTP/1.1 302 Found\r\nLocation: " + url("/callback?token=1") +
                "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      } else {
        std::string body = "<html><head><title>Served</title></head></html>";
        reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body;
      }
      ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::close(client);
    }
  }
  // Stops when the reader goes away.
  void sendEndless(int client) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n<title>Endless</title>";
    if (::send(client, head.data(), head.size(), MSG_NOSIGNAL) < 0) return;
    const std::string chunk(64 * 1024, 'x');
    for (std::uintmax_t sent = 0; sent < 4 * kWebViewMaximumPageSize && !stop_; sent += chunk.size())
      if (::send(client, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) return;
  }
  int fd_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::vector<int> held_;
  std::thread thread_;
};

TEST(WebViewNetworkTest, PagesAndRefusedRedirectsOverALoopbackServer) {
  RunLoop::setMainThreadToCurrent();
  TinyServer server;
  auto web = WebView::make(Rect(0, 0, 320, 416));
  auto browser = std::make_shared<Browser>();
  web->setDelegate(browser);
  web->loadRequest(net::URLRequest::requestWithURL(URL::make(server.url("/page"))));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !web->isLoading() && !browser->journal.empty() &&
                                            browser->journal.back() != "start"; }, 10));
  EXPECT_EQ(browser->journal.back(), "finish Served");
  browser->journal.clear();
  web->loadRequest(net::URLRequest::requestWithURL(URL::make(server.url("/login"))));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !web->isLoading() && browser->journal.size() >= 3; }, 10));
  EXPECT_EQ(browser->journal, (Journal{"should other " + server.url("/login"), "start",
                                        "should other " + server.url("/callback?token=1"),
                                        "fail WebKitErrorDomain 102"}));
}

// A reload shows again the page shown, not a link that is still loading or has failed, so the
// page on screen, its history slot and the local-file rule agree. Before any page is shown, a
// reload tries the last load again, and the page it brings gets a slot of its own.
TEST(WebViewNetworkTest, ReloadShowsThePageShownAndEveryPageShownHasItsSlot) {
  RunLoop::setMainThreadToCurrent();
  TinyServer server;
  zv::testing::TemporaryDirectory folder;
  zv::testing::writeFile(folder / "help.html", "<title>Help</title>");
  zv::testing::writeFile(folder / "secret.html", "<title>Secret</title>");
  const auto help = URL::fileURL((folder / "help.html").string());
  const auto secret = URL::fileURL((folder / "secret.html").string());
  auto idle = [](const Ref<WebView>& web, const Browser& browser) {
    return !web->isLoading() && !browser.journal.empty() && browser.journal.back() != "start";
  };
  for (const std::string path : {"/stall-once", "/drop-once"}) {
    SCOPED_TRACE(path);
    auto web = WebView::make(Rect(0, 0, 320, 416));
    auto browser = std::make_shared<Browser>();
    web->setDelegate(browser);
    web->loadRequest(net::URLRequest::requestWithURL(help));
    ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser); }, 10));
    const int before = server.requestCount();
    web->simulateLinkTap(URL::make(server.url(path)));
    ASSERT_TRUE(pumpRunLoopUntil(
        [&] { return server.requestCount() > before && (path != "/drop-once" || idle(web, *browser)); }, 10));
    EXPECT_EQ(web->isLoading(), path == "/stall-once");
    web->reload();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser); }, 10));
    EXPECT_EQ(web->pageTitle(), "Help");
    EXPECT_EQ(web->request()->url()->absoluteString(), help->absoluteString());
    EXPECT_FALSE(web->canGoBack());
    EXPECT_FALSE(web->canGoForward());

    // The link followed again shows the network page in a slot of its own: it cannot open a
    // local file, and back and forward move between the two pages.
    web->simulateLinkTap(URL::make(server.url(path)));
    ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser); }, 10));
    ASSERT_EQ(web->pageTitle(), "Served");
    browser->journal.clear();
    web->simulateLinkTap(secret);
    EXPECT_EQ(browser->journal, Journal{});
    EXPECT_EQ(web->pageTitle(), "Served");
    web->reload();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser); }, 10));
    EXPECT_EQ(web->pageTitle(), "Served");
    web->goBack();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser) && web->pageTitle() == "Help"; }, 10));
    EXPECT_FALSE(web->canGoBack());
    web->goForward();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser) && web->pageTitle() == "Served"; }, 10));
    EXPECT_TRUE(web->canGoBack());
    EXPECT_FALSE(web->canGoForward());
  }

  // A first load that fails: the reload's page takes the first slot, and the next page goes after it.
  auto web = WebView::make(Rect(0, 0, 320, 416));
  auto browser = std::make_shared<Browser>();
  web->setDelegate(browser);
  web->loadRequest(net::URLRequest::requestWithURL(URL::make(server.url("/drop-once?first"))));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser); }, 10));
  ASSERT_EQ(browser->journal.back().rfind("fail ", 0), 0u);
  web->reload();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser); }, 10));
  ASSERT_EQ(web->pageTitle(), "Served");
  web->simulateLinkTap(URL::make(server.url("/next")));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return idle(web, *browser) && web->request()->url()->path() == "/next"; }, 10));
  EXPECT_TRUE(web->canGoBack());
  web->goBack();
  ASSERT_TRUE(
      pumpRunLoopUntil([&] { return idle(web, *browser) && web->request()->url()->path() == "/drop-once"; }, 10));
  EXPECT_FALSE(web->canGoBack());
  EXPECT_TRUE(web->canGoForward());
}

// A network page that never ends is cut off at the largest page size: the load fails with -1103,
// the page shown stays, and the process does not grow far past the bound.
TEST(WebViewNetworkTest, ANetworkPageBeyondTheLargestPageSizeFails) {
  RunLoop::setMainThreadToCurrent();
  TinyServer server;
  auto web = WebView::make(Rect(0, 0, 320, 416));
  auto browser = std::make_shared<Browser>();
  web->setDelegate(browser);
  web->loadHTMLString("<title>Before</title>", nullptr);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !web->isLoading(); }, 10));
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const long peakBefore = usage.ru_maxrss;  // KiB
  browser->journal.clear();
  web->loadRequest(net::URLRequest::requestWithURL(URL::make(server.url("/endless"))));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !web->isLoading() && browser->journal.size() >= 2; }, 60));
  EXPECT_EQ(browser->journal.back(), "fail NSURLErrorDomain -1103");
  EXPECT_EQ(web->pageTitle(), "Before");
  ::getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(usage.ru_maxrss - peakBefore, static_cast<long>(6 * kWebViewMaximumPageSize / 1024));
}

}  // namespace
}  // namespace zv::ui::testing
