#pragma once
// A loopback stand-in of LinkedIn (an OAuthServiceStandIn) posing as the API and web hosts. A
// wrongly signed request is answered 401 and counted in signatureFailures().
//
// api.linkedin.com
//   POST /uas/oauth/requestToken     "oauth_token=lrt&oauth_token_secret=lrs"
//   POST /uas/oauth/accessToken      needs the request token, the verifier and the configured
//                                    callback signed in; a new access token
//   POST /v1/people/~/shares         "text/xml;charset=UTF-8" body parsed with expat (malformed
//                                    XML is refused with 400); records comment, submitted-url and
//                                    visibility code; 201
// www.linkedin.com
//   GET  /uas/oauth/authorize?oauth_token=lrt   302 to the callback with the verifier
//
// holdAccessTokens() keeps access-token answers back until releaseAccessTokens() (or the end).
// A revoked token is answered 401 "<error><status>401</status>...". Threads: the server answers on
// its own threads; every accessor locks.

#include <condition_variable>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/sharing/OAuthServiceStandIn.h"

namespace zv::testing {

struct LinkedInShare {
  std::string comment;
  std::optional<std::string> submittedURL;
  std::string visibility;
};

class LinkedInService : public OAuthServiceStandIn {
 public:
  static constexpr const char* kConsumerKey = "li-key";
  static constexpr const char* kConsumerSecret = "li secret";
  static constexpr const char* kCallback = "https://callback.example/linkedin";

  LinkedInService();
  ~LinkedInService() override;

  void revokeAccessTokens();
  // Every later share post is answered 401, whatever token it carries.
  void refuseEveryShare();
  std::vector<LinkedInShare> shares() const;
  // Access-token requests wait (after they were recorded) until releaseAccessTokens(); how many
  // are waiting now.
  void holdAccessTokens();
  void releaseAccessTokens();
  int accessTokensWaiting() const;

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection) override;

  std::vector<LinkedInShare> shares_;
  bool refuseEveryShare_ = false;
  bool holdAccessTokens_ = false;
  int accessTokensWaiting_ = 0;
  std::condition_variable accessTokensReleased_;
};

// The text of each element of a well-formed XML document, by element name (the last one wins);
// nullopt when expat refuses the document.
std::optional<std::map<std::string, std::string>> parseXMLElements(const std::string& xml);

}  // namespace zv::testing
