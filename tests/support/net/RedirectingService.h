#pragma once
// A service host that sends every request elsewhere, for checking what follows a redirect. A TLS
// FaultServer poses as the given host names (through the test host map, with a certificate from an
// authority of its own installed as the extra trust anchor) and answers every request with a
// redirect status and a Location on one of two catchers: "https://elsewhere.example/caught"
// (another host, TLS as well) or "http://127.0.0.1:<port>/caught" (plain http). The catchers record
// whatever reaches them and answer 200 with a reply the test sets, one the caller would take for
// its service's answer; a test checks that they saw nothing and that the reply was not taken.
//
// Threads: the servers answer on threads of their own; the settings are guarded by a mutex.

#include <mutex>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class RedirectingService {
 public:
  enum class Target { AnotherHost, PlainHTTP };
  static constexpr const char* kAnotherHost = "elsewhere.example";

  explicit RedirectingService(std::vector<std::string> serviceHosts);
  // Clears the host map and the trust anchor.
  ~RedirectingService();
  // Starts the three servers and points the service hosts and kAnotherHost at them.
  bool start();
  // What the service host answers from now on (307 to AnotherHost at first).
  void redirectWith(int status, Target target);
  // The catchers' 200 answer.
  void setCaughtReply(std::string contentType, std::string body);

  // Requests that reached the service host, and those that reached either catcher.
  std::vector<RecordedRequest> received() const { return service_.requests(); }
  std::vector<RecordedRequest> caught() const;

 private:
  std::vector<std::string> serviceHosts_;
  TestCertificateAuthority authority_{"Redirecting Service CA"};
  FaultServer service_;
  FaultServer anotherHost_;
  FaultServer plain_;
  mutable std::mutex mutex_;
  int status_ = 307;
  Target target_ = Target::AnotherHost;
  std::string caughtType_ = "text/plain";
  std::string caughtBody_ = "caught";
};

}  // namespace zv::testing
