#include "support/sharing/ReadabilityService.h"

namespace zv::testing {

namespace {

const char* kUnauthenticated =
    "{\"success\": false, \"error\": \"unauthenticated\", \"messages\": [\"The access token is not valid.\"]}";

}  // namespace

ReadabilityService::ReadabilityService()
    : OAuthServiceStandIn({"www.readability.com"}, kConsumerKey, kConsumerSecret, "application/json") {}

ReadabilityService::~ReadabilityService() { stop(); }

void ReadabilityService::revokeAccessTokens() { revokeTokens("rat"); }

std::vector<std::map<std::string, std::string>> ReadabilityService::bookmarks() const {
  std::lock_guard lock(mutex_);
  return bookmarks_;
}

void ReadabilityService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const std::string path = request.path();
  auto verdict = verify(request);
  if (!verdict.ok) {
    complain(connection, 401, verdict.why, kUnauthenticated);
    return;
  }
  auto form = oauth_check::decodeForm(request.body);
  if (path == "/api/rest/v1/oauth/access_token/" && request.method == "POST") {
    if (form["x_auth_mode"] != "client_auth" || form["x_auth_username"] != kUser ||
        form["x_auth_password"] != kPassword || verdict.oauth.count("oauth_token")) {
      complain(connection, 401, "xAuth refused", "Invalid username or password.");
      return;
    }
    auto [token, secret] = issueToken("rat", "ras=");
    connection.send(reply(200, "text/plain", "oauth_token=" + token + "&oauth_token_secret=" + oauth_check::encode(secret)));
    return;
  }
  if (path == "/api/rest/v1/bookmarks/" && request.method == "POST") {
    if (form["url"].empty() || (form["favorite"] != "0" && form["favorite"] != "1") ||
        (form["archive"] != "0" && form["archive"] != "1")) {
      complain(connection, 400, "bad bookmark " + request.body, "{\"success\": false, \"messages\": [\"bad form\"]}");
      return;
    }
    auto failure = takeNextReplyOr([&] { bookmarks_.push_back(form); });
    if (failure) {
      connection.send(reply(failure->first, "application/json", failure->second));
      return;
    }
    connection.send(reply(202, "text/plain", ""));
    return;
  }
  complain(connection, 404, "unknown route " + path, "{\"success\": false}");
}

}  // namespace zv::testing
