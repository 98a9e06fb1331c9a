#include "platform/ui/TabBarController.h"

#include <algorithm>

#include "platform/ui/ContainerView.h"
#include "platform/ui/Screen.h"

namespace zv::ui {

Ref<TabBarController> TabBarController::make(std::vector<Ref<ViewController>> controllers) {
  auto tabs = std::make_shared<TabBarController>();
  tabs->setViewControllers(std::move(controllers));
  return tabs;
}

Ref<TabBar> TabBarController::tabBar() {
  if (!tabBar_) {
    tabBar_ = TabBar::make(Rect(0, 0, Screen::mainScreen()->bounds().width(), 49));
    tabBar_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleTopMargin);
  }
  return tabBar_;
}

void TabBarController::loadView() {
  auto view = std::make_shared<ContainerView>(Screen::mainScreen()->applicationFrame());
  view->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  std::weak_ptr<TabBarController> weak = selfAs<TabBarController>();
  view->setLayoutHandler([weak] {
    if (auto self = weak.lock()) self->layoutContent();
  });
  setView(view);
  view->addSubview(tabBar());
  if (auto selected = selectedViewController()) view->insertSubviewAtIndex(selected->view(), 0);
  layoutContent();
}

void TabBarController::layoutContent() {
  if (!isViewLoaded()) return;
  Rect b = view()->bounds();
  double barHeight = tabBar()->frame().height();
  tabBar()->setFrame(Rect(0, b.height() - barHeight, b.width(), barHeight));
  if (auto selected = selectedViewController())
    selected->view()->setFrame(Rect(0, 0, b.width(), std::max(0.0, b.height() - barHeight)));
}

bool TabBarController::shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) {
  auto selected = selectedViewController();
  return selected ? selected->shouldAutorotateToInterfaceOrientation(orientation)
                  : ViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

Ref<ViewController> TabBarController::selectedViewController() const {
  return selectedIndex_ < controllers_.size() ? controllers_[selectedIndex_] : nullptr;
}

std::vector<Ref<ViewController>> TabBarController::childViewControllersForAppearance() const {
  if (auto selected = selectedViewController()) return {selected};
  return {};
}

void TabBarController::setViewControllers(std::vector<Ref<ViewController>> controllers, bool) {
  auto from = selectedViewController();
  for (const auto& c : controllers_) c->setParentViewController(nullptr);
  controllers_ = std::move(controllers);
  std::vector<Ref<TabBarItem>> items;
  for (const auto& c : controllers_) {
    c->setParentViewController(selfAs<ViewController>());
    items.push_back(c->tabBarItem());
  }
  tabBar()->setItems(items);
  if (selectedIndex_ >= controllers_.size()) selectedIndex_ = 0;
  show(from, selectedViewController());
}

void TabBarController::setSelectedIndex(std::size_t index) {
  if (index >= controllers_.size()) return;
  auto from = selectedViewController();
  selectedIndex_ = index;
  show(from, selectedViewController());
}

void TabBarController::setSelectedViewController(const Ref<ViewController>& controller) {
  auto it = std::find(controllers_.begin(), controllers_.end(), controller);
  if (it != controllers_.end()) setSelectedIndex(static_cast<std::size_t>(it - controllers_.begin()));
}

void TabBarController::show(const Ref<ViewController>& from, const Ref<ViewController>& to) {
  if (to) tabBar()->setSelectedItem(to->tabBarItem());
  if (from == to) return;
  bool visible = isVisible();
  if (visible && from) from->beginAppearanceTransition(false, false);
  if (visible && to) to->beginAppearanceTransition(true, false);
  if (isViewLoaded()) {
    if (from && from->isViewLoaded()) from->view()->removeFromSuperview();
    if (to) view()->insertSubviewAtIndex(to->view(), 0);
    layoutContent();
  }
  if (visible && from) from->endAppearanceTransition();
  if (visible && to) to->endAppearanceTransition();
}

void TabBarController::simulateTabTap(std::size_t index) {
  if (index >= controllers_.size()) return;
  auto target = controllers_[index];
  auto delegate = delegate_.lock();
  if (delegate && !delegate->tabBarControllerShouldSelectViewController(*this, target)) return;
  setSelectedIndex(index);
  if (delegate) delegate->tabBarControllerDidSelectViewController(*this, target);
}

}  // namespace zv::ui
