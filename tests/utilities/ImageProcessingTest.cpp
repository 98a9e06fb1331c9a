// The grey routines behind platform images: sizes, points, rectangles, angles and bad input.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/graphics/ImageCodec.h"
#include "utilities/GreyImage.h"
#include "utilities/ImageProcessing.h"

namespace zv {
namespace {

namespace sip = simpleImageProcessing;
using graphics::Point;
using graphics::Rect;
using graphics::Size;

// A platform image from grey levels (scale 1 unless given).
Ref<graphics::Image> picture(int width, int height, const std::function<std::uint8_t(int, int)>& level,
                             double scale = 1.0) {
  graphics::Bitmap bitmap = graphics::Bitmap::filled(width, height, 0, 0, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = bitmap.pixel(x, y);
      p[0] = p[1] = p[2] = level(x, y);
    }
  return graphics::Image::make(std::move(bitmap), scale);
}

std::uint8_t redAt(const Ref<graphics::Image>& image, int x, int y) { return image->bitmap().pixel(x, y)[0]; }

TEST(ImageProcessingTest, ResultsAreGreyAtTheDocumentedSizes) {
  auto image = picture(20, 12, [](int x, int y) { return static_cast<std::uint8_t>(x * 10 + y); });
  auto blurred = sip::imageByGaussianBlur(*image);
  ASSERT_TRUE(blurred);
  EXPECT_EQ(blurred->pixelWidth(), 15);
  EXPECT_EQ(blurred->pixelHeight(), 7);
  const std::uint8_t* p = blurred->bitmap().pixel(3, 3);
  EXPECT_EQ(p[0], p[1]);
  EXPECT_EQ(p[1], p[2]);
  auto edges = sip::imageByCannyEdgeExtraction(*image, 0.4f, 0.9f);
  ASSERT_TRUE(edges);
  EXPECT_EQ(edges->pixelWidth(), 17);
  auto resized = sip::imageResize(*image, Size{10.9, 6.2});
  ASSERT_TRUE(resized);
  EXPECT_EQ(resized->pixelWidth(), 10);
  EXPECT_EQ(resized->pixelHeight(), 6);
  for (auto result : {sip::imageByLocalThreshold(*image), sip::imageByThresholding(*image), sip::imageByNormalising(*image),
                      sip::imageByHistogramEqualisation(*image), sip::imageByTopologicalSkeleton(*image)}) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->pixelWidth(), 20);
  }
}

TEST(ImageProcessingTest, PointSizesAreTruncatedToWholePixels) {
  // 201 x 101 pixels at scale 2 is 100.5 x 50.5 points: processed as 100 x 50.
  auto image = picture(201, 101, [](int, int) { return 90; }, 2.0);
  auto normalised = sip::imageByNormalising(*image);
  ASSERT_TRUE(normalised);
  EXPECT_EQ(normalised->pixelWidth(), 100);
  EXPECT_EQ(normalised->pixelHeight(), 50);
}

TEST(ImageProcessingTest, RotationByRightAnglesAndRefusalOfOthers) {
  // 4 x 2 with a bright top-left pixel.
  auto image = picture(4, 2, [](int x, int y) { return static_cast<std::uint8_t>(x == 0 && y == 0 ? 250 : 10); });
  const float pi = 3.14159265f;
  auto quarter = sip::imageRotate(*image, pi / 2);
  ASSERT_TRUE(quarter);
  EXPECT_EQ(quarter->pixelWidth(), 2);
  EXPECT_EQ(redAt(quarter, 0, 3), 250);  // anticlockwise: top-left goes bottom-left
  auto half = sip::imageRotate(*image, pi);
  ASSERT_TRUE(half);
  EXPECT_EQ(redAt(half, 3, 1), 250);  // a half turn, not a flip
  auto threeQuarters = sip::imageRotate(*image, 3 * pi / 2);
  ASSERT_TRUE(threeQuarters);
  EXPECT_EQ(redAt(threeQuarters, 1, 0), 250);
  for (float angle : {0.0f, pi / 4, -pi / 2, 2 * pi}) {
    Ref<Error> error;
    EXPECT_FALSE(sip::imageRotate(*image, angle, &error)) << angle;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), GreyImageErrorBadAngle);
  }
}

TEST(ImageProcessingTest, RegionsListPixelPointsInFillOrder) {
  // A 3 x 3 bright block at columns and rows 1 ... 3.
  auto image = picture(8, 8, [](int x, int y) { return static_cast<std::uint8_t>(x >= 1 && x <= 3 && y >= 1 && y <= 3 ? 255 : 0); });
  auto region = sip::connectedRegionFromPoint(*image, Point{2.7, 3.9});  // from pixel (2, 3)
  ASSERT_TRUE(region);
  ASSERT_EQ(region->count(), 9u);
  auto first = region->objectAtIndexAs<graphics::PointValue>(0)->point();
  EXPECT_EQ(first, (Point{2, 3}));
  EXPECT_EQ(sip::rectForImagePoints(*region), Rect(1, 1, 2, 2));
  auto outside = sip::connectedRegionFromPoint(*image, Point{-1, 2});
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->count(), 0u);
  auto largest = sip::largestRegion(*image);
  ASSERT_TRUE(largest);
  EXPECT_EQ(largest->count(), 9u);
}

TEST(ImageProcessingTest, RectangleOfPoints) {
  auto points = MutableArray::make({graphics::PointValue::make({1, 5}), graphics::PointValue::make({4, 2})});
  EXPECT_EQ(sip::rectForImagePoints(*points), Rect(1, 2, 3, 3));
  Rect empty = sip::rectForImagePoints(*Array::make());
  EXPECT_EQ(empty, Rect());
  EXPECT_TRUE(std::isfinite(empty.width()));
}

TEST(ImageProcessingTest, BadImagesGiveErrorsNotCrashes) {
  // Corrupt files decode to nothing, and nothing is what the routines are given then.
  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 1, 2};
  std::vector<std::uint8_t> jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2};
  EXPECT_FALSE(graphics::Image::imageWithData(std::span<const std::uint8_t>(png)));
  EXPECT_FALSE(graphics::Image::imageWithData(std::span<const std::uint8_t>(jpeg)));
  Ref<Error> error;
  EXPECT_FALSE(greyImageFromUIImage(graphics::Image::imageWithData(std::span<const std::uint8_t>(png)), 10, 10, false, &error));
  ASSERT_TRUE(error);

  // 1 x 1: routines with kernels refuse, the others answer.
  auto dot = picture(1, 1, [](int, int) { return 200; });
  error = nullptr;
  EXPECT_FALSE(sip::imageByGaussianBlur(*dot, &error));
  EXPECT_EQ(error->code(), GreyImageErrorTooSmall);
  EXPECT_FALSE(sip::imageByCannyEdgeExtraction(*dot, 0.4f, 0.9f));
  auto thresholded = sip::imageByLocalThreshold(*dot);
  ASSERT_TRUE(thresholded);
  EXPECT_EQ(thresholded->pixelWidth(), 1);
  EXPECT_TRUE(sip::imageByNormalising(*dot));

  // 0 x 0 and 10,000 x 10,000 sizes are refused.
  error = nullptr;
  EXPECT_FALSE(sip::imageResize(*dot, Size{0, 0}, &error));
  EXPECT_EQ(error->code(), GreyImageErrorBadSize);
  error = nullptr;
  EXPECT_FALSE(sip::imageResize(*dot, Size{10000, 10000}, &error));
  EXPECT_EQ(error->code(), GreyImageErrorBadSize);
}

}  // namespace
}  // namespace zv
