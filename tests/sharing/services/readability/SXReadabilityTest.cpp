// The Readability sharer end to end against the loopback Readability stand-in: xAuth login, the
// share form's remembered switches, and how unsuccessful replies end a share.
#include <gtest/gtest.h>

#include "platform/runloop/RunLoopPump.h"
#include "platform/system/UserDefaults.h"
#include "sharing/core/SX.h"
#include "sharing/services/readability/SXReadability.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/ReadabilityService.h"
#include "support/sharing/ServiceSharerTest.h"
#include "support/sharing/ShareReports.h"

namespace zv::testing {
namespace {

class SXReadabilityTest : public ServiceSharerTest {
 protected:
  void SetUp() override {
    ServiceSharerTest::SetUp();
    ASSERT_TRUE(service.start());
    configurator->set("readabilityConsumerKey", box(ReadabilityService::kConsumerKey));
    configurator->set("readabilitySecret", box(ReadabilityService::kConsumerSecret));
  }

  // Logs in through the credential form; the share form is then on screen.
  Ref<SXReadability> loggedIn(const std::string& link) {
    auto sharer = SXSharer::make<SXReadability>();
    sharer->setShareDelegate(outcomes);
    SXSharer::shareItem(sharer, SXItem::makeURL(URL::make(link), "page"));
    auto login = waitForForm(sharer, "Login");
    if (!login) return nullptr;
    typeInto(login, 0, ReadabilityService::kUser);
    typeInto(login, 1, ReadabilityService::kPassword);
    EXPECT_TRUE(pressRight(login));
    return sharer;
  }

  bool waitForEvents(std::size_t count) {
    return pumpRunLoopUntil([&] { return outcomes->events.size() >= count; }, 30.0);
  }

  ReadabilityService service;
};

TEST_F(SXReadabilityTest, LogsInWithXAuthAndBookmarksWithTheChosenSwitches) {
  // A refused password keeps the form with the service's words.
  auto sharer = SXSharer::make<SXReadability>();
  sharer->setShareDelegate(outcomes);
  SXSharer::shareItem(sharer, SXItem::makeURL(URL::make("https://example.org/a?b=c&d=e"), "page"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  typeInto(login, 0, ReadabilityService::kUser);
  typeInto(login, 1, "nope");
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(pumpRunLoopUntil([] { return topAlert() != nullptr; }, 20.0));
  EXPECT_EQ(topAlert()->message(), "Invalid username or password.");
  topAlert()->simulateTapButtonAtIndex(0);
  replaceIn(login, 1, ReadabilityService::kPassword);
  ASSERT_TRUE(pressRight(login));

  auto form = waitForForm(sharer, "");
  ASSERT_TRUE(form);
  ASSERT_EQ(form->sections().at(0).rows.size(), 2u);
  EXPECT_EQ(form->formValues()->stringForKey("favorite"), "0");
  flipSwitch(form, 0, 0);
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "finish"}));
  ASSERT_EQ(service.bookmarks().size(), 1u);
  auto bookmark = service.bookmarks()[0];
  EXPECT_EQ(bookmark["url"], "https://example.org/a?b=c&d=e");
  EXPECT_EQ(bookmark["favorite"], "1");
  EXPECT_EQ(bookmark["archive"], "0");
  EXPECT_TRUE(UserDefaults::standardUserDefaults()->boolForKey("SXReadability_isFavorite"));
  EXPECT_FALSE(UserDefaults::standardUserDefaults()->boolForKey("SXReadability_shouldArchive"));

  // A share that skips the form uses the stored choices.
  UserDefaults::standardUserDefaults()->setBool(true, "SXReadability_shouldArchive");
  outcomes->events.clear();
  auto again = SXSharer::make<SXReadability>();
  again->setShareDelegate(outcomes);
  again->setItem(SXItem::makeURL(URL::make("https://example.org/2")));
  ASSERT_TRUE(again->isAuthorized());
  ASSERT_TRUE(again->send());
  ASSERT_TRUE(waitForEvents(2));
  ASSERT_EQ(service.bookmarks().size(), 2u);
  EXPECT_EQ(service.bookmarks()[1]["favorite"], "1");
  EXPECT_EQ(service.bookmarks()[1]["archive"], "1");
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
}

TEST_F(SXReadabilityTest, TheWebLoginWithoutACallbackFailsAtOnce) {
  configurator->set("readabilityUseXAuth", box(false));
  ShareReports reports;
  auto sharer = SXSharer::make<SXReadability>();
  sharer->setShareDelegate(outcomes);
  SXSharer::shareItem(sharer, SXItem::makeURL(URL::make("https://example.org/a"), "page"));
  pumpRunLoopFor(0.3);
  EXPECT_EQ(reports.entries, std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"});
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Authorize Error");
  topAlert()->dismissWithClickedButtonIndex(0, false);
  EXPECT_TRUE(service.requests().empty());
  EXPECT_FALSE(SX::currentHelper()->currentView());
}

TEST_F(SXReadabilityTest, OnlyTheServicesErrorCodeAsksForANewLogin) {
  auto sharer = loggedIn("https://example.org/x");
  ASSERT_TRUE(sharer);
  ASSERT_TRUE(waitForForm(sharer, ""));
  // The word inside a message is not the error code.
  service.failNext(400, "{\"success\": false, \"messages\": [\"https://unauthenticated.example/ is blocked\"]}");
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "fail"}));
  EXPECT_EQ(outcomes->errors.back()->domain(), "Readability");
  EXPECT_EQ(outcomes->errors.back()->localizedDescription(), "https://unauthenticated.example/ is blocked");

  outcomes->events.clear();
  service.revokeAccessTokens();
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"start", "relogin"}));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend);
  EXPECT_EQ(service.signatureFailures(), 0) << service.lastComplaint();
  // The refused token is forgotten; refused again after the new login, the share ends.
  EXPECT_FALSE(SXSharer::make<SXReadability>()->isAuthorized());
  outcomes->events.clear();
  sharer->handleUnsuccessfulTicket(Data::make("{\"success\": false, \"error\": \"unauthenticated\"}"));
  EXPECT_EQ(outcomes->events, std::vector<std::string>{"fail"});
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
}

TEST_F(SXReadabilityTest, UnsuccessfulRepliesAreFailuresWithAnError) {
  auto sharer = SXSharer::make<SXReadability>();
  sharer->setShareDelegate(outcomes);
  sharer->setItem(SXItem::makeURL(URL::make("https://example.org/")));
  // An HTTP failure that claims success is still a failure.
  sharer->handleUnsuccessfulTicket(Data::make("{\"success\": 1}"));
  sharer->handleUnsuccessfulTicket(Data::make("{\"messages\": {\"url\": [\"Not a valid URL.\", \"second\"]}}"));
  sharer->handleUnsuccessfulTicket(Data::make("<html>Service Unavailable</html>"));
  sharer->handleUnsuccessfulTicket(nullptr);
  EXPECT_EQ(outcomes->events, (std::vector<std::string>{"fail", "fail", "fail", "fail"}));
  ASSERT_EQ(outcomes->errors.size(), 4u);
  for (const auto& error : outcomes->errors) ASSERT_TRUE(error);
  const std::string general = "The service encountered an error. Please try again later.";
  EXPECT_EQ(outcomes->errors[0]->localizedDescription(), general);
  EXPECT_EQ(outcomes->errors[1]->localizedDescription(), "Not a valid URL.");
  EXPECT_EQ(outcomes->errors[2]->localizedDescription(), general);
  EXPECT_EQ(outcomes->errors[3]->localizedDescription(), general);
  EXPECT_EQ(outcomes->errors[1]->code(), 2);

  // Only links; logging out drops the stored profile and token.
  sharer->setItem(SXItem::makeText("no"));
  EXPECT_FALSE(sharer->send());
  UserDefaults::standardUserDefaults()->setBool(true, SXReadability::kUserInfoKey);
  ASSERT_TRUE(SX::setAuthValue("k", "accessKey", "SXReadability"));
  sharer->logout();
  EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey(SXReadability::kUserInfoKey));
  EXPECT_EQ(SX::getAuthValueForKey("accessKey", "SXReadability"), std::nullopt);
}

}  // namespace
}  // namespace zv::testing
