#pragma once
// What the loopback OAuth 1.0a service stand-ins share: one TLS FaultServer on 127.0.0.1 posing as
// the service's hosts (a test CA trusted and a test host map while it runs), the token secrets it
// issued, every request's signature recomputed independently (OAuthVerifier) with the wrong ones
// counted, the last complaint, and one reply that replaces the next normal one (failNext).
//
// A stand-in derives from it, answers in handle() and calls stop() first thing in its own
// destructor, so no request reaches a half-destroyed stand-in. Threads: the server answers on its
// own threads; every accessor locks `mutex_`, which also guards what the stand-in records.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"
#include "support/sharing/OAuthVerifier.h"

namespace zv::testing {

class OAuthServiceStandIn {
 public:
  // `complaintType` is the Content-Type of the stand-in's complaints.
  OAuthServiceStandIn(const std::vector<std::string>& hosts, std::string consumerKey, std::string consumerSecret,
                      std::string complaintType);
  virtual ~OAuthServiceStandIn();
  OAuthServiceStandIn(const OAuthServiceStandIn&) = delete;
  OAuthServiceStandIn& operator=(const OAuthServiceStandIn&) = delete;

  bool start();
  void stop();

  // The next post that would succeed answers this instead.
  void failNext(int status, std::string body);
  std::vector<RecordedRequest> requests() const { return server_.requests(); }
  int signatureFailures() const;
  std::string lastComplaint() const;

  // "HTTP/1.1 <status> Status" with the type, the length, `extraHeaders` (each ending in CRLF) and
  // the body.
  static std::string reply(int status, const std::string& contentType, const std::string& body,
                           const std::string& extraHeaders = "");

 protected:
  virtual void handle(const RecordedRequest& request, FaultServer::Connection& connection) = 0;

  // The signature check of `request` against the tokens issued so far; a wrong signature (not an
  // unknown or revoked token) is counted.
  oauth_check::Verdict verify(const RecordedRequest& request);
  // Remembers `why` and answers `status` with `body` as a complaint.
  void complain(FaultServer::Connection& connection, int status, const std::string& why, const std::string& body);
  // A token the service knows from the start.
  void knowToken(const std::string& token, const std::string& secret);
  // A new token "<tokenPrefix>N" with the secret "<secretPrefix>N", known from now on.
  std::pair<std::string, std::string> issueToken(const std::string& tokenPrefix, const std::string& secretPrefix);
  // Forgets the tokens whose names start with `prefix`.
  void revokeTokens(std::string_view prefix);
  // The reply failNext left for this post, taken; nothing (and `record` run, under the lock) when
  // there is none.
  template <class Record>
  std::optional<std::pair<int, std::string>> takeNextReplyOr(Record record) {
    std::lock_guard lock(mutex_);
    std::optional<std::pair<int, std::string>> failure;
    failure.swap(nextReply_);
    if (!failure) record();
    return failure;
  }

  mutable std::mutex mutex_;

 private:
  TestCertificateAuthority authority_;
  std::vector<std::string> hosts_;
  FaultServer server_;
  std::string consumerKey_;
  std::string consumerSecret_;
  std::string complaintType_;
  std::map<std::string, std::string> tokenSecrets_;
  std::optional<std::pair<int, std::string>> nextReply_;
  int signatureFailures_ = 0;
  int issued_ = 0;
  std::string lastComplaint_;
};

}  // namespace zv::testing
