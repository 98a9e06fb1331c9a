#pragma once
// The platform's string-encoding numbers that requests use (form bodies, charset parameters,
// response text), their IANA charset names, and conversion of text between UTF-8 and each of them
// (through iconv). Pure functions; any thread.
//
// UTF-16 ("utf-16", number 10) is written big-endian without a byte-order mark, which RFC 2781
// makes the meaning of unmarked "utf-16" text, so pieces written one after the other join into
// one valid text; reading honours a leading mark of either order.

#include <optional>
#include <string>
#include <string_view>

namespace zv {

inline constexpr unsigned kASCIIStringEncoding = 1;
inline constexpr unsigned kJapaneseEUCStringEncoding = 3;
inline constexpr unsigned kShiftJISStringEncoding = 8;
inline constexpr unsigned kISOLatin2StringEncoding = 9;
inline constexpr unsigned kUnicodeStringEncoding = 10;
inline constexpr unsigned kWindowsCP1251StringEncoding = 11;
inline constexpr unsigned kWindowsCP1252StringEncoding = 12;
inline constexpr unsigned kUTF16BigEndianStringEncoding = 0x90000100;
inline constexpr unsigned kUTF16LittleEndianStringEncoding = 0x94000100;

// The IANA name ("utf-8", "iso-8859-1", "windows-1252", ...); nullopt for an unknown number.
std::optional<std::string> charsetNameForStringEncoding(unsigned encoding);
// The encoding an IANA charset name (any case, known aliases too) stands for; nullopt when unknown.
std::optional<unsigned> stringEncodingForCharsetName(std::string_view name);

// UTF-8 text in `encoding`. A character the encoding cannot hold becomes "?". nullopt for an
// unknown encoding or text that is not UTF-8.
std::optional<std::string> encodeString(std::string_view utf8, unsigned encoding);
// Bytes in `encoding` as UTF-8 text; nullopt when they are not valid in it (or it is unknown).
std::optional<std::string> decodeString(std::string_view bytes, unsigned encoding);

}  // namespace zv
