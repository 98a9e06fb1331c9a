#pragma once
// A loopback stand-in of the Facebook service: one TLS FaultServer on 127.0.0.1 posing as the
// Graph API host, the REST API host and the mobile web host (certificate from the test CA, reached
// through the test host map). It checks what it receives, so a wrong request fails the test:
//
// Graph API (graph.facebook.com), every call with "User-Agent: FacebookConnect" and format=json,
// sdk=ios, sdk_version=2; POSTs as multipart/form-data that must end with the closing boundary,
// name every part, and carry nothing in the URL query (above all not the token):
//   GET  /me                             the user's profile ("email" is null)
//   POST /me/feed                        "message" and a JSON "actions" object; {"id": ...}
//   POST /me/photos                      a PNG file part "picture"; {"id": ..., "post_id": ...}
//   GET  /me/apprequestformerrecipients  {"data": [...]} with one entry of the wrong type
// A Graph or REST request body over 10 MB is refused with an HTML 413 page.
// REST API (api.facebook.com):
//   GET  /method/auth.extendSSOAccessToken   a new token with "expires_at"
// Mobile web dialogs (m.facebook.com), small HTML pages without scripts whose buttons are form
// posts ending in a 302 to the "fbconnect" address the dialog watches:
//   GET  /dialog/feed, POST /dialog/feed/submit             (buttons "publish" and "skip")
//   GET  /dialog/oauth, POST /dialog/oauth/submit           (fields "email", "pass"; button
//                                                             "cancel"); sets the login cookies
//   GET  /dialog/apprequests, POST /dialog/apprequests/submit
// Tokens: issueToken() makes a valid one, expireToken() turns it into code 190 (Graph: a 400
// {"error": {"code": 190, ...}}; REST: {"error_code": 190, ...}; dialogs: a redirect with
// "error_code=190"). An unknown token is refused as well. failNextGraphCall() makes the next
// Graph or REST call (or the next to one path) answer with a given status and body (an HTML 500 page, wrong types, ...).
//
// Threads: the server answers on its own threads; every accessor locks.

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/net/URLRequest.h"
#include "support/net/FaultServer.h"
#include "support/net/TestCertificates.h"

namespace zv::testing {

struct MultipartPart {
  std::string name;
  std::optional<std::string> filename;
  std::optional<std::string> contentType;
  std::string body;
};

struct FacebookPost {
  std::string path;  // "/me/feed", "/me/photos" or "/dialog/feed/submit"
  std::map<std::string, std::string> fields;
  std::vector<MultipartPart> files;
};

class FacebookService {
 public:
  static constexpr const char* kEmail = "ada@example.org";
  static constexpr const char* kPassword = "correct horse";
  static constexpr const char* kUserId = "4";

  explicit FacebookService(std::string appId);
  ~FacebookService();
  // Starts the server and points the service's hosts at it (test host map, trusted test CA).
  bool start();

  std::string issueToken();
  void expireToken(const std::string& token);
  // What the login page's redirect says about the token's lifetime (nullopt: nothing).
  void setLoginExpiresIn(std::optional<long> seconds);
  // The dialog pages read their request and never answer.
  void setStallDialogs(bool stall);
  // The next Graph or REST call (to `path` only, when one is given) answers with this.
  void failNextGraphCall(int status, std::string contentType, std::string body, std::string path = {});

  std::vector<RecordedRequest> requests() const { return server_.requests(); }
  // Requests to one path (query ignored).
  std::vector<RecordedRequest> requestsTo(const std::string& path) const;
  std::vector<FacebookPost> posts() const;
  // Tokens issued by a login or an extension, in order.
  std::vector<std::string> issuedTokens() const;
  // Why the last request was refused as malformed; empty when none was.
  std::string lastComplaint() const;

  // The body of a form page as a user's browser would send it: the page's first form, its
  // hidden and text fields, `fields` typed over them, and the pressed button `button`.
  static Ref<net::URLRequest> formSubmission(const std::string& pageHTML, const Ref<URL>& pageURL,
                                             const std::map<std::string, std::string>& fields,
                                             const std::string& button);
  // The href of the first link whose text is `text`.
  static std::optional<std::string> linkNamed(const std::string& pageHTML, const std::string& text);
  // "name=value&..." or a query, decoded ("+" as a blank; a name without "=" has an empty value).
  static std::map<std::string, std::string> decodeForm(std::string_view text);
  // A strict multipart reader: nullopt (with `why`) unless the body is well framed.
  static std::optional<std::vector<MultipartPart>> parseMultipart(const std::string& body, const std::string& boundary,
                                                                  std::string* why);

 private:
  void handle(const RecordedRequest& request, FaultServer::Connection& connection);
  void handleGraph(const RecordedRequest& request, FaultServer::Connection& connection);
  void handleDialog(const RecordedRequest& request, FaultServer::Connection& connection);
  // "valid", "expired" or "unknown".
  std::string tokenState(const std::optional<std::string>& token) const;
  std::string newTokenLocked();
  void complain(FaultServer::Connection& connection, const std::string& why);

  std::string appId_;
  TestCertificateAuthority authority_;
  FaultServer server_;
  mutable std::mutex mutex_;
  std::set<std::string> validTokens_;
  std::set<std::string> expiredTokens_;
  std::vector<std::string> issued_;
  std::vector<FacebookPost> posts_;
  std::optional<long> loginExpiresIn_ = 5183999;
  bool stallDialogs_ = false;
  std::optional<std::tuple<int, std::string, std::string, std::string>> nextGraphFailure_;
  std::string lastComplaint_;
  int counter_ = 100;
};

}  // namespace zv::testing
