#pragma once
// A scripted HTTP/1.1 server on 127.0.0.1 (plain or TLS) for the failures a real server will not
// produce on demand. Each connection runs on its own thread and may carry several requests; every
// request is recorded. Routes (by path, query ignored):
//   /ok                    200 "hello", keep-alive
//   /echo                  200 with the request body as body
//   /chunked               200, chunked body "chunk one|chunk two|chunk three"
//   /close-delimited       200 without length, "Connection: close", body, then close (with a
//                          close_notify over TLS)
//   /close-delimited-cut   the same, but over TLS the connection ends without a close_notify
//   /interim-flood         "100 Continue" heads back to back (20 MB), then 200 "flooded"
//   /switch-protocols      "101 Switching Protocols" to "x", then close
//   /http10                an HTTP/1.0 answer without keep-alive
//   /keep-alive-max/<m>    200 with "Keep-Alive: timeout=15, max=<m>"
//   /leading-zero-length   "Content-Length: 010" and 10 body bytes
//   /gzip                  a gzip-encoded body of "compressed hello " repeated 50 times
//   /truncated-gzip        correct framing around a gzip stream cut short
//   /interim               "100 Continue" first, then 200 "after interim"
//   /late-body             the head, then 100 ms later the 4-byte body "late"
//   /big/<n>               200 with n bytes of a repeating pattern
//   /stall                 reads the request and never answers
//   /stall-body            announces 100 bytes, sends 10, then stalls
//   /drop-mid-body         announces 1000 bytes, sends 100, then closes
//   /drop-before-answer    closes as soon as the request has arrived
//   /malformed-status      "HTTP/1.1 abc OK"
//   /garbage               bytes that are not HTTP at all
//   /oversized-headers     a 100 KB header field
//   /bad-chunk             a chunk size of "zz"
//   /keepalive-then-drop   answers keep-alive, then drops the connection when the next request on
//                          it arrives (a pooled connection the server let go)
//   /close-after-answer    answers keep-alive and closes right after (the server closes an idle
//                          pooled connection)
//   /auth                  401 with a Basic challenge unless "user:secret" came
//   /set-cookie            sets "a=1; Path=/" and "b=2; Path=/"
//   /cookies               answers the request's Cookie field
//   /redirect?to=<url>     302 to the URL (percent-decoded)
//   /redirect-status/<code>?to=<url>   the same with status <code> (307, 308, ...)
//   anything else          404

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/net/TestCertificates.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace zv::testing {

struct RecordedRequest {
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  int connectionNumber = 0;  // 1 for the first connection accepted
  int indexOnConnection = 0;  // 0 for the first request on its connection
  std::optional<std::string> header(const std::string& name) const;
  std::string path() const;
};

class FaultServer {
 public:
  class Connection {
   public:
    void send(const std::string& bytes);
    // Sends `bytes` in pieces of at most `pieceSize` bytes (over TLS a record each), held back and
    // released together, so that the peer finds all of them waiting at once.
    void sendInPieces(const std::string& bytes, std::size_t pieceSize);
    // Sends `head`, then a body of `fill` bytes in 64 KiB pieces until the peer goes away or
    // `limit` body bytes have gone (counted in `sent`, which the test may read), then closes:
    // a reply that never ends, for bounds that must stop the reader long before.
    void sendEndlessBody(const std::string& head, char fill, std::size_t limit, std::atomic<std::size_t>& sent);
    // Ends the connection; over TLS without a close_notify, as a cut connection would.
    void close();
    // Ends the connection as a well-behaved server does (a close_notify first over TLS).
    void closeCleanly();
    // Blocks until the server stops (a stall).
    void stallUntilStopped();
    bool isClosed() const { return closed_; }

   private:
    friend class FaultServer;
    int fd_ = -1;
    SSL* ssl_ = nullptr;
    bool closed_ = false;
    FaultServer* server_ = nullptr;
  };
  using Handler = std::function<void(const RecordedRequest& request, Connection& connection)>;

  FaultServer();
  // A TLS server presenting `certificate`.
  explicit FaultServer(TestKeyPair certificate);
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  // Adds or replaces a route (before start).
  void route(const std::string& path, Handler handler);
  // TLS servers, before start: ask for a client certificate and refuse the handshake unless one
  // issued by `authorityPEM` comes.
  void requireClientCertificate(const std::string& authorityPEM);
  // TLS servers, before start: speak TLS 1.2 at most (the client certificate is then judged
  // inside the client's handshake, not after it).
  void limitToTLS12();
  bool start();
  void stop();

  int port() const { return port_; }
  // http://127.0.0.1:port/path, or https://localhost:port/path for a TLS server.
  std::string url(const std::string& path) const;
  std::vector<RecordedRequest> requests() const;
  int connectionCount() const { return connections_.load(); }
  int handshakeFailures() const { return handshakeFailures_.load(); }

 private:
  void acceptLoop();
  void serve(int fd, int number);
  bool readRequest(Connection& connection, std::string& buffer, RecordedRequest& request);
  void installDefaultRoutes();

  std::optional<TestKeyPair> certificate_;
  std::string clientAuthorityPEM_;
  bool tls12Only_ = false;
  SSL_CTX* context_ = nullptr;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> handshakeFailures_{0};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<int> openFds_;
  std::vector<RecordedRequest> requests_;
  std::map<std::string, Handler> routes_;
};

// gzip of `text` (zlib), for tests that compare inflated bodies.
std::string gzipText(const std::string& text);

}  // namespace zv::testing
