#include "support/sharing/ReadabilityService.h"

#include "platform/foundation/Format.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/sharing/OAuthVerifier.h"

namespace zv::testing {

namespace {

std::string reply(int status, const std::string& contentType, const std::string& body) {
  return format("HTTP/1.1 %d Status\r\nContent-Type: %s\r\nContent-Length: %zu\r\n\r\n", status, contentType.c_str(),
                body.size()) +
         body;
}

const char* kUnauthenticated =
    "{\"success\": false, \"error\": \"unauthenticated\", \"messages\": [\"The access token is not valid.\"]}";

}  // namespace

ReadabilityService::ReadabilityService() : server_(authority_.issueForHosts({"www.readability.com"})) {
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
}

ReadabilityService::~ReadabilityService() {
  server_.stop();
  ApplicationEnvironment::shared().setTestHostMap({});
  ApplicationEnvironment::shared().setExtraTrustAnchor(std::nullopt);
}

bool ReadabilityService::start() {
  if (!server_.start()) return false;
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{"www.readability.com", static_cast<std::uint16_t>(server_.port())}});
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

void ReadabilityService::revokeAccessTokens() {
  std::lock_guard lock(mutex_);
  tokenSecrets_.clear();
}

void ReadabilityService::failNext(int status, std::string body) {
  std::lock_guard lock(mutex_);
  nextReply_ = std::make_pair(status, std::move(body));
}

std::vector<std::map<std::string, std::string>> ReadabilityService::bookmarks() const {
  std::lock_guard lock(mutex_);
  return bookmarks_;
}

int ReadabilityService::signatureFailures() const {
  std::lock_guard lock(mutex_);
  return signatureFailures_;
}

std::string ReadabilityService::lastComplaint() const {
  std::lock_guard lock(mutex_);
  return lastComplaint_;
}

void ReadabilityService::complain(FaultServer::Connection& connection, int status, const std::string& why,
                                  const std::string& body) {
  {
    std::lock_guard lock(mutex_);
    lastComplaint_ = why;
  }
  connection.send(reply(status, "application/json", body));
}

void ReadabilityService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const std::string path = request.path();
  std::map<std::string, std::string> secrets;
  {
    std::lock_guard lock(mutex_);
    secrets = tokenSecrets_;
  }
  auto verdict = oauth_check::verifyRequest(request, kConsumerKey, kConsumerSecret, secrets);
  if (!verdict.ok) {
    {
      std::lock_guard lock(mutex_);
      if (verdict.why != "unknown token") ++signatureFailures_;
    }
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
    std::string token;
    std::string secret;
    {
      std::lock_guard lock(mutex_);
      token = "rat" + std::to_string(++issued_);
      secret = "ras=" + std::to_string(issued_);
      tokenSecrets_[token] = secret;
    }
    connection.send(reply(200, "text/plain", "oauth_token=" + token + "&oauth_token_secret=" + oauth_check::encode(secret)));
    return;
  }
  if (path == "/api/rest/v1/bookmarks/" && request.method == "POST") {
    if (form["url"].empty() || (form["favorite"] != "0" && form["favorite"] != "1") ||
        (form["archive"] != "0" && form["archive"] != "1")) {
      complain(connection, 400, "bad bookmark " + request.body, "{\"success\": false, \"messages\": [\"bad form\"]}");
      return;
    }
    std::optional<std::pair<int, std::string>> failure;
    {
      std::lock_guard lock(mutex_);
      failure.swap(nextReply_);
      if (!failure) bookmarks_.push_back(form);
    }
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
