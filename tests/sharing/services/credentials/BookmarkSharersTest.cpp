// The bookmark sharers against the loopback bookmark APIs: credentials through
// the URL's user information answered by Basic authentication, the bookmark
// values escaped, and each service's way of reporting a failure.
#include <functional>

#include "CredentialTestSupport.h"
#include "platform/foundation/AsciiText.h"
#include "platform/foundation/URL.h"
#include "sharing/services/bookmarks/SXBookmarkSharers.h"
#include "sharing/services/credentials/CredentialHelpers.h"
#include "sharing/services/reading/SXReadingSharers.h"

namespace zv::testing {
namespace {

using Bookmarks = CredentialSharerTest;
constexpr const char* kLink = "https://example.org/a%20b?x=1&y=/z#frag";
constexpr const char* kTitle = "Coherence 80% & \"rising\" / ? : @ #";

// The password, as it is or escaped in any case, in no request's path or query: it travels
// only in the Authorization field.
void expectNoPasswordInARequestLine(const std::vector<CredentialCall>& calls) {
  ASSERT_FALSE(calls.empty());
  const std::string escaped = ascii::lowercase(credentials::escape(std::string(CredentialServices::kPassword)));
  for (const auto& call : calls) {
    const std::string target = ascii::lowercase(call.path + "?" + call.rawQuery);
    EXPECT_EQ(target.find("p/a?s:s@w"), std::string::npos) << target;
    EXPECT_EQ(target.find(escaped.substr(0, 12)), std::string::npos) << target;
    EXPECT_EQ(ascii::lowercase(percentDecode(target).value_or(target)).find("p/a?s:s@w"), std::string::npos) << target;
  }
}

TEST(CredentialEscaping, EscapesEverythingThatCouldEndAURLPart) {
  EXPECT_EQ(credentials::escape(std::string("a/b?c:d@e&f=g+h #%")), "a%2Fb%3Fc%3Ad%40e%26f%3Dg%2Bh%20%23%25");
  EXPECT_EQ(credentials::escape(std::string("Ünï-._~")), "%C3%9Cn%C3%AF-._~");
}

TEST_F(Bookmarks, DiigoLogsInThroughTheFormAndSavesTheBookmark) {
  auto item = SXItem::makeURL(URL::make(kLink), kTitle);
  item->tags = "a b,c&d";
  auto sharer = SXSharer::shareItem<SXDiigo>(item);
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  // The check ran against the service with the exact credentials, then they
  // were stored.
  auto form = waitForForm(sharer, "");
  ASSERT_TRUE(form) << service.lastComplaint() << " " << service.calls().size() << " "
                    << (topAlert() ? topAlert()->message().value_or("") : "");
  EXPECT_EQ(SX::getAuthValueForKey("password", "SXDiigo"), CredentialServices::kPassword);
  auto checks = service.callsTo("/api/v2/bookmarks");
  ASSERT_FALSE(checks.empty());
  EXPECT_EQ(checks.back().fields["user"], CredentialServices::kUser);
  ASSERT_EQ(form->sections()[0].rows.size(), 4u);
  ASSERT_TRUE(pressRight(form));
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << [&] {
    std::string text = service.lastComplaint();
    for (auto& c : service.calls())
      text += "\n" + c.method + " " + c.path + " " + std::to_string(c.status) + " " + c.rawBody;
    for (auto& r : reports) text += "\n" + r;
    return text;
  }();
  auto posts = service.callsTo("/api/v2/bookmarks");
  ASSERT_EQ(posts.back().method, "POST");
  EXPECT_EQ(posts.back().status, 200);
  EXPECT_EQ(posts.back().basicPassword, CredentialServices::kPassword);
  EXPECT_EQ(posts.back().fields["title"], kTitle);
  EXPECT_EQ(posts.back().fields["url"], kLink);
  EXPECT_EQ(posts.back().fields["tags"], "a b,c&d");
  EXPECT_EQ(posts.back().fields["shared"], "no");
  expectNoPasswordInARequestLine(service.calls());
}

TEST_F(Bookmarks, AWrongPasswordIsABadCredentialsAlertAndNothingIsStored) {
  auto sharer = SXSharer::shareItem<SXDelicious>(SXItem::makeURL(URL::make(kLink), "t"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser,
              "p/a?s:s@w&o=r+d #");  // one character short
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->title(), "Login Error");
  EXPECT_EQ(topAlert()->message(), "Sorry, " + sharer->sharerTitle() + " did not accept your credentials. Please try again.");
  EXPECT_EQ(SX::getAuthValueForKey("password", "SXDelicious"), std::nullopt);
  EXPECT_EQ(service.calls().back().status, 401);
  EXPECT_EQ(service.calls().back().basicPassword, "p/a?s:s@w&o=r+d #");
}

TEST_F(Bookmarks, PinboardShowsItsOwnLoginErrors) {
  service.failNext("api.pinboard.in", 500, {}, "down");
  auto sharer = SXSharer::shareItem<SXPinboard>(SXItem::makeURL(URL::make(kLink), "t"));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->title(), "Login Error");
  EXPECT_EQ(topAlert()->message(), "The service encountered an error. Please try again later.");
  topAlert()->simulateTapButtonAtIndex(0);

  // The service itself refuses a wrong password.
  ASSERT_TRUE(pumpRunLoopUntil([] { return !topAlert(); }, 20.0));
  submitLogin(login, CredentialServices::kUser, "wrong");
  ASSERT_TRUE(waitForAlert());
  EXPECT_EQ(topAlert()->message(), "Invalid email or password.");
  EXPECT_EQ(service.calls().back().status, 401);
  EXPECT_EQ(SX::getAuthValueForKey("password", "SXPinboard"), std::nullopt);
}

TEST_F(Bookmarks, PinboardLogsInThroughTheServicesOwnCheck) {
  auto sharer = SXSharer::shareItem<SXPinboard>(SXItem::makeURL(URL::make(kLink), kTitle));
  auto login = waitForForm(sharer, "Login");
  ASSERT_TRUE(login);
  submitLogin(login, CredentialServices::kUser, CredentialServices::kPassword);
  ASSERT_TRUE(waitForForm(sharer, "")) << service.lastComplaint();
  // Answered once the Basic challenge is met.
  auto checks = service.callsTo("/v1/posts/get");
  ASSERT_FALSE(checks.empty());
  EXPECT_EQ(checks.back().method, "POST");
  EXPECT_EQ(checks.back().status, 200);
  EXPECT_EQ(checks.back().basicUser, CredentialServices::kUser);
  EXPECT_EQ(checks.back().basicPassword, CredentialServices::kPassword);
  EXPECT_EQ(SX::getAuthValueForKey("password", "SXPinboard"), CredentialServices::kPassword);
  expectNoPasswordInARequestLine(service.calls());
}

TEST_F(Bookmarks, PinboardSendsTheSharedSwitchAndReportsItsErrors) {
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kUser, "username", "SXPinboard"));
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kPassword, "password", "SXPinboard"));
  auto sharer = SXSharer::make<SXPinboard>();
  auto item = SXItem::makeURL(URL::make(kLink), kTitle);
  item->text = "notes & more";
  item->setCustomValue("1", "shared");
  sharer->setItem(item);
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish));
  auto add = service.callsTo("/v1/posts/add").back();
  EXPECT_EQ(add.fields["shared"], "yes");
  EXPECT_EQ(add.fields["description"], kTitle);
  EXPECT_EQ(add.fields["extended"], "notes & more");

  service.failNext("api.pinboard.in", 500, {}, "oops");
  auto second = SXSharer::make<SXPinboard>();
  second->setItem(item);
  ASSERT_TRUE(second->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  ASSERT_TRUE(second->lastError());
  EXPECT_EQ(second->lastError()->localizedDescription(), "There was an error saving to Pinboard");
}

TEST_F(Bookmarks, DeliciousTrustsTheReplyCodeNotTheStatus) {
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kUser, "username", "SXDelicious"));
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kPassword, "password", "SXDelicious"));
  // "done" is a saved bookmark.
  auto saved = SXSharer::make<SXDelicious>();
  auto link = SXItem::makeURL(URL::make(kLink), kTitle);
  link->tags = "a b";
  saved->setItem(link);
  ASSERT_TRUE(saved->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  auto add = service.callsTo("/v1/posts/add");
  ASSERT_FALSE(add.empty());
  EXPECT_EQ(add.back().status, 200);
  EXPECT_EQ(add.back().basicPassword, CredentialServices::kPassword);
  EXPECT_EQ(add.back().fields["url"], kLink);
  EXPECT_EQ(add.back().fields["description"], kTitle);
  EXPECT_EQ(add.back().fields["tags"], "a b");
  expectNoPasswordInARequestLine(service.calls());
  reports.clear();

  service.failNext("api.del.icio.us", 200, {}, "<result><code>something went wrong</code></result>");
  auto sharer = SXSharer::make<SXDelicious>();
  sharer->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(count(kSXSendDidFinish), 0);
  // A reply that is not XML at all is a failure too, not a crash.
  service.failNext("api.del.icio.us", 200, {}, "<<<not xml");
  auto again = SXSharer::make<SXDelicious>();
  again->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(again->send());
  ASSERT_TRUE(pumpRunLoopUntil([&] { return count(kSXSendDidFailWithError) == 2; }, 20.0));
  EXPECT_EQ(count(kSXSendDidFinish), 0);
}

TEST_F(Bookmarks, AStoredLoginTheServiceRejectsAsksForANewOne) {
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kUser, "username", "SXDiigo"));
  ASSERT_TRUE(SX::setAuthValue("old/pass", "password", "SXDiigo"));
  auto sharer = SXSharer::make<SXDiigo>();
  sharer->setItem(SXItem::makeURL(URL::make(kLink), "t"));
  ASSERT_TRUE(sharer->tryToSend());
  ASSERT_TRUE(waitForForm(sharer, "Login"));
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionSend);
  // The Basic credentials arrived decoded exactly as stored ("/" included).
  EXPECT_EQ(service.calls().back().basicPassword, "old/pass");
}

// Every bookmark and reading-list sharer checks a login with its service; Cancel pressed while the
// check runs wins over the answer that comes after it, right or wrong.
TEST_F(Bookmarks, CancelDuringTheLoginCheckWinsOverItsAnswer) {
  const std::vector<std::pair<std::function<Ref<SXSharer>()>, std::string>> cases = {
      {[] { return SXSharer::make<SXDiigo>(); }, CredentialServices::kPassword},
      {[] { return SXSharer::make<SXPinboard>(); }, CredentialServices::kPassword},
      {[] { return SXSharer::make<SXDelicious>(); }, CredentialServices::kPassword},
      {[] { return SXSharer::make<SXInstapaper>(); }, CredentialServices::kPassword},
      {[] { return SXSharer::make<SXReadItLater>(); }, CredentialServices::kPassword},
      {[] { return SXSharer::make<SXGoogleReader>(); }, CredentialServices::kPassword},
      {[] { return SXSharer::make<SXDelicious>(); }, "wrong"},
      {[] { return SXSharer::make<SXInstapaper>(); }, "wrong"},
  };
  for (const auto& [make, password] : cases) {
    auto sharer = make();
    const auto id = sharer->sharerId();
    SCOPED_TRACE(id + " with password " + password);
    reports.clear();
    SXSharer::shareItem(sharer, SXItem::makeURL(URL::make(kLink), "t"));
    auto login = waitForForm(sharer, "Login");
    ASSERT_TRUE(login);
    submitLogin(login, CredentialServices::kUser, password);
    auto check = std::dynamic_pointer_cast<SXRequest>(sharer->request());
    ASSERT_TRUE(check);
    ASSERT_TRUE(pressLeft(login));
    // The service answers the check all the same; the answer changes nothing.
    ASSERT_TRUE(pumpRunLoopUntil([&] { return check->isFinished(); }, 20.0));
    const auto callsOfTheCheck = service.calls().size();
    // The cancelled login form leaves, and nothing comes in its place.
    ASSERT_TRUE(pumpRunLoopUntil(
        [] { return !SX::currentHelper()->currentView() && !SX::currentHelper()->isDismissingView(); }, 20.0));
    pumpRunLoopFor(0.3);
    EXPECT_EQ(SX::getAuthValueForKey("password", id), std::nullopt);
    EXPECT_EQ(SX::getAuthValueForKey("username", id), std::nullopt);
    EXPECT_EQ(SX::getAuthValueForKey("email", id), std::nullopt);
    EXPECT_FALSE(topAlert());
    EXPECT_EQ(reports, std::vector<std::string>{kSXSendDidCancel});
    EXPECT_FALSE(SX::currentHelper()->currentView());
    EXPECT_FALSE(sharer->isVisible());
    EXPECT_EQ(service.calls().size(), callsOfTheCheck);  // nothing was sent after it
    EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
  }
}

TEST_F(Bookmarks, ARedirectToPlainHTTPFailsTheShareAndReachesNobody) {
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kUser, "username", "SXDiigo"));
  ASSERT_TRUE(SX::setAuthValue(CredentialServices::kPassword, "password", "SXDiigo"));
  redirectNextToPlainHTTP("secure.diigo.com");
  auto sharer = SXSharer::make<SXDiigo>();
  sharer->setItem(SXItem::makeURL(URL::make(kLink), kTitle));
  ASSERT_TRUE(sharer->send());
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  pumpRunLoopFor(0.2);
  EXPECT_EQ(count(kSXSendDidFinish), 0);
  EXPECT_TRUE(plain.requests().empty());
}

TEST_F(Bookmarks, OnlyLinksGetAShareForm) {
  auto sharer = SXSharer::make<SXDiigo>();
  sharer->setItem(SXItem::makeText("text"));
  EXPECT_TRUE(sharer->shareFormFieldsForType(SXShareTypeText).empty());
  EXPECT_EQ(sharer->shareFormFieldsForType(SXShareTypeURL).size(), 4u);
}

TEST_F(Bookmarks, LogLinesOfACredentialedRequestLeaveTheCredentialsOut) {
  auto sharer = SXSharer::make<SXDiigo>();
  auto base = sharer->credentialedBase("ada@home", "pa/ss@word");
  auto request = SXRequest::make(URL::make(base + "/api/v2/bookmarks?key=k"), std::nullopt, nullptr, nullptr, "GET",
                                 false);
  ASSERT_TRUE(request->url());
  EXPECT_EQ(request->url()->password(), "pa/ss@word");
  EXPECT_EQ(request->url()->user(), "ada@home");
  const auto text = request->description();
  EXPECT_EQ(text.find("pa"), text.find("params"));
  EXPECT_EQ(text.find("ada"), std::string::npos);
  // The query (the service key rides there) is left out too.
  EXPECT_NE(text.find("https://secure.diigo.com/api/v2/bookmarks?..."), std::string::npos) << text;
  EXPECT_EQ(text.find("key=k"), std::string::npos) << text;
}

}  // namespace
}  // namespace zv::testing
