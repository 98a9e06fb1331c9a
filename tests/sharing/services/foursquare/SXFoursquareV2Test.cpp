// The Foursquare check-in sharer end to end against the loopback service: the login page driven
// through the web view, the places near the device, a search by name, the check-in; a callback
// without a token, a denied or silent location, an empty list, and when the sharer is offered.

#include <gtest/gtest.h>

#include "platform/net/CookieStore.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/Application.h"
#include "platform/system/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SX.h"
#include "sharing/services/RegisterServiceClasses.h"
#include "sharing/services/foursquare/SXFoursquareV2.h"
#include "support/sharing/FacebookService.h"
#include "support/sharing/FormDriver.h"
#include "support/sharing/FoursquareService.h"
#include "support/sharing/ShareReports.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

constexpr const char* kToken = "FSQTOKEN+1/x";

class SXFoursquareV2Test : public SharingTest {
 protected:
  SXFoursquareV2Test() : SharingTest(/*manualClock=*/false) {}
  void SetUp() override {
    SharingTest::SetUp();
    registerSharingServicesClasses();
    ui::LocationEnvironment::shared().reset();
    ui::LocationEnvironment::shared().setPosition(45.464211, 9.191383, 65, 122, 10);
    SXFoursquareV2VenuesForm::setLocationTimeout(30);
    net::CookieStore::sharedInstance()->removeAllCookies();
    ASSERT_TRUE(service.start());
    service.addToken(kToken);
    service.setVenues({{"4b5/a&b", "Pizza & Co", "Via Roma 1"}, {"4c", "Bar Centrale", "Piazza Duomo"}});
    configurator->set("foursquareV2ClientId", box(FoursquareService::kClientId));
    configurator->set("foursquareV2RedirectURI", box(FoursquareService::kRedirectURI));
    root = std::make_shared<ui::ViewController>();
    showRoot(root);
    SX::setRootViewController(root);
    SXFoursquareV2::logoutOfFoursquare();
  }
  void TearDown() override {
    // Every screen of the test goes before the next test starts: a dismissal still running then
    // would report its end to the next test's hub.
    auto hub = SX::currentHelper();
    EXPECT_TRUE(pumpRunLoopUntil([&] { return !hub->isDismissingView() && !busy(hub->currentView()); }, 20.0));
    hub->hideCurrentViewControllerAnimated(false);
    EXPECT_TRUE(pumpRunLoopUntil([&] { return !hub->currentView() && !root->presentedViewController(); }, 20.0));
    ui::LocationEnvironment::shared().reset();
    SharingTest::TearDown();
  }
  static bool busy(const Ref<ui::ViewController>& screen) {
    return screen && (screen->isBeingPresented() || screen->isBeingDismissed());
  }
  bool waitForReport(const std::string& name) {
    return pumpRunLoopUntil([&] { return std::find(reports.begin(), reports.end(), name) != reports.end(); }, 20.0);
  }
  int count(const std::string& name) const { return static_cast<int>(std::count(reports.begin(), reports.end(), name)); }
  void logIn() {
    Ref<SXOAuthView> login;
    ASSERT_TRUE(pumpRunLoopUntil([&] {
      auto screen = dyn<ui::NavigationController>(SX::currentHelper()->currentView());
      login = screen ? dyn<SXFoursquareV2OAuthView>(screen->topViewController()) : nullptr;
      return login && login->isVisible() && !login->webView()->isLoading() && login->webView()->pageTitle() == "Log In";
    }, 20.0)) << service.lastComplaint();
    auto webView = login->webView();
    auto request = FacebookService::formSubmission(webView->pageHTML(), webView->request()->url(), {}, "allow");
    ASSERT_TRUE(request);
    webView->simulateFormSubmit(request);
  }
  Ref<SXFoursquareV2VenuesForm> waitForPlaces(const Ref<SXSharer>& sharer) {
    Ref<SXFoursquareV2VenuesForm> form;
    pumpRunLoopUntil([&] {
      form = dyn<SXFoursquareV2VenuesForm>(sharer->topViewController());
      // ... and on screen: touches while it comes are ignored.
      return form && form->venues() && !form->request() &&
             !ui::Application::sharedApplication()->isIgnoringInteractionEvents();
    }, 20.0);
    return form;
  }

  FoursquareService service;
  Ref<ui::ViewController> root;
  ShareReports recorder{false};
  std::vector<std::string>& reports = recorder.entries;
};

TEST_F(SXFoursquareV2Test, ACallbackWithoutATokenIsAFailedLoginThatEndsTheLogin) {
  service.setOmitFragment(true);
  // The callback as configured, and spelt with other case and the default port.
  for (const char* spelling : {FoursquareService::kRedirectURI, "HTTPS://Zerivudor.Example.ORG:443/foursquare-callback"}) {
    SCOPED_TRACE(spelling);
    service.setCallbackSpelling(spelling);
    reports.clear();
    const auto logins = service.calls("/oauth2/authenticate").size();
    auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
    logIn();
    ASSERT_TRUE(waitForReport(std::string(kSXAuthDidFinish) + " NO"));
    pumpRunLoopFor(0.8);  // a login loop would show the page again by now
    EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
    EXPECT_FALSE(SX::getAuthValueForKey("accessToken", "SXFoursquareV2"));
    EXPECT_EQ(service.calls("/oauth2/authenticate").size(), logins + 1);
    auto alert = topAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Access Error");
    alert->simulateTapButtonAtIndex(0);
    ASSERT_TRUE(pumpRunLoopUntil([] { return !SX::currentHelper()->currentView() && !topAlert(); }, 20.0));
  }
  // The other spelling with a token is a login.
  service.setOmitFragment(false);
  auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
  logIn();
  ASSERT_TRUE(waitForPlaces(sharer)) << service.lastComplaint();
  EXPECT_EQ(SX::getAuthValueForKey("accessToken", "SXFoursquareV2"), kToken);
}

TEST_F(SXFoursquareV2Test, ALoginCancelledWhileItsAnswerIsOnTheWayIsNotKept) {
  auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
  logIn();
  // Cancel right after "Allow": the service's redirect with the token is on its way.
  auto screen = dyn<ui::NavigationController>(SX::currentHelper()->currentView());
  ASSERT_TRUE(screen);
  ASSERT_TRUE(pressLeft(screen->topViewController()));
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !SX::currentHelper()->currentView(); }, 20.0));
  pumpRunLoopUntil([&] { return !service.calls("/oauth2/grant").empty(); }, 2.0);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !reports.empty(); }, 20.0));
  pumpRunLoopFor(0.8);
  EXPECT_EQ(reports, (std::vector<std::string>{std::string(kSXAuthDidFinish) + " NO"}));
  EXPECT_FALSE(SX::getAuthValueForKey("accessToken", "SXFoursquareV2"));
  EXPECT_FALSE(sharer->accessToken());
  EXPECT_FALSE(SX::currentHelper()->currentView());  // no place list came back
  EXPECT_EQ(sharer->pendingAction(), SXPendingActionNone);
}

TEST_F(SXFoursquareV2Test, OnlyTheNewestSearchFillsTheListAndNothingActsAfterACancel) {
  ASSERT_TRUE(SX::setAuthValue(kToken, "accessToken", "SXFoursquareV2"));
  service.setVenues({{"1", "Slow place", "A"}, {"2", "Fast food", "B"}});
  auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
  auto places = waitForPlaces(sharer);
  ASSERT_TRUE(places);
  auto bar = places->searchDisplay()->searchBar();
  auto search = [&](const std::string& text, std::size_t calls) {
    bar->simulateClear();
    bar->simulateTyping(text);
    bar->simulateSearchButton();
    EXPECT_TRUE(pumpRunLoopUntil([&] { return service.calls("/v2/venues/search").size() == calls; }, 20.0));
  };
  // An older search that answers last leaves the newer results alone.
  service.holdSearches("Slow");
  search("Slow", 2);
  search("Fast", 3);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return places->filteredVenues() && !places->request(); }, 20.0));
  service.releaseHeldSearches();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return service.heldSearchesAnswered() == 1; }, 20.0));
  pumpRunLoopFor(0.5);
  ASSERT_EQ(places->filteredVenues()->size(), 1u);
  EXPECT_EQ(places->filteredVenues()->front()->name, "Fast food");

  // A search running at Cancel: its failing answer must not report, close or alert.
  service.holdSearches("Slow");
  search("Slow", 4);
  ASSERT_TRUE(places->navigationItem()->leftBarButtonItem()->simulateTap());
  ASSERT_TRUE(waitForReport(kSXSendDidCancel));
  ASSERT_TRUE(pumpRunLoopUntil([] { return !SX::currentHelper()->currentView(); }, 20.0));
  auto other = ui::NavigationController::make(std::make_shared<ui::ViewController>());
  SX::currentHelper()->showViewController(other, [] {});
  ASSERT_TRUE(pumpRunLoopUntil([&] { return other->isVisible(); }, 20.0));
  service.failNext("/v2/venues/search", 500, "{\"meta\":{\"code\":500,\"errorType\":\"server_error\"}}");
  service.releaseHeldSearches();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return service.heldSearchesAnswered() == 2; }, 20.0));
  pumpRunLoopFor(0.5);
  EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidCancel}));
  EXPECT_EQ(SX::currentHelper()->currentView(), other);
  EXPECT_FALSE(topAlert());
}

TEST_F(SXFoursquareV2Test, ALoginThenACheckInAtAPlaceFoundByName) {
  auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm & steady");
  logIn();
  auto places = waitForPlaces(sharer);
  ASSERT_TRUE(places) << service.lastComplaint();
  EXPECT_EQ(SX::getAuthValueForKey("accessToken", "SXFoursquareV2"), kToken);
  ASSERT_EQ(places->venues()->size(), 2u);
  EXPECT_EQ(places->tableView()->numberOfRowsInSection(0), 2u);
  EXPECT_EQ(places->title(), "Nearby Places");

  // Later moves do not reload; blanks alone are no search.
  places->locationManager()->simulateMove(ui::Location::make(45.47, 9.2));
  auto bar = places->searchDisplay()->searchBar();
  bar->simulateTyping("   ");
  bar->simulateSearchButton();
  EXPECT_FALSE(places->query());
  bar->simulateClear();
  bar->simulateTyping(" Bar ");
  bar->simulateSearchButton();
  EXPECT_EQ(places->query(), "Bar");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return places->filteredVenues() && !places->request(); }, 20.0));
  ASSERT_EQ(service.calls("/v2/venues/search").size(), 2u);
  EXPECT_EQ(service.calls("/v2/venues/search")[1].at("query"), "Bar");
  EXPECT_EQ(service.calls("/v2/venues/search")[1].at("ll"), "45.47000,9.20000");
  auto results = places->searchDisplay()->searchResultsTableView();
  ASSERT_EQ(results->numberOfRowsInSection(0), 1u);
  results->simulateTapOnRow(IndexPath::forRow(0, 0));

  // The editor replaces the list, shows the shared text and offers only "Check In".
  auto editor = dyn<SXFoursquareV2CheckInForm>(sharer->topViewController());
  ASSERT_TRUE(editor);
  EXPECT_EQ(sharer->viewControllers().size(), 1u);
  EXPECT_EQ(sharer->venue()->venueId, "4c");
  ASSERT_TRUE(sharer->location());
  EXPECT_DOUBLE_EQ(sharer->location()->latitude(), 45.47);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return editor->isVisible(); }, 20.0));
  EXPECT_FALSE(places->locationManager()) << "the list stopped watching the location when it left";
  EXPECT_EQ(editor->maxTextLength(), 140u);
  EXPECT_EQ(editor->textView()->text(), "Calm & steady");
  EXPECT_FALSE(editor->navigationItem()->leftBarButtonItem());
  auto checkIn = editor->navigationItem()->rightBarButtonItem();
  ASSERT_TRUE(checkIn) << "the editor has no Check In button";
  EXPECT_EQ(checkIn->title(), "Check In");
  EXPECT_EQ(checkIn->style(), ui::BarButtonItemStyle::Done);
  editor->textView()->insertText(" +1 #here");
  ASSERT_TRUE(checkIn->simulateTap());

  ASSERT_TRUE(waitForReport(kSXSendDidFinish)) << service.lastComplaint();
  const auto checkins = service.calls("/v2/checkins/add");
  ASSERT_EQ(checkins.size(), 1u);
  EXPECT_EQ(checkins[0].at("venueId"), "4c");
  EXPECT_EQ(checkins[0].at("shout"), "Calm & steady +1 #here");
  EXPECT_EQ(checkins[0].at("oauth_token"), kToken);
  EXPECT_EQ(count(kSXSendDidFailWithError), 0);
  EXPECT_TRUE(service.lastComplaint().empty()) << service.lastComplaint();
}

TEST_F(SXFoursquareV2Test, ADeniedOrSilentLocationFailsTheShareOnceWithoutASearch) {
  ASSERT_TRUE(SX::setAuthValue(kToken, "accessToken", "SXFoursquareV2"));
  ui::LocationEnvironment::shared().setGrantsOnRequest(false);
  SXSharer::shareText<SXFoursquareV2>("Calm");
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  pumpRunLoopFor(0.4);
  EXPECT_EQ(count(kSXSendDidFailWithError), 1);

  reports.clear();
  ui::LocationEnvironment::shared().reset();
  ui::LocationEnvironment::shared().setOutcome(ui::LocationOutcome::Silent);
  SXFoursquareV2VenuesForm::setLocationTimeout(0.5);
  SXSharer::shareText<SXFoursquareV2>("Calm");
  ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
  EXPECT_EQ(count(kSXSendDidFailWithError), 1);
  EXPECT_TRUE(service.calls("/v2/venues/search").empty());
}

TEST_F(SXFoursquareV2Test, ARefusedTokenAsksForANewLogin) {
  ASSERT_TRUE(SX::setAuthValue("revoked", "accessToken", "SXFoursquareV2"));
  auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
  ASSERT_TRUE(pumpRunLoopUntil([&] { return sharer->lastError() != nullptr; }, 20.0));
  EXPECT_EQ(sharer->lastError()->code(), 401);

  EXPECT_TRUE(SXFoursquareV2ErrorNeedsRelogin(sharer->lastError()));
  EXPECT_TRUE(pumpRunLoopUntil([&] { return service.calls("/oauth2/authenticate").size() == 1; }, 20.0))
      << "a new login is asked for";
}

// A search the service refuses ends the share as failed, and that stays its only outcome: the hub
// taking the list away afterwards (or a login page taking its place) reports no cancel.
TEST_F(SXFoursquareV2Test, ARefusedSearchOrTokenFailsTheShareOnceAndNothingFollows) {
  constexpr const char* kRefusal = "{\"meta\":{\"code\":500,\"errorType\":\"server_error\"}}";
  auto hub = SX::currentHelper();
  auto failedOnceAndGone = [&] {
    ASSERT_TRUE(waitForReport(kSXSendDidFailWithError)) << service.lastComplaint();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return !hub->currentView() && !hub->isDismissingView(); }, 20.0));
    pumpRunLoopFor(0.2);
    EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidFailWithError}));
    if (auto alert = topAlert()) alert->simulateTapButtonAtIndex(0);
  };
  ASSERT_TRUE(SX::setAuthValue(kToken, "accessToken", "SXFoursquareV2"));
  {
    SCOPED_TRACE("the list's first search");
    service.failNext("/v2/venues/search", 500, kRefusal);
    SXSharer::shareText<SXFoursquareV2>("Calm");
    failedOnceAndGone();
  }
  {
    SCOPED_TRACE("a search by name");
    reports.clear();
    auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
    auto places = waitForPlaces(sharer);
    ASSERT_TRUE(places);
    service.failNext("/v2/venues/search", 500, kRefusal);
    auto bar = places->searchDisplay()->searchBar();
    bar->simulateTyping("Bar");
    bar->simulateSearchButton();
    failedOnceAndGone();
  }
  {
    SCOPED_TRACE("a refused token");
    ASSERT_TRUE(SX::setAuthValue("revoked", "accessToken", "SXFoursquareV2"));
    reports.clear();
    auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
    ASSERT_TRUE(waitForReport(kSXSendDidFailWithError));
    ASSERT_TRUE(pumpRunLoopUntil([&] {
      auto screen = dyn<ui::NavigationController>(hub->currentView());
      auto page = screen ? dyn<SXFoursquareV2OAuthView>(screen->topViewController()) : nullptr;
      return page && page->isVisible();
    }, 20.0)) << "the new login's page replaces the list";
    EXPECT_EQ(reports, (std::vector<std::string>{kSXSendDidFailWithError}));
    EXPECT_TRUE(SXFoursquareV2ErrorNeedsRelogin(sharer->lastError()));
  }
}

// A place picked while a search by name still runs: the editor takes over the share, and the
// search's late refusal neither fails the share nor takes the editor away.
TEST_F(SXFoursquareV2Test, ASearchStillRunningWhenAPlaceIsPickedEndsNothing) {
  ASSERT_TRUE(SX::setAuthValue(kToken, "accessToken", "SXFoursquareV2"));
  auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
  auto places = waitForPlaces(sharer);
  ASSERT_TRUE(places);
  service.holdSearches("Slow");
  auto bar = places->searchDisplay()->searchBar();
  bar->simulateTyping("Slow");
  bar->simulateSearchButton();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return service.calls("/v2/venues/search").size() == 2; }, 20.0));
  places->tableView()->simulateTapOnRow(IndexPath::forRow(0, 0));
  auto editor = dyn<SXFoursquareV2CheckInForm>(sharer->topViewController());
  ASSERT_TRUE(editor);
  ASSERT_TRUE(pumpRunLoopUntil([&] { return editor->isVisible(); }, 20.0));

  service.failNext("/v2/venues/search", 500, "{\"meta\":{\"code\":500,\"errorType\":\"server_error\"}}");
  service.releaseHeldSearches();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return service.heldSearchesAnswered() == 1; }, 20.0));
  pumpRunLoopFor(0.5);
  EXPECT_TRUE(reports.empty()) << reports.front();
  EXPECT_EQ(SX::currentHelper()->currentView(), sharer);
  EXPECT_TRUE(editor->isVisible());
}

TEST_F(SXFoursquareV2Test, AnEmptyListOfPlacesSaysSo) {
  ASSERT_TRUE(SX::setAuthValue(kToken, "accessToken", "SXFoursquareV2"));
  service.setVenues({});
  auto sharer = SXSharer::shareText<SXFoursquareV2>("Calm");
  auto places = waitForPlaces(sharer);
  ASSERT_TRUE(places);
  EXPECT_TRUE(places->venues()->empty());
  EXPECT_EQ(places->tableView()->numberOfRowsInSection(0), 0u);
  auto alert = topAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->title(), "No places found");
  EXPECT_EQ(count(kSXSendDidFailWithError), 0);
}

TEST_F(SXFoursquareV2Test, TheSharerIsOfferedOnlyWithLocationServicesItMayUse) {
  auto sharer = SXSharer::make<SXFoursquareV2>();
  auto& environment = ui::LocationEnvironment::shared();
  EXPECT_TRUE(sharer->canShare());
  environment.setAuthorizationStatus(std::nullopt);
  EXPECT_TRUE(sharer->canShare());
  environment.setAuthorizationStatus(ui::LocationAuthorizationStatus::Denied);
  EXPECT_FALSE(sharer->canShare());
  environment.setAuthorizationStatus(ui::LocationAuthorizationStatus::Restricted);
  EXPECT_FALSE(sharer->canShare());
  environment.setAuthorizationStatus(ui::LocationAuthorizationStatus::Authorized);
  EXPECT_TRUE(sharer->canShare());
  environment.setServicesEnabled(false);
  EXPECT_FALSE(sharer->canShare());
  EXPECT_FALSE(sharer->canShareURL());
  EXPECT_TRUE(sharer->canShareText());
}

}  // namespace
}  // namespace zv::testing
