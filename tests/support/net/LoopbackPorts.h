#pragma once
// Ports on 127.0.0.1 for tests, held by a bound socket that does not listen.
//
// While a port is held, no other socket can bind it (the holder allows no address reuse, and
// Linux lets two sockets share an address only when both allow it), and a connection to it is
// refused at once. So:
// - a server program gets its ports from pickLoopbackPorts(n) (n distinct ports, each picked
//   while the earlier ones are still bound) and releases them just before it starts;
// - a test that needs a refused connection keeps a HeldLoopbackPort for as long as it uses the
//   port, so no neighbour can start listening there meanwhile.
//
// This library needs nothing but the C library, so the tests' child programs link it too.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zv::testing {

class HeldLoopbackPort {
 public:
  // Binds a free port (see setLoopbackPortOfferForTesting); holds nothing, with port() 0, when
  // the system has no socket to give.
  HeldLoopbackPort();
  ~HeldLoopbackPort();
  HeldLoopbackPort(HeldLoopbackPort&& other) noexcept;
  HeldLoopbackPort& operator=(HeldLoopbackPort&& other) noexcept;
  HeldLoopbackPort(const HeldLoopbackPort&) = delete;
  HeldLoopbackPort& operator=(const HeldLoopbackPort&) = delete;

  int port() const { return port_; }
  bool isHeld() const { return fd_ >= 0; }
  // "<scheme>://127.0.0.1:<port><path>", `path` starting with "/".
  std::string url(const std::string& path = "/", const std::string& scheme = "http") const;
  // Lets the port go, for the program that is about to bind it; port() stays.
  void release();

 private:
  int fd_ = -1;
  int port_ = 0;
};

// `count` distinct held ports; empty when one of them could not be bound.
std::vector<HeldLoopbackPort> pickLoopbackPorts(std::size_t count);

// For the tests of this picker: while set, every pick first tries the port `offer` returns (0:
// none), as a kernel that hands out one port again and again would, and takes a port of the
// kernel's choosing only when that one is taken. An empty function clears it.
void setLoopbackPortOfferForTesting(std::function<int()> offer);

}  // namespace zv::testing
