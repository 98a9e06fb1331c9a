#include "support/net/FaultServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <chrono>
#include <csignal>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace zv::testing {

namespace {

bool equalsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string answer(int status, const std::string& reason, const std::string& body,
                   const std::vector<std::string>& extraHeaders = {}) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  for (const auto& header : extraHeaders) text += header + "\r\n";
  return text + "\r\n" + body;
}

std::string percentDecodeSimple(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

std::string gzipText(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(compressBound(text.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (equalsNoCase(key, name)) return value;
  }
  return std::nullopt;
}

std::string RecordedRequest::path() const {
  auto query = target.find('?');
  std::string path = query == std::string::npos ? target : target.substr(0, query);
  // Absolute form (through a proxy): keep only the path.
  if (path.rfind("http://", 0) == 0 || path.rfind("https://", 0) == 0) {
    auto slash = path.find('/', path.find("//") + 2);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  return path;
}

void FaultServer::Connection::send(const std::string& bytes) {
  if (closed_) return;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    long n = ssl_ ? SSL_write(ssl_, bytes.data() + sent, static_cast<int>(bytes.size() - sent))
                  : ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      closed_ = true;
      return;
    }
    sent += static_cast<std::size_t>(n);
  }
}

void FaultServer::Connection::sendInPieces(const std::string& bytes, std::size_t pieceSize) {
  int on = 1;
  int off = 0;
  setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
  for (std::size_t offset = 0; offset < bytes.size(); offset += pieceSize) send(bytes.substr(offset, pieceSize));
  setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &off, sizeof off);
}

void FaultServer::Connection::sendEndlessBody(const std::string& head, char fill, std::size_t limit,
                                              std::atomic<std::size_t>& sent) {
  send(head);
  const std::string piece(std::size_t{64} << 10, fill);
  while (!isClosed() && sent < limit) {
    send(piece);
    sent += piece.size();
  }
  close();
}

void FaultServer::Connection::close() {
  if (closed_) return;
  closed_ = true;
  ::shutdown(fd_, SHUT_RDWR);
}

void FaultServer::Connection::closeCleanly() {
  if (closed_) return;
  if (ssl_) SSL_shutdown(ssl_);
  close();
}

void FaultServer::Connection::stallUntilStopped() {
  while (!server_->stopping_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  closed_ = true;
}

FaultServer::FaultServer() { installDefaultRoutes(); }

FaultServer::FaultServer(TestKeyPair certificate) : certificate_(std::move(certificate)) { installDefaultRoutes(); }

FaultServer::~FaultServer() {
  stop();
  if (context_) SSL_CTX_free(context_);
}

void FaultServer::route(const std::string& path, Handler handler) { routes_[path] = std::move(handler); }

void FaultServer::requireClientCertificate(const std::string& authorityPEM) { clientAuthorityPEM_ = authorityPEM; }

void FaultServer::limitToTLS12() { tls12Only_ = true; }

std::string FaultServer::url(const std::string& path) const {
  std::string prefix = certificate_ ? "https://localhost:" : "http://127.0.0.1:";
  return prefix + std::to_string(port_) + (path.starts_with("/") ? "" : "/") + path;
}

std::vector<RecordedRequest> FaultServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FaultServer::start() {
  std::signal(SIGPIPE, SIG_IGN);
  if (certificate_) {
    context_ = SSL_CTX_new(TLS_server_method());
    BIO* certBio = BIO_new_mem_buf(certificate_->certificatePEM.data(), static_cast<int>(certificate_->certificatePEM.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    BIO_free(certBio);
    BIO* keyBio = BIO_new_mem_buf(certificate_->privateKeyPEM.data(), static_cast<int>(certificate_->privateKeyPEM.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    bool ok = cert && key && SSL_CTX_use_certificate(context_, cert) == 1 && SSL_CTX_use_PrivateKey(context_, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) return false;
    if (tls12Only_) SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
    if (!clientAuthorityPEM_.empty()) {
      BIO* authorityBio = BIO_new_mem_buf(clientAuthorityPEM_.data(), static_cast<int>(clientAuthorityPEM_.size()));
      X509* authority = PEM_read_bio_X509(authorityBio, nullptr, nullptr, nullptr);
      BIO_free(authorityBio);
      if (!authority) return false;
      X509_STORE_add_cert(SSL_CTX_get_cert_store(context_), authority);
      X509_free(authority);
      SSL_CTX_set_verify(context_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (::listen(listenFd_, 64) != 0) return false;
  if (pipe2(wakePipe_, O_CLOEXEC) != 0) return false;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

void FaultServer::stop() {
  if (stopping_.exchange(true)) return;
  if (wakePipe_[1] >= 0) (void)!::write(wakePipe_[1], "x", 1);
  if (acceptThread_.joinable()) acceptThread_.join();
  {
    std::lock_guard lock(mutex_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  for (auto& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  if (listenFd_ >= 0) ::close(listenFd_);
  for (int& fd : wakePipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  listenFd_ = -1;
}

void FaultServer::acceptLoop() {
  while (!stopping_.load()) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int number = ++connections_;
    std::lock_guard lock(mutex_);
    openFds_.push_back(fd);
    workers_.emplace_back([this, fd, number] { serve(fd, number); });
  }
}

bool FaultServer::readRequest(Connection& connection, std::string& buffer, RecordedRequest& request) {
  auto readMore = [&]() -> bool {
    char chunk[16384];
    long n = connection.ssl_ ? SSL_read(connection.ssl_, chunk, sizeof chunk) : ::recv(connection.fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
  };
  std::size_t end;
  while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (buffer.size() > (1 << 20) || !readMore()) return false;
  }
  std::string head = buffer.substr(0, end);
  buffer.erase(0, end + 4);
  auto lineEnd = head.find("\r\n");
  std::string requestLine = head.substr(0, lineEnd);
  auto first = requestLine.find(' ');
  auto second = requestLine.find(' ', first + 1);
  if (first == std::string::npos || second == std::string::npos) return false;
  request.method = requestLine.substr(0, first);
  request.target = requestLine.substr(first + 1, second - first - 1);
  request.version = requestLine.substr(second + 1);
  std::size_t position = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (position < head.size()) {
    auto next = head.find("\r\n", position);
    if (next == std::string::npos) next = head.size();
    std::string line = head.substr(position, next - position);
    auto colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      request.headers.emplace_back(line.substr(0, colon), value);
    }
    position = next + 2;
  }
  if (auto length = request.header("Content-Length")) {
    std::size_t size = std::stoul(*length);
    while (buffer.size() < size) {
      if (!readMore()) return false;
    }
    request.body = buffer.substr(0, size);
    buffer.erase(0, size);
  } else if (auto coding = request.header("Transfer-Encoding"); coding && equalsNoCase(*coding, "chunked")) {
    for (;;) {
      std::size_t lineEndPos;
      while ((lineEndPos = buffer.find("\r\n")) == std::string::npos) {
        if (!readMore()) return false;
      }
      std::size_t size = std::stoul(buffer.substr(0, lineEndPos), nullptr, 16);
      buffer.erase(0, lineEndPos + 2);
      while (buffer.size() < size + 2) {
        if (!readMore()) return false;
      }
      request.body += buffer.substr(0, size);
      buffer.erase(0, size + 2);
      if (size == 0) break;
    }
  }
  return true;
}

void FaultServer::serve(int fd, int number) {
  Connection connection;
  connection.fd_ = fd;
  connection.server_ = this;
  if (context_) {
    connection.ssl_ = SSL_new(context_);
    SSL_set_fd(connection.ssl_, fd);
    if (SSL_accept(connection.ssl_) != 1) {
      ++handshakeFailures_;
      ERR_clear_error();
      connection.closed_ = true;
      // Take what the client still sends until it closes: closing with unread bytes would reset
      // the connection, and the reset can overtake the alert that says what went wrong.
      ::shutdown(fd, SHUT_WR);
      char sink[4096];
      while (!stopping_.load()) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 100) < 0) break;
        if (readable.revents != 0 && ::recv(fd, sink, sizeof sink, 0) <= 0) break;
      }
    }
  }
  std::string buffer;
  for (int index = 0; !connection.closed_ && !stopping_.load(); ++index) {
    RecordedRequest request;
    if (!readRequest(connection, buffer, request)) break;
    request.connectionNumber = number;
    request.indexOnConnection = index;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    std::string path = request.path();
    Handler handler;
    auto found = routes_.find(path);
    if (found != routes_.end()) {
      handler = found->second;
    } else {
      for (const auto& [prefix, candidate] : routes_) {
        if (prefix.ends_with("/") && path.rfind(prefix, 0) == 0) handler = candidate;
      }
    }
    if (handler) {
      handler(request, connection);
    } else {
      connection.send(answer(404, "Not Found", "not found\n"));
    }
  }
  if (connection.ssl_) {
    if (!connection.closed_) SSL_shutdown(connection.ssl_);
    SSL_free(connection.ssl_);
  }
  {
    std::lock_guard lock(mutex_);
    std::erase(openFds_, fd);
  }
  ::close(fd);
}

void FaultServer::installDefaultRoutes() {
  route("/ok", [](const RecordedRequest&, Connection& c) { c.send(answer(200, "OK", "hello")); });
  route("/echo", [](const RecordedRequest& r, Connection& c) {
    c.send(answer(200, "OK", r.body, {"Content-Type: application/octet-stream"}));
  });
  route("/chunked", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
           "a\r\nchunk one|\r\n" "a\r\nchunk two|\r\n" "b\r\nchunk three\r\n" "0\r\n\r\n");
  });
  route("/close-delimited", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody until the end");
    c.closeCleanly();
  });
  route("/close-delimited-cut", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody until the end");
    c.close();
  });
  route("/switch-protocols", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\nConnection: Upgrade\r\n\r\n");
    c.close();
  });
  route("/interim-flood", [](const RecordedRequest&, Connection& c) {
    std::string heads;
    for (int i = 0; i < 4096; ++i) heads += "HTTP/1.1 100 Continue\r\n\r\n";
    for (std::size_t sent = 0; sent < 20u * 1024 * 1024 && !c.isClosed(); sent += heads.size()) c.send(heads);
    c.send(answer(200, "OK", "flooded"));
  });
  route("/http10", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    c.close();
  });
  route("/keep-alive-max/", [](const RecordedRequest& r, Connection& c) {
    std::string max = r.path().substr(std::string("/keep-alive-max/").size());
    c.send(answer(200, "OK", "hello", {"Keep-Alive: timeout=15, max=" + max}));
  });
  route("/leading-zero-length", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 010\r\n\r\n0123456789");
  });
  route("/gzip", [](const RecordedRequest&, Connection& c) {
    std::string text;
    for (int i = 0; i < 50; ++i) text += "compressed hello ";
    c.send(answer(200, "OK", gzipText(text), {"Content-Encoding: gzip", "Content-Type: text/plain"}));
  });
  route("/truncated-gzip", [](const RecordedRequest&, Connection& c) {
    std::string text;
    for (int i = 0; i < 500; ++i) text += "line " + std::to_string(i) + " of a body that will be cut\n";
    std::string gz = gzipText(text);
    c.send(answer(200, "OK", gz.substr(0, gz.size() / 2), {"Content-Encoding: gzip", "Content-Type: text/plain"}));
  });
  route("/interim", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 100 Continue\r\n\r\n");
    c.send(answer(200, "OK", "after interim"));
  });
  route("/late-body", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    c.send("late");
  });
  route("/big/", [](const RecordedRequest& r, Connection& c) {
    std::size_t size = std::stoul(r.path().substr(5));
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
    c.send(answer(200, "OK", body));
  });
  route("/stall", [](const RecordedRequest&, Connection& c) { c.stallUntilStopped(); });
  route("/stall-body", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
    c.stallUntilStopped();
  });
  route("/drop-mid-body", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'x'));
    c.close();
  });
  route("/drop-before-answer", [](const RecordedRequest&, Connection& c) { c.close(); });
  route("/malformed-status", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 abc OK\r\nContent-Length: 0\r\n\r\n");
    c.close();
  });
  route("/garbage", [](const RecordedRequest&, Connection& c) {
    c.send("THIS IS NOT HTTP\r\n\r\n");
    c.close();
  });
  route("/oversized-headers", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nX-Huge: " + std::string(100 * 1024, 'h') + "\r\nContent-Length: 0\r\n\r\n");
    c.close();
  });
  route("/bad-chunk", [](const RecordedRequest&, Connection& c) {
    c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nnot a chunk\r\n0\r\n\r\n");
    c.close();
  });
  route("/keepalive-then-drop", [](const RecordedRequest& r, Connection& c) {
    if (r.indexOnConnection == 0) {
      c.send(answer(200, "OK", "first"));
    } else {
      c.close();
    }
  });
  route("/close-after-answer", [](const RecordedRequest&, Connection& c) {
    c.send(answer(200, "OK", "then closed"));
    c.close();
  });
  route("/auth", [](const RecordedRequest& r, Connection& c) {
    // "user:secret"
    if (r.header("Authorization") == std::optional<std::string>("Basic dXNlcjpzZWNyZXQ=")) {
      c.send(answer(200, "OK", "welcome"));
    } else {
      c.send(answer(401, "Unauthorized", "who are you", {"WWW-Authenticate: Basic realm=\"Fault Realm\""}));
    }
  });
  route("/set-cookie", [](const RecordedRequest&, Connection& c) {
    c.send(answer(200, "OK", "cookies set", {"Set-Cookie: a=1; Path=/", "Set-Cookie: b=2; Path=/"}));
  });
  route("/cookies", [](const RecordedRequest& r, Connection& c) {
    c.send(answer(200, "OK", r.header("Cookie").value_or("")));
  });
  route("/redirect", [](const RecordedRequest& r, Connection& c) {
    auto query = r.target.find("?to=");
    std::string to = query == std::string::npos ? "/ok" : percentDecodeSimple(r.target.substr(query + 4));
    c.send(answer(302, "Found", "", {"Location: " + to}));
  });
  route("/redirect-status/", [](const RecordedRequest& r, Connection& c) {
    auto query = r.target.find("?to=");
    std::string to = query == std::string::npos ? "/ok" : percentDecodeSimple(r.target.substr(query + 4));
    int status = std::atoi(r.path().substr(std::string("/redirect-status/").size()).c_str());
    c.send(answer(status, "Moved", "", {"Location: " + to}));
  });
}

}  // namespace zv::testing
