#pragma once
// The RFC 4648 alphabet and group encoding shared by both Base64 encoders.

#include <cstddef>
#include <cstdint>

namespace zv::base64_alphabet {

inline constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Four characters for the `count` (1 to 3) bytes at `in`, filled up with "=".
inline void encodeGroup(const std::uint8_t* in, std::size_t count, char out[4]) {
  std::uint32_t v = std::uint32_t(in[0]) << 16;
  if (count > 1) v |= std::uint32_t(in[1]) << 8;
  if (count > 2) v |= in[2];
  out[0] = kAlphabet[(v >> 18) & 63];
  out[1] = kAlphabet[(v >> 12) & 63];
  out[2] = count > 1 ? kAlphabet[(v >> 6) & 63] : '=';
  out[3] = count > 2 ? kAlphabet[v & 63] : '=';
}

}  // namespace zv::base64_alphabet
