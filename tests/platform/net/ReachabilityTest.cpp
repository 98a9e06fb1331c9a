#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/net/ReachabilityTarget.h"
#include "platform/runloop/RunLoopPump.h"

namespace zv::net {
namespace {

class ReachabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = std::make_shared<FakeReachabilityProvider>(kReachabilityFlagReachable);
    ReachabilityProvider::install(fake);
  }
  void TearDown() override { ReachabilityProvider::install(nullptr); }
  std::shared_ptr<FakeReachabilityProvider> fake;
};

sockaddr_in address(const char* text) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  inet_pton(AF_INET, text, &result.sin_addr);
  return result;
}

TEST_F(ReachabilityTest, ChangesArriveOnTheScheduledLoop) {
  auto target = ReachabilityTarget::withHostName("example.test");
  ASSERT_TRUE(target);
  EXPECT_EQ(target->flags(), kReachabilityFlagReachable);
  std::vector<std::uint32_t> seen;
  std::thread::id callbackThread;
  target->setCallback([&](std::uint32_t flags) {
    seen.push_back(flags);
    callbackThread = std::this_thread::get_id();
  });
  ASSERT_TRUE(target->scheduleInRunLoop(RunLoop::current(), kDefaultRunLoopMode));

  std::thread changer([&] { fake->setFlagsForHost("example.test", kReachabilityFlagReachable | kReachabilityFlagIsWWAN); });
  changer.join();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !seen.empty(); }, 5));
  EXPECT_EQ(seen.front(), kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
  EXPECT_EQ(callbackThread, std::this_thread::get_id());

  // Notifications that change nothing for this target are not passed on.
  fake->setFlagsForHost("other.test", 0);
  pumpRunLoopFor(0.05);
  EXPECT_EQ(seen.size(), 1u);

  fake->setFlagsForHost("example.test", std::nullopt);  // unreadable reads as no flags
  ASSERT_TRUE(pumpRunLoopUntil([&] { return seen.size() == 2; }, 5));
  EXPECT_EQ(seen.back(), 0u);
  EXPECT_TRUE(target->unscheduleFromRunLoop(RunLoop::current(), kDefaultRunLoopMode));
}

TEST_F(ReachabilityTest, NothingIsDeliveredAfterUnschedulingFromAnotherThread) {
  auto target = ReachabilityTarget::withAddress(address("0.0.0.0"));
  std::atomic<int> calls{0};
  target->setCallback([&](std::uint32_t) { ++calls; });
  target->scheduleInRunLoop(RunLoop::current(), kDefaultRunLoopMode);
  fake->setDefaultFlags(0);
  // Unscheduled from another thread, before the loop had a chance to deliver.
  auto loop = RunLoop::current();
  std::thread stopper([&] { target->unscheduleFromRunLoop(loop, kDefaultRunLoopMode); });
  stopper.join();
  fake->setDefaultFlags(kReachabilityFlagReachable);
  pumpRunLoopFor(0.1);
  EXPECT_EQ(calls.load(), 0);
}

TEST_F(ReachabilityTest, ADestroyedTargetIsNeverCalledBack) {
  int calls = 0;
  {
    auto target = ReachabilityTarget::withHostName("gone.test");
    target->setCallback([&](std::uint32_t) { ++calls; });
    target->scheduleInRunLoop(RunLoop::current(), kDefaultRunLoopMode);
    fake->setFlagsForHost("gone.test", 0);  // signalled, not yet delivered
  }
  pumpRunLoopFor(0.1);
  EXPECT_EQ(calls, 0);
}

TEST_F(ReachabilityTest, UnschedulingWaitsForARunningCallback) {
  auto target = ReachabilityTarget::withHostName("slow.test");
  std::atomic<bool> inside{false}, finished{false};
  target->setCallback([&](std::uint32_t) {
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    finished = true;
  });
  // The target lives on a loop of its own thread.
  std::atomic<bool> stop{false}, scheduled{false};
  std::thread loopThread([&] {
    target->scheduleInRunLoop(RunLoop::current(), kDefaultRunLoopMode);
    scheduled = true;
    while (!stop) RunLoop::current()->runMode(kDefaultRunLoopMode, 0.05);
  });
  while (!scheduled) std::this_thread::yield();
  fake->setFlagsForHost("slow.test", 0);
  while (!inside) std::this_thread::yield();
  target->unscheduleFromRunLoop(nullptr, kDefaultRunLoopMode);  // wrong loop: refused at once
  target = nullptr;  // the destructor waits for the running call
  EXPECT_TRUE(finished.load());
  stop = true;
  loopThread.join();
}

TEST(SystemReachabilityTest, LoopbackIsLocalAndDirect) {
  auto provider = ReachabilityProvider::makeSystemProvider();
  ReachabilityQuery query;
  inet_pton(AF_INET, "127.0.0.1", &query.address);
  auto flags = provider->flagsFor(query);
  ASSERT_TRUE(flags);
  EXPECT_TRUE(*flags & kReachabilityFlagReachable);
  EXPECT_TRUE(*flags & kReachabilityFlagIsLocalAddress);
  EXPECT_FALSE(*flags & kReachabilityFlagIsWWAN);
  ReachabilityQuery named;
  named.hostName = "localhost";  // from the hosts file, no resolver traffic
  auto namedFlags = provider->flagsFor(named);
  ASSERT_TRUE(namedFlags);
  EXPECT_TRUE(*namedFlags & kReachabilityFlagReachable);
}

}  // namespace
}  // namespace zv::net

namespace zv::net {
namespace {

// The internet check in a network of its own (a child process in a new network namespace, with
// only the loopback interface up): a default route of either family makes the internet reachable.
// Skipped where namespaces or the "ip" tool are not available.
TEST(SystemReachabilityTest, TheInternetIsReachableOverADefaultRouteOfEitherFamily) {
  struct Case {
    const char* routes;
    bool reachable;
  } cases[] = {
      {"true", false},
      {"ip -6 route add default dev lo", true},  // an IPv6-only network
      {"ip -4 route add default dev lo", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.routes);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::unshare(CLONE_NEWNET) != 0) ::_exit(77);
      std::string setup = std::string("ip link set lo up && ") + c.routes + " 2>/dev/null";
      if (std::system(setup.c_str()) != 0) ::_exit(77);
      // The check starts threads: it runs in a program of its own, not in this forked copy.
      ::execl(ZV_REACHABILITY_CHILD, ZV_REACHABILITY_CHILD, static_cast<char*>(nullptr));
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace or no ip tool here";
    EXPECT_EQ(WEXITSTATUS(status), c.reachable ? 0 : 1);
  }
}

}  // namespace
}  // namespace zv::net
