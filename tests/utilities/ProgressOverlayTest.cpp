// The progress overlay: layout numbers, drawing rendered to PNG, grace and minimum times on a
// manual clock, the background task and the class helpers.
#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/ViewRenderer.h"
#include "support/TestSupport.h"
#include "utilities/ProgressOverlay.h"

namespace zv {
namespace {

using ui::Rect;

class HiddenCounter : public Object, public ProgressOverlayDelegate {
 public:
  void hudWasHidden() override { ++hidden; }
  int hidden = 0;
};

class ProgressOverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    clock = std::make_shared<ManualClock>(1000.0);
    Clock::install(clock);
    ui::Application::sharedApplication()->reset();
    host = ui::View::make(Rect(0, 0, 320, 480));
    host->setBackgroundColor(ui::Color::whiteColor());
  }
  void TearDown() override {
    advance(2);
    ui::Application::sharedApplication()->reset();
    Clock::install(nullptr);
  }
  void advance(double seconds) {
    const double target = clock->monotonic() + seconds + 1e-7;
    while (clock->monotonic() < target) {
      clock->advance(std::min(0.01, target - clock->monotonic()));
      while (RunLoop::current()->fireDueTimers(kDefaultRunLoopMode) > 0) {
      }
    }
  }
  static graphics::RGBA8 pixel(const Ref<graphics::Image>& image, int x, int y) {
    const std::uint8_t* p = image->bitmap().pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
  }

  std::shared_ptr<ManualClock> clock;
  Ref<ui::View> host;
};

TEST_F(ProgressOverlayTest, PanelFitsTheSpinnerAndTheLabel) {
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  overlay->setLabelText("Loading");
  overlay->layoutIfNeeded();
  auto label = ui::sizeWithFont("Loading", *ui::Font::boldSystemFontOfSize(16));
  EXPECT_FLOAT_EQ(overlay->width(), std::max(37 + 40.0, label.width + 40));
  EXPECT_FLOAT_EQ(overlay->height(), static_cast<float>(37 + 40 + label.height + 4));
  // The spinner moves up by half the label; the label sits 4 points under it.
  Rect spinner = overlay->indicator()->frame();
  EXPECT_DOUBLE_EQ(spinner.x(), std::floor((320 - 37) / 2.0));
  EXPECT_DOUBLE_EQ(spinner.y(), std::floor((480 - 37) / 2.0) - std::floor(label.height / 2 + 2));
  EXPECT_DOUBLE_EQ(overlay->label()->frame().y(), std::floor(spinner.maxY() + 4));
  EXPECT_DOUBLE_EQ(overlay->label()->frame().width(), label.width);
  EXPECT_EQ(overlay->label()->superview().get(), overlay.get());
  EXPECT_DOUBLE_EQ(overlay->alpha(), 1);
}

TEST_F(ProgressOverlayTest, PanelHoldsALongDetailsTextWithItsMargins) {
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  overlay->setLabelText("Wait");
  overlay->setDetailsLabelText("Copying the breathing history");
  overlay->layoutIfNeeded();
  auto details = ui::sizeWithFont("Copying the breathing history", *ui::Font::boldSystemFontOfSize(12));
  ASSERT_LT(details.width, 320 - 40);
  EXPECT_FLOAT_EQ(overlay->width(), static_cast<float>(details.width + 40));
  Rect detailsFrame = overlay->detailsLabel()->frame();
  Rect panel((320 - overlay->width()) / 2, 0, overlay->width(), 0);
  EXPECT_GE(detailsFrame.x(), panel.x() + 20 - 1);
  EXPECT_LE(detailsFrame.maxX(), panel.maxX() - 20 + 1);
  EXPECT_DOUBLE_EQ(detailsFrame.y(), overlay->label()->frame().maxY() + 4);

  // A details text narrower than the spinner's panel but not narrower than it less its margins.
  overlay->setLabelText("a");
  overlay->setDetailsLabelText("Step two");
  overlay->layoutIfNeeded();
  auto middle = ui::sizeWithFont("Step two", *ui::Font::boldSystemFontOfSize(12));
  ASSERT_GT(middle.width, 37);
  ASSERT_LT(middle.width, 77);
  EXPECT_FLOAT_EQ(overlay->width(), static_cast<float>(middle.width + 40));
}

TEST_F(ProgressOverlayTest, LabelsWiderThanTheViewAreCutAndNeverNegative) {
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  std::string wide(200, 'W');
  overlay->setLabelText(wide);
  overlay->layoutIfNeeded();
  EXPECT_DOUBLE_EQ(overlay->label()->frame().width(), 320 - 80);

  auto narrowHost = ui::View::make(Rect(0, 0, 60, 60));
  auto narrow = ProgressOverlay::showHUDAddedTo(narrowHost, false);
  narrow->setLabelText(wide);
  narrow->setDetailsLabelText(wide);
  narrow->layoutIfNeeded();
  EXPECT_DOUBLE_EQ(narrow->label()->frame().width(), 0);
  EXPECT_DOUBLE_EQ(narrow->detailsLabel()->frame().width(), 0);
  EXPECT_GE(narrow->width(), 40);
}

TEST_F(ProgressOverlayTest, RendersARoundedTranslucentPanel) {
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  overlay->setLabelText("Saving");
  overlay->layoutIfNeeded();
  auto path = zv::testing::testOutputDirectory() / "progress-overlay.png";
  ASSERT_EQ(ui::renderViewToPNG(host, path), nullptr);
  auto image = ui::renderView(host);
  ASSERT_TRUE(image);
  const int left = static_cast<int>(std::round((320 - overlay->width()) / 2));
  const int top = static_cast<int>(std::round((480 - overlay->height()) / 2));
  // 80% black over white.
  auto inside = pixel(image, left + 12, top + 30);
  EXPECT_NEAR(inside.r, 51, 3);
  EXPECT_EQ(pixel(image, left - 3, top + 30).r, 255);
  // The corner is rounded: its very corner stays white, ten points in it is dark.
  EXPECT_GT(pixel(image, left + 1, top + 1).r, 200);
  EXPECT_LT(pixel(image, left + 10, top + 2).r, 80);
}

TEST_F(ProgressOverlayTest, RoundIndicatorFillsFromTwelveClockwise) {
  auto round = RoundProgressView::makeWithDefaultSize();
  EXPECT_EQ(round->frame(), Rect(0, 0, 37, 37));
  round->setProgress(0.25);
  auto backdrop = ui::View::make(Rect(0, 0, 37, 37));
  backdrop->setBackgroundColor(graphics::Color::blackColor());
  backdrop->addSubview(round);
  auto image = ui::renderView(backdrop);
  ASSERT_EQ(ui::renderViewToPNG(backdrop, zv::testing::testOutputDirectory() / "round-progress.png"), nullptr);
  EXPECT_GT(pixel(image, 26, 10).r, 240);  // between twelve and three o'clock
  EXPECT_LT(pixel(image, 10, 26).r, 60);   // between six and nine: only the faint disc
  EXPECT_LT(pixel(image, 26, 26).r, 60);
  EXPECT_GT(pixel(image, 18, 1).r, 200);   // the rim
}

TEST_F(ProgressOverlayTest, GraceTimeKeepsAShortTaskInvisible) {
  auto delegate = std::make_shared<HiddenCounter>();
  auto overlay = ProgressOverlay::makeWithView(host);
  host->addSubview(overlay);
  overlay->setDelegate(delegate);
  overlay->setGraceTime(0.5);
  std::mutex mutex;
  std::condition_variable go;
  bool release = false;
  overlay->showWhileExecuting(
      [&] {
        std::unique_lock lock(mutex);
        go.wait(lock, [&] { return release; });
      },
      false);
  EXPECT_TRUE(overlay->taskInProgress());
  advance(0.2);
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  go.notify_all();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !overlay->taskInProgress(); }, 30));
  advance(1);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 0);
  EXPECT_FALSE(overlay->showStarted());
  EXPECT_TRUE(overlay->isFinished());
  EXPECT_EQ(delegate->hidden, 1);
}

TEST_F(ProgressOverlayTest, ATaskEndingAfterItsViewIsReleasedStillHidesAndTellsTheDelegate) {
  for (auto [animated, minShowTime] : {std::pair{false, 0.0f}, {true, 1.0f}}) {
    SCOPED_TRACE(animated ? "animated, minimum time" : "at once");
    auto delegate = std::make_shared<HiddenCounter>();
    std::mutex mutex;
    std::condition_variable go;
    bool release = false;
    std::weak_ptr<ProgressOverlay> weak;
    {
      auto view = ui::View::make(Rect(0, 0, 100, 100));
      auto overlay = ProgressOverlay::showHUDAddedTo(view, animated);
      overlay->setDelegate(delegate);
      overlay->setMinShowTime(minShowTime);
      overlay->showWhileExecuting(
          [&] {
            std::unique_lock lock(mutex);
            go.wait(lock, [&] { return release; });
          },
          animated);
      weak = overlay;
    }
    // Neither the view nor the test holds the overlay any more: the task's thread does.
    EXPECT_FALSE(weak.expired());
    {
      std::lock_guard lock(mutex);
      release = true;
    }
    go.notify_all();
    for (int round = 0; round < 3000 && !weak.expired(); ++round) {
      pumpRunLoopFor(0.01);
      advance(0.05);
    }
    EXPECT_EQ(delegate->hidden, 1);
    EXPECT_TRUE(weak.expired());
  }
}

TEST_F(ProgressOverlayTest, GraceTimeShowsALongTask) {
  auto overlay = ProgressOverlay::makeWithView(host);
  host->addSubview(overlay);
  overlay->setGraceTime(0.5);
  overlay->setTaskInProgress(true);
  overlay->show(false);
  advance(0.4);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 0);
  advance(0.2);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 1);
}

TEST_F(ProgressOverlayTest, MinimumShowTimeDelaysTheHide) {
  auto delegate = std::make_shared<HiddenCounter>();
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  overlay->setDelegate(delegate);
  overlay->setMinShowTime(1.0);
  advance(0.3);
  overlay->hide(false);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 1);
  advance(0.69);
  EXPECT_EQ(delegate->hidden, 0);
  advance(0.02);
  EXPECT_EQ(delegate->hidden, 1);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 0);
}

// Of show() and hide(), the last call wins, whatever the first one left pending; the delegate
// hears "hidden" once for each hide that happened.
TEST_F(ProgressOverlayTest, TheLastOfShowAndHideWins) {
  auto delegate = std::make_shared<HiddenCounter>();
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  overlay->setDelegate(delegate);
  overlay->setMinShowTime(1.0);

  // Shown again for new work while a minimum-time hide waits: it stays.
  advance(0.3);
  overlay->hide(false);
  overlay->show(false);
  advance(2);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 1);
  EXPECT_EQ(delegate->hidden, 0);

  // Shown again while fading out: it stays.
  overlay->hide(true);
  advance(0.1);
  overlay->show(false);
  advance(1);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 1);
  EXPECT_EQ(delegate->hidden, 0);

  // Hidden twice (the second while the first waits): one "hidden".
  overlay->show(false);
  overlay->hide(false);
  overlay->hide(true);
  advance(2);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 0);
  EXPECT_EQ(delegate->hidden, 1);
  overlay->hide(false);
  EXPECT_EQ(delegate->hidden, 1);

  // Hidden during the grace time of a long task: it never appears.
  overlay->setMinShowTime(0);
  overlay->setGraceTime(0.5);
  overlay->setTaskInProgress(true);
  overlay->show(false);
  advance(0.2);
  overlay->hide(false);
  EXPECT_EQ(delegate->hidden, 2);
  advance(1);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 0);
  EXPECT_EQ(delegate->hidden, 2);
}

// The minimum show time is measured on the monotonic clock: the wall clock set back or forward
// while the overlay shows changes nothing.
TEST_F(ProgressOverlayTest, MinimumShowTimeIgnoresWallClockJumps) {
  for (double jump : {-3600.0, 3600.0}) {
    SCOPED_TRACE(jump);
    auto delegate = std::make_shared<HiddenCounter>();
    auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
    overlay->setDelegate(delegate);
    overlay->setMinShowTime(1.0);
    advance(0.3);
    clock->set(clock->now() + jump);
    overlay->hide(false);
    EXPECT_EQ(delegate->hidden, 0);
    advance(0.69);
    EXPECT_EQ(delegate->hidden, 0);
    advance(0.02);
    EXPECT_EQ(delegate->hidden, 1);
  }
}

TEST_F(ProgressOverlayTest, AnimatedZoomHideEndsAfterTheAnimation) {
  auto delegate = std::make_shared<HiddenCounter>();
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  overlay->setDelegate(delegate);
  overlay->setAnimationType(HUDAnimationZoom);
  overlay->hide(true);
  EXPECT_EQ(overlay->transform(), ui::AffineTransform::scale(0.5, 0.5));
  EXPECT_EQ(delegate->hidden, 0);
  advance(0.31);
  EXPECT_EQ(delegate->hidden, 1);
  EXPECT_DOUBLE_EQ(overlay->alpha(), 0);
}

TEST_F(ProgressOverlayTest, ClassHelpersFindAndRemoveTheLastOverlay) {
  EXPECT_FALSE(ProgressOverlay::hideHUDForView(host, false));
  auto first = ProgressOverlay::showHUDAddedTo(host, false);
  auto second = ProgressOverlay::showHUDAddedTo(host, false);
  EXPECT_TRUE(ProgressOverlay::hideHUDForView(host, false));
  EXPECT_EQ(second->superview(), nullptr);
  EXPECT_EQ(first->superview(), host);
  try {
    ProgressOverlay::makeWithView(nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& exception) {
    EXPECT_EQ(exception.name(), kProgressOverlayViewIsNilException);
    EXPECT_EQ(exception.reason(), "The view used in the ProgressOverlay initializer is nil.");
  }
}

TEST_F(ProgressOverlayTest, ModesChooseTheIndicator) {
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  EXPECT_TRUE(std::dynamic_pointer_cast<ui::ActivityIndicatorView>(overlay->indicator()));
  overlay->setMode(HUDModeCustomView);  // no custom view: the spinner
  EXPECT_TRUE(std::dynamic_pointer_cast<ui::ActivityIndicatorView>(overlay->indicator()));
  overlay->setMode(HUDModeDeterminate);
  auto round = std::dynamic_pointer_cast<RoundProgressView>(overlay->indicator());
  ASSERT_TRUE(round);
  overlay->setProgress(0.4f);
  EXPECT_DOUBLE_EQ(round->progress(), 0.4f);
  auto custom = ui::View::make(Rect(0, 0, 50, 20));
  overlay->setCustomView(custom);
  overlay->setMode(HUDModeCustomView);
  EXPECT_EQ(overlay->indicator(), custom);
  overlay->layoutIfNeeded();
  EXPECT_FLOAT_EQ(overlay->width(), 90);
}

TEST_F(ProgressOverlayTest, SettersFromAnotherThreadApplyOnTheMainThread) {
  auto overlay = ProgressOverlay::showHUDAddedTo(host, false);
  std::thread([overlay] {
    overlay->setLabelText("From a worker");
    overlay->setMode(HUDModeDeterminate);
  }).join();
  EXPECT_FALSE(overlay->labelText());  // not yet: queued for the main thread
  ASSERT_TRUE(pumpRunLoopUntil([&] { return overlay->labelText().has_value() && overlay->mode() == HUDModeDeterminate; }, 30));
  EXPECT_EQ(overlay->labelText(), "From a worker");
}

TEST_F(ProgressOverlayTest, AWindowOverlayFollowsTheOrientation) {
  constexpr double kPi = 3.14159265358979323846;
  auto window = ui::Window::make(Rect(0, 0, 320, 480));
  ui::Application::sharedApplication()->setStatusBarOrientation(ui::InterfaceOrientation::LandscapeRight);
  auto overlay = ProgressOverlay::makeWithWindow(window);
  EXPECT_EQ(overlay->rotationTransform(), ui::AffineTransform::rotation(kPi / 2));

  // A turn of the device: the overlay on the window turns with the status bar (animated) and takes
  // the window's bounds; one on a plain view only takes its bounds; one on nothing stays as it is.
  window->addSubview(overlay);
  auto onView = ProgressOverlay::showHUDAddedTo(host, false);
  auto alone = ProgressOverlay::makeWithView(host);
  auto device = ui::Device::currentDevice();
  device->beginGeneratingDeviceOrientationNotifications();
  ui::Application::sharedApplication()->setStatusBarOrientation(ui::InterfaceOrientation::LandscapeLeft);
  window->setFrame(Rect(0, 0, 480, 320));
  host->setFrame(Rect(0, 0, 300, 200));
  device->simulateOrientation(ui::DeviceOrientation::LandscapeRight);
  device->endGeneratingDeviceOrientationNotifications();
  EXPECT_EQ(overlay->rotationTransform(), ui::AffineTransform::rotation(-kPi / 2));
  advance(0.31);
  EXPECT_EQ(overlay->transform(), ui::AffineTransform::rotation(-kPi / 2));
  EXPECT_EQ(overlay->bounds().width(), 480);
  EXPECT_EQ(overlay->bounds().height(), 320);
  EXPECT_EQ(onView->frame(), host->bounds());
  EXPECT_EQ(onView->rotationTransform(), ui::AffineTransform());
  EXPECT_EQ(onView->transform(), ui::AffineTransform());
  EXPECT_EQ(alone->frame(), Rect(0, 0, 320, 480));
  device->reset();
}

}  // namespace
}  // namespace zv
