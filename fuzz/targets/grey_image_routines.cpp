// Every grey-image routine over images of random sizes and pixels: no out-of-bounds access, the
// documented sizes, and a few invariants (two-level thresholds, four quarter turns give the input
// back, a fill lists exactly the pixels it clears).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "utilities/GreyImage.h"
#include "utilities/GreyImageShapes.h"

namespace {

std::unique_ptr<zv::Image> imageFrom(int width, int height, const std::uint8_t* data, std::size_t size) {
  auto image = zv::Image::create(width, height);
  if (!image) std::abort();
  for (std::size_t i = 0; i < image->pixelCount(); ++i) image->pixels[i] = size ? data[i % size] : 0;
  return image;
}

bool twoLevels(const zv::Image& image) {
  return std::all_of(image.pixels, image.pixels + image.pixelCount(), [](std::uint8_t p) { return p == 0 || p == 255; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const int width = 1 + data[0] % 48, height = 1 + data[1] % 48;
  const float low = data[2] / 255.0f, high = data[3] / 255.0f;
  const int startX = data[4] % (width + 2) - 1, startY = data[5] % (height + 2) - 1;
  const int badAngle = data[2] % 2 ? 45 : 0;
  data += 6;
  size -= 6;
  auto image = imageFrom(width, height, data, size);

  auto threshold = zv::thresholdGreyImage(*image);
  if (!threshold || !twoLevels(*threshold->image())) std::abort();
  auto local = zv::localThresholdGreyImage(*image);
  if (!local || !twoLevels(*local->image())) std::abort();
  auto blur = zv::gaussianBlurGreyImage(*image);
  if (blur ? blur->image()->width != width - 5 || blur->image()->height != height - 5 : width > 5 && height > 5)
    std::abort();
  auto edges = zv::cannyEdgeImage(*image, low, high);
  if (edges ? edges->image()->width != width - 3 || !twoLevels(*edges->image()) : width > 3 && height > 3)
    std::abort();

  auto turned = zv::rotateGreyImage(*image, 90);
  for (int degrees : {180, 270}) {
    if (!turned) std::abort();
    turned = zv::rotateGreyImage(*turned->image(), degrees == 180 ? 90 : 180);
  }
  if (!turned || !std::equal(image->pixels, image->pixels + image->pixelCount(), turned->image()->pixels))
    std::abort();
  if (zv::rotateGreyImage(*image, badAngle)) std::abort();

  auto copy = imageFrom(width, height, data, size);
  auto before = static_cast<std::size_t>(std::count(copy->pixels, copy->pixels + copy->pixelCount(), 0));
  std::vector<zv::ImagePoint> points;
  bool inside = startX >= 0 && startY >= 0 && startX < width && startY < height;
  if (zv::floodFillRegion(*copy, startX, startY, points) != inside) std::abort();
  if (inside) {
    bool startWasZero = image->at(startX, startY) == 0;
    auto after = static_cast<std::size_t>(std::count(copy->pixels, copy->pixels + copy->pixelCount(), 0));
    if (after - before != points.size() - (startWasZero ? 1 : 0)) std::abort();
  }
  zv::largestRegionOfGreyImage(*copy, points);

  zv::normaliseGreyImage(*image);
  zv::equaliseGreyImage(*image);
  zv::skeletoniseGreyImage(*image);
  return 0;
}
