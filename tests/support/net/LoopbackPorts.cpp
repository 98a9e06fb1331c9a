#include "support/net/LoopbackPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <utility>

namespace zv::testing {

namespace {

std::mutex offerMutex;
std::function<int()> portOffer;

int offeredPort() {
  std::lock_guard lock(offerMutex);
  return portOffer ? portOffer() : 0;
}

// A socket bound to 127.0.0.1:port (0: the kernel's choice), without SO_REUSEADDR; -1 when
// that port is taken or no socket could be made.
int bindLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

HeldLoopbackPort::HeldLoopbackPort() {
  if (int offered = offeredPort(); offered > 0) fd_ = bindLoopback(offered);
  if (fd_ < 0) fd_ = bindLoopback(0);
  if (fd_ < 0) return;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    release();
    return;
  }
  port_ = ntohs(address.sin_port);
}

HeldLoopbackPort::~HeldLoopbackPort() { release(); }

HeldLoopbackPort::HeldLoopbackPort(HeldLoopbackPort&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), port_(other.port_) {}

HeldLoopbackPort& HeldLoopbackPort::operator=(HeldLoopbackPort&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    port_ = other.port_;
  }
  return *this;
}

std::string HeldLoopbackPort::url(const std::string& path, const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
}

void HeldLoopbackPort::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::vector<HeldLoopbackPort> pickLoopbackPorts(std::size_t count) {
  // Every earlier pick stays bound while the next is made, so the kernel cannot hand one out twice.
  std::vector<HeldLoopbackPort> ports;
  ports.reserve(count);
  while (ports.size() < count) {
    if (!ports.emplace_back().isHeld()) return {};
  }
  return ports;
}

void setLoopbackPortOfferForTesting(std::function<int()> offer) {
  std::lock_guard lock(offerMutex);
  portOffer = std::move(offer);
}

}  // namespace zv::testing
