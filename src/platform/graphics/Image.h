#pragma once
// An immutable picture: a bitmap of pixels and the scale that turns pixels into points.

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/ImageCodec.h"

namespace zv::graphics {

class Image : public Object {
 public:
  // nullptr when the bitmap has no pixels.
  static Ref<Image> make(Bitmap bitmap, double scale = 1.0);
  // PNG or JPEG bytes; nullptr when they are not a readable image.
  static Ref<Image> imageWithData(const Data& data, double scale = 1.0);
  static Ref<Image> imageWithData(std::span<const std::uint8_t> bytes, double scale = 1.0);
  static Ref<Image> imageWithContentsOfFile(const std::filesystem::path& path);
  // An image resource of the application by name ("back_icon.png", or "back_icon" for a PNG);
  // nullptr when there is none. Names are looked up through the resolver.
  static Ref<Image> imageNamed(std::string_view name);

  // Maps a resource name to a file; the default looks in the main bundle's resources.
  using NamedImageResolver = std::function<std::optional<std::filesystem::path>(std::string_view name)>;
  static void setNamedImageResolver(NamedImageResolver resolver);

  // The size in points.
  Size size() const { return {bitmap_.width / scale_, bitmap_.height / scale_}; }
  double scale() const { return scale_; }
  int pixelWidth() const { return bitmap_.width; }
  int pixelHeight() const { return bitmap_.height; }
  const Bitmap& bitmap() const { return bitmap_; }

  std::string description() const override;

  Image(Bitmap bitmap, double scale) : bitmap_(std::move(bitmap)), scale_(scale) {}

 private:
  Bitmap bitmap_;
  double scale_;
};

// The image as PNG bytes; nullptr for no image.
Ref<Data> imagePNGRepresentation(const Ref<Image>& image);
// The image as JPEG bytes at a quality from 0.0 to 1.0; nullptr for no image.
Ref<Data> imageJPEGRepresentation(const Ref<Image>& image, double quality);

}  // namespace zv::graphics
