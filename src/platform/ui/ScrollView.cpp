#include "platform/ui/ScrollView.h"

#include <algorithm>

namespace zv::ui {

Ref<ScrollView> ScrollView::make(const Rect& frame) { return std::make_shared<ScrollView>(frame); }

void ScrollView::setContentOffset(Point offset, bool) {
  Rect b = bounds();
  b.origin = offset;
  setBounds(b);
  setNeedsLayout();
}

Point ScrollView::maximumContentOffset() const {
  double x = contentSize_.width + contentInset_.left + contentInset_.right - bounds().width();
  double y = contentSize_.height + contentInset_.top + contentInset_.bottom - bounds().height();
  return {std::max(0.0, x), std::max(0.0, y)};
}

void ScrollView::scrollRectToVisible(const Rect& rect, bool animated) {
  Point offset = contentOffset();
  Size size = bounds().size;
  if (rect.minY() < offset.y)
    offset.y = rect.minY();
  else if (rect.maxY() > offset.y + size.height)
    offset.y = rect.maxY() - size.height;
  if (rect.minX() < offset.x)
    offset.x = rect.minX();
  else if (rect.maxX() > offset.x + size.width)
    offset.x = rect.maxX() - size.width;
  Point limit = maximumContentOffset();
  offset.x = std::clamp(offset.x, 0.0, limit.x);
  offset.y = std::clamp(offset.y, 0.0, limit.y);
  setContentOffset(offset, animated);
}

void ScrollView::setZoomScale(double scale, bool) {
  zoomScale_ = std::clamp(scale, std::min(minimumZoomScale_, maximumZoomScale_), std::max(minimumZoomScale_, maximumZoomScale_));
}

}  // namespace zv::ui
