#include "platform/ui/TextEditing.h"

#include "platform/foundation/String.h"
#include "platform/foundation/Unicode.h"

namespace zv::ui {

std::size_t utf16Length(std::string_view text) { return unicode::utf16Length(text); }

bool replaceUTF16Range(std::string& text, TextRange range, std::string_view replacement) {
  auto string = String::make(text);
  std::size_t length = string->length();
  if (range.location > length || range.length > length - range.location) return false;
  std::size_t start = string->utf8OffsetOfUTF16Index(range.location);
  std::size_t end = string->utf8OffsetOfUTF16Index(range.location + range.length);
  text = text.substr(0, start) + std::string(replacement) + text.substr(end);
  return true;
}

}  // namespace zv::ui
