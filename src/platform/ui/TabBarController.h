#pragma once
// Screens side by side, one shown at a time, chosen by the tab bar at the bottom. Selecting a tab
// gives the old and the new screen their disappear/appear calls (when the controller shows).
// Main thread only.

#include <vector>

#include "platform/foundation/Protocol.h"
#include "platform/ui/ViewController.h"

namespace zv::ui {

class TabBarController;

class TabBarControllerDelegate : public Protocol {
 public:
  virtual bool tabBarControllerShouldSelectViewController(TabBarController&, const Ref<ViewController>&) {
    return true;
  }
  virtual void tabBarControllerDidSelectViewController(TabBarController&, const Ref<ViewController>&) {}
};

class TabBarController : public ViewController {
 public:
  static Ref<TabBarController> make(std::vector<Ref<ViewController>> controllers = {});

  const std::vector<Ref<ViewController>>& viewControllers() const { return controllers_; }
  void setViewControllers(std::vector<Ref<ViewController>> controllers, bool animated = false);
  std::size_t selectedIndex() const { return selectedIndex_; }
  void setSelectedIndex(std::size_t index);
  Ref<ViewController> selectedViewController() const;
  void setSelectedViewController(const Ref<ViewController>& controller);
  Ref<TabBar> tabBar();
  std::weak_ptr<TabBarControllerDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<TabBarControllerDelegate> delegate) { delegate_ = std::move(delegate); }
  // A user's tap on a tab: asks the delegate, selects, tells the delegate.
  void simulateTabTap(std::size_t index);

  // The selected screen decides.
  bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) override;
  void loadView() override;
  std::vector<Ref<ViewController>> childViewControllersForAppearance() const override;
  std::vector<Ref<ViewController>> childViewControllers() const override { return controllers_; }

 private:
  void layoutContent();
  void show(const Ref<ViewController>& from, const Ref<ViewController>& to);

  std::vector<Ref<ViewController>> controllers_;
  std::size_t selectedIndex_ = 0;
  Ref<TabBar> tabBar_;
  std::weak_ptr<TabBarControllerDelegate> delegate_;
};

}  // namespace zv::ui
