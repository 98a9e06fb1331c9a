// Who may receive application requests without the dialog: the list, its checks, and its reload
// from the service (whose reply may hold entries that are not ids).

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/foundation/Exception.h"
#include "sharing/services/facebook/FacebookFrictionlessRequestSettings.h"
#include "sharing/services/facebook/FacebookTestSupport.h"

namespace zv::testing {
namespace {

TEST(FacebookFrictionlessSettingsTest, RecipientsAreCoveredOnlyWhenListed) {
  FacebookFrictionlessRequestSettings settings;
  EXPECT_FALSE(settings.isFrictionlessEnabledForRecipient("11"));
  EXPECT_TRUE(settings.isFrictionlessEnabledForRecipients(Array::make()));

  settings.updateRecipientCacheWithRecipients(std::vector<std::string>{"11", "22"});
  EXPECT_TRUE(settings.isFrictionlessEnabledForRecipient(" 11\t"));
  EXPECT_FALSE(settings.isFrictionlessEnabledForRecipient("1"));
  EXPECT_TRUE(settings.isFrictionlessEnabledForRecipients(Array::make({box("22"), box(11)})));
  EXPECT_FALSE(settings.isFrictionlessEnabledForRecipients(Array::make({box("22"), box(33)})));

  try {
    settings.isFrictionlessEnabledForRecipients(Array::make({box("11"), Dictionary::make()}));
    ADD_FAILURE() << "a dictionary passed as an id";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
    EXPECT_EQ(e.reason(), "items in fbids must be NSString or NSNumber");
  }

  settings.updateRecipientCacheWithRecipients(nullptr);
  EXPECT_TRUE(settings.allowedRecipients().empty());
}

class FacebookFrictionlessReloadTest : public FacebookTest {
 protected:
  Ref<FacebookClient> loggedInClient() {
    // Logged in just now (no token extension due); the login's own reload is waited for.
    auto client = makeClient();
    client->facebookDialogLoginExpirationDate(service.issueToken(), Date::now()->dateByAddingTimeInterval(3600));
    EXPECT_TRUE(pumpRunLoopUntil([&] { return !client->frictionlessRequestSettings()->activeRequest(); }, 20.0));
    return client;
  }
};

TEST_F(FacebookFrictionlessReloadTest, TheServicesListIsReadAndItsStrayEntriesSkipped) {
  auto client = loggedInClient();
  auto settings = client->frictionlessRequestSettings();
  client->enableFrictionlessRequests();
  client->enableFrictionlessRequests();
  EXPECT_TRUE(client->isFrictionlessRequestsEnabled());
  ASSERT_TRUE(settings->activeRequest());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !settings->activeRequest(); }, 20.0));
  EXPECT_EQ(settings->allowedRecipients(), (std::vector<std::string>{"11", "22", "33"}));
  EXPECT_EQ(service.requestsTo("/me/apprequestformerrecipients").size(), 2u);  // the login's and this one
  EXPECT_TRUE(service.requestsTo("/method/auth.extendSSOAccessToken").empty());
  EXPECT_TRUE(client->isFrictionlessEnabledForRecipient("22"));
}

TEST_F(FacebookFrictionlessReloadTest, TheSwitchMayBeReadFromAnyThread) {
  auto client = loggedInClient();
  auto settings = client->frictionlessRequestSettings();
  std::atomic<bool> seenOn{false};
  std::thread reader([&] {
    while (!settings->enabled()) std::this_thread::yield();
    seenOn = true;
  });
  client->enableFrictionlessRequests();
  reader.join();
  EXPECT_TRUE(seenOn);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !settings->activeRequest(); }, 20.0));
}

TEST_F(FacebookFrictionlessReloadTest, AFailedOrOddReloadKeepsTheList) {
  auto client = loggedInClient();
  auto settings = client->frictionlessRequestSettings();
  settings->updateRecipientCacheWithRecipients(std::vector<std::string>{"7"});
  service.failNextGraphCall(200, "text/javascript", "{\"data\":\"not a list\"}");
  client->reloadFrictionlessRecipientCache();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !settings->activeRequest(); }, 20.0));
  EXPECT_EQ(settings->allowedRecipients(), (std::vector<std::string>{"7"}));

  service.failNextGraphCall(500, "text/html", "<html>down</html>");
  client->reloadFrictionlessRecipientCache();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !settings->activeRequest(); }, 20.0));
  EXPECT_EQ(settings->allowedRecipients(), (std::vector<std::string>{"7"}));
}

TEST_F(FacebookFrictionlessReloadTest, AReloadAnsweredAfterLogoutLeavesTheListEmpty) {
  auto client = loggedInClient();
  auto settings = client->frictionlessRequestSettings();
  client->reloadFrictionlessRecipientCache();
  ASSERT_TRUE(settings->activeRequest());
  client->logout();
  // The reload's answer about the logged-out user still arrives.
  ASSERT_TRUE(pumpRunLoopUntil([&] { return client->requestsInFlight() == 0; }, 20.0));
  EXPECT_EQ(service.requestsTo("/me/apprequestformerrecipients").size(), 2u);
  EXPECT_TRUE(settings->allowedRecipients().empty());
  EXPECT_FALSE(client->isFrictionlessEnabledForRecipient("11"));
}

}  // namespace
}  // namespace zv::testing
