#include "platform/ui/Device.h"

#include "platform/system/NotificationCenter.h"
#include "platform/ui/Application.h"

namespace zv::ui {

Ref<Device> Device::currentDevice() {
  static Ref<Device> device = std::make_shared<Device>();
  return device;
}

void Device::simulateOrientation(DeviceOrientation orientation, bool alsoStatusBar) {
  orientation_ = orientation;
  if (alsoStatusBar) {
    auto app = Application::sharedApplication();
    switch (orientation) {
      case DeviceOrientation::Portrait:
        app->setStatusBarOrientation(InterfaceOrientation::Portrait);
        break;
      case DeviceOrientation::PortraitUpsideDown:
        app->setStatusBarOrientation(InterfaceOrientation::PortraitUpsideDown);
        break;
      // The device turned left puts the home button on the right.
      case DeviceOrientation::LandscapeLeft:
        app->setStatusBarOrientation(InterfaceOrientation::LandscapeRight);
        break;
      case DeviceOrientation::LandscapeRight:
        app->setStatusBarOrientation(InterfaceOrientation::LandscapeLeft);
        break;
      default:
        break;
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
