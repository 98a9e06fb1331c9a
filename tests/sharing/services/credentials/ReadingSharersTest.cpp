// The reading-list sharers against the loopback reading services: credentials and keys as escaped
// form fields over https, the Read It Later JSON fields, and the Google Reader session (client
// login, cookies, authorization header and edit token).
#include "CredentialTestSupport.h"
#include "platform/system/UserDefaults.h"
#include "sharing/core/SXOfflineQueue.h"
#include "sharing/services/reading/SXReadingSharers.h"

namespace zv::testing {
namespace {

using Reading = CredentialSharerTest;
constexpr const char* kLink = "https://example.org/read?id=7&x=%2F";

void storeLogin(const std::string& sharerId, const char* userKey = "username") {
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kUser, userKey, sharerId));
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kPassword, "password", sharerId));
}

TEST_F(Reading, InstapaperLogsInAndSendsAtOnceWithTheTextFlattened) {
  auto item = SXItem::makeURL(URL::make(kLink), "A & B = \"C\"");
  item->text = "<p>first</p>\n<b>second</b>";
  auto sharer = SXSharer::shareItem<SXInstapaper>(item);
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  // No share form: the add call follows the login check.
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  auto add = service.callsTo("/api/add");
  ASSERT_EQ(add.size(), 1u);
  EXPECT_EQ(add[0].status, 201);
  EXPECT_EQ(add[0].fields["url"], kLink);
  EXPECT_EQ(add[0].fields["title"], "A & B = \"C\"");
  EXPECT_EQ(add[0].fields["selection"], "first \n second");  // tags gone, the line break kept
}

TEST_F(Reading, InstapaperRejectionsAndServiceErrors) {
  storeLogin("SXInstapaper");
  service.failNext("www.instapaper.com", 500, {}, "");
  auto sharer = SXSharer::make<SXInstapaper>();
  sharer->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  ASSERT_TRUE(sharer->lastError());
  EXPECT_EQ(sharer->lastError()->localizedDescription(), "The service encountered an error. Please try again later.");

  // A stored password the service no longer takes: the login form, with the send pending.
  ASSERT_TRUE(SX::setAuthValue("stale", "password", "SXInstapaper"));
  auto again = SXSharer::make<SXInstapaper>();
  again->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(again->tryToSend());
  ASSERT_TRUE(waitForForm(again, "Login"));
  EXPECT_EQ(again->pendingAction(), SXPendingActionSend);
  EXPECT_EQ(service.calls().back().status, 403);
}

TEST_F(Reading, CancellingTheNewLoginARefusedSendAskedForEndsThatShareOnce) {
  storeLogin("SXInstapaper");
  ASSERT_TRUE(SX::setAuthValue("stale", "password", "SXInstapaper"));
  auto sharer = SXSharer::make<SXInstapaper>();
  sharer->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(sharer->tryToSend());
  auto form = waitForForm(sharer, "Login");
  ASSERT_TRUE(form);
  ASSERT_EQ(count(kSXSendDidFailWithError), 1);
  ASSERT_TRUE(pressLeft(form));
  pumpRunLoopFor(0.3);
  // The failure was the share's one outcome; nothing is left to resend after a later login.
  EXPECT_EQ(count(kSXSendDidFailWithError), 1);
  EXPECT_EQ(count(kSXSendDidCancel), 0);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
}

TEST_F(Reading, AServiceThatIsDownIsReportedOnce) {
  storeLogin("SXInstapaper");
  storeLogin("SXReadItLater");
  service.stop();
  auto instapaper = SXSharer::make<SXInstapaper>();
  instapaper->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(instapaper->send());
  auto pocket = SXSharer::make<SXReadItLater>();
  pocket->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(pocket->send());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return count(kSXSendDidFailWithError) == 2; }, 20.0));
  pumpRunLoopFor(0.2);
  EXPECT_EQ(count(kSXSendDidFailWithError), 2);
  EXPECT_EQ(count(kSXSendDidFinish), 0);
  EXPECT_EQ(pocket->lastError()->localizedDescription(), "The service encountered an error. Please try again later.");
}

TEST_F(Reading, APasswordFollowsARedirectOnlyOverHTTPSToTheSameHost) {
  storeLogin("SXInstapaper");
  auto send = [&] {
    auto sharer = SXSharer::make<SXInstapaper>();
    sharer->setItem(SXItem::makeURL(URL::make(kLink), "t"));
    reports.clear();
    EXPECT_TRUE(sharer->send());
    EXPECT_TRUE(pumpRunLoopUntil([&] { return count(kSXSendDidFinish) + count(kSXSendDidFailWithError) > 0; }, 20.0));
  };
  // To plain http: the share fails and the plain server hears nothing.
  redirectNextToPlainHTTP("www.instapaper.com");
  send();
  EXPECT_EQ(count(kSXSendDidFailWithError), 1);
  pumpRunLoopFor(0.2);
  EXPECT_TRUE(plain.requests().empty());
  // To another host over https: not followed either.
  service.failNext("www.instapaper.com", 307, {"Location: https://readitlaterlist.com/v2/send"}, "");
  send();
  EXPECT_EQ(count(kSXSendDidFailWithError), 1);
  for (const auto& call : service.calls()) EXPECT_NE(call.host, "readitlaterlist.com");
  // To the same host over https: followed.
  service.failNext("www.instapaper.com", 307, {"Location: https://www.instapaper.com/api/add"}, "");
  send();
  EXPECT_EQ(count(kSXSendDidFinish), 1) << service.lastComplaint();
}

TEST_F(Reading, InstapaperWrongPasswordAtLoginStoresNothing) {
  auto sharer = SXSharer::shareItem<SXInstapaper>(SXItem::makeURL(URL::make(kLink), "t"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, "nope");
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->title(), "Login Error");
  EXPECT_EQ(topAlert()->message(), "Sorry, " + sharer->sharerTitle() + " did not accept your credentials. Please try again.");
  EXPECT_EQ(service.calls().back().status, 403);
  EXPECT_EQ(SX::getAuthValueForKey("password", "SXInstapaper"), std::nullopt);
  EXPECT_TRUE(service.callsTo("/api/add").empty());
}

TEST_F(Reading, ReadItLaterSendsSerializedJSONAndTagsOnlyWhenThereAreSome) {
  storeLogin("SXReadItLater");
  auto sharer = SXSharer::make<SXReadItLater>();
  auto item = SXItem::makeURL(URL::make(kLink), "say \"hi\" & back\\slash\n");
  item->tags = "a b";
  sharer->setItem(item);
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  auto sent = service.callsTo("/v2/send").back();
  // The key arrived whole although it holds "/", "+", "=", "?" and "&".
  EXPECT_EQ(sent.fields["apikey"], CredentialServices::kApiKey);
  const std::string fresh = sent.fields["new"];
  EXPECT_NE(fresh.find("\"title\":\"say &quot;hi&quot; & back\\\\slash\\n\""), std::string::npos) << fresh;
  EXPECT_NE(fresh.find("\"url\":\"https://example.org/read?id=7&x=%2F\""), std::string::npos) << fresh;
  EXPECT_NE(sent.fields["update_tags"].find("\"tags\":\"a b\""), std::string::npos) << sent.fields["update_tags"];

  item->tags = "";
  auto second = SXSharer::make<SXReadItLater>();
  second->setItem(item);
  EXPECT_EQ(second->itemFields().find("update_tags"), std::string::npos);
  EXPECT_TRUE(second->shouldAutoShare());
}

TEST_F(Reading, ReadItLaterShowsTheServiceErrorText) {
  auto sharer = SXSharer::shareItem<SXReadItLater>(SXItem::makeURL(URL::make(kLink), "t"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, "wrong");
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->title(), "Login Error");
  EXPECT_EQ(topAlert()->message(), "User was not found");

  storeLogin("SXReadItLater");
  service.failNext("readitlaterlist.com", 503, {"X-Error: Service is down for maintenance"}, "");
  auto again = SXSharer::make<SXReadItLater>();
  again->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(again->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(again->lastError()->localizedDescription(), "Service is down for maintenance");
}

TEST(GoogleReaderSession, SplitsEachLineAtItsFirstEqualsSign) {
  auto session = SXGoogleReader::parseSession("SID=a\r\nAuth=xy==z=\nnoequals\n=empty\nError=\n");
  EXPECT_EQ(session["SID"], "a");
  EXPECT_EQ(session["Auth"], "xy==z=");
  EXPECT_EQ(session.count("noequals"), 0u);
  EXPECT_EQ(session.count(""), 0u);
  EXPECT_EQ(session["Error"], "");
}

TEST_F(Reading, GoogleReaderLogsInFetchesATokenAndPostsWithTheSession) {
  storeLogin("SXGoogleReader", "email");
  UserDefaults::standardUserDefaults()->setBool(true, "SXGoogleReader_isPublic");
  auto sharer = SXSharer::make<SXGoogleReader>();
  auto item = SXItem::makeURL(URL::make(kLink), "Title & more");
  item->text = "note=1&x";
  sharer->setItem(item);
  sharer->setShouldAutoShare(true);
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  ASSERT_TRUE(sharer->session());
  EXPECT_EQ(sharer->session()->at("Auth"), CredentialServices::kAuth);  // "=" inside kept whole
  std::vector<std::string> paths;
  for (const auto& call : service.calls()) paths.push_back(call.path);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"/accounts/ClientLogin", "/reader/api/0/token", "/reader/api/0/item/edit"}));
  auto edit = service.callsTo("/reader/api/0/item/edit").back();
  EXPECT_EQ(edit.fields["snippet"], "note=1&x");
  EXPECT_EQ(edit.fields["title"], "Title & more");
  EXPECT_EQ(edit.fields["url"], kLink);
  EXPECT_EQ(edit.fields["srcTitle"], "Zerivudor");
  EXPECT_EQ(edit.fields["share"], "true");  // the stored public choice, as the sharer auto-shares
  auto login = service.callsTo("/accounts/ClientLogin").back();
  EXPECT_EQ(login.fields["Email"], CredentialServices::kUser);
  EXPECT_EQ(login.fields["source"], "Sharing-Zerivudor-0.2.1");
}

TEST_F(Reading, TheHubsLogoutEndsGoogleReadersLoginBeforeASend) {
  storeLogin("SXGoogleReader", "email");
  auto sharer = SXSharer::make<SXGoogleReader>();
  sharer->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(sharer->send());  // logs in by itself first
  SX::logoutOfService("SXGoogleReader");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !service.callsTo("/accounts/ClientLogin").empty(); }, 20.0));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return count(kSXSendDidFailWithError) > 0; }, 20.0));
  pumpRunLoopFor(0.8);
  // The session the service sends back belongs to no login: nothing is posted with it, and the
  // share ends once.
  EXPECT_FALSE(sharer->session());
  EXPECT_TRUE(service.callsTo("/reader/api/0/token").empty());
  EXPECT_TRUE(service.callsTo("/reader/api/0/item/edit").empty());
  EXPECT_EQ(count(kSXSendDidFinish), 0);
  EXPECT_EQ(count(kSXSendDidFailWithError), 1);
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  EXPECT_FALSE(SX::getAuthValueForKey("password", "SXGoogleReader"));
}

// The links Google Reader was asked to keep, in the order they reached the service.
std::vector<std::string> keptLinks(const CredentialServices& service) {
  std::vector<std::string> links;
  for (const auto& edit : service.callsTo("/reader/api/0/item/edit")) links.push_back(edit.fields.at("url"));
  return links;
}

TEST_F(Reading, GoogleReaderSharesLoggingInAtOnceEachArrive) {
  storeLogin("SXGoogleReader", "email");
  std::vector<Ref<SXGoogleReader>> sharers;
  for (const char* link : {"https://example.org/1", "https://example.org/2"}) {
    sharers.push_back(SXSharer::make<SXGoogleReader>());
    sharers.back()->setItem(SXItem::makeURL(URL::make(link), "t"));
    ASSERT_TRUE(sharers.back()->send());  // each logs in by itself first
  }
  ASSERT_TRUE(pumpRunLoopUntil([&] { return count(kSXSendDidFinish) + count(kSXSendDidFailWithError) == 2; }, 20.0))
      << service.lastComplaint();
  EXPECT_EQ(count(kSXSendDidFinish), 2);
  EXPECT_EQ(count(kSXSendDidFailWithError), 0);
  EXPECT_EQ(topAlert(), nullptr);
  auto links = keptLinks(service);
  std::sort(links.begin(), links.end());
  EXPECT_EQ(links, (std::vector<std::string>{"https://example.org/1", "https://example.org/2"}));
}

TEST_F(Reading, TheHubsLogoutEndsEveryGoogleReaderLoginBeforeASendOnce) {
  storeLogin("SXGoogleReader", "email");
  std::map<const Object*, int> failures;
  auto token = NotificationCenter::defaultCenter()->addObserverForName(
      kSXSendDidFailWithError, nullptr, [&](const Ref<Notification>& n) { ++failures[n->object().get()]; });
  std::vector<Ref<SXGoogleReader>> sharers;
  for (int i = 0; i < 2; ++i) {
    sharers.push_back(SXSharer::make<SXGoogleReader>());
    sharers.back()->setItem(SXItem::makeURL(URL::make(kLink), "t"));
    ASSERT_TRUE(sharers.back()->send());
  }
  EXPECT_TRUE(failures.empty());  // neither login is a reason to end the other
  SX::logoutOfService("SXGoogleReader");
  EXPECT_TRUE(pumpRunLoopUntil([&] { return service.callsTo("/accounts/ClientLogin").size() == 2; }, 20.0));
  EXPECT_TRUE(pumpRunLoopUntil([&] { return failures.size() == 2; }, 20.0));
  pumpRunLoopFor(0.8);
  NotificationCenter::defaultCenter()->removeObserver(token);
  for (const auto& sharer : sharers) {
    EXPECT_EQ(failures[sharer.get()], 1);
    EXPECT_FALSE(sharer->session());
    EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  }
  EXPECT_EQ(failures.size(), 2u);
  EXPECT_EQ(count(kSXSendDidFinish), 0);
  EXPECT_TRUE(service.callsTo("/reader/api/0/item/edit").empty());
}

TEST_F(Reading, AReplayOfQueuedGoogleReaderSharesSendsEachOnce) {
  storeLogin("SXGoogleReader", "email");
  std::vector<std::string> queued;
  for (int i = 1; i <= SXOfflineQueue::kReplayWidth; ++i) {
    queued.push_back("https://example.org/queued/" + std::to_string(i));
    ASSERT_TRUE(SX::addToOfflineQueue(SXItem::makeURL(URL::make(queued.back()), "t"), "SXGoogleReader"));
  }
  SX::flushOfflineQueue();
  auto queue = SX::currentHelper()->offlineQueue();
  ASSERT_TRUE(queue);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return queue->operations().empty(); }, 20.0));
  auto links = keptLinks(service);
  std::sort(links.begin(), links.end());
  EXPECT_EQ(links, queued);
  auto left = SXOfflineQueue::getOfflineQueueList();
  EXPECT_EQ(left ? left->count() : 0u, 0u);  // each entry removed once its share arrived
  EXPECT_EQ(topAlert(), nullptr);
}

TEST_F(Reading, GoogleReaderBadAuthenticationWhileSendingAsksForANewLogin) {
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kUser, "email", "SXGoogleReader"));
  ASSERT_TRUE(SX::setAuthValue("old", "password", "SXGoogleReader"));
  auto sharer = SXSharer::make<SXGoogleReader>();
  sharer->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(waitForForm(sharer, "Login"));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend);
  EXPECT_FALSE(sharer->session());
  EXPECT_EQ(topAlert(), nullptr);
}

TEST_F(Reading, GoogleReaderShowsOtherLoginErrorsUnchanged) {
  service.failNext("www.google.com", 403, {}, "Url=https://x/captcha?a=b\nError=CaptchaRequired\n");
  auto sharer = SXSharer::shareItem<SXGoogleReader>(SXItem::makeURL(URL::make(kLink), "t"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->message(), "CaptchaRequired");
  EXPECT_EQ(SX::getAuthValueForKey("password", "SXGoogleReader"), std::nullopt);
  topAlert()->simulateTapButtonAtIndex(0);
  // A reply without any "Error" has the general text.
  service.failNext("www.google.com", 500, {}, "<html>oops</html>");
  ASSERT_TRUE(pressRight(login));
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->message(), "There was an error logging into Google Reader");
}

TEST_F(Reading, GoogleReaderRemembersThePublicChoice) {
  auto sharer = SXSharer::shareItem<SXGoogleReader>(SXItem::makeURL(URL::make(kLink), "t"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  auto form = waitForForm(sharer, "");
  ASSERT_TRUE(form);
  ASSERT_EQ(form->sections()[0].rows.size(), 2u);
  flipSwitch(form, 0, 1);
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  EXPECT_TRUE(UserDefaults::standardUserDefaults()->boolForKey("SXGoogleReader_isPublic"));
  EXPECT_EQ(service.callsTo("/reader/api/0/item/edit").back().fields["share"], "true");
}

}  // namespace
}  // namespace zv::testing
