#pragma once
// The device's screen: 320 × 480 points at scale 1 unless a test sets otherwise. The application
// frame leaves out the status bar while it shows. Main thread only.

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"

namespace zv::ui {

class Screen : public Object {
 public:
  static Ref<Screen> mainScreen();

  graphics::Rect bounds() const { return bounds_; }
  void setBounds(const graphics::Rect& bounds) { bounds_ = bounds; }
  // The bounds less the status bar (20 points at the top, when it shows in portrait).
  graphics::Rect applicationFrame() const;
  double scale() const { return scale_; }
  void setScale(double scale) { scale_ = scale; }

 private:
  graphics::Rect bounds_{0, 0, 320, 480};
  double scale_ = 1.0;
};

}  // namespace zv::ui
