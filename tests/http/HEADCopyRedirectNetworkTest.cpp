// The HEAD copy an accurate-progress queue sends before each GET, redirected: it is held to the
// redirect rule of the request it copies. To another origin it takes none of the first origin's
// cookies (from the store, the caller's field or the caller's list) nor the caller's password;
// within the origin it carries just what its request carries after the same redirect.
#include <gtest/gtest.h>

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
                         const std::shared_ptr<QueueDelegate>& delegate = std::make_shared<QueueDelegate>()) {
    auto queue = HTTPNetworkQueue::queue();
    queue->setShowAccurateProgress(true);
    queue->setDelegate(delegate);
    queue->setQueueDidFinishSelector("queueFinished");
    queue->setRequestWillRedirectSelector("redirecting");
    auto outcome = testing::recordOutcome(request);
    queue->addOperation(request);
    queue->go();
    return pumpRunLoopUntil([&] { return delegate->finished > 0 && queue->operationCount() == 0; }, 20) &&
           outcome->total() == 1;
  }
  static std::vector<RecordedRequest> arrived(const FaultServer& server, const std::string& path) {
    std::vector<RecordedRequest> found;
    for (const auto& r : server.requests()) {
      if (r.path() == path) found.push_back(r);
    }
    return found;
  }
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

}  // namespace
}  // namespace zv
