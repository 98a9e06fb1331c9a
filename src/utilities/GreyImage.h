#pragma once
// Plain 8-bit grey images and their pixel-wise routines: construction from a platform image,
// conversion back, normalising, global and local thresholding, a 5x5 Gaussian blur and histogram
// equalisation. The edge, region and shape routines are in GreyImageShapes.h.
//
// Pure functions over caller-owned buffers: any thread, one thread per image at a time. Routines
// that make a new image hand it back in an ImageWrapper that owns it; nullptr (and *error when
// asked) means no image could be made (an empty or oversized input, an image smaller than a
// routine's kernel).

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/Image.h"

namespace zv {

inline constexpr const char* kGreyImageErrorDomain = "GreyImageErrorDomain";
enum GreyImageErrorCode {
  GreyImageErrorBadSize = 1,         // no pixels, or more than kMaximumGreyImagePixels
  GreyImageErrorTooSmall = 2,        // smaller than the routine's kernel
  GreyImageErrorBadAngle = 3,        // rotation by anything but 90, 180 or 270 degrees
  GreyImageErrorNoSourceImage = 4,   // no platform image to draw
};

// Larger images are refused (the same bound the image decoders keep).
inline constexpr std::int64_t kMaximumGreyImagePixels = 64ll * 1024 * 1024;

// Row after row, top row first; 0 is black, 255 white. `rows[y]` is `pixels + y * width`.
struct Image {
  std::uint8_t* pixels = nullptr;
  std::vector<std::uint8_t*> rows;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool ownsPixels = false;

  // A zeroed image that owns its pixels; nullptr for a size with no pixels or too many.
  static std::unique_ptr<Image> create(std::int32_t width, std::int32_t height);
  // The same with unspecified contents, for routines that write every pixel.
  static std::unique_ptr<Image> createForWriting(std::int32_t width, std::int32_t height);
  // An image over the caller's bytes, which must outlive it.
  static std::unique_ptr<Image> over(std::uint8_t* pixels, std::int32_t width, std::int32_t height);

  Image() = default;
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  std::size_t pixelCount() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
  std::uint8_t at(std::int32_t x, std::int32_t y) const { return rows[y][x]; }
  void buildRowTable();
};

// Carries an Image between the object layer and the routines; deletes it when it owns it.
class ImageWrapper : public Object {
 public:
  static Ref<ImageWrapper> imageWithCPPImage(std::unique_ptr<Image> image);
  // `image` is deleted with the wrapper only when `ownsImage`.
  static Ref<ImageWrapper> imageWithCPPImage(Image* image, bool ownsImage);

  Image* image() const { return image_; }
  void setImage(Image* image) { image_ = image; }
  bool ownsImage() const { return ownsImage_; }
  void setOwnsImage(bool owns) { ownsImage_ = owns; }

  ImageWrapper(Image* image, bool ownsImage) : image_(image), ownsImage_(ownsImage) {}
  ~ImageWrapper() override;

 private:
  Image* image_;
  bool ownsImage_;
};

// Draws `source` scaled to fill a width x height grey bitmap (the two exchanged when `rotate`),
// then, with `rotate`, turns it a quarter turn clockwise into a width x height image.
std::unique_ptr<Image> createImage(const graphics::Image& source, std::int32_t width, std::int32_t height,
                                   graphics::InterpolationQuality quality, bool rotate, Ref<Error>* error = nullptr);
Ref<ImageWrapper> greyImageFromUIImage(const Ref<graphics::Image>& source, std::int32_t width, std::int32_t height,
                                       bool rotate, Ref<Error>* error = nullptr);
// An opaque platform image whose red, green and blue equal the grey level; nullptr for an empty image.
Ref<graphics::Image> uiImageFromGreyImage(const Image& image);

// (p - min) * 255 / (max - min); a uniform image has no range to stretch and stays as it is.
void normaliseGreyImage(Image& image);
// 0 where a pixel is greater than 0.8 x the mean, else 255.
Ref<ImageWrapper> thresholdGreyImage(const Image& image);
// 0 where a pixel is greater than 0.9 x the mean of the 8x8 window around it (taken over the
// pixels as one row-order sequence, so an image under 8 columns has windows across its rows),
// else 255. Pixels too near the start or the end of the sequence for a whole window are judged
// against the first or the last whole window; an image without a pixel to judge (under 9 rows,
// more when under 8 columns) is judged against the mean of its top-left block.
Ref<ImageWrapper> localThresholdGreyImage(const Image& image);
// A (width - 5) x (height - 5) image; nullptr for images of 5 or fewer rows or columns.
Ref<ImageWrapper> gaussianBlurGreyImage(const Image& image, Ref<Error>* error = nullptr);
void equaliseGreyImage(Image& image);

// Whether routines may use 32-byte vector steps where the processor has them (default YES); tests
// and benchmarks turn it off to exercise the 16-byte and plain paths. Any thread.
void setGreyImageWideVectorsAllowed(bool allowed);

// Error helper shared by the grey-image sources.
Ref<Error> makeGreyImageError(GreyImageErrorCode code, const char* description);

}  // namespace zv
