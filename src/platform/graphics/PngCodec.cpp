#include <png.h>

#include <cstring>

#include "platform/foundation/Format.h"
#include "platform/graphics/ImageCodec.h"

namespace zv::graphics {

namespace {
void fail(Ref<Error>* error, int code, const std::string& message) {
  if (error) *error = Error::make(kImageErrorDomain, code, message);
}
}  // namespace

Bitmap Bitmap::filled(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.rgba.resize(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < bitmap.rgba.size(); i += 4) {
    bitmap.rgba[i] = r;
    bitmap.rgba[i + 1] = g;
    bitmap.rgba[i + 2] = b;
    bitmap.rgba[i + 3] = a;
  }
  return bitmap;
}

bool Bitmap::hasAlpha() const {
  for (std::size_t i = 3; i < rgba.size(); i += 4)
    if (rgba[i] != 255) return true;
  return false;
}

ImageFormat sniffImageFormat(std::span<const std::uint8_t> bytes) {
  static const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), png, 8) == 0) return ImageFormat::PNG;
  if (bytes.size() >= 3 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff) return ImageFormat::JPEG;
  return ImageFormat::Unknown;
}

std::optional<Bitmap> decodeImage(std::span<const std::uint8_t> bytes, Ref<Error>* error) {
  switch (sniffImageFormat(bytes)) {
    case ImageFormat::PNG:
      return decodePNG(bytes, error);
    case ImageFormat::JPEG:
      return decodeJPEG(bytes, error);
    case ImageFormat::Unknown:
      break;
  }
  fail(error, ImageErrorUnknownFormat, "The data is neither PNG nor JPEG.");
  return std::nullopt;
}

std::optional<Bitmap> decodePNG(std::span<const std::uint8_t> bytes, Ref<Error>* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    fail(error, ImageErrorCorrupt, format("Unreadable PNG: %s", image.message));
    return std::nullopt;
  }
  if (image.width == 0 || image.height == 0 ||
      static_cast<std::uint64_t>(image.width) * image.height > kMaximumImagePixels) {
    png_image_free(&image);
    fail(error, ImageErrorTooLarge, "The PNG image is empty or too large.");
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGBA;
  Bitmap bitmap;
  bitmap.width = static_cast<int>(image.width);
  bitmap.height = static_cast<int>(image.height);
  bitmap.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bitmap.rgba.data(), 0, nullptr)) {
    fail(error, ImageErrorCorrupt, format("Unreadable PNG: %s", image.message));
    png_image_free(&image);
    return std::nullopt;
  }
  return bitmap;
}

std::optional<std::vector<std::uint8_t>> encodePNG(const Bitmap& bitmap, Ref<Error>* error) {
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.rgba.size() != static_cast<std::size_t>(bitmap.width) * bitmap.height * 4) {
    fail(error, ImageErrorEncode, "The bitmap has no pixels.");
    return std::nullopt;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(bitmap.width);
  image.height = static_cast<png_uint_32>(bitmap.height);
  image.format = PNG_FORMAT_RGBA;
  const void* source = bitmap.rgba.data();
  std::vector<std::uint8_t> rgb;
  if (!bitmap.hasAlpha()) {
    image.format = PNG_FORMAT_RGB;
    rgb.reserve(bitmap.rgba.size() / 4 * 3);
    for (std::size_t i = 0; i < bitmap.rgba.size(); i += 4) rgb.insert(rgb.end(), &bitmap.rgba[i], &bitmap.rgba[i] + 3);
    source = rgb.data();
  }
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, source, 0, nullptr)) {
    fail(error, ImageErrorEncode, format("PNG encoding failed: %s", image.message));
    return std::nullopt;
  }
  std::vector<std::uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, source, 0, nullptr)) {
    fail(error, ImageErrorEncode, format("PNG encoding failed: %s", image.message));
    return std::nullopt;
  }
  out.resize(size);
  return out;
}

}  // namespace zv::graphics
