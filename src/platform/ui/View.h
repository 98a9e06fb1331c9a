#pragma once
// A rectangle on screen and the root of the view tree: frame, bounds and centre, an affine
// transform, alpha, hidden, background colour, autoresizing of subviews when the bounds change,
// layout on demand, drawing into a bitmap context, gesture recognizers, and animations whose
// completion runs on the run loop after their duration.
//
// Ownership: a view retains its subviews; its superview and its controller are not retained.
// Main thread only.

#include <functional>
#include <string>
#include <vector>

#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Types.h"

namespace zv::ui {

using graphics::AffineTransform;
using graphics::BitmapContext;
using graphics::Color;
using graphics::EdgeInsets;
using graphics::Point;
using graphics::Rect;
using graphics::Size;

class GestureRecognizer;
class ViewController;
class Window;

class View : public Responder {
 public:
  static Ref<View> make(const Rect& frame = {});
  explicit View(const Rect& frame = {});
  ~View() override;

  // Geometry. The frame is the bounds' size around the centre, transformed; setting it with a
  // transform other than the identity sets the centre and the bounds' size of the untransformed
  // rectangle.
  Rect frame() const;
  virtual void setFrame(const Rect& frame);
  const Rect& bounds() const { return bounds_; }
  virtual void setBounds(const Rect& bounds);
  const Point& center() const { return center_; }
  void setCenter(const Point& center);
  const AffineTransform& transform() const { return transform_; }
  void setTransform(const AffineTransform& transform);

  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool value) { autoresizesSubviews_ = value; }
  ViewContentMode contentMode() const { return contentMode_; }
  void setContentMode(ViewContentMode mode) { contentMode_ = mode; }

  // Appearance.
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  const Ref<Color>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(Ref<Color> color);
  bool clipsToBounds() const { return clipsToBounds_; }
  void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
  // The corner radius of the view's backing layer.
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius) { cornerRadius_ = radius; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }

  // Hierarchy.
  Ref<View> superview() const { return superview_.lock(); }
  const std::vector<Ref<View>>& subviews() const { return subviews_; }
  void addSubview(const Ref<View>& view);
  void insertSubviewAtIndex(const Ref<View>& view, std::size_t index);
  void insertSubviewAboveSubview(const Ref<View>& view, const Ref<View>& sibling);
  void insertSubviewBelowSubview(const Ref<View>& view, const Ref<View>& sibling);
  void removeFromSuperview();
  void bringSubviewToFront(const Ref<View>& view);
  void sendSubviewToBack(const Ref<View>& view);
  bool isDescendantOfView(const View* view) const;
  // This view or the first descendant (depth first) with the tag.
  Ref<View> viewWithTag(int tag);
  // The window at the root of the tree, nullptr when the view is not in one.
  Ref<Window> window() const;
  // Every descendant that is a T, depth first (tests and screens that walk subviews).
  template <class T>
  std::vector<Ref<T>> descendantsOfType() const {
    std::vector<Ref<T>> found;
    collect([&](const Ref<View>& v) {
      if (auto t = std::dynamic_pointer_cast<T>(v)) found.push_back(t);
    });
    return found;
  }

  // Hooks around hierarchy changes.
  virtual void willMoveToSuperview(const Ref<View>& newSuperview) { (void)newSuperview; }
  virtual void didMoveToSuperview() {}
  virtual void didMoveToWindow() {}
  virtual void didAddSubview(const Ref<View>& subview) { (void)subview; }
  virtual void willRemoveSubview(const Ref<View>& subview) { (void)subview; }

  // Coordinates between views of one tree (transforms other than translation are ignored).
  Point convertPointToView(Point point, const View* view) const;
  Point convertPointFromView(Point point, const View* view) const;
  Rect convertRectToView(const Rect& rect, const View* view) const;
  Rect convertRectFromView(const Rect& rect, const View* view) const;

  // Layout.
  virtual void layoutSubviews() {}
  void setNeedsLayout() { needsLayout_ = true; }
  bool needsLayout() const { return needsLayout_; }
  // Lays out this view when marked, then its subviews, depth first.
  void layoutIfNeeded();
  virtual Size sizeThatFits(Size size) const { (void)size; return bounds_.size; }
  void sizeToFit();

  // Drawing.
  // Draws the view's own content (not its background or subviews) in its bounds' coordinates.
  virtual void drawRect(BitmapContext& context, const Rect& rect) { (void)context, (void)rect; }
  void setNeedsDisplay() { ++displayRequests_; }
  // How many times drawing was requested (tests).
  int displayRequests() const { return displayRequests_; }

  // Gestures.
  void addGestureRecognizer(const Ref<GestureRecognizer>& recognizer);
  void removeGestureRecognizer(const Ref<GestureRecognizer>& recognizer);
  const std::vector<Ref<GestureRecognizer>>& gestureRecognizers() const { return gestureRecognizers_; }

  // Ends editing in this view's subtree: the first responder inside it resigns (forced or not).
  bool endEditing(bool force);

  // The controller whose view this is (not retained).
  Ref<ViewController> viewController() const { return viewController_.lock(); }
  void setViewController(const Ref<ViewController>& controller) { viewController_ = controller; }
  Ref<Responder> nextResponder() const override;

  // Animations: `animations` runs at once, so the properties it sets take their final values;
  // `completion` (finished = true) runs on the run loop after delay + duration. A duration of 0
  // still completes on the next turn of the loop, as the platform does.
  static void animateWithDuration(double duration, const std::function<void()>& animations,
                                  std::function<void(bool finished)> completion = nullptr, double delay = 0);
  // Whether an animation block is being run now (setters may note it).
  static bool isInsideAnimationBlock();
  // Duration of the innermost animation block being run, 0 outside one.
  static double currentAnimationDuration();
  // Number of animations started and not yet completed (tests).
  static int runningAnimationCount();

 private:
  void collect(const std::function<void(const Ref<View>&)>& visit) const;
  void resizeSubviews(Size oldSize);
  void autoresize(Size oldSuperSize, Size newSuperSize);
  Point originInWindow() const;
  void notifyMovedToWindow();

  Rect bounds_;
  Point center_;
  AffineTransform transform_;
  unsigned autoresizingMask_ = ViewAutoresizingNone;
  bool autoresizesSubviews_ = true;
  ViewContentMode contentMode_ = ViewContentMode::ScaleToFill;
  double alpha_ = 1.0;
  bool hidden_ = false;
  bool opaque_ = true;
  bool clipsToBounds_ = false;
  double cornerRadius_ = 0;
  int tag_ = 0;
  bool userInteractionEnabled_ = true;
  Ref<Color> backgroundColor_;
  std::weak_ptr<View> superview_;
  std::vector<Ref<View>> subviews_;
  std::weak_ptr<ViewController> viewController_;
  std::vector<Ref<GestureRecognizer>> gestureRecognizers_;
  bool needsLayout_ = true;
  int displayRequests_ = 0;
};

}  // namespace zv::ui
