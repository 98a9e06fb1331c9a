#include "support/sharing/TwitterService.h"

#include "platform/foundation/Format.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/sharing/OAuthVerifier.h"

namespace zv::testing {

namespace {

constexpr const char* kCredentialsURL = "https://api.twitter.com/1/account/verify_credentials.json";

std::string reply(int status, const std::string& contentType, const std::string& body,
                  const std::string& extra = "") {
  return format("HTTP/1.1 %d Status\r\nContent-Type: %s\r\nContent-Length: %zu\r\n%s\r\n", status,
                contentType.c_str(), body.size(), extra.c_str()) +
         body;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string queryOf(const RecordedRequest& request) {
  auto mark = request.target.find('?');
  return mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
}

std::string hostOf(const RecordedRequest& request) {
  auto host = request.header("Host").value_or("");
  if (auto colon = host.find(':'); colon != std::string::npos) host.resize(colon);
  return host;
}

}  // namespace

std::optional<std::map<std::string, std::string>> parseMultipartParts(const std::string& body,
                                                                      const std::string& boundary) {
  const std::string delimiter = "--" + boundary;
  if (body.rfind(delimiter + "\r\n", 0) != 0) return std::nullopt;
  if (body.size() < delimiter.size() + 4 || body.compare(body.size() - delimiter.size() - 4, std::string::npos,
                                                         delimiter + "--\r\n") != 0) {
    return std::nullopt;
  }
  std::map<std::string, std::string> parts;
  std::size_t at = delimiter.size() + 2;
  while (true) {
    auto headEnd = body.find("\r\n\r\n", at);
    if (headEnd == std::string::npos) return std::nullopt;
    std::string head = body.substr(at, headEnd - at);
    auto next = body.find("\r\n" + delimiter, headEnd + 4);
    if (next == std::string::npos) return std::nullopt;
    auto namePos = head.find("name=\"");
    if (namePos == std::string::npos) return std::nullopt;
    auto nameEnd = head.find('"', namePos + 6);
    if (nameEnd == std::string::npos) return std::nullopt;
    parts[head.substr(namePos + 6, nameEnd - namePos - 6)] = body.substr(headEnd + 4, next - headEnd - 4);
    at = next + 2 + delimiter.size();
    if (body.compare(at, 4, "--\r\n") == 0) return parts;
    if (body.compare(at, 2, "\r\n") != 0) return std::nullopt;
    at += 2;
  }
}

TwitterService::TwitterService()
    : server_(authority_.issueForHosts({"api.twitter.com", "upload.twitter.com", "api-ssl.bitly.com"})) {
  tokenSecrets_["rt"] = "rs";
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
}

TwitterService::~TwitterService() {
  server_.stop();
  ApplicationEnvironment::shared().setTestHostMap({});
  ApplicationEnvironment::shared().setExtraTrustAnchor(std::nullopt);
}

bool TwitterService::start() {
  if (!server_.start()) return false;
  const auto port = static_cast<std::uint16_t>(server_.port());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{"api.twitter.com", port}, {"upload.twitter.com", port}, {"api-ssl.bitly.com", port}});
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

void TwitterService::failNext(int status, std::string body, bool upload) {
  std::lock_guard lock(mutex_);
  (upload ? nextUploadReply_ : nextStatusReply_) = std::make_pair(status, std::move(body));
}

void TwitterService::revokeAccessTokens() {
  std::lock_guard lock(mutex_);
  for (auto it = tokenSecrets_.begin(); it != tokenSecrets_.end();) {
    it = it->first.rfind("at", 0) == 0 ? tokenSecrets_.erase(it) : std::next(it);
  }
}

void TwitterService::refuseEverything(bool refuse) {
  std::lock_guard lock(mutex_);
  refuseEverything_ = refuse;
}

void TwitterService::setShortenReply(std::string body) {
  std::lock_guard lock(mutex_);
  shortenReply_ = std::move(body);
}

std::vector<RecordedRequest> TwitterService::requestsTo(const std::string& path) const {
  std::vector<RecordedRequest> out;
  for (auto& request : server_.requests()) {
    if (request.path() == path) out.push_back(request);
  }
  return out;
}

std::vector<std::string> TwitterService::statuses() const {
  std::lock_guard lock(mutex_);
  return statuses_;
}
std::vector<std::string> TwitterService::follows() const {
  std::lock_guard lock(mutex_);
  return follows_;
}
std::vector<std::string> TwitterService::longURLs() const {
  std::lock_guard lock(mutex_);
  return longURLs_;
}
std::vector<std::pair<std::size_t, std::string>> TwitterService::uploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}
int TwitterService::signatureFailures() const {
  std::lock_guard lock(mutex_);
  return signatureFailures_;
}
std::string TwitterService::lastComplaint() const {
  std::lock_guard lock(mutex_);
  return lastComplaint_;
}

void TwitterService::complain(FaultServer::Connection& connection, int status, const std::string& why,
                              const std::string& body) {
  {
    std::lock_guard lock(mutex_);
    lastComplaint_ = why;
  }
  connection.send(reply(status, "application/json; charset=utf-8", body));
}

bool TwitterService::verified(const RecordedRequest& request, FaultServer::Connection& connection) {
  std::map<std::string, std::string> secrets;
  bool refuse = false;
  {
    std::lock_guard lock(mutex_);
    secrets = tokenSecrets_;
    refuse = refuseEverything_;
  }
  auto verdict = oauth_check::verifyRequest(request, kConsumerKey, kConsumerSecret, secrets);
  if (verdict.ok && !refuse) return true;
  if (!verdict.ok) {
    std::lock_guard lock(mutex_);
    // A revoked token is the service's business, not a signing fault.
    if (verdict.why != "unknown token") ++signatureFailures_;
  }
  complain(connection, 401, verdict.ok ? "refused" : verdict.why,
           "{\"error\":\"Could not authenticate with OAuth.\",\"request\":" + jsonString(request.path()) + "}");
  return false;
}

void TwitterService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const std::string path = request.path();
  const std::string host = hostOf(request);

  if (host == "api-ssl.bitly.com" && path == "/v3/shorten" && request.method == "GET") {
    auto query = oauth_check::decodeForm(queryOf(request));
    if (query["login"] != kShortenLogin || query["apikey"] != kShortenKey ||
        query["format"] != "txt" || query["longUrl"].empty()) {
      complain(connection, 400, "bad shorten query " + request.target, "INVALID_LOGIN");
      return;
    }
    std::string body;
    {
      std::lock_guard lock(mutex_);
      longURLs_.push_back(query["longUrl"]);
      body = shortenReply_;
    }
    connection.send(reply(200, "text/plain", body));
    return;
  }

  if (host == "upload.twitter.com" && path == "/api/2/upload.xml" && request.method == "POST") {
    if (request.header("X-Auth-Service-Provider").value_or("") != kCredentialsURL) {
      complain(connection, 401, "wrong X-Auth-Service-Provider", "<errors><error code=\"401\"/></errors>");
      return;
    }
    std::map<std::string, std::string> secrets;
    {
      std::lock_guard lock(mutex_);
      secrets = tokenSecrets_;
    }
    auto echo = oauth_check::verify("GET", kCredentialsURL, "", "",
                                    request.header("X-Verify-Credentials-Authorization").value_or(""), kConsumerKey,
                                    kConsumerSecret, secrets);
    if (!echo.ok) {
      {
        std::lock_guard lock(mutex_);
        if (echo.why != "unknown token") ++signatureFailures_;
      }
      complain(connection, 401, "echo: " + echo.why,
               "<?xml version=\"1.0\"?><errors><error><code>401</code><message>Could not authenticate you"
               "</message></error></errors>");
      return;
    }
    if (!verified(request, connection)) return;
    auto type = request.header("Content-Type").value_or("");
    // The boundary is the one the request names, read as a peer would.
    const std::string prefix = "multipart/form-data; boundary=";
    auto parts = type.rfind(prefix, 0) == 0 && type.size() > prefix.size()
                     ? parseMultipartParts(request.body, type.substr(prefix.size()))
                     : std::nullopt;
    if (!parts || !parts->count("media") || !parts->count("message") ||
        parts->at("media").compare(0, 3, "\xFF\xD8\xFF") != 0) {
      complain(connection, 400, "bad upload body", "<errors><error>bad media</error></errors>");
      return;
    }
    std::optional<std::pair<int, std::string>> failure;
    {
      std::lock_guard lock(mutex_);
      uploads_.emplace_back(parts->at("media").size(), parts->at("message"));
      failure.swap(nextUploadReply_);
    }
    if (failure) {
      connection.send(reply(failure->first, "text/xml", failure->second));
      return;
    }
    connection.send(reply(200, "text/xml",
                          "<?xml version=\"1.0\"?><image><id>p1</id><url>https://pic.example/p1</url></image>"));
    return;
  }

  if (host != "api.twitter.com") {
    complain(connection, 404, "unknown host " + host, "{}");
    return;
  }

  if (path == "/oauth/authorize" && request.method == "GET") {
    auto query = oauth_check::decodeForm(queryOf(request));
    if (query["oauth_token"] != "rt") {
      complain(connection, 400, "authorize without the request token", "bad token");
      return;
    }
    connection.send(reply(302, "text/html", "",
                          std::string("Location: ") + kCallback + "?oauth_token=rt&oauth_verifier=v%20r\r\n"));
    return;
  }

  if (!verified(request, connection)) return;

  if (path == "/oauth/request_token" && request.method == "POST") {
    connection.send(reply(200, "text/plain", "oauth_token=rt&oauth_token_secret=rs&oauth_callback_confirmed=true"));
    return;
  }
  if (path == "/oauth/access_token" && request.method == "POST") {
    auto form = oauth_check::decodeForm(request.body);
    auto verdict = oauth_check::verifyRequest(request, kConsumerKey, kConsumerSecret, {{"rt", "rs"}});
    if (form.count("x_auth_mode")) {
      if (form["x_auth_mode"] != "client_auth" || form["x_auth_username"] != kUser ||
          form["x_auth_password"] != kPassword || verdict.oauth.count("oauth_token")) {
        complain(connection, 401, "xAuth refused", "Invalid user name or password");
        return;
      }
    } else if (verdict.oauth["oauth_token"] != "rt" || verdict.oauth["oauth_verifier"] != "v r") {
      complain(connection, 401, "access token without request token and verifier", "Invalid request token");
      return;
    }
    std::string token;
    std::string secret;
    {
      std::lock_guard lock(mutex_);
      ++issued_;
      token = "at" + std::to_string(issued_);
      secret = "as+" + std::to_string(issued_) + "/";
      tokenSecrets_[token] = secret;
    }
    connection.send(reply(200, "text/plain",
                          "oauth_token=" + token + "&oauth_token_secret=" + oauth_check::encode(secret) +
                              "&user_id=7&screen_name=ada"));
    return;
  }
  if (path == "/1/statuses/update.json" && request.method == "POST") {
    auto form = oauth_check::decodeForm(request.body);
    if (request.header("Content-Type").value_or("").rfind("application/x-www-form-urlencoded", 0) != 0 ||
        !form.count("status")) {
      complain(connection, 400, "status update without a status", "{\"error\":\"Missing status\"}");
      return;
    }
    std::optional<std::pair<int, std::string>> failure;
    {
      std::lock_guard lock(mutex_);
      failure.swap(nextStatusReply_);
      if (!failure) statuses_.push_back(form["status"]);
    }
    if (failure) {
      connection.send(reply(failure->first, "application/json", failure->second));
      return;
    }
    connection.send(reply(200, "application/json", "{\"id\":1,\"text\":" + jsonString(form["status"]) + "}"));
    return;
  }
  if (path == "/1/account/verify_credentials.json" && request.method == "GET") {
    connection.send(reply(200, "application/json",
                          "{\"id\":7,\"screen_name\":\"ada\",\"url\":null,\"status\":{\"text\":\"hi\",\"place\":null}}"));
    return;
  }
  if (path.rfind("/1/friendships/create/", 0) == 0 && path.ends_with(".json") && request.method == "POST") {
    {
      std::lock_guard lock(mutex_);
      follows_.push_back(path.substr(22, path.size() - 22 - 5));
    }
    connection.send(reply(200, "application/json", "{\"id\":9}"));
    return;
  }
  complain(connection, 404, "unknown route " + request.method + " " + path, "{\"error\":\"Not found\"}");
}

}  // namespace zv::testing
