#include <csetjmp>
#include <cstdio>
#include <cmath>
#include <cstdlib>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/foundation/Format.h"
#include "platform/graphics/ImageCodec.h"

namespace zv::graphics {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return; we jump back to the
// entry point, which owns no C++ objects created after the jump target.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->jump, 1);
}

void onMessage(j_common_ptr, int) {}

// Warnings while decoding: a stream that ends early or whose coded data is corrupt is an error
// (libjpeg would otherwise pad it and hand back a whole picture with a grey fill); other warnings,
// such as stray bytes before a marker, leave the picture intact and are ignored.
void onDecodeMessage(j_common_ptr info, int level) {
  if (level >= 0) return;
  switch (info->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
      onError(info);
      break;
    default:
      break;
  }
}

void fail(Ref<Error>* error, int code, const std::string& message) {
  if (error) *error = Error::make(kImageErrorDomain, code, message);
}

}  // namespace

std::optional<Bitmap> decodeJPEG(std::span<const std::uint8_t> bytes, Ref<Error>* error) {
  Bitmap bitmap;
  std::vector<std::uint8_t> row;
  jpeg_decompress_struct info{};
  ErrorManager manager{};
  info.err = jpeg_std_error(&manager.base);
  manager.base.error_exit = onError;
  manager.base.emit_message = onDecodeMessage;
  if (setjmp(manager.jump)) {
    jpeg_destroy_decompress(&info);
    fail(error, ImageErrorCorrupt, format("Unreadable JPEG: %s", manager.message));
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  if (static_cast<std::uint64_t>(info.image_width) * info.image_height > kMaximumImagePixels) {
    jpeg_destroy_decompress(&info);
    fail(error, ImageErrorTooLarge, "The JPEG image is too large.");
    return std::nullopt;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  bitmap.width = static_cast<int>(info.output_width);
  bitmap.height = static_cast<int>(info.output_height);
  bitmap.rgba.resize(static_cast<std::size_t>(bitmap.width) * bitmap.height * 4);
  row.resize(static_cast<std::size_t>(bitmap.width) * 3);
  while (info.output_scanline < info.output_height) {
    std::uint8_t* out = bitmap.pixel(0, static_cast<int>(info.output_scanline));
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    for (int x = 0; x < bitmap.width; ++x) {
      out[x * 4] = row[x * 3];
      out[x * 4 + 1] = row[x * 3 + 1];
      out[x * 4 + 2] = row[x * 3 + 2];
      out[x * 4 + 3] = 255;
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return bitmap;
}

std::optional<std::vector<std::uint8_t>> encodeJPEG(const Bitmap& bitmap, double quality, Ref<Error>* error) {
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.rgba.size() != static_cast<std::size_t>(bitmap.width) * bitmap.height * 4) {
    fail(error, ImageErrorEncode, "The bitmap has no pixels.");
    return std::nullopt;
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap.width) * 3);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_compress_struct info{};
  ErrorManager manager{};
  info.err = jpeg_std_error(&manager.base);
  manager.base.error_exit = onError;
  manager.base.emit_message = onMessage;
  if (setjmp(manager.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    fail(error, ImageErrorEncode, format("JPEG encoding failed: %s", manager.message));
    return std::nullopt;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(bitmap.width);
  info.image_height = static_cast<JDIMENSION>(bitmap.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  double q = std::isnan(quality) ? 0.0 : std::fmin(1.0, std::fmax(0.0, quality));
  jpeg_set_quality(&info, static_cast<int>(std::lround(1 + q * 99)), TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    const std::uint8_t* in = bitmap.pixel(0, static_cast<int>(info.next_scanline));
    for (int x = 0; x < bitmap.width; ++x) {
      // Laid on white, as viewers show transparency: a dark drawing on a clear ground stays visible.
      unsigned a = in[x * 4 + 3];
      for (int c = 0; c < 3; ++c) {
        row[x * 3 + c] = static_cast<std::uint8_t>((in[x * 4 + c] * a + 255 * (255 - a) + 127) / 255);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

}  // namespace zv::graphics
