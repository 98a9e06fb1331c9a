// The web dialogs: reading the redirect's parameters, and the feed and request dialogs driven
// through their pages as a user would (the pages come from the loopback service).

#include <gtest/gtest.h>

#include "platform/net/NetErrors.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "sharing/services/facebook/FacebookDialog.h"
#include "sharing/services/facebook/FacebookTestSupport.h"

namespace zv::testing {
namespace {

TEST(FacebookDialogParametersTest, ValuesAreFoundOnlyAsWholeParameters) {
  struct Case {
    std::string url;
    std::string needle;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"fbconnect://success#access_token=abc&expires_in=0", "access_token=", "abc"},
      {"fbconnect://success#access_token=abc&expires_in=0", "expires_in=", "0"},
      {"fbconnect://success#access_token=abc", "token=", std::nullopt},
      {"token=x&y=1", "token=", "x"},
      {"fbconnect://success?a=1&msg=a%20b%26c", "msg=", "a b&c"},
      {"fbconnect://success?a=1", "b=", std::nullopt},
      {"fbconnect://success?b=", "b=", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FacebookDialog::getStringFromUrl(c.url, c.needle), c.expected) << c.url;
}

TEST(FacebookDialogParametersTest, DialogAddressesEscapeEveryValue) {
  EXPECT_EQ(FacebookDialog::generateURL("https://m.facebook.com/dialog/feed", nullptr)->absoluteString(),
            "https://m.facebook.com/dialog/feed");
  EXPECT_EQ(FacebookDialog::generateURL("https://m.facebook.com/dialog/feed", Dictionary::make())->absoluteString(),
            "https://m.facebook.com/dialog/feed?");
  auto params = Dictionary::make({{"redirect_uri", box("fbconnect://success")}, {"name", box("a b")}});
  EXPECT_EQ(FacebookDialog::generateURL("https://m.facebook.com/dialog/feed", params)->absoluteString(),
            "https://m.facebook.com/dialog/feed?redirect_uri=fbconnect%3A%2F%2Fsuccess&name=a%20b");
}

class RecordingDialogDelegate : public Object, public FacebookDialogDelegate {
 public:
  void dialogDidComplete(FacebookDialog&) override { events.push_back("complete"); }
  void dialogCompleteWithUrl(const Ref<URL>& url) override { events.push_back("completeWithUrl " + url->absoluteString()); }
  void dialogDidNotCompleteWithUrl(const Ref<URL>& url) override {
    events.push_back("notCompleteWithUrl " + (url ? url->absoluteString() : std::string("-")));
  }
  void dialogDidNotComplete(FacebookDialog&) override { events.push_back("notComplete"); }
  void dialogDidFailWithError(FacebookDialog&, const Ref<Error>& e) override {
    events.push_back("fail");
    error = e;
  }
  bool dialogShouldOpenURLInExternalBrowser(FacebookDialog&, const Ref<URL>& url) override {
    events.push_back("ask " + url->absoluteString());
    return allowBrowser;
  }
  bool respondsToSelector(std::string_view) const override { return true; }
  bool ended() const {
    for (const auto& e : events) {
      if (e == "complete" || e == "notComplete" || e == "fail") return true;
    }
    return false;
  }

  std::vector<std::string> events;
  Ref<Error> error;
  bool allowBrowser = true;
};

class FacebookDialogFlowTest : public FacebookTest {
 protected:
  void SetUp() override {
    FacebookTest::SetUp();
    client = makeClient();
    client->facebookDialogLoginExpirationDate(service.issueToken(), Date::now()->dateByAddingTimeInterval(3600));
    ASSERT_TRUE(pumpRunLoopUntil([&] { return !client->frictionlessRequestSettings()->activeRequest(); }, 20.0));
  }
  Ref<FacebookDialog> openFeed() {
    auto params = MutableDictionary::make({{"link", box("https://www.mirovast.com/zerivudor")},
                                           {"name", box("My average coherence score: 80%")},
                                           {"actions", box("{\"name\":\"Get Zerivudor\",\"link\":\"https://x.org\"}")}});
    client->dialog("feed", params, delegate);
    return client->facebookDialog();
  }
  bool waitForEnd() { return pumpRunLoopUntil([&] { return delegate->ended(); }, 20.0); }
  bool isOnScreen(const Ref<FacebookDialog>& dialog) {
    auto window = ui::Application::sharedApplication()->keyWindow();
    return dialog->window() == window && dialog->superview() == dialog->modalBackgroundView();
  }

  Ref<FacebookClient> client;
  std::shared_ptr<RecordingDialogDelegate> delegate = std::make_shared<RecordingDialogDelegate>();
};

TEST_F(FacebookDialogFlowTest, ALinkIsPostedThroughTheFeedPage) {
  auto dialog = openFeed();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(isOnScreen(dialog));
  EXPECT_TRUE(dialog->spinner()->isAnimating());
  // The page sits inside the frame's border on every side, the close button in the corner.
  const auto box = dialog->bounds();
  const auto page = dialog->webView()->frame();
  EXPECT_EQ(page.x(), 11);
  EXPECT_EQ(page.y(), 11);
  EXPECT_EQ(page.width(), box.width() - 22);
  EXPECT_EQ(page.height(), box.height() - 21);
  EXPECT_EQ(dialog->closeButton()->frame(), graphics::Rect(2, 2, 29, 29));
  ASSERT_TRUE(waitForPage(dialog, "Post to Wall"));
  EXPECT_FALSE(dialog->spinner()->isAnimating());
  const auto address = dialog->loadingURL()->absoluteString();
  EXPECT_NE(address.find("app_id=1234567890"), std::string::npos);
  EXPECT_NE(address.find("redirect_uri=fbconnect%3A%2F%2Fsuccess"), std::string::npos);

  submit(dialog, {{"message", "Calm today"}}, "publish");
  ASSERT_TRUE(waitForEnd());
  ASSERT_EQ(delegate->events.size(), 2u);
  EXPECT_TRUE(delegate->events[0].starts_with("completeWithUrl fbconnect://success?post_id=4_")) << delegate->events[0];
  EXPECT_EQ(delegate->events[1], "complete");
  ASSERT_EQ(service.posts().size(), 1u);
  EXPECT_EQ(service.posts()[0].fields.at("message"), "Calm today");
  EXPECT_EQ(service.posts()[0].fields.at("name"), "My average coherence score: 80%");
  // The closing animation ends with the dialog off the window.
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !dialog->window(); }, 20.0));
  EXPECT_FALSE(dialog->isShowing());
}

TEST_F(FacebookDialogFlowTest, LinksLeaveForTheBrowserUnlessTheDelegateRefuses) {
  auto dialog = openFeed();
  ASSERT_TRUE(waitForPage(dialog, "Post to Wall"));
  auto help = FacebookService::linkNamed(dialog->webView()->pageHTML(), "Help");
  ASSERT_TRUE(help);
  auto application = ui::Application::sharedApplication();

  delegate->allowBrowser = false;
  dialog->webView()->simulateLinkTap(URL::make(*help));
  EXPECT_TRUE(application->openedURLs().empty());
  EXPECT_FALSE(dialog->webView()->isLoading());

  delegate->allowBrowser = true;
  dialog->webView()->simulateLinkTap(URL::make(*help));
  ASSERT_EQ(application->openedURLs().size(), 1u);
  EXPECT_EQ(application->openedURLs()[0]->absoluteString(), *help);
  EXPECT_FALSE(dialog->webView()->isLoading());
  EXPECT_FALSE(delegate->ended());
  EXPECT_EQ(dialog->webView()->pageTitle(), "Post to Wall");
}

TEST_F(FacebookDialogFlowTest, CancelRedirectsEndWithAnErrorOrAsNotCompleted) {
  auto dialog = openFeed();
  ASSERT_TRUE(waitForPage(dialog, "Post to Wall"));
  dialog->webView()->simulateLinkTap(URL::make("fbconnect://cancel?error_code=4201&error_msg=User%20canceled%20the%20Dialog"));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"fail"}));
  EXPECT_EQ(delegate->error->domain(), kFacebookErrorDomain);
  EXPECT_EQ(delegate->error->code(), 4201);
  EXPECT_EQ(delegate->error->userInfo()->stringForKey("error_msg"), "User canceled the Dialog");
  // Nothing after the end.
  dialog->webView()->simulateLinkTap(URL::make("fbconnect://success"));
  EXPECT_EQ(delegate->events.size(), 1u);

  delegate = std::make_shared<RecordingDialogDelegate>();
  auto second = openFeed();
  ASSERT_TRUE(waitForPage(second, "Post to Wall"));
  auto cancel = FacebookService::linkNamed(second->webView()->pageHTML(), "Cancel");
  ASSERT_TRUE(cancel);
  second->webView()->simulateLinkTap(URL::make(*cancel));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"notCompleteWithUrl fbconnect://cancel", "notComplete"}));
}

TEST_F(FacebookDialogFlowTest, AShortPseudoAddressCountsAsSuccess) {
  auto dialog = openFeed();
  ASSERT_TRUE(waitForPage(dialog, "Post to Wall"));
  dialog->webView()->simulateLinkTap(URL::make("fbconnect:x"));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"completeWithUrl fbconnect:x", "complete"}));
}

TEST_F(FacebookDialogFlowTest, ThePagesSkipButtonPostsNothing) {
  auto dialog = openFeed();
  ASSERT_TRUE(waitForPage(dialog, "Post to Wall"));
  submit(dialog, {}, "skip");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"completeWithUrl fbconnect://success", "complete"}));
  EXPECT_TRUE(service.posts().empty());
}

TEST_F(FacebookDialogFlowTest, ThePageThatNeverComesEndsWithATimeOut) {
  service.setStallDialogs(true);
  client->setDialogLoadTimeout(0.5);
  auto dialog = openFeed();
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"fail"}));
  EXPECT_EQ(delegate->error->domain(), kURLErrorDomain);
  EXPECT_EQ(delegate->error->code(), net::kURLErrorTimedOut);
}

TEST_F(FacebookDialogFlowTest, TheCloseButtonCancelsAPageThatWaits) {
  auto dialog = openFeed();
  ASSERT_TRUE(waitForPage(dialog, "Post to Wall"));
  ASSERT_TRUE(dialog->closeButton()->simulateTap());
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"notCompleteWithUrl -", "notComplete"}));
  ASSERT_TRUE(dialog->closeButton()->simulateTap());  // a second tap on the closing dialog
  EXPECT_EQ(delegate->events.size(), 2u);
}

TEST_F(FacebookDialogFlowTest, RequestsToCoveredRecipientsLoadUnseenAndUpdateTheList) {
  client->enableFrictionlessRequests();
  auto settings = client->frictionlessRequestSettings();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !settings->activeRequest(); }, 20.0));
  ASSERT_EQ(settings->allowedRecipients(), (std::vector<std::string>{"11", "22", "33"}));

  client->dialog("apprequests", MutableDictionary::make({{"message", box("Breathe with me")}, {"to", box("[\"11\",22]")}}),
                 delegate);
  auto dialog = client->facebookDialog();
  EXPECT_TRUE(dialog->isViewInvisible());
  EXPECT_FALSE(dialog->window());
  EXPECT_NE(dialog->loadingURL()->absoluteString().find("frictionless=1"), std::string::npos);
  ASSERT_TRUE(waitForPage(dialog, "Send Requests"));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return dialog->window() != nullptr; }, 20.0));  // revealed after the load

  submit(dialog, {}, "publish");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(settings->allowedRecipients(), (std::vector<std::string>{"11", "44"}));

  // Someone not listed: the dialog shows at once. A "to" that is not JSON is split at commas.
  delegate = std::make_shared<RecordingDialogDelegate>();
  client->dialog("apprequests", MutableDictionary::make({{"to", box("11,99")}}), delegate);
  EXPECT_FALSE(client->facebookDialog()->isViewInvisible());
  EXPECT_TRUE(client->facebookDialog()->window());
  // Recipients that are not ids do not stop the dialog. The dialog it replaces ends, off screen.
  auto replaced = client->facebookDialog();
  client->dialog("apprequests", MutableDictionary::make({{"to", box("[{\"id\":1}]")}}), delegate);
  EXPECT_FALSE(client->facebookDialog()->isViewInvisible());
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"notComplete"}));
  EXPECT_FALSE(replaced->window());
}

}  // namespace
}  // namespace zv::testing
