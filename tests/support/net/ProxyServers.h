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
  // A proxy that wants Basic credentials (answers 407 without them).
  TinyproxyServer(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {}
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
  std::string user_;
  std::string password_;
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
