// Grey images: construction and conversion, and the pixel-wise routines against literal
// re-statements of their rules.
#include <gtest/gtest.h>

#include <random>

#include "utilities/GreyImage.h"

namespace zv {
namespace {

std::unique_ptr<Image> filled(int width, int height, std::uint8_t value) {
  auto image = Image::create(width, height);
  std::fill(image->pixels, image->pixels + image->pixelCount(), value);
  return image;
}

std::unique_ptr<Image> randomImage(int width, int height, unsigned seed) {
  auto image = Image::create(width, height);
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < image->pixelCount(); ++i) image->pixels[i] = static_cast<std::uint8_t>(random());
  return image;
}

std::vector<std::uint8_t> pixelsOf(const Image& image) {
  return {image.pixels, image.pixels + image.pixelCount()};
}

TEST(GreyImageTest, CreateRefusesEmptyAndOversizedImages) {
  EXPECT_FALSE(Image::create(0, 0));
  EXPECT_FALSE(Image::create(-1, 5));
  EXPECT_FALSE(Image::create(10000, 10000));  // beyond the pixel limit
  auto image = Image::create(3, 2);
  ASSERT_TRUE(image);
  EXPECT_TRUE(image->ownsPixels);
  EXPECT_EQ(image->rows[1], image->pixels + 3);
  std::uint8_t bytes[4] = {1, 2, 3, 4};
  auto borrowed = Image::over(bytes, 2, 2);
  EXPECT_FALSE(borrowed->ownsPixels);
  EXPECT_EQ(borrowed->at(1, 1), 4);
}

TEST(GreyImageTest, RoundTripThroughPlatformImagesKeepsTheLevels) {
  auto grey = randomImage(7, 5, 1);
  auto platform = uiImageFromGreyImage(*grey);
  ASSERT_TRUE(platform);
  EXPECT_EQ(platform->pixelWidth(), 7);
  const std::uint8_t* p = platform->bitmap().pixel(3, 4);
  EXPECT_EQ(p[0], grey->at(3, 4));
  EXPECT_EQ(p[1], grey->at(3, 4));
  EXPECT_EQ(p[2], grey->at(3, 4));
  auto back = greyImageFromUIImage(platform, 7, 5, false);
  ASSERT_TRUE(back);
  EXPECT_EQ(pixelsOf(*back->image()), pixelsOf(*grey));
}

TEST(GreyImageTest, RotatedConstructionPutsTheTopLeftPixelTopRight) {
  // Requested 3 x 2 with rotation: drawn into 2 x 3, then a quarter turn clockwise.
  std::uint8_t drawn[6] = {10, 20, 30, 40, 50, 60};  // 2 wide, 3 high
  auto source = uiImageFromGreyImage(*Image::over(drawn, 2, 3));
  Ref<Error> error;
  auto rotated = greyImageFromUIImage(source, 3, 2, true, &error);
  ASSERT_TRUE(rotated) << error->description();
  const Image& image = *rotated->image();
  ASSERT_EQ(image.width, 3);
  ASSERT_EQ(image.height, 2);
  EXPECT_EQ(image.at(2, 0), 10);  // top-right = drawn top-left
  EXPECT_EQ(image.at(0, 0), 50);  // drawn bottom-left
  EXPECT_EQ(image.at(1, 1), 40);
}

TEST(GreyImageTest, ConstructionRefusesBadSizesWithAnError) {
  auto source = uiImageFromGreyImage(*filled(4, 4, 9));
  for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {10000, 10000}}) {
    Ref<Error> error;
    EXPECT_FALSE(greyImageFromUIImage(source, w, h, false, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), GreyImageErrorBadSize);
  }
  Ref<Error> error;
  EXPECT_FALSE(greyImageFromUIImage(nullptr, 4, 4, false, &error));
  EXPECT_EQ(error->code(), GreyImageErrorNoSourceImage);
  auto single = greyImageFromUIImage(source, 1, 1, false);
  ASSERT_TRUE(single);
  EXPECT_EQ(single->image()->at(0, 0), 9);
}

TEST(GreyImageTest, NormaliseStretchesTheRangeAndLeavesAUniformImage) {
  std::uint8_t bytes[3] = {50, 100, 150};
  auto image = Image::over(bytes, 3, 1);
  normaliseGreyImage(*image);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 127);
  EXPECT_EQ(bytes[2], 255);
  auto uniform = filled(4, 4, 77);
  normaliseGreyImage(*uniform);
  EXPECT_EQ(pixelsOf(*uniform), std::vector<std::uint8_t>(16, 77));
}

TEST(GreyImageTest, NormaliseIsExactForEveryRange) {
  for (int low = 0; low < 256; low += 17) {
    for (int high = low + 1; high < 256; ++high) {
      // Every level of the range, several times over, so the wide path sees them all.
      std::vector<std::uint8_t> bytes;
      for (int repeat = 0; repeat < 3; ++repeat)
        for (int v = low; v <= high; ++v) bytes.push_back(static_cast<std::uint8_t>(v));
      auto expected = bytes;
      for (auto& v : expected) v = static_cast<std::uint8_t>((v - low) * 255 / (high - low));
      normaliseGreyImage(*Image::over(bytes.data(), static_cast<int>(bytes.size()), 1));
      ASSERT_EQ(bytes, expected) << low << ".." << high;
    }
  }
}

TEST(GreyImageTest, ThresholdComparesWithEightTenthsOfTheMean) {
  // A uniform 100 lies above 80, so it turns black: the rule wins over the example that says white.
  auto uniform = thresholdGreyImage(*filled(5, 5, 100));
  EXPECT_EQ(pixelsOf(*uniform->image()), std::vector<std::uint8_t>(25, 0));
  // Mean 100 of {60, 140}: 80 is the limit; 80 stays white, 81 turns black.
  std::uint8_t bytes[4] = {60, 140, 80, 120};
  auto result = thresholdGreyImage(*Image::over(bytes, 4, 1));
  EXPECT_EQ(pixelsOf(*result->image()), (std::vector<std::uint8_t>{255, 0, 255, 0}));
  // Wide enough for the vector path: every level against the limit of its mean.
  auto ramp = randomImage(97, 13, 9);
  auto ramped = thresholdGreyImage(*ramp);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < ramp->pixelCount(); ++i) sum += ramp->pixels[i];
  double limit = static_cast<double>(sum / ramp->pixelCount()) * 0.8;
  for (std::size_t i = 0; i < ramp->pixelCount(); ++i)
    ASSERT_EQ(ramped->image()->pixels[i], ramp->pixels[i] > limit ? 0 : 255) << i;
}

TEST(GreyImageTest, ThresholdSumsDoNotOverflowOnLargeWhiteImages) {
  // 9 megapixels of 255: a 32-bit sum would wrap and give a wrong mean.
  auto white = filled(3000, 3000, 255);
  white->pixels[0] = 0;
  auto result = thresholdGreyImage(*white);
  EXPECT_EQ(result->image()->pixels[0], 255);
  EXPECT_EQ(result->image()->pixels[1], 0);
}

// The local threshold literally: the running 8 x 8 window over the pixel sequence.
std::vector<int> literalLocalThreshold(const Image& image) {
  const std::int64_t w = image.width, n = static_cast<std::int64_t>(image.pixelCount());
  const std::uint8_t* p = image.pixels;
  std::vector<int> out(n, -1);  // -1: not judged by a whole window
  std::int64_t s = 0;
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) s += p[r * w + c];
  for (std::int64_t i = 4 + 4 * w; i < n - 4 - 4 * w; ++i) {
    out[i] = p[i] > (s / 64) * 0.9 ? 0 : 255;
    for (int r = 0; r < 8; ++r) {
      std::int64_t left = i - 4 - 4 * w + r * w;
      s -= p[left];
      if (left + 8 < n) s += p[left + 8];
    }
  }
  return out;
}

// Runs a check with the widest vector steps the processor has, then without them.
template <typename Check>
void withAndWithoutWideVectors(Check check) {
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "wide vectors" : "narrow vectors");
    setGreyImageWideVectorsAllowed(wide);
    check();
  }
  setGreyImageWideVectorsAllowed(true);
}

// Levels that sweep the whole range across the image, so windows see every mean.
std::unique_ptr<Image> sweptImage(int width, int height) {
  auto image = Image::create(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image->rows[y][x] = static_cast<std::uint8_t>((x * 7 + y * 3 + (x * y) % 11) % 256);
  return image;
}

TEST(GreyImageTest, LocalThresholdMatchesTheRunningWindowAndWritesEveryPixel) {
  withAndWithoutWideVectors([] {
  for (auto [w, h] : {std::pair{8, 9}, {9, 8}, {13, 11}, {64, 40}, {200, 17}, {300, 64}, {600, 600},
                      {1, 17}, {3, 20}, {4, 40}, {7, 10}, {5, 300}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    auto image = w >= 300 ? sweptImage(w, h) : randomImage(w, h, static_cast<unsigned>(w * 1000 + h));
    auto result = localThresholdGreyImage(*image);
    ASSERT_TRUE(result);
    auto expected = literalLocalThreshold(*image);
    const std::uint8_t* out = result->image()->pixels;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (expected[i] >= 0) {
        ASSERT_EQ(out[i], expected[i]) << "pixel " << i;
      } else {
        ASSERT_TRUE(out[i] == 0 || out[i] == 255) << "pixel " << i;
      }
    }
  }
  });
}

TEST(GreyImageTest, LocalThresholdJudgesBorderPixelsAgainstTheNearestWindow) {
  // Dark top rows, bright rest: the first whole window averages mostly bright pixels.
  auto image = filled(10, 12, 200);
  for (int i = 0; i < 10; ++i) image->pixels[i] = 10;
  auto result = localThresholdGreyImage(*image);
  EXPECT_EQ(result->image()->at(0, 0), 255);  // 10 is darker than 0.9 x the window mean
  EXPECT_EQ(result->image()->at(9, 11), 0);   // the last pixel: bright against a bright window
}

TEST(GreyImageTest, LocalThresholdOnImagesWithoutAWholeWindowUsesTheirBlock) {
  for (auto [w, h] : {std::pair{1, 1}, {20, 3}, {7, 7}, {40, 8}, {1, 16}}) {
    auto image = filled(w, h, 100);
    image->pixels[0] = 50;
    auto result = localThresholdGreyImage(*image);
    ASSERT_TRUE(result);
    if (w * h > 1) {
      EXPECT_EQ(result->image()->pixels[0], 255);
      EXPECT_EQ(result->image()->pixels[1], 0);
    }
  }
}

TEST(GreyImageTest, LocalThresholdOnImagesUnderEightColumnsRunsTheWindowAcrossRows) {
  // 4 x 40, rows 0..19 at 200 and 20..39 at 50: from row 25 on the windows judging rows lie wholly
  // in the dark half (mean 50, limit 45), where 50 is black; the top half's block would call it white.
  withAndWithoutWideVectors([] {
    auto image = filled(4, 40, 200);
    std::fill(image->pixels + 4 * 20, image->pixels + 4 * 40, std::uint8_t{50});
    auto result = localThresholdGreyImage(*image);
    ASSERT_TRUE(result);
    for (int y = 25; y <= 34; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(result->image()->at(x, y), 0) << x << "," << y;
  });
}

TEST(GreyImageTest, BlurMatchesTheKernelAndShrinksByFive) {
  static const int kWeights[5][5] = {
      {1, 4, 7, 4, 1}, {4, 16, 26, 16, 4}, {7, 26, 41, 26, 7}, {4, 16, 26, 16, 4}, {1, 4, 7, 4, 1}};
  auto image = randomImage(23, 17, 3);
  auto result = gaussianBlurGreyImage(*image);
  ASSERT_TRUE(result);
  ASSERT_EQ(result->image()->width, 18);
  ASSERT_EQ(result->image()->height, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 18; ++x) {
      int sum = 0;
      for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i) sum += image->at(x + i, y + j) * kWeights[j][i];
      ASSERT_EQ(result->image()->at(x, y), sum / 273) << x << "," << y;
    }
  }
  auto uniform = gaussianBlurGreyImage(*filled(10, 10, 200));
  EXPECT_EQ(uniform->image()->width, 5);
  EXPECT_EQ(pixelsOf(*uniform->image()), std::vector<std::uint8_t>(25, 200 * 273 / 273));
  auto white = gaussianBlurGreyImage(*filled(6, 6, 255));
  EXPECT_EQ(white->image()->at(0, 0), 255);
}

TEST(GreyImageTest, BlurIsExactOnWideImagesAtEveryLevel) {
  withAndWithoutWideVectors([] {
  // Wide rows go through the vector steps; white reaches the largest sum (273 x 255).
  static const int kWeights[5][5] = {
      {1, 4, 7, 4, 1}, {4, 16, 26, 16, 4}, {7, 26, 41, 26, 7}, {4, 16, 26, 16, 4}, {1, 4, 7, 4, 1}};
  std::vector<std::unique_ptr<Image>> images;
  images.push_back(randomImage(101, 9, 5));
  images.push_back(filled(70, 6, 255));
  auto levels = Image::create(261, 7);
  for (std::size_t i = 0; i < levels->pixelCount(); ++i) levels->pixels[i] = static_cast<std::uint8_t>(255 - i % 256);
  images.push_back(std::move(levels));
  images.push_back(sweptImage(133, 20));
  for (const auto& image : images) {
    auto result = gaussianBlurGreyImage(*image);
    ASSERT_TRUE(result);
    for (int y = 0; y < result->image()->height; ++y) {
      for (int x = 0; x < result->image()->width; ++x) {
        int sum = 0;
        for (int j = 0; j < 5; ++j)
          for (int i = 0; i < 5; ++i) sum += image->at(x + i, y + j) * kWeights[j][i];
        ASSERT_EQ(result->image()->at(x, y), sum / 273) << image->width << ": " << x << "," << y;
      }
    }
  }
  });
}

TEST(GreyImageTest, BlurRefusesImagesNoLargerThanItsKernel) {
  for (auto [w, h] : {std::pair{5, 5}, {1, 1}, {100, 5}, {5, 100}}) {
    Ref<Error> error;
    EXPECT_FALSE(gaussianBlurGreyImage(*filled(w, h, 1), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), GreyImageErrorTooSmall);
  }
}

TEST(GreyImageTest, EqualiseSpreadsTheCumulativeCounts) {
  std::uint8_t bytes[4] = {10, 20, 10, 20};
  equaliseGreyImage(*Image::over(bytes, 2, 2));
  EXPECT_EQ(bytes[0], 127);
  EXPECT_EQ(bytes[1], 255);
  // 9 megapixels: c[p] x 255 overflows 32 bits.
  auto large = filled(3000, 3000, 255);
  std::fill(large->pixels, large->pixels + large->pixelCount() / 2, 0);
  equaliseGreyImage(*large);
  EXPECT_EQ(large->pixels[0], 127);
  EXPECT_EQ(large->pixels[large->pixelCount() - 1], 255);
}

TEST(GreyImageTest, WrapperDeletesOnlyWhatItOwns) {
  auto borrowed = Image::create(2, 2);
  { auto wrapper = ImageWrapper::imageWithCPPImage(borrowed.get(), false); }
  EXPECT_EQ(borrowed->width, 2);  // still alive (ASan would report a use after free)
  auto owned = ImageWrapper::imageWithCPPImage(Image::create(2, 2));
  EXPECT_TRUE(owned->ownsImage());
  EXPECT_FALSE(ImageWrapper::imageWithCPPImage(std::unique_ptr<Image>()));
}

}  // namespace
}  // namespace zv
