#include "utilities/GreyImage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZV_GREY_AVX2 1
#define ZV_AVX2 __attribute__((target("avx2")))
#endif

namespace zv {

Ref<Error> makeGreyImageError(GreyImageErrorCode code, const char* description) {
  return Error::make(kGreyImageErrorDomain, code, std::string(description));
}

namespace {

std::atomic<bool> gWideVectorsAllowed{true};

#if defined(ZV_GREY_AVX2)
bool hasAVX2() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available && gWideVectorsAllowed.load(std::memory_order_relaxed);
}
#endif

}  // namespace

void setGreyImageWideVectorsAllowed(bool allowed) { gWideVectorsAllowed = allowed; }

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
  auto image = createForWriting(width, height);
  if (image) std::memset(image->pixels, 0, image->pixelCount());
  return image;
}

std::unique_ptr<Image> Image::createForWriting(std::int32_t width, std::int32_t height) {
  if (!isAllowedSize(width, height)) return nullptr;
  auto image = std::make_unique<Image>();
  image->pixels = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(width) * height));
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

namespace {

void findRange(const std::uint8_t* p, std::size_t count, std::uint8_t& low, std::uint8_t& high) {
  std::size_t i = 0;
  low = 255;
  high = 0;
#if defined(__SSE2__)
  __m128i lows = _mm_set1_epi8(static_cast<char>(0xFF)), highs = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    lows = _mm_min_epu8(lows, v);
    highs = _mm_max_epu8(highs, v);
  }
  alignas(16) std::uint8_t l[16], h[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(l), lows);
  _mm_store_si128(reinterpret_cast<__m128i*>(h), highs);
  for (int k = 0; k < 16; ++k) {
    low = std::min(low, l[k]);
    high = std::max(high, h[k]);
  }
#endif
  for (; i < count; ++i) {
    low = std::min(low, p[i]);
    high = std::max(high, p[i]);
  }
}

// q = t / divisor for 16-bit t through a multiply-high: q = mulhi(t, multiplier) >> shift, or with
// `add`, q = (((t - hi) >> 1) + hi) >> (shift - 1) where hi = mulhi(t, multiplier). Chosen by trying
// the candidates against every numerator that will occur, so it is exact by construction.
struct Divider {
  std::uint16_t multiplier = 0;
  int shift = 0;
  bool add = false;
  bool valid = false;
  std::uint32_t apply(std::uint32_t t) const {
    std::uint32_t hi = (t * multiplier) >> 16;
    if (!add) return hi >> shift;
    return (((t - hi) >> 1) + hi) >> (shift - 1);
  }
};

Divider dividerFor(std::uint32_t divisor, std::uint32_t step, std::uint32_t count) {
  for (int shift = 0; shift <= 16; ++shift) {
    for (bool add : {false, true}) {
      if (add && shift == 0) continue;
      std::uint64_t ideal = ((std::uint64_t{1} << (16 + shift)) + divisor - 1) / divisor;
      if (add) {
        if (ideal < 65536 || ideal >= 131072) continue;
        ideal -= 65536;
      } else if (ideal >= 65536) {
        continue;
      }
      Divider d{static_cast<std::uint16_t>(ideal), shift, add, true};
      bool exact = true;
      for (std::uint32_t v = 0; v <= count && exact; ++v) exact = d.apply(v * step) == v * step / divisor;
      if (exact) return d;
    }
  }
  return {};
}

}  // namespace

void normaliseGreyImage(Image& image) {
  std::size_t count = image.pixelCount();
  if (count == 0 || !image.pixels) return;
  std::uint8_t* p = image.pixels;
  std::uint8_t low, high;
  findRange(p, count, low, high);
  if (low == high) return;
  const int range = high - low;
  std::size_t i = 0;
#if defined(__SSE2__)
  // (p - low) * 255 / range in 16-bit lanes: the product fits (at most 65025), the division is a
  // multiply-high chosen to be exact for every value that can occur.
  Divider d = dividerFor(static_cast<std::uint32_t>(range), 255, static_cast<std::uint32_t>(range));
  if (d.valid) {
    const __m128i zero = _mm_setzero_si128(), lowVector = _mm_set1_epi8(static_cast<char>(low));
    const __m128i times = _mm_set1_epi16(255), multiplier = _mm_set1_epi16(static_cast<short>(d.multiplier));
    const __m128i shift = _mm_cvtsi32_si128(d.shift), shiftLess = _mm_cvtsi32_si128(d.shift - 1);
    auto divide = [&](__m128i t) {
      __m128i hi = _mm_mulhi_epu16(t, multiplier);
      if (!d.add) return _mm_srl_epi16(hi, shift);
      return _mm_srl_epi16(_mm_add_epi16(_mm_srli_epi16(_mm_sub_epi16(t, hi), 1), hi), shiftLess);
    };
    for (; i + 16 <= count; i += 16) {
      __m128i v = _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), lowVector);
      __m128i lo16 = _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), times);
      __m128i hi16 = _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), times);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(divide(lo16), divide(hi16)));
    }
  }
#endif
  std::array<std::uint8_t, 256> map{};
  for (int v = low; v <= high; ++v) map[v] = static_cast<std::uint8_t>((v - low) * 255 / range);
  for (; i < count; ++i) p[i] = map[p[i]];
}

namespace {

#if defined(ZV_GREY_AVX2)
ZV_AVX2 std::uint64_t sumOfAVX2(const std::uint8_t* p, std::size_t count, std::size_t& i) {
  __m256i total = _mm256_setzero_si256();
  const __m256i zero = _mm256_setzero_si256();
  for (; i + 32 <= count; i += 32)
    total = _mm256_add_epi64(total, _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i)), zero));
  alignas(32) std::uint64_t parts[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(parts), total);
  return parts[0] + parts[1] + parts[2] + parts[3];
}

ZV_AVX2 void whiteBelowAVX2(const std::uint8_t* in, std::uint8_t* out, std::size_t count, int limit, std::size_t& i) {
  const __m256i top = _mm256_set1_epi8(static_cast<char>(limit - 1));
  for (; i + 32 <= count; i += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cmpeq_epi8(_mm256_min_epu8(v, top), v));
  }
}
#endif

std::uint64_t sumOf(const std::uint8_t* p, std::size_t count) {
  std::uint64_t sum = 0;
  std::size_t i = 0;
#if defined(ZV_GREY_AVX2)
  if (hasAVX2()) sum = sumOfAVX2(p, count, i);
#endif
#if defined(__SSE2__)
  __m128i total = _mm_setzero_si128();
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16)
    total = _mm_add_epi64(total, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), zero));
  alignas(16) std::uint64_t halves[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(halves), total);
  sum += halves[0] + halves[1];
#endif
  for (; i < count; ++i) sum += p[i];
  return sum;
}

// out = 255 where in < limit, else 0.
void whiteBelow(const std::uint8_t* in, std::uint8_t* out, std::size_t count, int limit) {
  if (limit <= 0) {
    std::memset(out, 0, count);
    return;
  }
  if (limit > 255) {
    std::memset(out, 255, count);
    return;
  }
  std::size_t i = 0;
#if defined(ZV_GREY_AVX2)
  if (hasAVX2()) whiteBelowAVX2(in, out, count, limit, i);
#endif
#if defined(__SSE2__)
  const __m128i top = _mm_set1_epi8(static_cast<char>(limit - 1));
  for (; i + 16 <= count; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_cmpeq_epi8(_mm_min_epu8(v, top), v));
  }
#endif
  for (; i < count; ++i) out[i] = in[i] < limit ? 255 : 0;
}

}  // namespace

Ref<ImageWrapper> thresholdGreyImage(const Image& image) {
  auto output = Image::createForWriting(image.width, image.height);
  if (!output || !image.pixels) return nullptr;
  std::size_t count = image.pixelCount();
  // 64-bit: 8.4 megapixels of white already overflow 31 bits.
  int mean = static_cast<int>(sumOf(image.pixels, count) / count);
  static const std::array<int, 256> blackFrom = blackFromTable(0.8);
  whiteBelow(image.pixels, output->pixels, count, blackFrom[mean]);
  return ImageWrapper::imageWithCPPImage(std::move(output));
}


namespace {

#if defined(ZV_GREY_AVX2)
void localThresholdMiddleAVX2(const std::uint8_t* p, std::uint8_t* out, std::int64_t w, std::int64_t lead,
                              std::int64_t& i, std::int64_t end);
#endif

// The local threshold's window over the pixel sequence p: it judges pixel i with the 64 pixels
// p[i - 4 - 4w + r*w + c] (r, c in 0..7). V(j) = sum of p[j + r*w] for r in 0..7 is kept in a ring
// of w entries (V(j) follows from V(j - w)); the window is the sum of eight consecutive V.
void localThresholdPass(const std::uint8_t* p, std::uint8_t* out, std::int64_t w, std::int64_t n) {
  static const std::array<int, 256> blackFrom = blackFromTable(0.9);
  const std::int64_t lead = 4 + 4 * w;
  const std::int64_t end = n - lead;  // first index not judged by a whole window
#if defined(ZV_GREY_AVX2)
  if (hasAVX2()) {
    auto window = [&](std::int64_t j0) {
      int sum = 0;
      for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) sum += p[j0 + r * w + c];
      return sum;
    };
    const int first = blackFrom[window(0) >> 6], last = blackFrom[window(end - 1 - lead) >> 6];
    for (std::int64_t i = 0; i < lead; ++i) out[i] = p[i] >= first ? 0 : 255;
    std::int64_t i = lead;
    localThresholdMiddleAVX2(p, out, w, lead, i, end);
    for (; i < end; ++i) out[i] = p[i] >= blackFrom[window(i - lead) >> 6] ? 0 : 255;
    for (i = end; i < n; ++i) out[i] = p[i] >= last ? 0 : 255;
    return;
  }
#endif
  auto columnSum = [p, w](std::int64_t j) {
    std::int32_t v = 0;
    for (int r = 0; r < 8; ++r) v += p[j + r * w];
    return v;
  };
  std::int32_t s = 0;
  for (std::int64_t j = 0; j < 8; ++j) s += columnSum(j);
  const int firstLimit = blackFrom[s >> 6];
  for (std::int64_t i = 0; i < lead; ++i) out[i] = p[i] >= firstLimit ? 0 : 255;
  int limit = firstLimit;
  // The window judging pixel i starts at column sum j0 = i - lead and ends at j0 + 7; each step
  // drops V(j0) and takes V(j0 + 8). From 8 columns on, V(j0 + 8) follows from V(j0 + 8 - w),
  // kept in the same slot of a ring of w sums; a narrower image's window spans more than one row
  // of the sequence, and there both column sums are taken afresh.
  std::vector<std::int32_t> ring;
  if (w >= 8) {
    ring.resize(static_cast<std::size_t>(w));
    for (std::int64_t j = 0; j < w; ++j) ring[j] = columnSum(j);
  }
  std::int64_t slotLeaving = 0, slotEntering = 8 % w;
  std::int32_t* v = ring.data();
  for (std::int64_t i = lead; i < end; ++i) {
    limit = blackFrom[s >> 6];
    out[i] = p[i] >= limit ? 0 : 255;
    if (i + 1 == end) break;
    const std::int64_t j = i - lead + 8;
    if (w < 8) {
      s += columnSum(j) - columnSum(j - 8);
      continue;
    }
    const std::int32_t leaving = v[slotLeaving];  // with w == 8 its slot is reused for j0 + 8
    if (j >= w) v[slotEntering] += p[j + 7 * w] - p[j - w];
    s += v[slotEntering] - leaving;
    if (++slotLeaving == w) slotLeaving = 0;
    if (++slotEntering == w) slotEntering = 0;
  }
  for (std::int64_t i = std::max(end, lead); i < n; ++i) out[i] = p[i] >= limit ? 0 : 255;
}

#if defined(ZV_GREY_AVX2)
ZV_AVX2 inline __m256i widenBytes(const std::uint8_t* at) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
}

// The judged middle of the sequence, 16 pixels a step: the column sums V(j) of a stretch are
// formed directly (eight rows apart), the window sums as eight consecutive V (at most 16320, so
// 16 bits hold them), and the limit as floor(9 m / 10) + 1 for the window mean m, which equals
// "the first level above 0.9 m" (checked against that rule in the tests).
ZV_AVX2 void localThresholdMiddleAVX2(const std::uint8_t* p, std::uint8_t* out, std::int64_t w,
                                            std::int64_t lead, std::int64_t& i, std::int64_t end) {
  constexpr std::int64_t kStretch = 256;
  alignas(32) std::uint16_t sums[kStretch + 32];
  const __m256i nineTenths = _mm256_set1_epi16(6554), nine = _mm256_set1_epi16(9), one = _mm256_set1_epi16(1);
  // Each stretch reads p up to j0 + kStretch + 16 + 7w; stop while that stays inside.
  const std::int64_t n = end + lead;
  while (i + kStretch <= end && (i - lead) + kStretch + 32 + 7 * w <= n) {
    const std::int64_t j0 = i - lead;
    for (std::int64_t k = 0; k < kStretch + 16; k += 16) {
      const std::uint8_t* column = p + j0 + k;
      __m256i v = widenBytes(column);
      for (int r = 1; r < 8; ++r) v = _mm256_add_epi16(v, widenBytes(column + r * w));
      _mm256_store_si256(reinterpret_cast<__m256i*>(sums + k), v);
    }
    for (std::int64_t k = 0; k < kStretch; k += 32) {
      __m256i half[2];
      for (int h = 0; h < 2; ++h) {
        const std::uint16_t* at = sums + k + 16 * h;
        __m256i window = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        for (int c = 1; c < 8; ++c)
          window = _mm256_add_epi16(window, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + c)));
        __m256i mean = _mm256_srli_epi16(window, 6);
        __m256i limit = _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_mullo_epi16(mean, nine), nineTenths), one);
        __m256i pixels = widenBytes(p + i + k + 16 * h);
        half[h] = _mm256_cmpgt_epi16(limit, pixels);  // white where the pixel lies below the limit
      }
      __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi16(half[0], half[1]), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + k), packed);
    }
    i += kStretch;
  }
}
#endif

}  // namespace

Ref<ImageWrapper> localThresholdGreyImage(const Image& image) {
  auto output = Image::createForWriting(image.width, image.height);
  if (!output || !image.pixels) return nullptr;
  const std::int64_t w = image.width;
  const std::int64_t n = static_cast<std::int64_t>(image.pixelCount());
  const std::uint8_t* p = image.pixels;
  if (4 + 4 * w < n - (4 + 4 * w)) {
    // Also for images under 8 columns: the window then spans rows of the sequence, all inside it.
    localThresholdPass(p, output->pixels, w, n);
  } else {
    // The pass has no pixel to judge (under 9 rows, more for images under 8 columns): the mean
    // of the top-left block (up to 8 x 8) judges every pixel.
    std::int64_t sum = 0, count = 0;
    for (std::int32_t y = 0; y < std::min(image.height, 8); ++y)
      for (std::int32_t x = 0; x < std::min(image.width, 8); ++x, ++count) sum += image.at(x, y);
    double level = static_cast<double>(sum / count) * 0.9;
    for (std::int64_t i = 0; i < n; ++i) output->pixels[i] = p[i] > level ? 0 : 255;
  }
  return ImageWrapper::imageWithCPPImage(std::move(output));
}

namespace {

// The kernel's five columns are vertical filters: (1 4 7 4 1), (4 16 26 16 4), (7 26 41 26 7), then
// the second and the first again. Per row of output, each input column is filtered vertically
// once (16-bit, exact), and the output sums five of those: total = v[x] + w[x+1] + z[x+2] +
// w[x+3] + v[x+4], at most 273 x 255.
struct BlurColumns {
  std::vector<std::uint16_t> v, w, z;
};

// The five input rows under output row y.
struct BlurRows {
  const std::uint8_t *r0, *r1, *r2, *r3, *r4;
  BlurRows(const Image& image, std::int32_t y)
      : r0(image.rows[y]), r1(image.rows[y + 1]), r2(image.rows[y + 2]), r3(image.rows[y + 3]), r4(image.rows[y + 4]) {}
};

// The plain steps, from column x on (the vector steps leave the last few columns to them).
void blurColumnsFrom(const BlurRows& in, std::int32_t x, std::int32_t width, BlurColumns& columns) {
  for (; x < width; ++x) {
    int outer = in.r0[x] + in.r4[x], inner = in.r1[x] + in.r3[x], centre = in.r2[x];
    columns.v[x] = static_cast<std::uint16_t>(outer + 4 * inner + 7 * centre);
    columns.w[x] = static_cast<std::uint16_t>(4 * outer + 16 * inner + 26 * centre);
    columns.z[x] = static_cast<std::uint16_t>(7 * outer + 26 * inner + 41 * centre);
  }
}

void blurRowFrom(const BlurColumns& c, std::int32_t x, std::int32_t outWidth, std::uint8_t* out) {
  for (; x < outWidth; ++x) {
    std::uint32_t total = c.v[x] + c.w[x + 1] + c.z[x + 2] + c.w[x + 3] + c.v[x + 4];
    out[x] = static_cast<std::uint8_t>(total / 273u);
  }
}

void blurColumns(const Image& image, std::int32_t y, BlurColumns& columns) {
  const BlurRows in(image, y);
  const std::uint8_t *r0 = in.r0, *r1 = in.r1, *r2 = in.r2, *r3 = in.r3, *r4 = in.r4;
  const std::int32_t width = image.width;
  std::uint16_t* v = columns.v.data();
  std::uint16_t* w = columns.w.data();
  std::uint16_t* z = columns.z.data();
  std::int32_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  auto load = [&](const std::uint8_t* row) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)), zero);
  };
  for (; x + 8 <= width; x += 8) {
    __m128i outer = _mm_add_epi16(load(r0), load(r4));
    __m128i inner = _mm_add_epi16(load(r1), load(r3));
    __m128i centre = load(r2);
    __m128i cv = _mm_add_epi16(_mm_add_epi16(outer, _mm_slli_epi16(inner, 2)),
                               _mm_sub_epi16(_mm_slli_epi16(centre, 3), centre));
    __m128i cw = _mm_sub_epi16(_mm_slli_epi16(cv, 2), _mm_slli_epi16(centre, 1));
    __m128i cz = _mm_sub_epi16(_mm_sub_epi16(_mm_slli_epi16(cv, 3), cv),
                               _mm_slli_epi16(_mm_add_epi16(inner, _mm_slli_epi16(centre, 2)), 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x), cv);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + x), cw);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z + x), cz);
  }
#endif
  blurColumnsFrom(in, x, width, columns);
}

void blurRow(const BlurColumns& columns, std::int32_t outWidth, std::uint8_t* out) {
  const std::uint16_t* v = columns.v.data();
  const std::uint16_t* w = columns.w.data();
  const std::uint16_t* z = columns.z.data();
  std::int32_t x = 0;
#if defined(__SSE2__)
  // total / 273 without 32-bit lanes: total = s1 + s2 with both halves in 16 bits; T = total / 2
  // comes from their rounded average, q = T x 480 / 65536 is total / 273 or one less, and the
  // remainder (exact modulo 65536, and small) says which.
  const __m128i one = _mm_set1_epi16(1), magic = _mm_set1_epi16(480), divisor = _mm_set1_epi16(273);
  const __m128i lastRemainder = _mm_set1_epi16(272), zero = _mm_setzero_si128();
  auto load = [](const std::uint16_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  auto eight = [&](std::int32_t at) {
    __m128i s1 = _mm_add_epi16(_mm_add_epi16(load(v + at), load(v + at + 4)), load(z + at + 2));
    __m128i s2 = _mm_add_epi16(load(w + at + 1), load(w + at + 3));
    __m128i half = _mm_sub_epi16(_mm_avg_epu16(s1, s2), _mm_and_si128(_mm_xor_si128(s1, s2), one));
    __m128i q = _mm_mulhi_epu16(half, magic);
    __m128i remainder = _mm_sub_epi16(_mm_add_epi16(s1, s2), _mm_mullo_epi16(q, divisor));
    __m128i small = _mm_cmpeq_epi16(_mm_subs_epu16(remainder, lastRemainder), zero);  // -1 where < 273
    return _mm_add_epi16(_mm_add_epi16(q, one), small);
  };
  for (; x + 16 <= outWidth; x += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(eight(x), eight(x + 8)));
  }
#endif
  blurRowFrom(columns, x, outWidth, out);
}

#if defined(ZV_GREY_AVX2)
// The same two steps, 16 lanes at a time, for processors that have AVX2 (chosen at run time).

ZV_AVX2 inline __m256i widen16(const std::uint8_t* at) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
}

ZV_AVX2 inline __m256i load16(const std::uint16_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

ZV_AVX2 inline __m256i blurSixteen(const std::uint16_t* v, const std::uint16_t* w, const std::uint16_t* z) {
  const __m256i one = _mm256_set1_epi16(1), magic = _mm256_set1_epi16(480), divisor = _mm256_set1_epi16(273);
  const __m256i lastRemainder = _mm256_set1_epi16(272), zero = _mm256_setzero_si256();
  __m256i s1 = _mm256_add_epi16(_mm256_add_epi16(load16(v), load16(v + 4)), load16(z + 2));
  __m256i s2 = _mm256_add_epi16(load16(w + 1), load16(w + 3));
  __m256i half = _mm256_sub_epi16(_mm256_avg_epu16(s1, s2), _mm256_and_si256(_mm256_xor_si256(s1, s2), one));
  __m256i q = _mm256_mulhi_epu16(half, magic);
  __m256i remainder = _mm256_sub_epi16(_mm256_add_epi16(s1, s2), _mm256_mullo_epi16(q, divisor));
  __m256i small = _mm256_cmpeq_epi16(_mm256_subs_epu16(remainder, lastRemainder), zero);
  return _mm256_add_epi16(_mm256_add_epi16(q, one), small);
}

ZV_AVX2 void blurRowsAVX2(const Image& image, std::int32_t y, BlurColumns& columns, std::int32_t outWidth,
                          std::uint8_t* out) {
  const BlurRows in(image, y);
  const std::uint8_t *r0 = in.r0, *r1 = in.r1, *r2 = in.r2, *r3 = in.r3, *r4 = in.r4;
  const std::int32_t width = image.width;
  std::uint16_t* v = columns.v.data();
  std::uint16_t* w = columns.w.data();
  std::uint16_t* z = columns.z.data();
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    __m256i outer = _mm256_add_epi16(widen16(r0 + x), widen16(r4 + x));
    __m256i inner = _mm256_add_epi16(widen16(r1 + x), widen16(r3 + x));
    __m256i centre = widen16(r2 + x);
    // v = outer + 4 inner + 7 centre; w = 4v - 2 centre; z = 7v - 2 (inner + 4 centre).
    __m256i cv = _mm256_add_epi16(_mm256_add_epi16(outer, _mm256_slli_epi16(inner, 2)),
                                  _mm256_sub_epi16(_mm256_slli_epi16(centre, 3), centre));
    __m256i cw = _mm256_sub_epi16(_mm256_slli_epi16(cv, 2), _mm256_slli_epi16(centre, 1));
    __m256i cz = _mm256_sub_epi16(_mm256_sub_epi16(_mm256_slli_epi16(cv, 3), cv),
                                  _mm256_slli_epi16(_mm256_add_epi16(inner, _mm256_slli_epi16(centre, 2)), 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + x), cv);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(w + x), cw);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(z + x), cz);
  }
  blurColumnsFrom(in, x, width, columns);

  x = 0;
  for (; x + 32 <= outWidth; x += 32) {
    __m256i packed = _mm256_packus_epi16(blurSixteen(v + x, w + x, z + x), blurSixteen(v + x + 16, w + x + 16, z + x + 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permute4x64_epi64(packed, 0xD8));
  }
  blurRowFrom(columns, x, outWidth, out);
}

#endif

}  // namespace

Ref<ImageWrapper> gaussianBlurGreyImage(const Image& image, Ref<Error>* error) {
  if (image.width <= 5 || image.height <= 5 || !image.pixels) {
    setError(error, GreyImageErrorTooSmall, "The image is smaller than the blur's kernel");
    return nullptr;
  }
  const std::int32_t outWidth = image.width - 5, outHeight = image.height - 5;
  auto output = Image::createForWriting(outWidth, outHeight);
  if (!output) return nullptr;
  BlurColumns columns;
  // Room for the 16-bit loads at x + 4 of the last vector step.
  const std::size_t length = static_cast<std::size_t>(image.width) + 32;
  columns.v.assign(length, 0);
  columns.w.assign(length, 0);
  columns.z.assign(length, 0);
  for (std::int32_t y = 0; y < outHeight; ++y) {
#if defined(ZV_GREY_AVX2)
    if (hasAVX2()) {
      blurRowsAVX2(image, y, columns, outWidth, output->rows[y]);
      continue;
    }
#endif
    blurColumns(image, y, columns);
    blurRow(columns, outWidth, output->rows[y]);
  }
  return ImageWrapper::imageWithCPPImage(std::move(output));
}

void equaliseGreyImage(Image& image) {
  std::size_t count = image.pixelCount();
  if (count == 0 || !image.pixels) return;
  std::uint8_t* p = image.pixels;
  // Four partial histograms, so runs of equal pixels do not wait on one counter.
  std::vector<std::uint32_t> partial(4 * 256, 0);
  std::array<std::uint64_t, 256> cumulative{};
  std::size_t i = 0;
  for (std::size_t block = 0; block < count;) {
    // Flush before a partial counter could reach 2^32.
    std::size_t end = std::min(count, block + (std::size_t{1} << 30));
    for (i = block; i + 4 <= end; i += 4) {
      ++partial[p[i]];
      ++partial[256 + p[i + 1]];
      ++partial[512 + p[i + 2]];
      ++partial[768 + p[i + 3]];
    }
    for (; i < end; ++i) ++partial[p[i]];
    for (int v = 0; v < 256; ++v) {
      cumulative[v] += std::uint64_t{partial[v]} + partial[256 + v] + partial[512 + v] + partial[768 + v];
      partial[v] = partial[256 + v] = partial[512 + v] = partial[768 + v] = 0;
    }
    block = end;
  }
  for (int v = 1; v < 256; ++v) cumulative[v] += cumulative[v - 1];
  std::array<std::uint8_t, 256> map{};
  for (int v = 0; v < 256; ++v) map[v] = static_cast<std::uint8_t>(cumulative[v] * 255 / cumulative[255]);
  for (i = 0; i < count; ++i) p[i] = map[p[i]];
}

}  // namespace zv
