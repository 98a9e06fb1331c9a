#include "platform/foundation/Unicode.h"

namespace zv::unicode {

char32_t decodeUTF8(const char*& p, const char* end) {
  auto byte = [](const char* q) { return static_cast<unsigned char>(*q); };
  unsigned char b0 = byte(p);
  if (b0 < 0x80) {
    ++p;
    return b0;
  }
  int need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++p;
    return kReplacementCharacter;
  }
  const char* q = p + 1;
  for (int i = 0; i < need; ++i) {
    if (q >= end) {
      p = q;
      return kReplacementCharacter;
    }
    unsigned char b = byte(q);
    if (b < lo || b > hi) {
      p = q;
      return kReplacementCharacter;
    }
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++q;
  }
  p = q;
  return cp;
}

void appendUTF8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementCharacter;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool isValidUTF8(std::string_view bytes) {
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    const char* start = p;
    char32_t cp = decodeUTF8(p, end);
    if (cp == kReplacementCharacter) {
      // A literal U+FFFD is three bytes EF BF BD; anything else that decoded to it was ill-formed.
      if (p - start != 3 || static_cast<unsigned char>(start[0]) != 0xEF) return false;
    }
  }
  return true;
}

std::string sanitizeUTF8(std::string_view bytes) {
  if (isValidUTF8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) appendUTF8(out, decodeUTF8(p, end));
  return out;
}

std::u16string toUTF16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const char* p = utf8.data();
  const char* end = p + utf8.size();
  while (p < end) {
    char32_t cp = decodeUTF8(p, end);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string fromUTF16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t u = utf16[i];
    if (isHighSurrogate(u) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
      appendUTF8(out, combineSurrogates(u, utf16[i + 1]));
      ++i;
    } else {
      appendUTF8(out, u);  // a lone surrogate becomes U+FFFD
    }
  }
  return out;
}

std::size_t utf16Length(std::string_view utf8) {
  std::size_t n = 0;
  const char* p = utf8.data();
  const char* end = p + utf8.size();
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      ++n;
      continue;
    }
    char32_t cp = decodeUTF8(p, end);
    n += cp >= 0x10000 ? 2 : 1;
  }
  return n;
}

}  // namespace zv::unicode
