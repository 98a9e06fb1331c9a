// The request queue against the fault server: suspended until go, counting, the failure policy,
// selectors performed on the delegate, accurate progress with HEAD requests first.
#include <gtest/gtest.h>

#include <mutex>

#include "HTTPTestSupport.h"
#include "http/HTTPNetworkQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/TestSupport.h"
#include "support/net/FaultServer.h"
#include "support/net/LoopbackPorts.h"

namespace zv {
namespace {

using testing::FaultServer;

// Answers the selectors it was given and records each call (main thread only).
class SelectorRecorder : public Object {
 public:
  explicit SelectorRecorder(std::vector<std::string> names) : names_(std::move(names)) {}
  bool respondsToSelector(std::string_view selector) const override {
    return std::find(names_.begin(), names_.end(), selector) != names_.end();
  }
  ObjectPtr performSelector(std::string_view selector, const std::vector<ObjectPtr>& arguments) override {
    if (!RunLoop::isMainThread()) ++offMain;
    calls.emplace_back(std::string(selector), arguments);
    return nullptr;
  }
  int count(const std::string& selector) const {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const auto& c) { return c.first == selector; }));
  }
  std::vector<std::pair<std::string, std::vector<ObjectPtr>>> calls;
  int offMain = 0;

 private:
  std::vector<std::string> names_;
};

class ProgressBar : public HTTPProgressDelegate {
 public:
  bool respondsToSelector(std::string_view selector) const override { return selector == "setProgress"; }
  void setProgress(float value) override {
    progress = value;
    ++calls;
  }
  float progress = -1;
  int calls = 0;
};

class NetworkQueue : public ::testing::Test {
 protected:
  NetworkQueue() {
    server.route("/sized", [](const testing::RecordedRequest& r, FaultServer::Connection& c) {
      std::string body = r.method == "HEAD" ? "" : std::string(3000, 's');
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + body);
    });
    // The HEAD that sizes the GET never gets an answer.
    server.route("/slow-head", [](const testing::RecordedRequest& r, FaultServer::Connection& c) {
      if (r.method == "HEAD") return c.stallUntilStopped();
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
  }
  void SetUp() override { ASSERT_TRUE(server.start()); }
  Ref<HTTPRequest> request(const std::string& path) {
    auto r = HTTPRequest::requestWithURL(URL::make(server.url(path)));
    r->setTimeOutSeconds(20);
    return r;
  }
  static bool waitUntilDone(const Ref<HTTPNetworkQueue>& queue, const std::shared_ptr<SelectorRecorder>& delegate) {
    return pumpRunLoopUntil([&] { return delegate->count("queueFinished") > 0 && queue->operationCount() == 0; }, 20);
  }
  FaultServer server;
};

TEST_F(NetworkQueue, RunsNothingUntilGoAndCountsOneUnitPerRequest) {
  auto queue = HTTPNetworkQueue::queue();
  auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"finished", "queueFinished", "started"});
  queue->setDelegate(delegate);
  queue->setRequestDidFinishSelector("finished");
  queue->setRequestDidStartSelector("started");
  queue->setQueueDidFinishSelector("queueFinished");
  auto download = std::make_shared<ProgressBar>();
  queue->setDownloadProgressDelegate(download);
  std::vector<Ref<HTTPRequest>> requests;
  for (int i = 0; i < 3; ++i) {
    requests.push_back(request("/ok"));
    queue->addOperation(requests.back());
  }
  EXPECT_EQ(queue->requestsCount(), 3);
  EXPECT_EQ(queue->totalBytesToDownload(), 3u);
  EXPECT_EQ(queue->totalBytesToUpload(), 3u);
  pumpRunLoopFor(0.2);
  EXPECT_TRUE(server.requests().empty());
  for (const auto& r : requests) EXPECT_FALSE(r->isExecuting() || r->isFinished());

  queue->go();
  ASSERT_TRUE(waitUntilDone(queue, delegate));
  EXPECT_EQ(delegate->count("finished"), 3);
  EXPECT_EQ(delegate->count("started"), 3);
  EXPECT_EQ(delegate->count("queueFinished"), 1);
  EXPECT_EQ(queue->requestsCount(), 0);
  EXPECT_EQ(queue->bytesDownloadedSoFar(), 3u);
  pumpRunLoopFor(0.05);
  EXPECT_FLOAT_EQ(download->progress, 1.0f);
  EXPECT_EQ(delegate->offMain, 0);
  // The finish selector got the request; the queue-finish selector the queue.
  auto last = delegate->calls.back();
  EXPECT_EQ(last.second.at(0), queue);
}

TEST_F(NetworkQueue, OneFailureCancelsTheRestByDefault) {
  for (bool cancelOthers : {true, false}) {
    auto queue = HTTPNetworkQueue::queue();
    auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"failed", "finished", "queueFinished"});
    queue->setDelegate(delegate);
    queue->setRequestDidFailSelector("failed");
    queue->setRequestDidFinishSelector("finished");
    queue->setQueueDidFinishSelector("queueFinished");
    queue->setShouldCancelAllRequestsOnFailure(cancelOthers);
    auto slowA = request(cancelOthers ? "/stall" : "/late-body");
    auto slowB = request(cancelOthers ? "/stall" : "/late-body");
    testing::HeldLoopbackPort refusing;
    auto failing = HTTPRequest::requestWithURL(URL::make(refusing.url("/refused")));
    queue->addOperation(slowA);
    queue->addOperation(slowB);
    queue->addOperation(failing);
    queue->go();
    ASSERT_TRUE(waitUntilDone(queue, delegate)) << cancelOthers;
    EXPECT_EQ(delegate->count("queueFinished"), 1) << cancelOthers;
    if (cancelOthers) {
      EXPECT_EQ(delegate->count("failed"), 3);
      EXPECT_EQ(slowA->error()->code(), RequestErrorCancelled);
    } else {
      EXPECT_EQ(delegate->count("failed"), 1);
      EXPECT_EQ(delegate->count("finished"), 2);
      // The batch ended only after the last request.
      EXPECT_EQ(delegate->calls.back().first, "queueFinished");
    }
  }
}

TEST_F(NetworkQueue, AccurateProgressSendsHEADRequestsFirst) {
  auto queue = HTTPNetworkQueue::queue();
  queue->setShowAccurateProgress(true);
  auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"queueFinished"});
  queue->setDelegate(delegate);
  queue->setQueueDidFinishSelector("queueFinished");
  auto download = std::make_shared<ProgressBar>();
  auto upload = std::make_shared<ProgressBar>();
  queue->setDownloadProgressDelegate(download);
  queue->setUploadProgressDelegate(upload);
  auto post = request("/echo");
  post->appendPostData(Data::make(std::string(2000, 'p')));
  queue->addOperation(request("/sized"));
  queue->addOperation(request("/sized"));
  queue->addOperation(post);
  EXPECT_EQ(queue->totalBytesToUpload(), 2000u);
  queue->go();
  ASSERT_TRUE(waitUntilDone(queue, delegate));
  pumpRunLoopFor(0.05);
  EXPECT_EQ(queue->totalBytesToDownload(), 2u * 3000u + 2000u);
  EXPECT_EQ(queue->bytesDownloadedSoFar(), queue->totalBytesToDownload());
  EXPECT_FLOAT_EQ(download->progress, 1.0f);
  int heads = 0;
  for (const auto& r : server.requests()) heads += r.method == "HEAD";
  EXPECT_EQ(heads, 2);
  // Every GET is preceded by the HEAD that sized it; the POST, which needs no HEAD, may come
  // at any point.
  auto recorded = server.requests();
  ASSERT_GE(recorded.size(), 4u);
  int headsSeen = 0, getsSeen = 0;
  for (const auto& r : recorded) {
    if (r.path() != "/sized") continue;
    if (r.method == "HEAD") ++headsSeen;
    if (r.method == "GET") {
      EXPECT_LE(++getsSeen, headsSeen) << "a GET came before its HEAD";
    }
  }
  EXPECT_EQ(getsSeen, 2);
}

TEST_F(NetworkQueue, ARequestWhoseBodyCannotBeBuiltReachesTheQueueOnce) {
  for (bool accurate : {true, false}) {
    SCOPED_TRACE(accurate);
    auto queue = HTTPNetworkQueue::queue();
    queue->setShowAccurateProgress(accurate);
    queue->setShouldCancelAllRequestsOnFailure(false);
    auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"failed", "finished", "queueFinished"});
    queue->setDelegate(delegate);
    queue->setRequestDidFailSelector("failed");
    queue->setRequestDidFinishSelector("finished");
    queue->setQueueDidFinishSelector("queueFinished");
    testing::TemporaryDirectory folder;
    auto broken = request("/echo");
    broken->setPostBodyFilePath((folder / "gone").string());
    broken->setShouldStreamPostDataFromDisk(true);
    queue->addOperation(broken);
    queue->addOperation(request("/ok"));
    queue->go();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return queue->operationCount() == 0 && delegate->count("finished") == 1; }, 20));
    pumpRunLoopFor(0.1);
    ASSERT_TRUE(broken->error());
    EXPECT_EQ(delegate->count("failed"), 1);
    // One go, one batch: announced once, after both requests ended.
    EXPECT_EQ(delegate->count("queueFinished"), 1);
    EXPECT_EQ(delegate->calls.back().first, "queueFinished");
    EXPECT_EQ(queue->requestsCount(), 0);
    // The broken request never reached the server, nor did a HEAD request on its behalf.
    for (const auto& r : server.requests()) EXPECT_NE(r.path(), "/echo") << r.method;
  }
}

TEST_F(NetworkQueue, ARequestCancelledWhileItsHEADCopyRunsIsReportedOnce) {
  auto queue = HTTPNetworkQueue::queue();
  queue->setShowAccurateProgress(true);
  auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"failed", "finished", "queueFinished"});
  queue->setDelegate(delegate);
  queue->setRequestDidFailSelector("failed");
  queue->setRequestDidFinishSelector("finished");
  queue->setQueueDidFinishSelector("queueFinished");
  auto sized = request("/slow-head");
  auto other = request("/stall");
  auto outcome = testing::recordOutcome(sized);
  queue->addOperation(sized);
  queue->addOperation(other);
  queue->go();
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    for (const auto& r : server.requests()) {
      if (r.method == "HEAD") return true;
    }
    return false;
  }, 20));
  sized->cancel();
  // The failure cancels the rest of the batch (the HEAD copy and the other request).
  ASSERT_TRUE(pumpRunLoopUntil([&] { return delegate->count("queueFinished") > 0 && queue->operationCount() == 0; }, 20));
  pumpRunLoopFor(0.2);
  EXPECT_EQ(outcome->failed, 1);
  EXPECT_EQ(delegate->count("failed"), 2);
  EXPECT_EQ(delegate->count("queueFinished"), 1);
  EXPECT_EQ(queue->requestsCount(), 0);

  // The queue still announces the end of its next batch.
  queue->addOperation(request("/ok"));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return delegate->count("queueFinished") == 2; }, 20));
  EXPECT_EQ(delegate->count("finished"), 1);
  EXPECT_EQ(queue->requestsCount(), 0);
}

TEST_F(NetworkQueue, ARefusedAddLeavesTheRequestWithItsOwnQueue) {
  auto owner = HTTPNetworkQueue::queue();
  auto other = HTTPNetworkQueue::queue();
  auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"queueFinished"});
  owner->setDelegate(delegate);
  owner->setQueueDidFinishSelector("queueFinished");
  for (bool accurate : {false, true}) {
    SCOPED_TRACE(accurate);
    other->setShowAccurateProgress(accurate);
    auto r = request("/ok");
    owner->addOperation(r);
    EXPECT_THROW(other->addOperation(r), Exception);
    EXPECT_EQ(other->requestsCount(), 0);
    EXPECT_EQ(other->operationCount(), 0u);
    EXPECT_EQ(other->totalBytesToDownload(), 0u);
    EXPECT_TRUE(r->queue() == owner);
  }
  owner->go();
  ASSERT_TRUE(waitUntilDone(owner, delegate));
  EXPECT_EQ(owner->requestsCount(), 0);
  // A finished request is refused the same way.
  auto finished = owner->operations().empty() ? request("/ok") : nullptr;
  ASSERT_TRUE(finished);
  finished->startSynchronous();
  EXPECT_THROW(other->addOperation(finished), Exception);
  EXPECT_EQ(other->requestsCount(), 0);
  EXPECT_FALSE(finished->queue());
}

TEST_F(NetworkQueue, RefusesOtherOperationsAndKeepsTheRedirectSelectorOnReset) {
  auto queue = HTTPNetworkQueue::queue();
  try {
    queue->addOperation(BlockOperation::create([] {}));
    FAIL() << "no exception";
  } catch (const Exception& exception) {
    EXPECT_EQ(exception.name(), kAttemptToAddInvalidRequestException);
  }
  auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"redirecting", "authenticationNeededForRequest"});
  queue->setDelegate(delegate);
  queue->setRequestWillRedirectSelector("redirecting");
  queue->setRequestDidFinishSelector("finished");
  EXPECT_TRUE(queue->respondsToSelector("requestWillRedirectToURL"));
  EXPECT_TRUE(queue->respondsToSelector("authenticationNeededForRequest"));
  EXPECT_FALSE(queue->respondsToSelector("proxyAuthenticationNeededForRequest"));
  auto copy = dyn<HTTPNetworkQueue>(queue->copy());
  EXPECT_EQ(copy->requestWillRedirectSelector(), "redirecting");
  EXPECT_TRUE(copy->isSuspended());
  queue->reset();
  EXPECT_EQ(queue->requestWillRedirectSelector(), "redirecting");
  EXPECT_EQ(queue->requestDidFinishSelector(), "");
  EXPECT_FALSE(queue->delegate());
  EXPECT_TRUE(queue->isSuspended());
}

TEST_F(NetworkQueue, TheQueueAsksItsDelegateForCredentials) {
  auto queue = HTTPNetworkQueue::queue();
  auto delegate = std::make_shared<SelectorRecorder>(std::vector<std::string>{"authenticationNeededForRequest", "queueFinished"});
  queue->setDelegate(delegate);
  queue->setQueueDidFinishSelector("queueFinished");
  auto r = request("/auth");
  r->setUseSessionPersistence(false);
  queue->addOperation(r);
  queue->go();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return delegate->count("authenticationNeededForRequest") == 1; }, 10));
  r->setUsername("user");
  r->setPassword("secret");
  r->retryUsingSuppliedCredentials();
  ASSERT_TRUE(waitUntilDone(queue, delegate));
  EXPECT_FALSE(r->error());
  EXPECT_EQ(r->responseString().value_or(""), "welcome");
}

}  // namespace
}  // namespace zv
