#include "sharing/core/oauth/OCBase64.h"

#include <algorithm>
#include <limits>

#include "sharing/core/oauth/Base64Alphabet.h"

namespace zv {

namespace {
constexpr std::size_t kLineLength = 72;
}  // namespace

std::size_t OCBase64EncodedLength(std::size_t n) {
  constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
  std::size_t groups = n / 3 + (n % 3 ? 1 : 0);
  if (groups > max / 4) return 0;
  std::size_t text = groups * 4;
  std::size_t lines = text / kLineLength;
  if (lines > (max - text % kLineLength) / (kLineLength + 2)) return 0;
  return text % kLineLength + lines * (kLineLength + 2);
}

bool OCBase64Encode(const std::uint8_t* input, std::size_t inputLength, char* output, std::size_t& outputLength) {
  std::size_t needed = OCBase64EncodedLength(inputLength);
  if (needed == 0 && inputLength != 0) return false;
  if (outputLength < needed) return false;
  outputLength = needed;
  char* out = output;
  std::size_t lineUsed = 0;
  auto put = [&](char c) {
    *out++ = c;
    if (++lineUsed == kLineLength) {
      *out++ = '\r';
      *out++ = '\n';
      lineUsed = 0;
    }
  };
  for (std::size_t i = 0; i < inputLength; i += 3) {
    char group[4];
    base64_alphabet::encodeGroup(input + i, std::min<std::size_t>(3, inputLength - i), group);
    for (char c : group) put(c);
  }
  return true;
}

}  // namespace zv
