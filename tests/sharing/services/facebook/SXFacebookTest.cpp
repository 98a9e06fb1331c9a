// The Facebook sharer end to end against the loopback service: logins by another application's
// reply URL (also after a restart), links through the feed dialog, text statuses and photos
// through the Graph API, the user's profile, refused tokens, failed logins and stored tokens.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Log.h"
#include "platform/storage/AtomicFile.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/Application.h"
#include "sharing/core/SXFormControllerLargeTextField.h"
#include "sharing/services/facebook/FacebookTestSupport.h"
#include "support/sharing/FormDriver.h"

namespace zv::testing {
namespace {

class SXFacebookTest : public FacebookTest {
 protected:
  void SetUp() override {
    FacebookTest::SetUp();
    for (const char* name :
         {kSXSendDidStartNotification, kSXSendDidFinish, kSXSendDidFailWithError, kSXSendDidCancel, kSXAuthDidFinish}) {
      tokens_.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, [this](const Ref<Notification>& n) {
            std::string entry = n->name();
            if (entry == kSXAuthDidFinish) entry += boolValueOf(n->userInfo()->objectForKey("success")) ? " YES" : " NO";
            reports.push_back(entry);
          }));
    }
  }
  void TearDown() override {
    for (const auto& token : tokens_) NotificationCenter::defaultCenter()->removeObserver(token);
    // The shared session's requests end before the test does, as those of the fixture's clients.
    EXPECT_TRUE(pumpRunLoopUntil([] { return SXFacebook::facebook()->requestsInFlight() == 0; }, 20.0));
    FacebookTest::TearDown();
  }

  bool waitForReport(const std::string& name) {
    return pumpRunLoopUntil([&] { return std::find(reports.begin(), reports.end(), name) != reports.end(); }, 20.0);
  }
  // A token the service knows, stored as a login would store it.
  std::string storeValidToken() {
    auto token = service.issueToken();
    EXPECT_TRUE(SX::setAuthValue(token, kSXFacebookTokenAccount, "SXFacebook"));
    EXPECT_TRUE(SX::setAuthValue("4102444800.000", kSXFacebookExpiryAccount, "SXFacebook"));  // 2100
    return token;
  }
  // The reply the Facebook application sends back after a successful login.
  Ref<URL> loginReply() {
    return URL::make("fb1234567890://authorize#access_token=" + service.issueToken() + "&expires_in=5183999");
  }
  Ref<SXFormControllerLargeTextField> waitForEditor(const Ref<SXSharer>& sharer) {
    Ref<SXFormControllerLargeTextField> editor;
    bool shown = pumpRunLoopUntil([&] {
      editor = dyn<SXFormControllerLargeTextField>(sharer->topViewController());
      return editor && editor->isVisible() && !SX::currentHelper()->isDismissingView();
    }, 20.0);
    return shown ? editor : nullptr;
  }
  Ref<FacebookDialog> waitForFeedDialog() {
    Ref<FacebookDialog> dialog;
    pumpRunLoopUntil([&] {
      dialog = SXFacebook::facebook()->facebookDialog();
      return dialog && !dialog->isDismissed() && !dialog->webView()->isLoading() &&
             dialog->webView()->pageTitle() == "Post to Wall";
    }, 20.0);
    return dialog;
  }
  static Ref<UserDefaults> defaults() { return UserDefaults::standardUserDefaults(); }
  // The process ends while the user is away logging in: its session, its login under way and its
  // sharer with it (the test keeps `before` only to let it go later).
  static void restartAfter(const Ref<SXFacebook>& before) {
    before->endLoginAttempt();
    SXFacebook::resetSharedSessionForTesting();
    UserDefaults::resetStandardUserDefaults();
  }

  std::vector<std::string> reports;
  Ref<ui::Application> application = ui::Application::sharedApplication();

 private:
  std::vector<ObjectPtr> tokens_;
};

TEST_F(SXFacebookTest, ALinkIsSharedAfterALoginThroughTheFacebookApplication) {
  LogCapture logs;
  configurator->set("appName", box("Zerivudor \"Calm\" Edition"));
  SXFacebook::flushAccessToken();
  auto item = SXItem::makeURL(URL::make("https://www.mirovast.com/zerivudor"), "My average coherence score: 80%");
  item->facebookURLSharePictureURI = "https://pics.example.org/r.png";
  auto sharer = SXSharer::shareItem<SXFacebook>(item);

  // Away to the Facebook application, with the share parked.
  ASSERT_EQ(application->openedURLs().size(), 1u);
  EXPECT_TRUE(application->openedURLs()[0]->absoluteString().starts_with("fbauth://authorize?client_id=1234567890"));
  EXPECT_NE(application->openedURLs()[0]->absoluteString().find("scope=publish_stream%2Coffline_access"),
            std::string::npos);
  EXPECT_TRUE(defaults()->dictionaryForKey(kSXStoredItemKey));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionShare);

  // Back with a token: kept in the keychain only, and the feed dialog opens.
  ASSERT_TRUE(SXFacebook::handleOpenURL(loginReply()));
  EXPECT_FALSE(defaults()->objectForKey(kSXStoredItemKey));
  EXPECT_EQ(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"), service.issuedTokens().back());
  EXPECT_FALSE(defaults()->objectForKey(kSXFacebookLegacyAccessTokenKey));
  auto dialog = waitForFeedDialog();
  ASSERT_TRUE(dialog);
  const auto address = dialog->loadingURL()->absoluteString();
  EXPECT_NE(address.find("picture=https%3A%2F%2Fpics.example.org%2Fr.png"), std::string::npos);
  EXPECT_EQ(address.find("description="), std::string::npos);
  renderKeyWindow("facebook-feed-dialog");

  submit(dialog, {{"message", "Breathing well"}}, "publish");
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " YES", kSXSendDidFinish}));
  ASSERT_EQ(service.posts().size(), 1u);
  const auto posts = service.posts();
  const auto& fields = posts[0].fields;
  EXPECT_EQ(fields.at("link"), "https://www.mirovast.com/zerivudor");
  EXPECT_EQ(fields.at("name"), "My average coherence score: 80%");
  EXPECT_EQ(fields.at("message"), "Breathing well");
  EXPECT_EQ(fields.at("actions"),
            "{\"name\":\"Get Zerivudor \\\"Calm\\\" Edition\",\"link\":\"https://www.mirovast.com/zerivudor\"}");
  for (const auto& line : logs.lines()) {
    for (const auto& token : service.issuedTokens()) EXPECT_EQ(line.find(token), std::string::npos) << line;
  }
}

TEST_F(SXFacebookTest, AfterARestartTheParkedShareGoesOn) {
  auto beforeRestart = SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://www.mirovast.com/zerivudor")));
  ASSERT_EQ(application->openedURLs().size(), 1u);
  // The process ends while the user is away; a new one gets the reply.
  restartAfter(beforeRestart);
  ASSERT_TRUE(SXFacebook::handleOpenURL(loginReply()));
  auto dialog = waitForFeedDialog();
  ASSERT_TRUE(dialog);
  submit(dialog, {}, "publish");
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  ASSERT_EQ(service.posts().size(), 1u);
  EXPECT_EQ(service.posts()[0].fields.at("name"), "https://www.mirovast.com/zerivudor");  // no title: the address
  beforeRestart->facebookDidNotLogin(true);  // that process's sharer would have ended with it
}

TEST_F(SXFacebookTest, AReplyNobodyAskedForIsRefused) {
  EXPECT_FALSE(SXFacebook::handleOpenURL(loginReply()));
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  EXPECT_FALSE(SXFacebook::facebook()->sessionDelegate().lock());
  EXPECT_TRUE(reports.empty());

  // After a restart, the share parked by a login abandoned long ago waits for no reply.
  SettableWallClock clock;
  const double start = clock.now();
  auto abandoned = SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://www.mirovast.com/zerivudor")));
  ASSERT_EQ(application->openedURLs().size(), 1u);
  ASSERT_TRUE(defaults()->dictionaryForKey(kSXStoredItemKey));
  restartAfter(abandoned);
  clock.set(start + FacebookClient::kLoginReplyLifetime + 1);
  EXPECT_FALSE(SXFacebook::handleOpenURL(loginReply()));
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  // A parked share without the time its login left (nothing says a login of ours waits) neither.
  defaults()->removeObjectForKey(kSXFacebookLoginStartedKey);
  clock.set(start);
  EXPECT_FALSE(SXFacebook::handleOpenURL(loginReply()));
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  EXPECT_FALSE(SXFacebook::facebook()->sessionDelegate().lock());
  abandoned->facebookDidNotLogin(true);
}

TEST_F(SXFacebookTest, ATextStatusIsEditedThenPosted) {
  storeValidToken();
  auto sharer = SXSharer::shareItem<SXFacebook>(SXItem::makeText("Calm"));
  auto editor = waitForEditor(sharer);
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->textView()->text(), "Calm");
  editor->textView()->insertText(" & steady");
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFinish}));
  ASSERT_EQ(service.posts().size(), 1u);
  EXPECT_EQ(service.posts()[0].path, "/me/feed");
  EXPECT_EQ(service.posts()[0].fields.at("message"), "Calm & steady");
  EXPECT_EQ(service.lastComplaint(), "");
}

TEST_F(SXFacebookTest, APhotoIsUploadedWithCaptionAndMessage) {
  storeValidToken();
  auto item = SXItem::makeImage(graphics::Image::make(graphics::Bitmap::filled(40, 30, 20, 120, 220)), "Ring");
  item->text = "after the exercise";
  auto sharer = SXSharer::shareItem<SXFacebook>(item);
  auto editor = waitForEditor(sharer);
  ASSERT_TRUE(editor);
  EXPECT_TRUE(editor->image());
  EXPECT_EQ(editor->textView()->text(), "Ring");
  ASSERT_TRUE(pressRight(editor));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  ASSERT_EQ(service.posts().size(), 1u);
  const auto posts = service.posts();
  const auto& post = posts[0];
  EXPECT_EQ(post.path, "/me/photos");
  EXPECT_EQ(post.fields.at("caption"), "Ring");
  EXPECT_EQ(post.fields.at("message"), "after the exercise");
  EXPECT_TRUE(post.fields.contains("actions"));
  ASSERT_EQ(post.files.size(), 1u);
  auto uploaded = graphics::Image::imageWithData(*Data::make(post.files[0].body));
  ASSERT_TRUE(uploaded);
  EXPECT_EQ(uploaded->size().width, 40);
}

TEST_F(SXFacebookTest, ARefusedTokenAsksForANewLoginAndSendsAgain) {
  const auto old = storeValidToken();
  service.expireToken(old);
  auto sharer = SXSharer::make<SXFacebook>();
  sharer->setItem(SXItem::makeText("again"));
  ASSERT_TRUE(sharer->isAuthorized());  // the stored token, not yet known to be refused
  ASSERT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend) << describe(sharer->lastError());
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  EXPECT_EQ(topAlert(), nullptr);
  ASSERT_EQ(application->openedURLs().size(), 1u);  // off to log in again
  // The extension of the refused token (tried on the first call) has ended too.
  ASSERT_TRUE(pumpRunLoopUntil([] { return SXFacebook::facebook()->requestsInFlight() == 0; }, 20.0));

  ASSERT_TRUE(SXFacebook::handleOpenURL(loginReply()));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  ASSERT_EQ(service.posts().size(), 1u);
  EXPECT_EQ(service.posts()[0].fields.at("message"), "again");
}

TEST_F(SXFacebookTest, ATokenRefusedAgainAfterTheNewLoginEndsTheShare) {
  service.expireToken(storeValidToken());
  auto sharer = SXSharer::make<SXFacebook>();
  sharer->setItem(SXItem::makeText("refused twice"));
  ASSERT_TRUE(sharer->isAuthorized());
  ASSERT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  ASSERT_EQ(application->openedURLs().size(), 1u);  // off to log in again, once
  ASSERT_TRUE(pumpRunLoopUntil([] { return SXFacebook::facebook()->requestsInFlight() == 0; }, 20.0));
  // The new login's token is refused as well.
  auto reply = loginReply();
  service.expireToken(service.issuedTokens().back());
  reports.clear();
  ASSERT_TRUE(SXFacebook::handleOpenURL(reply));
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  ASSERT_TRUE(pumpRunLoopUntil([] { return SXFacebook::facebook()->requestsInFlight() == 0; }, 20.0));
  EXPECT_EQ(application->openedURLs().size(), 1u);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_TRUE(service.posts().empty());
  if (auto alert = topAlert()) alert->dismissWithClickedButtonIndex(0, false);
}

TEST_F(SXFacebookTest, AFeedDialogThatPostedNothingOrWasRefusedDoesNotFinish) {
  storeValidToken();
  auto sharer = SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://x.org/a")));
  auto dialog = waitForFeedDialog();
  ASSERT_TRUE(dialog);
  submit(dialog, {}, "skip");
  ASSERT_TRUE(waitForReport(kSXSendDidCancel));
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidCancel}));

  // The token is refused inside the dialog: forgotten, and a new login starts.
  reports.clear();
  const auto token = SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook");
  ASSERT_TRUE(token);
  auto second = SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://x.org/b")));
  dialog = waitForFeedDialog();
  ASSERT_TRUE(dialog);
  for (const auto& issued : service.issuedTokens()) service.expireToken(issued);  // the stored one was extended
  submit(dialog, {}, "publish");
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kSXSendDidFinish), 0);
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  EXPECT_EQ(application->openedURLs().size(), 1u);
  EXPECT_TRUE(service.posts().empty());
  // The user gives up on the new login.
  EXPECT_TRUE(SXFacebook::handleOpenURL(URL::make("fb1234567890://authorize#error=access_denied")));
}

TEST_F(SXFacebookTest, AFailedLoginSaysSoAndDropsTheParkedShare) {
  auto item = SXItem::makeImage(graphics::Image::make(graphics::Bitmap::filled(3, 3, 1, 2, 3)), "t");
  SXSharer::shareItem<SXFacebook>(item);
  auto parked = defaults()->dictionaryForKey(kSXStoredItemKey);
  ASSERT_TRUE(parked);
  auto imagePath = parked->stringForKey("imagePath");
  ASSERT_TRUE(imagePath);
  EXPECT_TRUE(std::filesystem::exists(*imagePath));
  EXPECT_TRUE(imagePath->starts_with((ApplicationEnvironment::shared().cachesDirectory() / "SXImage").string()));

  ASSERT_TRUE(SXFacebook::handleOpenURL(URL::make("fb1234567890://authorize#error=server_error&error_code=1")));
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->title(), "Authorize Error");
  EXPECT_EQ(topAlert()->message(), "There was an error while authorizing");
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
  EXPECT_FALSE(defaults()->objectForKey(kSXStoredItemKey));
  EXPECT_FALSE(std::filesystem::exists(*imagePath));
  // A later reply finds nothing to carry on with.
  EXPECT_FALSE(SXFacebook::handleOpenURL(loginReply()));

  // The login page in the application ending in an error redirect ends the login the same way,
  // and the sharer lets go of itself.
  application->setOpenURLAnswer(false);
  reports.clear();
  std::weak_ptr<SXFacebook> weak = SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://x.org")));
  auto dialog = SXFacebook::facebook()->loginDialog();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(waitForPage(dialog, "Log In"));
  dialog->webView()->simulateLinkTap(URL::make("fbconnect://cancel?error_code=190&error_msg=Error"));
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
  EXPECT_FALSE(defaults()->objectForKey(kSXStoredItemKey));
  EXPECT_TRUE(weak.expired());
  if (auto alert = topAlert()) alert->dismissWithClickedButtonIndex(0, false);
}

TEST_F(SXFacebookTest, ACancelledLoginIsQuiet) {
  SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://x.org")));
  ASSERT_TRUE(SXFacebook::handleOpenURL(URL::make("fb1234567890://authorize#error=access_denied")));
  EXPECT_EQ(topAlert(), nullptr);
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
}

TEST_F(SXFacebookTest, TheUsersProfileIsStoredQuietly) {
  storeValidToken();
  auto sharer = SXSharer::getUserInfo<SXFacebook>();
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  EXPECT_TRUE(sharer->quiet());
  auto info = defaults()->dictionaryForKey(kSXFacebookUserInfoKey);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->stringForKey("id"), FacebookService::kUserId);
  EXPECT_EQ(info->stringForKey("email"), "");  // null in the reply
  SXFacebook::flushAccessToken();
  EXPECT_FALSE(defaults()->objectForKey(kSXFacebookUserInfoKey));
}

TEST_F(SXFacebookTest, AServiceFailureIsReportedOnceInTheServicesWords) {
  storeValidToken();
  service.failNextGraphCall(400, "text/javascript",
                            "{\"error\":{\"message\":\"(#341) Feed action request limit reached\",\"code\":341}}",
                            "/me/feed");
  auto sharer = SXSharer::make<SXFacebook>();
  sharer->setItem(SXItem::makeText("x"));
  ASSERT_TRUE(sharer->isAuthorized());
  ASSERT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  pumpRunLoopFor(0.2);
  EXPECT_EQ(std::count(reports.begin(), reports.end(), kSXSendDidFailWithError), 1);
  EXPECT_EQ(sharer->lastError()->localizedDescription(), "(#341) Feed action request limit reached");
  ASSERT_TRUE(topAlert());
  EXPECT_EQ(topAlert()->message(), "(#341) Feed action request limit reached");

  for (const char* body : {"<html><body>Oops</body></html>", "{\"error\":\"not a dictionary\"}",
                           "{\"error\":{\"code\":[190]}}"}) {
    reports.clear();
    service.failNextGraphCall(500, "text/html", body, "/me/feed");
    ASSERT_TRUE(sharer->tryToSend());
    ASSERT_TRUE(waitForReport(kSXSendDidFailWithError)) << body;
    pumpRunLoopFor(0.1);
    EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFailWithError})) << body;
    EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone) << body;
  }
  EXPECT_TRUE(service.posts().empty());
}

TEST_F(SXFacebookTest, AFeedPageThatNeverLoadsEndsTheShareWithAFailure) {
  storeValidToken();
  service.setStallDialogs(true);
  SXFacebook::facebook()->setDialogLoadTimeout(0.5);
  SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://x.org/a")));
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidFailWithError}));
}

TEST_F(SXFacebookTest, AServiceRefusingAnOversizedPhotoIsAFailureReportedOnce) {
  storeValidToken();
  // About 20 MB of noise, which no compression shrinks.
  auto bitmap = graphics::Bitmap::filled(2600, 2000, 0, 0, 0);
  std::uint32_t state = 12345;
  for (auto& byte : bitmap.rgba) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  for (std::size_t i = 3; i < bitmap.rgba.size(); i += 4) bitmap.rgba[i] = 255;
  auto sharer = SXSharer::make<SXFacebook>();
  sharer->setItem(SXItem::makeImage(graphics::Image::make(std::move(bitmap)), "big"));
  ASSERT_TRUE(sharer->isAuthorized());
  ASSERT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  pumpRunLoopFor(0.1);
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidStartNotification, kSXSendDidFailWithError}));
  EXPECT_NE(sharer->lastError()->localizedDescription().find("413"), std::string::npos)
      << sharer->lastError()->localizedDescription();
  EXPECT_TRUE(service.posts().empty());
}

TEST_F(SXFacebookTest, TokensLiveInTheKeychainAndAPlainCopyIsMovedThere) {
  defaults()->setObject(box("legacy-token"), kSXFacebookLegacyAccessTokenKey);
  defaults()->setObject(Date::now()->dateByAddingTimeInterval(3600), kSXFacebookLegacyExpiryDateKey);
  auto sharer = SXSharer::make<SXFacebook>();
  EXPECT_TRUE(sharer->isAuthorized());
  EXPECT_EQ(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"), "legacy-token");
  EXPECT_FALSE(defaults()->objectForKey(kSXFacebookLegacyAccessTokenKey));
  EXPECT_FALSE(defaults()->objectForKey(kSXFacebookLegacyExpiryDateKey));
  EXPECT_EQ(SXFacebook::facebook()->accessToken(), "legacy-token");

  SXFacebook::flushAccessToken();
  EXPECT_FALSE(SXSharer::make<SXFacebook>()->isAuthorized());
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));

  // An expired stored token does not authorize.
  SX::setAuthValue("old", kSXFacebookTokenAccount, "SXFacebook");
  SX::setAuthValue("1000.0", kSXFacebookExpiryAccount, "SXFacebook");
  EXPECT_FALSE(SXSharer::make<SXFacebook>()->isAuthorized());

  // A plain copy without an expiry is not taken as valid for ever: it is dropped.
  SXFacebook::flushAccessToken();
  defaults()->setObject(box("legacy-forever"), kSXFacebookLegacyAccessTokenKey);
  EXPECT_FALSE(SXSharer::make<SXFacebook>()->isAuthorized());
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  EXPECT_FALSE(defaults()->objectForKey(kSXFacebookLegacyAccessTokenKey));
}

TEST_F(SXFacebookTest, ATokenExtendedForAStoredLoginIsKept) {
  storeValidToken();
  ASSERT_TRUE(SXSharer::make<SXFacebook>()->isAuthorized());
  // No sharer listens to the session; its first request extends the token.
  auto reader = std::make_shared<RecordingRequestDelegate>();
  SXFacebook::facebook()->requestWithGraphPath("me", reader);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !SXFacebook::facebook()->isExtendingAccessToken() && reader->ended(); }, 20.0));
  ASSERT_EQ(service.requestsTo("/method/auth.extendSSOAccessToken").size(), 1u);
  const auto extended = service.issuedTokens().back();
  EXPECT_EQ(SXFacebook::facebook()->accessToken(), extended);
  EXPECT_EQ(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"), extended);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return SXFacebook::facebook()->requestsInFlight() == 0; }, 20.0));
}

TEST_F(SXFacebookTest, AnExtensionAnsweredAfterALogoutOrANewLoginIsNotKept) {
  // The hub's logout while the token of a stored login is being extended.
  storeValidToken();
  ASSERT_TRUE(SXSharer::make<SXFacebook>()->isAuthorized());
  auto reader = std::make_shared<RecordingRequestDelegate>();
  SXFacebook::facebook()->requestWithGraphPath("me", reader);
  ASSERT_TRUE(SXFacebook::facebook()->isExtendingAccessToken());
  SX::logoutOfService("SXFacebook");
  EXPECT_FALSE(SXFacebook::facebook()->isExtendingAccessToken());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return reader->ended(); }, 20.0));
  pumpRunLoopFor(0.5);
  EXPECT_FALSE(SXFacebook::facebook()->accessToken());
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  EXPECT_FALSE(SXSharer::make<SXFacebook>()->isAuthorized());

  // A login as another account lands while the old account's token is being extended.
  storeValidToken();
  ASSERT_TRUE(SXSharer::make<SXFacebook>()->isAuthorized());
  auto again = std::make_shared<RecordingRequestDelegate>();
  SXFacebook::facebook()->requestWithGraphPath("me", again);
  ASSERT_TRUE(SXFacebook::facebook()->isExtendingAccessToken());
  auto sharer = SXSharer::shareItem<SXFacebook>(SXItem::makeURL(URL::make("https://x.org")));
  SXFacebook::facebook()->facebookDialogLoginExpirationDate("other-account", Date::now()->dateByAddingTimeInterval(3600));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return again->ended(); }, 20.0));
  pumpRunLoopFor(0.5);
  EXPECT_EQ(SXFacebook::facebook()->accessToken(), "other-account");
  EXPECT_EQ(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"), "other-account");
  if (auto dialog = SXFacebook::facebook()->facebookDialog()) dialog->dismissWithSuccess(false, false);
}

TEST_F(SXFacebookTest, ALoginReplyThatNeverComesEndsTheShareOnceAndDropsWhatWasParked) {
  ManualClock clock(SystemClock().monotonic());
  clock.set(SystemClock().now());
  Clock::install(std::shared_ptr<Clock>(&clock, [](Clock*) {}));
  auto item = SXItem::makeImage(graphics::Image::make(graphics::Bitmap::filled(3, 3, 1, 2, 3)), "t");
  std::weak_ptr<SXFacebook> weak = SXSharer::shareItem<SXFacebook>(item);
  auto parked = defaults()->dictionaryForKey(kSXStoredItemKey);
  ASSERT_TRUE(parked && parked->stringForKey("imagePath"));
  const auto imagePath = *parked->stringForKey("imagePath");
  // The user never comes back from the other application within the reply's lifetime.
  clock.advance(FacebookClient::kLoginReplyLifetime - 1);
  pumpRunLoopFor(0.1);
  EXPECT_TRUE(reports.empty());
  clock.advance(2);
  const bool ended = pumpRunLoopUntil([&] { return !reports.empty(); }, 20.0);
  Clock::install(nullptr);
  ASSERT_TRUE(ended);
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
  EXPECT_FALSE(defaults()->objectForKey(kSXStoredItemKey));
  EXPECT_FALSE(std::filesystem::exists(imagePath));
  EXPECT_TRUE(weak.expired());
  if (auto alert = topAlert()) alert->dismissWithClickedButtonIndex(0, false);
  // The reply that comes after all is not taken and ends nothing twice.
  EXPECT_FALSE(SXFacebook::handleOpenURL(loginReply()));
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  EXPECT_EQ(reports.size(), 1u);

  // After a restart, a reply later than the lifetime ends the parked share the same way.
  reports.clear();
  SettableWallClock wall;
  const double start = wall.now();
  auto beforeRestart = SXSharer::shareItem<SXFacebook>(item);
  parked = defaults()->dictionaryForKey(kSXStoredItemKey);
  ASSERT_TRUE(parked && parked->stringForKey("imagePath"));
  const auto secondPath = *parked->stringForKey("imagePath");
  restartAfter(beforeRestart);
  wall.set(start + FacebookClient::kLoginReplyLifetime + 1);
  EXPECT_FALSE(SXFacebook::handleOpenURL(loginReply()));
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
  EXPECT_FALSE(defaults()->objectForKey(kSXStoredItemKey));
  EXPECT_FALSE(std::filesystem::exists(secondPath));
  EXPECT_FALSE(SX::getAuthValueForKey(kSXFacebookTokenAccount, "SXFacebook"));
  if (auto alert = topAlert()) alert->dismissWithClickedButtonIndex(0, false);
  beforeRestart->facebookDidNotLogin(true);  // that process's sharer would have ended with it
}

// Photo shares, each while logged out, the user never logging in: each new login replaces the
// one before it, whose share ends then, once, quietly, letting go of its sharer and picture; a
// logout ends the last. `loginFromPage`: the login page shows in the application instead.
class SXFacebookLoginsTest : public SXFacebookTest {
 protected:
  void shareUntilTheLastWaits(int shares, bool loginFromPage) {
    std::vector<std::weak_ptr<SXFacebook>> sharers;
    std::vector<int> outcomes(static_cast<std::size_t>(shares));
    std::vector<ObjectPtr> tokens;
    for (const char* name : {kSXAuthDidFinish, kSXSendDidFinish, kSXSendDidFailWithError, kSXSendDidCancel}) {
      tokens.push_back(NotificationCenter::defaultCenter()->addObserverForName(
          name, nullptr, [&](const Ref<Notification>& n) {
            for (std::size_t k = 0; k < sharers.size(); ++k) {
              if (sharers[k].lock().get() == dynamic_cast<SXFacebook*>(n->object().get())) ++outcomes[k];
            }
          }));
    }
    application->setOpenURLAnswer(!loginFromPage);
    const auto pictures = ApplicationEnvironment::shared().cachesDirectory() / "SXImage";
    auto picturesLeft = [&] {
      std::error_code ignored;
      return std::distance(std::filesystem::directory_iterator(pictures, ignored),
                           std::filesystem::directory_iterator());
    };
    std::vector<std::weak_ptr<FacebookDialog>> pages;
    for (int i = 0; i < shares; ++i) {
      auto picture = graphics::Image::make(graphics::Bitmap::filled(40, 30, static_cast<std::uint8_t>(i), 2, 3));
      sharers.push_back(SXSharer::shareItem<SXFacebook>(SXItem::makeImage(picture, "t")));
      if (loginFromPage) {
        pages.push_back(SXFacebook::facebook()->loginDialog());
        ASSERT_TRUE(pages.back().lock());
      }
    }
    pumpRunLoopFor(0.2);
    int live = 0;
    for (const auto& sharer : sharers) live += !sharer.expired();
    EXPECT_EQ(live, 1);
    EXPECT_FALSE(sharers.back().expired());
    for (int i = 0; i + 1 < shares; ++i) {
      EXPECT_EQ(outcomes[static_cast<std::size_t>(i)], 1) << "share " << i;
      if (loginFromPage) {
        auto page = pages[static_cast<std::size_t>(i)].lock();
        EXPECT_TRUE(!page || page->isDismissed()) << "page " << i;
      }
    }
    EXPECT_EQ(outcomes.back(), 0);
    EXPECT_EQ(reports, std::vector<std::string>(static_cast<std::size_t>(shares - 1), std::string(kSXAuthDidFinish) + " NO"));
    EXPECT_EQ(topAlert(), nullptr);
    EXPECT_EQ(picturesLeft(), 1);  // the waiting share's only

    SX::logoutOfService("SXFacebook");
    pumpRunLoopFor(0.2);
    EXPECT_TRUE(sharers.back().expired());
    EXPECT_EQ(outcomes.back(), 1);
    EXPECT_EQ(reports.size(), static_cast<std::size_t>(shares));
    EXPECT_EQ(picturesLeft(), 0);
    EXPECT_FALSE(defaults()->objectForKey(kSXStoredItemKey));
    auto page = SXFacebook::facebook()->loginDialog();
    EXPECT_TRUE(!page || page->isDismissed());
    // A reply that comes after all belongs to no login.
    EXPECT_FALSE(SXFacebook::handleOpenURL(loginReply()));
    EXPECT_EQ(reports.size(), static_cast<std::size_t>(shares));
    EXPECT_EQ(topAlert(), nullptr);
    for (const auto& token : tokens) NotificationCenter::defaultCenter()->removeObserver(token);
  }
};

TEST_F(SXFacebookLoginsTest, EachNewLoginEndsTheShareWaitingBeforeItAndALogoutTheLast) {
  shareUntilTheLastWaits(30, /*loginFromPage=*/false);
}

TEST_F(SXFacebookLoginsTest, EachNewLoginPageEndsTheShareWaitingBeforeItAndALogoutTheLast) {
  shareUntilTheLastWaits(4, /*loginFromPage=*/true);
}

TEST_F(SXFacebookTest, ParkedImagesAreReadOnceAndAlwaysDeleted) {
  auto path = SXFacebook::storedImagePath(graphics::Image::make(graphics::Bitmap::filled(5, 4, 9, 9, 9)));
  ASSERT_TRUE(path);
  auto image = SXFacebook::storedImage(*path);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size().width, 5);
  EXPECT_FALSE(std::filesystem::exists(*path));
  EXPECT_FALSE(SXFacebook::storedImage(*path));

  const auto junk = home.path() / "junk";
  ASSERT_EQ(storage::writeFileAtomically(junk, "not an image"), nullptr);
  EXPECT_FALSE(SXFacebook::storedImage(junk.string()));
  EXPECT_FALSE(std::filesystem::exists(junk));
}

// Parked pictures are the user's alone, and at start only the one the parked share names stays:
// those of a killed process or of a login that never came back go.
TEST_F(SXFacebookTest, AtStartOnlyTheParkedPictureStaysAndItIsPrivate) {
  auto modeOf = [](const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions() & std::filesystem::perms::mask;
  };
  auto stray = SXFacebook::storedImagePath(graphics::Image::make(graphics::Bitmap::filled(2, 2, 1, 1, 1)));
  auto parkedPath = SXFacebook::storedImagePath(graphics::Image::make(graphics::Bitmap::filled(3, 3, 1, 1, 1)));
  ASSERT_TRUE(stray && parkedPath);
  auto parked = MutableDictionary::make();
  parked->setObject(box(*parkedPath), "imagePath");
  defaults()->setObject(parked, kSXStoredItemKey);
  EXPECT_EQ(modeOf(*parkedPath), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(modeOf(std::filesystem::path(*parkedPath).parent_path()), std::filesystem::perms::owner_all);

  registerSharingServicesClasses();  // as at the next start
  EXPECT_FALSE(std::filesystem::exists(*stray));
  EXPECT_TRUE(std::filesystem::exists(*parkedPath));
  defaults()->removeObjectForKey(kSXStoredItemKey);
  registerSharingServicesClasses();
  EXPECT_FALSE(std::filesystem::exists(*parkedPath));
}

TEST_F(SXFacebookTest, ItemsWithoutTheirContentAreNotSent) {
  storeValidToken();
  auto sharer = SXSharer::make<SXFacebook>();
  auto text = SXItem::make();
  text->shareType = SXShareTypeText;
  sharer->setItem(text);
  EXPECT_FALSE(sharer->send());
  auto file = SXItem::makeFile(Data::make("x"), "f.txt", "text/plain", "t");
  sharer->setItem(file);
  EXPECT_FALSE(sharer->send());
  EXPECT_TRUE(service.requestsTo("/me/feed").empty());
}

}  // namespace
}  // namespace zv::testing
