#include "platform/ui/ViewController.h"

#include <utility>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/Window.h"

namespace zv::ui {

ViewController::ViewController() = default;
ViewController::~ViewController() = default;

Ref<View> ViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) view_ = View::make(Screen::mainScreen()->applicationFrame());
    view_->setViewController(selfAs<ViewController>());
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(Ref<View> view) {
  view_ = std::move(view);
  if (view_) view_->setViewController(selfAs<ViewController>());
}

void ViewController::loadView() {
  auto view = View::make(Screen::mainScreen()->applicationFrame());
  view->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  setView(view);
}

void ViewController::willRotateToInterfaceOrientation(InterfaceOrientation orientation, double duration) {
  for (const auto& child : childViewControllersForAppearance()) child->willRotateToInterfaceOrientation(orientation, duration);
}

void ViewController::didRotateFromInterfaceOrientation(InterfaceOrientation from) {
  for (const auto& child : childViewControllersForAppearance()) child->didRotateFromInterfaceOrientation(from);
}

void ViewController::didReceiveMemoryWarning() {
  if (!view_ || view_->window() || appearance_ != Appearance::Disappeared) return;
  view_->setViewController(nullptr);
  view_ = nullptr;
  viewDidUnload();
}

InterfaceOrientation ViewController::interfaceOrientation() const {
  return Application::sharedApplication()->statusBarOrientation();
}

void ViewController::setTitle(std::optional<std::string> title) {
  title_ = title;
  navigationItem()->setTitle(title);
  if (tabBarItem_) tabBarItem_->setTitle(title);
}

Ref<NavigationItem> ViewController::navigationItem() {
  if (!navigationItem_) navigationItem_ = NavigationItem::make(title_);
  return navigationItem_;
}

Ref<TabBarItem> ViewController::tabBarItem() {
  if (!tabBarItem_) tabBarItem_ = TabBarItem::make(title_);
  return tabBarItem_;
}

void ViewController::setToolbarItems(std::vector<Ref<BarButtonItem>> items, bool animated) {
  toolbarItems_ = std::move(items);
  if (auto nav = navigationController())
    if (nav->topViewController().get() == this) nav->toolbar()->setItems(toolbarItems_, animated);
}

void ViewController::setEditing(bool editing, bool) {
  editing_ = editing;
  if (editButtonItem_) {
    editButtonItem_->setTitle(editing ? "Done" : "Edit");
    editButtonItem_->setStyle(editing ? BarButtonItemStyle::Done : BarButtonItemStyle::Bordered);
  }
}

Ref<BarButtonItem> ViewController::editButtonItem() {
  if (!editButtonItem_) {
    std::weak_ptr<ViewController> weak = selfAs<ViewController>();
    editButtonItem_ = BarButtonItem::withTitle(editing_ ? "Done" : "Edit", BarButtonItemStyle::Bordered,
                                               [weak](BarButtonItem&) {
                                                 if (auto self = weak.lock()) self->setEditing(!self->isEditing(), true);
                                               });
  }
  return editButtonItem_;
}

Ref<NavigationController> ViewController::navigationController() const {
  for (auto c = parentViewController(); c; c = c->parentViewController())
    if (auto nav = std::dynamic_pointer_cast<NavigationController>(c)) return nav;
  return nullptr;
}

Ref<TabBarController> ViewController::tabBarController() const {
  for (auto c = parentViewController(); c; c = c->parentViewController())
    if (auto tabs = std::dynamic_pointer_cast<TabBarController>(c)) return tabs;
  return nullptr;
}

Ref<ViewController> ViewController::presentingViewController() const {
  for (auto c = selfAs<ViewController>(); c; c = c->parentViewController())
    if (auto presenter = c->presenting_.lock()) return presenter;
  return nullptr;
}

Ref<Responder> ViewController::nextResponder() const { return view_ ? view_->superview() : nullptr; }

Ref<ViewController> ViewController::presentationRoot() {
  auto root = selfAs<ViewController>();
  while (auto parent = root->parentViewController()) root = parent;
  return root;
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
  if (appearing) {
    if (appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing) return;
    appearance_ = Appearance::Appearing;
    view();
    appearanceAnimated_ = animated;
    viewWillAppear(animated);
  } else {
    if (appearance_ == Appearance::Disappeared || appearance_ == Appearance::Disappearing) return;
    appearance_ = Appearance::Disappearing;
    appearanceAnimated_ = animated;
    viewWillDisappear(animated);
  }
  for (const auto& child : childViewControllersForAppearance()) child->beginAppearanceTransition(appearing, animated);
}

void ViewController::endAppearanceTransition() {
  auto keep = self();
  if (appearance_ == Appearance::Appearing) {
    appearance_ = Appearance::Appeared;
    viewDidAppear(appearanceAnimated_);
  } else if (appearance_ == Appearance::Disappearing) {
    appearance_ = Appearance::Disappeared;
    viewDidDisappear(appearanceAnimated_);
  } else {
    return;
  }
  for (const auto& child : childViewControllersForAppearance()) child->endAppearanceTransition();
}

void ViewController::deliverLeave(const Ref<ViewController>& screen) {
  screen->viewDidLeave();
  for (const auto& child : screen->childViewControllers()) deliverLeave(child);
}

void ViewController::presentViewController(const Ref<ViewController>& controller, bool animated,
                                           Completion completion) {
  if (!controller) return;
  auto root = presentationRoot();
  bool active = controller == root || controller->presenting_.lock() || controller->presented_ ||
                controller->parentViewController() || (controller->isViewLoaded() && controller->view()->window());
  if (active)
    Exception::raise(kInvalidArgumentException,
                     format("Application tried to present modally an active controller <%s>.",
                            controller->className().c_str()));
  if (root->beingDismissed_) {
    // The screens under the new one are leaving: it comes up from the screen that dismisses
    // them, once they are gone.
    auto dismisser = root;
    while (dismisser && dismisser->beingDismissed_) dismisser = dismisser->presenting_.lock();
    if (!dismisser || dismisser->queuedPresentation_) {
      log(LogLevel::Warning, format("Attempt to present <%s> on <%s> while it is being dismissed!",
                                    controller->className().c_str(), root->className().c_str()));
      return;
    }
    controller->presenting_ = dismisser;
    controller->beingPresented_ = true;
    dismisser->queuedPresentation_ = [dismisser, controller, animated, completion = std::move(completion)] {
      controller->presenting_.reset();
      controller->beingPresented_ = false;
      dismisser->presentViewController(controller, animated, completion);
    };
    return;
  }
  if (root->presented_ || root->transitioning_) {
    log(LogLevel::Warning, format("Attempt to present <%s> on <%s> while a presentation is in progress!",
                                  controller->className().c_str(), root->className().c_str()));
    return;
  }
  root->presented_ = controller;
  controller->presenting_ = root;
  auto view = controller->view();
  Ref<Window> window = root->isViewLoaded() ? root->view()->window() : nullptr;
  if (!window) window = Application::sharedApplication()->keyWindow();
  if (window) {
    view->setFrame(Screen::mainScreen()->applicationFrame());
    window->addSubview(view);
  }
  bool presenterVisible = root->appearance_ == Appearance::Appeared || root->appearance_ == Appearance::Appearing;
  root->transitioning_ = true;
  root->hiddenByPresentation_ = presenterVisible;
  controller->beingPresented_ = true;
  controller->beginAppearanceTransition(true, animated);
  if (presenterVisible) root->beginAppearanceTransition(false, animated);
  // The user cannot touch a screen while it slides in.
  auto ignoring = animated ? Application::sharedApplication()->beginTransitionIgnoringTouches() : nullptr;
  auto finish = [root, controller, presenterVisible, ignoring, completion = std::move(completion)] {
    if (ignoring) *ignoring = false;
    root->transitioning_ = false;
    controller->beingPresented_ = false;
    // Screens a dismissal is taking away end their disappearance with it.
    if (!controller->beingDismissed_) controller->endAppearanceTransition();
    if (presenterVisible && !root->beingDismissed_) root->endAppearanceTransition();
    if (completion) completion();
  };
  if (animated)
    scheduleAfter(kTransitionDuration, std::move(finish));
  else
    finish();
}

void ViewController::dismissViewControllerAnimated(bool animated, Completion completion) {
  auto root = presentationRoot();
  Ref<ViewController> presenter = root->presented_ ? root : root->presenting_.lock();
  if (!presenter || !presenter->presented_) return;
  if (presenter->transitioning_ || presenter->presented_->beingDismissed_) {
    log(LogLevel::Warning,
        format("Attempt to dismiss from view controller <%s> while a presentation or dismiss is in progress!",
               presenter->className().c_str()));
    return;
  }
  std::vector<Ref<ViewController>> chain;
  for (auto c = presenter->presented_; c; c = c->presented_) chain.push_back(c);
  auto top = chain.back();
  // The presenter shows again when the presentation hid it.
  bool presenterReturns = presenter->hiddenByPresentation_;
  presenter->hiddenByPresentation_ = false;
  presenter->transitioning_ = true;
  for (const auto& c : chain) c->beingDismissed_ = true;
  top->beginAppearanceTransition(false, animated);
  if (presenterReturns) presenter->beginAppearanceTransition(true, animated);
  // Nor while it slides out: a second press on a leaving screen does nothing.
  auto ignoring = animated ? Application::sharedApplication()->beginTransitionIgnoringTouches() : nullptr;
  auto finish = [presenter, chain, presenterReturns, ignoring, completion = std::move(completion)] {
    if (ignoring) *ignoring = false;
    // A screen that a dismissal from further down took away meanwhile has left already.
    std::vector<Ref<ViewController>> leaving;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const auto& c = *it;
      if (c->presenting_.lock()) leaving.push_back(c);
      if (c->isViewLoaded()) c->view()->removeFromSuperview();
      c->presenting_.reset();
      c->presented_.reset();
    }
    presenter->presented_.reset();
    presenter->transitioning_ = false;
    // Every dismissed screen still leaving (the top, and a screen under a top that was still
    // sliding in) ends its disappearance now, the top first.
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      if ((*it)->isDisappearing()) (*it)->endAppearanceTransition();
    for (const auto& c : chain) c->beingDismissed_ = false;
    if (presenterReturns) presenter->endAppearanceTransition();
    if (auto queued = std::exchange(presenter->queuedPresentation_, nullptr)) queued();
    for (const auto& c : leaving) deliverLeave(c);
    if (completion) completion();
  };
  if (animated)
    scheduleAfter(kTransitionDuration, std::move(finish));
  else
    finish();
}

}  // namespace zv::ui
