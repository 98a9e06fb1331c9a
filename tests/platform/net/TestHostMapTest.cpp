// The test host map: real https host names reach a stand-in on loopback with verification on.
#include <gtest/gtest.h>

#include "StreamTestSupport.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/NetErrors.h"
#include "platform/net/URLConnection.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/net/FaultServer.h"

namespace zv::net {
namespace {

using testing::makeGet;
using testing::runStream;
using zv::testing::FaultServer;
using zv::testing::TestCertificateAuthority;

constexpr const char* kHost = "service.example.com";

class TestHostMapTest : public ::testing::Test {
 protected:
  void SetUp() override { ApplicationEnvironment::shared().reset(); }
  void TearDown() override {
    ApplicationEnvironment::shared().reset();
    EXPECT_EQ(openHTTPConnectionCount(), 0u);
  }
  TestCertificateAuthority authority;
};

TEST_F(TestHostMapTest, MapIsEmptyByDefaultAndMatchesHostsWithoutCase) {
  auto& environment = ApplicationEnvironment::shared();
  EXPECT_FALSE(environment.testLoopbackPort(kHost));
  EXPECT_FALSE(environment.extraTrustAnchor());
  environment.setTestHostMap({{"Service.Example.COM", 4321}});
  EXPECT_EQ(environment.testLoopbackPort("service.example.com"), 4321);
  EXPECT_EQ(environment.testLoopbackPort("SERVICE.example.com"), 4321);
  EXPECT_FALSE(environment.testLoopbackPort("example.com"));
  environment.setExtraTrustAnchor("pem");
  environment.reset();
  EXPECT_FALSE(environment.testLoopbackPort(kHost));
  EXPECT_FALSE(environment.extraTrustAnchor());
}

TEST_F(TestHostMapTest, HttpsURLOfARealHostReachesTheLoopbackServerWithVerificationOn) {
  FaultServer server(authority.issueForHosts({kHost}));
  ASSERT_TRUE(server.start());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{kHost, static_cast<std::uint16_t>(server.port())}});
  environment.setExtraTrustAnchor(authority.certificatePEM());

  auto outcome = runStream(makeGet(std::string("https://") + kHost + "/ok"));
  ASSERT_EQ(outcome.errorEvents, 0) << outcome.error->description();
  EXPECT_EQ(outcome.head->statusCode(), 200);
  EXPECT_EQ(outcome.body, "hello");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].header("Host"), kHost);

  // URL connections go the same way.
  Ref<URLResponse> response;
  Ref<Error> error;
  auto body = URLConnection::sendSynchronousRequest(
      URLRequest::requestWithURL(URL::make(std::string("https://") + kHost + "/echo")), &response, &error);
  ASSERT_TRUE(body) << error->description();
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(TestHostMapTest, CertificateIsStillCheckedAgainstTheRealHost) {
  // Without the anchor the test CA is not trusted.
  FaultServer server(authority.issueForHosts({kHost}));
  ASSERT_TRUE(server.start());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{kHost, static_cast<std::uint16_t>(server.port())}});
  auto outcome = runStream(makeGet(std::string("https://") + kHost + "/ok"));
  ASSERT_EQ(outcome.errorEvents, 1);
  EXPECT_TRUE(isTLSError(*outcome.error)) << outcome.error->description();

  // Trusted, but the certificate names another host.
  FaultServer impostor(authority.issueForHosts({"other.example.org"}));
  ASSERT_TRUE(impostor.start());
  environment.setTestHostMap({{kHost, static_cast<std::uint16_t>(impostor.port())}});
  environment.setExtraTrustAnchor(authority.certificatePEM());
  outcome = runStream(makeGet(std::string("https://") + kHost + "/ok"));
  ASSERT_EQ(outcome.errorEvents, 1);
  EXPECT_TRUE(isTLSError(*outcome.error)) << outcome.error->description();
  EXPECT_TRUE(impostor.requests().empty());
}

TEST_F(TestHostMapTest, PlainHttpKeepsTheHostAndPortOfTheURLInTheHostField) {
  FaultServer server;
  ASSERT_TRUE(server.start());
  ApplicationEnvironment::shared().setTestHostMap({{kHost, static_cast<std::uint16_t>(server.port())}});
  auto outcome = runStream(makeGet(std::string("http://") + kHost + ":8080/ok"));
  ASSERT_EQ(outcome.errorEvents, 0) << outcome.error->description();
  EXPECT_EQ(outcome.body, "hello");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].header("Host"), std::string(kHost) + ":8080");
}

}  // namespace
}  // namespace zv::net
