// Progress accounting against the fault server: byte increments add up to what arrived and was
// sent, expected sizes match, and the single-unit mode reports one unit per direction.
#include <gtest/gtest.h>

#include <atomic>

#include "HTTPTestSupport.h"
#include "http/HTTPRequest.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/net/FaultServer.h"

namespace zv {
namespace {

using testing::FaultServer;

// Records every progress call; all of them must arrive on the main thread.
class ProgressRecorder : public HTTPProgressDelegate {
 public:
  bool respondsToSelector(std::string_view) const override { return true; }
  void setProgress(float value) override {
    check();
    progress = value;
    ++progressCalls;
  }
  void requestDidReceiveBytes(const Ref<HTTPRequest>&, std::int64_t n) override {
    check();
    received += n;
    receivedCalls.push_back(n);
  }
  void requestDidSendBytes(const Ref<HTTPRequest>&, std::int64_t n) override {
    check();
    sent += n;
    sentCalls.push_back(n);
  }
  void requestIncrementDownloadSizeBy(const Ref<HTTPRequest>&, std::int64_t n) override {
    check();
    downloadSize += n;
  }
  void requestIncrementUploadSizeBy(const Ref<HTTPRequest>&, std::int64_t n) override {
    check();
    uploadSize += n;
  }
  void check() {
    if (!RunLoop::isMainThread()) ++offMain;
  }
  float progress = -1;
  int progressCalls = 0;
  std::int64_t received = 0, sent = 0, downloadSize = 0, uploadSize = 0;
  std::vector<std::int64_t> receivedCalls, sentCalls;
  int offMain = 0;
};

class Progress : public ::testing::Test {
 protected:
  Progress() {
    // A size announced to a HEAD request without a body.
    server.route("/sized", [](const testing::RecordedRequest& r, FaultServer::Connection& c) {
      std::string body = r.method == "HEAD" ? "" : std::string(5000, 's');
      c.send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + body);
    });
  }
  void SetUp() override { ASSERT_TRUE(server.start()); }
  Ref<HTTPRequest> request(const std::string& path) {
    auto r = HTTPRequest::requestWithURL(URL::make(server.url(path)));
    r->setTimeOutSeconds(10);
    r->setAllowCompressedResponse(false);
    return r;
  }
  // Runs the request asynchronously and lets every queued report reach the main thread.
  void run(const Ref<HTTPRequest>& r) {
    auto outcome = testing::recordOutcome(r);
    r->startAsynchronous();
    ASSERT_TRUE(testing::waitForOutcome(outcome));
    pumpRunLoopFor(0.1);
  }
  FaultServer server;
};

TEST_F(Progress, DownloadIncrementsAddUpToTheAnnouncedLength) {
  auto r = request("/big/300000");
  auto download = std::make_shared<ProgressRecorder>();
  r->setDownloadProgressDelegate(download);
  std::atomic<std::uint64_t> blockTotal{0}, blockSum{0};
  r->setBytesReceivedBlock([&](std::uint64_t size, std::uint64_t total) {
    blockSum += size;
    blockTotal = total;
  });
  run(r);
  ASSERT_FALSE(r->error());
  EXPECT_EQ(download->received, 300000);
  EXPECT_EQ(download->downloadSize, 300000);
  EXPECT_FLOAT_EQ(download->progress, 1.0f);
  EXPECT_EQ(blockSum.load(), 300000u);
  EXPECT_EQ(blockTotal.load(), 300000u);
  EXPECT_EQ(download->offMain, 0);
}

TEST_F(Progress, UnknownLengthReportsOneUnitAndTurnsAccurateProgressOff) {
  auto r = request("/chunked");
  auto download = std::make_shared<ProgressRecorder>();
  r->setDownloadProgressDelegate(download);
  run(r);
  ASSERT_FALSE(r->error());
  EXPECT_EQ(download->receivedCalls, std::vector<std::int64_t>{1});
  EXPECT_EQ(download->downloadSize, 1);
  EXPECT_FALSE(r->showAccurateProgress());
}

TEST_F(Progress, UploadIncrementsMatchTheUploadSize) {
  auto r = request("/echo");
  auto upload = std::make_shared<ProgressRecorder>();
  r->setUploadProgressDelegate(upload);
  r->appendPostData(Data::make(std::string(400000, 'u')));
  run(r);
  ASSERT_FALSE(r->error());
  ASSERT_FALSE(upload->sentCalls.empty());
  // Whatever the first reading left out of the total is left out of the amounts too.
  EXPECT_EQ(upload->sent, upload->uploadSize);
  EXPECT_EQ(static_cast<std::uint64_t>(upload->uploadSize), r->postLength() - r->uploadBufferSize());
  EXPECT_FLOAT_EQ(upload->progress, 1.0f);
}

TEST_F(Progress, SingleUnitModeReportsExactlyOneUnitEachWay) {
  auto r = request("/echo");
  r->setShowAccurateProgress(false);
  auto upload = std::make_shared<ProgressRecorder>();
  auto download = std::make_shared<ProgressRecorder>();
  r->setUploadProgressDelegate(upload);
  r->setDownloadProgressDelegate(download);
  r->appendPostData(Data::make(std::string(1000, 'x')));
  run(r);
  ASSERT_FALSE(r->error());
  EXPECT_EQ(download->receivedCalls, std::vector<std::int64_t>{1});
  EXPECT_EQ(upload->sentCalls, std::vector<std::int64_t>{1});
  EXPECT_EQ(upload->uploadSize, 1);
}

TEST_F(Progress, RetriedAttemptTakesBackWhatItHadSent) {
  auto r = request("/echo");
  auto upload = std::make_shared<ProgressRecorder>();
  r->setUploadProgressDelegate(upload);
  r->setTotalBytesSent(500);
  r->setLastBytesSent(500);
  r->setPostLength(1000);
  std::atomic<std::int64_t> blockAmount{0};
  r->setBytesSentBlock([&](std::uint64_t size, std::uint64_t) { blockAmount = static_cast<std::int64_t>(size); });
  r->removeUploadProgressSoFar();
  pumpRunLoopFor(0.05);
  EXPECT_EQ(upload->sentCalls, std::vector<std::int64_t>{-500});
  EXPECT_EQ(blockAmount.load(), -500);
  EXPECT_FLOAT_EQ(upload->progress, 0.0f);
}

TEST_F(Progress, HeadCopyReportsNothingAndFeedsItsMainRequest) {
  auto main = request("/sized");
  auto download = std::make_shared<ProgressRecorder>();
  main->setDownloadProgressDelegate(download);
  auto head = main->HEADRequest();
  EXPECT_EQ(head->requestMethod(), "HEAD");
  EXPECT_EQ(head->mainRequest().lock(), main);
  EXPECT_FALSE(head->downloadProgressDelegate());
  head->startSynchronous();
  pumpRunLoopFor(0.1);
  ASSERT_FALSE(head->error());
  EXPECT_EQ(main->contentLength(), 5000u);
  // The size went to the main request's receiver, as the main request's own.
  EXPECT_EQ(download->downloadSize, 5000);
  EXPECT_TRUE(download->receivedCalls.empty());
  auto recorded = server.requests();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].method, "HEAD");

  // A copy of a request whose (compressed) body was built: neither the body nor its length or
  // coding goes with the HEAD, which would otherwise wait for bytes that never come.
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed);
    auto upload = request("/sized");
    upload->setShouldCompressRequestBody(compressed);
    upload->appendPostData(Data::make(std::string(700, 'u')));
    upload->buildPostBody();
    auto sizer = upload->HEADRequest();
    sizer->setTimeOutSeconds(20);
    sizer->startSynchronous();
    ASSERT_FALSE(sizer->error()) << sizer->error()->description();
    EXPECT_EQ(upload->contentLength(), 5000u);
    recorded = server.requests();
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded.back().method, "HEAD");
    EXPECT_FALSE(recorded.back().header("Content-Length"));
    EXPECT_FALSE(recorded.back().header("Content-Encoding"));
    EXPECT_EQ(recorded.back().body, "");
  }
}

}  // namespace
}  // namespace zv
