#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "http/Reachability.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/system/NotificationCenter.h"

namespace zv {
namespace {

class ReachabilityFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = std::make_shared<net::FakeReachabilityProvider>(net::kReachabilityFlagReachable);
    net::ReachabilityProvider::install(fake);
  }
  void TearDown() override { net::ReachabilityProvider::install(nullptr); }
  std::shared_ptr<net::FakeReachabilityProvider> fake;
};

TEST_F(ReachabilityFixture, FlagMappings) {
  auto internet = Reachability::reachabilityForInternetConnection();
  ASSERT_TRUE(internet);
  struct Case {
    std::uint32_t flags;
    ReachabilityStatus status;
  };
  for (const Case& c : {Case{0x2, ReachabilityStatusWiFi}, Case{0x6, ReachabilityStatusNone},
                        Case{0x2E, ReachabilityStatusWiFi}, Case{0x3E, ReachabilityStatusNone},
                        Case{0x40006, ReachabilityStatusWWAN}, Case{0x40000, ReachabilityStatusNone}}) {
    EXPECT_EQ(internet->networkStatusForFlags(c.flags), c.status) << std::hex << c.flags;
  }
  auto local = Reachability::reachabilityForLocalWiFi();
  ASSERT_TRUE(local);
  EXPECT_TRUE(local->localWiFiRef());
  EXPECT_EQ(local->localWiFiStatusForFlags(0x20002), ReachabilityStatusWiFi);
  EXPECT_EQ(local->localWiFiStatusForFlags(0x2), ReachabilityStatusNone);
  EXPECT_EQ(local->localWiFiStatusForFlags(0x20000), ReachabilityStatusNone);
  EXPECT_FALSE(Reachability::reachabilityWithHostName(""));
}

TEST_F(ReachabilityFixture, CurrentStatusFollowsTheProvider) {
  auto host = Reachability::reachabilityWithHostName("example.test");
  EXPECT_EQ(host->currentReachabilityStatus(), ReachabilityStatusWiFi);
  fake->setFlagsForHost("example.test", 0x40006);
  EXPECT_EQ(host->currentReachabilityStatus(), ReachabilityStatusWWAN);
  EXPECT_TRUE(host->connectionRequired());
  fake->setFlagsForHost("example.test", std::nullopt);
  EXPECT_EQ(host->currentReachabilityStatus(), ReachabilityStatusNone);
  EXPECT_FALSE(host->connectionRequired());
}

TEST_F(ReachabilityFixture, NotifiesUntilStoppedOrReleased) {
  auto center = NotificationCenter::defaultCenter();
  std::atomic<int> posts{0};
  ObjectPtr poster;
  auto token = center->addObserverForName(kReachabilityChangedNotification, nullptr, [&](const Ref<Notification>& n) {
    poster = n->object();
    ++posts;
  });
  auto reachability = Reachability::reachabilityForInternetConnection();
  ASSERT_TRUE(reachability->startNotifier());
  fake->setDefaultFlags(0x40002);
  EXPECT_TRUE(pumpRunLoopUntil([&] { return posts > 0; }, 3));
  EXPECT_EQ(poster, reachability);
  poster = nullptr;

  // Stopped from another thread: nothing more arrives.
  std::thread([&] { reachability->stopNotifier(); }).join();
  int before = posts;
  fake->setDefaultFlags(0x2);
  pumpRunLoopFor(0.2);
  EXPECT_EQ(posts, before);

  // Released while notifying: nothing more arrives, and nothing touches the freed object.
  auto released = Reachability::reachabilityForInternetConnection();
  ASSERT_TRUE(released->startNotifier());
  released.reset();
  before = posts;
  fake->setDefaultFlags(0x40002);
  pumpRunLoopFor(0.2);
  EXPECT_EQ(posts, before);
  center->removeObserver(token);
}

}  // namespace
}  // namespace zv
