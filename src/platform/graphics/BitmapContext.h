#pragma once
// A drawing surface over a bitmap: fills, strokes, paths, arcs, images and text, with a stack of
// graphics states. Coordinates have their origin at the top-left and y growing downwards.
// Not thread-safe: one thread draws into a context at a time.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace zv::graphics {

enum class BitmapColorSpace {
  Grey,  // 8 bits per pixel, no alpha
  RGB,   // 32 bits per pixel, little-endian 32-bit words with the top byte unused (B, G, R, x in memory)
  RGBA,  // 32 bits per pixel, little-endian words with premultiplied alpha on top (B, G, R, A in memory)
};

enum class InterpolationQuality { Default = 0, None = 1, Low = 2, High = 3, Medium = 4 };
enum class LineCap { Butt, Round, Square };
enum class PathDrawingMode { Fill, EOFill, Stroke, FillStroke };

struct RGBA8 {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const RGBA8&) const = default;
};

class BitmapContext {
 public:
  // A context that owns its pixels: black for Grey and RGB, transparent for RGBA.
  static std::unique_ptr<BitmapContext> make(int width, int height, BitmapColorSpace space);
  // A context over the caller's bytes, which must outlive it: drawing starts from their content and
  // is written back on flush() and when the context is destroyed. nullptr for bad dimensions.
  static std::unique_ptr<BitmapContext> makeOver(std::uint8_t* data, int width, int height, int bytesPerRow,
                                                 BitmapColorSpace space);
  ~BitmapContext();
  BitmapContext(const BitmapContext&) = delete;
  BitmapContext& operator=(const BitmapContext&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  BitmapColorSpace colorSpace() const { return space_; }
  void flush();

  // Graphics state.
  void saveGState();
  void restoreGState();
  void translateCTM(double tx, double ty);
  void scaleCTM(double sx, double sy);
  void rotateCTM(double radians);
  void concatCTM(const AffineTransform& transform);
  void setFillColor(const Color& color);
  void setFillColor(double r, double g, double b, double a = 1.0);
  void setStrokeColor(const Color& color);
  void setStrokeColor(double r, double g, double b, double a = 1.0);
  void setLineWidth(double width);
  void setLineCap(LineCap cap);
  // A global alpha multiplied into every fill, stroke and image.
  void setAlpha(double alpha);
  void setShouldAntialias(bool antialias);
  void setInterpolationQuality(InterpolationQuality quality);
  InterpolationQuality interpolationQuality() const;
  void clipToRect(const Rect& rect);

  // Paths. Angles are in radians, 0 pointing right, growing clockwise on screen; `clockwise`
  // set draws the arc the other way round, decreasing the angle (the platform's convention).
  void beginPath();
  void moveToPoint(double x, double y);
  void addLineToPoint(double x, double y);
  void addRect(const Rect& rect);
  void addEllipseInRect(const Rect& rect);
  void addArc(double x, double y, double radius, double startAngle, double endAngle, bool clockwise);
  void addArcToPoint(double x1, double y1, double x2, double y2, double radius);
  // A rectangle with quarter-circle corners of `radius`.
  void addRoundedRect(const Rect& rect, double radius);
  void closePath();
  void drawPath(PathDrawingMode mode);
  void fillPath() { drawPath(PathDrawingMode::Fill); }
  void eoFillPath() { drawPath(PathDrawingMode::EOFill); }
  void strokePath() { drawPath(PathDrawingMode::Stroke); }

  // Shapes.
  void fillRect(const Rect& rect);
  void strokeRect(const Rect& rect);
  void clearRect(const Rect& rect);
  void fillEllipseInRect(const Rect& rect);
  void strokeEllipseInRect(const Rect& rect);
  // Pairs of points, each pair one segment.
  void strokeLineSegments(const std::vector<Point>& points);
  // The image scaled to fill `rect`, upright.
  void drawImage(const Rect& rect, const Image& image);
  // One line of text with its baseline at `baseline`, in a sans font of `size` points; with a
  // `fitWidth`, squeezed or stretched to exactly that width (so drawn text matches measured text).
  void drawText(std::string_view text, Point baseline, double size, bool bold, const Color& color,
                double fitWidth = 0);

  // Reading back.
  RGBA8 pixelAt(int x, int y) const;
  std::uint8_t greyAt(int x, int y) const;
  Bitmap bitmap() const;
  Ref<Image> makeImage(double scale = 1.0) const;

  cairo_t* cairo() const { return cr_; }

 private:
  struct Components {
    double r, g, b, a;
  };
  struct State {
    Components fill{0, 0, 0, 1};
    Components stroke{0, 0, 0, 1};
    double alpha = 1.0;
    InterpolationQuality quality = InterpolationQuality::Default;
    bool antialias = true;
  };

  BitmapContext(int width, int height, BitmapColorSpace space);
  void applySource(const Components& color);

  int width_;
  int height_;
  BitmapColorSpace space_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  std::uint8_t* external_ = nullptr;
  int externalBytesPerRow_ = 0;
  State state_;
  std::vector<State> saved_;
};

}  // namespace zv::graphics
