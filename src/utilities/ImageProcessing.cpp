#include "utilities/ImageProcessing.h"

#include <cmath>
#include <limits>

#include "utilities/GreyImage.h"
#include "utilities/GreyImageShapes.h"

namespace zv::simpleImageProcessing {

namespace {

// The receiver drawn at its own size, without rotation.
Ref<ImageWrapper> greyCopy(const graphics::Image& image, Ref<Error>* error) {
  graphics::Size size = image.size();
  return ImageWrapper::imageWithCPPImage(createImage(image, static_cast<std::int32_t>(size.width),
                                                     static_cast<std::int32_t>(size.height),
                                                     graphics::InterpolationQuality::High, false, error));
}

Ref<graphics::Image> toImage(const Ref<ImageWrapper>& wrapper) {
  return wrapper && wrapper->image() ? uiImageFromGreyImage(*wrapper->image()) : nullptr;
}

template <typename Routine>
Ref<graphics::Image> withGreyCopy(const graphics::Image& image, Ref<Error>* error, Routine routine) {
  auto grey = greyCopy(image, error);
  if (!grey) return nullptr;
  return toImage(routine(*grey->image()));
}

Ref<MutableArray> pointArray(const std::vector<ImagePoint>& points) {
  std::vector<ObjectPtr> values;
  values.reserve(points.size());
  for (const auto& point : points) {
    values.push_back(graphics::PointValue::make({static_cast<double>(static_cast<float>(point.x)),
                                                 static_cast<double>(static_cast<float>(point.y))}));
  }
  return MutableArray::make(std::move(values));
}

}  // namespace

Ref<graphics::Image> imageResize(const graphics::Image& image, graphics::Size size, Ref<Error>* error) {
  return toImage(ImageWrapper::imageWithCPPImage(
      createImage(image, static_cast<std::int32_t>(static_cast<float>(size.width)),
                  static_cast<std::int32_t>(static_cast<float>(size.height)), graphics::InterpolationQuality::High,
                  false, error)));
}

Ref<graphics::Image> imageByCannyEdgeExtraction(const graphics::Image& image, float low, float high, Ref<Error>* error) {
  return withGreyCopy(image, error, [&](const Image& grey) { return cannyEdgeImage(grey, low, high, error); });
}

Ref<graphics::Image> imageByLocalThreshold(const graphics::Image& image, Ref<Error>* error) {
  return withGreyCopy(image, error, [](const Image& grey) { return localThresholdGreyImage(grey); });
}

Ref<graphics::Image> imageByThresholding(const graphics::Image& image, Ref<Error>* error) {
  return withGreyCopy(image, error, [](const Image& grey) { return thresholdGreyImage(grey); });
}

Ref<graphics::Image> imageByGaussianBlur(const graphics::Image& image, Ref<Error>* error) {
  return withGreyCopy(image, error, [&](const Image& grey) { return gaussianBlurGreyImage(grey, error); });
}

Ref<MutableArray> connectedRegionFromPoint(const graphics::Image& image, graphics::Point point, Ref<Error>* error) {
  auto grey = greyCopy(image, error);
  if (!grey) return nullptr;
  std::vector<ImagePoint> points;
  // Truncated towards zero; a point outside the image fills nothing.
  double x = std::trunc(static_cast<float>(point.x)), y = std::trunc(static_cast<float>(point.y));
  if (x >= 0 && y >= 0 && x < grey->image()->width && y < grey->image()->height) {
    floodFillRegion(*grey->image(), static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), points);
  }
  return pointArray(points);
}

Ref<MutableArray> largestRegion(const graphics::Image& image, Ref<Error>* error) {
  auto grey = greyCopy(image, error);
  if (!grey) return nullptr;
  std::vector<ImagePoint> points;
  largestRegionOfGreyImage(*grey->image(), points);
  return pointArray(points);
}

Ref<graphics::Image> imageByNormalising(const graphics::Image& image, Ref<Error>* error) {
  auto grey = greyCopy(image, error);
  if (!grey) return nullptr;
  normaliseGreyImage(*grey->image());
  return toImage(grey);
}

Ref<graphics::Image> imageRotate(const graphics::Image& image, float angle, Ref<Error>* error) {
  double degrees = std::trunc(static_cast<double>(angle) * 57.29577951308232);
  // Refused before any drawing, so no caller ever works on a missing image.
  if (degrees != 90 && degrees != 180 && degrees != 270) {
    if (error) *error = makeGreyImageError(GreyImageErrorBadAngle, "Grey images turn by 90, 180 or 270 degrees only");
    return nullptr;
  }
  return withGreyCopy(image, error,
                      [&](const Image& grey) { return rotateGreyImage(grey, static_cast<int>(degrees), error); });
}

Ref<graphics::Image> imageByHistogramEqualisation(const graphics::Image& image, Ref<Error>* error) {
  auto grey = greyCopy(image, error);
  if (!grey) return nullptr;
  equaliseGreyImage(*grey->image());
  return toImage(grey);
}

Ref<graphics::Image> imageByTopologicalSkeleton(const graphics::Image& image, Ref<Error>* error) {
  auto grey = greyCopy(image, error);
  if (!grey) return nullptr;
  skeletoniseGreyImage(*grey->image());
  return toImage(grey);
}

graphics::Rect rectForImagePoints(const Array& points) {
  if (points.empty()) return {};
  float minX = std::numeric_limits<float>::max(), minY = minX;
  float maxX = -minX, maxY = -minX;
  for (std::size_t i = 0; i < points.count(); ++i) {
    auto value = points.objectAtIndexAs<graphics::PointValue>(i);
    if (!value) continue;
    auto x = static_cast<float>(value->point().x), y = static_cast<float>(value->point().y);
    minX = std::min(minX, x);
    minY = std::min(minY, y);
    maxX = std::max(maxX, x);
    maxY = std::max(maxY, y);
  }
  if (minX > maxX) return {};  // no point among the objects
  return {minX, minY, maxX - minX, maxY - minY};
}

}  // namespace zv::simpleImageProcessing
