#pragma once
// A view that shows part of a larger content: the content offset is the bounds' origin. Zoom
// scales are kept (the web view's page zooms with them). Main thread only.

#include "platform/ui/View.h"

namespace zv::ui {

class ScrollView : public View {
 public:
  static Ref<ScrollView> make(const Rect& frame = {});
  using View::View;

  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size) { contentSize_ = size; }
  Point contentOffset() const { return bounds().origin; }
  virtual void setContentOffset(Point offset, bool animated = false);
  const EdgeInsets& contentInset() const { return contentInset_; }
  void setContentInset(const EdgeInsets& insets) { contentInset_ = insets; }
  const EdgeInsets& scrollIndicatorInsets() const { return indicatorInsets_; }
  void setScrollIndicatorInsets(const EdgeInsets& insets) { indicatorInsets_ = insets; }
  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }
  bool bounces() const { return bounces_; }
  void setBounces(bool bounces) { bounces_ = bounces; }
  // Scrolls the least so that `rect` (content coordinates) shows.
  void scrollRectToVisible(const Rect& rect, bool animated);
  void flashScrollIndicators() { ++indicatorFlashes_; }
  int indicatorFlashes() const { return indicatorFlashes_; }

  double minimumZoomScale() const { return minimumZoomScale_; }
  void setMinimumZoomScale(double scale) { minimumZoomScale_ = scale; }
  double maximumZoomScale() const { return maximumZoomScale_; }
  void setMaximumZoomScale(double scale) { maximumZoomScale_ = scale; }
  double zoomScale() const { return zoomScale_; }
  // Clamped to the minimum and maximum zoom scales.
  void setZoomScale(double scale, bool animated = false);

  // The largest offset that keeps content on screen (never negative).
  Point maximumContentOffset() const;

 private:
  Size contentSize_;
  EdgeInsets contentInset_;
  EdgeInsets indicatorInsets_;
  bool scrollEnabled_ = true;
  bool bounces_ = true;
  int indicatorFlashes_ = 0;
  double minimumZoomScale_ = 1;
  double maximumZoomScale_ = 1;
  double zoomScale_ = 1;
};

}  // namespace zv::ui
