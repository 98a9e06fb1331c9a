#include "platform/ui/Keyboard.h"

#include "platform/foundation/Values.h"
#include "platform/graphics/GeometryValue.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/Screen.h"

namespace zv::ui {

namespace {
bool visible = false;

void post(const char* name, const graphics::Rect& begin, const graphics::Rect& end) {
  auto info = Dictionary::make({{kKeyboardFrameBeginUserInfoKey, graphics::RectValue::make(begin)},
                                {kKeyboardFrameEndUserInfoKey, graphics::RectValue::make(end)},
                                {kKeyboardAnimationDurationUserInfoKey, box(0.25)}});
  NotificationCenter::defaultCenter()->postNotificationName(name, nullptr, info);
}

graphics::Rect offScreen() {
  auto frame = keyboardFrame();
  auto screen = Screen::mainScreen()->bounds();
  if (frame.width() < screen.width()) return frame.offsetBy(frame.width(), 0);
  return frame.offsetBy(0, frame.height());
}
}  // namespace

graphics::Rect keyboardFrame() {
  auto screen = Screen::mainScreen()->bounds();
  auto orientation = Application::sharedApplication()->statusBarOrientation();
  if (isLandscape(orientation)) return {screen.width() - 162, 0, 162, screen.height()};
  return {0, screen.height() - 216, screen.width(), 216};
}

bool isKeyboardVisible() { return visible; }

void textInputDidBeginEditing() {
  if (visible) return;
  visible = true;
  post(kKeyboardWillShowNotification, offScreen(), keyboardFrame());
  post(kKeyboardDidShowNotification, offScreen(), keyboardFrame());
}

void textInputDidEndEditing() {
  // Another text input taking over keeps the keyboard up; it is checked once the switch is over.
  scheduleAfter(0, [] {
    if (!visible || Responder::currentFirstResponder()) return;
    visible = false;
    post(kKeyboardWillHideNotification, keyboardFrame(), offScreen());
    post(kKeyboardDidHideNotification, keyboardFrame(), offScreen());
  });
}

}  // namespace zv::ui
