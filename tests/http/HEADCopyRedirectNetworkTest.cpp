// The HEAD copy an accurate-progress queue sends before each GET, redirected: it is held to the
// redirect rule of the request it copies. To another origin it takes none of the first origin's
// cookies (from the store, the caller's field or the caller's list) nor the caller's password;
// within the origin it carries just what its request carries after the same redirect. Turned into
// a GET by the redirect, it still reads no body; and a copy that learns no size never fails the
// request it sizes.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "HTTPTestSupport.h"
#include "http/HTTPNetworkQueue.h"
#include "platform/net/CookieStore.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/URLCredentialStorage.h"
#include "support/TestSupport.h"
#include "support/net/FaultServer.h"

namespace zv {
namespace {

using testing::FaultServer;
using testing::RecordedRequest;

const char* const kUserSecret = "Basic dXNlcjpzZWNyZXQ=";  // "user:secret"

// Counts the batch's end; when it decides redirects, follows each one and notes who asked.
class QueueDelegate : public Object {
 public:
  explicit QueueDelegate(bool decidesRedirects = false) : decidesRedirects_(decidesRedirects) {}
  bool respondsToSelector(std::string_view selector) const override {
    return selector == "queueFinished" || (decidesRedirects_ && selector == "redirecting");
  }
  ObjectPtr performSelector(std::string_view selector, const std::vector<ObjectPtr>& arguments) override {
    if (selector == "queueFinished") {
      ++finished;
    } else if (auto request = dyn<HTTPRequest>(arguments.at(0))) {
      asked.push_back(request);
      request->redirectToURL(dyn<URL>(arguments.at(1)));
    }
    return nullptr;
  }
  int finished = 0;
  std::vector<Ref<HTTPRequest>> asked;

 private:
  bool decidesRedirects_;
};

// Answers a HEAD without a body, as a server must.
void answer(FaultServer::Connection& c, const RecordedRequest& r, const std::string& head) {
  std::string body = head.rfind("HTTP/1.1 200", 0) == 0 ? "hello" : "";
  c.send(head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + (r.method == "HEAD" ? "" : body));
}

class HEADCopyRedirect : public ::testing::Test {
 protected:
  HEADCopyRedirect() {
    for (FaultServer* server : {&a, &b}) {
      server->route("/landing", [](const RecordedRequest& r, FaultServer::Connection& c) {
        answer(c, r, "HTTP/1.1 200 OK\r\n");
      });
      // A large body, sent as it goes and never held: the GETs' bytes are counted one by one.
      server->route("/large", [this](const RecordedRequest& r, FaultServer::Connection& c) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(largeSize) + "\r\n\r\n";
        if (r.method == "HEAD") return c.send(head);
        c.sendEndlessBody(head, 'x', largeSize, largeSent[std::min<std::size_t>(largeGets++, largeSent.size() - 1)]);
      });
      // The HEAD goes unanswered (the connection ends); a GET is answered.
      server->route("/head-drops", [](const RecordedRequest& r, FaultServer::Connection& c) {
        if (r.method == "HEAD") return c.close();
        answer(c, r, "HTTP/1.1 200 OK\r\n");
      });
      server->route("/guarded", [](const RecordedRequest& r, FaultServer::Connection& c) {
        answer(c, r,
               r.header("Authorization") == std::optional<std::string>(kUserSecret)
                   ? "HTTP/1.1 200 OK\r\n"
                   : "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"Guarded\"\r\n");
      });
    }
  }
  void SetUp() override {
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    ApplicationEnvironment::shared().setHomeDirectory(home.path());
    clearState();
  }
  void TearDown() override { clearState(); }
  static void clearState() {
    net::CookieStore::sharedInstance()->removeAllCookies();
    HTTPRequest::clearSessionCredentials();
    URLCredentialStorage::shared().removeAllSessionCredentials();
  }
  // The other origin: another host name (cookies ignore ports) and another port.
  std::string otherOrigin(const std::string& path) const { return "http://localhost:" + std::to_string(b.port()) + path; }
  Ref<HTTPRequest> redirectedGET(int status, const std::string& to) {
    auto request = HTTPRequest::requestWithURL(URL::make(a.url("/redirect-status/" + std::to_string(status) + "?to=" + to)));
    request->setTimeOutSeconds(20);
    return request;
  }
  // Runs the request alone in an accurate-progress queue, so that a HEAD copy goes first.
  static bool runInQueue(const Ref<HTTPRequest>& request,
                         const std::shared_ptr<QueueDelegate>& delegate = std::make_shared<QueueDelegate>(),
                         double seconds = 20) {
    auto queue = HTTPNetworkQueue::queue();
    queue->setShowAccurateProgress(true);
    queue->setDelegate(delegate);
    queue->setQueueDidFinishSelector("queueFinished");
    queue->setRequestWillRedirectSelector("redirecting");
    auto outcome = testing::recordOutcome(request);
    queue->addOperation(request);
    queue->go();
    return pumpRunLoopUntil([&] { return delegate->finished > 0 && queue->operationCount() == 0; }, seconds) &&
           outcome->total() == 1;
  }
  static std::vector<RecordedRequest> arrived(const FaultServer& server, const std::string& path) {
    std::vector<RecordedRequest> found;
    for (const auto& r : server.requests()) {
      if (r.path() == path) found.push_back(r);
    }
    return found;
  }
  const std::size_t largeSize = testing::largeBodySize();
  std::array<std::atomic<std::size_t>, 4> largeSent{};
  std::atomic<std::size_t> largeGets{0};
  FaultServer a;
  FaultServer b;
  testing::TemporaryDirectory home;
};

TEST_F(HEADCopyRedirect, TakesNoneOfTheFirstOriginsCookiesToAnother) {
  auto storedFor = [&](const std::string& url) {
    auto target = URL::make(url);
    net::CookieStore::sharedInstance()->setCookies({net::HTTPCookie::parseSetCookie("session=from-store; Path=/", *target)},
                                                   *target);
  };
  for (int status : {302, 307}) {
    for (const char* source : {"store", "field", "list"}) {
      SCOPED_TRACE(std::to_string(status) + " " + source);
      clearState();
      std::size_t before = b.requests().size();
      auto request = redirectedGET(status, otherOrigin("/landing"));
      if (source == std::string("store")) storedFor(a.url("/"));
      if (source == std::string("field")) request->addRequestHeader("Cookie", "session=caller-field");
      if (source == std::string("list")) {
        request->setRequestCookies({net::HTTPCookie::parseSetCookie("session=caller-list; Path=/", *request->url())});
      }
      ASSERT_TRUE(runInQueue(request));
      ASSERT_FALSE(request->error()) << request->error()->description();
      EXPECT_EQ(request->responseString().value_or(""), "hello");
      // The first origin got the cookie from the HEAD copy and from the GET ...
      auto first = a.requests();
      ASSERT_GE(first.size(), 2u);
      EXPECT_EQ(first[first.size() - 2].method, "HEAD");
      for (std::size_t i = first.size() - 2; i < first.size(); ++i) {
        EXPECT_NE(first[i].header("Cookie").value_or("").find("session="), std::string::npos) << first[i].method;
      }
      // ... the other one from neither (the copy's own request and the GET's).
      auto other = b.requests();
      ASSERT_EQ(other.size(), before + 2);
      for (std::size_t i = before; i < other.size(); ++i) {
        EXPECT_FALSE(other[i].header("Cookie")) << other[i].method << " " << other[i].header("Cookie").value_or("");
      }
    }
  }
}

TEST_F(HEADCopyRedirect, TakesNoPasswordToAnotherOriginAndLeavesNothingStoredForIt) {
  for (int status : {302, 307}) {
    SCOPED_TRACE(status);
    clearState();
    std::size_t before = b.requests().size();
    auto request = redirectedGET(status, otherOrigin("/guarded"));
    request->setUsername("user");
    request->setPassword("secret");
    request->setUseKeychainPersistence(true);
    ASSERT_TRUE(runInQueue(request));
    // The other origin's challenge finds nothing, as it would for the GET itself.
    EXPECT_EQ(request->error() ? request->error()->code() : 0, RequestErrorAuthentication);
    auto other = b.requests();
    ASSERT_GT(other.size(), before);
    for (std::size_t i = before; i < other.size(); ++i) EXPECT_FALSE(other[i].header("Authorization")) << other[i].method;
    for (const auto& record : HTTPRequest::sessionCredentialsStore()) {
      auto url = record->objectForKeyAs<URL>("URL");
      EXPECT_NE(url ? url->host().value_or("") : "", "localhost");
    }
    EXPECT_FALSE(HTTPRequest::savedCredentials("localhost", b.port(), "http", std::string("Guarded")));
    // So a later request to that origin goes out without them.
    auto later = HTTPRequest::requestWithURL(URL::make(otherOrigin("/guarded")));
    later->setUseKeychainPersistence(true);
    later->startSynchronous();
    EXPECT_EQ(later->responseStatusCode(), 401);
    EXPECT_FALSE(b.requests().back().header("Authorization"));
  }
}

TEST_F(HEADCopyRedirect, WithinTheOriginCarriesWhatItsRequestCarriesAfterTheSameRedirect) {
  for (int status : {302, 307}) {
    SCOPED_TRACE(status);
    clearState();
    auto target = URL::make(a.url("/"));
    net::CookieStore::sharedInstance()->setCookies({net::HTTPCookie::parseSetCookie("session=from-store; Path=/", *target)},
                                                   *target);
    std::size_t before = arrived(a, "/guarded").size();
    auto request = redirectedGET(status, a.url("/guarded"));
    request->setUsername("user");
    request->setPassword("secret");
    request->setRequestCookies({net::HTTPCookie::parseSetCookie("listed=1; Path=/", *target)});
    ASSERT_TRUE(runInQueue(request));
    ASSERT_FALSE(request->error()) << request->error()->description();
    EXPECT_EQ(request->responseString().value_or(""), "hello");
    // The copy's request and the GET's, after the same redirect, went out alike: the store's
    // cookie for the address and the caller's password, which still belongs there.
    auto landed = arrived(a, "/guarded");
    ASSERT_EQ(landed.size(), before + 2);
    const auto& copy = landed[before];
    const auto& main = landed[before + 1];
    EXPECT_EQ(main.method, "GET");
    EXPECT_EQ(copy.header("Cookie").value_or(""), "session=from-store");
    EXPECT_EQ(copy.header("Cookie"), main.header("Cookie"));
    EXPECT_EQ(copy.header("Authorization").value_or(""), kUserSecret);
    EXPECT_EQ(copy.header("Authorization"), main.header("Authorization"));
  }
}

TEST_F(HEADCopyRedirect, LeavesARedirectItsOwnerDecidesToItsRequest) {
  // The owner is asked about the request's redirect, never about the copy's, which nobody could
  // answer: the copy stops there and the size stays unknown until the GET itself arrives.
  auto delegate = std::make_shared<QueueDelegate>(true);
  auto request = redirectedGET(302, otherOrigin("/landing"));
  ASSERT_TRUE(runInQueue(request, delegate));
  ASSERT_FALSE(request->error()) << request->error()->description();
  EXPECT_EQ(request->responseString().value_or(""), "hello");
  ASSERT_EQ(delegate->asked.size(), 1u);
  EXPECT_EQ(delegate->asked[0], request);
  auto other = b.requests();
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].method, "GET");
  EXPECT_FALSE(request->showAccurateProgress());
}

TEST_F(HEADCopyRedirect, TurnedIntoAGETItReadsNoBodyAndTheDownloadToAFileSucceeds) {
  // After a 302 the copy asks for the body like its request; it takes the size from the head of
  // the answer and closes that connection, so none of the body waits in memory for it, and the
  // request's download to a file succeeds whatever its size.
  testing::TemporaryDirectory folder;
  auto destination = folder / "large.bin";
  auto request = redirectedGET(302, a.url("/large"));
  request->setTimeOutSeconds(120);
  request->setDownloadDestinationPath(destination.string());
  testing::ResidentPeakGrowth peak;
  ASSERT_TRUE(runInQueue(request, std::make_shared<QueueDelegate>(), 300));
  double grown = peak.mebibytes();
  ASSERT_FALSE(request->error()) << request->error()->description();
  std::error_code failure;
  EXPECT_EQ(std::filesystem::file_size(destination, failure), largeSize);
  // The size came from the copy.
  EXPECT_TRUE(request->showAccurateProgress());
  EXPECT_EQ(request->contentLength(), largeSize);
  // Two GETs: the copy's stopped after the head (the server could not push the whole body into
  // the socket's buffers), the request's took it all.
  ASSERT_EQ(largeGets.load(), 2u);
  EXPECT_LT(largeSent[0].load(), largeSize);
  EXPECT_EQ(largeSent[1].load(), largeSize);
  const double bodyMiB = static_cast<double>(largeSize) / (1 << 20);
  RecordProperty("peak_growth_MiB", std::to_string(grown));
  EXPECT_GE(grown, 0.0) << "no resident peak in /proc/self/status";
  EXPECT_LT(grown, bodyMiB / 3) << "of a " << bodyMiB << " MiB body";
}

TEST_F(HEADCopyRedirect, ACopyThatLearnsNoSizeLeavesItsRequestToGoOn) {
  // The copy's connection ends before an answer: the request goes out as it would without a
  // copy, its size unknown ahead.
  auto request = HTTPRequest::requestWithURL(URL::make(a.url("/head-drops")));
  request->setTimeOutSeconds(20);
  ASSERT_TRUE(runInQueue(request));
  ASSERT_FALSE(request->error()) << request->error()->description();
  EXPECT_EQ(request->responseString().value_or(""), "hello");
  EXPECT_FALSE(request->showAccurateProgress());
  auto landed = arrived(a, "/head-drops");
  ASSERT_EQ(landed.size(), 2u);
  EXPECT_EQ(landed[0].method, "HEAD");
  EXPECT_EQ(landed[1].method, "GET");
}

}  // namespace
}  // namespace zv
