#include "platform/graphics/Geometry.h"

#include <algorithm>

#include "platform/foundation/Format.h"

namespace zv::graphics {

Rect Rect::insetBy(double dx, double dy) const {
  return {minX() + dx, minY() + dy, std::fabs(size.width) - 2 * dx, std::fabs(size.height) - 2 * dy};
}

Rect Rect::integral() const {
  double x0 = std::floor(minX()), y0 = std::floor(minY());
  double x1 = std::ceil(maxX()), y1 = std::ceil(maxY());
  return {x0, y0, x1 - x0, y1 - y0};
}

bool Rect::containsPoint(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }

bool Rect::intersects(const Rect& other) const { return !intersection(other).isEmpty(); }

Rect Rect::intersection(const Rect& other) const {
  double x0 = std::max(minX(), other.minX()), y0 = std::max(minY(), other.minY());
  double x1 = std::min(maxX(), other.maxX()), y1 = std::min(maxY(), other.maxY());
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

Rect insetRect(const Rect& rect, const EdgeInsets& insets) {
  return {rect.x() + insets.left, rect.y() + insets.top, rect.width() - insets.left - insets.right,
          rect.height() - insets.top - insets.bottom};
}

AffineTransform AffineTransform::rotation(double radians) {
  double c = std::cos(radians), s = std::sin(radians);
  return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }

AffineTransform AffineTransform::translation(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }

AffineTransform AffineTransform::concat(const AffineTransform& t) const {
  return {a * t.a + b * t.c,         a * t.b + b * t.d,         c * t.a + d * t.c,
          c * t.b + d * t.d,         tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
}

bool AffineTransform::isNear(const AffineTransform& o, double tol) const {
  return std::fabs(a - o.a) <= tol && std::fabs(b - o.b) <= tol && std::fabs(c - o.c) <= tol &&
         std::fabs(d - o.d) <= tol && std::fabs(tx - o.tx) <= tol && std::fabs(ty - o.ty) <= tol;
}

std::string describe(const Rect& r) {
  return format("{{%g, %g}, {%g, %g}}", r.x(), r.y(), r.width(), r.height());
}
std::string describe(const Size& s) { return format("{%g, %g}", s.width, s.height); }
std::string describe(const Point& p) { return format("{%g, %g}", p.x, p.y); }

}  // namespace zv::graphics
