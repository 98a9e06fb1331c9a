// HTML unescaping of arbitrary text: never crashes, keeps well-formed text well formed, and
// undoes the ASCII escaping of any well-formed text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/Unicode.h"
#include "sharing/services/html/HTMLAdditions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string unescaped = zv::html::html_stringByUnescapingFromHTML(text);
  bool wellFormed = zv::unicode::isValidUTF8(text);
  if (wellFormed && !zv::unicode::isValidUTF8(unescaped)) std::abort();

  std::string escaped = zv::html::html_stringByEscapingForAsciiHTML(text);
  for (unsigned char c : escaped) {
    if (c >= 0x80) std::abort();
  }
  // U+FFFF is escaped as a reference that unescaping deliberately leaves alone.
  if (wellFormed && text.find("\xEF\xBF\xBF") == std::string_view::npos &&
      zv::html::html_stringByUnescapingFromHTML(escaped) != text) {
    std::abort();
  }
  if (wellFormed && zv::html::html_stringByUnescapingFromHTML(zv::html::html_stringByEscapingForHTML(text)) != text) {
    std::abort();
  }
  return 0;
}
