// The Foursquare API calls against the loopback service: searches near a location (with and
// without a place name), check-ins with and without a message, escaping of every value in the
// address, places read from replies, and the service's errors (a new login only for 401).

#include <gtest/gtest.h>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "sharing/services/foursquare/SXFoursquareV2Request.h"
#include "support/sharing/FoursquareService.h"
#include "support/sharing/SharingTestSupport.h"

namespace zv::testing {
namespace {

// Has a "+", a "/" and an "=", which must reach the service escaped.
constexpr const char* kToken = "tok+en/A=";

class SXFoursquareV2RequestTest : public SharingTest {
 protected:
  SXFoursquareV2RequestTest() : SharingTest(/*manualClock=*/false) {}
  void SetUp() override {
    SharingTest::SetUp();
    ASSERT_TRUE(service.start());
    service.addToken(kToken);
    service.setVenues({{"4b5/a&b", "Pizza & Co", "Via Roma 1"}, {"4c", "Bar Centrale", "Piazza Duomo"}});
  }
  // Runs until the request has finished; the request it was given.
  Ref<SXFoursquareV2Request> wait(const Ref<SXFoursquareV2Request>& request) {
    EXPECT_TRUE(pumpRunLoopUntil([&] { return request->isFinished(); }, 20.0)) << service.lastComplaint();
    EXPECT_EQ(finishedCalls, 1);
    return request;
  }
  SXRequestFinishedCallback finished() {
    return [this](const Ref<SXRequest>&) { ++finishedCalls; };
  }

  FoursquareService service;
  int finishedCalls = 0;
  Ref<ui::Location> here = ui::Location::make(45.464211, 9.191383, 65, 122.5, 10);
};

TEST_F(SXFoursquareV2RequestTest, ASearchNearALocationReadsThePlacesAndSendsTheLocationAndQueryEscaped) {
  auto request = wait(SXFoursquareV2Request::requestVenuesSearchLocation(here, std::string("Pizza & Co"), nullptr,
                                                                         finished(), kToken, true));
  EXPECT_FALSE(request->getFoursquareError());
  auto venues = request->getFoursquareResponse()->objectForKeyAs<Array>("venues");
  ASSERT_TRUE(venues);
  ASSERT_EQ(venues->count(), 1u);
  auto venue = SXFoursquareV2Venue::venueFromDictionary(dyn<Dictionary>(venues->objectAtIndex(0)));
  ASSERT_TRUE(venue);
  EXPECT_EQ(venue->venueId, "4b5/a&b");
  EXPECT_EQ(venue->name, "Pizza & Co");
  EXPECT_EQ(venue->address, "Via Roma 1");
  EXPECT_EQ(venue->icon, "https://ss.example.org/b.png") << "the primary category's icon";

  const auto call = service.calls("/v2/venues/search").at(0);
  EXPECT_EQ(call.at("oauth_token"), kToken);
  EXPECT_EQ(call.at("ll"), "45.46421,9.19138");
  EXPECT_EQ(call.at("llAcc"), "65.00");
  EXPECT_EQ(call.at("alt"), "122.50");
  EXPECT_EQ(call.at("altAcc"), "10.00");
  EXPECT_EQ(call.at("query"), "Pizza & Co");
  EXPECT_TRUE(service.lastComplaint().empty()) << service.lastComplaint();
}

TEST_F(SXFoursquareV2RequestTest, ACheckInCarriesAShoutOnlyWhenThereIsAMessageAndZerosWithoutALocation) {
  auto venue = std::make_shared<SXFoursquareV2Venue>();
  venue->venueId = "4b5/a&b";
  auto request = wait(SXFoursquareV2Request::requestCheckinLocation(nullptr, venue, "Calm & steady, 100%", nullptr,
                                                                    finished(), kToken, true));
  EXPECT_FALSE(request->getFoursquareError()) << service.lastComplaint();
  finishedCalls = 0;
  wait(SXFoursquareV2Request::requestCheckinLocation(here, venue, "", nullptr, finished(), kToken, true));

  const auto calls = service.calls("/v2/checkins/add");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].at("venueId"), "4b5/a&b");
  EXPECT_EQ(calls[0].at("shout"), "Calm & steady, 100%");
  EXPECT_EQ(calls[0].at("ll"), "0.00000,0.00000");
  EXPECT_EQ(calls[0].at("llAcc"), "0.00");
  EXPECT_EQ(calls[0].at("alt"), "0.00");
  EXPECT_EQ(calls[0].at("altAcc"), "0.00");
  EXPECT_FALSE(calls[1].contains("shout"));
  EXPECT_TRUE(service.lastComplaint().empty()) << service.lastComplaint();
}

TEST_F(SXFoursquareV2RequestTest, OnlyARefusedTokenAsksForANewLoginAndUnreadableRepliesAreGenericErrors) {
  auto refused = wait(SXFoursquareV2Request::requestVenuesSearchLocation(here, std::nullopt, nullptr, finished(),
                                                                         "revoked", true));
  auto error = refused->getFoursquareError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kSXFoursquareV2ErrorDomain);
  EXPECT_EQ(error->code(), 401);
  EXPECT_TRUE(SXFoursquareV2ErrorNeedsRelogin(error));
  EXPECT_EQ(error->localizedDescription(), "Could not authenticate you. Please relogin.");
  EXPECT_EQ(stringValueOf(error->userInfo()->objectForKey(kSXFoursquareV2ErrorTypeKey)), "invalid_auth");
  EXPECT_EQ(refused->getFoursquareError(), error) << "made once";

  finishedCalls = 0;
  service.failNext("/v2/venues/search", 500, "<html>Internal error</html>");
  auto broken = wait(SXFoursquareV2Request::requestVenuesSearchLocation(here, std::nullopt, nullptr, finished(),
                                                                        kToken, true));
  EXPECT_FALSE(broken->getFoursquareResult());
  auto generic = broken->getFoursquareError();
  ASSERT_TRUE(generic);
  EXPECT_EQ(generic->code(), 0);
  EXPECT_FALSE(SXFoursquareV2ErrorNeedsRelogin(generic));
  EXPECT_EQ(generic->localizedDescription(), "There was an error while sharing");

  finishedCalls = 0;
  service.failNext("/v2/checkins/add", 200, "{\"meta\":{\"code\":200},\"response\":[]}");
  auto odd = wait(SXFoursquareV2Request::requestCheckinLocation(here, nullptr, "x", nullptr, finished(), kToken, true));
  EXPECT_FALSE(odd->getFoursquareError());
  EXPECT_FALSE(odd->getFoursquareResponse()) << "a response that is not an object is none";
}

TEST(SXFoursquareV2VenueTest, APlaceNeedsAnIdAndANameAndTakesTheIconOfThePrimaryCategoryOnly) {
  EXPECT_FALSE(SXFoursquareV2Venue::venueFromDictionary(nullptr));
  EXPECT_FALSE(SXFoursquareV2Venue::venueFromDictionary(Dictionary::make({{"name", box("No id")}})));
  auto plain = SXFoursquareV2Venue::venueFromDictionary(Dictionary::make(
      {{"id", box("1")}, {"name", box("Park")}, {"categories", Array::make({Dictionary::make({{"icon", box("i")}})})}}));
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->icon);
  EXPECT_FALSE(plain->address);
}

}  // namespace
}  // namespace zv::testing
