#include "platform/net/HTTPMessage.h"

#include <cctype>

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Values.h"

namespace zv::net {

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return ascii::equalsIgnoringCase(a, b); }

void HeaderFields::set(std::string_view name, std::string_view value) {
  bool placed = false;
  for (auto it = fields_.begin(); it != fields_.end();) {
    if (equalsIgnoringCase(it->first, name)) {
      if (!placed) {
        it->second = value;
        placed = true;
        ++it;
      } else {
        it = fields_.erase(it);
      }
    } else {
      ++it;
    }
  }
  if (!placed) fields_.emplace_back(std::string(name), std::string(value));
}

void HeaderFields::add(std::string_view name, std::string_view value) {
  fields_.emplace_back(std::string(name), std::string(value));
}

void HeaderFields::remove(std::string_view name) {
  std::erase_if(fields_, [&](const Field& field) { return equalsIgnoringCase(field.first, name); });
}

std::optional<std::string> HeaderFields::get(std::string_view name) const {
  for (const auto& field : fields_) {
    if (equalsIgnoringCase(field.first, name)) return field.second;
  }
  return std::nullopt;
}

std::vector<std::string> HeaderFields::getAll(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& field : fields_) {
    if (equalsIgnoringCase(field.first, name)) values.push_back(field.second);
  }
  return values;
}

Ref<Dictionary> HeaderFields::dictionary() const {
  auto result = MutableDictionary::make();
  std::vector<std::pair<std::string, std::string>> merged;
  for (const auto& field : fields_) {
    bool found = false;
    for (auto& entry : merged) {
      if (equalsIgnoringCase(entry.first, field.first)) {
        entry.second += ", " + field.second;
        found = true;
        break;
      }
    }
    if (!found) merged.emplace_back(field.first, field.second);
  }
  for (const auto& entry : merged) result->setObject(String::make(entry.second), entry.first);
  return result;
}

Ref<HTTPMessage> HTTPMessage::makeRequest(std::string_view method, Ref<URL> url, std::string_view version) {
  if (method.empty() || !url) return nullptr;
  for (char c : method) {
    if (std::isspace(static_cast<unsigned char>(c)) || std::iscntrl(static_cast<unsigned char>(c))) return nullptr;
  }
  auto message = std::make_shared<HTTPMessage>();
  message->isRequest_ = true;
  message->method_ = method;
  message->url_ = std::move(url);
  message->version_ = version == kHTTPVersion1_0 ? kHTTPVersion1_0 : kHTTPVersion1_1;
  return message;
}

Ref<HTTPMessage> HTTPMessage::makeResponse(int statusCode, std::string_view statusLine, std::string_view version) {
  auto message = std::make_shared<HTTPMessage>();
  message->isRequest_ = false;
  message->statusCode_ = statusCode;
  message->version_ = version;
  message->statusLine_ = statusLine;
  return message;
}

void HTTPMessage::setHeaderField(std::string_view name, std::optional<std::string_view> value) {
  if (value) {
    headers_.set(name, *value);
  } else {
    headers_.remove(name);
  }
}

std::string HTTPMessage::reasonPhrase() const {
  // "HTTP/1.1 200 OK": the text after the second space.
  auto first = statusLine_.find(' ');
  if (first == std::string::npos) return {};
  auto second = statusLine_.find(' ', first + 1);
  if (second == std::string::npos) return {};
  return statusLine_.substr(second + 1);
}

Ref<HTTPMessage> HTTPMessage::clone() const {
  auto message = std::make_shared<HTTPMessage>();
  message->isRequest_ = isRequest_;
  message->method_ = method_;
  message->url_ = url_;
  message->version_ = version_;
  message->headers_ = headers_;
  message->body_ = body_;
  message->statusCode_ = statusCode_;
  message->statusLine_ = statusLine_;
  message->headerComplete_ = headerComplete_;
  return message;
}

namespace {

// Header text must not smuggle a line break onto the wire.
std::string sanitizeHeaderText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '\0') continue;
    out.push_back(c);
  }
  return out;
}

// The absolute form a proxy is sent: scheme, host, port, path and query, never the user
// information (a password written into the URL) nor the fragment.
std::string absoluteFormTarget(const URL& url) {
  std::string target = url.scheme().value_or("http");
  target += "://";
  target += url.host().value_or("");
  if (url.port()) {
    target += ':';
    target += std::to_string(*url.port());
  }
  target += url.encodedPath().empty() ? "/" : url.encodedPath();
  if (url.query()) {
    target += '?';
    target += *url.query();
  }
  return target;
}

}  // namespace

std::string HTTPMessage::description() const {
  if (isRequest_) return "<HTTPMessage " + method_ + " " + loggableURLString(url_.get()) + ">";
  return "<HTTPMessage " + statusLine_ + ">";
}

std::string HTTPMessage::serializeRequestHead(bool absoluteForm) const {
  std::string target;
  if (url_) {
    if (absoluteForm) {
      target = absoluteFormTarget(*url_);
    } else {
      target = url_->encodedPath();
      if (target.empty()) target = "/";
      if (url_->query()) target += "?" + *url_->query();
    }
  }
  std::string head = sanitizeHeaderText(method_) + " " + sanitizeHeaderText(target) + " " + version_ + "\r\n";
  if (!headers_.contains("Host") && url_ && url_->host()) {
    std::string host = *url_->host();
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    if (url_->port()) host += ":" + std::to_string(*url_->port());
    head += "Host: " + sanitizeHeaderText(host) + "\r\n";
  }
  for (const auto& [name, value] : headers_.fields()) {
    head += sanitizeHeaderText(name) + ": " + sanitizeHeaderText(value) + "\r\n";
  }
  head += "\r\n";
  return head;
}

}  // namespace zv::net
