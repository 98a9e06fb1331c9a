#include "support/net/NginxServer.h"

#include <fstream>
#include <sstream>

namespace zv::testing {

NginxServer::NginxServer(NginxOptions options) : options_(options) {
  root_ = folder_.path() / "www";
  std::filesystem::create_directories(root_ / "protected");
  for (const char* sub : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    std::filesystem::create_directories(folder_.path() / "temp" / sub);
  }
  if (options_.tls || options_.clientCertificatePort) authority_ = std::make_unique<TestCertificateAuthority>();
  addFile("index.html", "<html><body>index</body></html>\n");
  addFile("protected/index.html", "protected content\n");
}

NginxServer::~NginxServer() { stop(); }

void NginxServer::addFile(const std::string& relativePath, const std::string& contents) {
  auto path = root_ / relativePath;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

std::string NginxServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + (path.starts_with("/") ? "" : "/") + path;
}

std::string NginxServer::tlsURL(const std::string& path) const {
  return "https://localhost:" + std::to_string(tlsPort_) + (path.starts_with("/") ? "" : "/") + path;
}

std::string NginxServer::clientCertificateURL(const std::string& path) const {
  return "https://localhost:" + std::to_string(clientPort_) + (path.starts_with("/") ? "" : "/") + path;
}

void NginxServer::writeConfiguration() {
  const auto& dir = folder_.path();
  std::ofstream(dir / "htpasswd") << "user:{PLAIN}secret\n";
  std::ostringstream c;
  c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
    << "pid " << (dir / "nginx.pid").string() << ";\n"
    << "error_log " << (dir / "error.log").string() << " info;\n"
    << "events { worker_connections 256; }\n"
    << "http {\n"
    << (options_.logTLSParameters ? "  log_format tls '$remote_addr \"$request\" $status $body_bytes_sent $ssl_protocol "
                                    "$ssl_cipher';\n"
                                  : "")
    << "  access_log " << (dir / "access.log").string() << (options_.logTLSParameters ? " tls" : "") << ";\n"
    << "  client_body_temp_path " << (dir / "temp/client_body").string() << ";\n"
    << "  proxy_temp_path " << (dir / "temp/proxy").string() << ";\n"
    << "  fastcgi_temp_path " << (dir / "temp/fastcgi").string() << ";\n"
    << "  uwsgi_temp_path " << (dir / "temp/uwsgi").string() << ";\n"
    << "  scgi_temp_path " << (dir / "temp/scgi").string() << ";\n"
    << "  types { text/html html; text/plain txt; application/json json; application/octet-stream bin; }\n"
    << "  default_type application/octet-stream;\n"
    << "  keepalive_timeout 30s;\n  keepalive_requests 10000;\n"
    << "  gzip on;\n  gzip_types text/plain application/json;\n  gzip_min_length 20;\n"
    << "  server {\n"
    << "    listen 127.0.0.1:" << port_ << ";\n";
  if (options_.tls) {
    auto [cert, key] = authority_->issue("localhost", {"DNS:localhost", "IP:127.0.0.1"}).writeTo(dir, "server");
    c << "    listen 127.0.0.1:" << tlsPort_ << " ssl;\n"
      << "    ssl_certificate " << cert.string() << ";\n"
      << "    ssl_certificate_key " << key.string() << ";\n";
    if (!options_.tlsProtocols.empty()) c << "    ssl_protocols " << options_.tlsProtocols << ";\n";
    if (!options_.tlsCiphers.empty()) c << "    ssl_ciphers " << options_.tlsCiphers << ";\n";
    if (!options_.tls13CipherSuites.empty()) {
      c << "    ssl_conf_command Ciphersuites " << options_.tls13CipherSuites << ";\n";
    }
  }
  c << "    server_name localhost;\n"
    << "    root " << root_.string() << ";\n"
    << "    location = /cookie/set { add_header Set-Cookie \"session=abc123; Path=/\"; return 200 \"cookie set\\n\"; }\n"
    << "    location = /cookie/show { return 200 \"$http_cookie\"; }\n"
    << "    location = /echo/method { return 200 \"$request_method\"; }\n"
    << "    location = /echo/user-agent { return 200 \"$http_user_agent\"; }\n"
    << "    location = /echo/accept-encoding { return 200 \"$http_accept_encoding\"; }\n"
    << "    location = /close { keepalive_timeout 0; return 200 \"closing\\n\"; }\n"
    << "    location /protected/ { auth_basic \"Test Realm\"; auth_basic_user_file " << (dir / "htpasswd").string()
    << "; }\n"
    << "    location /cached/ { expires 60s; }\n"
    << "    location /nostore/ { add_header Cache-Control no-store; }\n"
    << "    location = /changing { add_header Cache-Control \"max-age=60\"; return 200 \"$request_id\"; }\n"
    << "    location /vary/ { expires 60s; add_header Vary Accept-Language; }\n"
    << "    location = /vary-star { expires 60s; add_header Vary \"*\"; return 200 \"star\"; }\n"
    << "    location /private/ { expires 60s; auth_basic \"Test Realm\"; auth_basic_user_file "
    << (dir / "htpasswd").string() << "; }\n"
    << "    location /public/ { expires 60s; add_header Cache-Control public; auth_basic \"Test Realm\"; "
    << "auth_basic_user_file " << (dir / "htpasswd").string() << "; }\n";
  for (int code : {301, 302, 303, 307}) {
    for (int n = 1; n <= 6; ++n) {
      c << "    location = /chain/" << code << "/" << n << " { return " << code << " /chain/" << code << "/" << n - 1
        << "; }\n";
    }
    c << "    location = /chain/" << code << "/0 { return 200 \"end of chain\\n\"; }\n";
  }
  c << "  }\n";
  if (options_.clientCertificatePort) {
    auto [cert, key] = authority_->issue("localhost", {"DNS:localhost", "IP:127.0.0.1"}).writeTo(dir, "server2");
    std::ofstream(dir / "ca.crt") << authority_->certificatePEM();
    c << "  server {\n"
      << "    listen 127.0.0.1:" << clientPort_ << " ssl;\n"
      << "    ssl_certificate " << cert.string() << ";\n"
      << "    ssl_certificate_key " << key.string() << ";\n"
      << "    ssl_client_certificate " << (dir / "ca.crt").string() << ";\n"
      << "    ssl_verify_client optional;\n"
      << "    ssl_verify_depth 3;\n"
      << "    location / { return 200 \"$ssl_client_verify\"; }\n"
      << "  }\n";
  }
  c << "}\n";
  std::ofstream(dir / "nginx.conf") << c.str();
}

bool NginxServer::start() {
  // The ports are distinct (nginx would merge a plain and a TLS listen on one port into one TLS
  // listener) and held until just before nginx starts. A neighbour may still take one in that
  // moment: then try other ports.
  for (int attempt = 0; attempt < 5; ++attempt) {
    auto ports = pickLoopbackPorts(1 + (options_.tls ? 1 : 0) + (options_.clientCertificatePort ? 1 : 0));
    if (ports.empty()) return false;
    std::size_t next = 0;
    port_ = ports[next++].port();
    tlsPort_ = options_.tls ? ports[next++].port() : 0;
    clientPort_ = options_.clientCertificatePort ? ports[next++].port() : 0;
    writeConfiguration();
    const auto& dir = folder_.path();
    ports.clear();
    if (!process_.start({"/usr/sbin/nginx", "-p", dir.string(), "-c", (dir / "nginx.conf").string(), "-e",
                         (dir / "error.log").string()},
                        dir / "stdout.log")) {
      return false;
    }
    bool up = process_.waitUntilListening(port_);
    if (up && tlsPort_) up = process_.waitUntilListening(tlsPort_);
    if (up && clientPort_) up = process_.waitUntilListening(clientPort_);
    if (up) return true;
    process_.stop();
  }
  return false;
}

void NginxServer::stop() { process_.stop(); }

std::string NginxServer::log() const {
  std::ifstream in(folder_.path() / "error.log");
  std::stringstream text;
  text << in.rdbuf();
  std::ifstream out(folder_.path() / "stdout.log");
  text << out.rdbuf();
  return text.str();
}

std::string NginxServer::accessLog() const {
  std::ifstream in(folder_.path() / "access.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace zv::testing
