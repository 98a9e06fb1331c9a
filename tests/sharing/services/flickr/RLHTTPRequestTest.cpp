#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/foundation/String.h"
#include "platform/runloop/RunLoopPump.h"
#include "sharing/services/flickr/RLHTTPRequest.h"
#include "support/net/FaultServer.h"
#include "support/sharing/CountingHTTPServer.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

class RecordingHTTPDelegate : public Object, public RLHTTPRequestDelegate {
 public:
  void httpRequestSentBytes(RLHTTPRequest&, std::uint64_t sent, std::uint64_t total) override {
    events.push_back("sent");
    lastSent = sent, lastTotal = total;
  }
  void httpRequestDidReceiveStatusCode(RLHTTPRequest& request, unsigned code, const Ref<URL>&,
                                       const Ref<net::HTTPMessage>&) override {
    events.push_back("status");
    status = code;
    if (cancelOnStatus) request.cancel();
  }
  void httpRequestReceivedBytes(RLHTTPRequest&, std::uint64_t received, std::uint64_t) override {
    events.push_back("received");
    lastReceived = received;
  }
  void httpRequestDidComplete(RLHTTPRequest&) override { events.push_back("complete"), ++endings; }
  void httpRequestDidFailWithError(RLHTTPRequest&, const std::string& e) override {
    events.push_back("fail"), ++endings;
    error = e;
  }
  void httpRequestDidCancel(RLHTTPRequest&) override { events.push_back("cancel"), ++endings; }
  bool respondsToSelector(std::string_view selector) const override {
    return selector != "httpRequestWriteReceivedBytes";
  }
  bool wait() { return pumpRunLoopUntil([&] { return endings > 0; }, 120.0); }

  std::vector<std::string> events;
  int endings = 0;
  unsigned status = 0;
  std::uint64_t lastSent = 0, lastTotal = 0, lastReceived = 0;
  std::string error;
  bool cancelOnStatus = false;
};

class RLHTTPRequestTest : public SharingTest {
 protected:
  RLHTTPRequestTest() : SharingTest(/*manualClock=*/false) {}
  void SetUp() override {
    SharingTest::SetUp();
    server.route("/loop", [this](const RecordedRequest&, FaultServer::Connection& c) {
      c.send("HTTP/1.1 302 Found\r\nLocation: " + server.url("/loop") + "\r\nContent-Length: 0\r\n\r\n");
    });
    server.route("/endless", [this](const RecordedRequest&, FaultServer::Connection& c) {
      c.sendEndlessBody("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 'x', kEndlessLimit, endlessSent);
    });
    ASSERT_TRUE(server.start());
    request = RLHTTPRequest::make();
    request->setDelegate(delegate);
  }
  Ref<URL> at(const std::string& path) { return URL::make(server.url(path)); }

  static constexpr std::size_t kEndlessLimit = std::size_t{64} << 20;
  std::atomic<std::size_t> endlessSent{0};
  FaultServer server;
  Ref<RLHTTPRequest> request;
  std::shared_ptr<RecordingHTTPDelegate> delegate = std::make_shared<RecordingHTTPDelegate>();
};

TEST(RLHTTPForm, EscapesWhatWouldSplitAPair) {
  auto form = MutableDictionary::make();
  form->setObject(String::make("a&b=c+d/e f~"), "k/=");
  EXPECT_EQ(dataAsWWWURLEncodedFormFromDictionary(*form)->view(), "k%2F%3D=a%26b%3Dc%2Bd%2Fe%20f~");
  EXPECT_EQ(dataAsWWWURLEncodedFormFromDictionary(*Dictionary::make())->length(), 0u);
}

TEST_F(RLHTTPRequestTest, ABodyIsSentAndTheReplyKeptWithEventsInOrder) {
  request->setContentType("text/plain");
  ASSERT_TRUE(request->performMethod("POST", at("/echo"), Data::make("hello body")));
  EXPECT_FALSE(request->performMethod("GET", at("/ok"), Ref<Data>()));  // one at a time
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->status, 200u);
  EXPECT_EQ(request->receivedData()->view(), "hello body");
  EXPECT_EQ(delegate->lastSent, 10u);
  EXPECT_EQ(delegate->events.back(), "complete");
  auto sent = std::find(delegate->events.begin(), delegate->events.end(), "sent");
  auto status = std::find(delegate->events.begin(), delegate->events.end(), "status");
  EXPECT_LT(sent, status);
  const auto recorded = server.requests().back();
  EXPECT_EQ(recorded.header("Content-Length"), "10");
  EXPECT_EQ(recorded.header("Content-Type"), "text/plain");
  EXPECT_EQ(request->getReceivedDataAndDetachFromRequest()->view(), "hello body");
  EXPECT_EQ(request->receivedData()->length(), 0u);
}

TEST_F(RLHTTPRequestTest, WaitingRunsTheLoopUntilTheEnd) {
  request->setShouldWaitUntilDone(true);
  ASSERT_TRUE(request->performMethod("GET", at("/ok"), Ref<Data>()));
  EXPECT_EQ(delegate->endings, 1);
  EXPECT_EQ(request->receivedData()->view(), "hello");
}

TEST_F(RLHTTPRequestTest, AStalledServerTimesOutOnce) {
  request->setTimeoutInterval(1.0);
  ASSERT_TRUE(request->performMethod("GET", at("/stall"), Ref<Data>()));
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->error, kRLHTTPRequestTimeout);
  pumpRunLoopFor(0.2);
  EXPECT_EQ(delegate->endings, 1);
  EXPECT_FALSE(request->isRunning());
}

TEST_F(RLHTTPRequestTest, ALostConnectionAndARedirectLoopEndOnce) {
  ASSERT_TRUE(request->performMethod("GET", at("/drop-before-answer"), Ref<Data>()));
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->error, kRLHTTPRequestConnectionLost);

  delegate->endings = 0;
  ASSERT_TRUE(request->performMethod("GET", at("/loop"), Ref<Data>()));
  ASSERT_TRUE(delegate->wait());
  pumpRunLoopFor(0.2);
  EXPECT_EQ(delegate->endings, 1);
  EXPECT_FALSE(request->isRunning());
}

// A body kept in memory stops at the request's bound: exactly the bound is a reply, one byte more
// fails, and a server that keeps sending is left soon after it.
TEST_F(RLHTTPRequestTest, AReplyKeptInMemoryStopsAtTheBound) {
  EXPECT_EQ(request->maximumReceivedDataLength(), kRLHTTPRequestDefaultMaximumReceivedDataLength);
  request->setMaximumReceivedDataLength(1000);
  ASSERT_TRUE(request->performMethod("GET", at("/big/1000"), Ref<Data>()));
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->events.back(), "complete");
  EXPECT_EQ(request->getReceivedDataAndDetachFromRequest()->length(), 1000u);

  for (const char* path : {"/big/1000", "/endless"}) {
    SCOPED_TRACE(path);
    delegate->endings = 0;
    request->setMaximumReceivedDataLength(path == std::string("/endless") ? 256 << 10 : 999);
    ASSERT_TRUE(request->performMethod("GET", at(path), Ref<Data>()));
    ASSERT_TRUE(delegate->wait());
    EXPECT_EQ(delegate->endings, 1);
    EXPECT_EQ(delegate->error, kRLHTTPRequestDataTooLong);
    EXPECT_FALSE(request->isRunning());
  }
  EXPECT_LT(endlessSent.load(), kEndlessLimit / 2);
}

TEST_F(RLHTTPRequestTest, CancellingFromTheStatusCallbackEndsWithTheCancelOnly) {
  delegate->cancelOnStatus = true;
  ASSERT_TRUE(request->performMethod("GET", at("/big/100000"), Ref<Data>()));
  ASSERT_TRUE(delegate->wait());
  pumpRunLoopFor(0.2);
  EXPECT_EQ(delegate->events.back(), "cancel");
  EXPECT_EQ(delegate->endings, 1);
  EXPECT_EQ(std::count(delegate->events.begin(), delegate->events.end(), "received"), 0);
}

// A generated body: `size` bytes of a pattern, produced as read.
class PatternStream : public net::InputStream {
 public:
  explicit PatternStream(std::uint64_t size) : size_(size) {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(maxLength, size_ - offset_));
    for (std::size_t i = 0; i < count; ++i) buffer[i] = static_cast<std::uint8_t>((offset_ + i) % 251);
    offset_ += count;
    return static_cast<long>(count);
  }
  static std::uint64_t sumOf(std::uint64_t size) {
    std::uint64_t sum = 0;
    const std::uint64_t cycle = 250 * 251 / 2;
    sum += (size / 251) * cycle;
    for (std::uint64_t i = 0; i < size % 251; ++i) sum += i;
    return sum;
  }

 private:
  std::uint64_t size_;
  std::uint64_t offset_ = 0;
};

TEST_F(RLHTTPRequestTest, AStreamedBodyIsCountedIn64Bits) {
  CountingHTTPServer sink;
  ASSERT_TRUE(sink.start());
  const std::uint64_t size = 3 * 1024 * 1024 + 17;
  ASSERT_TRUE(request->performMethod("POST", URL::make(sink.url()), std::make_shared<PatternStream>(size), size));
  ASSERT_TRUE(delegate->wait());
  EXPECT_EQ(delegate->events.back(), "complete");
  EXPECT_EQ(sink.lastBodyBytes(), size);
  EXPECT_EQ(sink.lastBodySum(), PatternStream::sumOf(size));
  EXPECT_EQ(delegate->lastSent, size);
  EXPECT_EQ(request->receivedData()->view(), std::to_string(size));

  // A body that says it holds more than 4 GiB: the announced length and every count of it stay
  // whole. The server reads a few MiB and then holds the upload, so the work stays small.
  CountingHTTPServer holding;
  holding.setReadLimit(4u << 20);
  ASSERT_TRUE(holding.start());
  const std::uint64_t huge = (std::uint64_t{1} << 32) + 4097;
  delegate->endings = 0;
  delegate->lastSent = delegate->lastTotal = 0;
  ASSERT_TRUE(request->performMethod("POST", URL::make(holding.url()), std::make_shared<PatternStream>(huge), huge));
  EXPECT_EQ(request->requestMessageBodySize(), huge);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return delegate->lastSent > 0 || delegate->endings > 0; }, 60.0));
  EXPECT_EQ(delegate->endings, 0);
  EXPECT_EQ(delegate->lastTotal, huge);
  EXPECT_GT(delegate->lastSent, 0u);
  EXPECT_LT(delegate->lastSent, huge);
  EXPECT_EQ(holding.announcedBodyBytes(), huge);
  request->cancel();
}

}  // namespace
}  // namespace zv::testing
