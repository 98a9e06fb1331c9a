#include "utilities/GreyImageShapes.h"

#include <algorithm>
#include <cstdlib>

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
  for (std::int32_t y = 1; y <= rows - 3; ++y) {
    for (std::int32_t x = 1; x <= columns - 3; ++x) {
      const std::int64_t i = y * stride + x;
      const std::int32_t m = magnitude[i];
      if (m == 0) {
        result[i] = kNoEdge;
        continue;
      }
      const std::int32_t sx = gx[i], sy = gy[i];
      const std::int32_t ax = std::abs(sx), ay = std::abs(sy);
      const float large = static_cast<float>(std::max(ax, ay)) / static_cast<float>(m);
      const float small = static_cast<float>(std::min(ax, ay)) / static_cast<float>(m);
      Neighbour pa, pb, qa, qb;
      if (sx < 0) {
        if (sy < 0) {
          if (ay >= ax) pa = D, pb = DR, qa = U, qb = UL;
          else pa = R, pb = DR, qa = L, qb = UL;
        } else {
          if (ay > ax) pa = U, pb = UR, qa = D, qb = DL;
          else pa = R, pb = UR, qa = L, qb = DL;
        }
      } else {
        if (sy < 0) {
          if (ay > ax) pa = D, pb = DL, qa = U, qb = UR;
          else pa = L, pb = DL, qa = R, qb = UR;
        } else {
          if (ax >= ay) pa = L, pb = UL, qa = R, qb = DR;
          else pa = U, pb = UL, qa = D, qb = DR;
        }
      }
      auto at = [&](Neighbour n) { return static_cast<float>(magnitude[i + n.dy * stride + n.dx]); };
      const float fm = static_cast<float>(m);
      const float a1 = at(pa), b1 = at(pb), a2 = at(qa), b2 = at(qb);
      const float p = large * (a1 - fm) + small * (b1 - a1);
      const float q = large * (a2 - fm) + small * (b2 - a2);
      result[i] = (p <= 0 && q < 0) ? kPossibleEdge : kNoEdge;
    }
  }
}

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
  for (std::size_t i = 0; i < count; ++i) edges[i] = suppressed[i] == kPossibleEdge ? kPossibleEdge : kNoEdge;
  for (std::int32_t y = 0; y < rows; ++y) {
    edges[static_cast<std::size_t>(y) * columns] = kNoEdge;
    edges[static_cast<std::size_t>(y) * columns + columns - 1] = kNoEdge;
  }
  for (std::int32_t x = 0; x < columns; ++x) {
    edges[x] = kNoEdge;
    edges[static_cast<std::size_t>(rows - 1) * columns + x] = kNoEdge;
  }

  constexpr int kBins = 32768;
  std::vector<std::int64_t> histogram(kBins, 0);
  for (std::size_t i = 0; i < count; ++i) {
    if (edges[i] == kPossibleEdge) ++histogram[std::clamp(magnitude[i], 0, kBins - 1)];
  }
  std::int64_t total = 0;
  int maxMagnitude = 0;
  for (int bin = 1; bin < kBins; ++bin) {
    if (histogram[bin] == 0) continue;
    maxMagnitude = bin;
    total += histogram[bin];
  }
  const auto highCount = static_cast<std::int64_t>(static_cast<float>(total) * high + 0.5f);
  int r = 1;
  std::int64_t reached = histogram[1];
  while (r < maxMagnitude - 1 && reached < highCount) reached += histogram[++r];
  const int highThreshold = r;
  const auto lowThreshold = static_cast<std::int16_t>(static_cast<int>(static_cast<float>(highThreshold) * low + 0.5f));

  for (std::int32_t y = 0; y < rows; ++y) {
    for (std::int32_t x = 0; x < columns; ++x) {
      std::size_t i = static_cast<std::size_t>(y) * columns + x;
      if (edges[i] == kPossibleEdge && magnitude[i] >= highThreshold) {
        edges[i] = kEdge;
        cannyFollowEdges(edges, magnitude, x, y, rows, columns, lowThreshold);
      }
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
  auto output = Image::create(columns, rows);
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
    points.push_back({sx, sy});
    row[sx] = 0;
    std::int32_t left = sx - 1;
    for (; left >= 0 && row[left] != 0; --left) {
      row[left] = 0;
      points.push_back({left, sy});
    }
    std::int32_t right = sx + 1;
    for (; right < width && row[right] != 0; ++right) {
      row[right] = 0;
      points.push_back({right, sy});
    }
    return Span{sy, left, right, left, false};
  };
  std::vector<Span> stack{fillRun(x, y)};
  while (!stack.empty()) {
    Span& span = stack.back();
    if (span.k > span.right) {
      stack.pop_back();
      continue;
    }
    const std::int32_t k = span.k, row = span.y;
    if (k < 0 || k >= width) {
      ++span.k;
      continue;
    }
    if (!span.belowNext) {
      span.belowNext = true;
      if (row >= 1 && image.rows[row - 1][k] != 0) stack.push_back(fillRun(k, row - 1));
      continue;
    }
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
  auto output = degrees == 180 ? Image::create(width, height) : Image::create(height, width);
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
