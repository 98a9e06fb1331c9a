// The tweet sheet against the hub's screens on a manual clock: a sheet taken down with the screen
// under it at any point of its slide-in, a sheet that reported while it slid in, and a sheet shown
// while the screen under it is still going away.
#include <gtest/gtest.h>

#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/Composers.h"
#include "sharing/core/SX.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/services/twitter/SXiOS5Twitter.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

class Outcomes : public SXDefaultSharerDelegate {
 public:
  void sharerStartedSending(const Ref<SXSharer>&) override {}
  void sharerFinishedSending(const Ref<SXSharer>&) override { events.push_back("finish"); }
  void sharerFailedWithErrorShouldRelogin(const Ref<SXSharer>&, const Ref<Error>&, bool) override {
    events.push_back("fail");
  }
  void sharerCancelledSending(const Ref<SXSharer>&) override { events.push_back("cancel"); }
  std::vector<std::string> events;
};

class TweetSheetLeavingTest : public SharingTest {
 protected:
  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    ui::TweetComposeViewController::setAvailable(true);
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    outcomes = std::make_shared<Outcomes>();
  }
  void TearDown() override {
    ui::TweetComposeViewController::setAvailable(false);
    SX::currentHelper()->hideCurrentViewControllerAnimated(false);
    settleAll();
    SX::setRootViewController(nullptr);
    SharingTest::TearDown();
  }

  // A sheet presented over the hub's top screen; the sharer is only kept by itself.
  Ref<ui::TweetComposeViewController> presentSheet(std::weak_ptr<SXiOS5Twitter>& weak) {
    auto sharer = SXSharer::make<SXiOS5Twitter>();
    sharer->setShareDelegate(outcomes);
    sharer->setItem(SXItem::makeText("under way"));
    sharer->presentUI();
    weak = sharer;
    return sharer->sheet();
  }

  Ref<ui::ViewController> root;
  std::shared_ptr<Outcomes> outcomes;
};

// Taken down with the screen under it, before its slide-in began, mid-way, right at its end and
// after it: the share is cancelled once, the sharer goes, and the sheet is off the screen.
TEST_F(TweetSheetLeavingTest, ASheetTakenDownAtAnyPointOfItsSlideInIsCancelledOnce) {
  for (double after : {0.0, 0.1, 0.34, 0.35, 0.6}) {
    SCOPED_TRACE(::testing::Message() << "taken down " << after << " s into the slide-in");
    outcomes->events.clear();
    auto under = showThroughHub();
    std::weak_ptr<SXiOS5Twitter> weak;
    auto sheet = presentSheet(weak);
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(sheet->isBeingPresented());
    advance(after);

    // Another share's screen reaches the hub: the screen under the sheet goes, and the sheet with it.
    auto next = showThroughHub();
    EXPECT_EQ(outcomes->events, std::vector<std::string>{"cancel"});
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(sheet->presentingViewController());
    EXPECT_FALSE(sheet->view()->window());
    EXPECT_FALSE(under->isVisible());
    // A late report of the gone sheet ends nothing more.
    sheet->simulateFinish(ui::TweetComposeResult::Done);
    settleAll();
    EXPECT_EQ(outcomes->events, std::vector<std::string>{"cancel"});
    EXPECT_EQ(SX::getTopViewController(root), next->navigationController());
  }
}

// Covered by another screen and uncovered, the sheet waits; covered again and taken down with the
// screen under it, the share is cancelled once.
TEST_F(TweetSheetLeavingTest, ASheetOnlyCoveredWaitsAndCoveredWhenTakenDownIsCancelled) {
  showThroughHub();
  std::weak_ptr<SXiOS5Twitter> weak;
  auto sheet = presentSheet(weak);
  ASSERT_TRUE(sheet);
  settleAll();
  auto cover = std::make_shared<ui::ViewController>();
  sheet->presentViewController(cover, true);
  settleAll();
  cover->dismissViewControllerAnimated(true);
  settleAll();
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_TRUE(outcomes->events.empty());
  EXPECT_FALSE(weak.expired());

  sheet->presentViewController(cover, true);
  settleAll();
  showThroughHub();
  EXPECT_EQ(outcomes->events, std::vector<std::string>{"cancel"});
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(sheet->view()->window());
}

// The user sends while the sheet still slides in, and the screen under it is taken down before
// the sheet could leave by itself: one outcome, the sent one, and no screen left half shown.
TEST_F(TweetSheetLeavingTest, ASheetThatReportedWhileSlidingInAndIsTakenDownEndsOnce) {
  auto under = showThroughHub();
  std::weak_ptr<SXiOS5Twitter> weak;
  auto sheet = presentSheet(weak);
  ASSERT_TRUE(sheet);
  advance(0.1);
  sheet->simulateFinish(ui::TweetComposeResult::Done);
  EXPECT_EQ(outcomes->events, std::vector<std::string>{"finish"});
  advance(0.1);
  auto next = showThroughHub();
  EXPECT_EQ(outcomes->events, std::vector<std::string>{"finish"});
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(sheet->view()->window());
  // The screen under the sheet went with it and did not come back.
  EXPECT_FALSE(under->isVisible());
  EXPECT_FALSE(under->view()->window());
  EXPECT_TRUE(next->isVisible());
}

// A sheet shown over a hub screen that is still going away comes up once that screen is gone,
// and leaves the screen when the user is done.
TEST_F(TweetSheetLeavingTest, ASheetShownWhileTheScreenUnderItLeavesComesUpAndGoesAgain) {
  auto menu = showThroughHub();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  advance(0.1);
  std::weak_ptr<SXiOS5Twitter> weak;
  auto sheet = presentSheet(weak);
  ASSERT_TRUE(sheet);
  EXPECT_TRUE(outcomes->events.empty());
  settleAll();
  EXPECT_EQ(root->presentedViewController(), sheet);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_FALSE(menu->view()->window());

  sheet->simulateFinish(ui::TweetComposeResult::Done);
  settleAll();
  EXPECT_EQ(outcomes->events, std::vector<std::string>{"finish"});
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(sheet->view()->window());
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_TRUE(root->isVisible());
}

}  // namespace
}  // namespace zv::testing
