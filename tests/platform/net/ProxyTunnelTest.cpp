// SOCKS 4a (no packaged server speaks it, so a small relay lives here) and connect time-outs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "StreamTestSupport.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/NetErrors.h"
#include "support/net/FaultServer.h"

namespace zv::net {
namespace {

using testing::makeGet;
using testing::runStream;

// Accepts one SOCKS 4a client, checks its request and relays it to `targetPort` on loopback.
class Socks4Relay {
 public:
  explicit Socks4Relay(int targetPort) : targetPort_(targetPort) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(listen_, 1);
    thread_ = std::thread([this] { serve(); });
  }
  ~Socks4Relay() {
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }
  int port() const { return port_; }
  std::string requestedHost() const { return host_; }
  int requestedPort() const { return requestedPort_; }

 private:
  void serve() {
    int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    std::string request;
    char byte;
    int nuls = 0;
    while (nuls < 2 && ::recv(client, &byte, 1, 0) == 1) {
      request.push_back(byte);
      if (request.size() > 8 && byte == '\0') ++nuls;
    }
    if (request.size() >= 9 && request[0] == 4 && request[1] == 1) {
      requestedPort_ = (static_cast<unsigned char>(request[2]) << 8) | static_cast<unsigned char>(request[3]);
      auto userEnd = request.find('\0', 8);
      host_ = request.substr(userEnd + 1, request.size() - userEnd - 2);
    }
    int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(targetPort_));
    ::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const char granted[8] = {0, 0x5a, 0, 0, 0, 0, 0, 0};
    ::send(client, granted, sizeof granted, MSG_NOSIGNAL);
    char buffer[16384];
    for (;;) {
      pollfd fds[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
      if (::poll(fds, 2, 5000) <= 0) break;
      int from = fds[0].revents ? client : upstream;
      int to = from == client ? upstream : client;
      ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
      if (n <= 0 || ::send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    ::close(upstream);
    ::close(client);
  }

  int targetPort_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string host_;
  int requestedPort_ = 0;
};

TEST(ProxyTunnelTest, SOCKS4aLetsTheProxyResolveTheName) {
  zv::testing::FaultServer server;
  ASSERT_TRUE(server.start());
  Socks4Relay relay(server.port());
  auto stream = makeGet("http://origin.test:" + std::to_string(server.port()) + "/ok");
  stream->setProxy(ProxyServer::make(kProxyTypeSOCKS, "127.0.0.1", relay.port(), 4));
  auto outcome = runStream(stream);
  EXPECT_EQ(outcome.body, "hello");
  EXPECT_EQ(relay.requestedHost(), "origin.test");
  EXPECT_EQ(relay.requestedPort(), server.port());
}

TEST(ProxyTunnelTest, AStalledHandshakeTimesOut) {
  zv::testing::FaultServer plain;  // speaks no TLS: the handshake never completes
  ASSERT_TRUE(plain.start());
  auto stream = makeGet("https://127.0.0.1:" + std::to_string(plain.port()) + "/ok");
  stream->setConnectTimeout(0.3);
  auto started = std::chrono::steady_clock::now();
  auto outcome = runStream(stream);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code(), kURLErrorTimedOut);
  EXPECT_EQ(outcome.errorEvents, 1);
  EXPECT_LT(seconds, 5.0);  // not the 10 s the run would wait without the time-out
  EXPECT_EQ(openHTTPConnectionCount(), 0u);
}

}  // namespace
}  // namespace zv::net
