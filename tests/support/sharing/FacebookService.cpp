#include "support/sharing/FacebookService.h"

#include <ctime>
#include <regex>

#include "platform/foundation/Format.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/json/JSONDecoder.h"
#include "sharing/services/html/HTMLAdditions.h"
#include "support/sharing/OAuthVerifier.h"

namespace zv::testing {

namespace {

constexpr std::size_t kLargestBody = 10 * 1024 * 1024;

std::string reply(int status, const char* reason, const std::string& contentType, const std::string& body,
                  const std::vector<std::string>& extra = {}) {
  std::string head = format("HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n", status, reason,
                            contentType.c_str(), body.size());
  for (const auto& line : extra) head += line + "\r\n";
  return head + "\r\n" + body;
}

std::string json(int status, const std::string& body) {
  return reply(status, status == 200 ? "OK" : "Bad Request", "text/javascript; charset=UTF-8", body);
}

std::string redirect(const std::string& location, const std::vector<std::string>& extra = {}) {
  auto fields = extra;
  fields.push_back("Location: " + location);
  return reply(302, "Found", "text/html", "", fields);
}

std::string page(const std::string& title, const std::string& body) {
  return reply(200, "OK", "text/html; charset=utf-8",
               "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>");
}

std::string htmlEscape(std::string_view text) { return html::html_stringByEscapingForHTML(text); }
std::string htmlUnescape(const std::string& text) { return html::html_stringByUnescapingFromHTML(text); }

std::string queryOf(const RecordedRequest& request) {
  auto mark = request.target.find('?');
  return mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
}

std::string hiddenFields(const std::map<std::string, std::string>& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    out += "<input type=\"hidden\" name=\"" + htmlEscape(name) + "\" value=\"" + htmlEscape(value) + "\">";
  }
  return out;
}

}  // namespace

FacebookService::FacebookService(std::string appId)
    : appId_(std::move(appId)),
      server_(authority_.issueForHosts({"graph.facebook.com", "api.facebook.com", "m.facebook.com"})) {
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
}

FacebookService::~FacebookService() {
  server_.stop();
  ApplicationEnvironment::shared().setTestHostMap({});
  ApplicationEnvironment::shared().setExtraTrustAnchor(std::nullopt);
}

bool FacebookService::start() {
  if (!server_.start()) return false;
  const auto port = static_cast<std::uint16_t>(server_.port());
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap({{"graph.facebook.com", port}, {"api.facebook.com", port}, {"m.facebook.com", port}});
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

std::string FacebookService::newTokenLocked() {
  const int n = ++counter_;
  auto token = format("EAAT%dZx%d", n, n * 7919);
  validTokens_.insert(token);
  issued_.push_back(token);
  return token;
}

std::string FacebookService::issueToken() {
  std::lock_guard lock(mutex_);
  return newTokenLocked();
}

void FacebookService::expireToken(const std::string& token) {
  std::lock_guard lock(mutex_);
  validTokens_.erase(token);
  expiredTokens_.insert(token);
}

void FacebookService::setLoginExpiresIn(std::optional<long> seconds) {
  std::lock_guard lock(mutex_);
  loginExpiresIn_ = seconds;
}

void FacebookService::setStallDialogs(bool stall) {
  std::lock_guard lock(mutex_);
  stallDialogs_ = stall;
}

void FacebookService::failNextGraphCall(int status, std::string contentType, std::string body, std::string path) {
  std::lock_guard lock(mutex_);
  nextGraphFailure_.emplace(status, std::move(contentType), std::move(body), std::move(path));
}

std::vector<RecordedRequest> FacebookService::requestsTo(const std::string& path) const {
  std::vector<RecordedRequest> found;
  for (const auto& request : server_.requests()) {
    if (request.path() == path) found.push_back(request);
  }
  return found;
}

std::vector<FacebookPost> FacebookService::posts() const {
  std::lock_guard lock(mutex_);
  return posts_;
}

std::vector<std::string> FacebookService::issuedTokens() const {
  std::lock_guard lock(mutex_);
  return issued_;
}

std::string FacebookService::lastComplaint() const {
  std::lock_guard lock(mutex_);
  return lastComplaint_;
}

std::string FacebookService::tokenState(const std::optional<std::string>& token) const {
  if (!token) return "unknown";
  if (validTokens_.contains(*token)) return "valid";
  if (expiredTokens_.contains(*token)) return "expired";
  return "unknown";
}

void FacebookService::complain(FaultServer::Connection& connection, const std::string& why) {
  {
    std::lock_guard lock(mutex_);
    lastComplaint_ = why;
  }
  connection.send(json(400, "{\"error\":{\"message\":\"stand-in: " + why + "\",\"type\":\"StandIn\",\"code\":100}}"));
}

std::map<std::string, std::string> FacebookService::decodeForm(std::string_view text) {
  return oauth_check::decodeForm(text);
}

std::optional<std::vector<MultipartPart>> FacebookService::parseMultipart(const std::string& body,
                                                                          const std::string& boundary,
                                                                          std::string* why) {
  auto fail = [&](std::string text) -> std::optional<std::vector<MultipartPart>> {
    if (why) *why = std::move(text);
    return std::nullopt;
  };
  const std::string opening = "--" + boundary + "\r\n";
  const std::string separator = "\r\n--" + boundary + "\r\n";
  const std::string closing = "\r\n--" + boundary + "--\r\n";
  if (!body.starts_with(opening)) return fail("the body does not open with the boundary");
  if (!body.ends_with(closing)) return fail("the body has no closing boundary");
  std::vector<MultipartPart> parts;
  std::size_t at = opening.size();
  const std::size_t end = body.size() - closing.size();
  while (at <= end) {
    auto next = body.find(separator, at);
    if (next == std::string::npos || next > end) next = end;
    std::string_view part(body.data() + at, next - at);
    auto blank = part.find("\r\n\r\n");
    if (blank == std::string_view::npos) return fail("a part has no header");
    MultipartPart parsed;
    std::string_view headers = part.substr(0, blank);
    parsed.body = std::string(part.substr(blank + 4));
    std::smatch match;
    std::string headerText(headers);
    if (!std::regex_search(headerText, match, std::regex("Content-Disposition: form-data; name=\"([^\"]*)\"")))
      return fail("a part has no name");
    parsed.name = match[1];
    if (std::regex_search(headerText, match, std::regex("; filename=\"([^\"]*)\""))) parsed.filename = match[1];
    if (std::regex_search(headerText, match, std::regex("Content-Type: ([^\r\n]*)"))) parsed.contentType = match[1];
    parts.push_back(std::move(parsed));
    if (next == end) break;
    at = next + separator.size();
  }
  return parts;
}

void FacebookService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const auto host = request.header("Host").value_or("");
  if (host.starts_with("m.facebook.com")) {
    handleDialog(request, connection);
  } else if (host.starts_with("graph.facebook.com") || host.starts_with("api.facebook.com")) {
    handleGraph(request, connection);
  } else {
    connection.send(reply(404, "Not Found", "text/plain", "no such host here\n"));
  }
}

void FacebookService::handleGraph(const RecordedRequest& request, FaultServer::Connection& connection) {
  const bool rest = request.header("Host").value_or("").starts_with("api.facebook.com");
  const auto path = request.path();
  if (request.body.size() > kLargestBody) {
    return connection.send(reply(413, "Request Entity Too Large", "text/html",
                                 "<html><body><h1>413 Request Entity Too Large</h1></body></html>"));
  }
  if (request.header("User-Agent") != "FacebookConnect") return complain(connection, "wrong User-Agent");

  std::map<std::string, std::string> fields;
  std::vector<MultipartPart> files;
  if (request.method == "POST") {
    if (!queryOf(request).empty()) return complain(connection, "a POST with parameters in its URL");
    const auto type = request.header("Content-Type").value_or("");
    const std::string multipart = "multipart/form-data; boundary=";
    if (!type.starts_with(multipart) || type.size() == multipart.size()) return complain(connection, "not multipart");
    std::string why;
    auto parts = parseMultipart(request.body, type.substr(multipart.size()), &why);
    if (!parts) return complain(connection, why);
    for (auto& part : *parts) {
      if (part.filename) {
        files.push_back(std::move(part));
      } else {
        fields[part.name] = part.body;
      }
    }
  } else if (request.method == "GET") {
    fields = decodeForm(queryOf(request));
  } else {
    return complain(connection, "unexpected method " + request.method);
  }
  if (fields["format"] != "json" || fields["sdk"] != "ios" || fields["sdk_version"] != "2") {
    return complain(connection, "format, sdk or sdk_version missing");
  }

  std::unique_lock lock(mutex_);
  if (nextGraphFailure_ && (std::get<3>(*nextGraphFailure_).empty() || std::get<3>(*nextGraphFailure_) == path)) {
    auto [status, type, body, ignored] = *nextGraphFailure_;
    nextGraphFailure_.reset();
    lock.unlock();
    connection.send(reply(status, status >= 500 ? "Internal Server Error" : (status == 200 ? "OK" : "Bad Request"),
                          type, body));
    return;
  }
  const auto token = fields.contains("access_token") ? std::optional(fields["access_token"]) : std::nullopt;
  const auto state = tokenState(token);
  if (state == "expired") {
    lock.unlock();
    if (rest) return connection.send(json(200, "{\"error_code\":190,\"error_msg\":\"Session has expired\"}"));
    return connection.send(json(400, "{\"error\":{\"message\":\"Error validating access token: Session has expired\","
                                      "\"type\":\"OAuthException\",\"code\":190}}"));
  }
  if (state != "valid") {
    lock.unlock();
    if (rest) return connection.send(json(200, "{\"error_code\":102,\"error_msg\":\"Session key invalid\"}"));
    return connection.send(json(400, "{\"error\":{\"message\":\"An active access token must be used\","
                                      "\"type\":\"OAuthException\",\"code\":2500}}"));
  }

  if (rest && path == "/method/auth.extendSSOAccessToken" && request.method == "GET") {
    auto fresh = newTokenLocked();
    lock.unlock();
    const long expiresAt = static_cast<long>(std::time(nullptr)) + 5184000;
    return connection.send(json(200, format("{\"access_token\":\"%s\",\"expires_at\":%ld}", fresh.c_str(), expiresAt)));
  }
  if (!rest && path == "/me" && request.method == "GET") {
    lock.unlock();
    return connection.send(
        json(200, std::string("{\"id\":\"") + kUserId + "\",\"name\":\"Ada Lovelace\",\"email\":null,\"locale\":\"en_GB\"}"));
  }
  if (!rest && path == "/me/apprequestformerrecipients" && request.method == "GET") {
    lock.unlock();
    return connection.send(json(200, "{\"data\":[{\"recipient_id\":\"11\"},{\"recipient_id\":22},"
                                     "{\"recipient_id\":{\"nested\":1}},\"stray\",{\"recipient_id\":\"33\"}]}"));
  }
  if (!rest && path == "/me/feed" && request.method == "POST") {
    if (!fields.contains("message")) {
      lock.unlock();
      return complain(connection, "a status without a message");
    }
    auto actions = JSONDecoder::decoder()->objectWithData(Data::make(fields["actions"]));
    auto object = dyn<Dictionary>(actions);
    if (!object || !object->stringForKey("name") || !object->stringForKey("link")) {
      lock.unlock();
      return complain(connection, "\\\"actions\\\" is not a JSON object with a name and a link");
    }
    posts_.push_back({path, fields, files});
    const int id = ++counter_;
    lock.unlock();
    return connection.send(json(200, format("{\"id\":\"%s_%d\"}", kUserId, id)));
  }
  if (!rest && path == "/me/photos" && request.method == "POST") {
    const MultipartPart* picture = nullptr;
    for (const auto& file : files) {
      if (file.name == "picture") picture = &file;
    }
    if (!picture || picture->contentType != "image/png" || !picture->body.starts_with("\x89PNG\r\n\x1a\n")) {
      lock.unlock();
      return complain(connection, "no PNG file part named picture");
    }
    posts_.push_back({path, fields, files});
    const int id = ++counter_;
    lock.unlock();
    return connection.send(json(200, format("{\"id\":\"%d\",\"post_id\":\"%s_%d\"}", id, kUserId, id)));
  }
  lock.unlock();
  connection.send(json(404, "{\"error\":{\"message\":\"Unknown path components: " + path +
                                "\",\"type\":\"OAuthException\",\"code\":2500}}"));
}

void FacebookService::handleDialog(const RecordedRequest& request, FaultServer::Connection& connection) {
  const auto path = request.path();
  bool stall = false;
  {
    std::lock_guard lock(mutex_);
    stall = stallDialogs_;
  }
  if (stall) return connection.stallUntilStopped();

  auto query = decodeForm(queryOf(request));
  auto form = request.method == "POST" ? decodeForm(request.body) : std::map<std::string, std::string>{};

  auto loginPage = [](const std::map<std::string, std::string>& hidden, const std::string& note) {
    return page("Log In", note + "<form method=\"post\" action=\"/dialog/oauth/submit\">" + hiddenFields(hidden) +
                              "<input type=\"text\" name=\"email\" value=\"\">"
                              "<input type=\"password\" name=\"pass\" value=\"\">"
                              "<input type=\"submit\" name=\"login\" value=\"Log In\">"
                              "<input type=\"submit\" name=\"cancel\" value=\"Cancel\"></form>"
                              "<a href=\"https://m.facebook.com/recover\">Forgot password?</a>");
  };
  if (path == "/dialog/oauth" && request.method == "GET") {
    if (query["client_id"] != appId_ || query["type"] != "user_agent" || query["redirect_uri"].empty()) {
      return connection.send(page("Error", "<p>An error occurred: bad login parameters.</p>"));
    }
    return connection.send(loginPage(
        {{"client_id", query["client_id"]}, {"redirect_uri", query["redirect_uri"]}, {"scope", query["scope"]}}, ""));
  }
  if (path == "/dialog/oauth/submit" && request.method == "POST") {
    const auto redirectURI = form["redirect_uri"];
    if (form.contains("cancel")) {
      return connection.send(redirect(redirectURI + "?error_reason=user_denied&error=access_denied"
                                      "&error_description=The+user+denied+your+request."));
    }
    if (form["email"] != kEmail || form["pass"] != kPassword) {
      return connection.send(loginPage({{"client_id", form["client_id"]}, {"redirect_uri", redirectURI}, {"scope", form["scope"]}},
                                       "<p>The password you entered is incorrect.</p>"));
    }
    std::string fragment;
    {
      std::lock_guard lock(mutex_);
      fragment = "#access_token=" + oauth_check::encode(newTokenLocked());
      if (loginExpiresIn_) fragment += format("&expires_in=%ld", *loginExpiresIn_);
    }
    return connection.send(redirect(redirectURI + fragment, {"Set-Cookie: c_user=4; Path=/",
                                                             "Set-Cookie: xs=31%3Asecret; Path=/; Secure; HttpOnly"}));
  }

  if (path == "/dialog/feed" || path == "/dialog/apprequests") {
    if (request.method != "GET") return connection.send(page("Error", "<p>Use GET.</p>"));
    const bool feed = path == "/dialog/feed";
    std::string token = query["access_token"];
    std::string state;
    {
      std::lock_guard lock(mutex_);
      state = tokenState(query.contains("access_token") ? std::optional(token) : std::nullopt);
    }
    if (query["app_id"] != appId_ || query["redirect_uri"] != "fbconnect://success" || query["display"] != "touch") {
      return connection.send(page("Error", "<p>An error occurred with this dialog's parameters.</p>"));
    }
    if (state == "expired") {
      return connection.send(redirect("fbconnect://success?error_code=190&error_msg=Error+validating+access+token"));
    }
    if (state != "valid") return connection.send(page("Log In", "<p>Please log in first.</p>"));
    std::map<std::string, std::string> hidden = query;
    hidden.erase("message");
    const auto action = feed ? "/dialog/feed/submit" : "/dialog/apprequests/submit";
    return connection.send(page(feed ? "Post to Wall" : "Send Requests",
                                std::string("<form method=\"post\" action=\"") + action + "\">" + hiddenFields(hidden) +
                                    "<textarea name=\"message\">" + htmlEscape(query["message"]) + "</textarea>"
                                    "<input type=\"submit\" name=\"publish\" value=\"Share\">"
                                    "<input type=\"submit\" name=\"skip\" value=\"Skip\"></form>"
                                    "<a href=\"fbconnect://cancel\">Cancel</a> "
                                    "<a href=\"https://m.facebook.com/help/dialogs\">Help</a>"));
  }
  if ((path == "/dialog/feed/submit" || path == "/dialog/apprequests/submit") && request.method == "POST") {
    if (form.contains("skip")) return connection.send(redirect("fbconnect://success"));
    std::string state;
    {
      std::lock_guard lock(mutex_);
      state = tokenState(form.contains("access_token") ? std::optional(form["access_token"]) : std::nullopt);
    }
    if (state == "expired") {
      return connection.send(redirect("fbconnect://success?error_code=190&error_msg=Error+validating+access+token"));
    }
    if (state != "valid") return connection.send(page("Log In", "<p>Please log in first.</p>"));
    if (path == "/dialog/feed/submit") {
      auto actions = JSONDecoder::decoder()->objectWithData(Data::make(form["actions"]));
      auto object = dyn<Dictionary>(actions);
      if (!object || !object->stringForKey("name") || !object->stringForKey("link") || form["link"].empty()) {
        return connection.send(page("Error", "<p>An error occurred: bad feed parameters.</p>"));
      }
    }
    int id;
    {
      std::lock_guard lock(mutex_);
      posts_.push_back({path, form, {}});
      id = ++counter_;
    }
    if (path == "/dialog/feed/submit") return connection.send(redirect(format("fbconnect://success?post_id=%s_%d", kUserId, id)));
    std::string location = format("fbconnect://success?request=%d", id);
    if (form["frictionless"] == "1") location += "&frictionless_recipients=%5B%2211%22%2C%2244%22%5D";
    return connection.send(redirect(location + "&to%5B0%5D=11"));
  }
  connection.send(reply(404, "Not Found", "text/html", "<html><body>Page not found</body></html>"));
}

Ref<net::URLRequest> FacebookService::formSubmission(const std::string& pageHTML, const Ref<URL>& pageURL,
                                                     const std::map<std::string, std::string>& fields,
                                                     const std::string& button) {
  std::smatch match;
  if (!std::regex_search(pageHTML, match, std::regex("<form method=\"post\" action=\"([^\"]*)\">([\\s\\S]*?)</form>"))) {
    return nullptr;
  }
  const std::string action = htmlUnescape(match[1]);
  const std::string inner = match[2];
  std::vector<std::pair<std::string, std::string>> values;
  std::regex input("<input type=\"(hidden|text|password)\" name=\"([^\"]*)\" value=\"([^\"]*)\">");
  for (std::sregex_iterator it(inner.begin(), inner.end(), input), end; it != end; ++it) {
    values.emplace_back(htmlUnescape((*it)[2]), htmlUnescape((*it)[3]));
  }
  std::regex textarea("<textarea name=\"([^\"]*)\">([\\s\\S]*?)</textarea>");
  for (std::sregex_iterator it(inner.begin(), inner.end(), textarea), end; it != end; ++it) {
    values.emplace_back(htmlUnescape((*it)[1]), htmlUnescape((*it)[2]));
  }
  for (auto& [name, value] : values) {
    if (auto typed = fields.find(name); typed != fields.end()) value = typed->second;
  }
  std::regex submit("<input type=\"submit\" name=\"([^\"]*)\" value=\"([^\"]*)\">");
  bool pressed = false;
  for (std::sregex_iterator it(inner.begin(), inner.end(), submit), end; it != end; ++it) {
    if ((*it)[1] == button) {
      values.emplace_back(button, htmlUnescape((*it)[2]));
      pressed = true;
    }
  }
  if (!pressed) return nullptr;
  std::string body;
  for (const auto& [name, value] : values) {
    body += (body.empty() ? "" : "&") + oauth_check::encode(name) + "=" + oauth_check::encode(value);
  }
  auto request = net::MutableURLRequest::requestWithURL(URL::make(action, pageURL));
  request->setHTTPMethod("POST");
  request->setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  request->setHTTPBody(Data::make(body));
  return request;
}

std::optional<std::string> FacebookService::linkNamed(const std::string& pageHTML, const std::string& text) {
  std::regex link("<a href=\"([^\"]*)\">([^<]*)</a>");
  for (std::sregex_iterator it(pageHTML.begin(), pageHTML.end(), link), end; it != end; ++it) {
    if ((*it)[2] == text) return htmlUnescape((*it)[1]);
  }
  return std::nullopt;
}

}  // namespace zv::testing
