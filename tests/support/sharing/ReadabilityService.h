#pragma once
// A loopback stand-in of the Readability reading service (an OAuthServiceStandIn) posing as its
// host. A wrongly signed request is answered 401 and counted in signatureFailures().
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
#include <string>
#include <vector>

#include "support/sharing/OAuthServiceStandIn.h"

namespace zv::testing {

class ReadabilityService : public OAuthServiceStandIn {
 public:
  static constexpr const char* kConsumerKey = "rd-key";
  static constexpr const char* kConsumerSecret = "rd&secret";
  static constexpr const char* kUser = "grace";
  static constexpr const char* kPassword = "hopper 1906";

  ReadabilityService();
  ~ReadabilityService() override;

  void revokeAccessTokens();
  // The form fields of each bookmark accepted.
  std::vector<std::map<std::string, std::string>> bookmarks() const;

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection) override;

  std::vector<std::map<std::string, std::string>> bookmarks_;
};

}  // namespace zv::testing
