#include "platform/ui/TextEditing.h"

#include "platform/foundation/String.h"
#include "platform/foundation/Unicode.h"

namespace zv::ui {

std::size_t utf16Length(std::string_view text) { return unicode::utf16Length(text); }

bool isCharacterRange(std::string_view text, TextRange range) {
  auto string = String::make(text);
  std::size_t length = string->length();
  if (range.location > length || range.length > length - range.location) return false;
  return string->isCharacterBoundary(range.location) && string->isCharacterBoundary(range.location + range.length);
}

TextRange lastCharacterRange(std::string_view text) {
  std::u16string units = unicode::toUTF16(text);
  std::size_t n = units.size();
  if (n == 0) return {0, 0};
  bool pair = n >= 2 && units[n - 1] >= 0xDC00 && units[n - 1] <= 0xDFFF && units[n - 2] >= 0xD800 &&
              units[n - 2] <= 0xDBFF;
  return pair ? TextRange{n - 2, 2} : TextRange{n - 1, 1};
}

bool replaceUTF16Range(std::string& text, TextRange range, std::string_view replacement) {
  if (!isCharacterRange(text, range)) return false;
  auto string = String::make(text);
  std::size_t start = string->utf8OffsetOfUTF16Index(range.location);
  std::size_t end = string->utf8OffsetOfUTF16Index(range.location + range.length);
  text = text.substr(0, start) + std::string(replacement) + text.substr(end);
  return true;
}

}  // namespace zv::ui
