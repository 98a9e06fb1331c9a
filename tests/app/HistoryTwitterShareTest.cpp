// The history detail screen's Twitter share with the real Twitter sharers, against the loopback
// Twitter stand-in: the OAuth road (login, edit, post) and the platform's tweet sheet.
#include <gtest/gtest.h>

#include "app/HistoryDetailViewController.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/Composers.h"
#include "sharing/core/SX.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/services/twitter/SXTwitter.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/SharingTestSupport.h"
#include "support/sharing/TwitterService.h"

namespace zv::testing {
namespace {

class HistoryTwitterShareTest : public SharingTest {
 protected:
  HistoryTwitterShareTest() : SharingTest(/*manualClock=*/false) {}

  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    ASSERT_TRUE(service.start());
    configurator->set("appURL", box("https://www.mirovast.com/tavrilune"));
    configurator->set("twitterConsumerKey", box(TwitterService::kConsumerKey));
    configurator->set("twitterSecret", box(TwitterService::kConsumerSecret));
    configurator->set("twitterUseXAuth", box(true));
    configurator->set("bitLyLogin", box(TwitterService::kShortenLogin));
    configurator->set("bitLyKey", box(TwitterService::kShortenKey));
    tabRoot = std::make_shared<ui::ViewController>();
    showRoot(tabRoot);
    screen = std::make_shared<HistoryDetailViewController>();
    tabRoot->presentViewController(screen, false);
    screen->setRecord(0.804, graphics::Image::make(graphics::Bitmap::filled(3, 3, 9, 9, 9)), std::nullopt);
  }

  void TearDown() override {
    ui::TweetComposeViewController::setAvailable(false);
    pumpRunLoopUntil([] { return !SX::currentHelper()->isDismissingView() && !SX::currentHelper()->currentView(); },
                     5.0);
    SharingTest::TearDown();
  }

  template <class Screen>
  Ref<Screen> waitForTop(const Ref<SXSharer>& sharer) {
    Ref<Screen> top;
    bool shown = pumpRunLoopUntil([&] {
      top = dyn<Screen>(sharer->topViewController());
      return top && top->isVisible() && !SX::currentHelper()->isDismissingView();
    }, 20.0);
    EXPECT_TRUE(shown);
    return shown ? top : nullptr;
  }

  TwitterService service;
  Ref<ui::ViewController> tabRoot;
  Ref<HistoryDetailViewController> screen;
};

TEST_F(HistoryTwitterShareTest, TheResultIsLoggedInEditedAndPosted) {
  auto sharer = screen->shareOnTwitter();
  ASSERT_TRUE(dyn<SXTwitter>(sharer));
  auto login = waitForTop<SXFormController>(sharer);
  ASSERT_TRUE(login);
  typeInto(login, 0, TwitterService::kUser);
  typeInto(login, 1, TwitterService::kPassword);
  ASSERT_TRUE(pressRight(login));
  auto editor = waitForTop<SXFormControllerLargeTextField>(sharer);
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->textView()->text(), "My average coherence score: 80% https://bit.ly/sh0rt");
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !service.statuses().empty(); }, 30.0));
  EXPECT_EQ(service.statuses(), std::vector<std::string>{"My average coherence score: 80% https://bit.ly/sh0rt"});
  EXPECT_EQ(service.longURLs(), std::vector<std::string>{"https://www.mirovast.com/tavrilune"});
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
  EXPECT_EQ(SX::currentHelper()->rootViewController(), screen);
}

TEST_F(HistoryTwitterShareTest, TheTweetSheetGetsTheResultPictureAndLink) {
  ui::TweetComposeViewController::setAvailable(true);
  screen->shareOnTwitter();
  Ref<ui::TweetComposeViewController> sheet;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    sheet = dyn<ui::TweetComposeViewController>(screen->presentedViewController());
    return sheet != nullptr;
  }, 20.0));
  EXPECT_EQ(sheet->initialText(), "My average coherence score: 80%");
  EXPECT_EQ(sheet->images().size(), 1u);
  ASSERT_EQ(sheet->urls().size(), 1u);
  EXPECT_EQ(sheet->urls()[0]->absoluteString(), "https://www.mirovast.com/tavrilune");
  sheet->simulateFinish(ui::TweetComposeResult::Cancelled);
  EXPECT_TRUE(service.requests().empty());
}

}  // namespace
}  // namespace zv::testing
