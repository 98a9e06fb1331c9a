#pragma once
// ASCII-only text helpers for protocol tokens (header names, schemes, hosts, MIME types, hex
// escapes). Bytes outside ASCII pass through untouched, whatever the process locale says, so
// UTF-8 text is never altered. Pure; any thread.

#include <string>
#include <string_view>

namespace zv::ascii {

inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kWhitespace = " \t\r\n";

inline char toLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char toUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string lowercase(std::string_view text);
std::string uppercase(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

// `text` without leading and trailing bytes from `spaces`; a view into `text`.
std::string_view trim(std::string_view text, std::string_view spaces = kWhitespace);

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
int hexDigitValue(char c);

}  // namespace zv::ascii
