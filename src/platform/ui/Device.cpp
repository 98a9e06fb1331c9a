#include "platform/ui/Device.h"

#include "platform/system/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace zv::ui {

Ref<Device> Device::currentDevice() {
  static Ref<Device> device = std::make_shared<Device>();
  return device;
}

namespace {
std::optional<InterfaceOrientation> interfaceOrientationFor(DeviceOrientation orientation) {
  switch (orientation) {
    case DeviceOrientation::Portrait:
      return InterfaceOrientation::Portrait;
    case DeviceOrientation::PortraitUpsideDown:
      return InterfaceOrientation::PortraitUpsideDown;
    // The device turned left puts the home button on the right.
    case DeviceOrientation::LandscapeLeft:
      return InterfaceOrientation::LandscapeRight;
    case DeviceOrientation::LandscapeRight:
      return InterfaceOrientation::LandscapeLeft;
    default:
      return std::nullopt;
  }
}

// The screen that decides: the last one presented over the key window's root.
Ref<ViewController> topScreen() {
  auto window = Application::sharedApplication()->keyWindow();
  auto screen = window ? window->rootViewController() : nullptr;
  while (screen && screen->presentedViewController()) screen = screen->presentedViewController();
  return screen;
}
}  // namespace

void Device::simulateOrientation(DeviceOrientation orientation) {
  orientation_ = orientation;
  if (auto target = interfaceOrientationFor(orientation)) {
    auto app = Application::sharedApplication();
    auto from = app->statusBarOrientation();
    auto screen = topScreen();
    if (*target != from && (!screen || screen->shouldAutorotateToInterfaceOrientation(*target))) {
      double duration = app->statusBarOrientationAnimationDuration();
      if (screen) screen->willRotateToInterfaceOrientation(*target, duration);
      app->setStatusBarOrientation(*target);
      if (screen) screen->didRotateFromInterfaceOrientation(from);
    }
  }
  if (isGeneratingDeviceOrientationNotifications())
    NotificationCenter::defaultCenter()->postNotificationName(kDeviceOrientationDidChangeNotification, self());
}

void Device::endGeneratingDeviceOrientationNotifications() {
  if (generating_ > 0) --generating_;
}

UserInterfaceIdiom Device::userInterfaceIdiom() const { return ApplicationEnvironment::shared().userInterfaceIdiom(); }
std::string Device::systemVersion() const { return ApplicationEnvironment::shared().systemVersion(); }
std::string Device::model() const { return ApplicationEnvironment::shared().deviceModel(); }

void Device::reset() {
  orientation_ = DeviceOrientation::Portrait;
  generating_ = 0;
}

}  // namespace zv::ui
