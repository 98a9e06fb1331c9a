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

  const std::string& text() const { return text_; }
  std::string description() const override { return text_; }

  DecimalNumber(NumberType type, std::int64_t i, std::uint64_t u, double d, std::string text)
      : Number(type, i, u, d), text_(std::move(text)) {}

 private:
  std::string text_;
};

}  // namespace zv
