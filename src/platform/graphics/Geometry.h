#pragma once
// Points, sizes, rectangles, insets and affine transforms in points. The origin is the top-left
// corner and y grows downwards, for views and for drawing alike. Plain values; any thread.

#include <cmath>
#include <string>

namespace zv::graphics {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}
  constexpr Rect(Point o, Size s) : origin(o), size(s) {}

  double x() const { return origin.x; }
  double y() const { return origin.y; }
  double width() const { return size.width; }
  double height() const { return size.height; }
  double minX() const { return std::fmin(origin.x, origin.x + size.width); }
  double minY() const { return std::fmin(origin.y, origin.y + size.height); }
  double maxX() const { return std::fmax(origin.x, origin.x + size.width); }
  double maxY() const { return std::fmax(origin.y, origin.y + size.height); }
  double midX() const { return origin.x + size.width / 2; }
  double midY() const { return origin.y + size.height / 2; }
  Point center() const { return {midX(), midY()}; }
  bool isEmpty() const { return size.width <= 0 || size.height <= 0; }

  // The rectangle moved inwards by dx on the left and right and dy on top and bottom.
  Rect insetBy(double dx, double dy) const;
  Rect offsetBy(double dx, double dy) const { return {origin.x + dx, origin.y + dy, size.width, size.height}; }
  Rect integral() const;
  bool containsPoint(Point p) const;
  bool intersects(const Rect& other) const;
  Rect intersection(const Rect& other) const;

  bool operator==(const Rect&) const = default;
};

struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  bool operator==(const EdgeInsets&) const = default;
};

Rect insetRect(const Rect& rect, const EdgeInsets& insets);

// [a b 0; c d 0; tx ty 1], applied to row vectors (x, y, 1).
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static AffineTransform identity() { return {}; }
  static AffineTransform rotation(double radians);
  static AffineTransform scale(double sx, double sy);
  static AffineTransform translation(double tx, double ty);
  // This transform followed by `then`.
  AffineTransform concat(const AffineTransform& then) const;
  AffineTransform rotated(double radians) const { return rotation(radians).concat(*this); }
  AffineTransform scaled(double sx, double sy) const { return scale(sx, sy).concat(*this); }
  Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  bool isIdentity() const { return *this == AffineTransform{}; }
  // Equal within 1e-9 in every coefficient (rotations rarely give exact zeros).
  bool isNear(const AffineTransform& other, double tolerance = 1e-9) const;

  bool operator==(const AffineTransform&) const = default;
};

std::string describe(const Rect& rect);
std::string describe(const Size& size);
std::string describe(const Point& point);

}  // namespace zv::graphics
