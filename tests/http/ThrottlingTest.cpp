// Bandwidth accounting with a manual clock, the cellular mode over a fake reachability provider,
// the metered upload stream, and a throttled download from a real server.
#include <gtest/gtest.h>

#include <limits>

#include "HTTPTestSupport.h"
#include "http/HTTPInputStream.h"
#include "http/HTTPRequest.h"
#include "platform/foundation/Clock.h"
#include "platform/net/ReachabilityProvider.h"
#include "platform/runloop/RunLoopPump.h"
#include "support/net/FaultServer.h"

namespace zv {
namespace {

class Throttling : public ::testing::Test {
 protected:
  void SetUp() override {
    HTTPRequest::resetBandwidthState();
    // The wall clock starts at 1000; the monotonic one, which throttling measures with, stays
    // where the system's is, so timers scheduled meanwhile keep sensible deadlines for the tests
    // that follow.
    clock = std::make_shared<ManualClock>(SystemClock().monotonic());
    clock->set(1000.0);
    start = clock->monotonic();
    Clock::install(clock);
  }
  void TearDown() override {
    Clock::install(nullptr);
    HTTPRequest::resetBandwidthState();
  }
  void later(double seconds) { clock->advance(seconds); }
  std::shared_ptr<ManualClock> clock;
  double start = 0;
};

TEST_F(Throttling, PeriodsHistoryAndAverage) {
  HTTPRequest::measureBandwidthUsage();  // opens the first period with an empty count
  EXPECT_EQ(HTTPRequest::bandwidthHistory(), (std::vector<unsigned long>{0}));
  HTTPRequest::incrementBandwidthUsedInLastSecond(1000);
  HTTPRequest::measureBandwidthUsage();  // within the period: nothing closes
  EXPECT_EQ(HTTPRequest::bandwidthUsedInLastSecond(), 1000u);
  // One entry leaves for each whole period that passed without a measurement.
  later(1.5);
  HTTPRequest::measureBandwidthUsage();
  EXPECT_EQ(HTTPRequest::bandwidthHistory(), (std::vector<unsigned long>{1000}));
  EXPECT_EQ(HTTPRequest::averageBandwidthUsedPerSecond(), 1000u);
  EXPECT_EQ(HTTPRequest::bandwidthUsedInLastSecond(), 0u);
  // An empty period empties the history, leaving its zero.
  later(1.01);
  HTTPRequest::measureBandwidthUsage();
  EXPECT_EQ(HTTPRequest::bandwidthHistory(), (std::vector<unsigned long>{0}));
  EXPECT_EQ(HTTPRequest::averageBandwidthUsedPerSecond(), 0u);
}

TEST_F(Throttling, ExcessPausesUntilAfterThePeriodEnds) {
  HTTPRequest::setMaxBandwidthPerSecond(14800);
  EXPECT_TRUE(HTTPRequest::isBandwidthThrottled());
  HTTPRequest::measureBandwidthUsage();
  HTTPRequest::incrementBandwidthUsedInLastSecond(20000);
  HTTPRequest::measureBandwidthUsage();
  ASSERT_TRUE(HTTPRequest::throttleResumeTime());
  EXPECT_NEAR(*HTTPRequest::throttleResumeTime(), start + 1.0 + 5200.0 / 14800.0, 1e-6);
}

// A pause lasts as long as the excess asks, on the monotonic clock: the wall clock set back an
// hour (a user or a time server correcting it) neither stretches it nor keeps the period open.
TEST_F(Throttling, APauseEndsOnTimeWhateverTheWallClockDoes) {
  HTTPRequest::setMaxBandwidthPerSecond(14800);
  HTTPRequest::measureBandwidthUsage();
  HTTPRequest::incrementBandwidthUsedInLastSecond(20000);
  HTTPRequest::measureBandwidthUsage();
  EXPECT_EQ(HTTPRequest::maxUploadReadLength(), 0u);
  for (double jump : {-3600.0, 3600.0}) {
    SCOPED_TRACE(jump);
    clock->set(clock->now() + jump);
    later(1.5);
    HTTPRequest::measureBandwidthUsage();
    // The period that went over has closed: a new one starts with its whole budget.
    EXPECT_EQ(HTTPRequest::bandwidthUsedInLastSecond(), 0u);
    EXPECT_EQ(HTTPRequest::maxUploadReadLength(), 3700u);
    ASSERT_TRUE(HTTPRequest::throttleResumeTime());
    EXPECT_LE(*HTTPRequest::throttleResumeTime(), clock->monotonic() + 1.0);
    HTTPRequest::incrementBandwidthUsedInLastSecond(20000);
    HTTPRequest::measureBandwidthUsage();
  }
}

TEST_F(Throttling, LimitsBeyondTheSignedRangeAreLimitsStill) {
  // Larger than any signed count: reading within it never pauses.
  for (unsigned long limit : {std::numeric_limits<unsigned long>::max(),
                              static_cast<unsigned long>(std::numeric_limits<long long>::max()) + 1}) {
    SCOPED_TRACE(limit);
    HTTPRequest::resetBandwidthState();
    HTTPRequest::setMaxBandwidthPerSecond(limit);
    HTTPRequest::measureBandwidthUsage();
    HTTPRequest::incrementBandwidthUsedInLastSecond(20000);
    HTTPRequest::measureBandwidthUsage();
    EXPECT_FALSE(HTTPRequest::throttleResumeTime());
    EXPECT_EQ(HTTPRequest::maxUploadReadLength(), limit / 4);
  }
}

TEST_F(Throttling, UploadReadBudget) {
  HTTPRequest::setMaxBandwidthPerSecond(14800);
  HTTPRequest::measureBandwidthUsage();
  EXPECT_EQ(HTTPRequest::maxUploadReadLength(), 3700u);
  HTTPRequest::incrementBandwidthUsedInLastSecond(14000);
  EXPECT_EQ(HTTPRequest::maxUploadReadLength(), 800u);
  HTTPRequest::incrementBandwidthUsedInLastSecond(1000);
  EXPECT_EQ(HTTPRequest::maxUploadReadLength(), 0u);
  ASSERT_TRUE(HTTPRequest::throttleResumeTime());
  EXPECT_DOUBLE_EQ(*HTTPRequest::throttleResumeTime(), start + 1.0);
}

class CellularThrottling : public Throttling {
 protected:
  void SetUp() override {
    Throttling::SetUp();
    fake = std::make_shared<net::FakeReachabilityProvider>(net::kReachabilityFlagReachable);
    net::ReachabilityProvider::install(fake);
  }
  void TearDown() override {
    Throttling::TearDown();
    net::ReachabilityProvider::install(nullptr);
  }
  std::shared_ptr<net::FakeReachabilityProvider> fake;
};

TEST_F(CellularThrottling, AppliesOnlyOnTheCellularNetworkAndFollowsChanges) {
  HTTPRequest::setMaxBandwidthPerSecond(5000);
  HTTPRequest::setShouldThrottleBandwidthForWWAN(true);
  EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 14800u);
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());  // Wi-Fi
  fake->setDefaultFlags(net::kReachabilityFlagReachable | net::kReachabilityFlagIsWWAN);
  ASSERT_TRUE(pumpRunLoopUntil([] { return HTTPRequest::isBandwidthThrottled(); }, 10.0));
  fake->setDefaultFlags(net::kReachabilityFlagReachable);
  ASSERT_TRUE(pumpRunLoopUntil([] { return !HTTPRequest::isBandwidthThrottled(); }, 10.0));
  // Switching the mode off leaves no limit at all, also not the one set before.
  HTTPRequest::setShouldThrottleBandwidthForWWAN(false);
  EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 0u);
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
}

TEST_F(CellularThrottling, ZeroLimitOnCellularMeansNoLimitNotAnEndlessPause) {
  fake->setDefaultFlags(net::kReachabilityFlagReachable | net::kReachabilityFlagIsWWAN);
  HTTPRequest::throttleBandwidthForWWANUsingLimit(0);
  EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
  HTTPRequest::measureBandwidthUsage();
  HTTPRequest::incrementBandwidthUsedInLastSecond(100000);
  HTTPRequest::measureBandwidthUsage();
  EXPECT_FALSE(HTTPRequest::throttleResumeTime());
}

// An inner stream that records what it was asked for and answers at most `limit` bytes.
class RecordingStream : public net::InputStream {
 public:
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    asked.push_back(maxLength);
    std::size_t n = std::min(maxLength, limit);
    std::fill(buffer, buffer + n, 'r');
    return static_cast<long>(n);
  }
  std::vector<std::size_t> asked;
  std::size_t limit = 1 << 20;
};

TEST_F(Throttling, MeteredStreamCountsWhatWasReadAndShrinksReadsToTheBudget) {
  auto inner = std::make_shared<RecordingStream>();
  auto request = HTTPRequest::requestWithURL(URL::make("http://127.0.0.1:1/"));
  auto stream = std::make_shared<HTTPInputStream>(inner, request);
  std::vector<std::uint8_t> buffer(32768);
  HTTPRequest::measureBandwidthUsage();
  EXPECT_EQ(stream->read(buffer.data(), 32768), 32768);
  EXPECT_EQ(HTTPRequest::bandwidthUsedInLastSecond(), 32768u);
  inner->limit = 100;  // a short read counts what came, not what was asked
  EXPECT_EQ(stream->read(buffer.data(), 32768), 100);
  EXPECT_EQ(HTTPRequest::bandwidthUsedInLastSecond(), 32868u);

  later(2);
  HTTPRequest::measureBandwidthUsage();
  HTTPRequest::setMaxBandwidthPerSecond(14800);
  HTTPRequest::incrementBandwidthUsedInLastSecond(13800);
  inner->limit = 1 << 20;
  stream->read(buffer.data(), 32768);
  HTTPRequest::incrementBandwidthUsedInLastSecond(5000);
  stream->read(buffer.data(), 32768);
  EXPECT_EQ(inner->asked, (std::vector<std::size_t>{32768, 32768, 1000, 1}));
}

TEST_F(Throttling, MeteredStreamKeepsReadingAfterItsRequestIsGone) {
  auto inner = std::make_shared<RecordingStream>();
  auto request = HTTPRequest::requestWithURL(URL::make("http://127.0.0.1:1/"));
  auto stream = std::make_shared<HTTPInputStream>(inner, request);
  HTTPRequest::setMaxBandwidthPerSecond(14800);
  request.reset();
  std::vector<std::uint8_t> buffer(100);
  EXPECT_EQ(stream->read(buffer.data(), 100), 100);
}

// Real time: a throttled download cannot finish faster than its limit allows (a slow machine
// only makes it slower, so the bound holds anywhere).
TEST(ThrottledDownload, StaysBelowTheLimit) {
  HTTPRequest::resetBandwidthState();
  testing::FaultServer server;
  ASSERT_TRUE(server.start());
  HTTPRequest::setMaxBandwidthPerSecond(100000);
  auto request = HTTPRequest::requestWithURL(URL::make(server.url("/big/300000")));
  request->setTimeOutSeconds(30);
  auto started = Clock::current()->monotonic();
  request->startSynchronous();
  double elapsed = Clock::current()->monotonic() - started;
  HTTPRequest::resetBandwidthState();
  ASSERT_FALSE(request->error()) << request->error()->description();
  EXPECT_EQ(request->responseData()->length(), 300000u);
  EXPECT_GE(elapsed, 1.5);
}

// With the largest limit a download runs at full speed, and a silent server still meets the
// time-out.
TEST(ThrottledDownload, TheLargestLimitNeitherStallsADownloadNorStopsTheTimeOut) {
  HTTPRequest::resetBandwidthState();
  testing::FaultServer server;
  ASSERT_TRUE(server.start());
  HTTPRequest::setMaxBandwidthPerSecond(std::numeric_limits<unsigned long>::max());
  auto download = HTTPRequest::requestWithURL(URL::make(server.url("/big/300000")));
  download->setTimeOutSeconds(30);
  auto downloaded = testing::recordOutcome(download);
  download->startAsynchronous();
  bool finished = testing::waitForOutcome(downloaded, 60);

  auto silent = HTTPRequest::requestWithURL(URL::make(server.url("/stall-body")));
  silent->setTimeOutSeconds(1);
  auto timedOut = testing::recordOutcome(silent);
  silent->startAsynchronous();
  bool ended = testing::waitForOutcome(timedOut, 60);
  HTTPRequest::resetBandwidthState();
  ASSERT_TRUE(finished);
  ASSERT_FALSE(download->error()) << download->error()->description();
  EXPECT_EQ(download->responseData()->length(), 300000u);
  ASSERT_TRUE(ended);
  ASSERT_TRUE(silent->error());
  EXPECT_EQ(silent->error()->code(), RequestErrorTimedOut);
}

}  // namespace
}  // namespace zv
