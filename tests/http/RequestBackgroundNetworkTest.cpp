// What a request tells the system while it runs: the background task that lets it go on after
// the application left the foreground (and its cancellation when that time runs out), and the
// network-activity indicator.
#include <gtest/gtest.h>

#include <chrono>

#include "HTTPTestSupport.h"
#include "http/HTTPRequest.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/BackgroundTasks.h"
#include "platform/system/NetworkActivityIndicator.h"
#include "support/net/FaultServer.h"

namespace zv {
namespace {

using testing::FaultServer;
using testing::recordOutcome;
using testing::waitForOutcome;

class RequestBackgroundNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    tasks().reset();
  }
  void TearDown() override {
    tasks().reset();
    pumpRunLoopFor(0.05);
  }
  static BackgroundTasks& tasks() { return BackgroundTasks::shared(); }
  Ref<HTTPRequest> request(const std::string& path, bool continueInBackground) {
    auto made = HTTPRequest::requestWithURL(URL::make(server.url(path)));
    made->setTimeOutSeconds(30);
    made->setShouldContinueWhenAppEntersBackground(continueInBackground);
    return made;
  }
  FaultServer server;
};

TEST_F(RequestBackgroundNetwork, ARequestThatMayContinueHoldsOneTaskUntilItIsFinished) {
  // A redirect runs a second attempt; the request still holds a single task.
  auto finishing = request("/redirect?to=" + percentEncode(server.url("/ok")), true);
  auto outcome = recordOutcome(finishing);
  tasks().setInBackground(true);
  finishing->startAsynchronous();
  ASSERT_TRUE(waitForOutcome(outcome));
  EXPECT_EQ(outcome->finished, 1);
  EXPECT_EQ(finishing->redirectCount(), 1);
  EXPECT_TRUE(pumpRunLoopUntil([] { return tasks().runningTaskCount() == 0; }, 5));
  tasks().setInBackground(false);

  // One that may not continue asks for no time at all.
  auto plain = request("/stall", false);
  auto plainOutcome = recordOutcome(plain);
  plain->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return server.requests().size() == 3; }, 5));
  EXPECT_EQ(tasks().runningTaskCount(), 0u);
  plain->cancel();
  ASSERT_TRUE(waitForOutcome(plainOutcome));
}

TEST_F(RequestBackgroundNetwork, WhenTheBackgroundTimeRunsOutTheRequestIsCancelled) {
  auto stalled = request("/stall", true);
  auto outcome = recordOutcome(stalled);
  auto other = request("/stall", false);
  auto otherOutcome = recordOutcome(other);
  stalled->startAsynchronous();
  other->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return server.requests().size() == 2; }, 5));
  EXPECT_EQ(tasks().runningTaskCount(), 1u);
  tasks().setInBackground(true);
  tasks().expireBackgroundTasks();
  ASSERT_TRUE(waitForOutcome(outcome));
  EXPECT_EQ(outcome->failed, 1);
  ASSERT_TRUE(stalled->error());
  EXPECT_EQ(stalled->error()->code(), 4);
  EXPECT_EQ(stalled->error()->localizedDescription(), "The request was cancelled");
  EXPECT_TRUE(pumpRunLoopUntil([] { return tasks().runningTaskCount() == 0; }, 5));
  // The request without a task was left alone.
  EXPECT_EQ(otherOutcome->total(), 0);
  EXPECT_FALSE(other->isFinished());
  other->cancel();
  ASSERT_TRUE(waitForOutcome(otherOutcome));
  tasks().setInBackground(false);
}

TEST_F(RequestBackgroundNetwork, TheActivityIndicatorShowsWhileStreamsRunAndHidesHalfASecondLater) {
  auto& indicator = NetworkActivityIndicator::shared();
  auto running = request("/stall", false);
  auto outcome = recordOutcome(running);
  running->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return server.requests().size() == 1; }, 5));
  EXPECT_TRUE(indicator.isVisible());
  EXPECT_TRUE(HTTPRequest::isNetworkInUse());
  running->cancel();
  ASSERT_TRUE(waitForOutcome(outcome));
  EXPECT_TRUE(pumpRunLoopUntil([&] { return !indicator.isVisible(); }, 5));

  // The hide waits half a second on the main loop (it cannot happen before the loop runs).
  HTTPRequest::showNetworkActivityIndicator();
  auto asked = std::chrono::steady_clock::now();
  HTTPRequest::hideNetworkActivityIndicatorAfterDelay();
  EXPECT_TRUE(indicator.isVisible());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !indicator.isVisible(); }, 5));
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count(), 0.45);
}

}  // namespace
}  // namespace zv
