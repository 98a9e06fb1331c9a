#include <gtest/gtest.h>

#include <algorithm>

#include "UITestSupport.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/SimpleControls.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/Storyboard.h"
#include "platform/ui/TabBarController.h"

namespace zv::ui::testing {
namespace {

using Journal = std::vector<std::string>;

class PresentationTest : public UITest {};

TEST_F(PresentationTest, PresentAndDismissChainRunsCallbacksAndCompletionsInOrder) {
  Journal journal;
  auto a = std::make_shared<JournalScreen>("A", &journal);
  auto b = std::make_shared<JournalScreen>("B", &journal);
  auto c = std::make_shared<JournalScreen>("C", &journal);
  auto window = makeKeyWindow(a);
  EXPECT_EQ(journal, (Journal{"A load", "A willAppear", "A didAppear"}));
  journal.clear();

  a->presentViewController(b, true, [&] { journal.push_back("presented B"); });
  EXPECT_EQ(journal, (Journal{"B load", "B willAppear", "A willDisappear"}));
  EXPECT_TRUE(b->isBeingPresented());
  advance(kTransitionDuration);
  EXPECT_EQ(journal, (Journal{"B load", "B willAppear", "A willDisappear", "B didAppear", "A didDisappear",
                              "presented B"}));
  EXPECT_EQ(a->presentedViewController(), b);
  EXPECT_EQ(b->presentingViewController(), a);
  EXPECT_EQ(b->view()->window(), window);
  journal.clear();

  b->presentViewController(c, false, [&] { journal.push_back("presented C"); });
  EXPECT_EQ(journal, (Journal{"C load", "C willAppear", "B willDisappear", "C didAppear", "B didDisappear",
                              "presented C"}));
  journal.clear();

  // Dismissing from the bottom takes the whole chain away; only the top and the bottom see it.
  a->dismissViewControllerAnimated(true, [&] { journal.push_back("dismissed"); });
  EXPECT_EQ(journal, (Journal{"C willDisappear", "A willAppear"}));
  advance(kTransitionDuration);
  EXPECT_EQ(journal, (Journal{"C willDisappear", "A willAppear", "C didDisappear", "A didAppear", "dismissed"}));
  EXPECT_EQ(a->presentedViewController(), nullptr);
  EXPECT_EQ(b->presentingViewController(), nullptr);
  EXPECT_EQ(c->view()->window(), nullptr);
}

// While a screen slides in or out, the user's presses reach nothing: a Send pressed twice on a
// leaving form, or two rows of a leaving menu, act once.
TEST_F(PresentationTest, TouchesWhileAScreenComesOrGoesAreIgnored) {
  Journal journal;
  auto a = std::make_shared<JournalScreen>("A", &journal);
  auto b = std::make_shared<JournalScreen>("B", &journal);
  makeKeyWindow(a);
  int presses = 0;
  auto send = BarButtonItem::withTitle("Send", BarButtonItemStyle::Done, [&](BarButtonItem&) { ++presses; });
  auto button = Button::buttonWithType(ButtonType::RoundedRect);
  button->addAction(ControlEventTouchUpInside, [&](Control&) { ++presses; });
  auto toggle = Switch::make();

  a->presentViewController(b, true);
  EXPECT_FALSE(send->simulateTap());
  EXPECT_FALSE(button->simulateTap());
  toggle->simulateToggle();
  EXPECT_FALSE(toggle->isOn());
  advance(kTransitionDuration);
  EXPECT_TRUE(send->simulateTap());
  EXPECT_EQ(presses, 1);

  a->dismissViewControllerAnimated(true);
  EXPECT_FALSE(send->simulateTap()) << "a press on the leaving screen";
  EXPECT_FALSE(button->simulateTap());
  advance(kTransitionDuration);
  EXPECT_TRUE(button->simulateTap());
  EXPECT_EQ(presses, 2);

  // Without animation nothing is in between.
  a->presentViewController(b, false);
  EXPECT_TRUE(send->simulateTap());
  a->dismissViewControllerAnimated(false);
  EXPECT_TRUE(send->simulateTap());
  EXPECT_EQ(presses, 4);
}

TEST_F(PresentationTest, APresentedScreenDismissesItselfThroughItsPresenter) {
  Journal journal;
  auto a = std::make_shared<JournalScreen>("A", &journal);
  auto b = std::make_shared<JournalScreen>("B", &journal);
  makeKeyWindow(a);
  a->presentViewController(b, false);
  journal.clear();
  b->dismissViewControllerAnimated(false, [&] { journal.push_back("done"); });
  EXPECT_EQ(journal, (Journal{"B willDisappear", "A willAppear", "B didDisappear", "A didAppear", "done"}));
}

TEST_F(PresentationTest, OverlappingTransitionsAreRefusedAndActiveScreensCannotBePresented) {
  Journal journal;
  auto a = std::make_shared<JournalScreen>("A", &journal);
  auto b = std::make_shared<JournalScreen>("B", &journal);
  auto c = std::make_shared<JournalScreen>("C", &journal);
  makeKeyWindow(a);
  LogCapture log;
  bool completed = false;
  a->presentViewController(b, true);
  a->presentViewController(c, false, [&] { completed = true; });  // refused: A is presenting
  EXPECT_FALSE(completed);
  EXPECT_EQ(c->presentingViewController(), nullptr);
  a->dismissViewControllerAnimated(false);  // refused: the presentation is under way
  EXPECT_TRUE(log.contains("while a presentation or dismiss is in progress"));
  advance(kTransitionDuration);
  EXPECT_EQ(a->presentedViewController(), b);
  EXPECT_THROW(c->presentViewController(b, false), Exception);
  EXPECT_THROW(b->presentViewController(a, false), Exception);

  // Nothing presented: dismissing does nothing and calls no completion.
  auto lone = std::make_shared<JournalScreen>("L", &journal);
  lone->dismissViewControllerAnimated(false, [&] { completed = true; });
  EXPECT_FALSE(completed);
}

TEST_F(PresentationTest, ScreensInsideContainersPresentFromTheContainer) {
  Journal journal;
  auto root = std::make_shared<JournalScreen>("R", &journal);
  auto nav = NavigationController::make(root);
  auto tabs = TabBarController::make({nav});
  makeKeyWindow(tabs);
  auto modal = std::make_shared<JournalScreen>("M", &journal);
  root->presentViewController(modal, false);
  EXPECT_EQ(tabs->presentedViewController(), modal);
  EXPECT_EQ(modal->presentingViewController(), tabs);
  EXPECT_EQ(root->presentingViewController(), nullptr);
  // The screen that started it can end it.
  root->dismissViewControllerAnimated(false);
  EXPECT_EQ(tabs->presentedViewController(), nullptr);
}

TEST_F(PresentationTest, NavigationStackPushesPopsAndLaysOutBars) {
  Journal journal;
  auto a = std::make_shared<JournalScreen>("A", &journal);
  auto b = std::make_shared<JournalScreen>("B", &journal);
  auto c = std::make_shared<JournalScreen>("C", &journal);
  a->setTitle("First");
  auto nav = NavigationController::make(a);
  makeKeyWindow(nav);
  journal.clear();
  nav->pushViewController(b, true);
  EXPECT_EQ(journal, (Journal{"B load", "A willDisappear", "B willAppear"}));
  advance(kTransitionDuration);
  EXPECT_EQ(journal.back(), "B didAppear");
  EXPECT_EQ(b->navigationController(), nav);
  EXPECT_EQ(nav->navigationBar()->items().size(), 2u);
  EXPECT_EQ(nav->navigationBar()->backItem()->title(), std::optional<std::string>("First"));
  EXPECT_THROW(nav->pushViewController(a, false), Exception);

  nav->pushViewController(c, false);
  EXPECT_EQ(nav->popToRootViewControllerAnimated(false).size(), 2u);
  EXPECT_EQ(nav->topViewController(), a);
  EXPECT_EQ(c->parentViewController(), nullptr);
  EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr);  // the root stays

  // The content area follows the bars.
  EXPECT_EQ(a->view()->frame(), Rect(0, 44, 320, 416));
  nav->setNavigationBarHidden(true);
  nav->setToolbarHidden(false);
  EXPECT_EQ(a->view()->frame(), Rect(0, 0, 320, 416));
}

// A navigation controller presented with animation is still appearing for a while; a screen that
// replaces its top then (a list answering at once with the next step) must appear with it.
TEST_F(PresentationTest, ANewTopSetWhileTheStackIsComingOnScreenAppearsWithIt) {
  Journal journal;
  auto root = std::make_shared<JournalScreen>("R", &journal);
  auto list = std::make_shared<JournalScreen>("L", &journal);
  auto editor = std::make_shared<JournalScreen>("E", &journal);
  makeKeyWindow(root);
  auto nav = NavigationController::make(list);
  root->presentViewController(nav, true);
  journal.clear();
  nav->setViewControllers({editor}, false);
  EXPECT_EQ(journal, (Journal{"E load", "L willDisappear", "L didDisappear", "E willAppear"}));
  EXPECT_TRUE(editor->isAppearing());
  journal.clear();
  advance(kTransitionDuration);
  EXPECT_EQ(journal, (Journal{"E didAppear", "R didDisappear"}));
  EXPECT_TRUE(editor->isVisible());
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(list->parentViewController(), nullptr);

  // Pushing and popping while it appears work the same way.
  nav->dismissViewControllerAnimated(false);
  auto second = std::make_shared<JournalScreen>("S", &journal);
  root->presentViewController(nav, true);
  nav->pushViewController(second, true);
  nav->popViewControllerAnimated(false);
  journal.clear();
  advance(kTransitionDuration);
  EXPECT_EQ(journal, (Journal{"E didAppear", "R didDisappear"}));
  EXPECT_FALSE(second->isVisible());
  EXPECT_FALSE(second->isDisappearing());

  // A stack changed while it goes off screen leaves no screen half gone.
  nav->dismissViewControllerAnimated(true);
  nav->setViewControllers({list}, false);
  advance(kTransitionDuration);
  EXPECT_FALSE(editor->isDisappearing());
  EXPECT_FALSE(editor->isVisible());
  EXPECT_FALSE(list->isVisible());
}

TEST_F(PresentationTest, TabsSwitchAppearanceAndAskTheirDelegate) {
  Journal journal;
  auto a = std::make_shared<JournalScreen>("A", &journal);
  auto b = std::make_shared<JournalScreen>("B", &journal);
  a->setTitle("History");
  auto tabs = TabBarController::make({a, b});
  makeKeyWindow(tabs);
  EXPECT_EQ(tabs->tabBar()->items()[0]->title(), std::optional<std::string>("History"));
  struct Refuser : Object, TabBarControllerDelegate {
    bool tabBarControllerShouldSelectViewController(TabBarController&, const Ref<ViewController>&) override {
      return false;
    }
  };
  auto refuser = std::make_shared<Refuser>();
  tabs->setDelegate(refuser);
  journal.clear();
  tabs->simulateTabTap(1);
  EXPECT_EQ(tabs->selectedIndex(), 0u);
  tabs->setDelegate({});
  tabs->simulateTabTap(1);
  EXPECT_EQ(journal, (Journal{"A willDisappear", "B load", "B willAppear", "A didDisappear", "B didAppear"}));
}

TEST_F(PresentationTest, StoryboardMakesScreensByIdentifier) {
  auto board = Storyboard::make("MainStoryboard");
  Journal journal;
  board->registerViewController("Editor", [&] { return std::make_shared<JournalScreen>("E", &journal); });
  Storyboard::registerStoryboard(board);
  auto editor = Storyboard::storyboardWithName("MainStoryboard")->instantiateViewControllerWithIdentifier("Editor");
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->storyboard(), board);
  EXPECT_EQ(board->instantiateViewControllerWithIdentifier("Missing"), nullptr);
  EXPECT_EQ(Storyboard::storyboardWithName("Other"), nullptr);
  Storyboard::unregisterAll();
}

}  // namespace
}  // namespace zv::ui::testing

namespace zv::ui::testing {
namespace {

TEST_F(PresentationTest, MemoryWarningsUnloadTheViewsOfScreensNotOnScreen) {
  Journal journal;
  struct Unloading : JournalScreen {
    using JournalScreen::JournalScreen;
    void viewDidUnload() override { journal_->push_back(name() + " unload"); }
    std::string name() const { return "U"; }
    Journal* journal_ = nullptr;
  };
  auto bottom = std::make_shared<Unloading>("U", &journal);
  bottom->journal_ = &journal;
  auto top = std::make_shared<JournalScreen>("T", &journal);
  auto nav = NavigationController::make(bottom);
  makeKeyWindow(nav);
  nav->pushViewController(top, false);
  auto oldView = bottom->view();
  journal.clear();
  Application::sharedApplication()->simulateMemoryWarning();
  EXPECT_EQ(journal, (Journal{"U unload"}));
  EXPECT_FALSE(bottom->isViewLoaded());
  EXPECT_TRUE(top->isViewLoaded());  // on screen: kept
  nav->popViewControllerAnimated(false);
  EXPECT_NE(bottom->view(), oldView);
  EXPECT_EQ(journal[1], "U load");
}

}  // namespace
}  // namespace zv::ui::testing

namespace zv::ui::testing {
namespace {

// A journal screen that also writes when it leaves for good.
class LeavingScreen : public JournalScreen {
 public:
  LeavingScreen(std::string name, Journal* journal) : JournalScreen(name, journal), name_(std::move(name)), journal_(journal) {}
  void viewDidLeave() override { journal_->push_back(name_ + " left"); }

 private:
  std::string name_;
  Journal* journal_;
};

Ref<LeavingScreen> leaving(const std::string& name, Journal* journal) {
  return std::make_shared<LeavingScreen>(name, journal);
}

std::ptrdiff_t count(const Journal& journal, const std::string& entry) {
  return std::count(journal.begin(), journal.end(), entry);
}

// The position of `entry` in the journal (its size when it is missing).
std::size_t at(const Journal& journal, const std::string& entry) {
  return static_cast<std::size_t>(std::find(journal.begin(), journal.end(), entry) - journal.begin());
}

class LeavingTest : public UITest {};

TEST_F(LeavingTest, DismissedScreensLeaveOnceAfterTheDismissalWithEverythingTheyHold) {
  Journal journal;
  auto a = leaving("A", &journal);
  auto first = leaving("B1", &journal);
  auto second = leaving("B2", &journal);
  auto c = leaving("C", &journal);
  makeKeyWindow(a);
  auto nav = NavigationController::make(first);
  nav->pushViewController(second, false);
  a->presentViewController(nav, false);
  nav->presentViewController(c, false);
  journal.clear();

  a->dismissViewControllerAnimated(true, [&] { journal.push_back("dismissed"); });
  advance(kTransitionDuration / 2);
  EXPECT_EQ(count(journal, "C left"), 0) << "the dismissal has not ended";
  advance(kTransitionDuration);
  // The top first, then the screen under it with the whole stack it holds; the presenter stays.
  EXPECT_EQ(journal, (Journal{"C willDisappear", "A willAppear", "C didDisappear", "A didAppear", "C left", "B1 left",
                              "B2 left", "dismissed"}));

  // Once per presentation: shown and dismissed again, it leaves again.
  journal.clear();
  a->presentViewController(c, true);
  advance(kTransitionDuration);
  c->dismissViewControllerAnimated(false);
  EXPECT_EQ(count(journal, "C left"), 1);
  settle();
  EXPECT_EQ(count(journal, "C left"), 1);
}

TEST_F(LeavingTest, ScreensOnlyCoveredOrSwitchedAwayFromDoNotLeave) {
  Journal journal;
  auto a = leaving("A", &journal);
  auto page = leaving("P", &journal);
  auto pushed = leaving("Q", &journal);
  auto other = leaving("T", &journal);
  auto over = leaving("O", &journal);
  makeKeyWindow(a);
  auto nav = NavigationController::make(page);
  auto tabs = TabBarController::make({nav, other});
  a->presentViewController(tabs, true);
  advance(kTransitionDuration);
  journal.clear();

  // Covered by a pushed screen, by a presented one, and by another tab; then shown again.
  nav->pushViewController(pushed, true);
  advance(kTransitionDuration);
  nav->popViewControllerAnimated(true);
  advance(kTransitionDuration);
  page->presentViewController(over, true);
  advance(kTransitionDuration);
  over->dismissViewControllerAnimated(true);
  advance(kTransitionDuration);
  tabs->simulateTabTap(1);
  tabs->simulateTabTap(0);
  settle();
  EXPECT_EQ(count(journal, "P didDisappear"), 3);
  EXPECT_EQ(count(journal, "O left"), 1);
  EXPECT_EQ(count(journal, "P left"), 0);
  EXPECT_EQ(count(journal, "T left"), 0);
  EXPECT_EQ(count(journal, "A left"), 0);
  EXPECT_TRUE(page->isVisible());

  // Taken away with its tabs: every tab leaves, once.
  journal.clear();
  a->dismissViewControllerAnimated(true);
  settle();
  EXPECT_EQ(count(journal, "P left"), 1);
  EXPECT_EQ(count(journal, "T left"), 1);
  EXPECT_EQ(count(journal, "A left"), 0);
}

// A screen presented over the screen under it and taken down with that screen, from before its
// slide-in starts to after it ended, animated or not: it disappears once and leaves once, both
// when the dismissal has ended; its presentation's completion runs once.
TEST_F(LeavingTest, AScreenTakenDownWhileItSlidesInLeavesOnceWhenTheDismissalEnds) {
  struct Point {
    double after;
    bool animated;
  };
  for (auto point : {Point{0, true}, Point{0.1, true}, Point{kTransitionDuration - 0.01, true},
                     Point{kTransitionDuration, true}, Point{0.5, true}, Point{0, false}, Point{0.2, false}}) {
    SCOPED_TRACE(::testing::Message() << "taken down " << point.after << " s in, animated " << point.animated);
    Journal journal;
    auto a = leaving("A", &journal);
    auto under = leaving("H", &journal);
    auto page = leaving("P", &journal);
    makeKeyWindow(a);
    a->presentViewController(under, false);
    journal.clear();
    under->presentViewController(page, true, [&] { journal.push_back("presented P"); });
    advance(point.after);
    a->dismissViewControllerAnimated(point.animated, [&] { journal.push_back("dismissed"); });
    if (point.animated) {
      advance(kTransitionDuration - 0.01);
      EXPECT_EQ(count(journal, "P didDisappear"), 0) << "still on its way out";
      EXPECT_EQ(count(journal, "P left"), 0);
    }
    settle();
    EXPECT_EQ(count(journal, "P didDisappear"), 1);
    EXPECT_EQ(count(journal, "H didDisappear"), 1);
    EXPECT_EQ(count(journal, "P left"), 1);
    EXPECT_EQ(count(journal, "H left"), 1);
    EXPECT_EQ(count(journal, "presented P"), 1);
    EXPECT_LT(at(journal, "P didDisappear"), at(journal, "P left"));
    EXPECT_LT(at(journal, "P left"), at(journal, "dismissed"));
    EXPECT_EQ(count(journal, "A didAppear"), 1);
    EXPECT_GT(at(journal, "P didDisappear"), at(journal, "A willAppear"));
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(page->presentingViewController(), nullptr);
    EXPECT_EQ(under->presentedViewController(), nullptr);
    EXPECT_EQ(page->view()->window(), nullptr);
    EXPECT_TRUE(a->isVisible());
    EXPECT_FALSE(page->isVisible());
    EXPECT_FALSE(Application::sharedApplication()->isIgnoringInteractionEvents());
  }
}

TEST_F(LeavingTest, AScreenPresentedOverLeavingScreensComesUpOnceTheyAreGone) {
  Journal journal;
  auto a = leaving("A", &journal);
  auto menu = leaving("M", &journal);
  auto page = leaving("L", &journal);
  auto late = leaving("X", &journal);
  makeKeyWindow(a);
  a->presentViewController(menu, false);
  journal.clear();
  LogCapture log;

  a->dismissViewControllerAnimated(true, [&] { journal.push_back("dismissed"); });
  advance(0.1);
  menu->presentViewController(page, true, [&] { journal.push_back("presented L"); });
  // It has its presenter at once: the screen that takes the menu away.
  EXPECT_EQ(page->presentingViewController(), a);
  EXPECT_TRUE(page->isBeingPresented());
  EXPECT_FALSE(page->isViewLoaded());
  // A second screen over the same leaving menu is refused at once.
  menu->presentViewController(late, true, [&] { journal.push_back("presented X"); });
  EXPECT_EQ(late->presentingViewController(), nullptr);
  EXPECT_TRUE(log.contains("while it is being dismissed"));
  // Nor can the page be dismissed before it came up.
  page->dismissViewControllerAnimated(false, [&] { journal.push_back("wrong"); });

  settle();
  EXPECT_EQ(journal, (Journal{"M willDisappear", "A willAppear", "M didDisappear", "A didAppear", "L load",
                              "L willAppear", "A willDisappear", "M left", "dismissed", "L didAppear",
                              "A didDisappear", "presented L"}));
  EXPECT_EQ(a->presentedViewController(), page);
  EXPECT_NE(page->view()->window(), nullptr);

  // Presented like any other: it goes when dismissed, and leaves.
  journal.clear();
  page->dismissViewControllerAnimated(true, [&] { journal.push_back("dismissed L"); });
  settle();
  EXPECT_EQ(journal, (Journal{"L willDisappear", "A willAppear", "L didDisappear", "A didAppear", "L left",
                              "dismissed L"}));
  EXPECT_EQ(a->presentedViewController(), nullptr);
}

// The screen under a leaving one is itself taken away by a dismissal from further down before
// the first dismissal ended: each screen leaves once, whichever dismissal ends first.
TEST_F(LeavingTest, OverlappingDismissalsFromDifferentPresentersLeaveEachScreenOnce) {
  for (bool lowerAnimated : {true, false}) {
    SCOPED_TRACE(lowerAnimated ? "the lower dismissal animated" : "the lower dismissal at once");
    Journal journal;
    auto a = leaving("A", &journal);
    auto under = leaving("H", &journal);
    auto page = leaving("P", &journal);
    makeKeyWindow(a);
    a->presentViewController(under, false);
    under->presentViewController(page, false);
    journal.clear();
    under->dismissViewControllerAnimated(true);
    advance(0.1);
    a->dismissViewControllerAnimated(lowerAnimated);
    settle();
    EXPECT_EQ(count(journal, "P left"), 1);
    EXPECT_EQ(count(journal, "H left"), 1);
    EXPECT_EQ(count(journal, "P didDisappear"), 1);
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_FALSE(page->view()->window());
    EXPECT_FALSE(under->view()->window());
  }
}

TEST_F(LeavingTest, ScreensAlreadyLeavingAreNotDismissedAgain) {
  Journal journal;
  auto a = leaving("A", &journal);
  auto under = leaving("H", &journal);
  auto page = leaving("P", &journal);
  makeKeyWindow(a);
  a->presentViewController(under, false);
  under->presentViewController(page, false);
  journal.clear();
  LogCapture log;
  a->dismissViewControllerAnimated(true);
  bool second = false;
  under->dismissViewControllerAnimated(true, [&] { second = true; });
  page->dismissViewControllerAnimated(false, [&] { second = true; });
  EXPECT_TRUE(log.contains("while a presentation or dismiss is in progress"));
  settle();
  EXPECT_FALSE(second);
  EXPECT_EQ(journal, (Journal{"P willDisappear", "A willAppear", "P didDisappear", "A didAppear", "P left",
                              "H left"}));
}

}  // namespace
}  // namespace zv::ui::testing
