#pragma once
// A stack of screens with a navigation bar on top and an optional toolbar at the bottom. Pushes
// and pops give the screens their appear/disappear calls (when the controller itself shows; a new
// top set while the controller is still coming on screen appears with it); an
// animated push or pop ends on the run loop after kTransitionDuration. Main thread only.

#include <vector>

#include "platform/ui/ViewController.h"

namespace zv::ui {

class NavigationController : public ViewController {
 public:
  static Ref<NavigationController> make(const Ref<ViewController>& root = nullptr);

  const std::vector<Ref<ViewController>>& viewControllers() const { return stack_; }
  void setViewControllers(std::vector<Ref<ViewController>> controllers, bool animated = false);
  // Pushing a screen that is already in a stack raises "NSInvalidArgumentException".
  virtual void pushViewController(const Ref<ViewController>& controller, bool animated);
  // The popped screen; nullptr when only the root is left.
  virtual Ref<ViewController> popViewControllerAnimated(bool animated);
  std::vector<Ref<ViewController>> popToRootViewControllerAnimated(bool animated);
  std::vector<Ref<ViewController>> popToViewController(const Ref<ViewController>& controller, bool animated);
  Ref<ViewController> topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  // The top screen, or the screen it presents.
  Ref<ViewController> visibleViewController() const;

  Ref<NavigationBar> navigationBar();
  bool isNavigationBarHidden() const { return navigationBarHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);
  Ref<Toolbar> toolbar();
  bool isToolbarHidden() const { return toolbarHidden_; }
  void setToolbarHidden(bool hidden, bool animated = false);

  // The back button's tap: pops the top screen, animated.
  void simulateBackTap() { popViewControllerAnimated(true); }

  // The top screen decides.
  bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) override;
  void loadView() override;
  std::vector<Ref<ViewController>> childViewControllersForAppearance() const override;
  std::vector<Ref<ViewController>> childViewControllers() const override { return stack_; }
  // The area left to the top screen's view.
  Rect contentFrame();

 private:
  void transition(const Ref<ViewController>& from, const Ref<ViewController>& to,
                  std::vector<Ref<ViewController>> removed, bool animated);
  void finishPendingTransition();
  void syncBars(bool animated);
  void layoutContent();

  std::vector<Ref<ViewController>> stack_;
  Ref<NavigationBar> navigationBar_;
  Ref<Toolbar> toolbar_;
  bool navigationBarHidden_ = false;
  bool toolbarHidden_ = true;
  std::function<void()> pendingFinish_;
};

}  // namespace zv::ui
