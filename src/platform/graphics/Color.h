#pragma once
// An immutable RGBA colour with components in 0...1 (not premultiplied).

#include "platform/foundation/Object.h"

namespace zv::graphics {

class Color : public Object {
 public:
  static Ref<Color> make(double red, double green, double blue, double alpha = 1.0);
  static Ref<Color> white(double white, double alpha = 1.0) { return make(white, white, white, alpha); }

  static Ref<Color> blackColor() { return white(0); }
  static Ref<Color> whiteColor() { return white(1); }
  static Ref<Color> clearColor() { return white(0, 0); }
  static Ref<Color> grayColor() { return white(0.5); }
  static Ref<Color> darkGrayColor() { return white(1.0 / 3.0); }
  static Ref<Color> lightGrayColor() { return white(2.0 / 3.0); }
  static Ref<Color> redColor() { return make(1, 0, 0); }
  static Ref<Color> greenColor() { return make(0, 1, 0); }
  static Ref<Color> blueColor() { return make(0, 0, 1); }
  // The platform's text colour for dark-on-light text.
  static Ref<Color> darkTextColor() { return blackColor(); }
  static Ref<Color> groupTableViewBackgroundColor() { return make(0.937, 0.937, 0.957); }

  double red() const { return r_; }
  double green() const { return g_; }
  double blue() const { return b_; }
  double alpha() const { return a_; }
  Ref<Color> colorWithAlphaComponent(double alpha) const { return make(r_, g_, b_, alpha); }

  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

  Color(double r, double g, double b, double a) : r_(r), g_(g), b_(b), a_(a) {}

 private:
  double r_, g_, b_, a_;
};

}  // namespace zv::graphics
