#include "support/sharing/FlickrService.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Format.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/sharing/FacebookService.h"
#include "support/sharing/OAuthVerifier.h"

namespace zv::testing {

namespace {

std::string reply(int status, const std::string& contentType, const std::string& body,
                  const std::string& extra = {}) {
  return format("HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n%s\r\n", status,
                status == 200 ? "OK" : "Found", contentType.c_str(), body.size(), extra.c_str()) +
         body;
}

std::string xml(const std::string& inner) {
  return reply(200, "text/xml; charset=utf-8", "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<rsp stat=\"ok\">\n" +
                                                   inner + "\n</rsp>\n");
}

std::string xmlError(int code, const std::string& message) {
  return reply(200, "text/xml; charset=utf-8",
               format("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<rsp stat=\"fail\">\n"
                      "\t<err code=\"%d\" msg=\"%s\" />\n</rsp>\n",
                      code, message.c_str()));
}

std::string attribute(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else if (c == '<') out += "&lt;";
    else out += c;
  }
  return out;
}

std::string queryPart(const std::string& target) {
  const auto mark = target.find('?');
  return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

// Pairs of a query or form body, decoded as a service's form reader does ("+" is a blank).
std::multimap<std::string, std::string> pairsOf(const std::string& text) {
  std::multimap<std::string, std::string> out;
  for (auto& pair : oauth_check::decodePairs(text, /*plusIsBlank=*/true)) out.insert(std::move(pair));
  return out;
}

}  // namespace

FlickrService::FlickrService(std::string apiKey, std::string secret)
    : apiKey_(std::move(apiKey)),
      secret_(std::move(secret)),
      server_(authority_.issueForHosts({"api.flickr.com", "www.flickr.com"})) {
  for (const char* path : {"/services/rest/", "/services/upload/", "/services/oauth/request_token",
                           "/services/oauth/access_token", "/services/auth/"}) {
    server_.route(path, [this](const RecordedRequest& request, FaultServer::Connection& connection) {
      handle(request, connection);
    });
  }
}

FlickrService::~FlickrService() { server_.stop(); }

bool FlickrService::start() {
  if (!server_.start()) return false;
  const auto port = static_cast<std::uint16_t>(server_.port());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{"api.flickr.com", port}, {"www.flickr.com", port}});
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

void FlickrService::setCallbackURL(std::string url) {
  std::lock_guard lock(mutex_);
  callbackURL_ = std::move(url);
}

std::string FlickrService::issueToken() {
  std::lock_guard lock(mutex_);
  tokens_.push_back(format("72157-%d-tok", ++counter_));
  return tokens_.back();
}

void FlickrService::invalidateTokens() {
  std::lock_guard lock(mutex_);
  tokens_.clear();
}

void FlickrService::setGroups(std::vector<std::pair<std::string, std::string>> groups) {
  std::lock_guard lock(mutex_);
  groups_ = std::move(groups);
}

void FlickrService::refuseGroup(const std::string& nsid) {
  std::lock_guard lock(mutex_);
  refusingGroups_.insert(nsid);
}

void FlickrService::failMethod(const std::string& method, int code) {
  std::lock_guard lock(mutex_);
  failures_[method] = code;
}

void FlickrService::setNextRESTReply(std::string body) {
  std::lock_guard lock(mutex_);
  nextRESTReply_ = std::move(body);
}

void FlickrService::setOAuthTokens(std::string requestToken, std::string requestSecret, std::string accessToken,
                                   std::string accessSecret) {
  std::lock_guard lock(mutex_);
  requestToken_ = std::move(requestToken);
  requestSecret_ = std::move(requestSecret);
  accessToken_ = std::move(accessToken);
  accessSecret_ = std::move(accessSecret);
}

void FlickrService::setOAuthReplyBody(std::optional<std::string> body) {
  std::lock_guard lock(mutex_);
  oauthReplyBody_ = std::move(body);
}

std::vector<FlickrService::Call> FlickrService::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> FlickrService::complaints() const {
  std::lock_guard lock(mutex_);
  return complaints_;
}

std::vector<std::pair<std::string, std::string>> FlickrService::uploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}

void FlickrService::complain(const std::string& why) { complaints_.push_back(why); }

std::string FlickrService::md5Signature(const std::string& secret, const std::map<std::string, std::string>& arguments) {
  std::string text = secret;
  for (const auto& [name, value] : arguments) {
    if (name != "api_sig") text += name + value;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) hex += format("%02x", digest[i]);
  return hex;
}

std::string FlickrService::rfc3986(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') out += static_cast<char>(c);
    else out += format("%%%02X", c);
  }
  return out;
}

std::string FlickrService::oauthSignature(const std::string& method, const std::string& baseURL,
                                          const std::multimap<std::string, std::string>& parameters,
                                          const std::string& consumerSecret, const std::string& tokenSecret) {
  std::vector<std::pair<std::string, std::string>> encoded;
  for (const auto& [name, value] : parameters) {
    if (name != "oauth_signature") encoded.emplace_back(rfc3986(name), rfc3986(value));
  }
  std::sort(encoded.begin(), encoded.end());
  std::string normalized;
  for (const auto& [name, value] : encoded) normalized += (normalized.empty() ? "" : "&") + name + "=" + value;
  const std::string base = method + "&" + rfc3986(baseURL) + "&" + rfc3986(normalized);
  const std::string key = rfc3986(consumerSecret) + "&" + rfc3986(tokenSecret);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(base.data()),
       base.size(), digest, &length);
  unsigned char text[64] = {};
  const int written = EVP_EncodeBlock(text, digest, static_cast<int>(length));
  return std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(written));
}

// Empty when the request verifies; else why not. Locked by the caller.
std::string FlickrService::verify(const std::string& method, const std::string& baseURL,
                                  const std::multimap<std::string, std::string>& parameters, std::string& scheme) {
  std::map<std::string, std::string> flat(parameters.begin(), parameters.end());
  if (flat.contains("oauth_signature")) {
    scheme = "oauth";
    if (flat["oauth_consumer_key"] != apiKey_) return "wrong consumer key";
    if (flat["oauth_signature_method"] != "HMAC-SHA1" || flat["oauth_version"] != "1.0") return "wrong OAuth method";
    std::string tokenSecret;
    if (flat.contains("oauth_token")) {
      if (flat["oauth_token"] == requestToken_) tokenSecret = requestSecret_;
      else if (flat["oauth_token"] == accessToken_) tokenSecret = accessSecret_;
      else return "unknown OAuth token";
    }
    if (oauthSignature(method, baseURL, parameters, secret_, tokenSecret) != flat["oauth_signature"]) {
      return "OAuth signature does not verify";
    }
    return {};
  }
  if (flat.contains("api_sig")) {
    scheme = "md5";
    if (flat["api_key"] != apiKey_) return "wrong api_key";
    if (md5Signature(secret_, flat) != flat["api_sig"]) return "api_sig does not verify";
    return {};
  }
  scheme = "none";
  return "unsigned request";
}

std::string FlickrService::restReply(const std::map<std::string, std::string>& arguments) {
  const auto method = arguments.contains("method") ? arguments.at("method") : std::string();
  if (auto failure = failures_.find(method); failure != failures_.end()) {
    return xmlError(failure->second, "Failure on demand");
  }
  auto tokenValid = [&] {
    auto token = arguments.find("auth_token");
    return token != arguments.end() && std::find(tokens_.begin(), tokens_.end(), token->second) != tokens_.end();
  };
  const std::string user = format("<user nsid=\"%s\" username=\"%s\" fullname=\"Ada L\" />", kUserNSID, kUserName);
  if (method == "flickr.auth.getToken") {
    auto frob = arguments.find("frob");
    if (frob == arguments.end() || std::find(frobs_.begin(), frobs_.end(), frob->second) == frobs_.end()) {
      return xmlError(108, "Invalid frob");
    }
    tokens_.push_back(format("72157-%d-tok", ++counter_));
    return xml("<auth>\n<token>" + tokens_.back() + "</token>\n<perms>write</perms>\n" + user + "\n</auth>");
  }
  if (method == "flickr.test.echo") {
    std::string attributes;
    for (const auto& [name, value] : arguments) attributes += " " + name + "=\"" + attribute(value) + "\"";
    return xml("<echo" + attributes + " />");
  }
  if (!tokenValid()) return xmlError(98, "Invalid auth token");
  if (method == "flickr.auth.checkToken") {
    return xml("<auth>\n<token>" + arguments.at("auth_token") + "</token>\n<perms>write</perms>\n" + user + "\n</auth>");
  }
  if (method == "flickr.groups.pools.getGroups") {
    std::string list;
    for (const auto& [nsid, name] : groups_) {
      list += "<group" + (nsid.empty() ? std::string() : " nsid=\"" + nsid + "\"") + " name=\"" + attribute(name) +
              "\" />\n";
    }
    return xml("<groups>\n" + list + "</groups>");
  }
  if (method == "flickr.groups.pools.add") {
    if (!arguments.contains("photo_id") || !arguments.contains("group_id")) return xmlError(1, "Missing argument");
    const auto& group = arguments.at("group_id");
    if (std::none_of(groups_.begin(), groups_.end(), [&](const auto& entry) { return entry.first == group; })) {
      return xmlError(2, "Group not found");
    }
    if (refusingGroups_.contains(group)) return xmlError(5, "Photo limit reached");
    return xml("");
  }
  return xmlError(112, "Method not found");
}

void FlickrService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  std::lock_guard lock(mutex_);
  const auto path = request.path();
  const std::string baseURL = "https://" + request.header("Host").value_or("") + path;
  std::multimap<std::string, std::string> parameters = pairsOf(queryPart(request.target));
  Call call{request.method, path, {}, "none"};

  if (path == "/services/upload/") {
    const auto type = request.header("Content-Type").value_or("");
    const auto mark = type.find("boundary=");
    std::string why;
    auto parts = mark == std::string::npos
                     ? std::nullopt
                     : FacebookService::parseMultipart(request.body + "\r\n", type.substr(mark + 9), &why);
    if (!parts) {
      complain("bad multipart body: " + why);
      return connection.send(xmlError(5, "Filetype was not recognised"));
    }
    std::optional<std::pair<std::string, std::string>> photo;
    for (const auto& part : *parts) {
      if (part.name == "photo") photo = std::make_pair(part.filename.value_or(""), part.body);
      else parameters.emplace(part.name, part.body);
    }
    call.arguments = std::map<std::string, std::string>(parameters.begin(), parameters.end());
    auto why2 = verify("POST", baseURL, parameters, call.signatureScheme);
    calls_.push_back(call);
    if (!why2.empty()) {
      complain(why2);
      return connection.send(xmlError(96, "Invalid signature"));
    }
    if (!photo) return connection.send(xmlError(2, "No photo specified"));
    if (call.signatureScheme == "md5" &&
        std::find(tokens_.begin(), tokens_.end(), call.arguments["auth_token"]) == tokens_.end()) {
      return connection.send(xmlError(98, "Invalid auth token"));
    }
    uploads_.push_back(*photo);
    return connection.send(xml(format("<photoid>%d</photoid>", 4000 + ++counter_)));
  }

  if (request.method == "POST") {
    if (request.header("Content-Type").value_or("") != "application/x-www-form-urlencoded") {
      complain("POST without a form content type");
    }
    for (auto& pair : pairsOf(request.body)) parameters.insert(pair);
  }
  call.arguments = std::map<std::string, std::string>(parameters.begin(), parameters.end());
  auto why = verify(request.method, baseURL, parameters, call.signatureScheme);
  calls_.push_back(call);
  if (!why.empty()) {
    complain(path + ": " + why);
    return connection.send(path == "/services/rest/" ? xmlError(96, "Invalid signature")
                                                     : reply(401, "text/plain", "oauth_problem=signature_invalid"));
  }

  if (path == "/services/rest/") {
    if (nextRESTReply_) {
      auto body = std::move(*nextRESTReply_);
      nextRESTReply_.reset();
      return connection.send(reply(200, "text/xml", body));
    }
    return connection.send(restReply(call.arguments));
  }
  if (path == "/services/oauth/request_token") {
    if (oauthReplyBody_) return connection.send(reply(200, "text/plain", *oauthReplyBody_));
    return connection.send(reply(200, "text/plain", "oauth_callback_confirmed=true&oauth_token=" + requestToken_ +
                                                        "&oauth_token_secret=" + rfc3986(requestSecret_)));
  }
  if (path == "/services/oauth/access_token") {
    if (call.arguments["oauth_token"] != requestToken_ || call.arguments["oauth_verifier"].empty()) {
      return connection.send(reply(401, "text/plain", "oauth_problem=token_rejected"));
    }
    return connection.send(reply(200, "text/plain",
                                 "fullname=Ada%20L&oauth_token=" + accessToken_ + "&oauth_token_secret=" +
                                     rfc3986(accessSecret_) + "&user_nsid=" + rfc3986(kUserNSID) +
                                     "&username=" + kUserName));
  }
  // The web login: "perms" must be asked for.
  if (call.arguments["perms"] != "write") complain("login without write permission");
  frobs_.push_back(format("frob-%d", ++counter_));
  connection.send(reply(302, "text/html", "", "Location: " + callbackURL_ + "?frob=" + frobs_.back() + "\r\n"));
}

}  // namespace zv::testing
