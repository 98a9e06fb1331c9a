#include "sharing/json/DecimalNumber.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace zv {

DecimalNumber::DecimalNumber(NumberType type, std::int64_t i, std::uint64_t u, double d, std::string_view text)
    : Number(type, i, u, d) {
  if (!text.empty() && text.size() <= kInlineCapacity) {
    std::memcpy(inline_, text.data(), text.size());
    inlineLength_ = static_cast<std::uint8_t>(text.size());
  } else {
    long_.assign(text);
  }
}

Ref<DecimalNumber> DecimalNumber::make(std::string_view text) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (text.find_first_of(".eE") == std::string_view::npos) {
    std::int64_t i = 0;
    auto [end, ec] = std::from_chars(first, last, i);
    if (ec == std::errc() && end == last)
      return std::make_shared<DecimalNumber>(NumberType::LongLong, i, static_cast<std::uint64_t>(i),
                                             static_cast<double>(i), text);
    std::uint64_t u = 0;
    auto [uend, uec] = std::from_chars(first, last, u);
    if (uec == std::errc() && uend == last)
      return std::make_shared<DecimalNumber>(NumberType::UnsignedLongLong, static_cast<std::int64_t>(u), u,
                                             static_cast<double>(u), text);
  }
  double d = 0;
  auto [end, ec] = std::from_chars(first, last, d);
  if (end != last || text.empty()) return nullptr;
  // Out of a double's range the value saturates; the text keeps every digit.
  if (ec == std::errc::result_out_of_range) {
    const bool negative = text.front() == '-';
    const auto e = text.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && text.find('-', e) != std::string_view::npos;
    d = tiny ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
  } else if (ec != std::errc()) {
    return nullptr;
  }
  return std::make_shared<DecimalNumber>(NumberType::Double, 0, 0, d, text);
}

}  // namespace zv
