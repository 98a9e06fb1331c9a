#include <gtest/gtest.h>

#include <numbers>

#include "platform/graphics/BitmapContext.h"

namespace zv::graphics {
namespace {

const double pi = std::numbers::pi;

TEST(BitmapContextTest, RoundedRectangleIsFilledExceptOutsideItsCorners) {
  auto context = BitmapContext::make(40, 30, BitmapColorSpace::RGB);
  ASSERT_TRUE(context);
  context->setShouldAntialias(false);
  context->setFillColor(1, 0, 0);
  context->beginPath();
  context->addRoundedRect(Rect(5, 5, 30, 20), 8);
  context->fillPath();
  const RGBA8 red{255, 0, 0, 255}, black{0, 0, 0, 255};
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      double px = x + 0.5, py = y + 0.5;
      bool inBox = px > 5 && px < 35 && py > 5 && py < 25;
      // The corner regions: outside the quarter circle of radius 8 centred 8 inside each corner.
      double cx = px < 13 ? 13 : px > 27 ? 27 : px;
      double cy = py < 13 ? 13 : py > 17 ? 17 : py;
      double d = std::hypot(px - cx, py - cy);
      if (!inBox || d > 8.6) {
        EXPECT_EQ(context->pixelAt(x, y), black) << x << "," << y;
      } else if (d < 7.4) {
        EXPECT_EQ(context->pixelAt(x, y), red) << x << "," << y;
      }
    }
}

TEST(BitmapContextTest, ArcsFollowTheScreenConvention) {
  // A pie from 12 o'clock to 3 o'clock (angles growing clockwise on screen) fills the top-right
  // quarter only; with `clockwise` set the same angles sweep the other three quarters.
  for (bool clockwise : {false, true}) {
    auto context = BitmapContext::make(40, 40, BitmapColorSpace::RGB);
    context->setFillColor(1, 1, 1);
    context->beginPath();
    context->moveToPoint(20, 20);
    context->addArc(20, 20, 18, -pi / 2, 0, clockwise);
    context->closePath();
    context->fillPath();
    EXPECT_EQ(context->greyAt(30, 10), clockwise ? 0 : 255);
    EXPECT_EQ(context->greyAt(10, 10), clockwise ? 255 : 0);
    EXPECT_EQ(context->greyAt(10, 30), clockwise ? 255 : 0);
    EXPECT_EQ(context->greyAt(30, 30), clockwise ? 255 : 0);
  }
}

TEST(BitmapContextTest, GreyContextOverCallerBytesWritesLuminanceBack) {
  std::vector<std::uint8_t> pixels(6 * 4, 50);
  {
    auto context = BitmapContext::makeOver(pixels.data(), 6, 4, 6, BitmapColorSpace::Grey);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->greyAt(0, 0), 50);
    context->setFillColor(1, 1, 1);
    context->fillRect(Rect(0, 0, 3, 4));
    context->setFillColor(0, 0, 0, 0.5);  // half-transparent black over grey 50
    context->fillRect(Rect(3, 0, 3, 2));
  }
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[2 + 6 * 3], 255);
  EXPECT_NEAR(pixels[3], 25, 1);
  EXPECT_EQ(pixels[3 + 6 * 2], 50);
  EXPECT_EQ(BitmapContext::makeOver(pixels.data(), 6, 4, 5, BitmapColorSpace::Grey), nullptr);
}

TEST(BitmapContextTest, RGBContextOverCallerBytesUsesLittleEndianWordsWithSkippedTopByte) {
  std::vector<std::uint8_t> pixels(2 * 1 * 4, 0);
  {
    auto context = BitmapContext::makeOver(pixels.data(), 2, 1, 8, BitmapColorSpace::RGB);
    context->setFillColor(1.0, 0.5, 0.0);
    context->fillRect(Rect(0, 0, 1, 1));
  }
  EXPECT_EQ(pixels[0], 0);     // blue
  EXPECT_NEAR(pixels[1], 128, 1);  // green
  EXPECT_EQ(pixels[2], 255);   // red
}

TEST(BitmapContextTest, StrokesAlphaAndStateStack) {
  auto context = BitmapContext::make(20, 20, BitmapColorSpace::RGBA);
  EXPECT_EQ(context->pixelAt(5, 5).a, 0);
  context->saveGState();
  context->setAlpha(0.5);
  context->setFillColor(0, 0, 1);
  context->fillRect(Rect(0, 0, 10, 10));
  context->restoreGState();
  EXPECT_NEAR(context->pixelAt(5, 5).a, 128, 1);
  EXPECT_EQ(context->pixelAt(5, 5).b, 255);
  context->setFillColor(0, 1, 0);
  context->fillRect(Rect(10, 10, 10, 10));
  EXPECT_EQ(context->pixelAt(15, 15).a, 255);  // alpha was restored
  context->setStrokeColor(1, 0, 0);
  context->setLineWidth(2);
  context->setShouldAntialias(false);
  context->strokeLineSegments({{0, 15}, {9, 15}});
  EXPECT_EQ(context->pixelAt(4, 15), (RGBA8{255, 0, 0, 255}));
  EXPECT_EQ(context->pixelAt(4, 12).a, 0);
}

TEST(BitmapContextTest, ImagesAreDrawnUprightAndScaled) {
  Bitmap two = Bitmap::filled(1, 2, 255, 0, 0);
  two.pixel(0, 1)[0] = 0, two.pixel(0, 1)[2] = 255;  // top red, bottom blue
  auto image = Image::make(two);
  auto context = BitmapContext::make(10, 10, BitmapColorSpace::RGB);
  context->setInterpolationQuality(InterpolationQuality::None);
  context->drawImage(Rect(0, 0, 10, 10), *image);
  EXPECT_EQ(context->pixelAt(5, 1), (RGBA8{255, 0, 0, 255}));
  EXPECT_EQ(context->pixelAt(5, 8), (RGBA8{0, 0, 255, 255}));
  auto snapshot = context->makeImage();
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->bitmap().pixel(5, 8)[2], 255);
}

}  // namespace
}  // namespace zv::graphics
