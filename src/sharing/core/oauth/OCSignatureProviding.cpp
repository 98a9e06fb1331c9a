#include "sharing/core/oauth/OCSignatureProviding.h"

#include "platform/crypto/Digest.h"
#include "sharing/core/oauth/OCBase64.h"

namespace zv {

std::string OCHMAC_SHA1SignatureProvider::signClearText(std::string_view text, std::string_view secret) const {
  auto digest = crypto::hmacSHA1(crypto::bytesOf(secret), crypto::bytesOf(text));
  std::size_t length = OCBase64EncodedLength(digest.size());
  std::string signature(length, '\0');
  OCBase64Encode(digest.data(), digest.size(), signature.data(), length);
  return signature;
}

}  // namespace zv
