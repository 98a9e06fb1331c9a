#pragma once
// A window: the root of a view tree, holding the root view controller's view and the views of
// screens presented over it. The application's key window receives presentations and alerts.
// Main thread only.

#include "platform/ui/View.h"

namespace zv::ui {

class ViewController;

inline constexpr double kWindowLevelNormal = 0;
inline constexpr double kWindowLevelStatusBar = 1000;
inline constexpr double kWindowLevelAlert = 2000;

class Window : public View {
 public:
  static Ref<Window> make(const Rect& frame);
  using View::View;

  Ref<ViewController> rootViewController() const { return rootViewController_; }
  // Installs the controller's view as the window's content (sized to the window's bounds less the
  // status bar); the controller appears when the window is visible.
  void setRootViewController(const Ref<ViewController>& controller);

  // Makes this the application's key window and shows it; the root controller appears.
  void makeKeyAndVisible();
  void makeKeyWindow();
  bool isKeyWindow() const;
  bool isVisible() const { return visible_; }
  double windowLevel() const { return windowLevel_; }
  void setWindowLevel(double level) { windowLevel_ = level; }

 private:
  Ref<ViewController> rootViewController_;
  bool visible_ = false;
  double windowLevel_ = kWindowLevelNormal;
};

}  // namespace zv::ui
