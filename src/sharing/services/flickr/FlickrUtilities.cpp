#include "sharing/services/flickr/FlickrUtilities.h"

#include "platform/crypto/Digest.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"

namespace zv {

namespace {

// RFC 2396: unreserved marks and reserved characters, which a URL may hold as they are.
constexpr std::string_view kRFC2396Kept = "-_.!~*'();/?:@&=+$,";

std::string base64(std::span<const std::uint8_t> bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = bytes[i] << 16;
    if (i + 1 < bytes.size()) v |= bytes[i + 1] << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace

std::string FKMD5HexStringFromString(std::string_view text) { return crypto::md5Hex(text); }

std::string FKEscapedURLString(std::string_view text) { return FKEscapedURLStringWithExtraChars(text, "&+"); }

std::string FKEscapedURLStringWithExtraChars(std::string_view text, std::string_view extra) {
  std::string keep;
  for (char c : kRFC2396Kept) {
    if (extra.find(c) == std::string_view::npos) keep += c;
  }
  return percentEncode(text, keep);
}

std::string FKNewUUIDString() { return crypto::makeUUIDString(); }

std::string FKHMACSHA1Base64(std::string_view text, std::string_view key) {
  auto digest = crypto::hmacSHA1(crypto::bytesOf(key), crypto::bytesOf(text));
  return base64(digest);
}

std::array<std::uint8_t, 20> FKSHA1Data(std::span<const std::uint8_t> bytes) { return crypto::sha1(bytes); }

Ref<Dictionary> FKQueryDictionaryFromString(std::string_view text) {
  if (text.empty()) return nullptr;
  auto result = MutableDictionary::make();
  std::size_t start = 0;
  for (;;) {
    const auto end = text.find('&', start);
    const auto piece = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const auto equals = piece.find('=');
    if (equals == std::string_view::npos || piece.find('=', equals + 1) != std::string_view::npos) return nullptr;
    result->setObject(String::make(piece.substr(equals + 1)), String::make(piece.substr(0, equals)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return result;
}

}  // namespace zv
