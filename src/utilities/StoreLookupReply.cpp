#include "utilities/StoreLookupReply.h"

#include <cstdint>

namespace zv {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> readHex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    int digit = hexValue(text[at + i]);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return value;
}

void appendUTF8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | code >> 6));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | code >> 12));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | code >> 18));
    out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Reads the string whose opening quote is at text[at]; `end` is set past the closing quote.
// nullopt for an unterminated string. An escape that means nothing (a backslash before any other
// character, or "\u" without four hexadecimal digits) stays in the text as it stands.
std::optional<std::string> readString(std::string_view text, std::size_t at, std::size_t& end) {
  std::string value;
  std::size_t i = at + 1;
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      end = i + 1;
      return value;
    }
    if (c != '\\') {
      value.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    char escaped = text[i + 1];
    i += 2;
    switch (escaped) {
      case '"': value.push_back('"'); break;
      case '\\': value.push_back('\\'); break;
      case '/': value.push_back('/'); break;
      case 'b': value.push_back('\b'); break;
      case 'f': value.push_back('\f'); break;
      case 'n': value.push_back('\n'); break;
      case 'r': value.push_back('\r'); break;
      case 't': value.push_back('\t'); break;
      case 'u': {
        auto unit = readHex4(text, i);
        if (!unit) {
          value.append("\\u");
          break;
        }
        i += 4;
        std::uint32_t code = *unit;
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i] == '\\' && text[i + 1] == 'u') {
          auto low = readHex4(text, i + 2);
          if (low && *low >= 0xDC00 && *low < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
            i += 6;
          }
        }
        if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;  // a lone surrogate
        appendUTF8(value, code);
        break;
      }
      default:
        value.push_back('\\');
        value.push_back(escaped);
        break;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> valueForKeyInJSON(std::string_view key, std::string_view json) {
  std::size_t i = 0;
  while (i < json.size()) {
    if (json[i] != '"') {
      ++i;
      continue;
    }
    std::size_t afterString = 0;
    auto name = readString(json, i, afterString);
    if (!name) return std::nullopt;
    i = afterString;
    std::size_t j = i;
    while (j < json.size() && isSpace(json[j])) ++j;
    if (j >= json.size() || json[j] != ':' || *name != key) continue;  // a value, or another member
    ++j;
    while (j < json.size() && isSpace(json[j])) ++j;
    if (j >= json.size()) return std::nullopt;
    if (json[j] == '"') {
      std::size_t end = 0;
      return readString(json, j, end);
    }
    std::size_t start = j;
    while (j < json.size() && !isSpace(json[j]) && json[j] != ',' && json[j] != '}' && json[j] != ']') ++j;
    if (j >= json.size() || j == start) return std::nullopt;  // broke off, or an empty value
    std::string_view scalar = json.substr(start, j - start);
    if (scalar == "null" || scalar.front() == '{' || scalar.front() == '[') return std::nullopt;
    return std::string(scalar);
  }
  return std::nullopt;
}

int compareNumerically(std::string_view left, std::string_view right) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < left.size() && j < right.size()) {
    if (isDigit(left[i]) && isDigit(right[j])) {
      std::size_t endLeft = i, endRight = j;
      while (endLeft < left.size() && isDigit(left[endLeft])) ++endLeft;
      while (endRight < right.size() && isDigit(right[endRight])) ++endRight;
      // Compare the runs without leading zeros: longer is larger, else digit by digit.
      std::size_t a = i, b = j;
      while (a + 1 < endLeft && left[a] == '0') ++a;
      while (b + 1 < endRight && right[b] == '0') ++b;
      if (endLeft - a != endRight - b) return endLeft - a < endRight - b ? -1 : 1;
      int order = left.substr(a, endLeft - a).compare(right.substr(b, endRight - b));
      if (order != 0) return order < 0 ? -1 : 1;
      i = endLeft;
      j = endRight;
      continue;
    }
    if (left[i] != right[j]) return static_cast<unsigned char>(left[i]) < static_cast<unsigned char>(right[j]) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < left.size()) return 1;
  if (j < right.size()) return -1;
  return 0;
}

}  // namespace zv
