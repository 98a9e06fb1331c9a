#include "sharing/json/TextOrder.h"

#include <algorithm>

namespace zv {

bool lessInUTF16Order(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    // UTF-8 byte order is code point order. UTF-16 differs only where a supplementary character
    // (a surrogate pair, lead byte F0..F4) meets U+E000..U+FFFF (lead bytes EE, EF).
    if (x >= 0xF0 && (y == 0xEE || y == 0xEF)) return true;
    if (y >= 0xF0 && (x == 0xEE || x == 0xEF)) return false;
    return x < y;
  }
  return a.size() < b.size();
}

}  // namespace zv
