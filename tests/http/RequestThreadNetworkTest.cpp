// A request's stream belongs to the thread the request runs on. Ways other threads used to reach
// it: a request that takes over, or expires, a kept-alive connection while the request that used
// it last is still inside its stream's end event on another thread (the old stream must be closed
// there, and its close must leave the socket to the new request), and a cancel sent before a
// synchronous start (it must follow the request to the thread that started it).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "HTTPTestSupport.h"
#include "http/HTTPRequest.h"
#include "http/HTTPRequestErrors.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/runloop/Operation.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/runloop/Thread.h"
#include "support/Hold.h"
#include "support/net/FaultServer.h"
#include "support/net/StreamUseLog.h"

namespace zv {
namespace {

using testing::FaultServer;
using testing::Hold;

class RequestThreadNetwork : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.start()); }
  void TearDown() override { hold.release(); }
  Ref<HTTPRequest> get(const std::string& path) {
    auto request = HTTPRequest::requestWithURL(URL::make(server.url(path)));
    request->setTimeOutSeconds(10);
    return request;
  }
  static std::thread::id runOnOwnThread(const std::function<void()>& body) {
    std::thread::id id;
    auto thread = Thread::create(
        [&] {
          id = std::this_thread::get_id();
          body();
        },
        "request test");
    thread->start();
    thread->join();
    return id;
  }

  // The old request runs on the network thread and stays inside its stream's end event (its
  // operation's completion block runs there) while `startNew` runs a request that takes over its
  // connection; `startNew` returns the thread the new request ran on.
  void takeOverWhileTheOldStreamDelivers(const std::function<std::thread::id(const Ref<HTTPRequest>&)>& startNew) {
    testing::StreamUseLog uses;
    auto old = get("/ok?old");
    auto oldOutcome = testing::recordOutcome(old);
    static_cast<Operation&>(*old).setCompletionBlock([this] { hold.holdHere(); });
    old->startAsynchronous();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return hold.holder().has_value(); }, 20));

    auto taker = get("/ok?new");
    const auto takerThread = startNew(taker);
    hold.release();

    ASSERT_TRUE(testing::waitForOutcome(oldOutcome));
    EXPECT_EQ(oldOutcome->finished, 1);
    ASSERT_FALSE(taker->error()) << taker->error()->description();
    EXPECT_EQ(taker->responseString().value_or(""), "hello");
    ASSERT_TRUE(old->connectionID() && taker->connectionID());
    EXPECT_EQ(*old->connectionID(), *taker->connectionID());

    // The old stream is closed once, on the thread it ran on, after that thread has left it; the
    // new one is used on its own thread only.
    const std::string oldURL = server.url("/ok?old");
    const std::string newURL = server.url("/ok?new");
    ASSERT_TRUE(pumpRunLoopUntil([&] { return uses.count(oldURL, "close") > 0; }, 20));
    EXPECT_EQ(uses.count(oldURL, "close"), 1);
    EXPECT_EQ(uses.usesOffThread(oldURL, *hold.holder()), std::vector<std::string>{});
    EXPECT_EQ(uses.usesOffThread(newURL, takerThread), std::vector<std::string>{});

    // Its close left the socket alone: a third request goes on the same connection.
    auto third = get("/ok?third");
    third->startSynchronous();
    ASSERT_FALSE(third->error()) << third->error()->description();
    EXPECT_EQ(third->connectionID(), old->connectionID());
    const auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(recorded[2].indexOnConnection, 2);
  }

  FaultServer server;
  Hold hold;
};

TEST_F(RequestThreadNetwork, TakingOverFromTheMainThreadClosesTheOldStreamOnItsOwnThread) {
  takeOverWhileTheOldStreamDelivers([](const Ref<HTTPRequest>& taker) {
    taker->startSynchronous();
    return std::this_thread::get_id();
  });
}

TEST_F(RequestThreadNetwork, TakingOverFromAThreadOfTheCallersClosesTheOldStreamOnItsOwnThread) {
  takeOverWhileTheOldStreamDelivers(
      [](const Ref<HTTPRequest>& taker) { return runOnOwnThread([&] { taker->startSynchronous(); }); });
}

TEST_F(RequestThreadNetwork, AnExpiredConnectionIsClosedOnItsOwnThread) {
  testing::StreamUseLog uses;
  auto old = get("/ok?old");
  old->setPersistentConnectionTimeoutSeconds(0);  // its record expires as it goes back to the pool
  auto oldOutcome = testing::recordOutcome(old);
  static_cast<Operation&>(*old).setCompletionBlock([this] { hold.holdHere(); });
  old->startAsynchronous();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return hold.holder().has_value(); }, 20));

  // The next request expires the old record, and closes its stream, before it opens its own.
  auto next = get("/ok?next");
  next->startSynchronous();
  hold.release();
  ASSERT_FALSE(next->error()) << next->error()->description();
  ASSERT_TRUE(testing::waitForOutcome(oldOutcome));
  EXPECT_EQ(oldOutcome->finished, 1);
  EXPECT_NE(next->connectionID(), old->connectionID());
  EXPECT_EQ(server.connectionCount(), 2);
  const std::string oldURL = server.url("/ok?old");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return uses.count(oldURL, "close") > 0; }, 20));
  EXPECT_EQ(uses.usesOffThread(oldURL, *hold.holder()), std::vector<std::string>{});
}

TEST_F(RequestThreadNetwork, AnExpiredConnectionOfAThreadAwayFromItsLoopIsClosedAtOnce) {
  testing::StreamUseLog uses;
  // A thread of the caller's runs a request to its end, then goes on with other work and does not
  // come back to its loop. (Earlier requests of this process may keep connections of their own.)
  const std::size_t connectionsBefore = net::openHTTPConnectionCount();
  auto old = get("/ok?old");
  old->setPersistentConnectionTimeoutSeconds(0);  // its record expires as it goes back to the pool
  auto owner = Thread::create(
      [&] {
        old->startSynchronous();
        hold.holdHere();
      },
      "request test");
  owner->start();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return hold.holder().has_value(); }, 20));
  ASSERT_FALSE(old->error()) << old->error()->description();
  EXPECT_EQ(net::openHTTPConnectionCount(), connectionsBefore + 1);

  // The next request expires the old record and closes its stream: the old socket goes now, not
  // when the owner comes back to its loop.
  auto next = get("/ok?next");
  next->startSynchronous();
  ASSERT_FALSE(next->error()) << next->error()->description();
  EXPECT_NE(next->connectionID(), old->connectionID());
  EXPECT_EQ(server.connectionCount(), 2);
  EXPECT_EQ(net::openHTTPConnectionCount(), connectionsBefore + 1);  // the next one's, kept

  // The rest of the old stream's close ran on its own thread, as that thread ended.
  hold.release();
  owner->join();
  const std::string oldURL = server.url("/ok?old");
  EXPECT_EQ(uses.count(oldURL, "close"), 1);
  EXPECT_EQ(uses.usesOffThread(oldURL, *hold.holder()), std::vector<std::string>{});
}

TEST_F(RequestThreadNetwork, ACancelSentBeforeASynchronousStartReachesTheThreadThatStartedIt) {
  testing::StreamUseLog uses;
  auto request = get("/stall");
  // The cancel goes to the network thread (the request has no thread yet), which is busy until the
  // request runs on a thread of its own.
  performOnThread(HTTPRequest::threadForRequest(request), [this] { hold.holdHere(); }, false);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return hold.holder().has_value(); }, 20));
  request->cancel();
  const auto requestThread = runOnOwnThread([&] {
    // Lets the network thread go once the request is under way here.
    auto watcher = Thread::create(
        [&] {
          for (int i = 0; i < 2000 && server.requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
          hold.release();
        },
        "request test watcher");
    watcher->start();
    request->startSynchronous();
    watcher->join();
  });
  ASSERT_TRUE(request->error());
  EXPECT_EQ(request->error()->code(), RequestErrorCancelled);
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string url = server.url("/stall");
  EXPECT_EQ(uses.count(url, "close"), 1);
  EXPECT_EQ(uses.usesOffThread(url, requestThread), std::vector<std::string>{});
}

}  // namespace
}  // namespace zv
