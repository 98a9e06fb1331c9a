#pragma once
// String and digest routines of the Flickr client: MD5 and SHA-1 digests, HMAC-SHA1 in Base64,
// URL escaping for query values and for OAuth, UUIDs, and the reader of "name=value&..." replies.
// No shared state; any thread.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Dictionary.h"

namespace zv {

// The characters that OAuth escapes besides those that may not stand in a URL: after escaping
// with them only ASCII letters, digits, "-", ".", "_" and "~" remain, the unreserved characters
// of RFC 3986 that the service's own signature check leaves as they are (a "~" escaped on our
// side would make every signature over it fail).
inline constexpr std::string_view kFKOAuthEscapedCharacters = "`!@#$^&*()=+[]\\{}|;':\",/<>?";

// MD5 of the UTF-8 bytes as 32 lower-case hexadecimal digits.
std::string FKMD5HexStringFromString(std::string_view text);
// Escapes what may not stand in a URL (RFC 2396), "&" and "+" (which a form decoder reads as a
// blank); UTF-8, upper-case hexadecimal.
std::string FKEscapedURLString(std::string_view text);
// The same, escaping `extra` instead of "&" and "+".
std::string FKEscapedURLStringWithExtraChars(std::string_view text, std::string_view extra);
// Escaping with the OAuth set.
inline std::string FKOAuthEscapedString(std::string_view text) {
  return FKEscapedURLStringWithExtraChars(text, kFKOAuthEscapedCharacters);
}
// A new random UUID, 36 characters, upper-case.
std::string FKNewUUIDString();
// HMAC-SHA1 of `text` under `key` (both UTF-8), Base64 with padding.
std::string FKHMACSHA1Base64(std::string_view text, std::string_view key);
std::array<std::uint8_t, 20> FKSHA1Data(std::span<const std::uint8_t> bytes);
// "a=1&b=2" as a dictionary of strings, values left escaped; nullptr for an empty string or as
// soon as one piece does not split on "=" into exactly two parts. A later duplicate replaces.
Ref<Dictionary> FKQueryDictionaryFromString(std::string_view text);

}  // namespace zv
