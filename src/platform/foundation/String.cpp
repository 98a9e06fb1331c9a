#include "platform/foundation/String.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <locale.h>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/KeyedHash.h"
#include "platform/foundation/Unicode.h"

namespace zv {

std::size_t hashText(std::string_view utf8) { return static_cast<std::size_t>(keyedHash(utf8)); }

Ref<String> String::make(std::string_view utf8) {
  return std::make_shared<String>(unicode::sanitizeUTF8(utf8));
}

Ref<String> String::make(std::string&& utf8) {
  if (!unicode::isValidUTF8(utf8)) return std::make_shared<String>(unicode::sanitizeUTF8(utf8));
  return std::make_shared<String>(std::move(utf8));
}

Ref<String> String::fromUTF8(std::string_view bytes) {
  if (!unicode::isValidUTF8(bytes)) return nullptr;
  return std::make_shared<String>(std::string(bytes));
}

Ref<String> String::fromUTF16(std::u16string_view utf16) {
  return std::make_shared<String>(unicode::fromUTF16(utf16));
}

bool String::isASCII() const {
  for (unsigned char c : text_)
    if (c >= 0x80) return false;
  return true;
}

std::size_t String::length() const { return isASCII() ? text_.size() : unicode::utf16Length(text_); }

std::u16string String::utf16() const { return unicode::toUTF16(text_); }

char16_t String::characterAtIndex(std::size_t index) const {
  if (isASCII()) {
    if (index >= text_.size())
      Exception::raise(kRangeException, format("-[String characterAtIndex:]: Range or index out of bounds"));
    return static_cast<char16_t>(text_[index]);
  }
  std::u16string units = utf16();
  if (index >= units.size())
    Exception::raise(kRangeException, format("-[String characterAtIndex:]: Range or index out of bounds"));
  return units[index];
}

Ref<String> String::substring(std::size_t location, std::size_t length) const {
  if (isASCII()) {
    if (location > text_.size() || length > text_.size() - location)
      Exception::raise(kRangeException, format("-[String substringWithRange:]: Range {%zu, %zu} out of bounds; string length %zu",
                                               location, length, text_.size()));
    return std::make_shared<String>(text_.substr(location, length));
  }
  std::u16string units = utf16();
  if (location > units.size() || length > units.size() - location)
    Exception::raise(kRangeException, format("-[String substringWithRange:]: Range {%zu, %zu} out of bounds; string length %zu",
                                             location, length, units.size()));
  return fromUTF16(std::u16string_view(units).substr(location, length));
}

Ref<String> String::substringFromIndex(std::size_t location) const {
  std::size_t n = this->length();
  if (location > n) Exception::raise(kRangeException, format("-[String substringFromIndex:]: Index %zu out of bounds; string length %zu", location, n));
  return substring(location, n - location);
}

Ref<String> String::substringToIndex(std::size_t location) const { return substring(0, location); }

std::size_t String::utf8OffsetOfUTF16Index(std::size_t index) const {
  const char* begin = text_.data();
  const char* p = begin;
  const char* end = begin + text_.size();
  std::size_t units = 0;
  while (p < end && units < index) {
    char32_t cp = unicode::decodeUTF8(p, end);
    units += cp >= 0x10000 ? 2 : 1;
  }
  return static_cast<std::size_t>(p - begin);
}

bool String::isCharacterBoundary(std::size_t index) const {
  const char* p = text_.data();
  const char* end = p + text_.size();
  std::size_t units = 0;
  while (p < end && units < index) units += unicode::decodeUTF8(p, end) >= 0x10000 ? 2 : 1;
  return units == index;
}

std::size_t String::utf16IndexOfUTF8Offset(std::size_t offset) const {
  if (offset > text_.size()) offset = text_.size();
  return unicode::utf16Length(std::string_view(text_).substr(0, offset));
}

namespace {

const char* skipSpace(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  return p;
}

locale_t cLocale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace

std::int64_t String::integerValue() const {
  const char* p = skipSpace(text_.c_str());
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  std::int64_t value = 0;
  bool overflow = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    int digit = *p - '0';
    if (value > (INT64_MAX - digit) / 10) {
      overflow = true;
      break;
    }
    value = value * 10 + digit;
  }
  if (overflow) return negative ? INT64_MIN : INT64_MAX;
  return negative ? -value : value;
}

std::int32_t String::intValue() const {
  std::int64_t v = integerValue();
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

double String::doubleValue() const {
  const char* p = skipSpace(text_.c_str());
  // Only decimal notation: hexadecimal floats, "inf" and "nan" read as 0 as they did on the host.
  const char* q = p;
  if (*q == '+' || *q == '-') ++q;
  if (!((*q >= '0' && *q <= '9') || (*q == '.' && q[1] >= '0' && q[1] <= '9'))) return 0.0;
  if (*q == '0' && (q[1] == 'x' || q[1] == 'X')) return 0.0;
  return strtod_l(p, nullptr, cLocale());
}

bool String::boolValue() const {
  const char* p = skipSpace(text_.c_str());
  if (*p == '+' || *p == '-') ++p;
  while (*p == '0') ++p;
  return *p == 'Y' || *p == 'y' || *p == 'T' || *p == 't' || (*p >= '1' && *p <= '9');
}

bool String::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* s = dynamic_cast<const String*>(&other);
  return s != nullptr && s->text_ == text_;
}

std::size_t String::hash() const { return hashText(text_); }

ObjectPtr String::mutableCopy() const { return MutableString::make(text_); }

Ref<MutableString> MutableString::make(std::string_view utf8) {
  return std::make_shared<MutableString>(unicode::sanitizeUTF8(utf8));
}

void MutableString::append(std::string_view utf8) { text_ += unicode::sanitizeUTF8(utf8); }

void MutableString::setString(std::string_view utf8) { text_ = unicode::sanitizeUTF8(utf8); }

}  // namespace zv
