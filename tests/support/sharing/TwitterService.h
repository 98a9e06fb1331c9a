#pragma once
// A loopback stand-in of the Twitter services: one TLS FaultServer on 127.0.0.1 posing as the
// API host, the image host and the link-shortening host (certificate from the test CA, reached
// through the test host map). Every OAuth request's signature is recomputed independently
// (OAuthVerifier); a request that does not verify is answered 401 with the service's error
// "Could not authenticate with OAuth." and counted in signatureFailures().
//
// api.twitter.com
//   POST /oauth/request_token        "oauth_token=rt&oauth_token_secret=rs"
//   GET  /oauth/authorize?oauth_token=rt  302 to the callback with oauth_verifier
//   POST /oauth/access_token         with the request token and verifier, or xAuth
//                                    (x_auth_username/x_auth_password/x_auth_mode=client_auth):
//                                    a new access token; wrong xAuth credentials 401 with a text
//   POST /1/statuses/update.json     form field "status"; {"id":..,"text":..}
//   GET  /1/account/verify_credentials.json  the profile (with null values)
//   POST /1/friendships/create/<name>.json   records the follow
// upload.twitter.com
//   POST /api/2/upload.xml           OAuth Echo: "X-Auth-Service-Provider" must be the credentials
//                                    URL and "X-Verify-Credentials-Authorization" must verify as a
//                                    GET of it; multipart "media" (JPEG) and "message";
//                                    "<image><url>https://pic.example/p1</url></image>"
// api-ssl.bitly.com
//   GET  /v3/shorten?login&apikey&longUrl&format=txt  the short link as text
//
// failNext() replaces the next status update or upload reply. Threads: the server answers on its
// own threads; every accessor locks.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class TwitterService {
 public:
  static constexpr const char* kConsumerKey = "tw-consumer";
  static constexpr const char* kConsumerSecret = "tw secret&1";
  static constexpr const char* kUser = "ada";
  static constexpr const char* kPassword = "p&ss w\xC3\xB6rd";
  static constexpr const char* kShortenLogin = "bit user";
  static constexpr const char* kShortenKey = "R_k&y";
  static constexpr const char* kCallback = "https://callback.example/twitter";

  TwitterService();
  ~TwitterService();
  // Starts the server and points the three hosts at it.
  bool start();

  // The next status update (or upload, for `upload`) answers this instead.
  void failNext(int status, std::string body, bool upload = false);
  // Every access token issued so far stops working (as when the user revokes the application).
  void revokeAccessTokens();
  // Every signed request is refused from now on, however it is signed.
  void refuseEverything(bool refuse);
  void setShortenReply(std::string body);

  std::vector<RecordedRequest> requests() const { return server_.requests(); }
  std::vector<RecordedRequest> requestsTo(const std::string& path) const;
  std::vector<std::string> statuses() const;
  std::vector<std::string> follows() const;
  std::vector<std::string> longURLs() const;
  // The sizes of the JPEG images uploaded and the messages that came with them.
  std::vector<std::pair<std::size_t, std::string>> uploads() const;
  int signatureFailures() const;
  std::string lastComplaint() const;

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  bool verified(const RecordedRequest& request, FaultServer::Connection& connection);
  void complain(FaultServer::Connection& connection, int status, const std::string& why, const std::string& body);

  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> tokenSecrets_;
  std::vector<std::string> statuses_;
  std::vector<std::string> follows_;
  std::vector<std::string> longURLs_;
  std::vector<std::pair<std::size_t, std::string>> uploads_;
  std::optional<std::pair<int, std::string>> nextStatusReply_;
  std::optional<std::pair<int, std::string>> nextUploadReply_;
  std::string shortenReply_ = "https://bit.ly/sh0rt\n";
  bool refuseEverything_ = false;
  int signatureFailures_ = 0;
  int issued_ = 0;
  std::string lastComplaint_;
};

// A strict multipart reader shared by the stand-ins: name -> body of each part; nullopt when the
// body is not framed by `boundary` as RFC 7578 asks.
std::optional<std::map<std::string, std::string>> parseMultipartParts(const std::string& body,
                                                                      const std::string& boundary);

}  // namespace zv::testing
