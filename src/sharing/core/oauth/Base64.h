#pragma once
// The request builder's Base64: standard alphabet, "=" padding, optionally CR LF between
// 64-character lines (never after the last). Decoding skips every byte outside the alphabet, so
// padding, line breaks and blanks are all accepted. Pure; any thread.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"

namespace zv {

// Passed as the text length to Base64DecodeBytes: read up to the first NUL.
inline constexpr std::size_t kBase64UpToNUL = std::numeric_limits<std::size_t>::max();

// A NUL-terminated text owned by the caller; `outputLength` (when given) gets its length without
// the NUL. nullptr when the memory cannot be had (or the length is beyond any object's size).
std::unique_ptr<char[]> Base64EncodeBytes(const void* bytes, std::size_t length, bool separateLines,
                                          std::size_t* outputLength);

// The decoded bytes in a buffer of (length + 3) / 4 x 3 bytes owned by the caller; `outputLength`
// (when given) gets the byte count. nullptr when the memory cannot be had (or the length is beyond any
// object's size, which a wrapping size computation once turned into a tiny buffer).
std::unique_ptr<std::uint8_t[]> Base64DecodeBytes(const char* text, std::size_t length, std::size_t* outputLength);

namespace base64 {

// The text with separated lines.
std::string base64EncodedString(std::span<const std::uint8_t> bytes);
inline std::string base64EncodedString(const Data& data) { return base64EncodedString(data.span()); }
// The decoded bytes; never nullptr (undecodable text gives what its decodable part holds).
Ref<Data> dataFromBase64String(std::string_view text);

}  // namespace base64
}  // namespace zv
