// String tokens of the JSON decoder: a fast scan that finds the closing quote 16 bytes at a time,
// checks the non-ASCII sequences it meets, then hashes the value where it lies in the input; and a
// slow path that decodes escapes and ill-formed text into the token buffer.

#include <array>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/foundation/Unicode.h"
#include "sharing/json/JCParseOptions.h"
#include "sharing/json/JCParseState.h"
#include "sharing/json/JCUTF8.h"

namespace zv::detail {

namespace {

// ASCII bytes a string holds as they are: one table load decides the common case.
constexpr std::array<bool, 256> makePlainStringBytes() {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return plain;
}
constexpr std::array<bool, 256> kPlainStringByte = makePlainStringBytes();

// The first byte from p on that a plain run of string text cannot hold (a quote, a backslash, a
// control byte or a non-ASCII byte), or end when there is none.
inline const unsigned char* findStringSpecialByte(const unsigned char* p, const unsigned char* const end) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed bytes: non-ASCII ones are negative, so one comparison finds them and control bytes.
    const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                                         _mm_cmplt_epi8(bytes, space));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p < end && kPlainStringByte[*p]) ++p;
  return p;
}

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool JCParseState::parseString() {
  const unsigned char* const start = text_ + index_ + 1;
  const unsigned char* const end = text_ + length_;
  const unsigned char* p = start;
  for (;;) {
    p = findStringSpecialByte(p, end);
    if (p == end) break;
    const unsigned char c = *p;
    if (c == '"') {
      const auto length = static_cast<std::size_t>(p - start);
      token_.type = JCTokenTypeString;
      token_.value = start;
      token_.valueLength = length;
      token_.valueType = JCValueTypeString;
      token_.hash = jcStringHash(start, length);
      index_ = static_cast<std::size_t>(p + 1 - text_);
      token_.length = index_ - token_.start;
      return true;
    }
    if (c == '\\') return parseStringSlowly(start, p);
    if (c < 0x20) {
      index_ = static_cast<std::size_t>(p - text_);
      token_.length = index_ - token_.start;
      recordError("Invalid character < 0x20 found in string: 0x%2.2x.", c);
      return false;
    }
    const JCUTF8Sequence sequence = checkUTF8Sequence(p, end);  // c >= 0x80
    if (sequence.result != JCUTF8Result::WellFormed) return parseStringSlowly(start, p);
    p += sequence.length;
  }
  index_ = length_;
  token_.length = index_ - token_.start;
  recordError("Invalid string.");
  return false;
}

std::optional<std::uint32_t> JCParseState::hashOfStringToken(const unsigned char* text, std::size_t length) {
  text_ = text;
  length_ = length;
  index_ = 0;
  error_.reset();
  token_ = Token{};
  const bool parsed = length > 0 && text[0] == '"' && parseString();
  text_ = nullptr;
  length_ = 0;
  index_ = 0;
  if (!parsed) return std::nullopt;
  return token_.hash;
}

bool JCParseState::parseStringSlowly(const unsigned char* start, const unsigned char* p) {
  const unsigned char* const end = text_ + length_;
  const bool lenient = (options_ & JCParseLenientUnicode) != 0;
  std::string& out = tokenBuffer_;
  out.assign(reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start));

  auto fail = [&](const unsigned char* at, const char* message) {
    index_ = static_cast<std::size_t>(at - text_);
    token_.length = index_ - token_.start;
    recordError("%s", message);
    return false;
  };
  // Reads four hex digits at q; -1 on a bad digit (recorded), -2 at the end of the text.
  auto readQuad = [&](const unsigned char* q) -> long {
    long unit = 0;
    for (int i = 0; i < 4; ++i) {
      if (q + i >= end) return -2;
      const int v = hexValue(q[i]);
      if (v < 0) {
        index_ = static_cast<std::size_t>(q + i - text_);
        token_.length = index_ - token_.start;
        recordError(
            "Unexpected character found in \\u Unicode escape sequence.  Found '%c', expected [0-9a-fA-F].", q[i]);
        return -1;
      }
      unit = unit * 16 + v;
    }
    return unit;
  };
  auto writeCodePoint = [&](char32_t c, const unsigned char* at) {
    if (isIllegalJSONCodePoint(c)) {
      if (!lenient) return fail(at, "Illegal \\u Unicode escape sequence.");
      c = unicode::kReplacementCharacter;
    }
    unicode::appendUTF8(out, c);
    return true;
  };

  while (p < end) {
    const unsigned char c = *p;
    if (c == '"') {
      token_.type = JCTokenTypeString;
      token_.value = reinterpret_cast<const unsigned char*>(out.data());
      token_.valueLength = out.size();
      token_.valueType = JCValueTypeString;
      token_.hash = jcStringHash(token_.value, out.size());
      index_ = static_cast<std::size_t>(p + 1 - text_);
      token_.length = index_ - token_.start;
      return true;
    }
    if (c < 0x20) {
      index_ = static_cast<std::size_t>(p - text_);
      token_.length = index_ - token_.start;
      recordError("Invalid character < 0x20 found in string: 0x%2.2x.", c);
      return false;
    }
    if (c >= 0x80) {
      const JCUTF8Sequence sequence = checkUTF8Sequence(p, end);
      if (sequence.result == JCUTF8Result::WellFormed) {
        out.append(reinterpret_cast<const char*>(p), sequence.length);
      } else if (sequence.result == JCUTF8Result::CutShort) {
        return fail(p, "End of buffer reached while parsing UTF8 in \"\" string.");
      } else if (!lenient) {
        return fail(p, "Illegal UTF8 sequence found in \"\" string.");
      } else {
        unicode::appendUTF8(out, unicode::kReplacementCharacter);
      }
      p += sequence.length;
      continue;
    }
    if (c != '\\') {
      out.push_back(static_cast<char>(c));
      ++p;
      continue;
    }
    // An escape.
    if (p + 1 >= end) break;
    const unsigned char e = p[1];
    switch (e) {
      case '"': out.push_back('"'); p += 2; continue;
      case '\\': out.push_back('\\'); p += 2; continue;
      case '/': out.push_back('/'); p += 2; continue;
      case 'b': out.push_back('\b'); p += 2; continue;
      case 'f': out.push_back('\f'); p += 2; continue;
      case 'n': out.push_back('\n'); p += 2; continue;
      case 'r': out.push_back('\r'); p += 2; continue;
      case 't': out.push_back('\t'); p += 2; continue;
      case 'u': break;
      default: return fail(p + 1, "Invalid escape sequence found in \"\" string.");
    }
    const long first = readQuad(p + 2);
    if (first == -2) break;
    if (first < 0) return false;
    const unsigned char* const afterFirst = p + 6;
    const char32_t unit = static_cast<char32_t>(first);
    if (unit < 0xD800 || unit >= 0xE000) {
      if (!writeCodePoint(unit, p)) return false;
      p = afterFirst;
      continue;
    }
    if (unit >= 0xDC00) {  // a low surrogate with no high one before it
      if (!lenient) return fail(p, "Illegal \\u Unicode escape sequence.");
      unicode::appendUTF8(out, unicode::kReplacementCharacter);
      p = afterFirst;
      continue;
    }
    // A high surrogate: a second escape must follow.
    if (afterFirst >= end) break;
    if (afterFirst[0] != '\\' || afterFirst + 1 >= end || afterFirst[1] != 'u') {
      if (afterFirst[0] == '\\' && afterFirst + 1 >= end) break;
      if (!lenient)
        return fail(afterFirst, "Required a second \\u Unicode escape sequence following a surrogate \\u Unicode "
                                "escape sequence.");
      // The offending bytes are read again as plain text.
      unicode::appendUTF8(out, unicode::kReplacementCharacter);
      p = afterFirst;
      continue;
    }
    const long second = readQuad(afterFirst + 2);
    if (second == -2) break;
    if (second < 0) return false;
    const char32_t low = static_cast<char32_t>(second);
    if (low < 0xDC00 || low > 0xDFFF) {
      if (!lenient) return fail(afterFirst, "Illegal \\u Unicode escape sequence.");
      unicode::appendUTF8(out, unicode::kReplacementCharacter);
      p = afterFirst + 6;
      continue;
    }
    if (!writeCodePoint((unit << 10) + low - 0x35FDC00u, p)) return false;
    p = afterFirst + 6;
  }
  index_ = length_;
  token_.length = index_ - token_.start;
  recordError("Invalid string.");
  return false;
}

}  // namespace zv::detail
