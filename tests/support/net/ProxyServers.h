#pragma once
// Proxies for tests, run as child processes on free loopback ports: tinyproxy (HTTP proxy with
// CONNECT) and microsocks (SOCKS 5).

#include <string>

#include "support/TestSupport.h"
#include "support/net/ChildProcess.h"

namespace zv::testing {

class TinyproxyServer {
 public:
  TinyproxyServer() = default;
  ~TinyproxyServer() { stop(); }
  bool start();
  void stop() { process_.stop(); }
  int port() const { return port_; }
  // tinyproxy's log (it names every request it forwarded).
  std::string log() const;

 private:
  TemporaryDirectory folder_;
  ChildProcess process_;
  int port_ = 0;
};

class MicrosocksServer {
 public:
  MicrosocksServer() = default;
  ~MicrosocksServer() { stop(); }
  bool start();
  void stop() { process_.stop(); }
  int port() const { return port_; }
  std::string log() const;

 private:
  TemporaryDirectory folder_;
  ChildProcess process_;
  int port_ = 0;
};

}  // namespace zv::testing
