#pragma once
// A screen: a lazily loaded view, the appear/disappear cycle, modal presentation and dismissal
// with completions, and the links to the containers (navigation and tab bar controllers) that
// hold it.
//
// Presentation: a screen presents from the root of its containment (the navigation or tab bar
// controller that holds it), as a full-screen presentation does on a phone. The presented view is
// laid over the presenter's window. Animated transitions end on the run loop after
// kTransitionDuration; unanimated ones end at once. viewDidAppear/viewDidDisappear run before the
// completion. A presentation or dismissal asked for while another one of the same presenter is
// under way is refused with a logged warning, as the platform does; so is a dismissal of screens
// that another dismissal is already taking away.
//
// Taken down while coming up: a dismissal from further down the presentation chain may take a
// screen away while it still slides in. Its disappearance then ends with that dismissal (one
// viewDidDisappear, when the dismissal ends); its presentation's completion still runs when the
// slide-in ends.
//
// Presenting over a screen that is being dismissed: the new screen is presented from the screen
// that dismisses it, once that dismissal has ended (before the dismissal's completion runs). From
// the call on, the new screen answers that presenter and isBeingPresented; a second presentation
// asked for over the same leaving screens is refused.
//
// Leaving for good: viewDidLeave runs once for each presentation that ends, after the dismissal
// that took the screen away has ended, whatever state the screen's own presentation was in. It
// never runs for a screen that is only covered (by a presented or pushed screen, or another tab).
//
// Ownership: a presenter retains the screen it presents; the presented screen's link back, the
// parent link and the storyboard link are not retained. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Bars.h"
#include "platform/ui/View.h"

namespace zv::ui {

class NavigationController;
class Storyboard;
class TabBarController;

class ViewController : public Responder {
 public:
  using Completion = std::function<void()>;

  ViewController();
  ~ViewController() override;

  // The view, loaded (loadView, then viewDidLoad) on first use.
  Ref<View> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(Ref<View> view);
  // Builds the view; the default is a plain view filling the application frame.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewDidUnload() {}
  virtual void viewWillAppear(bool animated) { (void)animated; }
  virtual void viewDidAppear(bool animated) { (void)animated; }
  virtual void viewWillDisappear(bool animated) { (void)animated; }
  virtual void viewDidDisappear(bool animated) { (void)animated; }
  // This screen has left the screen for good: a dismissal that took away the screen it is (or a
  // screen presented under it, or the container holding it then) has ended. Runs once per
  // presentation, after every viewDidDisappear of that dismissal and before its completion: for
  // each dismissed screen from the top down, each one's held screens after it (the whole stack,
  // every tab). A screen popped, covered or switched away from does not get it.
  virtual void viewDidLeave() {}
  // The base unloads the view of a screen that is not on screen (its view is in no window):
  // the view is dropped and viewDidUnload called; the next use of view() loads it again.
  // Subclasses that override it call the base.
  virtual void didReceiveMemoryWarning();
  // Whether the screen shows now (it appeared and has not begun to disappear).
  bool isVisible() const { return appearance_ == Appearance::Appeared; }
  // Whether the screen is coming on screen (viewWillAppear ran, viewDidAppear has not yet), or
  // going off it (viewWillDisappear ran, viewDidDisappear has not yet).
  bool isAppearing() const { return appearance_ == Appearance::Appearing; }
  bool isDisappearing() const { return appearance_ == Appearance::Disappearing; }

  // Rotation: the default allows portrait only, as a phone screen does.
  virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) {
    return orientation == InterfaceOrientation::Portrait;
  }
  // Containers pass both calls on to their visible children.
  virtual void willRotateToInterfaceOrientation(InterfaceOrientation orientation, double duration);
  virtual void didRotateFromInterfaceOrientation(InterfaceOrientation from);
  InterfaceOrientation interfaceOrientation() const;

  // Titles and bar content.
  const std::optional<std::string>& title() const { return title_; }
  virtual void setTitle(std::optional<std::string> title);
  Ref<NavigationItem> navigationItem();
  Ref<TabBarItem> tabBarItem();
  void setTabBarItem(Ref<TabBarItem> item) { tabBarItem_ = std::move(item); }
  const std::vector<Ref<BarButtonItem>>& toolbarItems() const { return toolbarItems_; }
  void setToolbarItems(std::vector<Ref<BarButtonItem>> items, bool animated = false);
  bool hidesBottomBarWhenPushed() const { return hidesBottomBarWhenPushed_; }
  void setHidesBottomBarWhenPushed(bool hides) { hidesBottomBarWhenPushed_ = hides; }
  Size contentSizeForViewInPopover() const { return contentSizeForViewInPopover_; }
  void setContentSizeForViewInPopover(Size size) { contentSizeForViewInPopover_ = size; }

  // Editing (table screens follow it).
  bool isEditing() const { return editing_; }
  virtual void setEditing(bool editing, bool animated);
  // A button that toggles editing, titled "Edit" or "Done".
  Ref<BarButtonItem> editButtonItem();

  // Containment.
  Ref<ViewController> parentViewController() const { return parent_.lock(); }
  void setParentViewController(const Ref<ViewController>& parent) { parent_ = parent; }
  Ref<NavigationController> navigationController() const;
  Ref<TabBarController> tabBarController() const;
  // The containers' visible children, which share this screen's appearance.
  virtual std::vector<Ref<ViewController>> childViewControllersForAppearance() const { return {}; }
  // Every child a container holds (the whole stack, every tab).
  virtual std::vector<Ref<ViewController>> childViewControllers() const { return {}; }

  // Modal presentation.
  ModalTransitionStyle modalTransitionStyle() const { return modalTransitionStyle_; }
  void setModalTransitionStyle(ModalTransitionStyle style) { modalTransitionStyle_ = style; }
  ModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }
  void setModalPresentationStyle(ModalPresentationStyle style) { modalPresentationStyle_ = style; }
  Ref<ViewController> presentedViewController() const { return presented_; }
  Ref<ViewController> presentingViewController() const;
  // The older names of the two links.
  Ref<ViewController> modalViewController() const { return presented_; }
  void presentViewController(const Ref<ViewController>& controller, bool animated, Completion completion = nullptr);
  // Dismisses the screen this one presents (with every screen above it), or, when it presents
  // none, this screen from its presenter.
  void dismissViewControllerAnimated(bool animated, Completion completion = nullptr);
  void presentModalViewController(const Ref<ViewController>& controller, bool animated) {
    presentViewController(controller, animated);
  }
  void dismissModalViewControllerAnimated(bool animated) { dismissViewControllerAnimated(animated); }
  bool isBeingPresented() const { return beingPresented_; }
  bool isBeingDismissed() const { return beingDismissed_; }

  Ref<Storyboard> storyboard() const { return storyboard_.lock(); }
  void setStoryboard(const Ref<Storyboard>& storyboard) { storyboard_ = storyboard; }

  Ref<Responder> nextResponder() const override;

  // Appearance transitions, used by windows and containers: `begin` calls viewWillAppear or
  // viewWillDisappear (and forwards to the visible children), `end` the matching did-call.
  void beginAppearanceTransition(bool appearing, bool animated);
  void endAppearanceTransition();

 private:
  enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
  Ref<ViewController> presentationRoot();
  // Tells `screen` and every screen it holds that they left for good.
  static void deliverLeave(const Ref<ViewController>& screen);

  Ref<View> view_;
  std::optional<std::string> title_;
  Ref<NavigationItem> navigationItem_;
  Ref<TabBarItem> tabBarItem_;
  std::vector<Ref<BarButtonItem>> toolbarItems_;
  bool hidesBottomBarWhenPushed_ = false;
  Size contentSizeForViewInPopover_{320, 1100};
  bool editing_ = false;
  Ref<BarButtonItem> editButtonItem_;
  std::weak_ptr<ViewController> parent_;
  std::weak_ptr<ViewController> presenting_;
  Ref<ViewController> presented_;
  ModalTransitionStyle modalTransitionStyle_ = ModalTransitionStyle::CoverVertical;
  ModalPresentationStyle modalPresentationStyle_ = ModalPresentationStyle::FullScreen;
  bool transitioning_ = false;
  bool hiddenByPresentation_ = false;
  bool beingPresented_ = false;
  bool beingDismissed_ = false;
  // A presentation asked for over the screens this one is dismissing; it runs when that
  // dismissal has ended.
  std::function<void()> queuedPresentation_;
  std::weak_ptr<Storyboard> storyboard_;
  Appearance appearance_ = Appearance::Disappeared;
  bool appearanceAnimated_ = false;
};

}  // namespace zv::ui
