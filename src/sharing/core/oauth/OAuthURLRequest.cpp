#include "sharing/core/oauth/OAuthURLRequest.h"

#include <algorithm>
#include <cctype>

namespace zv {

namespace {
bool sameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}
}  // namespace

Ref<OAuthURLRequest> OAuthURLRequest::make(Ref<URL> url, CachePolicy cachePolicy, double timeoutInterval) {
  return std::make_shared<OAuthURLRequest>(std::move(url), cachePolicy, timeoutInterval);
}

OAuthURLRequest::OAuthURLRequest(Ref<URL> url, CachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

std::optional<std::string> OAuthURLRequest::valueForHTTPHeaderField(std::string_view name) const {
  for (const auto& [field, value] : headers_) {
    if (sameName(field, name)) return value;
  }
  return std::nullopt;
}

void OAuthURLRequest::setValueForHTTPHeaderField(std::optional<std::string_view> value, std::string_view name) {
  auto it = std::find_if(headers_.begin(), headers_.end(), [&](const auto& f) { return sameName(f.first, name); });
  if (!value) {
    if (it != headers_.end()) headers_.erase(it);
    return;
  }
  if (it != headers_.end()) {
    it->second = *value;
  } else {
    headers_.emplace_back(std::string(name), std::string(*value));
  }
}

std::string OAuthURLRequest::description() const {
  return "<" + className() + " " + method_ + " " + (url_ ? url_->absoluteString() : "(null)") + ">";
}

}  // namespace zv
