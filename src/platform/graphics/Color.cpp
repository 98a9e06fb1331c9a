#include "platform/graphics/Color.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Format.h"

namespace zv::graphics {

Ref<Color> Color::make(double red, double green, double blue, double alpha) {
  auto clamp = [](double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); };
  return std::make_shared<Color>(clamp(red), clamp(green), clamp(blue), clamp(alpha));
}

std::string Color::description() const { return format("RGBA %g %g %g %g", r_, g_, b_, a_); }

bool Color::isEqual(const Object& other) const {
  auto* c = dynamic_cast<const Color*>(&other);
  return c && c->r_ == r_ && c->g_ == g_ && c->b_ == b_ && c->a_ == a_;
}

std::size_t Color::hash() const {
  return static_cast<std::size_t>(r_ * 255) << 24 ^ static_cast<std::size_t>(g_ * 255) << 16 ^
         static_cast<std::size_t>(b_ * 255) << 8 ^ static_cast<std::size_t>(a_ * 255);
}

}  // namespace zv::graphics
