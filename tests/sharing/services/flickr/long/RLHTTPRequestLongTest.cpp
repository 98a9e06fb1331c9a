// A body just over 4 GiB through the run-loop request to a stand-in that counts the bytes and
// stores none. It takes minutes under the sanitizers, so it runs only when asked for
// (ZV_RUN_LONG_TESTS=1, label "long").

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "sharing/services/flickr/RLHTTPRequest.h"
#include "support/sharing/CountingHTTPServer.h"

namespace zv::testing {
namespace {

class Sink : public Object, public RLHTTPRequestDelegate {
 public:
  void httpRequestSentBytes(RLHTTPRequest&, std::uint64_t sent, std::uint64_t total) override {
    lastSent = sent, lastTotal = total;
  }
  void httpRequestDidComplete(RLHTTPRequest&) override { ++endings, completed = true; }
  void httpRequestDidFailWithError(RLHTTPRequest&, const std::string&) override { ++endings; }
  bool respondsToSelector(std::string_view selector) const override {
    return selector != "httpRequestWriteReceivedBytes";
  }
  int endings = 0;
  bool completed = false;
  std::uint64_t lastSent = 0, lastTotal = 0;
};

class Generated : public net::InputStream {
 public:
  explicit Generated(std::uint64_t size) : size_(size) {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(maxLength, size_ - offset_));
    std::fill_n(buffer, count, std::uint8_t{1});
    offset_ += count;
    return static_cast<long>(count);
  }

 private:
  std::uint64_t size_;
  std::uint64_t offset_ = 0;
};

TEST(RLHTTPRequestLong, ABodyOverFourGiBIsCountedRight) {
  if (!std::getenv("ZV_RUN_LONG_TESTS")) GTEST_SKIP() << "set ZV_RUN_LONG_TESTS=1 to move 4 GiB";
  RunLoop::setMainThreadToCurrent();
  CountingHTTPServer server;
  ASSERT_TRUE(server.start());
  const std::uint64_t size = (std::uint64_t{1} << 32) + 4097;
  auto request = RLHTTPRequest::make();
  auto sink = std::make_shared<Sink>();
  request->setDelegate(sink);
  request->setTimeoutInterval(120.0);
  ASSERT_TRUE(request->performMethod("POST", URL::make(server.url()), std::make_shared<Generated>(size), size));
  EXPECT_EQ(request->requestMessageBodySize(), size);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return sink->endings > 0; }, 3 * 3600.0));
  EXPECT_TRUE(sink->completed);
  EXPECT_EQ(server.lastBodyBytes(), size);
  EXPECT_EQ(server.lastBodySum(), size);  // every byte is 1
  EXPECT_EQ(sink->lastSent, size);
  EXPECT_EQ(request->receivedData()->view(), std::to_string(size));
}

}  // namespace
}  // namespace zv::testing
