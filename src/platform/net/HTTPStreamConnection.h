#pragma once
// One client connection: a non-blocking TCP socket, optionally through an HTTP proxy (CONNECT for
// https) or a SOCKS 4/5 proxy, optionally wrapped in TLS (OpenSSL). Driven by its owner: call
// advanceConnect() until it answers Ready, waiting for the readiness it asks for; then readSome and
// writeSome move bytes without blocking. Internal to the network layer.
//
// Not thread-safe; one owner at a time (streams hand a pooled connection over under the pool's
// lock). SIGPIPE is ignored process-wide the first time a connection is made, since a write to a
// socket the server closed must become EPIPE, not a signal.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <netdb.h>

#include "platform/foundation/Error.h"
#include "platform/net/ProxySettings.h"
#include "platform/net/TLSSettings.h"

typedef struct ssl_st SSL;

namespace zv::net {

// What makes two connections interchangeable for a request.
struct ConnectionKey {
  std::string scheme;  // "http" or "https"
  std::string host;    // lower case
  int port = 0;
  ProxyServer proxy;
  bool validatesCertificateChain = true;
  std::string identityFingerprint;  // empty without a client identity
  // Set from the application environment's test host map: connect to 127.0.0.1 on this port
  // instead of the host's address (0: not mapped).
  int loopbackPort = 0;

  bool operator==(const ConnectionKey& other) const;
  std::string description() const;
};

class HTTPStreamConnection {
 public:
  enum class Progress { Ready, WantRead, WantWrite, Failed };
  static constexpr long kWouldBlock = -2;

  HTTPStreamConnection(ConnectionKey key, TLSSettings tls, std::string proxyAuthorization);
  ~HTTPStreamConnection();
  HTTPStreamConnection(const HTTPStreamConnection&) = delete;
  HTTPStreamConnection& operator=(const HTTPStreamConnection&) = delete;

  // Moves connecting on (resolving, TCP connect, proxy handshake, TLS handshake).
  Progress advanceConnect();
  bool isReady() const { return phase_ == Phase::Ready; }
  // Whether requests go in absolute form (plain http through an HTTP proxy).
  bool usesAbsoluteForm() const;

  // Bytes read (> 0), 0 at the end of the connection, kWouldBlock (then wantsWrite() tells whether
  // TLS needs the socket writable first), or -1 with error() set.
  long readSome(std::uint8_t* buffer, std::size_t length);
  // Bytes written (> 0), kWouldBlock, or -1 with error() set.
  long writeSome(const std::uint8_t* buffer, std::size_t length);
  bool wantsWrite() const { return wantWrite_; }
  // Whether TLS holds decrypted bytes the socket will not signal.
  bool hasBufferedInput() const;
  // After readSome returned 0 over TLS: YES when the peer closed without a close_notify (the data
  // may have been cut short by anyone on the path).
  bool endedWithoutCloseNotify() const { return endedWithoutCloseNotify_; }

  // For an idle pooled connection: NO when the server closed it or sent something unasked.
  bool isIdleAndAlive() const;

  // The descriptor to wait on: the resolver's while the name is being looked up, then the socket.
  int fd() const { return resolver_ ? resolver_->fd() : fd_; }
  // Changes whenever fd() may name a different descriptor (a number can be reused after a close),
  // so owners know to watch the new one.
  std::uint64_t descriptorGeneration() const { return generation_; }
  const ConnectionKey& key() const { return key_; }
  const Ref<Error>& error() const { return error_; }
  // The head of an HTTP proxy's refusal of a tunnel (e.g. 407), so the caller can answer it.
  const std::string& tunnelRefusal() const { return tunnelRefusal_; }
  // Every connection has a number, for logs and tests.
  std::uint64_t serial() const { return serial_; }

  // Connections alive in the process now.
  static std::size_t liveCount();

 public:
  class Resolution {
   public:
    static std::shared_ptr<Resolution> start(const std::string& host, int port);
    int fd() const { return eventFd_; }
    bool isDone() const;
    std::vector<std::vector<std::uint8_t>> takeAddresses();
    // Called by the lookup thread.
    void finish(addrinfo* results);
    // Called by the owner, on its thread, once nobody watches fd() any more: closes it there, so
    // the descriptor never closes under a run loop that is still removing it from its wait set.
    void abandon();

   private:
    int eventFd_ = -1;
    mutable std::mutex mutex_;
    bool done_ = false;
    bool abandoned_ = false;
    std::vector<std::vector<std::uint8_t>> addresses_;
  };

 private:
  enum class Phase { Start, Resolving, Connecting, ProxyWrite, ProxyRead, TLSHandshake, Ready, Failed };
  Progress fail(Ref<Error> error);
  Progress startNextAddress();
  Progress finishTCPConnect();
  Progress beginTunnel();
  Progress sendProxyBytes();
  Progress readProxyReply();
  Progress beginTLS();
  Progress continueTLS();
  Ref<Error> tlsHandshakeError(int sslError);

  ConnectionKey key_;
  TLSSettings tls_;
  std::string proxyAuthorization_;
  Phase phase_ = Phase::Start;
  int fd_ = -1;
  SSL* ssl_ = nullptr;
  bool wantWrite_ = false;
  bool endedWithoutCloseNotify_ = false;
  bool certificateRequested_ = false;  // the server asked for a client certificate
  Ref<Error> error_;
  std::shared_ptr<Resolution> resolver_;
  std::shared_ptr<Resolution> retiredResolver_;  // closed at the next step, after owners moved on
  std::uint64_t generation_ = 0;
  std::vector<std::vector<std::uint8_t>> addresses_;  // sockaddr bytes to try in order
  std::size_t nextAddress_ = 0;
  int lastConnectErrno_ = 0;
  // Proxy handshake.
  enum class Tunnel { None, HTTPConnect, SOCKS5Greeting, SOCKS5Connect, SOCKS4 } tunnel_ = Tunnel::None;
  std::string proxyOut_;
  std::size_t proxyOutSent_ = 0;
  std::string proxyIn_;
  std::string tunnelRefusal_;
  std::uint64_t serial_;
};

}  // namespace zv::net
