#include "support/sharing/EchoService.h"

#include "platform/foundation/Format.h"
#include "platform/foundation/URL.h"
#include "sharing/core/oauth/Base64.h"

namespace zv::testing {

namespace {

void answer(FaultServer::Connection& connection, int status, const char* reason, const std::string& body) {
  connection.send(format("HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: %zu\r\n\r\n",
                         status, reason, body.size()) +
                  body);
}

}  // namespace

EchoService::EchoService(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
  server_.route("/post", [this](const RecordedRequest& request, FaultServer::Connection& connection) {
    const auto expected = "Basic " + base64::base64EncodedString(*Data::make(user_ + ":" + password_));
    if (request.method != "POST" ||
        !request.header("Content-Type").value_or("").starts_with("application/x-www-form-urlencoded")) {
      answer(connection, 400, "Bad Request", "expected a form POST");
      return;
    }
    if (request.header("Authorization") != expected) {
      answer(connection, 401, "Unauthorized", "who are you?");
      return;
    }
    auto fields = formFields(request);
    auto content = fields.contains("text") ? fields["text"] : fields["url"];
    if (!fields.contains("title") || content.empty()) {
      answer(connection, 400, "Bad Request", "missing fields");
      return;
    }
    answer(connection, 200, "OK", "echo: " + fields["title"] + "|" + content);
  });
}

std::string EchoService::baseURL() const { return format("http://127.0.0.1:%d", server_.port()); }

std::map<std::string, std::string> EchoService::formFields(const RecordedRequest& request) {
  std::map<std::string, std::string> fields;
  std::string_view body = request.body;
  while (!body.empty()) {
    auto amp = body.find('&');
    auto pair = body.substr(0, amp);
    auto eq = pair.find('=');
    if (eq != std::string_view::npos) {
      std::string value(pair.substr(eq + 1));
      for (auto& c : value) {
        if (c == '+') c = ' ';
      }
      fields[std::string(pair.substr(0, eq))] = percentDecode(value).value_or("<bad escape>");
    }
    if (amp == std::string_view::npos) break;
    body.remove_prefix(amp + 1);
  }
  return fields;
}

int EchoService::acceptedPosts() const {
  int accepted = 0;
  const auto expected = "Basic " + base64::base64EncodedString(*Data::make(user_ + ":" + password_));
  for (const auto& request : server_.requests()) {
    if (request.path() == "/post" && request.header("Authorization") == expected) ++accepted;
  }
  return accepted;
}

}  // namespace zv::testing
