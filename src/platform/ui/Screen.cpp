#include "platform/ui/Screen.h"

#include "platform/ui/Application.h"

namespace zv::ui {

Ref<Screen> Screen::mainScreen() {
  static Ref<Screen> screen = std::make_shared<Screen>();
  return screen;
}

graphics::Rect Screen::applicationFrame() const {
  graphics::Rect status = Application::sharedApplication()->statusBarFrame();
  return {0, status.height(), bounds_.width(), bounds_.height() - status.height()};
}

}  // namespace zv::ui
