#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv::oauth_encoding {

std::string URLEncodedString(std::string_view text) { return percentEncode(text, "-._~"); }

std::optional<std::string> URLDecodedString(std::string_view text) { return percentDecode(text); }

std::string URLStringWithoutQuery(const URL& url) {
  const std::string& text = url.absoluteString();
  return text.substr(0, text.find('?'));
}

}  // namespace zv::oauth_encoding
