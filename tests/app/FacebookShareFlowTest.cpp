// The history screen's Facebook share end to end: the stored token is dropped, the login leaves
// for the Facebook application, its reply URL comes back through the application delegate and
// the result is posted through the feed dialog of the loopback service.

#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/HistoryDetailViewController.h"
#include "sharing/services/facebook/FacebookTestSupport.h"

namespace zv::testing {
namespace {

class FacebookShareFlowTest : public FacebookTest {
 protected:
  void SetUp() override {
    FacebookTest::SetUp();
    application->setDelegate(AppDelegate::make());
    screen = std::make_shared<HistoryDetailViewController>();
    root->presentViewController(screen, false);
    ASSERT_TRUE(pumpRunLoopUntil([&] { return root->presentedViewController() == screen; }, 20.0));
    screen->setRecord(0.804, nullptr, "https://pics.example.org/r.png");
  }

  Ref<ui::Application> application = ui::Application::sharedApplication();
  Ref<HistoryDetailViewController> screen;
};

TEST_F(FacebookShareFlowTest, TheResultIsPostedAfterTheLoginReplyComesBack) {
  // A token from an earlier share does not count: every share logs in afresh.
  ASSERT_TRUE(SX::setAuthValue(service.issueToken(), kSXFacebookTokenAccount, "SXFacebook"));
  auto sharer = screen->shareOnFacebook();
  ASSERT_TRUE(sharer);
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  ASSERT_EQ(application->openedURLs().size(), 1u);
  EXPECT_TRUE(application->openedURLs()[0]->absoluteString().starts_with("fbauth://authorize?client_id=1234567890"));

  // Replies for other schemes are not taken; the login reply is.
  EXPECT_FALSE(application->simulateOpenURL(URL::make("fb999://authorize#access_token=x"), "com.example.other"));
  EXPECT_FALSE(application->simulateOpenURL(URL::make("https://www.mirovast.com/"), "com.example.other"));
  const auto reply = "fb1234567890://authorize#access_token=" + service.issueToken() + "&expires_in=5183999";
  EXPECT_TRUE(application->simulateOpenURL(URL::make(reply), "com.facebook.Facebook"));

  Ref<FacebookDialog> dialog;
  ASSERT_TRUE(pumpRunLoopUntil([&] {
    dialog = SXFacebook::facebook()->facebookDialog();
    return dialog && !dialog->webView()->isLoading() && dialog->webView()->pageTitle() == "Post to Wall";
  }, 20.0));
  submit(dialog, {}, "publish");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !service.posts().empty(); }, 20.0));
  const auto posts = service.posts();
  EXPECT_EQ(posts[0].fields.at("name"), "My average coherence score: 80%");
  EXPECT_EQ(posts[0].fields.at("picture"), "https://pics.example.org/r.png");
  EXPECT_EQ(posts[0].fields.at("link"), "https://www.mirovast.com/zerivudor");
  // The reply was used up: the same URL again is not taken.
  EXPECT_FALSE(application->simulateOpenURL(URL::make(reply), "com.facebook.Facebook"));
}

}  // namespace
}  // namespace zv::testing
