#include "platform/net/URLResponse.h"

#include <map>

#include "platform/foundation/AsciiText.h"

namespace zv::net {

namespace {

std::string trim(std::string_view text) { return std::string(ascii::trim(text, ascii::kBlanks)); }

}  // namespace

Ref<URLResponse> URLResponse::make(Ref<zv::URL> url, std::optional<std::string> MIMEType,
                                   std::int64_t expectedContentLength, std::optional<std::string> textEncodingName) {
  return std::make_shared<URLResponse>(std::move(url), std::move(MIMEType), expectedContentLength,
                                       std::move(textEncodingName));
}

URLResponse::URLResponse(Ref<zv::URL> url, std::optional<std::string> mimeType, std::int64_t expectedContentLength,
                         std::optional<std::string> textEncodingName)
    : url_(std::move(url)), mimeType_(std::move(mimeType)), expectedContentLength_(expectedContentLength),
      textEncodingName_(std::move(textEncodingName)) {}

std::string URLResponse::suggestedFilename() const {
  if (url_) {
    std::string last = url_->lastPathComponent();
    if (!last.empty() && last != "/") return last;
  }
  return "index";
}

Ref<HTTPURLResponse> HTTPURLResponse::make(Ref<zv::URL> url, const HTTPMessage& head) {
  std::optional<std::string> mimeType, encoding;
  if (auto contentType = head.headerField("Content-Type")) {
    auto semicolon = contentType->find(';');
    mimeType = trim(contentType->substr(0, semicolon));
    mimeType = ascii::lowercase(*mimeType);
    auto charset = contentType->find("charset=");
    if (charset != std::string::npos) {
      std::string value = contentType->substr(charset + 8);
      value = trim(value.substr(0, value.find(';')));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      if (!value.empty()) encoding = value;
    }
  }
  std::int64_t length = -1;
  if (auto field = head.headerField("Content-Length"); field && !head.headerField("Content-Encoding")) {
    char* end = nullptr;
    long long value = std::strtoll(field->c_str(), &end, 10);
    if (end && *end == '\0' && value >= 0) length = value;
  }
  return std::make_shared<HTTPURLResponse>(std::move(url), head.statusCode(), head.headers(), mimeType, length,
                                           encoding);
}

HTTPURLResponse::HTTPURLResponse(Ref<zv::URL> url, int statusCode, HeaderFields headers,
                                 std::optional<std::string> mimeType, std::int64_t expectedContentLength,
                                 std::optional<std::string> textEncodingName)
    : URLResponse(std::move(url), std::move(mimeType), expectedContentLength, std::move(textEncodingName)),
      statusCode_(statusCode), headers_(std::move(headers)) {}

std::string HTTPURLResponse::suggestedFilename() const {
  if (auto disposition = headers_.get("Content-Disposition")) {
    auto position = disposition->find("filename=");
    if (position != std::string::npos) {
      std::string name = trim(disposition->substr(position + 9));
      name = name.substr(0, name.find(';'));
      if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.find('"', 1) - 1);
      // Only the last path component: a server must not steer where a file lands.
      auto slash = name.find_last_of("/\\");
      if (slash != std::string::npos) name = name.substr(slash + 1);
      if (!name.empty() && name != "." && name != "..") return name;
    }
  }
  return URLResponse::suggestedFilename();
}

std::string HTTPURLResponse::localizedStringForStatusCode(int statusCode) {
  static const std::map<int, const char*>& texts = *new std::map<int, const char*>{
      {100, "continue"}, {101, "switching protocols"}, {200, "no error"}, {201, "created"}, {202, "accepted"},
      {203, "non-authoritative information"}, {204, "no content"}, {205, "reset content"}, {206, "partial content"},
      {300, "multiple choices"}, {301, "moved permanently"}, {302, "found"}, {303, "see other"},
      {304, "not modified"}, {305, "needs proxy"}, {307, "temporarily redirected"}, {400, "bad request"},
      {401, "unauthorized"}, {402, "payment required"}, {403, "forbidden"}, {404, "not found"},
      {405, "method not allowed"}, {406, "unacceptable"}, {407, "proxy authentication required"},
      {408, "request timed out"}, {409, "conflict"}, {410, "no longer exists"}, {411, "length required"},
      {412, "precondition failed"}, {413, "request too large"}, {414, "requested URL too long"},
      {415, "unsupported media type"}, {416, "requested range not satisfiable"}, {417, "expectation failed"},
      {500, "internal server error"}, {501, "unimplemented"}, {502, "bad gateway"}, {503, "service unavailable"},
      {504, "gateway timed out"}, {505, "unsupported version"}};
  auto found = texts.find(statusCode);
  if (found != texts.end()) return found->second;
  if (statusCode >= 100 && statusCode < 200) return "informational";
  if (statusCode >= 200 && statusCode < 300) return "success";
  if (statusCode >= 300 && statusCode < 400) return "redirected";
  if (statusCode >= 400 && statusCode < 500) return "client error";
  if (statusCode >= 500 && statusCode < 600) return "server error";
  return "server error";
}

namespace {
// Made before main: a fork from another thread never finds the table half made.
[[maybe_unused]] const bool gStatusTextsMade = (HTTPURLResponse::localizedStringForStatusCode(200), true);
}  // namespace

}  // namespace zv::net
