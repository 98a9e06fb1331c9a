#include "platform/ui/View.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace zv::ui {

namespace {
std::vector<double>& animationStack() {
  static std::vector<double> stack;
  return stack;
}
int& runningAnimations() {
  static int count = 0;
  return count;
}
}  // namespace

Ref<View> View::make(const Rect& frame) { return std::make_shared<View>(frame); }

View::View(const Rect& frame) { setFrame(frame); }

View::~View() = default;

Rect View::frame() const {
  if (transform_.isIdentity())
    return {center_.x - bounds_.width() / 2, center_.y - bounds_.height() / 2, bounds_.width(), bounds_.height()};
  // The bounding box of the transformed bounds around the centre.
  double w = bounds_.width() / 2, h = bounds_.height() / 2;
  double xs[4], ys[4];
  Point corners[4] = {{-w, -h}, {w, -h}, {w, h}, {-w, h}};
  AffineTransform t = transform_;
  t.tx = t.ty = 0;
  for (int i = 0; i < 4; ++i) {
    Point p = t.apply(corners[i]);
    xs[i] = p.x, ys[i] = p.y;
  }
  double x0 = *std::min_element(xs, xs + 4), x1 = *std::max_element(xs, xs + 4);
  double y0 = *std::min_element(ys, ys + 4), y1 = *std::max_element(ys, ys + 4);
  return {center_.x + transform_.tx + x0, center_.y + transform_.ty + y0, x1 - x0, y1 - y0};
}

void View::setFrame(const Rect& frame) {
  Size old = bounds_.size;
  center_ = {frame.x() + frame.width() / 2, frame.y() + frame.height() / 2};
  bounds_.size = frame.size;
  if (old != bounds_.size) resizeSubviews(old);
}

void View::setBounds(const Rect& bounds) {
  Size old = bounds_.size;
  bounds_ = bounds;
  if (old != bounds_.size) resizeSubviews(old);
}

void View::setCenter(const Point& center) { center_ = center; }

void View::setTransform(const AffineTransform& transform) { transform_ = transform; }

void View::setAlpha(double alpha) { alpha_ = std::clamp(alpha, 0.0, 1.0); }

void View::setBackgroundColor(Ref<Color> color) {
  backgroundColor_ = std::move(color);
  setNeedsDisplay();
}

void View::resizeSubviews(Size oldSize) {
  setNeedsLayout();
  if (!autoresizesSubviews_) return;
  for (const auto& subview : subviews_) subview->autoresize(oldSize, bounds_.size);
}

void View::autoresize(Size oldSuper, Size newSuper) {
  if (autoresizingMask_ == ViewAutoresizingNone) return;
  Rect f = frame();
  // Each axis: the change in the superview's extent is shared among the flexible parts in
  // proportion to their present extents (equally when they are all zero).
  auto axis = [](double position, double extent, double oldTotal, double newTotal, bool flexStart, bool flexExtent,
                 bool flexEnd, double& outPosition, double& outExtent) {
    double delta = newTotal - oldTotal;
    outPosition = position;
    outExtent = extent;
    if (delta == 0 || (!flexStart && !flexExtent && !flexEnd)) return;
    double start = position, end = oldTotal - position - extent;
    double weightStart = flexStart ? std::max(0.0, start) : 0;
    double weightExtent = flexExtent ? std::max(0.0, extent) : 0;
    double weightEnd = flexEnd ? std::max(0.0, end) : 0;
    double total = weightStart + weightExtent + weightEnd;
    if (total == 0) {
      int parts = flexStart + flexExtent + flexEnd;
      weightStart = flexStart ? 1.0 / parts : 0;
      weightExtent = flexExtent ? 1.0 / parts : 0;
      total = 1;
    }
    outPosition = position + delta * weightStart / total;
    outExtent = extent + delta * weightExtent / total;
  };
  unsigned m = autoresizingMask_;
  double x, w, y, h;
  axis(f.x(), f.width(), oldSuper.width, newSuper.width, m & ViewAutoresizingFlexibleLeftMargin,
       m & ViewAutoresizingFlexibleWidth, m & ViewAutoresizingFlexibleRightMargin, x, w);
  axis(f.y(), f.height(), oldSuper.height, newSuper.height, m & ViewAutoresizingFlexibleTopMargin,
       m & ViewAutoresizingFlexibleHeight, m & ViewAutoresizingFlexibleBottomMargin, y, h);
  setFrame(Rect(x, y, w, h));
}

void View::addSubview(const Ref<View>& view) { insertSubviewAtIndex(view, subviews_.size()); }

void View::insertSubviewAtIndex(const Ref<View>& view, std::size_t index) {
  if (!view || view.get() == this) return;
  auto self = selfAs<View>();
  if (view->superview().get() == this) {
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    std::size_t old = static_cast<std::size_t>(it - subviews_.begin());
    subviews_.erase(it);
    if (index > old) --index;
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(std::min(index, subviews_.size())), view);
    return;
  }
  auto keep = view;
  view->removeFromSuperview();
  view->willMoveToSuperview(self);
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(std::min(index, subviews_.size())), view);
  view->superview_ = self;
  view->didMoveToSuperview();
  didAddSubview(view);
  if (window()) view->notifyMovedToWindow();
}

void View::insertSubviewAboveSubview(const Ref<View>& view, const Ref<View>& sibling) {
  auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
  insertSubviewAtIndex(view, it == subviews_.end() ? subviews_.size() : static_cast<std::size_t>(it - subviews_.begin()) + 1);
}

void View::insertSubviewBelowSubview(const Ref<View>& view, const Ref<View>& sibling) {
  auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
  insertSubviewAtIndex(view, it == subviews_.end() ? 0 : static_cast<std::size_t>(it - subviews_.begin()));
}

void View::removeFromSuperview() {
  auto parent = superview();
  if (!parent) return;
  auto keep = selfAs<View>();
  bool hadWindow = window() != nullptr;
  if (auto responder = Responder::currentFirstResponder()) {
    auto* asView = dynamic_cast<View*>(responder.get());
    if (asView && (asView == this || asView->isDescendantOfView(this))) responder->resignFirstResponder();
  }
  parent->willRemoveSubview(keep);
  willMoveToSuperview(nullptr);
  auto& siblings = parent->subviews_;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), keep), siblings.end());
  superview_.reset();
  didMoveToSuperview();
  if (hadWindow) notifyMovedToWindow();
}

void View::notifyMovedToWindow() {
  didMoveToWindow();
  for (const auto& subview : std::vector<Ref<View>>(subviews_)) subview->notifyMovedToWindow();
}

void View::bringSubviewToFront(const Ref<View>& view) {
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  if (it == subviews_.end()) return;
  subviews_.erase(it);
  subviews_.push_back(view);
}

void View::sendSubviewToBack(const Ref<View>& view) {
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  if (it == subviews_.end()) return;
  subviews_.erase(it);
  subviews_.insert(subviews_.begin(), view);
}

bool View::isDescendantOfView(const View* view) const {
  for (const View* v = this; v; v = v->superview_.lock().get())
    if (v == view) return true;
  return false;
}

Ref<View> View::viewWithTag(int tag) {
  if (tag_ == tag) return selfAs<View>();
  for (const auto& subview : subviews_)
    if (auto found = subview->viewWithTag(tag)) return found;
  return nullptr;
}

Ref<Window> View::window() const {
  auto top = selfAs<View>();
  while (auto parent = top->superview()) top = parent;
  return std::dynamic_pointer_cast<Window>(top);
}

void View::collect(const std::function<void(const Ref<View>&)>& visit) const {
  for (const auto& subview : subviews_) {
    visit(subview);
    subview->collect(visit);
  }
}

Point View::originInWindow() const {
  Point p{0, 0};
  const View* v = this;
  while (auto parent = v->superview()) {
    Rect f = v->frame();
    p.x += f.x() - parent->bounds_.x();
    p.y += f.y() - parent->bounds_.y();
    v = parent.get();
  }
  // The bounds origin of the view itself shifts its content.
  p.x -= bounds_.x();
  p.y -= bounds_.y();
  return p;
}

Point View::convertPointToView(Point point, const View* view) const {
  Point mine = originInWindow();
  Point theirs = view ? view->originInWindow() : Point{0, 0};
  return {point.x + mine.x - theirs.x, point.y + mine.y - theirs.y};
}

Point View::convertPointFromView(Point point, const View* view) const {
  Point mine = originInWindow();
  Point theirs = view ? view->originInWindow() : Point{0, 0};
  return {point.x - mine.x + theirs.x, point.y - mine.y + theirs.y};
}

Rect View::convertRectToView(const Rect& rect, const View* view) const {
  return {convertPointToView(rect.origin, view), rect.size};
}

Rect View::convertRectFromView(const Rect& rect, const View* view) const {
  return {convertPointFromView(rect.origin, view), rect.size};
}

void View::layoutIfNeeded() {
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  for (const auto& subview : std::vector<Ref<View>>(subviews_)) subview->layoutIfNeeded();
}

void View::sizeToFit() {
  Size size = sizeThatFits(bounds_.size);
  Rect f = frame();
  setFrame(Rect(f.x(), f.y(), size.width, size.height));
}

void View::addGestureRecognizer(const Ref<GestureRecognizer>& recognizer) {
  if (!recognizer) return;
  if (auto old = recognizer->view()) old->removeGestureRecognizer(recognizer);
  gestureRecognizers_.push_back(recognizer);
  recognizer->setView(selfAs<View>());
}

void View::removeGestureRecognizer(const Ref<GestureRecognizer>& recognizer) {
  auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
  if (it == gestureRecognizers_.end()) return;
  gestureRecognizers_.erase(it);
  recognizer->setView(nullptr);
}

bool View::endEditing(bool force) {
  auto responder = Responder::currentFirstResponder();
  auto* asView = dynamic_cast<View*>(responder.get());
  if (!asView || !asView->isDescendantOfView(this)) return true;
  if (responder->resignFirstResponder()) return true;
  if (!force) return false;
  // Forced: the first responder is made to give up whatever it answers.
  return responder->Responder::resignFirstResponder();
}

Ref<Responder> View::nextResponder() const {
  if (auto controller = viewController()) return controller;
  return superview();
}

void View::animateWithDuration(double duration, const std::function<void()>& animations,
                               std::function<void(bool)> completion, double delay) {
  animationStack().push_back(duration);
  try {
    if (animations) animations();
  } catch (...) {
    animationStack().pop_back();
    throw;
  }
  animationStack().pop_back();
  ++runningAnimations();
  scheduleAfter(delay + duration, [completion = std::move(completion)] {
    --runningAnimations();
    if (completion) completion(true);
  });
}

bool View::isInsideAnimationBlock() { return !animationStack().empty(); }
double View::currentAnimationDuration() { return animationStack().empty() ? 0 : animationStack().back(); }
int View::runningAnimationCount() { return runningAnimations(); }

}  // namespace zv::ui
