#include "utilities/ProgressOverlay.h"

#include <cmath>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"

namespace zv {

using ui::Rect;
using ui::Size;

namespace {

constexpr double kAnimationDuration = 0.3;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

// --- RoundProgressView ---

Ref<RoundProgressView> RoundProgressView::makeWithDefaultSize() {
  auto view = std::make_shared<RoundProgressView>();
  view->setFrame(Rect(0, 0, 37, 37));
  return view;
}

void RoundProgressView::drawRect(ui::BitmapContext& context, const ui::Rect&) {
  Rect all = bounds();
  Rect circle(all.x() + 2, all.y() + 2, all.width() - 4, all.height() - 4);
  context.setFillColor(1, 1, 1, 0.1);
  context.setStrokeColor(1, 1, 1, 1);
  context.setLineWidth(2);
  context.fillEllipseInRect(circle);
  context.strokeEllipseInRect(circle);
  double cx = all.x() + all.width() / 2, cy = all.y() + all.height() / 2;
  double radius = (all.width() - 4) / 2;
  double start = -kPi / 2, end = progress() * 2 * kPi - kPi / 2;
  context.setFillColor(1, 1, 1, 1);
  context.beginPath();
  context.moveToPoint(cx, cy);
  context.addArc(cx, cy, radius, start, end, false);
  context.closePath();
  context.fillPath();
}

// --- ProgressOverlay: making ---

ProgressOverlay::ProgressOverlay(const Rect& frame) : ui::View(frame) {
  labelFont_ = ui::Font::boldSystemFontOfSize(16);
  detailsLabelFont_ = ui::Font::boldSystemFontOfSize(12);
  setAutoresizingMask(ui::ViewAutoresizingFlexibleTopMargin | ui::ViewAutoresizingFlexibleBottomMargin |
                      ui::ViewAutoresizingFlexibleLeftMargin | ui::ViewAutoresizingFlexibleRightMargin);
  setOpaque(false);
  setBackgroundColor(ui::Color::clearColor());
  setAlpha(0);
  label_ = ui::Label::make(bounds());
  detailsLabel_ = ui::Label::make(bounds());
}

ProgressOverlay::~ProgressOverlay() {
  if (orientationObserver_) NotificationCenter::defaultCenter()->removeObserver(orientationObserver_);
  if (graceTimer_) graceTimer_->invalidate();
  if (minShowTimer_) minShowTimer_->invalidate();
}

Ref<ProgressOverlay> ProgressOverlay::makeWithFrame(const Rect& frame) {
  auto overlay = std::make_shared<ProgressOverlay>(frame);
  overlay->updateIndicators();
  return overlay;
}

Ref<ProgressOverlay> ProgressOverlay::makeWithView(const Ref<ui::View>& view) {
  if (!view) {
    Exception::raise(kProgressOverlayViewIsNilException, "The view used in the ProgressOverlay initializer is nil.");
  }
  auto overlay = makeWithFrame(view->bounds());
  if (std::dynamic_pointer_cast<ui::Window>(view)) overlay->setTransformForCurrentOrientation(false);
  std::weak_ptr<ProgressOverlay> weak = overlay;
  overlay->orientationObserver_ = NotificationCenter::defaultCenter()->addObserverForName(
      ui::kDeviceOrientationDidChangeNotification, nullptr, [weak](const auto&) {
        if (auto self = weak.lock()) self->deviceOrientationDidChange();
      });
  return overlay;
}

Ref<ProgressOverlay> ProgressOverlay::showHUDAddedTo(const Ref<ui::View>& view, bool animated) {
  auto overlay = makeWithView(view);
  view->addSubview(overlay);
  overlay->show(animated);
  return overlay;
}

bool ProgressOverlay::hideHUDForView(const Ref<ui::View>& view, bool animated) {
  if (!view) return false;
  Ref<ProgressOverlay> last;
  for (const auto& subview : view->subviews())
    if (auto overlay = std::dynamic_pointer_cast<ProgressOverlay>(subview)) last = overlay;
  if (!last) return false;
  last->setRemoveFromSuperViewOnHide(true);
  last->hide(animated);
  return true;
}

// --- Content ---

void ProgressOverlay::onMainThread(std::function<void()> work) {
  if (RunLoop::isMainThread()) {
    work();
    return;
  }
  performOnMainThread(std::move(work), false);
}

void ProgressOverlay::setMode(HUDMode mode) {
  std::weak_ptr<ProgressOverlay> weak = self();
  onMainThread([weak, mode] {
    auto overlay = weak.lock();
    if (!overlay) return;
    if (overlay->mode_ != HUDModeIndeterminate && overlay->mode_ == mode) return;
    overlay->mode_ = mode;
    overlay->updateIndicators();
    overlay->setNeedsLayout();
    overlay->setNeedsDisplay();
  });
}

void ProgressOverlay::setLabelText(std::optional<std::string> text) {
  std::weak_ptr<ProgressOverlay> weak = self();
  onMainThread([weak, text = std::move(text)] {
    if (auto overlay = weak.lock()) {
      overlay->labelText_ = text;
      overlay->setNeedsLayout();
      overlay->setNeedsDisplay();
    }
  });
}

void ProgressOverlay::setDetailsLabelText(std::optional<std::string> text) {
  std::weak_ptr<ProgressOverlay> weak = self();
  onMainThread([weak, text = std::move(text)] {
    if (auto overlay = weak.lock()) {
      overlay->detailsLabelText_ = text;
      overlay->setNeedsLayout();
      overlay->setNeedsDisplay();
    }
  });
}

void ProgressOverlay::setProgress(float progress) {
  std::weak_ptr<ProgressOverlay> weak = self();
  onMainThread([weak, progress] {
    auto overlay = weak.lock();
    if (!overlay) return;
    overlay->progress_ = progress;
    if (overlay->mode_ != HUDModeDeterminate) return;
    if (auto round = std::dynamic_pointer_cast<RoundProgressView>(overlay->indicator_)) round->setProgress(progress);
    overlay->setNeedsDisplay();
  });
}

void ProgressOverlay::updateIndicators() {
  if (indicator_) indicator_->removeFromSuperview();
  if (mode_ == HUDModeCustomView && customView_) {
    indicator_ = customView_;
  } else if (mode_ == HUDModeDeterminate) {
    indicator_ = RoundProgressView::makeWithDefaultSize();
  } else {
    auto spinner = ui::ActivityIndicatorView::make(ui::ActivityIndicatorViewStyle::WhiteLarge);
    spinner->sizeToFit();
    spinner->startAnimating();
    indicator_ = spinner;
  }
  addSubview(indicator_);
}

// --- Layout and drawing ---

void ProgressOverlay::layoutSubviews() {
  const Rect frame = bounds();
  const Rect indicatorFrame = indicator_ ? indicator_->frame() : Rect();
  const float m = margin_;
  width_ = static_cast<float>(indicatorFrame.width() + 2 * m);
  height_ = static_cast<float>(indicatorFrame.height() + 2 * m);
  Rect placed(std::floor((frame.width() - indicatorFrame.width()) / 2) + xOffset_,
              std::floor((frame.height() - indicatorFrame.height()) / 2) + yOffset_, indicatorFrame.width(),
              indicatorFrame.height());
  if (indicator_) indicator_->setFrame(placed);
  if (!labelText_) {
    label_->removeFromSuperview();
    detailsLabel_->removeFromSuperview();
    return;
  }
  // A label wider than the view is cut to the view less four margins, never below zero.
  auto fitted = [&](const std::string& text, const ui::Font& font) {
    Size size = ui::sizeWithFont(text, font);
    if (size.width > frame.width() - 2 * m) size.width = std::max(0.0, frame.width() - 4 * m);
    return size;
  };
  auto style = [](ui::Label& label, const Ref<ui::Font>& font, const std::string& text) {
    label.setFont(font);
    label.setAdjustsFontSizeToFitWidth(false);
    label.setTextAlignment(ui::TextAlignment::Center);
    label.setOpaque(false);
    label.setBackgroundColor(ui::Color::clearColor());
    label.setTextColor(ui::Color::whiteColor());
    label.setText(text);
  };
  Size labelSize = fitted(*labelText_, *labelFont_);
  style(*label_, labelFont_, *labelText_);
  if (width_ < labelSize.width + 2 * m) width_ = static_cast<float>(labelSize.width + 2 * m);
  height_ += static_cast<float>(labelSize.height + 4);
  placed.origin.y -= std::floor(labelSize.height / 2 + 2);
  if (indicator_) indicator_->setFrame(placed);
  Rect labelFrame(std::floor((frame.width() - labelSize.width) / 2) + xOffset_, std::floor(placed.maxY() + 4),
                  labelSize.width, labelSize.height);
  label_->setFrame(labelFrame);
  if (label_->superview().get() != this) addSubview(label_);

  if (!detailsLabelText_) {
    detailsLabel_->removeFromSuperview();
    return;
  }
  Size detailsSize = fitted(*detailsLabelText_, *detailsLabelFont_);
  style(*detailsLabel_, detailsLabelFont_, *detailsLabelText_);
  // The panel holds the details text with its margins, as it holds the label.
  if (width_ < detailsSize.width + 2 * m) width_ = static_cast<float>(detailsSize.width + 2 * m);
  height_ += static_cast<float>(detailsSize.height + 4);
  double shift = std::floor(detailsSize.height / 2 + 2);
  placed.origin.y -= shift;
  if (indicator_) indicator_->setFrame(placed);
  labelFrame.origin.y -= shift;
  label_->setFrame(labelFrame);
  detailsLabel_->setFrame(Rect(std::floor((frame.width() - detailsSize.width) / 2) + xOffset_,
                               labelFrame.y() + labelSize.height + 4, detailsSize.width, detailsSize.height));
  if (detailsLabel_->superview().get() != this) addSubview(detailsLabel_);
}

void ProgressOverlay::drawRect(ui::BitmapContext& context, const Rect&) {
  const Rect all = bounds();
  Rect panel((all.width() - width_) / 2 + xOffset_, (all.height() - height_) / 2 + yOffset_, width_, height_);
  context.setFillColor(0, 0, 0, opacity_);
  fillRoundedRect(panel, context);
}

void ProgressOverlay::fillRoundedRect(const Rect& rect, ui::BitmapContext& context) {
  constexpr double radius = 10;
  const double minX = rect.x(), minY = rect.y(), maxX = rect.maxX(), maxY = rect.maxY();
  context.beginPath();
  context.moveToPoint(minX + radius, minY);
  context.addArc(maxX - radius, minY + radius, radius, 3 * kPi / 2, 0, false);
  context.addArc(maxX - radius, maxY - radius, radius, 0, kPi / 2, false);
  context.addArc(minX + radius, maxY - radius, radius, kPi / 2, kPi, false);
  context.addArc(minX + radius, minY + radius, radius, kPi, 3 * kPi / 2, false);
  context.closePath();
  context.fillPath();
}

// --- Showing and hiding ---

// The last of show() and hide() wins: each cancels what the other left pending (the grace timer,
// a minimum-time hide, a fade-out still running), and the delegate hears "hidden" once per hide.

void ProgressOverlay::cancelPending() {
  ++generation_;
  if (graceTimer_) graceTimer_->invalidate();
  graceTimer_ = nullptr;
  if (minShowTimer_) minShowTimer_->invalidate();
  minShowTimer_ = nullptr;
}

void ProgressOverlay::show(bool animated) {
  cancelPending();
  useAnimation_ = animated;
  isFinished_ = false;
  if (graceTime_ > 0) {
    std::weak_ptr<ProgressOverlay> weak = self();
    graceTimer_ = Timer::scheduledTimer(graceTime_, false, [weak](Timer&) {
      auto overlay = weak.lock();
      if (!overlay) return;
      overlay->graceTimer_ = nullptr;
      if (overlay->taskInProgress_) {
        overlay->setNeedsDisplay();
        overlay->showUsingAnimation(overlay->useAnimation_);
      }
    });
    return;
  }
  setNeedsDisplay();
  showUsingAnimation(useAnimation_);
}

void ProgressOverlay::showUsingAnimation(bool animated) {
  setAlpha(0);
  showStarted_ = Date::make(Clock::current()->now());
  shownSince_ = Clock::current()->monotonic();
  if (animated) {
    if (animationType_ == HUDAnimationZoom) setTransform(rotationTransform_.concat(ui::AffineTransform::scale(1.5, 1.5)));
    auto weak = std::weak_ptr<ProgressOverlay>(self());
    ui::View::animateWithDuration(kAnimationDuration, [weak] {
      auto overlay = weak.lock();
      if (!overlay) return;
      overlay->setAlpha(1);
      if (overlay->animationType_ == HUDAnimationZoom) overlay->setTransform(overlay->rotationTransform_);
    });
  } else {
    setAlpha(1);
  }
}

void ProgressOverlay::hide(bool animated) {
  // Hidden and told already, with no show since: nothing to do.
  if (isFinished_) return;
  cancelPending();
  useAnimation_ = animated;
  if (minShowTime_ > 0 && shownSince_) {
    // Measured on the monotonic clock: setting the wall clock back must not keep the overlay up.
    double shown = Clock::current()->monotonic() - *shownSince_;
    if (shown < minShowTime_) {
      // The timer keeps the overlay until it has hidden (and told its delegate); clearing
      // minShowTimer_ when it fires lets both go.
      minShowTimer_ = Timer::scheduledTimer(minShowTime_ - shown, false, [overlay = self()](Timer&) {
        overlay->minShowTimer_ = nullptr;
        overlay->hideUsingAnimation(overlay->useAnimation_);
      });
      return;
    }
  }
  hideUsingAnimation(useAnimation_);
}

void ProgressOverlay::hideUsingAnimation(bool animated) {
  if (!animated) {
    setAlpha(0);
    done();
    return;
  }
  auto keep = self();  // alive until the animation ends
  ui::View::animateWithDuration(
      kAnimationDuration,
      [keep] {
        keep->setAlpha(0.02);
        if (keep->animationType_ == HUDAnimationZoom)
          keep->setTransform(keep->rotationTransform_.concat(ui::AffineTransform::scale(0.5, 0.5)));
      },
      // A show() during the fade-out wins over it.
      [keep, generation = generation_](bool) {
        if (keep->generation_ == generation) keep->done();
      });
}

void ProgressOverlay::done() {
  isFinished_ = true;
  setAlpha(0);
  if (auto listener = delegate_.lock()) listener->hudWasHidden();
  if (removeFromSuperViewOnHide_) removeFromSuperview();
}

void ProgressOverlay::showWhileExecuting(std::function<void()> task, bool animated) {
  task_ = std::move(task);
  taskInProgress_ = true;
  // The thread keeps the overlay alive until its end has been handled on the main thread, even
  // when the view it lies on goes away meanwhile: the clean-up and the delegate's hudWasHidden
  // still happen. The reference travels with the clean-up, so the overlay is released there.
  detachThread([work = task_, overlay = self()]() mutable {
    if (work) work();
    work = nullptr;
    if (!performOnMainThread([overlay = std::move(overlay)] { overlay->cleanUpAfterTask(); }, false)) {
      logError("ProgressOverlay: the main run loop is gone; the task's end is not handled");
    }
  }, "ProgressOverlay");
  show(animated);
}

void ProgressOverlay::cleanUpAfterTask() {
  taskInProgress_ = false;
  if (indicator_) indicator_->removeFromSuperview();
  indicator_ = nullptr;
  task_ = nullptr;
  hide(useAnimation_);
}

// --- Orientation ---

void ProgressOverlay::deviceOrientationDidChange() {
  auto parent = superview();
  if (!parent) return;
  if (std::dynamic_pointer_cast<ui::Window>(parent)) setTransformForCurrentOrientation(true);
  setFrame(parent->bounds());
  setNeedsDisplay();
}

void ProgressOverlay::setTransformForCurrentOrientation(bool animated) {
  double degrees = 0;
  switch (ui::Application::sharedApplication()->statusBarOrientation()) {
    case ui::InterfaceOrientation::LandscapeRight: degrees = 90; break;
    case ui::InterfaceOrientation::LandscapeLeft: degrees = -90; break;
    case ui::InterfaceOrientation::PortraitUpsideDown: degrees = 180; break;
    default: break;
  }
  rotationTransform_ = ui::AffineTransform::rotation(degrees * kPi / 180);
  if (animated) {
    auto weak = std::weak_ptr<ProgressOverlay>(self());
    ui::View::animateWithDuration(0.3, [weak] {
      if (auto overlay = weak.lock()) overlay->setTransform(overlay->rotationTransform_);
    });
  } else {
    setTransform(rotationTransform_);
  }
}

}  // namespace zv
