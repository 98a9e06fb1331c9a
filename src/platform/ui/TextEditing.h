#pragma once
// Text edits counted in UTF-16 units, as text inputs and their delegates count them.

#include <string>
#include <string_view>

#include "platform/ui/Types.h"

namespace zv::ui {

std::size_t utf16Length(std::string_view text);
// Replaces `range` of `text`; false (and no change) when the range runs past the end.
bool replaceUTF16Range(std::string& text, TextRange range, std::string_view replacement);

}  // namespace zv::ui
