#pragma once
// UTF-8 / UTF-16 conversion. Text is stored as UTF-8; the system counts characters in UTF-16
// units (as its host platform did), so lengths and indexes convert through these helpers.

#include <cstddef>
#include <string>
#include <string_view>

namespace zv::unicode {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes one UTF-8 sequence at p (p < end), advancing p. Ill-formed or truncated sequences
// (overlongs, surrogates, values above U+10FFFF) give U+FFFD and advance past the maximal
// ill-formed prefix, at least one byte.
char32_t decodeUTF8(const char*& p, const char* end);
void appendUTF8(std::string& out, char32_t codePoint);
bool isValidUTF8(std::string_view bytes);
// Replaces every ill-formed sequence with U+FFFD.
std::string sanitizeUTF8(std::string_view bytes);

std::u16string toUTF16(std::string_view utf8);
// Lone surrogates become U+FFFD.
std::string fromUTF16(std::u16string_view utf16);
// Number of UTF-16 units the UTF-8 text occupies.
std::size_t utf16Length(std::string_view utf8);

inline bool isHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
// The code point a high and a low surrogate stand for together.
inline char32_t combineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace zv::unicode
