#pragma once
// A number made from decimal text that keeps the text's digits, as the second JSON library's
// parser produces. Its numeric value is the text read as a 64-bit integer when it is one that
// fits, else as a double; writers use the text itself.

#include <string>
#include <string_view>

#include "platform/foundation/Number.h"

namespace zv {

class DecimalNumber final : public Number {
 public:
  // nullptr unless `text` is a JSON number.
  static Ref<DecimalNumber> make(std::string_view text);

  std::string_view text() const { return inlineLength_ ? std::string_view(inline_, inlineLength_) : long_; }
  std::string description() const override { return std::string(text()); }

  DecimalNumber(NumberType type, std::int64_t i, std::uint64_t u, double d, std::string_view text);

 private:
  // Most numbers are short: keep their text in the object itself, so each costs one allocation.
  static constexpr std::size_t kInlineCapacity = 30;
  char inline_[kInlineCapacity];
  std::uint8_t inlineLength_ = 0;
  std::string long_;
};

}  // namespace zv
