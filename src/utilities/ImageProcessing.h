#pragma once
// The grey-image routines behind platform images: each call draws the image into a grey copy at its
// own size (the point size truncated to whole pixels), runs one routine and hands back a new grey
// platform image (red = green = blue), a list of points or a rectangle.
//
// Pure functions; any thread. An image result is nullptr (with *error when asked) when the routine
// makes no image: an empty or oversized receiver, one smaller than the kernel, an unsupported angle.

#include "platform/foundation/Array.h"
#include "platform/graphics/GeometryValue.h"
#include "platform/graphics/Image.h"

namespace zv::simpleImageProcessing {

Ref<graphics::Image> imageResize(const graphics::Image& image, graphics::Size size, Ref<Error>* error = nullptr);
Ref<graphics::Image> imageByCannyEdgeExtraction(const graphics::Image& image, float low, float high,
                                                Ref<Error>* error = nullptr);
Ref<graphics::Image> imageByLocalThreshold(const graphics::Image& image, Ref<Error>* error = nullptr);
Ref<graphics::Image> imageByThresholding(const graphics::Image& image, Ref<Error>* error = nullptr);
Ref<graphics::Image> imageByGaussianBlur(const graphics::Image& image, Ref<Error>* error = nullptr);
// PointValue objects (pixel coordinates) in the order the fill met them; empty when the point
// lies outside the image. nullptr when no grey copy could be made.
Ref<MutableArray> connectedRegionFromPoint(const graphics::Image& image, graphics::Point point,
                                           Ref<Error>* error = nullptr);
Ref<MutableArray> largestRegion(const graphics::Image& image, Ref<Error>* error = nullptr);
Ref<graphics::Image> imageByNormalising(const graphics::Image& image, Ref<Error>* error = nullptr);
// Turns by the whole degrees in `angle` (radians): 90, 180 or 270, anything else is refused.
Ref<graphics::Image> imageRotate(const graphics::Image& image, float angle, Ref<Error>* error = nullptr);
Ref<graphics::Image> imageByHistogramEqualisation(const graphics::Image& image, Ref<Error>* error = nullptr);
Ref<graphics::Image> imageByTopologicalSkeleton(const graphics::Image& image, Ref<Error>* error = nullptr);
// The bounding rectangle of PointValue objects; the zero rectangle for none.
graphics::Rect rectForImagePoints(const Array& points);

}  // namespace zv::simpleImageProcessing
