#include "platform/net/HTTPStreamConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "platform/foundation/ThreadStartRetry.h"
#include "platform/net/NetErrors.h"
#include "platform/net/TLSContext.h"

namespace zv::net {

namespace {

std::atomic<std::size_t> gLiveConnections{0};
std::atomic<std::uint64_t> gNextSerial{1};
// Bytes a TLS session reads from its socket at once (four full records and their framing).
constexpr std::size_t kTLSReadAhead = 4 * (16384 + 256);

void ignoreSigpipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

bool isIPLiteral(const std::string& host) {
  in6_addr address6;
  in_addr address4;
  return inet_pton(AF_INET, host.c_str(), &address4) == 1 || inet_pton(AF_INET6, host.c_str(), &address6) == 1;
}

int defaultPort(const std::string& scheme) { return scheme == "https" ? 443 : 80; }

}  // namespace

// Name resolution runs on a helper thread, so a slow resolver never stalls the run loop that
// drives the connection (and with it every time-out on that loop). The eventfd turns readable
// when the answer is in; the job outlives an abandoned connection until the lookup returns.
std::shared_ptr<HTTPStreamConnection::Resolution> HTTPStreamConnection::Resolution::start(const std::string& host,
                                                                                          int port) {
  auto job = std::make_shared<Resolution>();
  job->eventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (job->eventFd_ < 0) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  addrinfo* results = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &results) == 0 && results) {
    // An address literal needs no resolver.
    job->finish(results);
    return job;
  }
  detachThread([job, host, service] {
    addrinfo lookup{};
    lookup.ai_family = AF_UNSPEC;
    lookup.ai_socktype = SOCK_STREAM;
    lookup.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), service.c_str(), &lookup, &found) != 0) found = nullptr;
    job->finish(found);
  }, "resolver");
  return job;
}

void HTTPStreamConnection::Resolution::abandon() {
  std::lock_guard lock(mutex_);
  if (abandoned_) return;
  abandoned_ = true;
  if (eventFd_ >= 0) ::close(eventFd_);
}

void HTTPStreamConnection::Resolution::finish(addrinfo* results) {
  std::vector<std::vector<std::uint8_t>> addresses;
  for (addrinfo* entry = results; entry; entry = entry->ai_next) {
    auto* bytes = reinterpret_cast<const std::uint8_t*>(entry->ai_addr);
    addresses.emplace_back(bytes, bytes + entry->ai_addrlen);
  }
  if (results) freeaddrinfo(results);
  std::lock_guard lock(mutex_);
  addresses_ = std::move(addresses);
  done_ = true;
  if (!abandoned_) {
    std::uint64_t one = 1;
    (void)!::write(eventFd_, &one, sizeof one);
  }
}

bool HTTPStreamConnection::Resolution::isDone() const {
  std::lock_guard lock(mutex_);
  return done_;
}

std::vector<std::vector<std::uint8_t>> HTTPStreamConnection::Resolution::takeAddresses() {
  std::lock_guard lock(mutex_);
  return std::move(addresses_);
}

bool ConnectionKey::operator==(const ConnectionKey& other) const {
  return scheme == other.scheme && host == other.host && port == other.port && proxy == other.proxy &&
         validatesCertificateChain == other.validatesCertificateChain &&
         identityFingerprint == other.identityFingerprint && loopbackPort == other.loopbackPort;
}

std::string ConnectionKey::description() const {
  std::string text = scheme + "://" + host + ":" + std::to_string(port);
  if (!proxy.isDirect()) text += " via " + proxy.type + " " + proxy.host + ":" + std::to_string(proxy.port);
  return text;
}

HTTPStreamConnection::HTTPStreamConnection(ConnectionKey key, TLSSettings tls, std::string proxyAuthorization)
    : key_(std::move(key)), tls_(std::move(tls)), proxyAuthorization_(std::move(proxyAuthorization)),
      serial_(gNextSerial++) {
  ignoreSigpipeOnce();
  ++gLiveConnections;
}

HTTPStreamConnection::~HTTPStreamConnection() {
  if (resolver_) resolver_->abandon();
  if (retiredResolver_) retiredResolver_->abandon();
  if (ssl_) SSL_free(ssl_);
  if (fd_ >= 0) ::close(fd_);
  --gLiveConnections;
}

std::size_t HTTPStreamConnection::liveCount() { return gLiveConnections.load(); }

bool HTTPStreamConnection::usesAbsoluteForm() const { return key_.proxy.isHTTP() && key_.scheme == "http"; }

HTTPStreamConnection::Progress HTTPStreamConnection::fail(Ref<Error> error) {
  if (!error_) error_ = std::move(error);
  phase_ = Phase::Failed;
  if (resolver_) retiredResolver_ = std::move(resolver_);
  ++generation_;
  if (ssl_) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  return Progress::Failed;
}

HTTPStreamConnection::Progress HTTPStreamConnection::advanceConnect() {
  if (retiredResolver_) {
    // The owner has watched the socket since the last step; the lookup's descriptor can go.
    retiredResolver_->abandon();
    retiredResolver_ = nullptr;
  }
  switch (phase_) {
    case Phase::Start: {
      std::string host = key_.proxy.isDirect() ? key_.host : key_.proxy.host;
      int port = key_.proxy.isDirect() ? (key_.port ? key_.port : defaultPort(key_.scheme)) : key_.proxy.port;
      if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
      if (key_.loopbackPort && key_.proxy.isDirect()) {
        host = "127.0.0.1";
        port = key_.loopbackPort;
      }
      resolver_ = Resolution::start(host, port);
      ++generation_;
      if (!resolver_) return fail(makePOSIXError(EMFILE));
      phase_ = Phase::Resolving;
      [[fallthrough]];
    }
    case Phase::Resolving: {
      if (!resolver_->isDone()) return Progress::WantRead;  // the resolver's descriptor turns readable
      addresses_ = resolver_->takeAddresses();
      retiredResolver_ = std::move(resolver_);
      ++generation_;
      if (addresses_.empty()) {
        return fail(makeURLError(kURLErrorCannotFindHost, "A server with the specified hostname could not be found."));
      }
      return startNextAddress();
    }
    case Phase::Connecting: {
      int socketError = 0;
      socklen_t length = sizeof socketError;
      if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0) socketError = errno;
      if (socketError == EINPROGRESS || socketError == EALREADY) return Progress::WantWrite;
      if (socketError != 0) {
        lastConnectErrno_ = socketError;
        ::close(fd_);
        fd_ = -1;
        return startNextAddress();
      }
      return finishTCPConnect();
    }
    case Phase::ProxyWrite:
      return sendProxyBytes();
    case Phase::ProxyRead:
      return readProxyReply();
    case Phase::TLSHandshake:
      return continueTLS();
    case Phase::Ready:
      return Progress::Ready;
    case Phase::Failed:
      return Progress::Failed;
  }
  return Progress::Failed;
}

HTTPStreamConnection::Progress HTTPStreamConnection::startNextAddress() {
  while (nextAddress_ < addresses_.size()) {
    const auto& bytes = addresses_[nextAddress_++];
    auto* address = reinterpret_cast<const sockaddr*>(bytes.data());
    fd_ = ::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ++generation_;
    if (fd_ < 0) {
      lastConnectErrno_ = errno;
      continue;
    }
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd_, address, static_cast<socklen_t>(bytes.size())) == 0) return finishTCPConnect();
    if (errno == EINPROGRESS) {
      phase_ = Phase::Connecting;
      return Progress::WantWrite;
    }
    lastConnectErrno_ = errno;
    ::close(fd_);
    fd_ = -1;
  }
  return fail(makePOSIXError(lastConnectErrno_ ? lastConnectErrno_ : ECONNREFUSED));
}

HTTPStreamConnection::Progress HTTPStreamConnection::finishTCPConnect() {
  if (key_.proxy.isSOCKS() || (key_.proxy.isHTTP() && key_.scheme == "https")) return beginTunnel();
  if (key_.scheme == "https") return beginTLS();
  phase_ = Phase::Ready;
  return Progress::Ready;
}

HTTPStreamConnection::Progress HTTPStreamConnection::beginTunnel() {
  int port = key_.port ? key_.port : defaultPort(key_.scheme);
  std::string host = key_.host;
  proxyOut_.clear();
  proxyOutSent_ = 0;
  proxyIn_.clear();
  if (key_.proxy.isHTTP()) {
    std::string authority = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    proxyOut_ = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    if (!proxyAuthorization_.empty()) proxyOut_ += "Proxy-Authorization: " + proxyAuthorization_ + "\r\n";
    proxyOut_ += "\r\n";
    tunnel_ = Tunnel::HTTPConnect;
  } else if (key_.proxy.socksVersion == 4) {
    // SOCKS 4a: the proxy resolves the name.
    proxyOut_ = std::string("\x04\x01", 2);
    proxyOut_.push_back(static_cast<char>((port >> 8) & 0xff));
    proxyOut_.push_back(static_cast<char>(port & 0xff));
    proxyOut_ += std::string("\x00\x00\x00\x01", 4);
    proxyOut_.push_back('\0');
    proxyOut_ += host;
    proxyOut_.push_back('\0');
    tunnel_ = Tunnel::SOCKS4;
  } else {
    proxyOut_ = std::string("\x05\x01\x00", 3);
    tunnel_ = Tunnel::SOCKS5Greeting;
  }
  phase_ = Phase::ProxyWrite;
  return sendProxyBytes();
}

HTTPStreamConnection::Progress HTTPStreamConnection::sendProxyBytes() {
  while (proxyOutSent_ < proxyOut_.size()) {
    ssize_t sent = ::send(fd_, proxyOut_.data() + proxyOutSent_, proxyOut_.size() - proxyOutSent_, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return Progress::WantWrite;
      if (errno == EINTR) continue;
      return fail(makePOSIXError(errno));
    }
    proxyOutSent_ += static_cast<std::size_t>(sent);
  }
  phase_ = Phase::ProxyRead;
  return readProxyReply();
}

HTTPStreamConnection::Progress HTTPStreamConnection::readProxyReply() {
  auto proxyError = [this](std::string text) {
    return fail(makeHTTPStreamError(kHTTPStreamProxyFailure, std::move(text)));
  };
  for (;;) {
    // How many bytes the reply needs at least; read no further so nothing of the tunnel is eaten.
    std::size_t need = 0;
    switch (tunnel_) {
      case Tunnel::HTTPConnect: {
        auto end = proxyIn_.find("\r\n\r\n");
        if (end != std::string::npos) {
          int status = 0;
          auto space = proxyIn_.find(' ');
          if (proxyIn_.rfind("HTTP/1.", 0) == 0 && space != std::string::npos) {
            status = std::atoi(proxyIn_.c_str() + space + 1);
          }
          if (status < 200 || status > 299) {
            if (status >= 300) tunnelRefusal_ = proxyIn_.substr(0, end + 4);
            return proxyError("The proxy refused the tunnel (status " + std::to_string(status) + ")");
          }
          return beginTLS();
        }
        if (proxyIn_.size() > 16384) return proxyError("The proxy's answer is too large");
        need = 1;
        break;
      }
      case Tunnel::SOCKS4:
        if (proxyIn_.size() >= 8) {
          if (static_cast<std::uint8_t>(proxyIn_[1]) != 0x5a) return proxyError("The SOCKS proxy refused the connection");
          proxyIn_.clear();
          return key_.scheme == "https" ? beginTLS() : (phase_ = Phase::Ready, Progress::Ready);
        }
        need = 8 - proxyIn_.size();
        break;
      case Tunnel::SOCKS5Greeting:
        if (proxyIn_.size() >= 2) {
          if (proxyIn_[0] != 0x05 || proxyIn_[1] != 0x00) return proxyError("The SOCKS proxy wants an unsupported authentication");
          int port = key_.port ? key_.port : defaultPort(key_.scheme);
          if (key_.host.size() > 255) return proxyError("The host name is too long for SOCKS");
          proxyOut_ = std::string("\x05\x01\x00\x03", 4);
          proxyOut_.push_back(static_cast<char>(key_.host.size()));
          proxyOut_ += key_.host;
          proxyOut_.push_back(static_cast<char>((port >> 8) & 0xff));
          proxyOut_.push_back(static_cast<char>(port & 0xff));
          proxyOutSent_ = 0;
          proxyIn_.clear();
          tunnel_ = Tunnel::SOCKS5Connect;
          phase_ = Phase::ProxyWrite;
          return sendProxyBytes();
        }
        need = 2 - proxyIn_.size();
        break;
      case Tunnel::SOCKS5Connect: {
        if (proxyIn_.size() >= 2 && proxyIn_[1] != 0x00) {
          return proxyError("The SOCKS proxy could not connect (reply " +
                            std::to_string(static_cast<int>(static_cast<std::uint8_t>(proxyIn_[1]))) + ")");
        }
        std::size_t total = 0;
        if (proxyIn_.size() >= 5) {
          switch (proxyIn_[3]) {
            case 0x01: total = 4 + 4 + 2; break;
            case 0x04: total = 4 + 16 + 2; break;
            case 0x03: total = 4 + 1 + static_cast<std::uint8_t>(proxyIn_[4]) + 2; break;
            default: return proxyError("The SOCKS proxy answered an unknown address type");
          }
          if (proxyIn_.size() >= total) {
            proxyIn_.clear();
            return key_.scheme == "https" ? beginTLS() : (phase_ = Phase::Ready, Progress::Ready);
          }
          need = total - proxyIn_.size();
        } else {
          need = 5 - proxyIn_.size();
        }
        break;
      }
      case Tunnel::None:
        return proxyError("No tunnel");
    }
    char buffer[512];
    ssize_t got = ::recv(fd_, buffer, std::min(need, sizeof buffer), 0);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return Progress::WantRead;
      if (errno == EINTR) continue;
      return fail(makePOSIXError(errno));
    }
    if (got == 0) return proxyError("The proxy closed the connection");
    proxyIn_.append(buffer, static_cast<std::size_t>(got));
  }
}

namespace {

// Alerts a server sends when it will not accept the client's certificate (or wanted one).
bool isClientCertificateRefusal(unsigned long detail) {
  if (detail == 0 || ERR_GET_LIB(detail) != ERR_LIB_SSL) return false;
  int reason = ERR_GET_REASON(detail);
  return reason == SSL_R_SSLV3_ALERT_BAD_CERTIFICATE || reason == SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED ||
         reason == SSL_R_TLSV1_ALERT_UNKNOWN_CA || reason == SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN ||
         reason == SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE || reason == SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED ||
         reason == SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED || reason == SSL_R_TLSV1_ALERT_ACCESS_DENIED;
}

// Notes whether the server asked for a client certificate, so an aborted handshake after that
// can be told from other failures.
void watchHandshakeMessages(int writing, int, int contentType, const void* bytes, std::size_t length, SSL*,
                            void* argument) {
  if (writing || contentType != SSL3_RT_HANDSHAKE || length == 0) return;
  if (static_cast<const unsigned char*>(bytes)[0] == SSL3_MT_CERTIFICATE_REQUEST) {
    *static_cast<bool*>(argument) = true;
  }
}

}  // namespace

HTTPStreamConnection::Progress HTTPStreamConnection::beginTLS() {
  Ref<Error> contextError;
  auto context = tlsContextFor(tls_, &contextError);
  if (!context) return fail(contextError);
  ssl_ = SSL_new(context.get());
  if (!ssl_) return fail(makeTLSError(kSSLProtocolError, "No TLS session"));
  SSL_set_fd(ssl_, fd_);
  // Read ahead: one socket read takes what has arrived, several records at a time, instead of a
  // record's header and then its body (two system calls for every 16 KB). The bytes read ahead stay
  // inside the session, where hasBufferedInput() sees them.
  SSL_set_read_ahead(ssl_, 1);
  SSL_set_default_read_buffer_len(ssl_, kTLSReadAhead);
  SSL_set_msg_callback(ssl_, watchHandshakeMessages);
  SSL_set_msg_callback_arg(ssl_, &certificateRequested_);
  std::string peer = tls_.peerName && !tls_.peerName->empty() ? *tls_.peerName : key_.host;
  if (!peer.empty() && !isIPLiteral(peer)) SSL_set_tlsext_host_name(ssl_, peer.c_str());
  if (tls_.validatesCertificateChain) {
    // The chain alone proves nothing about whom we talk to: always check the name too.
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    if (isIPLiteral(peer)) {
      X509_VERIFY_PARAM_set1_ip_asc(param, peer.c_str());
    } else {
      // A name only in the subject's common name does not count (certificates name their hosts
      // in the subject alternative names).
      X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
      SSL_set1_host(ssl_, peer.c_str());
    }
  }
  SSL_set_connect_state(ssl_);
  phase_ = Phase::TLSHandshake;
  return continueTLS();
}

HTTPStreamConnection::Progress HTTPStreamConnection::continueTLS() {
  ERR_clear_error();
  int result = SSL_do_handshake(ssl_);
  if (result == 1) {
    phase_ = Phase::Ready;
    return Progress::Ready;
  }
  int sslError = SSL_get_error(ssl_, result);
  if (sslError == SSL_ERROR_WANT_READ) return Progress::WantRead;
  if (sslError == SSL_ERROR_WANT_WRITE) return Progress::WantWrite;
  return fail(tlsHandshakeError(sslError));
}

Ref<Error> HTTPStreamConnection::tlsHandshakeError(int sslError) {
  const char* problem = "An SSL error has occurred and a secure connection to the server cannot be made.";
  if (tls_.validatesCertificateChain) {
    long verify = SSL_get_verify_result(ssl_);
    switch (verify) {
      case X509_V_OK:
        break;
      case X509_V_ERR_CERT_HAS_EXPIRED:
        ERR_clear_error();
        return makeTLSError(kSSLCertExpired, "The server's certificate has expired.");
      case X509_V_ERR_CERT_NOT_YET_VALID:
        ERR_clear_error();
        return makeTLSError(kSSLCertNotYetValid, "The server's certificate is not yet valid.");
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        ERR_clear_error();
        return makeTLSError(kSSLCertChainInvalid, "The server's certificate is for another host.");
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        ERR_clear_error();
        return makeTLSError(kSSLUnknownRootCert, "The server's certificate was issued by an unknown authority.");
      default:
        ERR_clear_error();
        return makeTLSError(kSSLCertChainInvalid, std::string("The server's certificate is not trusted: ") +
                                                      X509_verify_cert_error_string(verify));
    }
  }
  unsigned long detail = ERR_peek_last_error();
  ERR_clear_error();
  if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN) {
    return makeTLSError(kSSLClosedNoNotify, "The server closed the connection during the TLS handshake.");
  }
  if (isClientCertificateRefusal(detail)) {
    return makeTLSError(kSSLClientCertificateRefused, "The server refused the client certificate.");
  }
  if (detail) {
    int reason = ERR_GET_REASON(detail);
    if (reason == SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE && certificateRequested_ && !tls_.identity) {
      // Before TLS 1.3 a server that insists on a certificate nobody sent can only abort.
      return makeTLSError(kSSLClientCertificateRefused, "The server requires a client certificate.");
    }
    if (reason == SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE) {
      return makeTLSError(kSSLHandshakeFailed, problem);
    }
  }
  return makeTLSError(kSSLProtocolError, problem);
}

long HTTPStreamConnection::readSome(std::uint8_t* buffer, std::size_t length) {
  wantWrite_ = false;
  if (phase_ != Phase::Ready) return -1;
  if (ssl_) {
    ERR_clear_error();
    int got = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(length, 1 << 30)));
    if (got > 0) return got;
    int sslError = SSL_get_error(ssl_, got);
    if (sslError == SSL_ERROR_WANT_READ) return kWouldBlock;
    if (sslError == SSL_ERROR_WANT_WRITE) {
      wantWrite_ = true;
      return kWouldBlock;
    }
    if (sslError == SSL_ERROR_ZERO_RETURN) return 0;
    unsigned long detail = ERR_peek_last_error();
    if (sslError == SSL_ERROR_SYSCALL) {
      int saved = errno;
      ERR_clear_error();
      if (got == 0 || saved == 0) {
        endedWithoutCloseNotify_ = true;
        return 0;
      }
      error_ = makePOSIXError(saved);
      return -1;
    }
    ERR_clear_error();
#ifdef SSL_R_UNEXPECTED_EOF_WHILE_READING
    if (sslError == SSL_ERROR_SSL && ERR_GET_REASON(detail) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      endedWithoutCloseNotify_ = true;
      return 0;
    }
#endif
    // With TLS 1.3 the server judges the client certificate after the client's handshake is over:
    // its refusal arrives as an alert on the first read.
    error_ = isClientCertificateRefusal(detail)
                 ? makeTLSError(kSSLClientCertificateRefused, "The server refused the client certificate.")
                 : makeTLSError(kSSLProtocolError, "The secure connection failed while reading.");
    return -1;
  }
  for (;;) {
    ssize_t got = ::recv(fd_, buffer, length, 0);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    error_ = makePOSIXError(errno);
    return -1;
  }
}

long HTTPStreamConnection::writeSome(const std::uint8_t* buffer, std::size_t length) {
  wantWrite_ = false;
  if (phase_ != Phase::Ready) return -1;
  if (length == 0) return 0;
  if (ssl_) {
    ERR_clear_error();
    int sent = SSL_write(ssl_, buffer, static_cast<int>(std::min<std::size_t>(length, 1 << 30)));
    if (sent > 0) return sent;
    int sslError = SSL_get_error(ssl_, sent);
    if (sslError == SSL_ERROR_WANT_WRITE) {
      wantWrite_ = true;
      return kWouldBlock;
    }
    if (sslError == SSL_ERROR_WANT_READ) return kWouldBlock;
    int saved = errno;
    ERR_clear_error();
    error_ = sslError == SSL_ERROR_SYSCALL && saved ? makePOSIXError(saved)
                                                     : makeTLSError(kSSLProtocolError, "The secure connection failed while writing.");
    return -1;
  }
  for (;;) {
    ssize_t sent = ::send(fd_, buffer, length, MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      wantWrite_ = true;
      return kWouldBlock;
    }
    error_ = makePOSIXError(errno);
    return -1;
  }
}

// SSL_has_pending, not SSL_pending: the latter counts decrypted bytes only, and misses whole
// records read ahead from the socket and not yet decrypted.
bool HTTPStreamConnection::hasBufferedInput() const { return ssl_ && SSL_has_pending(ssl_) == 1; }

bool HTTPStreamConnection::isIdleAndAlive() const {
  if (phase_ != Phase::Ready || fd_ < 0) return false;
  if (hasBufferedInput()) return false;
  char probe;
  ssize_t got = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace zv::net
