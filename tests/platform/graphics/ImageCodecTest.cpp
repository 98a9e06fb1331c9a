#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/graphics/Image.h"
#include "platform/graphics/ImageCodec.h"
#include "support/TestSupport.h"

namespace zv::graphics {
namespace {

Bitmap gradient(int width, int height, bool withAlpha) {
  Bitmap b = Bitmap::filled(width, height, 0, 0, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      auto* p = b.pixel(x, y);
      p[0] = static_cast<std::uint8_t>(x * 255 / (width - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / (height - 1));
      p[2] = 128;
      p[3] = withAlpha ? static_cast<std::uint8_t>((x + y) % 256) : 255;
    }
  return b;
}

TEST(ImageCodecTest, PNGRoundTripKeepsEveryPixelWithAndWithoutAlpha) {
  for (bool alpha : {false, true}) {
    Bitmap source = gradient(37, 21, alpha);
    auto bytes = encodePNG(source);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(sniffImageFormat(*bytes), ImageFormat::PNG);
    auto decoded = decodePNG(*bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 37);
    EXPECT_EQ(decoded->height, 21);
    EXPECT_EQ(decoded->rgba, source.rgba) << "alpha " << alpha;
  }
}

TEST(ImageCodecTest, JPEGRoundTripIsCloseAndQualityTradesSizeForFidelity) {
  Bitmap source = gradient(64, 48, false);
  auto best = encodeJPEG(source, 1.0);
  auto worst = encodeJPEG(source, 0.0);
  ASSERT_TRUE(best && worst);
  EXPECT_LT(worst->size(), best->size());
  auto decoded = decodeJPEG(*best);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->width, 64);
  ASSERT_EQ(decoded->height, 48);
  int worstError = 0;
  for (std::size_t i = 0; i < source.rgba.size(); ++i)
    worstError = std::max(worstError, std::abs(int(source.rgba[i]) - int(decoded->rgba[i])));
  EXPECT_LE(worstError, 12);
}

// A black drawing on a clear ground must not become a black rectangle: clear pixels are laid on
// white, half-clear ones blend towards it, opaque ones keep their colour.
TEST(ImageCodecTest, JPEGLaysTransparencyOnWhite) {
  Bitmap source = Bitmap::filled(16, 16, 0, 0, 0, 0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) source.pixel(x, y)[3] = 255;        // opaque black
    for (int x = 8; x < 16; ++x) source.pixel(x, y + 8)[3] = 128;   // half-clear black
  }
  auto bytes = encodeJPEG(source, 1.0);
  ASSERT_TRUE(bytes);
  auto decoded = decodeJPEG(*bytes);
  ASSERT_TRUE(decoded);
  EXPECT_LE(decoded->pixel(3, 3)[0], 6);
  EXPECT_GE(decoded->pixel(12, 3)[0], 249);
  EXPECT_GE(decoded->pixel(3, 12)[1], 249);
  EXPECT_NEAR(decoded->pixel(12, 12)[2], 127, 8);
  EXPECT_EQ(decoded->pixel(12, 3)[3], 255);
}

TEST(ImageCodecTest, MalformedInputIsAnErrorNotACrash) {
  Bitmap source = gradient(16, 16, false);
  std::vector<std::uint8_t> png = *encodePNG(source);
  std::vector<std::uint8_t> jpeg = *encodeJPEG(source, 0.8);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    int code;
  };
  std::vector<Case> cases = {
      {"empty", {}, ImageErrorUnknownFormat},
      {"text", {'h', 'e', 'l', 'l', 'o'}, ImageErrorUnknownFormat},
      {"png signature only", std::vector<std::uint8_t>(png.begin(), png.begin() + 8), ImageErrorCorrupt},
      {"png cut in half", std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2), ImageErrorCorrupt},
      {"jpeg header only", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + 3), ImageErrorCorrupt},
      {"jpeg cut in half", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2), ImageErrorCorrupt},
      {"jpeg without its end marker", std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 2), ImageErrorCorrupt},
  };
  // A corrupted PNG data chunk fails its checksum.
  std::vector<std::uint8_t> flipped = png;
  flipped[png.size() - 20] ^= 0xff;
  cases.push_back({"png bad checksum", flipped, ImageErrorCorrupt});
  for (const auto& c : cases) {
    Ref<Error> error;
    EXPECT_FALSE(decodeImage(c.bytes, &error)) << c.name;
    ASSERT_TRUE(error) << c.name;
    EXPECT_EQ(error->domain(), kImageErrorDomain) << c.name;
    EXPECT_EQ(error->code(), c.code) << c.name;
  }
}

TEST(ImageCodecTest, TruncatedJPEGIsRefusedWithoutOverrun) {
  // libjpeg would pad a stream that ends early; the decoder refuses it, at every cut, without
  // reading past the bytes it was given.
  std::vector<std::uint8_t> jpeg = *encodeJPEG(gradient(32, 32, false), 0.8);
  for (std::size_t keep : {jpeg.size() / 3, jpeg.size() * 2 / 3, jpeg.size() - 1}) {
    std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(keep));
    Ref<Error> error;
    EXPECT_FALSE(decodeJPEG(cut, &error)) << keep;
    ASSERT_TRUE(error) << keep;
    EXPECT_EQ(error->code(), ImageErrorCorrupt) << keep;
  }
  EXPECT_TRUE(decodeJPEG(jpeg));
}

TEST(ImageTest, ImageFromDataAndFileWithScale) {
  zv::testing::TemporaryDirectory folder;
  auto png = *encodePNG(gradient(20, 10, false));
  zv::testing::writeFile(folder / "icon@2x.png", std::string(png.begin(), png.end()));
  auto image = Image::imageWithContentsOfFile(folder / "icon@2x.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->scale(), 2.0);
  EXPECT_EQ(image->size(), (Size{10, 5}));
  EXPECT_EQ(Image::imageWithContentsOfFile(folder / "missing.png"), nullptr);
  EXPECT_EQ(Image::imageWithData(*Data::make("not an image")), nullptr);

  auto jpeg = imageJPEGRepresentation(image, 0.5);
  ASSERT_TRUE(jpeg);
  auto back = Image::imageWithData(*jpeg);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixelWidth(), 20);
  EXPECT_EQ(imagePNGRepresentation(nullptr), nullptr);
}

TEST(ImageTest, NamedImagesComeFromTheResolver) {
  zv::testing::TemporaryDirectory folder;
  auto png = *encodePNG(gradient(4, 4, false));
  zv::testing::writeFile(folder / "back_icon.png", std::string(png.begin(), png.end()));
  Image::setNamedImageResolver([&](std::string_view name) -> std::optional<std::filesystem::path> {
    auto path = folder.path() / std::string(name);
    if (std::filesystem::exists(path)) return path;
    return std::nullopt;
  });
  EXPECT_TRUE(Image::imageNamed("back_icon.png"));
  EXPECT_TRUE(Image::imageNamed("back_icon"));
  EXPECT_FALSE(Image::imageNamed("forward_icon.png"));
  Image::setNamedImageResolver(nullptr);
}

}  // namespace
}  // namespace zv::graphics

#include "platform/graphics/ResourceLookup.h"
#include "platform/system/Bundle.h"

namespace zv::graphics {
namespace {

TEST(ResourceLookupTest, NamedImagesComeFromTheMainBundleIncludingSubfolders) {
  zv::testing::TemporaryDirectory bundle;
  std::filesystem::create_directories(bundle / "Sharing.bundle" / "images");
  auto png = *encodePNG(Bitmap::filled(3, 3, 1, 2, 3));
  std::string bytes(png.begin(), png.end());
  zv::testing::writeFile(bundle / "reload_icon.png", bytes);
  zv::testing::writeFile(bundle / "Sharing.bundle" / "images" / "close.png", bytes);
  Bundle::setMainBundlePath(bundle.path());
  EXPECT_TRUE(Image::imageNamed("reload_icon.png"));
  EXPECT_TRUE(Image::imageNamed("Sharing.bundle/images/close.png"));
  EXPECT_FALSE(Image::imageNamed("../reload_icon.png"));
  EXPECT_FALSE(Image::imageNamed("/etc/passwd"));
  Bundle::setMainBundlePath(std::nullopt);
}

}  // namespace
}  // namespace zv::graphics
