// Edge, region, skeleton and rotation routines.
#include <gtest/gtest.h>

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
