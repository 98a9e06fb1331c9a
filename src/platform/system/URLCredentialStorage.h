#pragma once
// Credential storage for HTTP authentication: one default credential (user name and password) per
// protection space. A protection space is a server (host, port, protocol, realm, authentication
// method) or a proxy (host, port, realm, authentication method; the proxy type is always HTTP).
//
// Persistence: session credentials live in memory for the process; permanent ones are
// internet-password items in the application's keychain file (mode 0600, written atomically),
// one item per protection space, so they survive the process. A lookup answers the session
// credential first, then the permanent one. Passwords never reach the log.
//
// Threads: any thread; calls are serialised by one lock.

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include "platform/foundation/ForkHandlers.h"

namespace zv {

struct URLProtectionSpace {
  std::string host;
  int port = 0;
  std::string protocol;  // "http", "https"; empty for a proxy
  std::optional<std::string> realm;
  std::string authenticationMethod = "Default";
  bool isProxy = false;

  // The text that names the space in the keychain and the session table.
  std::string key() const;
  static URLProtectionSpace server(std::string host, int port, std::string protocol, std::optional<std::string> realm);
  static URLProtectionSpace proxy(std::string host, int port, std::optional<std::string> realm);
};

enum class URLCredentialPersistence { None, ForSession, Permanent };

struct URLCredential {
  std::string user;
  std::string password;
  URLCredentialPersistence persistence = URLCredentialPersistence::ForSession;
};

class URLCredentialStorage {
 public:
  static URLCredentialStorage& shared();

  // None keeps nothing; ForSession keeps it in memory; Permanent writes the keychain item.
  void setDefaultCredential(const URLCredential& credential, const URLProtectionSpace& space);
  std::optional<URLCredential> defaultCredential(const URLProtectionSpace& space);
  // Removes the space's credential from memory and from the keychain.
  void removeCredential(const URLProtectionSpace& space);
  // Forgets the session credentials (tests).
  void removeAllSessionCredentials();

 private:
  ForkMutex lock_{ForkLockLevel::CredentialStorage};
  std::vector<std::pair<std::string, URLCredential>> session_;
};

}  // namespace zv
