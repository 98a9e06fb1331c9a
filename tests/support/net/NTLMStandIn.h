#pragma once
// An NTLM server stand-in on a FaultServer route: it answers the negotiate message with a
// challenge message (a fresh server challenge and target information naming the domain), and
// accepts an authenticate message only when it arrives on the same connection and its NTLMv2
// proof, recomputed from the known user, domain and password, matches. Anything else gets
// 401 "WWW-Authenticate: NTLM". Accepted requests answer 200 "ntlm ok".

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "support/net/FaultServer.h"

namespace zv::testing {

class NTLMStandIn {
 public:
  NTLMStandIn(std::string user, std::string domain, std::string password)
      : user_(std::move(user)), domain_(std::move(domain)), password_(std::move(password)) {}
  // Installs the route (before the server starts). The stand-in must outlive the server.
  void install(FaultServer& server, const std::string& path);
  // Authenticate messages that were checked, and those whose proof matched.
  int authenticateMessages() const { return checked_; }
  int accepted() const { return accepted_; }

 private:
  bool verify(const std::string& message, int connection);

  std::string user_, domain_, password_;
  std::mutex mutex_;
  std::map<int, std::string> challenges_;  // connection number → server challenge (8 bytes)
  std::map<int, std::string> targetInfo_;
  std::atomic<int> checked_{0};
  std::atomic<int> accepted_{0};
};

}  // namespace zv::testing
