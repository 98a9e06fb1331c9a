#pragma once
// Digests, ciphers and randomness, backed by OpenSSL's libcrypto; UUIDs by libuuid. No shared
// state; any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zv::crypto {

using Bytes = std::vector<std::uint8_t>;

inline std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::array<std::uint8_t, 16> md5(std::span<const std::uint8_t> data);
std::array<std::uint8_t, 20> sha1(std::span<const std::uint8_t> data);
std::array<std::uint8_t, 20> hmacSHA1(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data);

// Lower-case hexadecimal text of bytes.
std::string hex(std::span<const std::uint8_t> bytes);
inline std::string md5Hex(std::string_view text) { return hex(md5(bytesOf(text))); }

// AES-128 in CBC mode with PKCS#7 padding. `key` and `iv` must be 16 bytes; nullopt on any failure
// (wrong sizes, bad padding on decryption).
std::optional<Bytes> aes128CBCEncrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                                      std::span<const std::uint8_t> plain);
std::optional<Bytes> aes128CBCDecrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                                      std::span<const std::uint8_t> cipher);

// Cryptographically strong random bytes.
Bytes randomBytes(std::size_t count);

// A new random UUID in canonical upper-case text form (36 characters, 8-4-4-4-12).
std::string makeUUIDString();

}  // namespace zv::crypto
