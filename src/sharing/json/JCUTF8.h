#pragma once
// The one-sequence UTF-8 check shared by the JSON decoder (string tokens) and the serializer
// (escaping non-ASCII text), and the value hash step of the decoder's token cache.
// Pure functions; any thread.

#include <cstddef>
#include <cstdint>

namespace zv {

enum class JCUTF8Result { WellFormed, CutShort, IllFormed };

struct JCUTF8Sequence {
  JCUTF8Result result;
  std::size_t length;    // bytes consumed, at least 1
  char32_t codePoint;    // U+FFFD unless well formed
};

// Checks the sequence starting at p (p < end). Surrogates, U+FDD0..U+FDEF and code points ending
// in FFFE or FFFF are refused as ill formed: the decoder's strict mode rejects them on purpose.
JCUTF8Sequence checkUTF8Sequence(const unsigned char* p, const unsigned char* end);

// Whether a code point is one the decoder refuses (NUL, surrogates, noncharacters).
inline bool isIllegalJSONCodePoint(char32_t c) {
  return c == 0 || (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE ||
         c > 0x10FFFF;
}

inline constexpr std::uint32_t kJCStringHashStart = 0x539C1505u;

// One step of the value hash: ((h * 33) + c - 29) ^ (h >> 19). It is written so that h + c - 29
// forms beside h << 5, three dependent operations a byte instead of four; the empty asm keeps the
// compiler from folding the sum back into one chain.
inline std::uint32_t jcHashStep(std::uint32_t h, unsigned char c) {
  std::uint32_t low = h + (static_cast<std::uint32_t>(c) - 29u);
#if defined(__GNUC__)
  asm("" : "+r"(low));
#endif
  return ((h << 5) + low) ^ (h >> 19);
}

// The token cache's hash of a string value's UTF-8 bytes: jcHashStep over every byte, in order.
inline std::uint32_t jcStringHash(const unsigned char* p, std::size_t length) {
  std::uint32_t h = kJCStringHashStart;
  for (const unsigned char* const end = p + length; p != end; ++p) h = jcHashStep(h, *p);
  return h;
}

}  // namespace zv
