// Reading members of a store lookup answer from arbitrary text, and comparing version texts:
// no crash, no read past the input, comparison antisymmetric.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "utilities/StoreLookupReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"bundleId", "trackId", "version", "primaryGenreId"}) {
    auto value = zv::valueForKeyInJSON(key, text);
    if (value && value->size() > size * 2) std::abort();  // \uXXXX at most doubles into UTF-8 bytes
  }
  auto half = text.substr(0, size / 2), rest = text.substr(size / 2);
  if (zv::compareNumerically(half, rest) != -zv::compareNumerically(rest, half)) std::abort();
  if (zv::compareNumerically(text, text) != 0) std::abort();
  return 0;
}
