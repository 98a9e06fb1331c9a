#pragma once
// A translucent overlay laid over a view or window while work runs: a dark rounded panel in the
// middle with a spinner, a round progress indicator or the caller's own view, an optional label and
// a smaller details label. It can run a task on a thread of its own and hide when the task ends,
// show only if the work outlasts a grace time, and stay up for a minimum time once shown (measured
// on the monotonic clock). Of show() and hide(), the last call wins: each cancels what the other
// left pending, and the delegate hears hudWasHidden once per hide.
//
// Threads: views on the main thread only; the content setters (mode, texts, progress) may be
// called from any thread and then hop to the main thread without waiting. The task runs on its
// own thread; its end is handled on the main thread. Ownership: the overlay retains its indicator,
// labels, custom view and timers; the delegate is not retained; the task's function is kept until
// the task ends. A running task, and then a pending minimum-time hide, keep the overlay alive until
// it has hidden, even when the view it lies on is released first.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/Protocol.h"
#include "platform/runloop/Timer.h"
#include "platform/ui/Font.h"
#include "platform/ui/Label.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace zv {

enum HUDMode : std::int32_t { HUDModeIndeterminate = 0, HUDModeDeterminate = 1, HUDModeCustomView = 2 };
enum HUDAnimation : std::int32_t { HUDAnimationFade = 0, HUDAnimationZoom = 1 };

inline constexpr const char* kProgressOverlayViewIsNilException = "ProgressOverlayViewIsNillException";

class ProgressOverlayDelegate : public Protocol {
 public:
  virtual void hudWasHidden() = 0;
};

// The round determinate indicator: a faint disc with a white rim, filled clockwise from twelve
// o'clock by the progress.
class RoundProgressView : public ui::ProgressView {
 public:
  // 37 x 37 points.
  static Ref<RoundProgressView> makeWithDefaultSize();
  using ui::ProgressView::ProgressView;
  void drawRect(ui::BitmapContext& context, const ui::Rect& rect) override;
};

class ProgressOverlay : public ui::View {
 public:
  // A new overlay over `view`, added to it and shown.
  static Ref<ProgressOverlay> showHUDAddedTo(const Ref<ui::View>& view, bool animated);
  // Hides (and removes once hidden) the last overlay among the view's subviews; NO when none.
  static bool hideHUDForView(const Ref<ui::View>& view, bool animated);
  // Raises kProgressOverlayViewIsNilException for no view.
  static Ref<ProgressOverlay> makeWithView(const Ref<ui::View>& view);
  static Ref<ProgressOverlay> makeWithWindow(const Ref<ui::Window>& window) { return makeWithView(window); }
  static Ref<ProgressOverlay> makeWithFrame(const ui::Rect& frame);
  explicit ProgressOverlay(const ui::Rect& frame);
  ~ProgressOverlay() override;

  void show(bool animated);
  void hide(bool animated);
  // Runs `task` on a new thread, shows the overlay, and hides it when the task is over.
  void showWhileExecuting(std::function<void()> task, bool animated);

  HUDMode mode() const { return mode_; }
  void setMode(HUDMode mode);
  HUDAnimation animationType() const { return animationType_; }
  void setAnimationType(HUDAnimation type) { animationType_ = type; }
  const std::optional<std::string>& labelText() const { return labelText_; }
  void setLabelText(std::optional<std::string> text);
  const std::optional<std::string>& detailsLabelText() const { return detailsLabelText_; }
  void setDetailsLabelText(std::optional<std::string> text);
  float progress() const { return progress_; }
  void setProgress(float progress);
  const Ref<ui::View>& customView() const { return customView_; }
  void setCustomView(Ref<ui::View> view) { customView_ = std::move(view); }

  float xOffset() const { return xOffset_; }
  void setXOffset(float offset) { xOffset_ = offset; }
  float yOffset() const { return yOffset_; }
  void setYOffset(float offset) { yOffset_ = offset; }
  float margin() const { return margin_; }
  void setMargin(float margin) { margin_ = margin; }
  // The panel's size, computed by layoutSubviews.
  float width() const { return width_; }
  float height() const { return height_; }
  float opacity() const { return opacity_; }
  void setOpacity(float opacity) { opacity_ = opacity; }
  float graceTime() const { return graceTime_; }
  void setGraceTime(float seconds) { graceTime_ = seconds; }
  float minShowTime() const { return minShowTime_; }
  void setMinShowTime(float seconds) { minShowTime_ = seconds; }
  bool taskInProgress() const { return taskInProgress_; }
  void setTaskInProgress(bool running) { taskInProgress_ = running; }
  const Ref<ui::Font>& labelFont() const { return labelFont_; }
  void setLabelFont(Ref<ui::Font> font) { labelFont_ = std::move(font); }
  const Ref<ui::Font>& detailsLabelFont() const { return detailsLabelFont_; }
  void setDetailsLabelFont(Ref<ui::Font> font) { detailsLabelFont_ = std::move(font); }
  bool removeFromSuperViewOnHide() const { return removeFromSuperViewOnHide_; }
  void setRemoveFromSuperViewOnHide(bool remove) { removeFromSuperViewOnHide_ = remove; }
  bool isFinished() const { return isFinished_; }
  std::weak_ptr<ProgressOverlayDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<ProgressOverlayDelegate> delegate) { delegate_ = std::move(delegate); }
  const ui::AffineTransform& rotationTransform() const { return rotationTransform_; }
  const Ref<ui::View>& indicator() const { return indicator_; }
  const Ref<ui::Label>& label() const { return label_; }
  const Ref<ui::Label>& detailsLabel() const { return detailsLabel_; }
  const Ref<Date>& showStarted() const { return showStarted_; }

  void layoutSubviews() override;
  void drawRect(ui::BitmapContext& context, const ui::Rect& rect) override;
  void fillRoundedRect(const ui::Rect& rect, ui::BitmapContext& context);
  void deviceOrientationDidChange();
  void setTransformForCurrentOrientation(bool animated);

 private:
  void updateIndicators();
  void showUsingAnimation(bool animated);
  void hideUsingAnimation(bool animated);
  void done();
  void cancelPending();
  void cleanUpAfterTask();
  // Runs `work` now on the main thread, else queues it there.
  void onMainThread(std::function<void()> work);
  Ref<ProgressOverlay> self() { return std::static_pointer_cast<ProgressOverlay>(shared_from_this()); }

  HUDMode mode_ = HUDModeIndeterminate;
  HUDAnimation animationType_ = HUDAnimationFade;
  std::function<void()> task_;
  bool useAnimation_ = false;
  float yOffset_ = 0, xOffset_ = 0;
  float width_ = 0, height_ = 0;
  float margin_ = 20;
  bool taskInProgress_ = false;
  float graceTime_ = 0, minShowTime_ = 0;
  Ref<Timer> graceTimer_, minShowTimer_;
  Ref<Date> showStarted_;
  std::optional<double> shownSince_;  // monotonic seconds
  std::uint64_t generation_ = 0;      // counts show() and hide() calls
  Ref<ui::View> indicator_;
  Ref<ui::Label> label_, detailsLabel_;
  float progress_ = 0;
  std::weak_ptr<ProgressOverlayDelegate> delegate_;
  std::optional<std::string> labelText_, detailsLabelText_;
  float opacity_ = 0.8f;
  Ref<ui::Font> labelFont_, detailsLabelFont_;
  bool isFinished_ = false;
  bool removeFromSuperViewOnHide_ = false;
  Ref<ui::View> customView_;
  ui::AffineTransform rotationTransform_;
  ObjectPtr orientationObserver_;
};

}  // namespace zv
