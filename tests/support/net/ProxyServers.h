#pragma once
// Proxies for tests, run as child processes on free loopback ports: tinyproxy (HTTP proxy with
// CONNECT) and microsocks (SOCKS 5).

#include <functional>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "support/net/ChildProcess.h"
#include "support/net/LoopbackPorts.h"

namespace zv::testing {

// A server program on a loopback port of its own, with its files in a temporary folder.
class LoopbackChildServer {
 public:
  virtual ~LoopbackChildServer() { stop(); }
  void stop() { process_.stop(); }
  int port() const { return port_; }
  // What the server logged.
  std::string log() const;

 protected:
  // Picks ports until the program started by `launch` (on port_) owns its port. `launch` writes
  // the program's files and returns its arguments.
  bool startOnFreePort(const std::function<std::vector<std::string>()>& launch);
  TemporaryDirectory folder_;
  ChildProcess process_;
  int port_ = 0;
};

class TinyproxyServer : public LoopbackChildServer {
 public:
  TinyproxyServer() = default;
  // A proxy that wants Basic credentials (answers 407 without them).
  TinyproxyServer(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {}
  bool start();

 private:
  std::string user_;
  std::string password_;
};

class MicrosocksServer : public LoopbackChildServer {
 public:
  bool start();
};

}  // namespace zv::testing
