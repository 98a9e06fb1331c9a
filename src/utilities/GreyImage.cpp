#include "utilities/GreyImage.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace zv {

Ref<Error> makeGreyImageError(GreyImageErrorCode code, const char* description) {
  return Error::make(kGreyImageErrorDomain, code, std::string(description));
}

namespace {

void setError(Ref<Error>* error, GreyImageErrorCode code, const char* description) {
  if (error) *error = makeGreyImageError(code, description);
}

bool isAllowedSize(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width * height <= kMaximumGreyImagePixels;
}

// The smallest pixel value that a comparison "pixel > level x factor" (in double) sends to black,
// for every level: the routines then compare integers per pixel.
std::array<int, 256> blackFromTable(double factor) {
  std::array<int, 256> table{};
  for (int level = 0; level < 256; ++level) {
    int p = 0;
    while (p < 256 && !(static_cast<double>(p) > level * factor)) ++p;
    table[level] = p;
  }
  return table;
}

}  // namespace

// --- Image ---

std::unique_ptr<Image> Image::create(std::int32_t width, std::int32_t height) {
  if (!isAllowedSize(width, height)) return nullptr;
  auto image = std::make_unique<Image>();
  image->pixels = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(width) * height, 1));
  if (!image->pixels) return nullptr;
  image->ownsPixels = true;
  image->width = width;
  image->height = height;
  image->buildRowTable();
  return image;
}

std::unique_ptr<Image> Image::over(std::uint8_t* pixels, std::int32_t width, std::int32_t height) {
  if (!pixels || !isAllowedSize(width, height)) return nullptr;
  auto image = std::make_unique<Image>();
  image->pixels = pixels;
  image->width = width;
  image->height = height;
  image->buildRowTable();
  return image;
}

Image::~Image() {
  if (ownsPixels) std::free(pixels);
}

void Image::buildRowTable() {
  rows.resize(static_cast<std::size_t>(std::max(height, 0)));
  for (std::int32_t y = 0; y < height; ++y) rows[y] = pixels + static_cast<std::size_t>(y) * width;
}

// --- ImageWrapper ---

Ref<ImageWrapper> ImageWrapper::imageWithCPPImage(std::unique_ptr<Image> image) {
  if (!image) return nullptr;
  return std::make_shared<ImageWrapper>(image.release(), true);
}

Ref<ImageWrapper> ImageWrapper::imageWithCPPImage(Image* image, bool ownsImage) {
  return std::make_shared<ImageWrapper>(image, ownsImage);
}

ImageWrapper::~ImageWrapper() {
  if (ownsImage_) delete image_;
}

// --- Conversions ---

std::unique_ptr<Image> createImage(const graphics::Image& source, std::int32_t width, std::int32_t height,
                                   graphics::InterpolationQuality quality, bool rotate, Ref<Error>* error) {
  if (!isAllowedSize(width, height)) {
    setError(error, GreyImageErrorBadSize, "The grey image would have no pixels or too many");
    return nullptr;
  }
  std::int32_t drawWidth = rotate ? height : width;
  std::int32_t drawHeight = rotate ? width : height;
  auto drawn = Image::create(drawWidth, drawHeight);
  std::unique_ptr<graphics::BitmapContext> context;
  if (drawn) {
    context = graphics::BitmapContext::makeOver(drawn->pixels, drawWidth, drawHeight, drawWidth,
                                                graphics::BitmapColorSpace::Grey);
  }
  if (!context) {
    setError(error, GreyImageErrorBadSize, "No grey bitmap of that size could be made");
    return nullptr;
  }
  context->setInterpolationQuality(quality);
  context->setShouldAntialias(false);
  context->drawImage(graphics::Rect(0, 0, drawWidth, drawHeight), source);
  context.reset();  // writes the drawing back into the buffer
  if (!rotate) return drawn;

  // A quarter turn clockwise: drawn (x, y) goes to (drawHeight - 1 - y, x).
  auto turned = Image::create(width, height);
  if (!turned) {
    setError(error, GreyImageErrorBadSize, "No grey bitmap of that size could be made");
    return nullptr;
  }
  for (std::int32_t y = 0; y < drawHeight; ++y) {
    const std::uint8_t* in = drawn->rows[y];
    std::int32_t column = drawHeight - 1 - y;
    for (std::int32_t x = 0; x < drawWidth; ++x) turned->rows[x][column] = in[x];
  }
  return turned;
}

Ref<ImageWrapper> greyImageFromUIImage(const Ref<graphics::Image>& source, std::int32_t width, std::int32_t height,
                                       bool rotate, Ref<Error>* error) {
  if (!source) {
    setError(error, GreyImageErrorNoSourceImage, "There is no image to draw");
    return nullptr;
  }
  return ImageWrapper::imageWithCPPImage(
      createImage(*source, width, height, graphics::InterpolationQuality::High, rotate, error));
}

Ref<graphics::Image> uiImageFromGreyImage(const Image& image) {
  if (!image.pixels || !isAllowedSize(image.width, image.height)) return nullptr;
  std::vector<std::uint8_t> words(image.pixelCount() * 4, 0);
  // Little-endian 32-bit words with the unused byte on top: blue, green, red, unused in memory.
  std::uint8_t* out = words.data();
  for (std::int32_t y = 0; y < image.height; ++y) {
    const std::uint8_t* in = image.rows[y];
    for (std::int32_t x = 0; x < image.width; ++x, out += 4) out[0] = out[1] = out[2] = in[x];
  }
  auto context = graphics::BitmapContext::makeOver(words.data(), image.width, image.height, image.width * 4,
                                                   graphics::BitmapColorSpace::RGB);
  if (!context) return nullptr;
  return context->makeImage();
}

// --- Pixel-wise routines ---

void normaliseGreyImage(Image& image) {
  std::size_t count = image.pixelCount();
  if (count == 0 || !image.pixels) return;
  std::uint8_t* p = image.pixels;
  std::uint8_t low = 255, high = 0;
  for (std::size_t i = 0; i < count; ++i) {
    low = std::min(low, p[i]);
    high = std::max(high, p[i]);
  }
  if (low == high) return;
  std::array<std::uint8_t, 256> map{};
  for (int v = low; v <= high; ++v) map[v] = static_cast<std::uint8_t>((v - low) * 255 / (high - low));
  for (std::size_t i = 0; i < count; ++i) p[i] = map[p[i]];
}

Ref<ImageWrapper> thresholdGreyImage(const Image& image) {
  auto output = Image::create(image.width, image.height);
  if (!output || !image.pixels) return nullptr;
  std::size_t count = image.pixelCount();
  const std::uint8_t* in = image.pixels;
  // 64-bit: 8.4 megapixels of white already overflow 31 bits.
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += in[i];
  int mean = static_cast<int>(sum / count);
  static const std::array<int, 256> blackFrom = blackFromTable(0.8);
  int limit = blackFrom[mean];
  std::uint8_t* out = output->pixels;
  for (std::size_t i = 0; i < count; ++i) out[i] = in[i] >= limit ? 0 : 255;
  return ImageWrapper::imageWithCPPImage(std::move(output));
}

namespace {

// The local threshold's window over the pixel sequence p: it judges pixel i with the 64 pixels
// p[i - 4 - 4w + r*w + c] (r, c in 0..7). V(j) = sum of p[j + r*w] for r in 0..7 is kept in a ring
// of w entries (V(j) follows from V(j - w)); the window is the sum of eight consecutive V.
void localThresholdPass(const std::uint8_t* p, std::uint8_t* out, std::int64_t w, std::int64_t n) {
  static const std::array<int, 256> blackFrom = blackFromTable(0.9);
  const std::int64_t lead = 4 + 4 * w;
  const std::int64_t end = n - lead;  // first index not judged by a whole window
  std::vector<std::int32_t> ring(static_cast<std::size_t>(w));
  for (std::int64_t j = 0; j < w; ++j) {
    std::int32_t v = 0;
    for (int r = 0; r < 8; ++r) v += p[j + r * w];
    ring[j] = v;
  }
  std::int32_t s = 0;
  for (std::int64_t j = 0; j < 8; ++j) s += ring[j];
  const int firstLimit = blackFrom[s >> 6];
  for (std::int64_t i = 0; i < lead; ++i) out[i] = p[i] >= firstLimit ? 0 : 255;
  int limit = firstLimit;
  // The window judging pixel i starts at column sum j0 = i - lead and ends at j0 + 7; each step
  // drops V(j0) and takes V(j0 + 8), computed from V(j0 + 8 - w) in the same ring slot.
  std::int64_t slotLeaving = 0, slotEntering = 8 % w;
  std::int32_t* v = ring.data();
  for (std::int64_t i = lead; i < end; ++i) {
    limit = blackFrom[s >> 6];
    out[i] = p[i] >= limit ? 0 : 255;
    if (i + 1 == end) break;
    const std::int32_t leaving = v[slotLeaving];  // with w == 8 its slot is reused for j0 + 8
    const std::int64_t j = i - lead + 8;
    if (j >= w) v[slotEntering] += p[j + 7 * w] - p[j - w];
    s += v[slotEntering] - leaving;
    if (++slotLeaving == w) slotLeaving = 0;
    if (++slotEntering == w) slotEntering = 0;
  }
  for (std::int64_t i = std::max(end, lead); i < n; ++i) out[i] = p[i] >= limit ? 0 : 255;
}

}  // namespace

Ref<ImageWrapper> localThresholdGreyImage(const Image& image) {
  auto output = Image::create(image.width, image.height);
  if (!output || !image.pixels) return nullptr;
  const std::int64_t w = image.width;
  const std::int64_t n = static_cast<std::int64_t>(image.pixelCount());
  const std::uint8_t* p = image.pixels;
  if (image.width >= 8 && image.height >= 8 && 4 + 4 * w < n - (4 + 4 * w)) {
    localThresholdPass(p, output->pixels, w, n);
  } else {
    // No whole window fits: the mean of the top-left block (up to 8 x 8) judges every pixel.
    std::int64_t sum = 0, count = 0;
    for (std::int32_t y = 0; y < std::min(image.height, 8); ++y)
      for (std::int32_t x = 0; x < std::min(image.width, 8); ++x, ++count) sum += image.at(x, y);
    double level = static_cast<double>(sum / count) * 0.9;
    for (std::int64_t i = 0; i < n; ++i) output->pixels[i] = p[i] > level ? 0 : 255;
  }
  return ImageWrapper::imageWithCPPImage(std::move(output));
}

Ref<ImageWrapper> gaussianBlurGreyImage(const Image& image, Ref<Error>* error) {
  if (image.width <= 5 || image.height <= 5 || !image.pixels) {
    setError(error, GreyImageErrorTooSmall, "The image is smaller than the blur's kernel");
    return nullptr;
  }
  const std::int32_t outWidth = image.width - 5, outHeight = image.height - 5;
  auto output = Image::create(outWidth, outHeight);
  if (!output) return nullptr;
  // The kernel is the outer product of (1 4 7 4 1) with itself less 2 on the four arms next to the
  // centre and 8 at the centre: a separable pass and a small correction, exact in integers.
  const std::int32_t inWidth = image.width;
  std::vector<std::uint16_t> vertical(static_cast<std::size_t>(inWidth));
  std::vector<std::uint16_t> arms(static_cast<std::size_t>(inWidth));
  for (std::int32_t y = 0; y < outHeight; ++y) {
    const std::uint8_t* r0 = image.rows[y];
    const std::uint8_t* r1 = image.rows[y + 1];
    const std::uint8_t* r2 = image.rows[y + 2];
    const std::uint8_t* r3 = image.rows[y + 3];
    const std::uint8_t* r4 = image.rows[y + 4];
    std::uint16_t* v = vertical.data();
    std::uint16_t* a = arms.data();
    for (std::int32_t x = 0; x < inWidth; ++x) {
      v[x] = static_cast<std::uint16_t>(r0[x] + 4 * r1[x] + 7 * r2[x] + 4 * r3[x] + r4[x]);
      a[x] = static_cast<std::uint16_t>(r1[x] + r3[x] + 4 * r2[x]);
    }
    std::uint8_t* out = output->rows[y];
    for (std::int32_t x = 0; x < outWidth; ++x) {
      std::uint32_t sum = v[x] + 4u * v[x + 1] + 7u * v[x + 2] + 4u * v[x + 3] + v[x + 4];
      // Arms: (1,2), (3,2) and (2,1), (2,3) weigh 2 less, the centre 8 less.
      std::uint32_t correction = 2u * (a[x + 2] + r2[x + 1] + r2[x + 3]);
      out[x] = static_cast<std::uint8_t>((sum - correction) / 273u);
    }
  }
  return ImageWrapper::imageWithCPPImage(std::move(output));
}

void equaliseGreyImage(Image& image) {
  std::size_t count = image.pixelCount();
  if (count == 0 || !image.pixels) return;
  std::uint8_t* p = image.pixels;
  std::array<std::uint64_t, 256> cumulative{};
  for (std::size_t i = 0; i < count; ++i) ++cumulative[p[i]];
  for (int v = 1; v < 256; ++v) cumulative[v] += cumulative[v - 1];
  std::array<std::uint8_t, 256> map{};
  for (int v = 0; v < 256; ++v) map[v] = static_cast<std::uint8_t>(cumulative[v] * 255 / cumulative[255]);
  for (std::size_t i = 0; i < count; ++i) p[i] = map[p[i]];
}

}  // namespace zv
