#pragma once
// Text edits counted in UTF-16 units, as text inputs and their delegates count them.

#include <string>
#include <string_view>

#include "platform/ui/Types.h"

namespace zv::ui {

std::size_t utf16Length(std::string_view text);
// Whether `range` lies within `text` and cuts no character in half (a character outside the Basic
// Multilingual Plane is a surrogate pair, two units).
bool isCharacterRange(std::string_view text, TextRange range);
// The range of the last character of `text` ({0, 0} for no text): what Backspace deletes.
TextRange lastCharacterRange(std::string_view text);
// Replaces `range` of `text`; false (and no change) unless isCharacterRange.
bool replaceUTF16Range(std::string& text, TextRange range, std::string_view replacement);

}  // namespace zv::ui
