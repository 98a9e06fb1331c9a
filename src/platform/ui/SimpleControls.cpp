#include "platform/ui/SimpleControls.h"
#include "platform/ui/Application.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zv::ui {

Ref<Switch> Switch::make(const Rect& frame) { return std::make_shared<Switch>(frame); }

Switch::Switch(const Rect& frame) : Control(Rect(frame.x(), frame.y(), 79, 27)) {}

void Switch::setOn(bool on, bool) {
  on_ = on;
  setNeedsDisplay();
}

void Switch::simulateToggle() {
  if (!isEnabled() || !isUserInteractionEnabled() || Application::sharedApplication()->isIgnoringInteractionEvents()) return;
  setOn(!on_, true);
  sendActionsForControlEvents(ControlEventValueChanged);
}

void Switch::drawRect(BitmapContext& context, const Rect&) {
  Rect track(0.5, 0.5, 78, 26);
  context.setFillColor(on_ ? *Color::make(0.2, 0.45, 0.9) : *Color::white(0.93));
  context.setStrokeColor(0.5, 0.5, 0.5);
  context.setLineWidth(1);
  context.beginPath();
  context.addRoundedRect(track, 5);
  context.drawPath(graphics::PathDrawingMode::FillStroke);
  context.setFillColor(0.97, 0.97, 0.97);
  Rect knob = on_ ? Rect(40, 1, 38, 25) : Rect(1, 1, 38, 25);
  context.beginPath();
  context.addRoundedRect(knob, 5);
  context.drawPath(graphics::PathDrawingMode::FillStroke);
  context.drawText(on_ ? "ON" : "OFF", {on_ ? 8.0 : 46.0, 18}, 12, true, on_ ? *Color::whiteColor() : *Color::grayColor());
}

void Slider::drawRect(BitmapContext& context, const Rect&) {
  double w = bounds().width(), h = bounds().height();
  double fraction = maximum_ > minimum_ ? (value_ - minimum_) / (maximum_ - minimum_) : 0;
  double x = 11 + fraction * std::max(0.0, w - 22);
  context.setFillColor(0.2, 0.45, 0.9);
  context.beginPath();
  context.addRoundedRect(Rect(2, h / 2 - 4.5, x - 2, 9), 4.5);
  context.fillPath();
  context.setFillColor(0.85, 0.85, 0.85);
  context.beginPath();
  context.addRoundedRect(Rect(x, h / 2 - 4.5, std::max(0.0, w - 2 - x), 9), 4.5);
  context.fillPath();
  context.setFillColor(0.98, 0.98, 0.98);
  context.setStrokeColor(0.6, 0.6, 0.6);
  context.setLineWidth(1);
  context.beginPath();
  context.addEllipseInRect(Rect(x - 11, h / 2 - 11, 22, 22));
  context.drawPath(graphics::PathDrawingMode::FillStroke);
}

Ref<Slider> Slider::make(const Rect& frame) { return std::make_shared<Slider>(frame); }

void Slider::setValue(double value, bool) {
  value_ = std::isnan(value) ? minimum_ : std::clamp(value, minimum_, std::max(minimum_, maximum_));
  setNeedsDisplay();
}

void Slider::setMinimumValue(double value) {
  minimum_ = value;
  setValue(value_);
}

void Slider::setMaximumValue(double value) {
  maximum_ = value;
  setValue(value_);
}

void Slider::simulateSlide(double value) {
  if (!isEnabled() || !isUserInteractionEnabled() || Application::sharedApplication()->isIgnoringInteractionEvents()) return;
  setValue(value, false);
  sendActionsForControlEvents(ControlEventValueChanged);
}

Ref<SegmentedControl> SegmentedControl::make(std::vector<std::string> titles) {
  auto control = std::make_shared<SegmentedControl>(Rect(0, 0, 80.0 * std::max<std::size_t>(1, titles.size()), 44));
  control->titles_ = std::move(titles);
  return control;
}

void SegmentedControl::insertSegmentWithTitle(std::string title, std::size_t index, bool) {
  index = std::min(index, titles_.size());
  titles_.insert(titles_.begin() + static_cast<std::ptrdiff_t>(index), std::move(title));
  if (selected_ >= static_cast<int>(index)) ++selected_;
}

void SegmentedControl::removeAllSegments() {
  titles_.clear();
  selected_ = kSegmentedControlNoSegment;
}

std::optional<std::string> SegmentedControl::titleForSegmentAtIndex(std::size_t index) const {
  if (index >= titles_.size()) return std::nullopt;
  return titles_[index];
}

void SegmentedControl::setTitle(std::string title, std::size_t index) {
  if (index < titles_.size()) titles_[index] = std::move(title);
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
  selected_ = index >= 0 && static_cast<std::size_t>(index) < titles_.size() ? index : kSegmentedControlNoSegment;
}

void SegmentedControl::simulateTapSegment(std::size_t index) {
  if (!isEnabled() || index >= titles_.size() || Application::sharedApplication()->isIgnoringInteractionEvents()) return;
  int old = selected_;
  selected_ = static_cast<int>(index);
  if (old != selected_ || momentary_) sendActionsForControlEvents(ControlEventValueChanged);
  if (momentary_) selected_ = kSegmentedControlNoSegment;
}

Ref<ActivityIndicatorView> ActivityIndicatorView::make(ActivityIndicatorViewStyle style) {
  return std::make_shared<ActivityIndicatorView>(style);
}

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorViewStyle style) : style_(style) {
  double side = style == ActivityIndicatorViewStyle::WhiteLarge ? 37 : 20;
  setFrame(Rect(0, 0, side, side));
  setHidden(true);
  setUserInteractionEnabled(false);
}

void ActivityIndicatorView::startAnimating() {
  animating_ = true;
  setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
  animating_ = false;
  if (hidesWhenStopped_) setHidden(true);
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
  hidesWhenStopped_ = hides;
  if (!animating_) setHidden(hides);
}

Size ActivityIndicatorView::sizeThatFits(Size) const {
  double side = style_ == ActivityIndicatorViewStyle::WhiteLarge ? 37 : 20;
  return {side, side};
}

void ActivityIndicatorView::drawRect(BitmapContext& context, const Rect&) {
  Ref<Color> color = color_ ? color_ : style_ == ActivityIndicatorViewStyle::Gray ? Color::grayColor() : Color::whiteColor();
  double r = std::min(bounds().width(), bounds().height()) / 2;
  context.setStrokeColor(*color);
  context.setLineWidth(std::max(1.0, r / 5));
  context.setLineCap(graphics::LineCap::Round);
  std::vector<Point> spokes;
  for (int i = 0; i < 12; ++i) {
    double a = i * std::numbers::pi / 6;
    spokes.push_back({r + std::cos(a) * r * 0.5, r + std::sin(a) * r * 0.5});
    spokes.push_back({r + std::cos(a) * r * 0.9, r + std::sin(a) * r * 0.9});
  }
  context.strokeLineSegments(spokes);
}

Ref<ProgressView> ProgressView::make(ProgressViewStyle style) { return std::make_shared<ProgressView>(style); }

ProgressView::ProgressView(ProgressViewStyle style) : View(Rect(0, 0, 150, 9)), style_(style) {}

void ProgressView::setProgress(double progress, bool) {
  progress_ = std::isnan(progress) ? 0 : std::clamp(progress, 0.0, 1.0);
  setNeedsDisplay();
}

void ProgressView::drawRect(BitmapContext& context, const Rect&) {
  context.setFillColor(0.8, 0.8, 0.8);
  context.fillRect(Rect({0, 0}, bounds().size));
  context.setFillColor(0.2, 0.4, 0.9);
  context.fillRect(Rect(0, 0, bounds().width() * progress_, bounds().height()));
}

}  // namespace zv::ui
