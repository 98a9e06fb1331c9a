// Edge, region, skeleton and rotation routines.
#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <random>

#include "utilities/GreyImageShapes.h"

namespace zv {
namespace {

std::unique_ptr<Image> filled(int width, int height, std::uint8_t value) {
  auto image = Image::create(width, height);
  std::fill(image->pixels, image->pixels + image->pixelCount(), value);
  return image;
}

void setBlock(Image& image, int x0, int y0, int x1, int y1, std::uint8_t value) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) image.rows[y][x] = value;
}

int countValue(const Image& image, std::uint8_t value) {
  return static_cast<int>(std::count(image.pixels, image.pixels + image.pixelCount(), value));
}

TEST(GreyImageShapesTest, UniformImageHasNoEdges) {
  auto edges = cannyEdgeImage(*filled(12, 9, 90), 0.4f, 0.9f);
  ASSERT_TRUE(edges);
  EXPECT_EQ(edges->image()->width, 9);
  EXPECT_EQ(edges->image()->height, 6);
  EXPECT_EQ(countValue(*edges->image(), kNoEdge), 54);
}

TEST(GreyImageShapesTest, ASquareGivesAClosedOutline) {
  auto image = filled(40, 40, 0);
  setBlock(*image, 12, 12, 27, 27, 255);
  auto edges = cannyEdgeImage(*image, 0.4f, 0.9f);
  ASSERT_TRUE(edges);
  const Image& map = *edges->image();
  // Every pixel is either edge or not; edges only near the square's border, none deep inside or far out.
  EXPECT_EQ(countValue(map, kEdge) + countValue(map, kNoEdge), static_cast<int>(map.pixelCount()));
  EXPECT_GT(countValue(map, kEdge), 30);
  EXPECT_EQ(map.at(2, 2), kNoEdge);
  EXPECT_EQ(map.at(17, 17), kNoEdge);
  // Each side of the square is crossed by an edge on the middle row and column.
  auto rowHasEdge = [&](int y, int x0, int x1) {
    for (int x = x0; x <= x1; ++x)
      if (map.at(x, y) == kEdge) return true;
    return false;
  };
  EXPECT_TRUE(rowHasEdge(17, 5, 14));
  EXPECT_TRUE(rowHasEdge(17, 20, 30));
}

TEST(GreyImageShapesTest, EdgeDetectionRefusesImagesSmallerThanItsKernel) {
  Ref<Error> error;
  EXPECT_FALSE(cannyEdgeImage(*filled(3, 10, 0), 0.4f, 0.9f, &error));
  EXPECT_EQ(error->code(), GreyImageErrorTooSmall);
  auto smallest = cannyEdgeImage(*filled(4, 4, 0), 0.4f, 0.9f);
  ASSERT_TRUE(smallest);
  EXPECT_EQ(smallest->image()->width, 1);
}

// Non-maximum suppression of the one judged pixel (1, 1) of 4 x 4 planes, whose eight
// neighbours get the magnitudes given in the order UL, U, UR, L, R, DL, D, DR.
std::uint8_t suppressOnePixel(int gx, int gy, int magnitudeHere, const std::array<int, 8>& around) {
  constexpr int kColumns = 4;
  std::vector<std::int32_t> magnitude(16, 0), gxs(16, 0), gys(16, 0);
  const int at[8] = {0, 1, 2, 4, 6, 8, 9, 10};
  for (int k = 0; k < 8; ++k) magnitude[at[k]] = around[k];
  magnitude[kColumns + 1] = magnitudeHere;
  gxs[kColumns + 1] = gx;
  gys[kColumns + 1] = gy;
  std::vector<std::uint8_t> result(16, 7);
  cannyNonMaximumSuppression(magnitude.data(), gxs.data(), gys.data(), 4, kColumns, result.data());
  for (int i = 0; i < 16; ++i)
    if (i != kColumns + 1) {
      EXPECT_EQ(result[i], 0) << "pixel " << i;
    }
  return result[kColumns + 1];
}

TEST(GreyImageShapesTest, SuppressionComparesTheSidesOfEachGradientDirection) {
  // Gradients 3 and 1 (M = 4, so the factors 0.75 and 0.25 are exact). The P side's neighbours
  // hold 0 (axis) and 12 (diagonal): its value is exactly 0; the Q side's hold 1 and 6: -1; every
  // other neighbour 100. Only the right pair of sides, each the right way round, leaves the
  // pixel a possible edge: any other neighbour, or any exchange among these four, makes a side
  // positive or Q zero.
  enum { UL, U, UR, L, R, DL, D, DR };
  struct Case {
    int gx, gy, pa, pb, qa, qb;
  };
  const Case cases[] = {
      {-1, -3, D, DR, U, UL}, {-3, -1, R, DR, L, UL}, {-1, 3, U, UR, D, DL}, {-3, 1, R, UR, L, DL},
      {1, -3, D, DL, U, UR},  {3, -1, L, DL, R, UR},  {3, 1, L, UL, R, DR},  {1, 3, U, UL, D, DR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "gx " << c.gx << ", gy " << c.gy);
    std::array<int, 8> around;
    around.fill(100);
    around[c.pa] = 0;
    around[c.pb] = 12;
    around[c.qa] = 1;
    around[c.qb] = 6;
    EXPECT_EQ(suppressOnePixel(c.gx, c.gy, 4, around), kPossibleEdge);
    around[c.pb] = 13;  // P just positive
    EXPECT_EQ(suppressOnePixel(c.gx, c.gy, 4, around), kNoEdge);
  }
  // Single precision decides: gx -4, gy 3, M 7, R 10, UR 6 is 0 in exact arithmetic, but
  // 4/7 x 3 + 3/7 x (-4) rounds to a little above 0 in single precision, so no edge.
  std::array<int, 8> around{};
  around[R] = 10;
  around[UR] = 6;
  EXPECT_EQ(suppressOnePixel(-4, 3, 7, around), kNoEdge);
  around[UR] = 5;
  EXPECT_EQ(suppressOnePixel(-4, 3, 7, around), kPossibleEdge);
  // A zero magnitude is never an edge.
  EXPECT_EQ(suppressOnePixel(0, 0, 0, std::array<int, 8>{}), kNoEdge);
}

TEST(GreyImageShapesTest, HysteresisPicksTheHighThresholdFromTheHistogram) {
  // 100 possible edges in a 12 x 12 plane's inside (10 x 10): magnitudes 1..100.
  const int rows = 12, columns = 12;
  std::vector<std::int32_t> magnitude(rows * columns, 0);
  std::vector<std::uint8_t> suppressed(rows * columns, kNoEdge);
  int value = 1;
  for (int y = 1; y <= 10; ++y)
    for (int x = 1; x <= 10; ++x) {
      magnitude[y * columns + x] = value++;
      suppressed[y * columns + x] = kPossibleEdge;
    }
  // Isolate one strong pixel from the rest by giving its neighbours magnitudes at or below low.
  std::vector<std::uint8_t> edges(rows * columns);
  cannyHysteresis(magnitude.data(), suppressed.data(), rows, columns, 0.0f, 0.9f, edges.data());
  // highCount 90: the threshold is 90, so magnitudes 90..100 seed edges; with low 0 every
  // connected possible edge joins them, and the whole block is one connected area.
  EXPECT_EQ(std::count(edges.begin(), edges.end(), kEdge), 100);

  cannyHysteresis(magnitude.data(), suppressed.data(), rows, columns, 1.0f, 0.9f, edges.data());
  // low = 90 as well: only magnitudes 90..100 (seeds, and above-low neighbours) are edges.
  EXPECT_EQ(std::count(edges.begin(), edges.end(), kEdge), 11);

  // Fractions far out of range take the nearest end of what the thresholds can be; NaN counts 0.
  const float huge = 1e30f, nan = std::numeric_limits<float>::quiet_NaN();
  struct Extreme {
    float low, high;
    long edges;
  };
  const Extreme extremes[] = {
      {1.0f, huge, 2},     // the search runs to maxMag - 1 = 99: seeds 99 and 100
      {1.0f, -huge, 100},  // no count to reach: the threshold stays 1
      {1.0f, nan, 100},
      {huge, 0.9f, 11},    // the low threshold at its top: only the seeds 90..100
      {-huge, 0.9f, 100},
      {nan, 0.9f, 100},
  };
  for (const Extreme& extreme : extremes) {
    SCOPED_TRACE(::testing::Message() << "low " << extreme.low << ", high " << extreme.high);
    cannyHysteresis(magnitude.data(), suppressed.data(), rows, columns, extreme.low, extreme.high, edges.data());
    EXPECT_EQ(std::count(edges.begin(), edges.end(), kEdge), extreme.edges);
  }
  auto image = filled(8, 8, 0);
  setBlock(*image, 4, 0, 7, 7, 255);
  for (float high : {huge, -huge, nan}) EXPECT_TRUE(cannyEdgeImage(*image, nan, high));
}

TEST(GreyImageShapesTest, HysteresisRoundsItsThresholdsAndFollowsOnlyAboveTheLowOne) {
  // A 5 x 5 plane: its inside is 3 x 3 (x, y in 1..3).
  const int rows = 5, columns = 5;
  auto plane = [&](std::initializer_list<std::pair<ImagePoint, int>> possible) {
    std::pair<std::vector<std::int32_t>, std::vector<std::uint8_t>> planes{std::vector<std::int32_t>(25, 0),
                                                                           std::vector<std::uint8_t>(25, kNoEdge)};
    for (auto [point, value] : possible) {
      planes.first[point.y * columns + point.x] = value;
      planes.second[point.y * columns + point.x] = kPossibleEdge;
    }
    return planes;
  };
  std::vector<std::uint8_t> edges(25);
  auto isEdge = [&](int x, int y) { return edges[y * columns + x] == kEdge; };

  // Three apart, magnitudes 2, 3 and 9, high 0.5: highCount = (3 x 0.5 + 0.5) = 2, so the high
  // threshold is 3 and the pixel of magnitude 2 is no edge.
  auto [spread, spreadSuppressed] = plane({{{1, 1}, 2}, {{3, 1}, 3}, {{1, 3}, 9}});
  cannyHysteresis(spread.data(), spreadSuppressed.data(), rows, columns, 0.0f, 0.5f, edges.data());
  EXPECT_FALSE(isEdge(1, 1));
  EXPECT_TRUE(isEdge(3, 1));
  EXPECT_TRUE(isEdge(1, 3));

  // Magnitudes 20 at (1, 1) with neighbours 5 at (2, 1) and 6 at (1, 2), and 7 apart at (3, 3):
  // high 0.9 runs the threshold to 19; low 0.25 gives (19 x 0.25 + 0.5) = 5. Only the seed and the
  // neighbour above 5 become edges.
  auto [joined, joinedSuppressed] = plane({{{1, 1}, 20}, {{2, 1}, 5}, {{1, 2}, 6}, {{3, 3}, 7}});
  cannyHysteresis(joined.data(), joinedSuppressed.data(), rows, columns, 0.25f, 0.9f, edges.data());
  EXPECT_TRUE(isEdge(1, 1));
  EXPECT_FALSE(isEdge(2, 1));
  EXPECT_TRUE(isEdge(1, 2));
  EXPECT_FALSE(isEdge(3, 3));
  EXPECT_EQ(std::count(edges.begin(), edges.end(), kEdge), 2);
  // The following stage on its own, from the seed, with that low threshold.
  std::copy(joinedSuppressed.begin(), joinedSuppressed.end(), edges.begin());
  edges[1 * columns + 1] = kEdge;
  cannyFollowEdges(edges.data(), joined.data(), 1, 1, rows, columns, 5);
  EXPECT_EQ(edges[1 * columns + 2], kPossibleEdge);
  EXPECT_TRUE(isEdge(1, 2));
}

TEST(GreyImageShapesTest, FloodFillListsPointsInTheRecursiveOrder) {
  auto image = filled(10, 10, 0);
  setBlock(*image, 4, 4, 6, 6, 255);
  std::vector<ImagePoint> points;
  ASSERT_TRUE(floodFillRegion(*image, 5, 5, points));
  std::vector<ImagePoint> expected{{5, 5}, {4, 5}, {6, 5}, {4, 4}, {5, 4}, {6, 4}, {4, 6}, {5, 6}, {6, 6}};
  EXPECT_EQ(points, expected);
  EXPECT_EQ(countValue(*image, 0), 100);
}

// The fill as its rule reads, recursively (small images only).
void literalFill(Image& image, int x, int y, std::vector<ImagePoint>& points) {
  std::uint8_t* row = image.rows[y];
  points.push_back({x, y});
  row[x] = 0;
  int left = x - 1;
  for (; left >= 0 && row[left] != 0; --left) {
    row[left] = 0;
    points.push_back({left, y});
  }
  int right = x + 1;
  for (; right < image.width && row[right] != 0; ++right) {
    row[right] = 0;
    points.push_back({right, y});
  }
  for (int k = left; k <= right; ++k) {
    if (k < 0 || k >= image.width) continue;
    if (y >= 1 && image.rows[y - 1][k] != 0) literalFill(image, k, y - 1, points);
    if (y < image.height - 1 && image.rows[y + 1][k] != 0) literalFill(image, k, y + 1, points);
  }
}

TEST(GreyImageShapesTest, FloodFillMatchesTheRecursiveRuleOnRandomImages) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    int width = 1 + static_cast<int>(random() % 40), height = 1 + static_cast<int>(random() % 30);
    auto ours = Image::create(width, height);
    for (std::size_t i = 0; i < ours->pixelCount(); ++i) ours->pixels[i] = random() % 3 ? 255 : 0;
    auto theirs = Image::create(width, height);
    std::copy(ours->pixels, ours->pixels + ours->pixelCount(), theirs->pixels);
    int x = static_cast<int>(random() % width), y = static_cast<int>(random() % height);
    std::vector<ImagePoint> fast, literal;
    ASSERT_TRUE(floodFillRegion(*ours, x, y, fast));
    literalFill(*theirs, x, y, literal);
    ASSERT_EQ(fast, literal) << "round " << round;
    ASSERT_TRUE(std::equal(ours->pixels, ours->pixels + ours->pixelCount(), theirs->pixels));
  }
}

TEST(GreyImageShapesTest, FloodFillJoinsDiagonalsAndChecksItsStart) {
  auto image = filled(6, 6, 0);
  image->rows[2][2] = 255;
  image->rows[3][3] = 255;
  std::vector<ImagePoint> points;
  EXPECT_FALSE(floodFillRegion(*image, -1, 0, points));
  EXPECT_FALSE(floodFillRegion(*image, 6, 0, points));
  EXPECT_FALSE(floodFillRegion(*image, 0, 6, points));
  EXPECT_TRUE(points.empty());
  ASSERT_TRUE(floodFillRegion(*image, 2, 2, points));
  EXPECT_EQ(points, (std::vector<ImagePoint>{{2, 2}, {3, 3}}));

  // Coordinates past 16 bits stay whole: a run across column 32767 of a 40,000-pixel-wide image,
  // joined diagonally to a pixel of the row below.
  auto wide = filled(40000, 3, 0);
  setBlock(*wide, 32766, 1, 32769, 1, 255);
  wide->rows[2][32770] = 255;
  points.clear();
  ASSERT_TRUE(floodFillRegion(*wide, 32768, 1, points));
  EXPECT_EQ(points, (std::vector<ImagePoint>{{32768, 1}, {32767, 1}, {32766, 1}, {32769, 1}, {32770, 2}}));
  setBlock(*wide, 32766, 1, 32769, 1, 255);
  wide->rows[2][32770] = 255;
  largestRegionOfGreyImage(*wide, points);
  EXPECT_EQ(points, (std::vector<ImagePoint>{{32766, 1}, {32767, 1}, {32768, 1}, {32769, 1}, {32770, 2}}));
}

TEST(GreyImageShapesTest, FloodFillOfAWholeLargeImageNeedsNoDeepStack) {
  // A serpentine of one-pixel rows joined at alternate ends: the deepest a recursive fill gets.
  auto image = filled(4000, 3000, 0);
  for (int y = 0; y < 3000; y += 2) {
    setBlock(*image, 0, y, 3999, y, 255);
    if (y + 1 < 3000) image->rows[y + 1][(y / 2) % 2 ? 0 : 3999] = 255;
  }
  std::vector<ImagePoint> points;
  ASSERT_TRUE(floodFillRegion(*image, 0, 0, points));
  EXPECT_EQ(points.size(), 1500u * 4000 + 1500);
  auto full = filled(4000, 3000, 255);
  points.clear();
  floodFillRegion(*full, 2000, 1500, points);
  EXPECT_EQ(points.size(), 12000000u);
}

TEST(GreyImageShapesTest, LargestRegionKeepsTheFirstOfEqualRegions) {
  auto image = filled(20, 20, 0);
  setBlock(*image, 10, 1, 13, 3, 200);  // 12 points, met first in row order
  setBlock(*image, 1, 8, 4, 10, 100);   // 12 points
  setBlock(*image, 15, 15, 16, 15, 50); // 2 points
  std::vector<ImagePoint> points;
  largestRegionOfGreyImage(*image, points);
  ASSERT_EQ(points.size(), 12u);
  EXPECT_EQ(points.front(), (ImagePoint{10, 1}));
  EXPECT_EQ(countValue(*image, 0), 400);
}

TEST(GreyImageShapesTest, SkeletonRemovesIsolatedPixelsAndThinsLines) {
  auto image = filled(12, 9, 0);
  image->rows[1][1] = 255;
  setBlock(*image, 2, 4, 9, 6, 255);  // a line three pixels thick
  skeletoniseGreyImage(*image);
  EXPECT_EQ(image->at(1, 1), 0);
  for (int x = 3; x <= 8; ++x) {
    int set = 0;
    for (int y = 0; y < 9; ++y) set += image->at(x, y) != 0;
    EXPECT_EQ(set, 1) << "column " << x;
  }
}

TEST(GreyImageShapesTest, SkeletonNeverExaminesTheNeighbourPairLeftAndUpperLeft) {
  // Columns 1 and 2 of rows 1..4:  # . / # # / # # / # .
  auto image = filled(4, 6, 0);
  setBlock(*image, 1, 1, 1, 4, 255);
  setBlock(*image, 2, 2, 2, 3, 255);
  skeletoniseGreyImage(*image);
  // The first pass removes (2, 2) (its neighbours L, UL, DL and D are set). In the second,
  // (2, 3) has L, UL and DL set: only the pair (L, UL), which is never examined, would remove it.
  auto expected = filled(4, 6, 0);
  setBlock(*expected, 1, 1, 1, 4, 255);
  expected->rows[3][2] = 255;
  EXPECT_EQ(std::vector<std::uint8_t>(image->pixels, image->pixels + 24),
            std::vector<std::uint8_t>(expected->pixels, expected->pixels + 24));
}

TEST(GreyImageShapesTest, RotationTurnsByQuarterTurns) {
  // 4 x 2: 1 2 3 4 / 5 6 7 8
  std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  auto image = Image::over(bytes, 4, 2);
  auto quarter = rotateGreyImage(*image, 90);
  ASSERT_EQ(quarter->image()->width, 2);
  ASSERT_EQ(quarter->image()->height, 4);
  EXPECT_EQ(quarter->image()->at(0, 3), 1);  // bottom-left = input top-left
  EXPECT_EQ(quarter->image()->at(0, 0), 4);
  auto half = rotateGreyImage(*image, 180);
  EXPECT_EQ(half->image()->at(0, 0), 8);  // a rotation, not a flip
  EXPECT_EQ(half->image()->at(3, 1), 1);
  auto threeQuarters = rotateGreyImage(*image, 270);
  ASSERT_EQ(threeQuarters->image()->width, 2);
  EXPECT_EQ(threeQuarters->image()->at(1, 0), 1);  // top-right = input top-left (clockwise)
  EXPECT_EQ(threeQuarters->image()->at(0, 0), 5);
  // Four quarter turns give the input back.
  auto turned = rotateGreyImage(*quarter->image(), 90);
  turned = rotateGreyImage(*turned->image(), 90);
  turned = rotateGreyImage(*turned->image(), 90);
  EXPECT_EQ(std::vector<std::uint8_t>(turned->image()->pixels, turned->image()->pixels + 8),
            std::vector<std::uint8_t>(bytes, bytes + 8));
}

TEST(GreyImageShapesTest, RotationByAnotherAngleIsAnError) {
  auto image = filled(3, 3, 1);
  for (int degrees : {0, 45, 89, 360, -90}) {
    Ref<Error> error;
    EXPECT_FALSE(rotateGreyImage(*image, degrees, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), GreyImageErrorBadAngle);
  }
}

}  // namespace
}  // namespace zv
