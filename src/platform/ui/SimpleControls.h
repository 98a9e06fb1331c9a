#pragma once
// The small controls: switch, slider, segmented control, activity indicator and progress view.
// Each has a `simulate...` call for a user's touch, which sends the events the platform sends.
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/Image.h"
#include "platform/ui/Control.h"

namespace zv::ui {

// An on/off switch, 79 × 27 points.
class Switch : public Control {
 public:
  static Ref<Switch> make(const Rect& frame = {0, 0, 79, 27});
  explicit Switch(const Rect& frame = {0, 0, 79, 27});
  bool isOn() const { return on_; }
  void setOn(bool on, bool animated = false);
  // A user's flip: toggles and sends value-changed.
  void simulateToggle();
  Size sizeThatFits(Size) const override { return {79, 27}; }
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  bool on_ = false;
};

class Slider : public Control {
 public:
  static Ref<Slider> make(const Rect& frame = {});
  using Control::Control;
  double value() const { return value_; }
  // Clamped to [minimumValue, maximumValue].
  void setValue(double value, bool animated = false);
  double minimumValue() const { return minimum_; }
  void setMinimumValue(double value);
  double maximumValue() const { return maximum_; }
  void setMaximumValue(double value);
  // Whether value-changed is sent while the finger moves (YES) or once when it lifts.
  bool isContinuous() const { return continuous_; }
  void setContinuous(bool continuous) { continuous_ = continuous; }
  const Ref<graphics::Image>& minimumValueImage() const { return minimumImage_; }
  void setMinimumValueImage(Ref<graphics::Image> image) { minimumImage_ = std::move(image); }
  const Ref<graphics::Image>& maximumValueImage() const { return maximumImage_; }
  void setMaximumValueImage(Ref<graphics::Image> image) { maximumImage_ = std::move(image); }
  // A user's slide to `value`: one value-changed when the finger lifts.
  void simulateSlide(double value);
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  double value_ = 0;
  double minimum_ = 0;
  double maximum_ = 1;
  bool continuous_ = true;
  Ref<graphics::Image> minimumImage_;
  Ref<graphics::Image> maximumImage_;
};

inline constexpr int kSegmentedControlNoSegment = -1;

class SegmentedControl : public Control {
 public:
  static Ref<SegmentedControl> make(std::vector<std::string> titles = {});
  using Control::Control;
  std::size_t numberOfSegments() const { return titles_.size(); }
  void insertSegmentWithTitle(std::string title, std::size_t index, bool animated = false);
  void removeAllSegments();
  std::optional<std::string> titleForSegmentAtIndex(std::size_t index) const;
  void setTitle(std::string title, std::size_t index);
  int selectedSegmentIndex() const { return selected_; }
  void setSelectedSegmentIndex(int index);
  bool isMomentary() const { return momentary_; }
  void setMomentary(bool momentary) { momentary_ = momentary; }
  // A user's tap on a segment: selects it and sends value-changed.
  void simulateTapSegment(std::size_t index);

 private:
  std::vector<std::string> titles_;
  int selected_ = kSegmentedControlNoSegment;
  bool momentary_ = false;
};

class ActivityIndicatorView : public View {
 public:
  static Ref<ActivityIndicatorView> make(ActivityIndicatorViewStyle style);
  explicit ActivityIndicatorView(ActivityIndicatorViewStyle style);
  ActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
  void setActivityIndicatorViewStyle(ActivityIndicatorViewStyle style) { style_ = style; }
  const Ref<Color>& color() const { return color_; }
  void setColor(Ref<Color> color) { color_ = std::move(color); }
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }
  // Hidden while stopped (default YES).
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool hides);
  Size sizeThatFits(Size) const override;
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  ActivityIndicatorViewStyle style_;
  Ref<Color> color_;
  bool animating_ = false;
  bool hidesWhenStopped_ = true;
};

class ProgressView : public View {
 public:
  static Ref<ProgressView> make(ProgressViewStyle style = ProgressViewStyle::Default);
  explicit ProgressView(ProgressViewStyle style = ProgressViewStyle::Default);
  ProgressViewStyle progressViewStyle() const { return style_; }
  double progress() const { return progress_; }
  // Clamped to 0...1.
  virtual void setProgress(double progress, bool animated = false);
  void drawRect(BitmapContext& context, const Rect& rect) override;

 private:
  ProgressViewStyle style_;
  double progress_ = 0;
};

}  // namespace zv::ui
