#pragma once
// Options and error keys of the JSON decoder.

#include <cstdint>

namespace zv {

using JCParseOptionFlags = std::uint32_t;
inline constexpr JCParseOptionFlags JCParseStrict = 0;
// "//" and "/* */" comments count as white space.
inline constexpr JCParseOptionFlags JCParseComments = 1;
// U+0085, U+2028 and U+2029 count as line breaks.
inline constexpr JCParseOptionFlags JCParseUnicodeLineBreaks = 2;
// Ill-formed UTF-8 and illegal escapes in strings become U+FFFD instead of failing.
inline constexpr JCParseOptionFlags JCParseLenientUnicode = 4;
// Text after the complete top-level value is ignored.
inline constexpr JCParseOptionFlags JCParseTrailingText = 8;
// Options of this value or above are invalid.
inline constexpr JCParseOptionFlags JCParseOptionsLimit = 16;

inline constexpr const char* JCErrorDomain = "JCErrorDomain";
inline constexpr const char* JCAtIndexKey = "JCAtIndexKey";
inline constexpr const char* JCLineNumberKey = "JCLineNumberKey";

// The decoder refuses documents nested deeper than this, as the second library does by default.
inline constexpr unsigned JCMaximumDepth = 512;

}  // namespace zv
