// When a request is sent again, and what the second attempt carries: the whole body, no cookies
// of the abandoned attempt, and never a replay the server may already have acted on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>

#include "HTTPTestSupport.h"
#include "http/HTTPFormDataRequest.h"
#include "http/HTTPRequest.h"
#include "platform/net/CookieStore.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/TestSupport.h"
#include "support/net/FaultServer.h"

namespace zv {
namespace {

using testing::FaultServer;
using testing::RecordedRequest;
using testing::recordOutcome;

class RequestRetryNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    net::CookieStore::sharedInstance()->removeAllCookies();
    // Idx 0 on a connection answers keep-alive; any later request on it gets the start of an
    // answer and then the connection ends.
    // /answer-then-drop/<n>: the same with the n-th beginning of kAnswerBeginnings.
    server.route("/answer-then-drop/", [](const RecordedRequest& r, FaultServer::Connection& c) {
      if (r.indexOnConnection == 0) {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst");
      } else {
        c.send(kAnswerBeginnings[std::stoul(r.path().substr(std::string("/answer-then-drop/").size()))]);
        c.close();
      }
    });
    // The first request sets a cookie and then stalls mid-body; later ones set another.
    auto seen = std::make_shared<std::atomic<int>>(0);
    server.route("/cookie-then-stall", [seen](const RecordedRequest&, FaultServer::Connection& c) {
      if ((*seen)++ == 0) {
        c.send("HTTP/1.1 200 OK\r\nSet-Cookie: abandoned=1; Path=/\r\nContent-Length: 10\r\n\r\nab");
        c.stallUntilStopped();
      } else {
        c.send("HTTP/1.1 200 OK\r\nSet-Cookie: kept=1; Path=/\r\nContent-Length: 5\r\n\r\nhello");
      }
    });
    server.route("/cookie-and-stall", [](const RecordedRequest&, FaultServer::Connection& c) {
      c.send("HTTP/1.1 200 OK\r\nSet-Cookie: last=1; Path=/\r\nContent-Length: 10\r\n\r\nab");
      c.stallUntilStopped();
    });
    // Answers keep-alive only once three requests wait at once, so each came on a connection of
    // its own; a later request on any of those connections finds it dropped.
    server.route("/three-at-once", [gathering = std::make_shared<Gathering>()](const RecordedRequest& r,
                                                                              FaultServer::Connection& c) {
      if (r.indexOnConnection != 0) {
        c.close();
        return;
      }
      std::unique_lock lock(gathering->mutex);
      ++gathering->arrived;
      gathering->changed.notify_all();
      gathering->changed.wait_for(lock, std::chrono::seconds(20), [&] { return gathering->arrived >= 3; });
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst");
    });
    // The first request is dropped unanswered; later ones get their body back.
    auto calls = std::make_shared<std::atomic<int>>(0);
    server.route("/fail-first", [calls](const RecordedRequest& r, FaultServer::Connection& c) {
      if ((*calls)++ == 0) return c.close();
      c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(r.body.size()) + "\r\n\r\n" + r.body);
    });
    // /to/<n>: a redirect to the n-th address of kRefusedLocations.
    server.route("/to/", [](const RecordedRequest& r, FaultServer::Connection& c) {
      std::string target = kRefusedLocations[std::stoul(r.path().substr(4))];
      c.send("HTTP/1.1 302 Found\r\nLocation: " + target + "\r\nContent-Length: 0\r\n\r\n");
    });
    ASSERT_TRUE(server.start());
  }
  // How much of an answer a server may send before it drops the connection: every one of them
  // shows that the request arrived.
  static constexpr const char* kAnswerBeginnings[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial",
      "HTTP/1.1 100 Continue\r\n\r\n",
      "HTTP/1.1 102 Processing\r\n\r\n",
      "HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n",
      "HTTP/1.1 20",
      "H",
      "HTTP/1.1 200 OK\r\nContent-Le",
  };
  struct Gathering {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
  };
  static constexpr const char* kRefusedLocations[] = {"ftp://files.example/report.pdf", "javascript:alert(1)",
                                                      "mailto:someone@example.com"};
  void TearDown() override { net::CookieStore::sharedInstance()->removeAllCookies(); }
  Ref<HTTPRequest> request(const std::string& path) {
    auto made = HTTPRequest::requestWithURL(URL::make(server.url(path)));
    made->setTimeOutSeconds(5);
    return made;
  }
  static std::string patterned(std::size_t size) {
    std::string bytes(size, 'b');
    for (std::size_t i = 0; i < size; i += 7) bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
  }
  // A form with a text field and `blob` as data, its body streamed from a temporary file.
  Ref<HTTPFormDataRequest> formUpload(const std::string& path, const std::string& blob) {
    auto form = HTTPFormDataRequest::requestWithURL(URL::make(server.url(path)));
    form->setTimeOutSeconds(5);
    form->setPostValue(box("v"), "k");
    form->addData(Data::make(blob), "blob");
    return form;
  }
  // Leaves a kept-alive connection to the server in the pool.
  void poolAConnection(const std::string& path) {
    auto first = request(path);
    first->startSynchronous();
    ASSERT_FALSE(first->error());
    ASSERT_TRUE(first->connectionCanBeReused());
  }
  FaultServer server;
};

TEST_F(RequestRetryNetwork, ABodyStreamedFromDiskGoesOutWholeAgainOnTheNewConnection) {
  poolAConnection("/keepalive-then-drop");
  std::string blob = patterned(200000);
  auto form = formUpload("/keepalive-then-drop", blob);
  auto outcome = recordOutcome(form);
  form->startSynchronous();
  ASSERT_EQ(outcome->finished, 1) << (form->error() ? form->error()->description() : "");
  EXPECT_EQ(form->retryCount(), 1);
  EXPECT_EQ(form->responseString().value_or(""), "first");
  auto records = server.requests();
  ASSERT_EQ(records.size(), 3u);
  // The dropped attempt and the retry carried the same complete body.
  EXPECT_EQ(records[1].body.size(), form->postLength());
  EXPECT_EQ(records[2].body, records[1].body);
  EXPECT_NE(records[2].body.find(blob), std::string::npos);
  EXPECT_EQ(records[2].indexOnConnection, 0);
  // The temporary body file is gone once the request is over.
  EXPECT_FALSE(form->postBodyFilePath());
}

TEST_F(RequestRetryNetwork, TheRetryGoesOnANewConnectionNotAnotherPooledOne) {
  // Three idle pooled connections, all of which the server has let go.
  std::vector<std::shared_ptr<testing::RequestOutcome>> outcomes;
  std::vector<Ref<HTTPRequest>> openers;
  for (int i = 0; i < 3; ++i) {
    openers.push_back(request("/three-at-once"));
    outcomes.push_back(recordOutcome(openers.back()));
    openers.back()->startAsynchronous();
  }
  for (const auto& outcome : outcomes) {
    ASSERT_TRUE(testing::waitForOutcome(outcome, 20));
    ASSERT_EQ(outcome->finished, 1);
  }
  ASSERT_EQ(server.connectionCount(), 3);

  auto post = request("/three-at-once");
  post->appendPostData(Data::make("order=3"));
  auto outcome = recordOutcome(post);
  post->startSynchronous();
  EXPECT_EQ(outcome->finished, 1) << (post->error() ? post->error()->description() : "");
  EXPECT_EQ(post->retryCount(), 1);
  EXPECT_EQ(post->responseString().value_or(""), "first");
  auto records = server.requests();
  ASSERT_EQ(records.size(), 5u);
  // One pooled connection was tried, then a connection of its own.
  EXPECT_EQ(records[3].indexOnConnection, 1);
  EXPECT_EQ(records[4].indexOnConnection, 0);
  EXPECT_EQ(records[4].body, "order=3");
  EXPECT_EQ(server.connectionCount(), 4);
}

TEST_F(RequestRetryNetwork, ACopyOfAFinishedOrFailedUploadSendsItsWholeBody) {
  std::string blob = patterned(5000);
  auto form = formUpload("/fail-first", blob);
  form->startSynchronous();
  ASSERT_TRUE(form->error());
  ASSERT_EQ(form->error()->code(), 1);
  // Copied after it failed, and a copy of that copy after it succeeded.
  auto again = dyn<HTTPRequest>(form->copy());
  again->startSynchronous();
  ASSERT_FALSE(again->error()) << again->error()->description();
  auto once = dyn<HTTPRequest>(again->copy());
  once->startSynchronous();
  ASSERT_FALSE(once->error()) << once->error()->description();
  auto records = server.requests();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_NE(records[0].body.find(blob), std::string::npos);
  EXPECT_EQ(records[1].body, records[0].body);
  EXPECT_EQ(records[2].body, records[0].body);
  EXPECT_EQ(once->responseString().value_or(""), records[0].body);

  // A plain request's body file cannot be built again: it stays for copies made before or after
  // the request ended, until the last of them is gone.
  auto plain = request("/echo");
  plain->setShouldStreamPostDataFromDisk(true);
  plain->appendPostData(Data::make(blob));
  auto copiedEarly = dyn<HTTPRequest>(plain->copy());
  plain->startSynchronous();
  ASSERT_FALSE(plain->error()) << plain->error()->description();
  auto copiedLate = dyn<HTTPRequest>(plain->copy());
  auto bodyFile = plain->postBodyFilePath();
  ASSERT_TRUE(bodyFile);
  plain = nullptr;
  for (const auto& copied : {copiedEarly, copiedLate}) {
    copied->startSynchronous();
    ASSERT_FALSE(copied->error()) << copied->error()->description();
    EXPECT_EQ(copied->responseString().value_or(""), blob);
  }
  EXPECT_TRUE(std::filesystem::exists(*bodyFile));
  copiedEarly = nullptr;
  copiedLate = nullptr;
  EXPECT_TRUE(pumpRunLoopUntil([&] { return !std::filesystem::exists(*bodyFile); }));

  // A body file that went away fails the request at once rather than announce bytes that will
  // never come.
  testing::TemporaryDirectory directory;
  auto missing = request("/echo");
  missing->setShouldStreamPostDataFromDisk(true);
  missing->setPostBodyFilePath((directory / "body").string());
  missing->appendPostData(Data::make(blob));
  missing->buildPostBody();
  std::filesystem::remove(directory / "body");
  auto before = server.requests().size();
  missing->startSynchronous();
  ASSERT_TRUE(missing->error());
  EXPECT_EQ(missing->error()->code(), 6);
  EXPECT_EQ(server.requests().size(), before);
}

TEST_F(RequestRetryNetwork, AFileBodyOfAPlainRequestIsResentToo) {
  poolAConnection("/keepalive-then-drop");
  testing::TemporaryDirectory directory;
  testing::writeFile(directory / "body", std::string(50000, 'f'));
  auto upload = request("/keepalive-then-drop");
  upload->setShouldStreamPostDataFromDisk(true);
  upload->appendPostDataFromFile((directory / "body").string());
  upload->setRequestMethod("PUT");
  upload->startSynchronous();
  ASSERT_FALSE(upload->error()) << upload->error()->description();
  auto records = server.requests();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].method, "PUT");
  EXPECT_EQ(records[2].body, std::string(50000, 'f'));
}

TEST_F(RequestRetryNetwork, AFreshConnectionThatFailsIsNeverTriedAgain) {
  for (const char* method : {"GET", "POST"}) {
    SCOPED_TRACE(method);
    auto before = server.requests().size();
    auto lost = request("/drop-before-answer");
    lost->setRequestMethod(method);
    if (std::string(method) == "POST") lost->appendPostData(Data::make("order=1"));
    auto outcome = recordOutcome(lost);
    lost->startSynchronous();
    EXPECT_EQ(outcome->failed, 1);
    ASSERT_TRUE(lost->error());
    EXPECT_EQ(lost->error()->code(), 1);
    EXPECT_EQ(lost->retryCount(), 0);
    // The server read the request once; sending it again could repeat what it did.
    EXPECT_EQ(server.requests().size(), before + 1);
  }
}

TEST_F(RequestRetryNetwork, AReusedConnectionLostAfterTheAnswerBeganIsNotTriedAgain) {
  for (std::size_t i = 0; i < std::size(kAnswerBeginnings); ++i) {
    SCOPED_TRACE(kAnswerBeginnings[i]);
    std::string path = "/answer-then-drop/" + std::to_string(i);
    poolAConnection(path);
    auto before = server.requests().size();
    auto post = request(path);
    post->appendPostData(Data::make("order=2"));
    auto outcome = recordOutcome(post);
    post->startSynchronous();
    EXPECT_EQ(outcome->failed, 1);
    EXPECT_EQ(post->error() ? post->error()->code() : 0, 1);
    EXPECT_EQ(post->retryCount(), 0);
    // The server read the order once.
    EXPECT_EQ(server.requests().size(), before + 1);
  }
}

TEST_F(RequestRetryNetwork, CookiesOfAnAttemptThatIsRepeatedAreNotKept) {
  auto repeated = request("/cookie-then-stall");
  repeated->setTimeOutSeconds(0.5);
  repeated->setNumberOfTimesToRetryOnTimeout(1);
  repeated->startSynchronous();
  ASSERT_FALSE(repeated->error()) << repeated->error()->description();
  EXPECT_EQ(repeated->retryCount(), 1);
  std::vector<std::string> names;
  for (const auto& cookie : net::CookieStore::sharedInstance()->cookiesForURL(*URL::make(server.url("/")))) {
    names.push_back(cookie->name());
  }
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
  bool abandonedInSession = false;
  for (const auto& cookie : HTTPRequest::sessionCookies()) abandonedInSession |= cookie->name() == "abandoned";
  EXPECT_FALSE(abandonedInSession);

  // An answer that ends the request, even as a failure, keeps what it set.
  net::CookieStore::sharedInstance()->removeAllCookies();
  auto failed = request("/cookie-and-stall");
  failed->setTimeOutSeconds(0.5);
  failed->startSynchronous();
  ASSERT_TRUE(failed->error());
  EXPECT_EQ(failed->error()->code(), 2);
  auto kept = net::CookieStore::sharedInstance()->cookiesForURL(*URL::make(server.url("/")));
  ASSERT_EQ(kept.size(), 1u);
}

TEST_F(RequestRetryNetwork, ARefusedRedirectLeavesTheURLAtTheLastAddressLoaded) {
  for (std::size_t i = 0; i < std::size(kRefusedLocations); ++i) {
    SCOPED_TRACE(kRefusedLocations[i]);
    std::string path = "/to/" + std::to_string(i);
    auto redirected = request(path);
    auto outcome = recordOutcome(redirected);
    redirected->startSynchronous();
    EXPECT_EQ(outcome->failed, 1);
    ASSERT_TRUE(redirected->error());
    EXPECT_EQ(redirected->error()->code(), 5);
    EXPECT_EQ(redirected->url()->absoluteString(), server.url(path));
    EXPECT_EQ(redirected->redirectCount(), 0);
  }
}

}  // namespace
}  // namespace zv
