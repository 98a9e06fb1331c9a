#include "utilities/GreyImageShapes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zv {

namespace {

struct Neighbour {
  int dx, dy;
};
constexpr Neighbour U{0, -1}, D{0, 1}, L{-1, 0}, R{1, 0}, UL{-1, -1}, UR{1, -1}, DL{-1, 1}, DR{1, 1};

}  // namespace

// --- Edges ---

void cannyNonMaximumSuppression(const std::int32_t* magnitude, const std::int32_t* gx, const std::int32_t* gy,
                                std::int32_t rows, std::int32_t columns, std::uint8_t* result) {
  std::fill(result, result + static_cast<std::size_t>(rows) * columns, std::uint8_t{0});
  const std::int64_t stride = columns;
  auto offset = [stride](Neighbour n) { return n.dy * stride + n.dx; };
  // The sides to compare, per case: index = (gx < 0) * 4 + (gy < 0) * 2 + (the vertical
  // gradient wins; ties go to it only when both are negative).
  struct Sides {
    std::int64_t pa, pb, qa, qb;
  };
  const Sides table[8] = {
      {offset(L), offset(UL), offset(R), offset(DR)},   // gx >= 0, gy >= 0, |gx| >= |gy|
      {offset(U), offset(UL), offset(D), offset(DR)},   // gx >= 0, gy >= 0, |gy| > |gx|
      {offset(L), offset(DL), offset(R), offset(UR)},   // gx >= 0, gy < 0, |gx| >= |gy|
      {offset(D), offset(DL), offset(U), offset(UR)},   // gx >= 0, gy < 0, |gy| > |gx|
      {offset(R), offset(UR), offset(L), offset(DL)},   // gx < 0, gy >= 0, |gx| >= |gy|
      {offset(U), offset(UR), offset(D), offset(DL)},   // gx < 0, gy >= 0, |gy| > |gx|
      {offset(R), offset(DR), offset(L), offset(UL)},   // gx < 0, gy < 0, |gx| > |gy|
      {offset(D), offset(DR), offset(U), offset(UL)},   // gx < 0, gy < 0, |gy| >= |gx|
  };
  for (std::int32_t y = 1; y <= rows - 3; ++y) {
    const std::int64_t rowStart = y * stride;
    for (std::int32_t x = 1; x <= columns - 3; ++x) {
      const std::int64_t i = rowStart + x;
      // No branches on the data: noise makes them unpredictable.
      const std::int32_t m = magnitude[i];
      const std::int32_t sx = gx[i], sy = gy[i];
      const std::int32_t ax = std::abs(sx), ay = std::abs(sy);
      const int bothNegative = (sx < 0) & (sy < 0);
      const int vertical = (ay > ax) | (bothNegative & (ay == ax));
      const Sides& sides = table[(sx < 0) * 4 + (sy < 0) * 2 + vertical];
      // Each side's value is m x (a - M) + n x (b - a), with m and n the larger and the smaller
      // gradient over M, all in single precision: its rounding decides near-ties, so the products
      // and the sum are rounded one by one (never fused). A zero magnitude is "no edge" (divided
      // by 1 instead, only to keep the arithmetic finite).
      const float mf = static_cast<float>(std::max(m, 1));
      const float large = static_cast<float>(std::max(ax, ay)) / mf, small = static_cast<float>(std::min(ax, ay)) / mf;
      const std::int32_t a1 = magnitude[i + sides.pa], b1 = magnitude[i + sides.pb];
      const std::int32_t a2 = magnitude[i + sides.qa], b2 = magnitude[i + sides.qb];
      const float pAxis = large * static_cast<float>(a1 - m), pDiagonal = small * static_cast<float>(b1 - a1);
      const float qAxis = large * static_cast<float>(a2 - m), qDiagonal = small * static_cast<float>(b2 - a2);
      const float p = pAxis + pDiagonal, q = qAxis + qDiagonal;
      result[i] = static_cast<std::uint8_t>(kNoEdge - 127 * ((m != 0) & (p <= 0.0f) & (q < 0.0f)));
    }
  }
}

namespace {

// The integer part of `value`; beyond the range of T it is the nearest end of the range, and NaN
// is 0 (fractions like 1e30 or NaN reach here from callers).
template <typename T>
T saturatingTruncate(float value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<float>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  // The maximum rounds up to a power of two in single precision for 64 bits: compare with >=.
  if (value >= static_cast<float>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(value);
}

// Edge following inside the plane: possible edges never lie on its border (hysteresis makes the
// border "no edge"), so neighbours of a traced pixel are always inside.
void followInside(std::uint8_t* edges, const std::int32_t* magnitude, std::int64_t start, std::int64_t columns,
                  std::int32_t lowThreshold, std::vector<std::int64_t>& pending) {
  const std::int64_t order[8] = {1, 1 - columns, -columns, -1 - columns, -1, columns - 1, columns, columns + 1};
  pending.clear();
  pending.push_back(start);
  while (!pending.empty()) {
    std::int64_t at = pending.back();
    pending.pop_back();
    for (std::int64_t step : order) {
      std::int64_t j = at + step;
      if (edges[j] == kPossibleEdge && magnitude[j] > lowThreshold) {
        edges[j] = kEdge;
        pending.push_back(j);
      }
    }
  }
}

}  // namespace

void cannyFollowEdges(std::uint8_t* edges, const std::int32_t* magnitude, std::int32_t x, std::int32_t y,
                      std::int32_t rows, std::int32_t columns, std::int32_t lowThreshold) {
  static constexpr Neighbour kOrder[8] = {R, UR, U, UL, L, DL, D, DR};
  std::vector<ImagePoint> pending{{x, y}};
  while (!pending.empty()) {
    ImagePoint point = pending.back();
    pending.pop_back();
    for (const auto& n : kOrder) {
      std::int32_t nx = point.x + n.dx, ny = point.y + n.dy;
      if (nx < 0 || ny < 0 || nx >= columns || ny >= rows) continue;
      std::int64_t j = static_cast<std::int64_t>(ny) * columns + nx;
      if (edges[j] == kPossibleEdge && magnitude[j] > lowThreshold) {
        edges[j] = kEdge;
        pending.push_back({nx, ny});
      }
    }
  }
}

void cannyHysteresis(const std::int32_t* magnitude, const std::uint8_t* suppressed, std::int32_t rows,
                     std::int32_t columns, float low, float high, std::uint8_t* edges) {
  const std::size_t count = static_cast<std::size_t>(rows) * columns;
  constexpr int kBins = 32768;
  std::vector<std::uint32_t> histogram(kBins, 0);
  for (std::size_t i = 0; i < count; ++i) edges[i] = suppressed[i] == kPossibleEdge ? kPossibleEdge : kNoEdge;
  for (std::int32_t y = 0; y < rows; ++y) {
    edges[static_cast<std::size_t>(y) * columns] = kNoEdge;
    edges[static_cast<std::size_t>(y) * columns + columns - 1] = kNoEdge;
  }
  for (std::int32_t x = 0; x < columns; ++x) {
    edges[x] = kNoEdge;
    edges[static_cast<std::size_t>(rows - 1) * columns + x] = kNoEdge;
  }
  // Pixels that are not possible edges count in bin 0, which the search skips.
  for (std::size_t i = 0; i < count; ++i)
    ++histogram[(edges[i] == kPossibleEdge) * std::clamp(magnitude[i], 0, kBins - 1)];
  std::int64_t total = 0;
  int maxMagnitude = 0;
  for (int bin = 1; bin < kBins; ++bin) {
    if (histogram[bin] == 0) continue;
    maxMagnitude = bin;
    total += histogram[bin];
  }
  const auto highCount = saturatingTruncate<std::int64_t>(static_cast<float>(total) * high + 0.5f);
  int r = 1;
  std::int64_t reached = histogram[1];
  while (r < maxMagnitude - 1 && reached < highCount) reached += histogram[++r];
  const int highThreshold = r;
  const auto lowThreshold = saturatingTruncate<std::int16_t>(static_cast<float>(highThreshold) * low + 0.5f);

  std::vector<std::int64_t> pending;
  for (std::size_t i = 0; i < count; ++i) {
    if (edges[i] == kPossibleEdge && magnitude[i] >= highThreshold) {
      edges[i] = kEdge;
      followInside(edges, magnitude, static_cast<std::int64_t>(i), columns, lowThreshold, pending);
    }
  }
  for (std::size_t i = 0; i < count; ++i)
    if (edges[i] != kEdge) edges[i] = kNoEdge;
}

Ref<ImageWrapper> cannyEdgeImage(const Image& image, float low, float high, Ref<Error>* error) {
  if (image.width <= 3 || image.height <= 3 || !image.pixels) {
    if (error) *error = makeGreyImageError(GreyImageErrorTooSmall, "The image is smaller than the edge kernel");
    return nullptr;
  }
  const std::int32_t columns = image.width - 3, rows = image.height - 3;
  auto output = Image::createForWriting(columns, rows);
  if (!output) return nullptr;
  const std::size_t count = output->pixelCount();
  std::vector<std::int32_t> gx(count), gy(count), magnitude(count);
  for (std::int32_t y = 0; y < rows; ++y) {
    const std::uint8_t* r0 = image.rows[y];
    const std::uint8_t* r1 = image.rows[y + 1];
    const std::uint8_t* r2 = image.rows[y + 2];
    std::int32_t* ox = gx.data() + static_cast<std::size_t>(y) * columns;
    std::int32_t* oy = gy.data() + static_cast<std::size_t>(y) * columns;
    std::int32_t* om = magnitude.data() + static_cast<std::size_t>(y) * columns;
    for (std::int32_t x = 0; x < columns; ++x) {
      std::int32_t vy = (r0[x] + 2 * r0[x + 1] + r0[x + 2]) - (r2[x] + 2 * r2[x + 1] + r2[x + 2]);
      std::int32_t vx = (r0[x + 2] - r0[x]) + 2 * (r1[x + 2] - r1[x]) + (r2[x + 2] - r2[x]);
      ox[x] = vx;
      oy[x] = vy;
      om[x] = std::abs(vx) + std::abs(vy);
    }
  }
  std::vector<std::uint8_t> suppressed(count);
  cannyNonMaximumSuppression(magnitude.data(), gx.data(), gy.data(), rows, columns, suppressed.data());
  cannyHysteresis(magnitude.data(), suppressed.data(), rows, columns, low, high, output->pixels);
  return ImageWrapper::imageWithCPPImage(std::move(output));
}

// --- Regions ---

namespace {

// One row span of the fill, with the column whose neighbours above and below come next.
struct Span {
  std::int32_t y, left, right, k;
  bool belowNext;  // the row above of column k is done
};

}  // namespace

bool floodFillRegion(Image& image, std::int32_t x, std::int32_t y, std::vector<ImagePoint>& points) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height || !image.pixels) return false;
  const std::int32_t width = image.width, height = image.height;
  // Fills the run through (sx, sy) and answers its span: the same order a recursive fill lists.
  auto fillRun = [&](std::int32_t sx, std::int32_t sy) {
    std::uint8_t* row = image.rows[sy];
    std::int32_t left = sx - 1;
    while (left >= 0 && row[left] != 0) --left;
    std::int32_t right = sx + 1;
    while (right < width && row[right] != 0) ++right;
    // (sx, sy) first, then leftwards, then rightwards.
    std::size_t at = points.size();
    points.resize(at + static_cast<std::size_t>(right - left - 1));
    ImagePoint* out = points.data() + at;
    *out++ = {sx, sy};
    for (std::int32_t k = sx - 1; k > left; --k) *out++ = {k, sy};
    for (std::int32_t k = sx + 1; k < right; ++k) *out++ = {k, sy};
    std::memset(row + left + 1, 0, static_cast<std::size_t>(right - left - 1));
    return Span{sy, left, right, left, false};
  };
  std::vector<Span> stack{fillRun(x, y)};
  while (!stack.empty()) {
    Span& span = stack.back();
    const std::int32_t row = span.y;
    const std::int32_t last = std::min(span.right, width - 1);
    if (span.k < 0) span.k = 0;
    if (!span.belowNext) {
      // Skip the columns with nothing set above or below: neither check would start a fill.
      const std::uint8_t* above = row >= 1 ? image.rows[row - 1] : nullptr;
      const std::uint8_t* below = row < height - 1 ? image.rows[row + 1] : nullptr;
      std::int32_t k = span.k;
      if (above && below) {
        while (k + 8 <= last + 1) {
          std::uint64_t a, b;
          std::memcpy(&a, above + k, 8);
          std::memcpy(&b, below + k, 8);
          if ((a | b) != 0) break;
          k += 8;
        }
      }
      while (k <= last && !(above && above[k]) && !(below && below[k])) ++k;
      span.k = k;
      if (k > last) {
        stack.pop_back();
        continue;
      }
      span.belowNext = true;
      if (above && above[k] != 0) stack.push_back(fillRun(k, row - 1));
      continue;
    }
    const std::int32_t k = span.k;
    span.belowNext = false;
    ++span.k;
    if (row < height - 1 && image.rows[row + 1][k] != 0) stack.push_back(fillRun(k, row + 1));
  }
  return true;
}

void largestRegionOfGreyImage(Image& image, std::vector<ImagePoint>& points) {
  points.clear();
  std::vector<ImagePoint> region;
  region.reserve(10000);
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < image.width; ++x) {
      if (image.rows[y][x] == 0) continue;
      floodFillRegion(image, x, y, region);
      if (region.size() > points.size()) points = region;
      region.clear();
    }
  }
}

void skeletoniseGreyImage(Image& image) {
  const std::int32_t width = image.width, height = image.height;
  if (width < 3 || height < 3 || !image.pixels) return;
  static constexpr Neighbour kRing[8] = {UL, U, UR, R, DR, D, DL, L};
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::int32_t y = 1; y < height - 1; ++y) {
      for (std::int32_t x = 1; x < width - 1; ++x) {
        if (image.rows[y][x] == 0) continue;
        bool set[8];
        for (int r = 0; r < 8; ++r) set[r] = image.rows[y + kRing[r].dy][x + kRing[r].dx] != 0;
        auto ring = [&](int index) { return set[index % 8]; };
        bool remove = false;
        for (int j = 1; j < 8 && !remove; ++j) {
          bool previous = ring(j - 1), current = ring(j);
          if (!previous && !current) {
            remove = std::none_of(set, set + 8, [](bool b) { return b; });
          } else if (previous && current) {
            remove = (ring(j + 4) && ring(j + 5) && ring(j + 6) && !ring(j + 1) && !ring(j + 2) && !ring(j + 3)) ||
                     (ring(j + 6) && !ring(j + 2) && !ring(j + 3) && !ring(j + 4) && !ring(j + 5));
          }
        }
        if (remove) {
          image.rows[y][x] = 0;
          changed = true;
        }
      }
    }
  }
}

Ref<ImageWrapper> rotateGreyImage(const Image& image, int degrees, Ref<Error>* error) {
  if (degrees != 90 && degrees != 180 && degrees != 270) {
    if (error) *error = makeGreyImageError(GreyImageErrorBadAngle, "Grey images turn by 90, 180 or 270 degrees only");
    return nullptr;
  }
  const std::int32_t width = image.width, height = image.height;
  auto output = degrees == 180 ? Image::createForWriting(width, height) : Image::createForWriting(height, width);
  if (!output || !image.pixels) {
    if (error) *error = makeGreyImageError(GreyImageErrorBadSize, "The image has no pixels");
    return nullptr;
  }
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* in = image.rows[y];
    for (std::int32_t x = 0; x < width; ++x) {
      switch (degrees) {
        case 90: output->rows[width - 1 - x][y] = in[x]; break;
        case 180: output->rows[height - 1 - y][width - 1 - x] = in[x]; break;
        default: output->rows[x][height - 1 - y] = in[x]; break;
      }
    }
  }
  return ImageWrapper::imageWithCPPImage(std::move(output));
}

}  // namespace zv
