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

}  // namespace zv::graphics
