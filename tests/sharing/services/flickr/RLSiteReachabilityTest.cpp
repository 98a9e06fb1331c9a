#include <gtest/gtest.h>

#include "platform/net/ReachabilityProvider.h"
#include "platform/runloop/RunLoopPump.h"
#include "sharing/services/flickr/RLSiteReachability.h"
#include "support/net/FaultServer.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

class RecordingSiteDelegate : public Object, public RLSiteReachabilityDelegate {
 public:
  void reachabilitySiteIsAvailableOverConnectionType(RLSiteReachability&, const Ref<URL>&,
                                                     const std::string& type) override {
    reports.push_back(type);
  }
  void reachabilitySiteIsNotAvailable(RLSiteReachability&, const Ref<URL>&) override { reports.push_back("down"); }
  bool respondsToSelector(std::string_view) const override { return true; }
  std::vector<std::string> reports;
};

class RLSiteReachabilityTest : public SharingTest {
 protected:
  RLSiteReachabilityTest() : SharingTest(/*manualClock=*/false) {}
};

TEST_F(RLSiteReachabilityTest, TheSiteIsProbedAndEachChangeReportedOnce) {
  FaultServer server;
  ASSERT_TRUE(server.start());
  auto checker = RLSiteReachability::make();
  auto delegate = std::make_shared<RecordingSiteDelegate>();
  checker->setDelegate(delegate);
  checker->setSiteURL(URL::make(server.url("/ok")));
  checker->startChecking();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !delegate->reports.empty(); }, 30.0));
  EXPECT_EQ(delegate->reports, std::vector<std::string>{kRLSiteReachabilityConnectionTypeWiFi});
  EXPECT_EQ(server.requests().back().method, "HEAD");

  checker->handleFlags(net::kReachabilityFlagReachable);  // the same type again: no report
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !checker->siteRequest()->isRunning(); }, 30.0));
  EXPECT_EQ(delegate->reports.size(), 1u);

  setOffline(true);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return delegate->reports.size() == 2; }, 30.0));
  checker->handleFlags(0);
  EXPECT_EQ(delegate->reports, (std::vector<std::string>{kRLSiteReachabilityConnectionTypeWiFi, "down"}));
  checker->stopChecking();
  EXPECT_FALSE(checker->isChecking());
}

TEST_F(RLSiteReachabilityTest, WithoutASiteTheFlagsDecide) {
  auto checker = RLSiteReachability::make();
  auto delegate = std::make_shared<RecordingSiteDelegate>();
  checker->setDelegate(delegate);
  checker->setSiteURL(nullptr);
  checker->startChecking();
  checker->handleFlags(net::kReachabilityFlagReachable | net::kReachabilityFlagIsWWAN);
  checker->handleFlags(net::kReachabilityFlagReachable | net::kReachabilityFlagConnectionRequired);
  EXPECT_EQ(delegate->reports,
            (std::vector<std::string>{kRLSiteReachabilityConnectionTypeWiFi, kRLSiteReachabilityConnectionTypeWWAN, "down"}));
  EXPECT_TRUE(RLSiteReachability::networkConnectivityExists());
  setOffline(true);
  EXPECT_FALSE(RLSiteReachability::networkConnectivityExists());
}

}  // namespace
}  // namespace zv::testing
