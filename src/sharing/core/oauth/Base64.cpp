#include "sharing/core/oauth/Base64.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>

#include "sharing/core/oauth/Base64Alphabet.h"

namespace zv {

namespace {

constexpr std::size_t kInputPerLine = 48;
// No object can be larger; a length beyond it is a caller's mistake, not text to read.
constexpr std::size_t kLargestObject = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(base64_alphabet::kAlphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}
constexpr auto kDecodeTable = makeDecodeTable();

void encodeLine(const std::uint8_t* in, std::size_t n, char*& out) {
  for (std::size_t i = 0; i < n; i += 3, out += 4) {
    base64_alphabet::encodeGroup(in + i, std::min<std::size_t>(3, n - i), out);
  }
}

}  // namespace

std::unique_ptr<char[]> Base64EncodeBytes(const void* bytes, std::size_t length, bool separateLines,
                                          std::size_t* outputLength) {
  constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
  std::size_t groups = length / 3 + (length % 3 ? 1 : 0);
  if (groups > (max - 1) / 4) return nullptr;
  std::size_t textLength = groups * 4;
  std::size_t capacity = textLength + 1;
  if (separateLines) {
    std::size_t breaks = textLength / 64;
    if (breaks > (max - capacity) / 2) return nullptr;
    capacity += breaks * 2;
  }
  if (capacity > kLargestObject) return nullptr;
  std::unique_ptr<char[]> text(new (std::nothrow) char[capacity]);
  if (!text) return nullptr;
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  char* out = text.get();
  std::size_t lineInput = separateLines ? kInputPerLine : (length ? length : 1);
  for (std::size_t offset = 0; offset < length; offset += lineInput) {
    if (offset) {
      *out++ = '\r';
      *out++ = '\n';
    }
    encodeLine(in + offset, std::min(lineInput, length - offset), out);
  }
  *out = '\0';
  if (outputLength) *outputLength = static_cast<std::size_t>(out - text.get());
  return text;
}

std::unique_ptr<std::uint8_t[]> Base64DecodeBytes(const char* text, std::size_t length, std::size_t* outputLength) {
  if (length == kBase64UpToNUL) length = text ? std::strlen(text) : 0;
  // Computed without (length + 3), which wraps for lengths near the top of size_t.
  std::size_t capacity = length / 4 * 3 + (length % 4 ? 3 : 0);
  if (capacity > kLargestObject) return nullptr;
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[capacity ? capacity : 1]);
  if (!bytes) return nullptr;
  std::uint8_t* out = bytes.get();
  std::uint32_t accumulated = 0;
  int gathered = 0;
  for (std::size_t i = 0; i < length; ++i) {
    std::int8_t value = kDecodeTable[static_cast<unsigned char>(text[i])];
    if (value < 0) continue;
    accumulated = (accumulated << 6) | static_cast<std::uint32_t>(value);
    if (++gathered == 4) {
      *out++ = static_cast<std::uint8_t>(accumulated >> 16);
      *out++ = static_cast<std::uint8_t>(accumulated >> 8);
      *out++ = static_cast<std::uint8_t>(accumulated);
      accumulated = 0;
      gathered = 0;
    }
  }
  if (gathered == 3) {
    *out++ = static_cast<std::uint8_t>(accumulated >> 10);
    *out++ = static_cast<std::uint8_t>(accumulated >> 2);
  } else if (gathered == 2) {
    *out++ = static_cast<std::uint8_t>(accumulated >> 4);
  }
  if (outputLength) *outputLength = static_cast<std::size_t>(out - bytes.get());
  return bytes;
}

namespace base64 {

std::string base64EncodedString(std::span<const std::uint8_t> bytes) {
  std::size_t length = 0;
  auto text = Base64EncodeBytes(bytes.data(), bytes.size(), true, &length);
  if (!text) return {};
  return std::string(text.get(), length);
}

Ref<Data> dataFromBase64String(std::string_view text) {
  std::size_t length = 0;
  auto bytes = Base64DecodeBytes(text.data(), text.size(), &length);
  if (!bytes) return Data::make();
  return Data::make(bytes.get(), length);
}

}  // namespace base64
}  // namespace zv
