#include "support/sharing/CredentialServices.h"

#include <cstring>

#include "platform/foundation/Format.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/oauth/Base64.h"

namespace zv::testing {

namespace {

constexpr std::size_t kLargestBody = 10 * 1024 * 1024;
const std::vector<std::string> kHosts = {"secure.diigo.com",   "api.pinboard.in",     "api.del.icio.us",
                                         "www.instapaper.com", "readitlaterlist.com", "www.google.com",
                                         "www.tumblr.com"};

const char* reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 413:
      return "Payload Too Large";
    case 500:
      return "Internal Server Error";
    default:
      return "Other";
  }
}

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::optional<std::string> CredentialCall::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (lower(key) == lower(name)) return value;
  }
  return std::nullopt;
}

CredentialServices::CredentialServices() : server_(authority_.issueForHosts(kHosts)) {
  server_.route("/", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    handle(request, connection);
  });
}

CredentialServices::~CredentialServices() { server_.stop(); }

bool CredentialServices::start() {
  if (!server_.start()) return false;
  const auto port = static_cast<std::uint16_t>(server_.port());
  std::map<std::string, std::uint16_t> map;
  for (const auto& host : kHosts) map[host] = port;
  auto& environment = ApplicationEnvironment::shared();
  environment.setTestHostMap(map);
  environment.setExtraTrustAnchor(authority_.certificatePEM());
  return true;
}

void CredentialServices::failNext(const std::string& host, int status, std::vector<std::string> headerLines,
                                  std::string body) {
  std::lock_guard lock(mutex_);
  failures_[host] = Answer{status, std::move(headerLines), std::move(body)};
}

std::vector<CredentialCall> CredentialServices::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<CredentialCall> CredentialServices::callsTo(const std::string& path) const {
  std::vector<CredentialCall> found;
  for (auto& call : calls()) {
    if (call.path == path) found.push_back(call);
  }
  return found;
}

std::string CredentialServices::lastComplaint() const {
  std::lock_guard lock(mutex_);
  return lastComplaint_;
}

CredentialServices::Answer CredentialServices::complain(const std::string& why) {
  lastComplaint_ = why;
  return Answer{400, {}, "stand-in: " + why};
}

void CredentialServices::handle(const RecordedRequest& request, FaultServer::Connection& connection) {
  CredentialCall call;
  call.host = request.header("Host").value_or("");
  if (auto colon = call.host.find(':'); colon != std::string::npos) call.host.resize(colon);
  call.method = request.method;
  call.headers = request.headers;
  call.rawBody = request.body;
  auto question = request.target.find('?');
  call.path = request.target.substr(0, question);
  if (question != std::string::npos) call.rawQuery = request.target.substr(question + 1);
  for (auto& [name, value] : FacebookService::decodeForm(call.rawQuery)) call.fields[name] = value;
  if (auto auth = request.header("Authorization"); auth && auth->starts_with("Basic ")) {
    std::size_t length = 0;
    auto bytes = Base64DecodeBytes(auth->data() + 6, auth->size() - 6, &length);
    std::string pair(reinterpret_cast<const char*>(bytes.get()), bytes ? length : 0);
    auto colon = pair.find(':');
    call.basicUser = pair.substr(0, colon);
    if (colon != std::string::npos) call.basicPassword = pair.substr(colon + 1);
  }

  Answer result;
  {
    std::lock_guard lock(mutex_);
    if (auto failure = failures_.find(call.host); failure != failures_.end()) {
      result = failure->second;
      failures_.erase(failure);
    } else {
      result = answer(call);
    }
    call.status = result.status;
    calls_.push_back(call);
  }
  std::string head = format(
      "HTTP/1.1 %d %s\r\nContent-Type: text/plain; "
      "charset=utf-8\r\nContent-Length: %zu\r\n",
      result.status, reason(result.status), result.body.size());
  for (const auto& line : result.headers) head += line + "\r\n";
  connection.send(head + "\r\n" + result.body);
}

CredentialServices::Answer CredentialServices::answer(CredentialCall& call) {
  const std::string contentType = call.header("Content-Type").value_or("");
  if (call.rawBody.size() > kLargestBody) return Answer{413, {}, "too large"};
  if (contentType.starts_with("multipart/form-data; boundary=")) {
    std::string why;
    // The first delimiter may come after an empty preamble line ("\r\n--boundary").
    std::string_view body = call.rawBody;
    if (body.starts_with("\r\n")) body.remove_prefix(2);
    auto parts = FacebookService::parseMultipart(
        std::string(body), contentType.substr(std::strlen("multipart/form-data; boundary=")), &why);
    if (!parts) return complain("multipart: " + why);
    for (auto& part : *parts) {
      if (part.filename) {
        call.parts.push_back(part);
      } else {
        if (call.fields.contains(part.name)) return complain("part " + part.name + " twice");
        call.fields[part.name] = part.body;
      }
    }
  } else if (call.method == "POST" && !call.rawBody.empty()) {
    if (contentType != "application/x-www-form-urlencoded") return complain("form without its content type");
    for (auto& [name, value] : FacebookService::decodeForm(call.rawBody)) {
      if (call.fields.contains(name)) return complain("field " + name + " twice");
      call.fields[name] = value;
    }
  }
  auto field = [&](const char* name) { return call.fields.contains(name) ? call.fields[name] : std::string("\x01"); };
  const bool formLogin = field("username") == kUser && field("password") == kPassword;

  // Bookmark services: Basic authentication first.
  if (call.host == "secure.diigo.com" || call.host == "api.pinboard.in" || call.host == "api.del.icio.us") {
    if (!call.basicUser) return Answer{401, {"WWW-Authenticate: Basic realm=\"API\""}, "login required"};
    if (*call.basicUser != kUser || call.basicPassword != std::optional<std::string>(kPassword)) {
      return Answer{401, {"WWW-Authenticate: Basic realm=\"API\""}, "bad login"};
    }
    if (call.host == "secure.diigo.com") {
      if (field("key") != kApiKey) return complain("diigo key");
      if (call.path == "/api/v2/bookmarks" && call.method == "GET") {
        if (field("user") != kUser || field("count") != "1") return complain("diigo check fields");
        return Answer{200, {}, "[]"};
      }
      if (call.path == "/api/v2/bookmarks" && call.method == "POST") {
        for (auto name : {"url", "title", "tags", "desc", "shared"}) {
          if (!call.fields.contains(name)) return complain(std::string("diigo lacks ") + name);
        }
        return Answer{200, {}, "{\"message\":\"added 1 bookmark\"}"};
      }
    }
    if (call.path == "/v1/posts/get") {
      if (call.host == "api.pinboard.in" && call.method != "POST") return complain("pinboard check must be POST");
      return Answer{200, {}, "<posts user=\"x\"/>"};
    }
    if (call.path == "/v1/posts/add" && call.method == "GET") {
      for (auto name : {"url", "description", "tags", "extended", "shared"}) {
        if (!call.fields.contains(name)) return complain(std::string("add lacks ") + name);
      }
      return Answer{200, {}, "<result><code>done</code></result>"};
    }
    return complain("unknown bookmark call " + call.path);
  }

  if (call.host == "www.instapaper.com") {
    if (call.method != "POST") return complain("instapaper wants POST");
    if (!formLogin) return Answer{403, {}, "403"};
    if (call.path == "/api/authenticate") return Answer{200, {}, "200"};
    if (call.path == "/api/add") {
      if (!call.fields.contains("url") || !call.fields.contains("title") || !call.fields.contains("selection")) {
        return complain("instapaper add fields");
      }
      return Answer{201, {}, "201"};
    }
  }
  if (call.host == "readitlaterlist.com") {
    if (call.method != "POST") return complain("read-later wants POST");
    if (field("apikey") != kApiKey) return Answer{401, {"X-Error: Invalid API key"}, ""};
    if (!formLogin) return Answer{401, {"X-Error: User was not found"}, ""};
    if (call.path == "/v2/auth") return Answer{200, {}, "200 OK"};
    if (call.path == "/v2/send") {
      if (!call.fields.contains("new")) return complain("send without new");
      return Answer{200, {}, "200 OK"};
    }
  }
  if (call.host == "www.google.com") {
    if (call.path == "/accounts/ClientLogin") {
      if (field("service") != "reader" || field("accountType") != "GOOGLE" ||
          !field("source").starts_with("Sharing-")) {
        return complain("client login fields");
      }
      if (field("Email") != kUser || field("Passwd") != kPassword) return Answer{403, {}, "Error=BadAuthentication\n"};
      return Answer{200, {}, std::string("SID=s1d\nLSID=ls1d\nAuth=") + kAuth + "\n"};
    }
    if (call.header("Authorization") != std::optional<std::string>(std::string("GoogleLogin auth=") + kAuth)) {
      return Answer{401, {}, "no auth"};
    }
    auto cookie = call.header("Cookie").value_or("");
    if (cookie.find(std::string("Auth=") + kAuth) == std::string::npos || cookie.find("SID=s1d") == std::string::npos) {
      return complain("session cookies missing: " + cookie);
    }
    if (call.path == "/reader/api/0/token" && call.method == "GET")
      return Answer{200, {}, std::string(kEditToken) + "\n"};
    if (call.path == "/reader/api/0/item/edit" && call.method == "POST") {
      if (field("T") != kEditToken) return Answer{400, {"X-Error: Invalid token"}, ""};
      return Answer{200, {}, "OK"};
    }
  }
  if (call.host == "www.tumblr.com") {
    if (call.method != "POST") return complain("tumblr wants POST");
    if (field("email") != kUser || field("password") != kPassword) return Answer{403, {}, "Invalid credentials."};
    if (call.path == "/api/authenticate") return Answer{200, {}, "<tumblr version=\"1.0\"/>"};
    if (call.path == "/api/write") {
      if (!call.fields.contains("type") || !call.fields.contains("private")) return complain("tumblr write fields");
      return Answer{201, {}, "12345"};
    }
  }
  return complain("unknown call " + call.host + call.path);
}

}  // namespace zv::testing
