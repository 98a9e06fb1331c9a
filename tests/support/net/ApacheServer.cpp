#include "support/net/ApacheServer.h"

#include <filesystem>
#include <fstream>

#include "platform/crypto/Digest.h"

namespace zv::testing {

namespace {
constexpr const char* kApache = "/usr/sbin/apache2";
constexpr const char* kModules = "/usr/lib/apache2/modules/";
}  // namespace

bool ApacheServer::isAvailable() { return std::filesystem::exists(kApache); }

void ApacheServer::addDigestUser(const std::string& user, const std::string& password) {
  users_ += user + ":" + realm_ + ":" + crypto::md5Hex(user + ":" + realm_ + ":" + password) + "\n";
}

void ApacheServer::addFile(const std::string& relativePath, const std::string& contents) {
  auto path = folder_.path() / "htdocs" / relativePath;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

bool ApacheServer::start() {
  const auto dir = folder_.path();
  std::filesystem::create_directories(dir / "htdocs");
  std::ofstream(dir / "htdigest") << users_;
  return startOnFreePort([&]() -> std::vector<std::string> {
    std::ofstream config(dir / "apache2.conf");
    config << "ServerRoot \"" << dir.string() << "\"\n"
           << "ServerName 127.0.0.1\n"
           << "Listen 127.0.0.1:" << port_ << "\n"
           << "PidFile \"" << (dir / "apache2.pid").string() << "\"\n"
           << "ErrorLog \"" << (dir / "error.log").string() << "\"\n"
           << "LogLevel warn\n"
           << "DefaultRuntimeDir \"" << dir.string() << "\"\n"
           << "KeepAlive On\nMaxKeepAliveRequests 100\nKeepAliveTimeout 15\n";
    for (const char* module : {"mpm_prefork", "authn_core", "authn_file", "authz_core", "authz_user", "auth_digest"}) {
      config << "LoadModule " << module << "_module " << kModules << "mod_" << module << ".so\n";
    }
    config << "DocumentRoot \"" << (dir / "htdocs").string() << "\"\n"
           << "<Directory \"" << (dir / "htdocs").string() << "\">\n  Require all granted\n</Directory>\n"
           << "<Location \"/digest/\">\n"
           << "  AuthType Digest\n"
           << "  AuthName \"" << realm_ << "\"\n"
           << "  AuthDigestProvider file\n"
           << "  AuthUserFile \"" << (dir / "htdigest").string() << "\"\n"
           << "  Require valid-user\n"
           << "</Location>\n";
    return {kApache, "-X", "-f", (dir / "apache2.conf").string()};
  });
}

std::string ApacheServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace zv::testing
