#pragma once
// A loopback stand-in of the note service's login endpoints, over TLS on 127.0.0.1 (reach it
// through the test host map under the service host):
//   GET /oauth         step one (an "oauth_callback" parameter, no token): a temporary token and
//                      secret with "oauth_callback_confirmed"; step three (the temporary token and
//                      the verifier): the access token with the note store's address, the user id
//                      and the web-API prefix.
//   GET /OAuth.action  the login page: a redirect to the callback with the token and verifier.
// Every /oauth request must carry an HMAC-SHA1 signed Authorization header; the signature is
// recomputed here from the consumer secret and the expected token secret, and a request whose
// signature, token, verifier or scheme is wrong is answered 401 and counted.
//
// Threads: FaultServer's (one per connection); the counters are safe from any thread.

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

class NoteServiceOAuthStandIn {
 public:
  struct Settings {
    std::string consumerKey;
    std::string consumerSecret;
    std::string callback;  // the login's callback address, e.g. "en-key://response"
    std::string accessToken;
    std::string noteStoreUrl;
    std::string webApiUrlPrefix;
    std::string userId = "42";
  };
  static constexpr const char* kTemporaryToken = "temporary-token-1";
  static constexpr const char* kTemporarySecret = "temporary/secret+1";
  static constexpr const char* kVerifier = "verifier-77";

  NoteServiceOAuthStandIn(const TestKeyPair& serverKeyPair, Settings settings);
  bool start() { return server_.start(); }
  int port() const { return server_.port(); }

  // Step three's answer leaves out the web-API prefix.
  void omitWebApiPrefix() { omitPrefix_ = true; }
  // The login page is shown without answering (the user has not signed in yet).
  void holdLoginPage() { holdPage_ = true; }
  // Every /oauth answer is this status with a body holding the access token.
  void failWithStatus(int status) { failStatus_ = status; }
  // Step one's answer carries a padding field of this many bytes more.
  void padTemporaryTokenReply(std::size_t bytes) { padding_ = bytes; }

  int temporaryTokenRequests() const { return temporary_.load(); }
  int accessTokenRequests() const { return access_.load(); }
  int rejectedRequests() const { return rejected_.load(); }
  // "METHOD path" of every request, in arrival order.
  std::vector<std::string> requestLines() const {
    std::vector<std::string> lines;
    for (const auto& request : server_.requests()) lines.push_back(request.method + " " + request.path());
    return lines;
  }

  // RFC 3986 percent-encoding and the HMAC-SHA1 signature of a request, written independently of
  // the client's code.
  static std::string percentEncode(const std::string& text);
  static std::string percentDecode(const std::string& text);

 private:
  void handleToken(const RecordedRequest& request, FaultServer::Connection& connection);

  Settings settings_;
  FaultServer server_;
  std::atomic<bool> omitPrefix_{false};
  std::atomic<bool> holdPage_{false};
  std::atomic<int> failStatus_{0};
  std::atomic<std::size_t> padding_{0};
  std::atomic<int> temporary_{0};
  std::atomic<int> access_{0};
  std::atomic<int> rejected_{0};
};

}  // namespace zv::testing
