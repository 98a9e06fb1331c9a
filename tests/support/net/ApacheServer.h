#pragma once
// apache2 for tests, run in the foreground (-X) as a child process on a free loopback port, from
// a configuration written into a temporary folder. It serves files under the document root and
// guards "/digest/" with Digest authentication (MD5, qop "auth") in the realm given at
// construction, for the users added with addDigestUser.

#include <string>

#include "support/net/ProxyServers.h"

namespace zv::testing {

class ApacheServer : public LoopbackChildServer {
 public:
  explicit ApacheServer(std::string realm = "digest realm") : realm_(std::move(realm)) {}
  // Whether apache2 is installed here.
  static bool isAvailable();
  // Before start.
  void addDigestUser(const std::string& user, const std::string& password);
  // Writes a file under the document root.
  void addFile(const std::string& relativePath, const std::string& contents);
  bool start();
  std::string url(const std::string& path) const;
  const std::string& realm() const { return realm_; }

 private:
  std::string realm_;
  std::string users_;
};

}  // namespace zv::testing
