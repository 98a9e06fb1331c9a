#pragma once
// Geometry wrapped as an object, for collections and notification user information.

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"

namespace zv::graphics {

class RectValue : public Object {
 public:
  static Ref<RectValue> make(const Rect& rect) { return std::make_shared<RectValue>(rect); }
  const Rect& rect() const { return rect_; }
  std::string description() const override { return describe(rect_); }
  bool isEqual(const Object& other) const override {
    auto* r = dynamic_cast<const RectValue*>(&other);
    return r && r->rect_ == rect_;
  }
  explicit RectValue(const Rect& rect) : rect_(rect) {}

 private:
  Rect rect_;
};

class PointValue : public Object {
 public:
  static Ref<PointValue> make(const Point& point) { return std::make_shared<PointValue>(point); }
  const Point& point() const { return point_; }
  std::string description() const override {
    return "{" + std::to_string(point_.x) + ", " + std::to_string(point_.y) + "}";
  }
  bool isEqual(const Object& other) const override {
    auto* p = dynamic_cast<const PointValue*>(&other);
    return p && p->point_ == point_;
  }
  explicit PointValue(const Point& point) : point_(point) {}

 private:
  Point point_;
};

}  // namespace zv::graphics
