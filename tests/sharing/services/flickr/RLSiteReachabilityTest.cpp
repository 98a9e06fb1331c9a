#include <gtest/gtest.h>

#include <fstream>

#include "platform/net/ProxySettings.h"
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

TEST_F(RLSiteReachabilityTest, AProxyAutoConfigurationScriptIsEvaluatedForTheProbe) {
  // The script sends the probe through a stand-in proxy (it answers the absolute-form request);
  // the site's own name resolves nowhere, so only the script's proxy can reach it.
  FaultServer proxy;
  ASSERT_TRUE(proxy.start());
  const auto script = home.path() / "proxy.pac";
  std::ofstream(script) << "function FindProxyForURL(url, host) { return 'PROXY 127.0.0.1:" << proxy.port()
                        << "'; }";
  net::SystemProxySettings settings;
  settings.autoConfigurationURL = URL::fileURL(script.string());
  net::ProxySettings::setSystemSettings(settings);
  auto checker = RLSiteReachability::make();
  auto delegate = std::make_shared<RecordingSiteDelegate>();
  checker->setDelegate(delegate);
  checker->setSiteURL(URL::make("http://site.invalid/ok"));
  checker->startChecking();
  EXPECT_TRUE(pumpRunLoopUntil([&] { return !delegate->reports.empty(); }, 30.0));
  checker->stopChecking();
  net::ProxySettings::setSystemSettings(std::nullopt);
  EXPECT_EQ(delegate->reports, std::vector<std::string>{kRLSiteReachabilityConnectionTypeWiFi});
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0].target, "http://site.invalid/ok");
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
