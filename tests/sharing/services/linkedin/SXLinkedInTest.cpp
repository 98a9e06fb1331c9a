// The LinkedIn sharer end to end against the loopback LinkedIn stand-in: the authorization-page
// login with the signed callback, the XML share post and its escaping, and the failure replies.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/runloop/RunLoopPump.h"
#include "platform/system/Keychain.h"
#include "sharing/core/SX.h"
#include "sharing/services/linkedin/SXLinkedIn.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/LinkedInService.h"
#include "support/sharing/ServiceSharerTest.h"

namespace zv::testing {
namespace {

class SXLinkedInTest : public ServiceSharerTest {
 protected:
  void SetUp() override {
    ServiceSharerTest::SetUp();
    ASSERT_TRUE(service.start());
    configurator->set("linkedInConsumerKey", box(LinkedInService::kConsumerKey));
    configurator->set("linkedInSecret", box(LinkedInService::kConsumerSecret));
    configurator->set("linkedInCallbackUrl", box(LinkedInService::kCallback));
  }

  Ref<SXFormControllerLargeTextField> waitForEditor(const Ref<SXSharer>& sharer) {
    return waitForScreen<SXFormControllerLargeTextField>(sharer, "editor");
  }

  // A sharer logged in through the authorization page, its editor on screen.
  Ref<SXLinkedIn> loggedIn(const Ref<SXItem>& item) {
    auto sharer = SXSharer::make<SXLinkedIn>();
    sharer->setShareDelegate(outcomes);
    SXSharer::shareItem(sharer, item);
    return sharer;
  }

  LinkedInService service;
};

TEST_F(SXLinkedInTest, LogsInAndPostsAnEscapedLinkShare) {
  auto sharer = loggedIn(SXItem::makeURL(URL::make("https://example.org/r?a=1&b=2"), "t"));
  auto editor = waitForEditor(sharer);
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->maxTextLength(), 700u);
  EXPECT_TRUE(editor->hasLink());
  const std::string comment = "Tom & \"Jerry\" <b>80%</b> &amp; \xF0\x9F\x92\x93";
  editor->textView()->setText(comment);
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return outcomes->events.size() >= 2; }, 30.0));
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "finish"}));
  ASSERT_EQ(service.shares().size(), 1u);
  auto share = service.shares()[0];
  EXPECT_EQ(share.comment, comment);
  EXPECT_EQ(share.submittedURL, "https://example.org/r?a=1&b=2");
  EXPECT_EQ(share.visibility, "anyone");
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
}

TEST_F(SXLinkedInTest, TheVisibilityCodeCannotInjectMarkup) {
  auto item = SXItem::makeText("plain");
  item->setCustomValue("connections-only</code><code>anyone", "visibility.code");
  auto sharer = loggedIn(item);
  auto editor = waitForEditor(sharer);
  ASSERT_TRUE(editor);
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return outcomes->events.size() >= 2; }, 30.0));
  ASSERT_EQ(service.shares().size(), 1u);
  EXPECT_EQ(service.shares()[0].visibility, "connections-only</code><code>anyone");
  EXPECT_EQ(service.shares()[0].comment, "plain");
  EXPECT_FALSE(service.shares()[0].submittedURL);
}

// Text copied from a document holds page and line breaks and other controls XML cannot carry:
// the share still parses, breaks stay breaks and the rest is left out.
TEST_F(SXLinkedInTest, ControlCharactersDoNotBreakTheShareXML) {
  auto sharer = loggedIn(SXItem::makeText("page\fone\vtwo\x01\x1B three\tfour"));
  auto editor = waitForEditor(sharer);
  ASSERT_TRUE(editor);
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return outcomes->events.size() >= 2; }, 30.0));
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "finish"})) << service.lastComplaint();
  ASSERT_EQ(service.shares().size(), 1u);
  EXPECT_EQ(service.shares()[0].comment, "page\none\ntwo three\tfour");
}

TEST_F(SXLinkedInTest, ALostLoginAsksForANewOneAndOtherFailuresCarryAnError) {
  auto sharer = loggedIn(SXItem::makeText("one"));
  ASSERT_TRUE(waitForEditor(sharer));
  service.failNext(500, "<html>Internal error</html>");
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return outcomes->events.size() >= 2; }, 30.0));
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "fail"}));
  ASSERT_TRUE(outcomes->errors.back());
  EXPECT_EQ(outcomes->errors.back()->localizedDescription(), "The service encountered an error. Please try again later.");

  outcomes->events.clear();
  service.revokeAccessTokens();
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return outcomes->events.size() >= 2; }, 30.0));
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "relogin"}));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend);
  EXPECT_TRUE(service.shares().empty());
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
}

TEST_F(SXLinkedInTest, ARefusedTokenLogsInOnceMoreAndNeverLoops) {
  outcomes->prompt = true;
  auto sharer = loggedIn(SXItem::makeText("one"));
  auto editor = waitForEditor(sharer);
  ASSERT_TRUE(editor);
  auto count = [&](const std::string& path) {
    int n = 0;
    for (const auto& request : service.requests()) n += request.path() == path;
    return n;
  };
  ASSERT_EQ(count("/uas/oauth/accessToken"), 1);
  // The authorization page approves at once; the service refuses every token all the same.
  service.refuseEveryShare();
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return outcomes->events.size() >= 4; }, 30.0));
  // A loop would go on posting and logging in.
  pumpRunLoopUntil([&] { return count("/v1/people/~/shares") > 2; }, 1.0);
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "relogin", "start", "fail"}));
  EXPECT_EQ(count("/v1/people/~/shares"), 2);
  EXPECT_EQ(count("/uas/oauth/accessToken"), 2);
  // The refused token is not kept for the next share.
  EXPECT_FALSE(SXSharer::make<SXLinkedIn>()->isAuthorized());
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
  if (auto alert = topAlert()) alert->dismissWithClickedButtonIndex(0, false);
}

TEST_F(SXLinkedInTest, ItemsAndTheAccessTokenRequestAreCheckedBeforeSending) {
  auto sharer = SXSharer::make<SXLinkedIn>();
  sharer->setItem(SXItem::makeURL(URL::make("https://example.org/")));
  EXPECT_FALSE(sharer->validateItem());
  EXPECT_FALSE(sharer->send());
  sharer->item()->title = "with a title";
  EXPECT_TRUE(sharer->validateItem());
  EXPECT_EQ(SXLinkedIn::escapeXML("&amp; <a href=\"x\">'"), "&amp;amp; &lt;a href=&quot;x&quot;&gt;&apos;");

  // An empty callback is signed nowhere; a configured one is.
  configurator->set("linkedInCallbackUrl", box(""));
  auto bare = SXSharer::make<SXLinkedIn>();
  auto request = OCMutableURLRequest::make(URL::make("https://api.linkedin.com/uas/oauth/accessToken"),
                                           OCConsumer::make("k", "s"));
  bare->tokenAccessModifyRequest(*request);
  EXPECT_EQ(request->extraOAuthParameters().count("oauth_callback"), 0u);
  configurator->set("linkedInCallbackUrl", box(LinkedInService::kCallback));
  auto configured = SXSharer::make<SXLinkedIn>();
  configured->tokenAccessModifyRequest(*request);
  EXPECT_EQ(request->extraOAuthParameters().at("oauth_callback"), LinkedInService::kCallback);
  EXPECT_TRUE(service.requests().empty());
}

TEST_F(SXLinkedInTest, TheHubsLogoutReachesALoginWhoseTokenIsOnItsWay) {
  service.holdAccessTokens();
  std::weak_ptr<SXLinkedIn> weak;
  {
    auto sharer = loggedIn(SXItem::makeText("one"));
    weak = sharer;
  }
  ASSERT_TRUE(pumpRunLoopUntil([&] { return service.accessTokensWaiting() == 1; }, 30.0));
  // The share menu's switch (and the Logout action) log out through the hub, with a sharer of
  // their own; the token the service then sends belongs to no login.
  SX::logoutOfService("SXLinkedIn");
  service.releaseAccessTokens();
  // The fetch holds the logging-in sharer until its answer has been handled.
  ASSERT_TRUE(pumpRunLoopUntil([&] { return weak.expired(); }, 30.0));
  EXPECT_FALSE(SX::getAuthValueForKey("accessKey", "SXLinkedIn"));
  EXPECT_FALSE(SX::getAuthValueForKey("accessSecret", "SXLinkedIn"));
  EXPECT_FALSE(SXSharer::make<SXLinkedIn>()->isAuthorized());
  EXPECT_TRUE(outcomes->events.empty());
  EXPECT_TRUE(service.shares().empty());
}

TEST_F(SXLinkedInTest, ALoginTheKeychainCannotStoreIsAFailureAndNothingIsSent) {
  // A folder where the keychain file belongs: nothing can be written.
  std::filesystem::create_directories(Keychain::shared().filePath());
  auto sharer = loggedIn(SXItem::makeText("one"));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return topAlert() != nullptr; }, 30.0));
  EXPECT_EQ(topAlert()->title(), "Access Error");
  EXPECT_EQ(topAlert()->message(), "Could not save your login for LinkedIn");
  topAlert()->dismissWithClickedButtonIndex(0, false);
  pumpRunLoopFor(0.3);
  // Not kept, not even in this sharer: no editor, no share, and the next share logs in again.
  EXPECT_FALSE(sharer->accessToken());
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_FALSE(dyn<SXFormControllerLargeTextField>(sharer->topViewController()));
  EXPECT_TRUE(service.shares().empty());
  std::filesystem::remove(Keychain::shared().filePath());
  EXPECT_FALSE(SXSharer::make<SXLinkedIn>()->isAuthorized());
}

}  // namespace
}  // namespace zv::testing
