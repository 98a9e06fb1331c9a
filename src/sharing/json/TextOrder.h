#pragma once
// The natural order of text as the platform compared strings: by UTF-16 code units. Both JSON
// writers sort keys with it.

#include <string_view>

namespace zv {

bool lessInUTF16Order(std::string_view a, std::string_view b);

}  // namespace zv
