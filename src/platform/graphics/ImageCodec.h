#pragma once
// PNG and JPEG codecs over plain RGBA bitmaps. They take and give bytes only (no files), reject
// malformed or oversized input with an error, and never crash on it. Pure; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/foundation/Error.h"

namespace zv::graphics {

inline constexpr const char* kImageErrorDomain = "ImageErrorDomain";
enum ImageErrorCode { ImageErrorUnknownFormat = 1, ImageErrorCorrupt = 2, ImageErrorTooLarge = 3, ImageErrorEncode = 4 };

// Decoded images are refused beyond this many pixels.
inline constexpr std::uint64_t kMaximumImagePixels = 64ull * 1024 * 1024;

// Row after row, top row first, 4 bytes per pixel: red, green, blue, alpha (not premultiplied).
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;

  static Bitmap filled(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255);
  const std::uint8_t* pixel(int x, int y) const { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
  std::uint8_t* pixel(int x, int y) { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
  bool hasAlpha() const;
};

enum class ImageFormat { Unknown, PNG, JPEG };
ImageFormat sniffImageFormat(std::span<const std::uint8_t> bytes);

std::optional<Bitmap> decodePNG(std::span<const std::uint8_t> bytes, Ref<Error>* error = nullptr);
std::optional<Bitmap> decodeJPEG(std::span<const std::uint8_t> bytes, Ref<Error>* error = nullptr);
// Either format, told by its signature.
std::optional<Bitmap> decodeImage(std::span<const std::uint8_t> bytes, Ref<Error>* error = nullptr);

// 8-bit RGBA PNG (RGB when every pixel is opaque).
std::optional<std::vector<std::uint8_t>> encodePNG(const Bitmap& bitmap, Ref<Error>* error = nullptr);
// Baseline JPEG; quality 0.0 (smallest) to 1.0 (best). Transparent pixels come out as if laid on
// white (as viewers show them), since the alpha channel has nowhere to go.
std::optional<std::vector<std::uint8_t>> encodeJPEG(const Bitmap& bitmap, double quality, Ref<Error>* error = nullptr);

}  // namespace zv::graphics
