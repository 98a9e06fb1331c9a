#include "platform/crypto/Digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <uuid/uuid.h>

#include <cctype>
#include <memory>
#include <stdexcept>

namespace zv::crypto {

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> digest(const EVP_MD* type, std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, N> out{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &length, type, nullptr) != 1 || length != N)
    throw std::runtime_error("digest failed");
  return out;
}

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

std::optional<Bytes> aes128CBC(bool encrypt, std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                               std::span<const std::uint8_t> input) {
  if (key.size() != 16 || iv.size() != 16) return std::nullopt;
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
  if (!context) return std::nullopt;
  if (EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1)
    return std::nullopt;
  Bytes out(input.size() + 16);
  int written = 0, finalWritten = 0;
  if (EVP_CipherUpdate(context.get(), out.data(), &written, input.data(), static_cast<int>(input.size())) != 1)
    return std::nullopt;
  if (EVP_CipherFinal_ex(context.get(), out.data() + written, &finalWritten) != 1) return std::nullopt;
  out.resize(static_cast<std::size_t>(written + finalWritten));
  return out;
}

}  // namespace

std::array<std::uint8_t, 16> md5(std::span<const std::uint8_t> data) { return digest<16>(EVP_md5(), data); }

std::array<std::uint8_t, 20> sha1(std::span<const std::uint8_t> data) { return digest<20>(EVP_sha1(), data); }

std::array<std::uint8_t, 20> hmacSHA1(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, 20> out{};
  unsigned int length = 0;
  static const std::uint8_t emptyKey = 0;
  if (HMAC(EVP_sha1(), key.empty() ? &emptyKey : key.data(), static_cast<int>(key.size()), data.data(), data.size(),
           out.data(), &length) == nullptr)
    throw std::runtime_error("HMAC failed");
  return out;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (auto b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

std::optional<Bytes> aes128CBCEncrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                                      std::span<const std::uint8_t> plain) {
  return aes128CBC(true, key, iv, plain);
}

std::optional<Bytes> aes128CBCDecrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                                      std::span<const std::uint8_t> cipher) {
  return aes128CBC(false, key, iv, cipher);
}

Bytes randomBytes(std::size_t count) {
  Bytes out(count);
  if (count && RAND_bytes(out.data(), static_cast<int>(count)) != 1) throw std::runtime_error("RAND_bytes failed");
  return out;
}

std::string makeUUIDString() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return text;
}

}  // namespace zv::crypto
