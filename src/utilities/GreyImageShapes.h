#pragma once
// Shape routines over grey images (GreyImage.h): a Canny-style edge detector, flood fill and the
// largest region, thinning to a skeleton, and rotation by quarter turns.
//
// Pure functions; any thread, one thread per image at a time. Everything that may walk a whole
// image (flood fill, edge following) uses its own stack, so a 4000 x 3000 region is no deeper
// than a small one.

#include <cstdint>
#include <vector>

#include "utilities/GreyImage.h"

namespace zv {

// One pixel of a region.
struct ImagePoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  bool operator==(const ImagePoint&) const = default;
};

// Edge map values.
inline constexpr std::uint8_t kEdge = 0;
inline constexpr std::uint8_t kPossibleEdge = 128;
inline constexpr std::uint8_t kNoEdge = 255;

// Black edges on white, (width - 3) x (height - 3); `low` and `high` are the hysteresis fractions.
// nullptr for images of 3 or fewer rows or columns.
Ref<ImageWrapper> cannyEdgeImage(const Image& image, float low, float high, Ref<Error>* error = nullptr);
// The stages, over planes of rows x columns (index y * columns + x).
void cannyNonMaximumSuppression(const std::int32_t* magnitude, const std::int32_t* gx, const std::int32_t* gy,
                                std::int32_t rows, std::int32_t columns, std::uint8_t* result);
void cannyHysteresis(const std::int32_t* magnitude, const std::uint8_t* suppressed, std::int32_t rows,
                     std::int32_t columns, float low, float high, std::uint8_t* edges);
// Marks as edges the possible edges connected to (x, y) whose magnitude is above `lowThreshold`.
void cannyFollowEdges(std::uint8_t* edges, const std::int32_t* magnitude, std::int32_t x, std::int32_t y,
                      std::int32_t rows, std::int32_t columns, std::int32_t lowThreshold);

// Sets the 8-connected region of non-zero pixels around (x, y) to 0 and appends its points (the
// start pixel first, whatever it held). NO, with nothing changed, when (x, y) is outside the image.
bool floodFillRegion(Image& image, std::int32_t x, std::int32_t y, std::vector<ImagePoint>& points);
// Leaves the points of the largest region in `points` (the first found among equals); consumes the image.
void largestRegionOfGreyImage(Image& image, std::vector<ImagePoint>& points);
// Thins the non-zero pixels to lines one pixel wide, in place.
void skeletoniseGreyImage(Image& image);
// A quarter turn anticlockwise (90), a half turn (180) or a quarter turn clockwise (270). Any
// other angle makes no image and sets *error.
Ref<ImageWrapper> rotateGreyImage(const Image& image, int degrees, Ref<Error>* error = nullptr);

}  // namespace zv
