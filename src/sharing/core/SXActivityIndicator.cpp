#include "sharing/core/SXActivityIndicator.h"

#include <cmath>
#include <numbers>

#include "platform/graphics/Color.h"
#include "platform/runloop/Perform.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Font.h"
#include "platform/ui/Window.h"

namespace zv {

namespace {

constexpr double kSide = 160;

Ref<SXActivityIndicator>& indicatorSlot() {
  static Ref<SXActivityIndicator> indicator;
  return indicator;
}

Ref<ui::Label> makeMessageLabel(const ui::Rect& frame, double fontSize) {
  auto label = ui::Label::make(frame);
  label->setBackgroundColor(graphics::Color::clearColor());
  label->setTextColor(graphics::Color::whiteColor());
  label->setFont(ui::Font::boldSystemFontOfSize(fontSize));
  label->setTextAlignment(ui::TextAlignment::Center);
  label->setShadowColor(graphics::Color::darkGrayColor());
  label->setShadowOffset({1, 1});
  label->setAdjustsFontSizeToFitWidth(true);
  return label;
}

}  // namespace

SXActivityIndicator::SXActivityIndicator() : View(ui::Rect(0, 0, kSide, kSide)) {
  setBackgroundColor(graphics::Color::blackColor()->colorWithAlphaComponent(0.5));
  setCornerRadius(10);
  setOpaque(false);
  setAlpha(0);
  setUserInteractionEnabled(false);
  setAutoresizingMask(ui::ViewAutoresizingFlexibleLeftMargin | ui::ViewAutoresizingFlexibleRightMargin |
                      ui::ViewAutoresizingFlexibleTopMargin | ui::ViewAutoresizingFlexibleBottomMargin);
}

Ref<SXActivityIndicator> SXActivityIndicator::currentIndicator() {
  auto& slot = indicatorSlot();
  if (!slot) {
    slot = std::make_shared<SXActivityIndicator>();
    slot->placeInKeyWindow();
    std::weak_ptr<SXActivityIndicator> weak = slot;
    slot->orientationObserver_ = NotificationCenter::defaultCenter()->addObserverForName(
        ui::kDeviceOrientationDidChangeNotification, nullptr, [weak](const Ref<Notification>&) {
          if (auto indicator = weak.lock()) indicator->setProperRotation(true);
        });
    slot->setProperRotation(false);
  }
  return slot;
}

void SXActivityIndicator::resetForTesting() {
  auto& slot = indicatorSlot();
  if (!slot) return;
  cancelPreviousPerformRequests(slot.get());
  NotificationCenter::defaultCenter()->removeObserver(slot->orientationObserver_);
  slot->removeFromSuperview();
  slot.reset();
}

void SXActivityIndicator::placeInKeyWindow() {
  if (auto window = ui::Application::sharedApplication()->keyWindow()) {
    const auto size = window->bounds().size;
    setFrame(ui::Rect(std::round(size.width / 2 - kSide / 2), std::round(size.height / 2 - kSide / 2), kSide, kSide));
  }
}

void SXActivityIndicator::show() {
  if (!window()) {
    if (auto key = ui::Application::sharedApplication()->keyWindow()) {
      placeInKeyWindow();
      key->addSubview(selfAs<View>());
    }
  }
  cancelPreviousPerformRequests(this);
  auto me = selfAs<SXActivityIndicator>();
  View::animateWithDuration(0.3, [me] { me->setAlpha(1); });
}

void SXActivityIndicator::persist() {
  cancelPreviousPerformRequests(this);
  auto me = selfAs<SXActivityIndicator>();
  View::animateWithDuration(0.1, [me] { me->setAlpha(1); });
}

void SXActivityIndicator::hideAfterDelay() {
  std::weak_ptr<SXActivityIndicator> weak = selfAs<SXActivityIndicator>();
  performAfterDelay(0.6, [weak] {
    if (auto me = weak.lock()) me->hide();
  }, {kDefaultRunLoopMode}, this);
}

void SXActivityIndicator::hide() {
  auto me = selfAs<SXActivityIndicator>();
  View::animateWithDuration(0.4, [me] { me->setAlpha(0); }, [me](bool) { me->hidden(); });
}

void SXActivityIndicator::hidden() {
  if (alpha() <= 0) removeFromSuperview();
}

void SXActivityIndicator::displayActivity(const std::string& message) {
  setSubMessage(message);
  showSpinner();
  if (centerMessageLabel_) centerMessageLabel_->removeFromSuperview();
  centerMessageLabel_.reset();
  if (window()) {
    persist();
  } else {
    show();
  }
}

void SXActivityIndicator::displayCompleted(const std::string& message) {
  setCenterMessage("\u2713");
  setSubMessage(message);
  if (spinner_) spinner_->removeFromSuperview();
  spinner_.reset();
  if (window()) {
    persist();
  } else {
    show();
  }
  hideAfterDelay();
}

void SXActivityIndicator::setCenterMessage(const std::optional<std::string>& message) {
  if (!message) {
    if (centerMessageLabel_) centerMessageLabel_->removeFromSuperview();
    centerMessageLabel_.reset();
    return;
  }
  if (!centerMessageLabel_) {
    const auto size = bounds().size;
    centerMessageLabel_ = makeMessageLabel(ui::Rect(12, std::round(size.height / 2 - 25), size.width - 24, 50), 40);
    addSubview(centerMessageLabel_);
  }
  centerMessageLabel_->setText(*message);
  hideSpinner();
}

void SXActivityIndicator::setSubMessage(const std::optional<std::string>& message) {
  if (!message) {
    if (subMessageLabel_) subMessageLabel_->removeFromSuperview();
    subMessageLabel_.reset();
    return;
  }
  if (!subMessageLabel_) {
    const auto size = bounds().size;
    subMessageLabel_ = makeMessageLabel(ui::Rect(12, size.height - 45, size.width - 24, 30), 17);
    addSubview(subMessageLabel_);
  }
  subMessageLabel_->setText(*message);
}

void SXActivityIndicator::showSpinner() {
  if (!spinner_) {
    spinner_ = ui::ActivityIndicatorView::make(ui::ActivityIndicatorViewStyle::WhiteLarge);
    spinner_->sizeToFit();
    const auto size = bounds().size;
    spinner_->setCenter({std::round(size.width / 2), std::round(size.height / 2)});
  }
  addSubview(spinner_);
  spinner_->startAnimating();
}

void SXActivityIndicator::hideSpinner() {
  if (spinner_) spinner_->removeFromSuperview();
}

void SXActivityIndicator::setProperRotation(bool animated) {
  double angle = 0;
  switch (ui::Application::sharedApplication()->statusBarOrientation()) {
    case ui::InterfaceOrientation::Portrait: angle = 0; break;
    case ui::InterfaceOrientation::PortraitUpsideDown: angle = std::numbers::pi; break;
    case ui::InterfaceOrientation::LandscapeRight: angle = std::numbers::pi / 2; break;
    case ui::InterfaceOrientation::LandscapeLeft: angle = -std::numbers::pi / 2; break;
    default: return;
  }
  auto me = selfAs<SXActivityIndicator>();
  auto rotate = [me, angle] { me->setTransform(graphics::AffineTransform::rotation(angle)); };
  if (animated) {
    View::animateWithDuration(0.3, rotate);
  } else {
    rotate();
  }
}

}  // namespace zv
