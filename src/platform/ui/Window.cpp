#include "platform/ui/Window.h"

#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"

namespace zv::ui {

Ref<Window> Window::make(const Rect& frame) {
  auto window = std::make_shared<Window>(frame);
  Application::sharedApplication()->addWindow(window);
  return window;
}

void Window::setRootViewController(const Ref<ViewController>& controller) {
  if (controller == rootViewController_) return;
  auto old = rootViewController_;
  if (old) {
    if (visible_) old->beginAppearanceTransition(false, false);
    if (old->isViewLoaded()) old->view()->removeFromSuperview();
    if (visible_) old->endAppearanceTransition();
  }
  rootViewController_ = controller;
  if (!controller) return;
  auto view = controller->view();
  Rect content = bounds();
  Rect app = Screen::mainScreen()->applicationFrame();
  if (content == Screen::mainScreen()->bounds()) content = app;
  view->setFrame(content);
  if (visible_) controller->beginAppearanceTransition(true, false);
  insertSubviewAtIndex(view, 0);
  if (visible_) controller->endAppearanceTransition();
}

void Window::makeKeyAndVisible() {
  makeKeyWindow();
  if (visible_) return;
  visible_ = true;
  if (rootViewController_) {
    rootViewController_->beginAppearanceTransition(true, false);
    rootViewController_->endAppearanceTransition();
  }
}

void Window::makeKeyWindow() { Application::sharedApplication()->setKeyWindow(selfAs<Window>()); }

bool Window::isKeyWindow() const { return Application::sharedApplication()->keyWindow().get() == this; }

}  // namespace zv::ui
