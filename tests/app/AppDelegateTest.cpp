// The application delegate as the rating prompt's delegate.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "platform/runloop/RunLoop.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/UserDefaults.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

class AppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    ApplicationEnvironment::shared().setHomeDirectory(home.path());
    UserDefaults::resetStandardUserDefaults();
    ui::Application::sharedApplication()->reset();
  }
  void TearDown() override {
    ui::Application::sharedApplication()->reset();
    UserDefaults::resetStandardUserDefaults();
    ApplicationEnvironment::shared().reset();
  }
  zv::testing::TemporaryDirectory home;
};

TEST_F(AppDelegateTest, ConfiguresThePromptWithTheApplicationsValues) {
  AppDelegate::initializeClass();
  auto prompt = RatingPrompt::sharedInstance();
  EXPECT_TRUE(prompt->promptAtLaunch());
  EXPECT_FLOAT_EQ(prompt->daysUntilPrompt(), 10);
  EXPECT_EQ(prompt->usesUntilPrompt(), 10u);
  EXPECT_EQ(prompt->eventsUntilPrompt(), 5u);
  EXPECT_FLOAT_EQ(prompt->remindPeriod(), 1);
  EXPECT_EQ(prompt->messageTitle(), "Enjoying Zerivudor?");
  EXPECT_EQ(prompt->remindButtonLabel(), "Remind Me Later");
  EXPECT_EQ(prompt->rateButtonLabel(), "Rate Zerivudor");
}

TEST_F(AppDelegateTest, BecomesTheDelegateAtLaunchAndImplementsNoOptionalCall) {
  AppDelegate::initializeClass();
  auto delegate = AppDelegate::make();
  auto application = ui::Application::sharedApplication();
  application->setDelegate(delegate);
  application->simulateLaunch();
  auto prompt = RatingPrompt::sharedInstance();
  EXPECT_EQ(prompt->delegate().get(), static_cast<RatingPromptDelegate*>(delegate.get()));
  for (const char* call : {"ratingPromptCouldNotConnectToAppStore", "ratingPromptDidDetectAppUpdate",
                           "ratingPromptShouldPromptForRating", "ratingPromptUserDidAttemptToRateApp",
                           "ratingPromptUserDidDeclineToRateApp", "ratingPromptUserDidRequestReminderToRateApp"}) {
    EXPECT_FALSE(prompt->delegate()->respondsToSelector(call)) << call;
  }
}

TEST_F(AppDelegateTest, GoodResultsCountEventsWithoutStartingACheck) {
  AppDelegate::initializeClass();
  auto prompt = RatingPrompt::sharedInstance();
  prompt->setFirstUsed(Date::make(Date::now()->timeIntervalSinceReferenceDate() - 30 * 86400.0));
  prompt->setEventCount(0);
  auto delegate = AppDelegate::make();
  for (int i = 0; i < 6; ++i) delegate->recordGoodResult();
  EXPECT_EQ(prompt->eventCount(), 6);
  EXPECT_TRUE(prompt->shouldPromptForRating());
  EXPECT_FALSE(prompt->currentlyChecking());
}

}  // namespace
}  // namespace zv
