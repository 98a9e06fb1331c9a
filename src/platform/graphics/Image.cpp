#include "platform/graphics/Image.h"

#include <mutex>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Format.h"
#include "platform/graphics/ResourceLookup.h"
#include "platform/storage/AtomicFile.h"

namespace zv::graphics {

namespace {
// Held across a fork (ForkHandlers.h).
ForkMutex& resolverMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::ImageResolver);
  return mutex;
}
Image::NamedImageResolver& resolverSlot() {
  static Image::NamedImageResolver& resolver = *new Image::NamedImageResolver;
  return resolver;
}
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gResolverMade = (resolverMutex(), resolverSlot(), true);
}  // namespace

Ref<Image> Image::make(Bitmap bitmap, double scale) {
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.rgba.size() != static_cast<std::size_t>(bitmap.width) * bitmap.height * 4)
    return nullptr;
  return std::make_shared<Image>(std::move(bitmap), scale > 0 ? scale : 1.0);
}

Ref<Image> Image::imageWithData(std::span<const std::uint8_t> bytes, double scale) {
  auto bitmap = decodeImage(bytes);
  return bitmap ? make(std::move(*bitmap), scale) : nullptr;
}

Ref<Image> Image::imageWithData(const Data& data, double scale) {
  return imageWithData(std::span<const std::uint8_t>(data.bytes().data(), data.bytes().size()), scale);
}

Ref<Image> Image::imageWithContentsOfFile(const std::filesystem::path& path) {
  auto bytes = storage::readFile(path);
  if (!bytes) return nullptr;
  // Resources named "@2x" carry twice the pixels per point.
  double scale = path.stem().string().ends_with("@2x") ? 2.0 : 1.0;
  return imageWithData(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()), scale);
}

Ref<Image> Image::imageNamed(std::string_view name) {
  if (name.empty()) return nullptr;
  NamedImageResolver resolver;
  {
    std::lock_guard lock(resolverMutex());
    resolver = resolverSlot();
  }
  std::string file(name);
  if (std::filesystem::path(file).extension().empty()) file += ".png";
  std::optional<std::filesystem::path> path = resolver ? resolver(file) : findResourceFile(file);
  return path ? imageWithContentsOfFile(*path) : nullptr;
}

void Image::setNamedImageResolver(NamedImageResolver resolver) {
  std::lock_guard lock(resolverMutex());
  resolverSlot() = std::move(resolver);
}

std::string Image::description() const {
  return format("<Image %dx%d pixels, scale %g>", bitmap_.width, bitmap_.height, scale_);
}

Ref<Data> imagePNGRepresentation(const Ref<Image>& image) {
  if (!image) return nullptr;
  auto bytes = encodePNG(image->bitmap());
  return bytes ? Data::make(std::move(*bytes)) : nullptr;
}

Ref<Data> imageJPEGRepresentation(const Ref<Image>& image, double quality) {
  if (!image) return nullptr;
  auto bytes = encodeJPEG(image->bitmap(), quality);
  return bytes ? Data::make(std::move(*bytes)) : nullptr;
}

}  // namespace zv::graphics
