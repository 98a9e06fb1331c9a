#include <gtest/gtest.h>

#include "UITestSupport.h"
#include "platform/foundation/Exception.h"
#include "platform/ui/AlertView.h"

namespace zv::ui::testing {
namespace {

using Journal = std::vector<std::string>;

class AlertRecorder : public Object, public AlertViewDelegate {
 public:
  void willPresentAlertView(AlertView&) override { journal.push_back("willPresent"); }
  void didPresentAlertView(AlertView&) override { journal.push_back("didPresent"); }
  void alertViewClickedButtonAtIndex(AlertView& alert, long index) override {
    journal.push_back("clicked " + std::to_string(index) + " " + alert.buttonTitleAtIndex(index).value_or("?"));
    if (alert.alertViewStyle() != AlertViewStyle::Default) typed = alert.textFieldAtIndex(0)->text();
  }
  void alertViewWillDismissWithButtonIndex(AlertView&, long index) override {
    journal.push_back("willDismiss " + std::to_string(index));
  }
  void alertViewDidDismissWithButtonIndex(AlertView&, long index) override {
    journal.push_back("didDismiss " + std::to_string(index));
  }
  bool alertViewShouldEnableFirstOtherButton(AlertView& alert) override {
    return alert.alertViewStyle() == AlertViewStyle::Default || !alert.textFieldAtIndex(0)->text().empty();
  }
  Journal journal;
  std::string typed;
};

class AlertViewTest : public UITest {
 protected:
  void SetUp() override {
    UITest::SetUp();
    window = makeKeyWindow(std::make_shared<ViewController>());
  }
  Ref<Window> window;
};

TEST_F(AlertViewTest, DelegateLearnsTheIndexOfThePressedButton) {
  auto recorder = std::make_shared<AlertRecorder>();
  auto alert = AlertView::make("Could not load page", "The host is unreachable.", recorder, "OK", {"Retry", "Details"});
  EXPECT_EQ(alert->cancelButtonIndex(), 0);
  EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
  EXPECT_EQ(alert->numberOfButtons(), 3);
  alert->show();
  EXPECT_TRUE(alert->isVisible());
  EXPECT_EQ(alert->window(), window);
  ASSERT_EQ(ButtonPanel::visiblePanels().size(), 1u);

  // The parts are reachable as subviews.
  auto labels = alert->descendantsOfType<Label>();
  auto title = std::dynamic_pointer_cast<Label>(alert->viewWithTag(1));
  auto message = std::dynamic_pointer_cast<Label>(alert->viewWithTag(2));
  ASSERT_TRUE(title && message);
  EXPECT_EQ(title->text(), std::optional<std::string>("Could not load page"));
  EXPECT_EQ(message->text(), std::optional<std::string>("The host is unreachable."));
  EXPECT_EQ(alert->descendantsOfType<Button>().size(), 3u);

  // Pressing the button view goes through the same path as a user's press.
  alert->buttonAtIndex(2)->simulateTap();
  EXPECT_EQ(recorder->journal, (Journal{"willPresent", "didPresent", "clicked 2 Details", "willDismiss 2",
                                        "didDismiss 2"}));
  EXPECT_FALSE(alert->isVisible());
  EXPECT_EQ(alert->superview(), nullptr);
  EXPECT_TRUE(ButtonPanel::visiblePanels().empty());
  alert->simulateTapButtonAtIndex(0);  // gone: nothing more
  EXPECT_EQ(recorder->journal.size(), 5u);
}

TEST_F(AlertViewTest, TextInputAlertsHandTheTypedTextAndGateTheFirstOtherButton) {
  auto recorder = std::make_shared<AlertRecorder>();
  auto alert = AlertView::make("Login", std::nullopt, recorder, "Cancel", {"Login"});
  alert->setAlertViewStyle(AlertViewStyle::LoginAndPasswordInput);
  EXPECT_TRUE(alert->textFieldAtIndex(1)->isSecureTextEntry());
  EXPECT_THROW(alert->textFieldAtIndex(2), Exception);
  alert->show();
  EXPECT_TRUE(alert->textFieldAtIndex(0)->isFirstResponder());
  EXPECT_FALSE(alert->buttonAtIndex(1)->isEnabled());
  alert->simulateTapButtonAtIndex(1);  // disabled: no press
  EXPECT_TRUE(alert->isVisible());
  alert->textFieldAtIndex(0)->insertText("ann");
  EXPECT_TRUE(alert->buttonAtIndex(1)->isEnabled());
  alert->simulateTapButtonAtIndex(1);
  EXPECT_EQ(recorder->typed, "ann");
  EXPECT_FALSE(alert->textFieldAtIndex(0)->isFirstResponder());

  auto plain = AlertView::make("x", std::nullopt, {}, std::nullopt, {});
  EXPECT_THROW(plain->textFieldAtIndex(0), Exception);
}

TEST_F(AlertViewTest, SystemCancelWithoutACancelHandlerDismissesWithTheCancelIndex) {
  auto recorder = std::make_shared<AlertRecorder>();
  auto alert = AlertView::make("t", "m", recorder, "Close", {"Go"});
  alert->show();
  alert->simulateSystemCancel();
  EXPECT_EQ(recorder->journal.back(), "didDismiss 0");
}

TEST_F(AlertViewTest, AnApplicationResetLeavesNoAlertOnScreenAndTellsNoDelegate) {
  auto recorder = std::make_shared<AlertRecorder>();
  auto alert = AlertView::make("Rate", "m", recorder, "No", {"Yes"});
  alert->show();
  ASSERT_EQ(ButtonPanel::visiblePanels().size(), 1u);
  recorder->journal.clear();

  Application::sharedApplication()->reset();
  EXPECT_TRUE(ButtonPanel::visiblePanels().empty());
  EXPECT_FALSE(alert->isVisible());
  EXPECT_EQ(alert->superview(), nullptr);
  EXPECT_TRUE(recorder->journal.empty());
  alert->show();  // a forgotten alert can be shown again
  EXPECT_EQ(ButtonPanel::visiblePanels().size(), 1u);
}

// A sheet that is its own delegate and takes the press in its dismissal, as some screens do.
class SelfHandlingSheet : public ActionSheet {
 public:
  void dismissWithClickedButtonIndex(long index, bool animated) override {
    pressed.push_back(index);
    ActionSheet::dismissWithClickedButtonIndex(index, animated);
  }
  std::vector<long> pressed;
};

TEST_F(AlertViewTest, ActionSheetsOrderTheirButtonsAndRouteThePressThroughDismissal) {
  auto sheet = ActionSheet::make("Share", {}, "Cancel", "Delete", {"Mail", "Copy"});
  EXPECT_EQ(sheet->destructiveButtonIndex(), 0);
  EXPECT_EQ(sheet->buttonTitleAtIndex(1), std::optional<std::string>("Mail"));
  EXPECT_EQ(sheet->cancelButtonIndex(), 3);
  EXPECT_EQ(sheet->firstOtherButtonIndex(), 1);

  auto own = std::make_shared<SelfHandlingSheet>();
  own->setTitle("Share");
  own->addButtonWithTitle("Email");
  own->setCancelButtonIndex(own->addButtonWithTitle("Cancel"));
  own->showInView(window->rootViewController()->view());
  EXPECT_EQ(own->shownInView(), window->rootViewController()->view());
  own->simulateTapButtonAtIndex(0);
  EXPECT_EQ(own->pressed, (std::vector<long>{0}));
  EXPECT_FALSE(own->isVisible());
}

}  // namespace
}  // namespace zv::ui::testing
