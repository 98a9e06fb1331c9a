// The note-service session: addresses, query texts, the stored credentials, logout, and the
// three-step login against loopback stand-ins of the login endpoints and the note store.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/NetErrors.h"
#include "platform/system/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SX.h"
#include "sharing/core/KeychainWrapper.h"
#include "sharing/services/notes/NoteServiceNoteStore.h"
#include "sharing/services/notes/NoteServiceUserStore.h"
#include "sharing/services/notes/NoteServiceTestSupport.h"
#include "support/notes/NoteServiceOAuthStandIn.h"

namespace zv::testing {
namespace {

constexpr const char* kNewToken = "S=s7:U=2a:fresh&token";

class NoteServiceSessionTest : public NoteServiceTest {
 protected:
  explicit NoteServiceSessionTest(bool manualClock = false) : NoteServiceTest(manualClock) {}

  void SetUp() override {
    NoteServiceTest::SetUp();
    // A logged-out session of its own for the login scenarios.
    session->logout();
    loginStandIn = std::make_unique<NoteServiceOAuthStandIn>(
        authority.issueForHosts({kNotesHost}),
        NoteServiceOAuthStandIn::Settings{"consumer-key", "consumer-secret", "en-consumer-key://response", kNewToken,
                                          kNoteStoreUrl, "https://notes.example.com/shard/s7/"});
    ASSERT_TRUE(loginStandIn->start());
    hostMap[kNotesHost] = static_cast<std::uint16_t>(loginStandIn->port());
    applyHostMap();
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
  }
  void TearDown() override {
    loginStandIn.reset();
    NoteServiceTest::TearDown();
  }

  // Starts a login and returns a flag set (with the error) when it completes; counts completions.
  void startLogin(const Ref<ui::ViewController>& presenter) {
    session->authenticateWithViewController(presenter, [this](const Ref<Error>& error) {
      EXPECT_TRUE(RunLoop::isMainThread());
      ++completions;
      loginError = error;
    });
  }
  bool waitForCompletion() { return pumpRunLoopUntil([&] { return completions > 0; }, 30.0); }

  std::unique_ptr<NoteServiceOAuthStandIn> loginStandIn;
  Ref<ui::ViewController> root;
  int completions = 0;
  Ref<Error> loginError;
};

TEST_F(NoteServiceSessionTest, TheUserStoreIsHTTPSWithOrWithoutAPort) {
  EXPECT_EQ(session->userStoreUrl(), "https://notes.example.com/edam/user");
  session->setHost("LOCALHOST:8080", "k", "s");
  EXPECT_EQ(session->userStoreUrl(), "https://LOCALHOST:8080/edam/user");
  session->setHost("notes.example.com:", "k", "s");
  EXPECT_EQ(session->userStoreUrl(), "https://notes.example.com:/edam/user");
}

TEST_F(NoteServiceSessionTest, QueryTextsRoundTripAndSkipBrokenPieces) {
  auto text = NoteServiceSession::queryStringFromParameters(
      *Dictionary::make({{"oauth_token", String::make("a b&c=d")}, {"x", String::make("\xC3\xA9")}}));
  EXPECT_EQ(text, "oauth_token=a%20b%26c%3Dd&x=%C3%A9");
  auto parsed = NoteServiceSession::parametersFromQueryString(text);
  EXPECT_EQ(parsed->stringForKey("oauth_token"), "a b&c=d");
  EXPECT_EQ(parsed->stringForKey("x"), "\xC3\xA9");

  parsed = NoteServiceSession::parametersFromQueryString("a=1&b&c=1=2&a=3&=empty&e=");
  EXPECT_EQ(parsed->stringForKey("a"), "3");
  EXPECT_FALSE(parsed->stringForKey("b"));
  EXPECT_FALSE(parsed->stringForKey("c"));
  EXPECT_EQ(parsed->stringForKey("e"), "");
}

TEST_F(NoteServiceSessionTest, CookiesBelongToTheHostWhenTheDomainIsItOrASubdomain) {
  EXPECT_TRUE(NoteServiceSession::cookieDomainMatchesHost("notes.example.com", "notes.example.com"));
  EXPECT_TRUE(NoteServiceSession::cookieDomainMatchesHost(".Notes.Example.com", "notes.example.com"));
  EXPECT_TRUE(NoteServiceSession::cookieDomainMatchesHost("www.notes.example.com", "notes.example.com:443"));
  EXPECT_FALSE(NoteServiceSession::cookieDomainMatchesHost("evilnotes.example.com", "notes.example.com"));
  EXPECT_FALSE(NoteServiceSession::cookieDomainMatchesHost("example.com", "notes.example.com"));
  EXPECT_FALSE(NoteServiceSession::cookieDomainMatchesHost("", "notes.example.com"));
}

TEST_F(NoteServiceSessionTest, StoredCredentialsKeepTheTokenOnlyInTheKeychain) {
  auto store = std::make_shared<NCCredentialStore>();
  EXPECT_FALSE(store->addCredentials(std::make_shared<NCCredentials>("a.example", "7", "https://a/ns", "https://a/", "tok-A")));
  EXPECT_FALSE(store->addCredentials(std::make_shared<NCCredentials>("b.example", "8", "https://b/ns", "https://b/", "tok-B")));
  auto archived = UserDefaults::standardUserDefaults()->dataForKey(kNoteServiceCredentialsDefaultsKey);
  ASSERT_TRUE(archived);
  EXPECT_EQ(std::string(archived->view()).find("tok-A"), std::string::npos);

  auto loaded = NCCredentialStore::load();
  ASSERT_TRUE(loaded);
  auto a = loaded->credentialsForHost("a.example");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->edamUserId(), "7");
  EXPECT_EQ(a->noteStoreUrl(), "https://a/ns");
  EXPECT_EQ(a->webApiUrlPrefix(), "https://a/");
  EXPECT_EQ(a->authenticationToken(), "tok-A");

  loaded->removeCredentials(loaded->credentialsForHost("b.example"));
  EXPECT_FALSE(KeychainWrapper::passwordForService("b.example", "8"));
  EXPECT_FALSE(NCCredentialStore::load()->credentialsForHost("b.example"));

  store->clearAllCredentials();
  EXPECT_EQ(store->count(), 0u);
  EXPECT_FALSE(KeychainWrapper::passwordForService("a.example", "7"));
  // A reload after clearing brings nothing back.
  loaded = NCCredentialStore::load();
  EXPECT_TRUE(!loaded || loaded->count() == 0u);

  // Bytes that are not an archive read as no store.
  UserDefaults::standardUserDefaults()->setObject(Data::make(std::string("garbage")), kNoteServiceCredentialsDefaultsKey);
  EXPECT_FALSE(NCCredentialStore::load());
}

TEST_F(NoteServiceSessionTest, LogoutForgetsLoginsArchiveAndTheServicesCookiesOnly) {
  session->credentialStore()->addCredentials(
      std::make_shared<NCCredentials>(kNotesHost, "42", kNoteStoreUrl, "https://p/", kNotesToken));
  ASSERT_TRUE(session->isAuthenticated());
  auto cookies = net::CookieStore::sharedInstance();
  auto url = [](const char* text) { return URL::make(text); };
  cookies->setCookies({net::HTTPCookie::parseSetCookie("s=1; Path=/", *url("https://notes.example.com/"))},
                      *url("https://notes.example.com/"));
  cookies->setCookies({net::HTTPCookie::parseSetCookie("w=1; Path=/", *url("https://www.notes.example.com/"))},
                      *url("https://www.notes.example.com/"));
  cookies->setCookies({net::HTTPCookie::parseSetCookie("e=1; Path=/", *url("https://evilnotes.example.com/"))},
                      *url("https://evilnotes.example.com/"));
  session->logout();
  EXPECT_FALSE(session->isAuthenticated());
  EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey(kNoteServiceCredentialsDefaultsKey));
  EXPECT_FALSE(KeychainWrapper::passwordForService(kNotesHost, "42"));
  std::vector<std::string> left;
  for (const auto& cookie : cookies->cookies()) left.push_back(cookie->name());
  EXPECT_EQ(left, (std::vector<std::string>{"e"}));
  for (const auto& cookie : cookies->cookies()) cookies->deleteCookie(*cookie);
}

TEST_F(NoteServiceSessionTest, TheThreeStepLoginStoresTheCredentialsAndTheNoteStoreAcceptsThem) {
  // The note store expects the token the login will bring.
  standIn.reset();
  standIn = std::make_unique<NoteServiceStandIn>(authority.issueForHosts({kNoteStoreHost}), kNewToken);
  hostMap[kNoteStoreHost] = static_cast<std::uint16_t>(standIn->port());
  applyHostMap();

  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(loginError) << loginError->description();
  EXPECT_EQ(loginStandIn->temporaryTokenRequests(), 1);
  EXPECT_EQ(loginStandIn->accessTokenRequests(), 1);
  EXPECT_EQ(loginStandIn->rejectedRequests(), 0);
  ASSERT_TRUE(session->isAuthenticated());
  EXPECT_EQ(session->authenticationToken(), kNewToken);
  EXPECT_EQ(session->noteStoreUrl(), kNoteStoreUrl);
  EXPECT_EQ(session->webApiUrlPrefix(), "https://notes.example.com/shard/s7/");
  EXPECT_EQ(session->credentials()->edamUserId(), "42");
  EXPECT_FALSE(session->loginPage());
  // The page is gone from the screen, also when the login ended while it was still coming up.
  EXPECT_TRUE(pumpRunLoopUntil([&] { return root->presentedViewController() == nullptr; }, 30.0));

  bool created = false;
  notes::Note note;
  note.__set_title("after login");
  std::make_shared<NoteServiceNoteStore>(session)->createNote(
      note, [&](const notes::Note&) { created = true; }, [](const Ref<Error>& e) { ADD_FAILURE() << e->description(); });
  ASSERT_TRUE(pumpRunLoopUntil([&] { return created; }, 30.0));
  EXPECT_EQ(standIn->wrongTokenCount(), 0);

  // Logged in already: the next login completes at once and shows nothing.
  completions = 0;
  startLogin(root);
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(loginError);
  EXPECT_EQ(loginStandIn->temporaryTokenRequests(), 1);
}

TEST_F(NoteServiceSessionTest, AHostWithAPortStillLogsInOverHTTPS) {
  // The login endpoints speak TLS only: a plain request would never get a token.
  session->setHost("notes.example.com:8443", "consumer-key", "consumer-secret");
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  EXPECT_FALSE(loginError) << loginError->description();
  EXPECT_EQ(loginStandIn->rejectedRequests(), 0);
  EXPECT_EQ(loginStandIn->accessTokenRequests(), 1);
  EXPECT_TRUE(session->isAuthenticated());
  EXPECT_EQ(session->credentials()->host(), "notes.example.com:8443");
}

TEST_F(NoteServiceSessionTest, UserStoreCallsGoToTheUserStoreAddressOverTLS) {
  // The login stand-in speaks TLS only and serves no user store: a call that reaches it fails as
  // a transport failure after it was received, also for a host with a port (the call carries the
  // token, so it never goes in plain text).
  for (const char* host : {kNotesHost, "notes.example.com:8443"}) {
    SCOPED_TRACE(host);
    session->setHost(host, "consumer-key", "consumer-secret");
    Ref<Error> failure;
    std::make_shared<NoteServiceUserStore>(session)->getBootstrapInfoWithLocale(
        "en_US", [](const notes::BootstrapInfo&) { ADD_FAILURE() << "unexpected success"; },
        [&](const Ref<Error>& error) {
          EXPECT_TRUE(RunLoop::isMainThread());
          failure = error;
        });
    ASSERT_TRUE(pumpRunLoopUntil([&] { return failure != nullptr; }, 30.0));
    EXPECT_EQ(failure->code(), kNoteServiceErrorTransport);
  }
  EXPECT_EQ(loginStandIn->requestLines(), (std::vector<std::string>{"POST /edam/user", "POST /edam/user"}));
}

TEST_F(NoteServiceSessionTest, AnOpenedURLThatIsNotTheCallbackLeavesTheLoginAlone) {
  // The login page holds until the test has tried a foreign URL.
  startLogin(root);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return session->loginPage() != nullptr || completions > 0; }, 30.0));
  EXPECT_FALSE(session->handleOpenURL(URL::make("https://elsewhere.example/en-consumer-key://response")));
  EXPECT_FALSE(session->handleOpenURL(URL::make("en-other://response?oauth_token=x")));
  ASSERT_TRUE(waitForCompletion());
  pumpRunLoopFor(0.2);
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(loginError);
  EXPECT_TRUE(session->isAuthenticated());
}

TEST_F(NoteServiceSessionTest, AReplyWithoutACredentialFieldStoresNothing) {
  loginStandIn->omitWebApiPrefix();
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  ASSERT_TRUE(loginError);
  EXPECT_EQ(loginError->code(), kNoteServiceErrorMissingCredential);
  EXPECT_FALSE(session->isAuthenticated());
  EXPECT_FALSE(session->credentials());
}

TEST_F(NoteServiceSessionTest, AKeychainThatCannotKeepTheTokenFailsTheLogin) {
  std::filesystem::create_directories(home.path() / "Keychains");
  std::ofstream(home.path() / "Keychains" / "keychain.plist") << "not a property list";
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  EXPECT_EQ(completions, 1);
  ASSERT_TRUE(loginError);
  EXPECT_EQ(loginError->code(), kNoteServiceErrorKeychain);
  EXPECT_FALSE(session->isAuthenticated());
  // Nothing of the login is kept, in memory or in the archive.
  EXPECT_FALSE(session->credentials());
  auto reloaded = NCCredentialStore::load();
  EXPECT_TRUE(!reloaded || !reloaded->credentialsForHost(kNotesHost));
}

TEST_F(NoteServiceSessionTest, ARefusedTokenRequestFailsWithoutLoggingTheReply) {
  loginStandIn->failWithStatus(500);
  LogCapture log;
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  ASSERT_TRUE(loginError);
  EXPECT_EQ(loginError->code(), kNoteServiceErrorTransport);
  EXPECT_TRUE(log.contains("Received error HTTP response code: 500"));
  EXPECT_FALSE(log.contains(kNewToken));
  EXPECT_FALSE(session->isAuthenticated());
}

// A token reply is held to 1 MiB: a longer one fails the login as soon as it passes that.
TEST_F(NoteServiceSessionTest, ATokenReplyLongerThanItsBoundFailsTheLogin) {
  loginStandIn->padTemporaryTokenReply(std::size_t{1} << 20);
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  ASSERT_TRUE(loginError);
  EXPECT_EQ(loginError->domain(), kURLErrorDomain);
  EXPECT_EQ(loginError->code(), net::kURLErrorDataLengthExceedsMaximum);
  EXPECT_FALSE(session->isAuthenticated());
}

TEST_F(NoteServiceSessionTest, NoScreenOrNoKeysEndTheLoginAtOnce) {
  startLogin(nullptr);
  EXPECT_EQ(completions, 1);
  ASSERT_TRUE(loginError);
  EXPECT_EQ(loginError->code(), kNoteServiceErrorNoViewController);

  for (const auto& [key, secret] : std::vector<std::pair<std::string, std::string>>{
           {"your key", "s"}, {"k", "your secret"}, {"", "s"}, {"k", ""}}) {
    session->setHost(kNotesHost, key, secret);
    try {
      startLogin(root);
      ADD_FAILURE() << "no exception for " << key << "/" << secret;
    } catch (const Exception& exception) {
      EXPECT_EQ(exception.name(), "Invalid NoteServiceSession");
    }
  }
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(loginStandIn->temporaryTokenRequests(), 0);
}

TEST_F(NoteServiceSessionTest, ALoginPageThatCannotBeShownEndsTheLoginAndFreesTheNext) {
  // The presenter is busy with a screen of its own: the page cannot come up.
  root->presentViewController(std::make_shared<ui::ViewController>(), false);
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  ASSERT_TRUE(loginError);
  EXPECT_EQ(loginError->code(), kNoteServiceErrorNoViewController);
  EXPECT_FALSE(session->loginPage());
  EXPECT_FALSE(session->isAuthenticated());

  // Once the screen is gone, the next login runs in full.
  root->dismissViewControllerAnimated(false);
  completions = 0;
  loginError = nullptr;
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(loginError) << loginError->description();
  EXPECT_TRUE(session->isAuthenticated());
  EXPECT_TRUE(pumpRunLoopUntil([&] { return root->presentedViewController() == nullptr; }, 30.0));
}

TEST_F(NoteServiceSessionTest, ALoginEndedByLogoutOrAlreadyAnsweredTakesNoLateReply) {
  const auto callback = URL::make("en-consumer-key://response?oauth_token=temporary-token-1&oauth_verifier=verifier-77");
  // No login waits: the callback is refused.
  EXPECT_FALSE(session->handleOpenURL(callback));

  // Logged out while the first step is on its way: the login ends once, and its reply stores nothing.
  startLogin(root);
  session->logout();
  ASSERT_TRUE(waitForCompletion());
  EXPECT_FALSE(loginError);
  pumpRunLoopUntil([&] { return loginStandIn->accessTokenRequests() > 0 || session->isAuthenticated(); }, 1.0);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(loginStandIn->accessTokenRequests(), 0);
  EXPECT_FALSE(session->isAuthenticated());
  EXPECT_FALSE(session->loginPage());

  // A login answered once takes no second callback.
  completions = 0;
  startLogin(root);
  ASSERT_TRUE(waitForCompletion());
  EXPECT_TRUE(session->isAuthenticated());
  EXPECT_FALSE(session->handleOpenURL(callback));
  pumpRunLoopFor(0.2);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(loginStandIn->accessTokenRequests(), 1);
}

TEST_F(NoteServiceSessionTest, CancellingTheLoginPageCompletesWithoutALogin) {
  startLogin(root);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return session->loginPage() != nullptr; }, 30.0));
  auto page = session->loginPage();
  for (auto orientation : {ui::InterfaceOrientation::Portrait, ui::InterfaceOrientation::PortraitUpsideDown,
                           ui::InterfaceOrientation::LandscapeLeft, ui::InterfaceOrientation::LandscapeRight}) {
    EXPECT_TRUE(page->shouldAutorotateToInterfaceOrientation(orientation));
  }
  page->cancel();
  // A callback that comes after the cancel is nobody's.
  EXPECT_FALSE(session->handleOpenURL(URL::make("en-consumer-key://response?oauth_token=temporary-token-1&oauth_verifier=verifier-77")));
  ASSERT_TRUE(waitForCompletion());
  EXPECT_FALSE(loginError);
  EXPECT_FALSE(session->isAuthenticated());
  EXPECT_EQ(loginStandIn->accessTokenRequests(), 0);
  EXPECT_TRUE(pumpRunLoopUntil([&] { return root->presentedViewController() == nullptr; }, 30.0));
}

// The login page over the hub's screens on a manual clock, so that the page is taken down at a
// chosen point of its slide-in; the login endpoints still answer over loopback, and the page is
// shown without answering until the test does.
class NoteLoginPageTest : public NoteServiceSessionTest {
 protected:
  NoteLoginPageTest() : NoteServiceSessionTest(/*manualClock=*/true) {}
  void SetUp() override {
    NoteServiceSessionTest::SetUp();
    loginStandIn->holdLoginPage();
    SX::setRootViewController(root);
  }
  void TearDown() override {
    SX::currentHelper()->hideCurrentViewControllerAnimated(false);
    settleAll();
    SX::setRootViewController(nullptr);
    NoteServiceSessionTest::TearDown();
  }

  // Starts a login over the hub's top screen, as the note sharer does, and waits for its page to
  // be asked for: the page's slide-in starts then, and stands still until the test moves time.
  Ref<NCOAuthViewController> startLoginUntilPage(const Ref<ui::ViewController>& presenter) {
    const int before = completions;
    startLogin(presenter);
    EXPECT_TRUE(pumpRunLoopUntil([&] { return session->loginPage() || completions > before; }, 30.0));
    return session->loginPage();
  }
  // Lets time pass on the screens until the login completed.
  bool advanceUntilCompleted(int count) {
    return pumpRunLoopUntil([&] {
      advance(0.05);
      return completions >= count;
    }, 30.0);
  }
};

const char* const kCallback = "en-consumer-key://response?oauth_token=temporary-token-1&oauth_verifier=verifier-77";

// Taken down with the screen under it before its slide-in began, mid-way, right at its end and
// after it: the login ends once as not made, takes no late answer, and the next login runs.
TEST_F(NoteLoginPageTest, ALoginPageTakenDownAtAnyPointOfItsSlideInEndsTheLoginAndTheNextRuns) {
  for (double after : {0.0, 0.1, 0.34, 0.35, 0.6}) {
    SCOPED_TRACE(::testing::Message() << "taken down " << after << " s into the slide-in");
    completions = 0;
    loginError = nullptr;
    showThroughHub();
    auto page = startLoginUntilPage(SX::currentHelper()->rootViewForCustomUIDisplay());
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->navigationController()->isBeingPresented());
    advance(after);

    // Another share's screen reaches the hub: the screen under the page goes, and the page with it.
    showThroughHub();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(loginError) << loginError->description();
    EXPECT_FALSE(session->loginPage());
    EXPECT_FALSE(page->view()->window());
    EXPECT_FALSE(session->handleOpenURL(URL::make(kCallback)));

    // The next login is not refused as still running: its page comes up, and a cancel ends it.
    auto next = startLoginUntilPage(SX::currentHelper()->rootViewForCustomUIDisplay());
    ASSERT_TRUE(next) << (loginError ? loginError->localizedDescription() : "no page");
    EXPECT_EQ(completions, 1);
    settleAll();
    next->cancel();
    ASSERT_TRUE(advanceUntilCompleted(2));
    EXPECT_FALSE(loginError);
    EXPECT_FALSE(next->view()->window());
    EXPECT_EQ(loginStandIn->accessTokenRequests(), 0);
    EXPECT_FALSE(session->isAuthenticated());
  }
}

// Covered by another screen and uncovered, the page stays and the login waits; covered again and
// taken down with the screen under it, the login ends once as not made.
TEST_F(NoteLoginPageTest, ALoginPageOnlyCoveredWaitsAndCoveredWhenTakenDownEndsTheLogin) {
  showThroughHub();
  auto page = startLoginUntilPage(SX::currentHelper()->rootViewForCustomUIDisplay());
  ASSERT_TRUE(page);
  settleAll();
  auto cover = std::make_shared<ui::ViewController>();
  page->presentViewController(cover, true);
  settleAll();
  EXPECT_FALSE(page->isVisible());
  cover->dismissViewControllerAnimated(true);
  settleAll();
  EXPECT_TRUE(page->isVisible());
  EXPECT_EQ(completions, 0);
  EXPECT_EQ(session->loginPage(), page);

  page->presentViewController(cover, true);
  settleAll();
  showThroughHub();
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(loginError);
  EXPECT_FALSE(page->view()->window());
  EXPECT_FALSE(cover->view()->window());
  auto next = startLoginUntilPage(SX::currentHelper()->rootViewForCustomUIDisplay());
  EXPECT_TRUE(next) << (loginError ? loginError->localizedDescription() : "no page");
}

// A share menu's row starts a login and the menu closes: the page, asked for while the menu still
// slides out, comes up over the screen under the menu, and the login completes when it is answered.
TEST_F(NoteLoginPageTest, ALoginPageAskedForWhileTheMenuUnderItClosesComesUpAndFinishes) {
  auto menu = showThroughHub();
  startLogin(SX::currentHelper()->rootViewForCustomUIDisplay());
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return session->loginPage() || completions > 0; }, 30.0));
  auto page = session->loginPage();
  ASSERT_TRUE(page);
  settleAll();
  EXPECT_FALSE(menu->view()->window());
  EXPECT_EQ(root->presentedViewController(), page->navigationController());
  EXPECT_TRUE(page->isVisible());
  EXPECT_EQ(completions, 0);

  ASSERT_TRUE(session->handleOpenURL(URL::make(kCallback)));
  ASSERT_TRUE(advanceUntilCompleted(1));
  EXPECT_EQ(completions, 1);
  EXPECT_FALSE(loginError) << loginError->description();
  EXPECT_TRUE(session->isAuthenticated());
  EXPECT_FALSE(page->view()->window());
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

}  // namespace
}  // namespace zv::testing
