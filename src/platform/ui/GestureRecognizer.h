#pragma once
// Gesture recognizers attached to views. Only taps exist headless: a test (or a screen's own
// simulation) reports a tap with `recognizeTap`, which runs the actions with the state Ended. Main thread only, as views are.

#include <functional>
#include <vector>

#include "platform/graphics/Geometry.h"
#include "platform/ui/Types.h"

#include "platform/foundation/Object.h"

namespace zv::ui {

class View;

class GestureRecognizer : public Object {
 public:
  using Action = std::function<void(GestureRecognizer& recognizer)>;

  explicit GestureRecognizer(Action action = nullptr);
  void addAction(Action action);

  Ref<View> view() const { return view_.lock(); }
  void setView(const Ref<View>& view) { view_ = view; }
  GestureRecognizerState state() const { return state_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  // Whether touches recognised as the gesture are withheld from the view (default YES).
  bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
  void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }
  // Where the gesture happened, in `view`'s coordinates (nullptr: the recognizer's view).
  graphics::Point locationInView(const View* view) const;

 protected:
  // Runs the actions with the given state at `location` (in the recognizer's view).
  void recognize(graphics::Point location);

 private:
  std::weak_ptr<View> view_;
  std::vector<Action> actions_;
  GestureRecognizerState state_ = GestureRecognizerState::Possible;
  bool enabled_ = true;
  bool cancelsTouchesInView_ = true;
  graphics::Point location_;
};

class TapGestureRecognizer : public GestureRecognizer {
 public:
  static Ref<TapGestureRecognizer> make(Action action) { return std::make_shared<TapGestureRecognizer>(std::move(action)); }
  using GestureRecognizer::GestureRecognizer;

  int numberOfTapsRequired() const { return taps_; }
  void setNumberOfTapsRequired(int taps) { taps_ = taps; }
  // A tap at `location` in the recognizer's view; nothing when disabled or not attached.
  void recognizeTap(graphics::Point location = {});

 private:
  int taps_ = 1;
};

}  // namespace zv::ui
