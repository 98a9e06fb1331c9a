#include "sharing/core/oauth/OAuthEncoding.h"

#include "platform/foundation/AsciiText.h"
#include "platform/foundation/Unicode.h"

namespace zv::oauth_encoding {

std::string URLEncodedString(std::string_view text) { return percentEncode(text, "-._~"); }

std::optional<std::string> URLDecodedString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int high = text[i] == '%' && i + 2 < text.size() ? ascii::hexDigitValue(text[i + 1]) : -1;
    const int low = high >= 0 ? ascii::hexDigitValue(text[i + 2]) : -1;
    if (low < 0) {
      out.push_back(text[i]);
      continue;
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!unicode::isValidUTF8(out)) return std::nullopt;
  return out;
}

Ref<MutableDictionary> parametersFromQueryString(std::string_view query, std::size_t* undecodable) {
  auto parameters = MutableDictionary::make();
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view piece = query.substr(start, end - start);
    std::size_t equals = piece.find('=');
    if (equals != std::string_view::npos && piece.find('=', equals + 1) == std::string_view::npos) {
      auto name = URLDecodedString(piece.substr(0, equals));
      auto value = URLDecodedString(piece.substr(equals + 1));
      if (name && value) {
        parameters->setObject(String::make(*value), String::make(*name));
      } else if (undecodable) {
        ++*undecodable;
      }
    }
    start = end + 1;
  }
  return parameters;
}

void forEachFormPair(std::string_view source,
                     const std::function<void(std::string_view name, std::string_view value)>& visit) {
  while (true) {
    std::size_t amp = source.find('&');
    std::string_view piece = source.substr(0, amp);
    std::size_t eq = piece.find('=');
    std::string_view value = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
    visit(piece.substr(0, eq), value.substr(0, value.find('=')));
    if (amp == std::string_view::npos) break;
    source.remove_prefix(amp + 1);
  }
}

std::string URLStringWithoutQuery(const URL& url) {
  const std::string& text = url.absoluteString();
  return text.substr(0, text.find('?'));
}

}  // namespace zv::oauth_encoding
