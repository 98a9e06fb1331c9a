#pragma once
// A loopback stand-in of the Readability reading service: one TLS FaultServer on 127.0.0.1
// posing as its host (test CA, test host map). Every OAuth request's signature is recomputed
// independently (OAuthVerifier); a wrong one is answered 401 and counted in signatureFailures().
//
//   POST /api/rest/v1/oauth/access_token/   xAuth (x_auth_username, x_auth_password,
//                                           x_auth_mode=client_auth): a new access token; wrong
//                                           credentials 401 "Invalid username or password."
//   POST /api/rest/v1/bookmarks/            form fields url, favorite, archive ("0"/"1"); 202.
//                                           A revoked token: 401 {"success": false,
//                                           "error": "unauthenticated", "messages": [...]}
//
// failNext() replaces the next bookmark reply. Threads: the server answers on its own threads;
// every accessor locks.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class ReadabilityService {
 public:
  static constexpr const char* kConsumerKey = "rd-key";
  static constexpr const char* kConsumerSecret = "rd&secret";
  static constexpr const char* kUser = "grace";
  static constexpr const char* kPassword = "hopper 1906";

  ReadabilityService();
  ~ReadabilityService();
  bool start();

  void revokeAccessTokens();
  void failNext(int status, std::string body);
  // The form fields of each bookmark accepted.
  std::vector<std::map<std::string, std::string>> bookmarks() const;
  std::vector<RecordedRequest> requests() const { return server_.requests(); }
  int signatureFailures() const;
  std::string lastComplaint() const;

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  void complain(FaultServer::Connection& connection, int status, const std::string& why, const std::string& body);

  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> tokenSecrets_;
  std::vector<std::map<std::string, std::string>> bookmarks_;
  std::optional<std::pair<int, std::string>> nextReply_;
  int signatureFailures_ = 0;
  int issued_ = 0;
  std::string lastComplaint_;
};

}  // namespace zv::testing
