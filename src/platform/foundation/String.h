#pragma once
// Text as an object. Storage is UTF-8 and always well formed; lengths, indexes and ranges are
// counted in UTF-16 units, as the system's callers count characters.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"

namespace zv {

class String : public Object {
 public:
  // Ill-formed UTF-8 in `utf8` is replaced by U+FFFD.
  static Ref<String> make(std::string_view utf8 = {});
  static Ref<String> make(std::string&& utf8);
  static Ref<String> make(const char* utf8) { return make(std::string_view(utf8 ? utf8 : "")); }
  // nullptr when the bytes are not well-formed UTF-8 (decoding data as text that is not text).
  static Ref<String> fromUTF8(std::string_view bytes);
  // Lone surrogates become U+FFFD.
  static Ref<String> fromUTF16(std::u16string_view utf16);

  const std::string& utf8() const { return text_; }
  operator std::string_view() const { return text_; }
  bool empty() const { return text_.empty(); }
  bool isASCII() const;

  // UTF-16 view.
  std::size_t length() const;
  // Raises "NSRangeException" when index >= length().
  char16_t characterAtIndex(std::size_t index) const;
  std::u16string utf16() const;
  // The text of the UTF-16 range; raises "NSRangeException" when it runs past the end. A range that
  // splits a surrogate pair yields U+FFFD for the split half.
  Ref<String> substring(std::size_t location, std::size_t length) const;
  Ref<String> substringFromIndex(std::size_t location) const;
  Ref<String> substringToIndex(std::size_t location) const;
  // The UTF-8 offset of a UTF-16 index; an index inside a surrogate pair gives the offset after
  // the pair (see isCharacterBoundary), one past the end the text's size.
  std::size_t utf8OffsetOfUTF16Index(std::size_t index) const;
  std::size_t utf16IndexOfUTF8Offset(std::size_t offset) const;
  // Whether the UTF-16 index lies between two characters (0 and length() included): false inside
  // a surrogate pair and past the end. Edits by UTF-16 range check both ends with it.
  bool isCharacterBoundary(std::size_t index) const;

  bool hasPrefix(std::string_view prefix) const { return text_.starts_with(prefix); }
  bool hasSuffix(std::string_view suffix) const { return text_.ends_with(suffix); }
  bool isEqualToString(std::string_view other) const { return text_ == other; }

  // The platform's lenient numeric readings: leading white space and a sign are skipped, the
  // longest numeric prefix is read, anything else reads as 0; integers saturate.
  std::int32_t intValue() const;
  std::int64_t integerValue() const;
  std::int64_t longLongValue() const { return integerValue(); }
  float floatValue() const { return static_cast<float>(doubleValue()); }
  double doubleValue() const;
  // YES for a leading "Y", "y", "T", "t" or a non-zero digit (after white space, sign and zeros).
  bool boolValue() const;

  std::string description() const override { return text_; }
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;
  ObjectPtr copy() const override { return self(); }
  ObjectPtr mutableCopy() const override;

  explicit String(std::string text) : text_(std::move(text)) {}

 protected:
  std::string text_;
};

class MutableString : public String {
 public:
  static Ref<MutableString> make(std::string_view utf8 = {});
  void append(std::string_view utf8);
  void setString(std::string_view utf8);
  ObjectPtr copy() const override { return String::make(text_); }

  explicit MutableString(std::string text) : String(std::move(text)) {}
};

// The hash String uses, usable on raw text for heterogeneous lookups: keyed per process (see
// KeyedHash.h), so it differs between runs and must never be stored.
std::size_t hashText(std::string_view utf8);

}  // namespace zv
