// Base64 decoding of arbitrary text: never reads or writes out of bounds, and what it decodes
// survives a round trip through both encoders.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sharing/core/oauth/Base64.h"
#include "sharing/core/oauth/OCBase64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::size_t count = 0;
  auto bytes = zv::Base64DecodeBytes(text, size, &count);
  if (!bytes) return 0;
  if (count > size / 4 * 3 + 3) std::abort();

  std::size_t encodedLength = 0;
  auto encoded = zv::Base64EncodeBytes(bytes.get(), count, (size & 1) != 0, &encodedLength);
  if (!encoded) std::abort();
  std::size_t again = 0;
  auto decoded = zv::Base64DecodeBytes(encoded.get(), zv::kBase64UpToNUL, &again);
  if (!decoded || again != count || (count && std::memcmp(decoded.get(), bytes.get(), count) != 0)) std::abort();

  std::string consumer(zv::OCBase64EncodedLength(count), '\0');
  std::size_t consumerLength = consumer.size();
  if (!zv::OCBase64Encode(bytes.get(), count, consumer.data(), consumerLength)) std::abort();
  auto back = zv::base64::dataFromBase64String(consumer);
  if (back->length() != count || (count && std::memcmp(back->data(), bytes.get(), count) != 0)) std::abort();
  return 0;
}
