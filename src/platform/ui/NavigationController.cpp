#include "platform/ui/NavigationController.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/ui/ContainerView.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/Screen.h"

namespace zv::ui {

Ref<NavigationController> NavigationController::make(const Ref<ViewController>& root) {
  auto nav = std::make_shared<NavigationController>();
  if (root) nav->pushViewController(root, false);
  return nav;
}

Ref<NavigationBar> NavigationController::navigationBar() {
  if (!navigationBar_) {
    navigationBar_ = NavigationBar::make(Rect(0, 0, Screen::mainScreen()->bounds().width(), 44));
    navigationBar_->setAutoresizingMask(ViewAutoresizingFlexibleWidth);
    navigationBar_->setHidden(navigationBarHidden_);
  }
  return navigationBar_;
}

Ref<Toolbar> NavigationController::toolbar() {
  if (!toolbar_) {
    toolbar_ = Toolbar::make(Rect(0, 0, Screen::mainScreen()->bounds().width(), 44));
    toolbar_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleTopMargin);
    toolbar_->setHidden(toolbarHidden_);
  }
  return toolbar_;
}

void NavigationController::loadView() {
  auto view = std::make_shared<ContainerView>(Screen::mainScreen()->applicationFrame());
  view->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  std::weak_ptr<NavigationController> weak = selfAs<NavigationController>();
  view->setLayoutHandler([weak] {
    if (auto self = weak.lock()) self->layoutContent();
  });
  setView(view);
  view->addSubview(navigationBar());
  view->addSubview(toolbar());
  if (auto top = topViewController()) view->insertSubviewAtIndex(top->view(), 0);
  layoutContent();
}

Rect NavigationController::contentFrame() {
  Rect b = view()->bounds();
  double top = navigationBarHidden_ ? 0 : navigationBar()->frame().height();
  double bottom = toolbarHidden_ ? 0 : toolbar()->frame().height();
  return {0, top, b.width(), std::max(0.0, b.height() - top - bottom)};
}

void NavigationController::layoutContent() {
  if (!isViewLoaded()) return;
  Rect b = view()->bounds();
  navigationBar()->setFrame(Rect(0, 0, b.width(), navigationBar()->frame().height()));
  toolbar()->setFrame(Rect(0, b.height() - toolbar()->frame().height(), b.width(), toolbar()->frame().height()));
  if (auto top = topViewController()) top->view()->setFrame(contentFrame());
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
  navigationBarHidden_ = hidden;
  navigationBar()->setHidden(hidden);
  layoutContent();
}

void NavigationController::setToolbarHidden(bool hidden, bool) {
  toolbarHidden_ = hidden;
  toolbar()->setHidden(hidden);
  layoutContent();
}

bool NavigationController::shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) {
  auto top = topViewController();
  return top ? top->shouldAutorotateToInterfaceOrientation(orientation) : ViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

Ref<ViewController> NavigationController::visibleViewController() const {
  auto top = topViewController();
  if (!top) return nullptr;
  Ref<ViewController> shown = top;
  while (auto presented = shown->presentedViewController()) shown = presented;
  return shown;
}

std::vector<Ref<ViewController>> NavigationController::childViewControllersForAppearance() const {
  if (auto top = topViewController()) return {top};
  return {};
}

void NavigationController::syncBars(bool animated) {
  std::vector<Ref<NavigationItem>> items;
  for (const auto& c : stack_) items.push_back(c->navigationItem());
  navigationBar()->setItems(items, animated);
  if (auto top = topViewController()) toolbar()->setItems(top->toolbarItems(), animated);
}

void NavigationController::finishPendingTransition() {
  if (auto finish = std::move(pendingFinish_)) {
    pendingFinish_ = nullptr;
    finish();
  }
}

void NavigationController::transition(const Ref<ViewController>& from, const Ref<ViewController>& to,
                                      std::vector<Ref<ViewController>> removed, bool animated) {
  syncBars(animated);
  if (isViewLoaded() && to) {
    to->view()->setFrame(contentFrame());
    if (to->view()->superview() != view()) view()->insertSubviewAtIndex(to->view(), 0);
    view()->bringSubviewToFront(to->view());
    view()->bringSubviewToFront(navigationBar());
    view()->bringSubviewToFront(toolbar());
  }
  bool visible = isVisible();
  bool changed = from != to;
  if (visible && changed) {
    if (from) from->beginAppearanceTransition(false, animated);
    if (to) to->beginAppearanceTransition(true, animated);
  } else if (changed && isAppearing()) {
    // The stack changed while this controller is still coming on screen: the old top leaves at
    // once, the new one joins the appearance and gets its did-call when this controller does.
    if (from) {
      from->beginAppearanceTransition(false, false);
      from->endAppearanceTransition();
    }
    if (to) to->beginAppearanceTransition(true, animated);
  } else if (changed && isDisappearing() && from) {
    // Going off screen: the old top's disappearance ends now, since it no longer follows ours.
    from->endAppearanceTransition();
  }
  auto self = selfAs<NavigationController>();
  auto finish = [self, from, to, removed = std::move(removed), visible, changed] {
    if (from && from != to && from->isViewLoaded() && from->view()->superview() == (self->isViewLoaded() ? self->view() : nullptr))
      from->view()->removeFromSuperview();
    if (visible && changed) {
      if (from) from->endAppearanceTransition();
      if (to) to->endAppearanceTransition();
    }
    for (const auto& c : removed) {
      if (c->isViewLoaded() && self->isViewLoaded() && c->view()->superview() == self->view())
        c->view()->removeFromSuperview();
      c->setParentViewController(nullptr);
    }
  };
  if (animated && visible) {
    pendingFinish_ = finish;
    std::weak_ptr<NavigationController> weak = self;
    scheduleAfter(kTransitionDuration, [weak] {
      if (auto nav = weak.lock()) nav->finishPendingTransition();
    });
  } else {
    finish();
  }
}

void NavigationController::pushViewController(const Ref<ViewController>& controller, bool animated) {
  if (!controller) return;
  if (controller->parentViewController() || std::find(stack_.begin(), stack_.end(), controller) != stack_.end())
    Exception::raise(kInvalidArgumentException, "Pushing the same view controller instance more than once is not supported");
  if (std::dynamic_pointer_cast<NavigationController>(controller))
    Exception::raise(kInvalidArgumentException, "Pushing a navigation controller is not supported");
  finishPendingTransition();
  auto from = topViewController();
  controller->setParentViewController(selfAs<ViewController>());
  stack_.push_back(controller);
  transition(from, controller, {}, animated);
}

Ref<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
  finishPendingTransition();
  if (stack_.size() < 2) return nullptr;
  auto popped = stack_.back();
  stack_.pop_back();
  transition(popped, topViewController(), {popped}, animated);
  return popped;
}

std::vector<Ref<ViewController>> NavigationController::popToViewController(const Ref<ViewController>& controller,
                                                                           bool animated) {
  finishPendingTransition();
  auto it = std::find(stack_.begin(), stack_.end(), controller);
  if (it == stack_.end() || it + 1 == stack_.end()) return {};
  std::vector<Ref<ViewController>> popped(it + 1, stack_.end());
  auto from = stack_.back();
  stack_.erase(it + 1, stack_.end());
  transition(from, controller, popped, animated);
  return popped;
}

std::vector<Ref<ViewController>> NavigationController::popToRootViewControllerAnimated(bool animated) {
  if (stack_.empty()) return {};
  return popToViewController(stack_.front(), animated);
}

void NavigationController::setViewControllers(std::vector<Ref<ViewController>> controllers, bool animated) {
  finishPendingTransition();
  auto from = topViewController();
  std::vector<Ref<ViewController>> removed;
  for (const auto& c : stack_)
    if (std::find(controllers.begin(), controllers.end(), c) == controllers.end()) removed.push_back(c);
  for (const auto& c : controllers) c->setParentViewController(selfAs<ViewController>());
  stack_ = std::move(controllers);
  transition(from, topViewController(), removed, animated);
}

}  // namespace zv::ui
