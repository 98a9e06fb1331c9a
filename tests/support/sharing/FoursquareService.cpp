#include "support/sharing/FoursquareService.h"

#include <regex>

#include "platform/foundation/Format.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/sharing/FacebookService.h"

namespace zv::testing {

namespace {

std::string reply(int status, const std::string& body) {
  return format("HTTP/1.1 %d %s\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: %zu\r\n\r\n",
                status, status == 200 ? "OK" : "Error", body.size()) +
         body;
}

std::string jsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string venueJSON(const FoursquareService::Place& place) {
  return "{\"id\":" + jsonText(place.id) + ",\"name\":" + jsonText(place.name) + ",\"location\":{\"address\":" +
         jsonText(place.address) +
         "},\"categories\":[{\"icon\":\"https://ss.example.org/a.png\",\"primary\":false},"
         "{\"icon\":\"https://ss.example.org/b.png\",\"primary\":true}]}";
}

}  // namespace

FoursquareService::FoursquareService() : server_(authority_.issueForHosts({"api.foursquare.com", "foursquare.com"})) {
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
}

FoursquareService::~FoursquareService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  server_.stop();
  ApplicationEnvironment::shared().setTestHostMap({});
}

bool FoursquareService::start() {
  if (!server_.start()) return false;
  auto& environment = ApplicationEnvironment::shared();
  const auto port = static_cast<std::uint16_t>(server_.port());
  environment.setTestHostMap({{"api.foursquare.com", port}, {"foursquare.com", port}});
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

void FoursquareService::setOmitFragment(bool omit) {
  std::lock_guard lock(mutex_);
  omitFragment_ = omit;
}

void FoursquareService::setCallbackSpelling(std::string url) {
  std::lock_guard lock(mutex_);
  callbackSpelling_ = std::move(url);
}

void FoursquareService::holdSearches(std::string query) {
  std::lock_guard lock(mutex_);
  heldQuery_ = std::move(query);
}

void FoursquareService::releaseHeldSearches() {
  {
    std::lock_guard lock(mutex_);
    heldQuery_.reset();
  }
  released_.notify_all();
}

int FoursquareService::heldSearchesAnswered() const {
  std::lock_guard lock(mutex_);
  return heldAnswered_;
}

void FoursquareService::addToken(const std::string& token) {
  std::lock_guard lock(mutex_);
  tokens_.push_back(token);
}

void FoursquareService::setVenues(std::vector<Place> places) {
  std::lock_guard lock(mutex_);
  places_ = std::move(places);
}

void FoursquareService::failNext(const std::string& path, int status, const std::string& body) {
  std::lock_guard lock(mutex_);
  nextFailure_[path] = {status, body};
}

std::vector<std::map<std::string, std::string>> FoursquareService::calls(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto found = calls_.find(path);
  return found == calls_.end() ? std::vector<std::map<std::string, std::string>>() : found->second;
}

std::string FoursquareService::lastComplaint() const {
  std::lock_guard lock(mutex_);
  return lastComplaint_;
}

void FoursquareService::complain(FaultServer::Connection& connection, const std::string& why) {
  {
    std::lock_guard lock(mutex_);
    lastComplaint_ = why;
  }
  connection.send(reply(400, "{\"meta\":{\"code\":400,\"errorType\":\"param_error\"}}"));
}

void FoursquareService::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  const auto path = request.path();
  const auto at = request.target.find('?');
  const auto query = at == std::string::npos ? std::string() : request.target.substr(at + 1);
  // "+" is not a blank here: the client escapes blanks as %20.
  if (query.find('+') != std::string::npos) return complain(connection, "unescaped '+' in " + query);
  auto fields = FacebookService::decodeForm(query);
  {
    std::lock_guard lock(mutex_);
    if (path.starts_with("/oauth2/")) calls_[path].push_back(fields);
  }
  if (path == "/oauth2/authenticate") {
    if (fields["client_id"] != kClientId || fields["response_type"] != "token" || fields["redirect_uri"] != kRedirectURI) {
      return complain(connection, "login parameters: " + query);
    }
    const std::string page = "<html><head><title>Log In</title></head><body><form method=\"post\" action=\"/oauth2/grant\">"
                             "<input type=\"text\" name=\"email\" value=\"\"><input type=\"submit\" name=\"allow\" "
                             "value=\"Allow\"></form></body></html>";
    return connection.send(format("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %zu\r\n\r\n", page.size()) + page);
  }
  if (path == "/oauth2/grant") {
    std::string location;
    {
      std::lock_guard lock(mutex_);
      location = callbackSpelling_;
      if (!omitFragment_) location += "#access_token=" + tokens_.front();
    }
    return connection.send("HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
  }
  std::unique_lock lock(mutex_);
  calls_[path].push_back(fields);
  if (path == "/v2/venues/search" && heldQuery_ && fields["query"] == *heldQuery_) {
    released_.wait(lock, [&] { return !heldQuery_ || stopping_; });
    ++heldAnswered_;
  }
  if (auto failure = nextFailure_.find(path); failure != nextFailure_.end()) {
    auto [status, body] = failure->second;
    nextFailure_.erase(failure);
    lock.unlock();
    return connection.send(reply(status, body));
  }
  if (std::find(tokens_.begin(), tokens_.end(), fields["oauth_token"]) == tokens_.end()) {
    lock.unlock();
    return connection.send(reply(401, "{\"meta\":{\"code\":401,\"errorType\":\"invalid_auth\","
                                      "\"errorDetail\":\"OAuth token invalid or revoked.\"},\"response\":{}}"));
  }
  const auto places = places_;
  lock.unlock();
  if (fields["v"] != "20110927") return complain(connection, "version " + fields["v"]);
  if (!std::regex_match(fields["ll"], std::regex("-?[0-9]+\\.[0-9]{5},-?[0-9]+\\.[0-9]{5}"))) {
    return complain(connection, "ll " + fields["ll"]);
  }
  for (const char* name : {"llAcc", "alt", "altAcc"}) {
    if (!std::regex_match(fields[name], std::regex("-?[0-9]+\\.[0-9]{2}"))) {
      return complain(connection, std::string(name) + " " + fields[name]);
    }
  }
  if (path == "/v2/venues/search") {
    if (request.method != "GET") return complain(connection, "search by " + request.method);
    std::string list;
    for (const auto& place : places) {
      if (fields.contains("query") && place.name.find(fields["query"]) == std::string::npos) continue;
      list += (list.empty() ? "" : ",") + venueJSON(place);
    }
    return connection.send(reply(200, "{\"meta\":{\"code\":200},\"response\":{\"venues\":[" + list + "]}}"));
  }
  if (path == "/v2/checkins/add") {
    if (request.method != "POST") return complain(connection, "check-in by " + request.method);
    if (!request.body.empty()) return complain(connection, "check-in with a body");
    if (fields.contains("shout") && fields["shout"].empty()) return complain(connection, "empty shout");
    const bool known = std::any_of(places.begin(), places.end(), [&](const auto& p) { return p.id == fields["venueId"]; });
    if (!known) return connection.send(reply(400, "{\"meta\":{\"code\":400,\"errorType\":\"param_error\"}}"));
    return connection.send(reply(200, "{\"meta\":{\"code\":200},\"response\":{\"checkin\":{\"id\":\"c1\"}}}"));
  }
  connection.send(reply(404, "{\"meta\":{\"code\":404,\"errorType\":\"endpoint_error\"}}"));
}

}  // namespace zv::testing
