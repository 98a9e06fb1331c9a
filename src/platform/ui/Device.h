#pragma once
// The device: its orientation (with the change notification, while notifications are generated),
// interface idiom, system version and model (from the application environment). Tests turn the
// device with `simulateOrientation`. Main thread only.

#include <optional>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/ui/Types.h"

namespace zv::ui {

inline constexpr const char* kDeviceOrientationDidChangeNotification = "DeviceOrientationDidChangeNotification";

class Device : public Object {
 public:
  static Ref<Device> currentDevice();

  DeviceOrientation orientation() const { return orientation_; }
  // Turns the device: the orientation changes, and the change is posted while orientation
  // notifications are generated. The interface follows a turn to portrait, upside down or
  // landscape when the screen on top of the key window allows it
  // (shouldAutorotateToInterfaceOrientation): that screen hears willRotate..., the status bar
  // turns, then didRotate.... Without a key window the status bar simply turns.
  void simulateOrientation(DeviceOrientation orientation);
  bool isGeneratingDeviceOrientationNotifications() const { return generating_ > 0; }
  void beginGeneratingDeviceOrientationNotifications() { ++generating_; }
  void endGeneratingDeviceOrientationNotifications();

  UserInterfaceIdiom userInterfaceIdiom() const;
  std::string systemVersion() const;
  std::string model() const;
  std::string name() const { return "Device"; }

  // Back to portrait without notifications (tests).
  void reset();

 private:
  DeviceOrientation orientation_ = DeviceOrientation::Portrait;
  int generating_ = 0;
};

}  // namespace zv::ui
