#pragma once
// The consumer classes' Base64 encoder: standard alphabet, "=" padding, CR LF after every
// 72-character line (also after a last group that completes one). Pure; any thread.

#include <cstddef>
#include <cstdint>

namespace zv {

// The bytes the text of `inputLength` bytes needs: (L mod 72) + (L div 72) x 74 with
// L = 4 x ceil(n / 3); 0 when that would not fit a size_t.
std::size_t OCBase64EncodedLength(std::size_t inputLength);

// Encodes into `output` (no terminating NUL). `outputLength` holds the capacity on entry; when it
// is too small, returns false and writes nothing, otherwise stores the text length and returns true.
bool OCBase64Encode(const std::uint8_t* input, std::size_t inputLength, char* output, std::size_t& outputLength);

}  // namespace zv
