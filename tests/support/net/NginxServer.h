#pragma once
// A real web server for tests: nginx run in the foreground as a child process on free loopback
// ports, with its configuration, logs and temporary folders in a temporary directory.
//
// What it serves (under http://127.0.0.1:port() and, with TLS, https://localhost:tlsPort()):
// - static files written with addFile (Range, keep-alive, gzip for text/plain and
//   application/json bodies of 20 bytes or more when asked with "Accept-Encoding: gzip");
// - "/chain/<code>/<n>" for code 301, 302, 303, 307 and n 1 ... 6: answers <code> with Location
//   "/chain/<code>/<n-1>", and "/chain/<code>/0" answers "end of chain";
// - "/cookie/set" sets "session=abc123; Path=/", "/cookie/show" answers the request's Cookie field;
// - "/echo/method", "/echo/user-agent", "/echo/accept-encoding" answer that part of the request;
// - "/protected/" needs Basic authentication as user "user", password "secret";
// - "/close" answers with "Connection: close";
// - caching: files under "/cached/" with "Cache-Control: max-age=60", "Expires", "ETag" and
//   "Last-Modified" (304 to a matching "If-None-Match"); "/nostore/" files with "no-store";
//   "/changing" a new body (max-age=60) on every request; "/vary/" files with "Vary:
//   Accept-Language"; "/vary-star" with "Vary: *"; "/private/" and "/public/" files behind the
//   Basic authentication above, the latter marked "public";
// - with a client-certificate port (clientCertificatePort()): answers the verification result
//   ("SUCCESS" or "NONE") of the client certificate the test CA issued.

#include <filesystem>
#include <memory>
#include <string>

#include "support/TestSupport.h"
#include "support/net/ChildProcess.h"
#include "support/net/LoopbackPorts.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

struct NginxOptions {
  bool tls = false;
  // TLS port that asks for (but does not require) a client certificate signed by the test CA.
  bool clientCertificatePort = false;
  // Pins what the TLS port negotiates (empty: nginx's defaults): its protocol versions as nginx
  // names them ("TLSv1.3", "TLSv1.2 TLSv1.3"), the cipher list for TLS 1.2 and older, and the
  // cipher suites for TLS 1.3 ("TLS_AES_128_GCM_SHA256").
  std::string tlsProtocols = {};
  std::string tlsCiphers = {};
  std::string tls13CipherSuites = {};
  // Access log lines end with the protocol and cipher each request came over ("-" over plain HTTP).
  bool logTLSParameters = false;
};

class NginxServer {
 public:
  explicit NginxServer(NginxOptions options = {});
  ~NginxServer();

  // Writes a file under the document root (before or after start).
  void addFile(const std::string& relativePath, const std::string& contents);
  // Starts nginx and waits until it listens; false (with the error log in `log()`) on failure.
  bool start();
  void stop();

  int port() const { return port_; }
  int tlsPort() const { return tlsPort_; }
  int clientCertificatePort() const { return clientPort_; }
  std::string url(const std::string& path) const;     // http://127.0.0.1:port/path
  std::string tlsURL(const std::string& path) const;  // https://localhost:tlsPort/path
  std::string clientCertificateURL(const std::string& path) const;

  const TestCertificateAuthority& authority() const { return *authority_; }
  const std::filesystem::path& root() const { return root_; }
  std::string log() const;
  // Lines of nginx's access log (one per request).
  std::string accessLog() const;

 private:
  void writeConfiguration();
  NginxOptions options_;
  TemporaryDirectory folder_;
  std::filesystem::path root_;
  std::unique_ptr<TestCertificateAuthority> authority_;
  ChildProcess process_;
  int port_ = 0;
  int tlsPort_ = 0;
  int clientPort_ = 0;
};

}  // namespace zv::testing
