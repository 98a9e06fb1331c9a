#include <gtest/gtest.h>

#include <numbers>

#include "platform/ui/Application.h"
#include "sharing/core/SXActivityIndicator.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

class SXActivityIndicatorTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    showRoot(std::make_shared<ui::ViewController>());
    display = SXActivityIndicator::currentIndicator();
  }
  bool onScreen() const { return display->window() != nullptr && display->alpha() > 0; }
  Ref<SXActivityIndicator> display;
};

TEST_F(SXActivityIndicatorTest, SitsInTheMiddleOfTheKeyWindow) {
  EXPECT_EQ(SXActivityIndicator::currentIndicator(), display);
  EXPECT_EQ(display->frame(), ui::Rect(80, 160, 160, 160));
  EXPECT_EQ(display->cornerRadius(), 10);
  EXPECT_FALSE(display->isUserInteractionEnabled());
  EXPECT_EQ(display->alpha(), 0);
  EXPECT_FALSE(display->window());
}

TEST_F(SXActivityIndicatorTest, ACompletionFadesOutAfterSixTenthsOfASecond) {
  display->displayCompleted("Saved!");
  EXPECT_TRUE(onScreen());
  EXPECT_EQ(display->centerMessageLabel()->text(), "\u2713");
  EXPECT_EQ(display->spinner(), nullptr);
  advance(0.55);
  EXPECT_TRUE(onScreen());
  advance(0.1 + 0.45);  // the delayed hide, then its fade
  EXPECT_FALSE(display->window());
}

TEST_F(SXActivityIndicatorTest, ASecondCompletionPostponesTheHide) {
  display->displayCompleted("Saved!");
  advance(0.4);
  display->displayCompleted("Copied!");
  advance(0.4);  // 0.8 s after the first: its hide was cancelled
  EXPECT_TRUE(onScreen());
  EXPECT_EQ(display->subMessageLabel()->text(), "Copied!");
  advance(0.7);
  EXPECT_FALSE(display->window());
}

TEST_F(SXActivityIndicatorTest, ActivityAfterACompletionShowsTheSpinnerAgainAndStays) {
  display->displayCompleted("Saved!");
  display->displayActivity("Saving to Echo");
  EXPECT_EQ(display->centerMessageLabel(), nullptr);
  ASSERT_TRUE(display->spinner());
  EXPECT_TRUE(display->spinner()->isAnimating());
  advance(2.0);
  EXPECT_TRUE(onScreen());  // the completion's hide was cancelled; activity persists
}

TEST_F(SXActivityIndicatorTest, AShowRightAfterAHideKeepsTheDisplay) {
  display->displayActivity("Loading...");
  settle();
  display->hide();
  display->show();
  settle();
  EXPECT_TRUE(onScreen());
}

TEST_F(SXActivityIndicatorTest, TurnsWithTheStatusBar) {
  ui::Application::sharedApplication()->setStatusBarOrientation(ui::InterfaceOrientation::LandscapeRight);
  display->setProperRotation(false);
  EXPECT_EQ(display->transform(), graphics::AffineTransform::rotation(std::numbers::pi / 2));
  ui::Application::sharedApplication()->setStatusBarOrientation(ui::InterfaceOrientation::Portrait);
  display->setProperRotation(false);
  EXPECT_EQ(display->transform(), graphics::AffineTransform::identity());
}

}  // namespace
}  // namespace zv::testing
