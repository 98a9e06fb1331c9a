#pragma once
// A plain-HTTP sink on 127.0.0.1 for large uploads: each connection sends one request with a
// "Content-Length" body; the server reads and counts the body bytes (storing none, so bodies of
// any size cost no memory), checks a running checksum of them, and answers 200 with the count as
// text. It serves any number of connections, one after another, on its own thread.
//
// Threads: the server runs on its own thread; the accessors are safe from any thread.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace zv::testing {

class CountingHTTPServer {
 public:
  CountingHTTPServer() = default;
  ~CountingHTTPServer();
  CountingHTTPServer(const CountingHTTPServer&) = delete;
  CountingHTTPServer& operator=(const CountingHTTPServer&) = delete;

  bool start();
  void stop();
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/upload"; }
  // Body bytes of the last complete request, and their byte sum modulo 2^64.
  std::uint64_t lastBodyBytes() const { return lastBytes_.load(); }
  std::uint64_t lastBodySum() const { return lastSum_.load(); }
  int requestsServed() const { return served_.load(); }
  // The "Content-Length" of the request now being read (or the last one), and its body bytes read so far.
  std::uint64_t announcedBodyBytes() const { return announced_.load(); }
  std::uint64_t bodyBytesSoFar() const { return soFar_.load(); }
  // Stops reading a body after this many bytes (until the server stops), so that a client with a
  // huge announced body is held after a bounded amount of work. Call before start.
  void setReadLimit(std::uint64_t bytes) { readLimit_ = bytes; }

 private:
  void serve();

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> lastBytes_{0};
  std::atomic<std::uint64_t> lastSum_{0};
  std::atomic<int> served_{0};
  std::atomic<std::uint64_t> announced_{0};
  std::atomic<std::uint64_t> soFar_{0};
  std::uint64_t readLimit_ = UINT64_MAX;
  std::thread thread_;
};

}  // namespace zv::testing
