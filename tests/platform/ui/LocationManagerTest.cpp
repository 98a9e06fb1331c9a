// The headless location manager: what the environment says reaches the delegate once, on a later
// turn; denial and unavailability are errors; stopping ends the reports; later moves carry the
// previous fix.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/ui/LocationManager.h"

namespace zv::ui {
namespace {

class RecordingLocationDelegate : public Object, public LocationManagerDelegate {
 public:
  void locationManagerDidUpdateToLocationFromLocation(LocationManager&, const Ref<Location>& newLocation,
                                                      const Ref<Location>& oldLocation) override {
    updates.emplace_back(newLocation, oldLocation);
  }
  void locationManagerDidFailWithError(LocationManager&, const Ref<Error>& error) override { errors.push_back(error); }
  std::vector<std::pair<Ref<Location>, Ref<Location>>> updates;
  std::vector<Ref<Error>> errors;
};

class LocationManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunLoop::setMainThreadToCurrent();
    LocationEnvironment::shared().reset();
    manager->setDelegate(delegate);
  }
  void TearDown() override { LocationEnvironment::shared().reset(); }
  // Lets a few turns of the run loop pass (reports come on the next one).
  void turns() { pumpRunLoopFor(0.05); }

  Ref<LocationManager> manager = LocationManager::make();
  Ref<RecordingLocationDelegate> delegate = std::make_shared<RecordingLocationDelegate>();
};

TEST_F(LocationManagerTest, APositionIsReportedOnceOnALaterTurnAndMovesCarryThePreviousFix) {
  LocationEnvironment::shared().setPosition(45.4642, 9.19, 65, 122, 10);
  manager->startMonitoringSignificantLocationChanges();
  EXPECT_TRUE(delegate->updates.empty()) << "reported before the caller could get ready";
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !delegate->updates.empty(); }, 10.0));
  turns();
  ASSERT_EQ(delegate->updates.size(), 1u);
  auto first = delegate->updates[0].first;
  EXPECT_DOUBLE_EQ(first->latitude(), 45.4642);
  EXPECT_DOUBLE_EQ(first->longitude(), 9.19);
  EXPECT_DOUBLE_EQ(first->horizontalAccuracy(), 65);
  EXPECT_DOUBLE_EQ(first->altitude(), 122);
  EXPECT_DOUBLE_EQ(first->verticalAccuracy(), 10);
  EXPECT_TRUE(first->timestamp());
  EXPECT_FALSE(delegate->updates[0].second);
  EXPECT_EQ(LocationManager::authorizationStatus(), LocationAuthorizationStatus::Authorized);

  manager->simulateMove(Location::make(45.47, 9.2));
  ASSERT_EQ(delegate->updates.size(), 2u);
  EXPECT_EQ(delegate->updates[1].second, first);
  EXPECT_EQ(manager->location(), delegate->updates[1].first);

  manager->stopMonitoringSignificantLocationChanges();
  manager->simulateMove(Location::make(1, 1));
  EXPECT_EQ(delegate->updates.size(), 2u);
}

TEST_F(LocationManagerTest, DenialOffServicesAndUnavailabilityAreErrors) {
  struct Case {
    const char* name;
    std::function<void()> setUp;
    std::int64_t code;
  };
  const Case cases[] = {
      {"denied status", [] { LocationEnvironment::shared().setAuthorizationStatus(LocationAuthorizationStatus::Denied); },
       kLocationErrorDenied},
      {"restricted", [] { LocationEnvironment::shared().setAuthorizationStatus(LocationAuthorizationStatus::Restricted); },
       kLocationErrorDenied},
      {"user refuses", [] { LocationEnvironment::shared().setGrantsOnRequest(false); }, kLocationErrorDenied},
      {"services off", [] { LocationEnvironment::shared().setServicesEnabled(false); }, kLocationErrorDenied},
      {"no fix", [] { LocationEnvironment::shared().setOutcome(LocationOutcome::Unavailable); },
       kLocationErrorLocationUnknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LocationEnvironment::shared().reset();
    LocationEnvironment::shared().setPosition(1, 2);
    c.setUp();
    auto recorder = std::make_shared<RecordingLocationDelegate>();
    auto local = LocationManager::make();
    local->setDelegate(recorder);
    local->startUpdatingLocation();
    ASSERT_TRUE(pumpRunLoopUntil([&] { return !recorder->errors.empty(); }, 10.0));
    turns();
    ASSERT_EQ(recorder->errors.size(), 1u);
    EXPECT_EQ(recorder->errors[0]->domain(), kLocationErrorDomain);
    EXPECT_EQ(recorder->errors[0]->code(), c.code);
    EXPECT_TRUE(recorder->updates.empty());
  }
}

TEST_F(LocationManagerTest, AManagerStoppedBeforeItsFirstReportOrReleasedHearsNothing) {
  LocationEnvironment::shared().setPosition(1, 2);
  manager->startUpdatingLocation();
  manager->stopUpdatingLocation();
  auto released = LocationManager::make();
  auto other = std::make_shared<RecordingLocationDelegate>();
  released->setDelegate(other);
  released->startUpdatingLocation();
  released.reset();
  // A third manager shows when the reports have had their turn.
  auto witness = std::make_shared<RecordingLocationDelegate>();
  auto third = LocationManager::make();
  third->setDelegate(witness);
  third->startUpdatingLocation();
  ASSERT_TRUE(pumpRunLoopUntil([&] { return !witness->updates.empty(); }, 10.0));
  turns();
  EXPECT_TRUE(delegate->updates.empty());
  EXPECT_TRUE(other->updates.empty());
}

TEST_F(LocationManagerTest, SilenceMeansNoReportAndTheStatusCanBeAbsent) {
  LocationEnvironment::shared().setOutcome(LocationOutcome::Silent);
  manager->startUpdatingLocation();
  turns();
  EXPECT_TRUE(delegate->updates.empty());
  EXPECT_TRUE(delegate->errors.empty());
  LocationEnvironment::shared().setAuthorizationStatus(std::nullopt);
  EXPECT_FALSE(LocationManager::authorizationStatus());
}

}  // namespace
}  // namespace zv::ui
