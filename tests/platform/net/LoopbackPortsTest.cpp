// The ports test servers are started on: distinct and held until the server starts, and a held
// port refuses connections and cannot be bound by anyone else. The picker is made to offer one
// port again and again (as the kernel may), so nothing here depends on chance.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <set>

#include "StreamTestSupport.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/TLSSettings.h"
#include "support/net/LoopbackPorts.h"
#include "support/net/NginxServer.h"

namespace zv::net {
namespace {

using zv::testing::HeldLoopbackPort;

// Picks first try one port that was free a moment ago, for as long as the test runs: every pick,
// or only the first, third, fifth... (so the first and the third could meet).
class RepeatedPortOffer {
 public:
  explicit RepeatedPortOffer(bool everyOtherPick = false) {
    HeldLoopbackPort probe;
    port_ = probe.port();
    probe.release();
    zv::testing::setLoopbackPortOfferForTesting([this, everyOtherPick] {
      return everyOtherPick && picks_++ % 2 == 1 ? 0 : (++offers_, port_);
    });
  }
  ~RepeatedPortOffer() { zv::testing::setLoopbackPortOfferForTesting({}); }
  RepeatedPortOffer(const RepeatedPortOffer&) = delete;
  RepeatedPortOffer& operator=(const RepeatedPortOffer&) = delete;
  // How many picks were offered the port (picks ask under the picker's lock).
  int offers() const { return offers_; }

 private:
  int port_ = 0;
  int picks_ = 0;
  std::atomic<int> offers_{0};
};

// errno of a connect to 127.0.0.1:port, 0 when it connected.
int connectError(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  int error = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

// errno of binding and listening on 127.0.0.1:port with SO_REUSEADDR, as servers do; 0 when it
// worked.
int listenError(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  int error = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0) error = errno;
  ::close(fd);
  return error;
}

TEST(LoopbackPortsTest, AHeldPortRefusesConnectionsAndNobodyElseCanListenThere) {
  HeldLoopbackPort held;
  ASSERT_TRUE(held.isHeld());
  ASSERT_GT(held.port(), 0);
  EXPECT_EQ(held.url("/x"), "http://127.0.0.1:" + std::to_string(held.port()) + "/x");
  EXPECT_EQ(connectError(held.port()), ECONNREFUSED);
  EXPECT_EQ(listenError(held.port()), EADDRINUSE);

  // Released, the port is at once free for the server it was picked for.
  const int port = held.port();
  held.release();
  EXPECT_FALSE(held.isHeld());
  EXPECT_EQ(held.port(), port);
  EXPECT_EQ(listenError(port), 0);
}

TEST(LoopbackPortsTest, PicksAreDistinctWhenThePickerIsOfferedOnePortAgainAndAgain) {
  RepeatedPortOffer offer;
  auto ports = zv::testing::pickLoopbackPorts(4);
  ASSERT_EQ(ports.size(), 4u);
  std::set<int> distinct;
  for (const auto& port : ports) {
    EXPECT_TRUE(port.isHeld());
    distinct.insert(port.port());
  }
  EXPECT_EQ(distinct.size(), 4u);
  EXPECT_EQ(offer.offers(), 4);
}

// nginx refuses two listens of one port in one server, and merges a plain and a TLS listen of one
// port in two servers into one TLS listener (then answers plain requests with 400): each listen
// needs a port of its own.
TEST(LoopbackPortsTest, NginxGetsDistinctPortsAndAnswersPlainAndTLSOnThem) {
  struct Case {
    const char* name;
    zv::testing::NginxOptions options;
    bool everyOtherPick;
  };
  const Case cases[] = {
      {"plain and client certificate, offered to every pick", {.clientCertificatePort = true}, false},
      {"plain, TLS and client certificate, offered to every pick", {.tls = true, .clientCertificatePort = true},
       false},
      {"plain, TLS and client certificate, offered to the first and third pick",
       {.tls = true, .clientCertificatePort = true}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RepeatedPortOffer offer(c.everyOtherPick);
    zv::testing::NginxServer nginx(c.options);
    nginx.addFile("hello.txt", "hello\n");
    if (!nginx.start()) {
      ADD_FAILURE() << "nginx did not start: " << nginx.log();
      continue;
    }
    std::set<int> ports{nginx.port(), nginx.clientCertificatePort()};
    if (c.options.tls) ports.insert(nginx.tlsPort());
    EXPECT_EQ(ports.size(), c.options.tls ? 3u : 2u);
    EXPECT_GE(offer.offers(), 1);
    addTrustedCertificate(Certificate::fromPEM(nginx.authority().certificatePEM()));

    auto plain = testing::runStream(testing::makeGet(nginx.url("/hello.txt")));
    EXPECT_FALSE(plain.error) << plain.error->description();
    EXPECT_EQ(plain.head ? plain.head->statusCode() : 0, 200);
    EXPECT_EQ(plain.body, "hello\n");
    if (c.options.tls) {
      auto secure = testing::runStream(testing::makeGet(nginx.tlsURL("/hello.txt")));
      EXPECT_FALSE(secure.error) << secure.error->description();
      EXPECT_EQ(secure.body, "hello\n");
    }
    auto client = testing::runStream(testing::makeGet(nginx.clientCertificateURL("/")));
    EXPECT_FALSE(client.error) << client.error->description();
    EXPECT_EQ(client.body, "NONE");
    removeAllAddedTrustedCertificates();
  }
}

}  // namespace
}  // namespace zv::net
