// The one-sequence UTF-8 check against the platform's own decoder: it never reads past the end,
// always advances, and accepts exactly the sequences the platform decodes to a legal code point.

#include <cstdint>
#include <cstdlib>

#include "platform/foundation/Unicode.h"
#include "sharing/json/JCUTF8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zv;
  const unsigned char* p = data;
  const unsigned char* const end = data + size;
  while (p < end) {
    const JCUTF8Sequence s = checkUTF8Sequence(p, end);
    if (s.length == 0 || s.length > 4 || s.length > static_cast<std::size_t>(end - p)) std::abort();
    const char* q = reinterpret_cast<const char*>(p);
    const char32_t platform = unicode::decodeUTF8(q, reinterpret_cast<const char*>(end));
    const std::size_t platformLength = static_cast<std::size_t>(q - reinterpret_cast<const char*>(p));
    if (s.result == JCUTF8Result::WellFormed) {
      if (s.codePoint != platform || s.length != platformLength) std::abort();
      // ASCII passes as it stands (the decoder refuses raw control bytes before the check).
      if (s.codePoint >= 0x80 && isIllegalJSONCodePoint(s.codePoint)) std::abort();
    } else {
      if (s.codePoint != 0xFFFD) std::abort();
      // Cut short only when every byte up to the end of the text could continue the sequence.
      if (s.result == JCUTF8Result::CutShort && s.length != static_cast<std::size_t>(end - p)) std::abort();
      // The platform may accept it only when it is a noncharacter the check refuses on purpose.
      const bool platformAccepted = platform != 0xFFFD || (platformLength == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD);
      if (platformAccepted && !isIllegalJSONCodePoint(platform)) std::abort();
    }
    p += s.length;
  }
  return 0;
}
