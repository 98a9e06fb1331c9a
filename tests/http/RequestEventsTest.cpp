// The order and thread of request events, and failures raised while a request prepares itself.
#include <gtest/gtest.h>

#include <mutex>

#include "HTTPTestSupport.h"
#include "http/HTTPRequest.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/net/FaultServer.h"

namespace zv {
namespace {

struct Journal {
  std::mutex mutex;
  std::vector<std::string> lines;
  bool offMain = false;
  void add(const std::string& line) {
    std::lock_guard<std::mutex> guard(mutex);
    if (!RunLoop::isMainThread()) offMain = true;
    lines.push_back(line);
  }
};

struct Recorder : HTTPRequestQueueDelegate {
  Recorder(std::shared_ptr<Journal> journal, std::string name) : journal(std::move(journal)), name(std::move(name)) {}
  bool respondsToSelector(std::string_view) const override { return true; }
  void requestStarted(const Ref<HTTPRequest>&) override { journal->add(name + " started"); }
  void requestDidReceiveResponseHeaders(const Ref<HTTPRequest>&, const Ref<Dictionary>&) override {
    journal->add(name + " headers");
  }
  void requestFinished(const Ref<HTTPRequest>&) override { journal->add(name + " finished"); }
  void requestFailed(const Ref<HTTPRequest>&) override { journal->add(name + " failed"); }
  std::shared_ptr<Journal> journal;
  std::string name;
};

TEST(RequestEvents, DelegateThenQueueThenCallbackOnTheMainThread) {
  testing::FaultServer server;
  ASSERT_TRUE(server.start());
  auto journal = std::make_shared<Journal>();
  auto delegate = std::make_shared<Recorder>(journal, "delegate");
  auto queue = std::make_shared<Recorder>(journal, "queue");
  auto request = HTTPRequest::requestWithURL(URL::make(server.url("/ok")));
  request->setDelegate(delegate);
  request->setQueue(queue);
  request->setStartedBlock([journal] { journal->add("block started"); });
  request->setHeadersReceivedBlock([journal](const Ref<Dictionary>&) { journal->add("block headers"); });
  request->setCompletionBlock([journal] { journal->add("block finished"); });
  request->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    std::lock_guard<std::mutex> guard(journal->mutex);
    return journal->lines.size() >= 9;
  }));
  pumpRunLoopFor(0.1);
  EXPECT_FALSE(journal->offMain);
  EXPECT_EQ(journal->lines, (std::vector<std::string>{"delegate started", "queue started", "block started",
                                                      "delegate headers", "queue headers", "block headers",
                                                      "delegate finished", "queue finished", "block finished"}));
}

TEST(RequestEvents, AnExceptionWhilePreparingBecomesCodeTen) {
  struct Throwing : HTTPRequest {
    using HTTPRequest::HTTPRequest;
    void buildPostBody() override { Exception::raise("BodyException", "no body today"); }
  };
  auto request = std::make_shared<Throwing>(URL::make("http://127.0.0.1:9/"));
  auto outcome = testing::recordOutcome(request);
  request->startSynchronous();
  EXPECT_EQ(outcome->failed, 1);
  ASSERT_TRUE(request->error());
  EXPECT_EQ(request->error()->code(), 10);
  EXPECT_EQ(request->error()->localizedDescription(), "BodyException");
  EXPECT_EQ(request->error()->userInfo()->stringForKey(kLocalizedFailureReasonKey), "no body today");
  ASSERT_TRUE(request->error()->underlyingError());
  EXPECT_EQ(request->error()->underlyingError()->code(), 10);
}

TEST(RequestEvents, OnlyTheFirstFailureIsReported) {
  auto request = HTTPRequest::requestWithURL(URL::make("http://127.0.0.1:9/"));
  auto outcome = testing::recordOutcome(request);
  request->failWithError(HTTPRequest::timedOutError());
  request->failWithError(HTTPRequest::cancelledError());
  request->requestFinished();
  pumpRunLoopFor(0.05);
  EXPECT_EQ(outcome->failed, 1);
  EXPECT_EQ(outcome->finished, 0);
  EXPECT_EQ(request->error()->code(), 2);
}

}  // namespace
}  // namespace zv
