#pragma once
// A loopback stand-in of the photo service: one TLS FaultServer on 127.0.0.1 posing as the API
// host (api.flickr.com) and the web host (www.flickr.com), certificate from the test CA, reached
// through the test host map. It checks every signature it receives, independently of the client:
// the key-sorted MD5 "api_sig" (OpenSSL MD5 over the secret and the sorted names and values) and
// OAuth 1.0a HMAC-SHA1 (base string and key rebuilt by the RFC 5849 rules). A request that does
// not verify gets error 96 ("Invalid signature") and is recorded as a complaint.
//
//   GET/POST /services/rest/      flickr.auth.getToken {frob}, flickr.auth.checkToken,
//                                 flickr.groups.pools.getGroups, flickr.groups.pools.add
//                                 {photo_id, group_id}, flickr.test.echo (echoes the arguments as
//                                 attributes of <echo>); an unknown token is code 98
//   POST     /services/upload/    multipart: signed fields and a "photo" file part; <photoid>
//   GET      /services/oauth/request_token, /services/oauth/access_token   query-string replies
//   GET      /services/auth/      the web login: a signed link with "perms"; answers a 302 to the
//                                 callback address with a fresh "frob"
//   /rest-reply                   (test hook) setNextRESTReply answers the next REST call raw
//
// Threads: the server answers on its own threads; every accessor locks.

#include <map>
#include <set>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class FlickrService {
 public:
  static constexpr const char* kUserName = "ada";
  static constexpr const char* kUserNSID = "12037949754@N01";

  FlickrService(std::string apiKey, std::string secret);
  ~FlickrService();
  // Starts the server and points the service's hosts at it.
  bool start();

  // Where the login page sends the browser with "?frob=...".
  void setCallbackURL(std::string url);
  std::string issueToken();
  void invalidateTokens();
  // Groups the user belongs to: (nsid, name); an empty nsid leaves the attribute out.
  void setGroups(std::vector<std::pair<std::string, std::string>> groups);
  // Adding a photo to this group fails (error 5, as a full pool does); adding to a group not in
  // the list fails with error 2.
  void refuseGroup(const std::string& nsid);
  // The next calls of `method` fail with this service error code.
  void failMethod(const std::string& method, int code);
  // The next REST reply is this raw body (status 200).
  void setNextRESTReply(std::string body);
  // OAuth: the request token and secret the service hands out, the access reply's fields.
  void setOAuthTokens(std::string requestToken, std::string requestSecret, std::string accessToken,
                      std::string accessSecret);
  void setOAuthReplyBody(std::optional<std::string> body);

  struct Call {
    std::string httpMethod;
    std::string path;
    std::map<std::string, std::string> arguments;  // decoded
    std::string signatureScheme;                    // "md5", "oauth" or "none"
  };
  std::vector<Call> calls() const;
  std::vector<std::string> complaints() const;
  // Uploaded photo parts: file name and bytes.
  std::vector<std::pair<std::string, std::string>> uploads() const;
  std::vector<RecordedRequest> requests() const { return server_.requests(); }

  // Independent signatures, for tests as well.
  static std::string md5Signature(const std::string& secret, const std::map<std::string, std::string>& arguments);
  static std::string oauthSignature(const std::string& method, const std::string& baseURL,
                                    const std::multimap<std::string, std::string>& parameters,
                                    const std::string& consumerSecret, const std::string& tokenSecret);
  static std::string rfc3986(const std::string& text);

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  std::string verify(const std::string& method, const std::string& baseURL,
                     const std::multimap<std::string, std::string>& parameters, std::string& scheme);
  std::string restReply(const std::map<std::string, std::string>& arguments);
  void complain(const std::string& why);

  std::string apiKey_;
  std::string secret_;
  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::string callbackURL_ = "https://callback.example/flickr";
  std::vector<std::string> tokens_;
  std::vector<std::string> frobs_;
  std::vector<std::pair<std::string, std::string>> groups_;
  std::set<std::string> refusingGroups_;
  std::map<std::string, int> failures_;
  std::optional<std::string> nextRESTReply_;
  std::string requestToken_ = "rt-1", requestSecret_ = "rs~1", accessToken_ = "at-1", accessSecret_ = "as/1";
  std::optional<std::string> oauthReplyBody_;
  std::vector<Call> calls_;
  std::vector<std::string> complaints_;
  std::vector<std::pair<std::string, std::string>> uploads_;
  int counter_ = 0;
};

}  // namespace zv::testing
