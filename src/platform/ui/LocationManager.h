#pragma once
// The device's location service, headless. What the "device" knows comes from the location
// environment (LocationEnvironment::shared()): whether location services are on, the
// authorization status, whether significant-change monitoring exists, and either a position or a
// failure (denied, unavailable, or silence: no answer ever comes). A manager started for updates
// reports on a later turn of the starting thread's run loop: first the position, or an error in
// kLocationErrorDomain; a user asked for the first time (status NotDetermined) grants access
// unless the environment says otherwise. Stopping a manager ends its reports at once.
//
// Threads: a manager is used on one thread (the main thread in the application); the environment
// may be set from any thread. The delegate is not retained.

#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Protocol.h"
#include "platform/runloop/RunLoop.h"
#include "platform/foundation/ForkHandlers.h"

namespace zv::ui {

inline constexpr const char* kLocationErrorDomain = "kCLErrorDomain";
inline constexpr std::int64_t kLocationErrorLocationUnknown = 0;
inline constexpr std::int64_t kLocationErrorDenied = 1;

enum class LocationAuthorizationStatus : int { NotDetermined = 0, Restricted = 1, Denied = 2, Authorized = 3 };

inline constexpr double kLocationAccuracyBest = -1;

// One position fix.
class Location : public Object {
 public:
  static Ref<Location> make(double latitude, double longitude, double horizontalAccuracy = 10, double altitude = 0,
                            double verticalAccuracy = -1, Ref<Date> timestamp = nullptr);
  double latitude() const { return latitude_; }
  double longitude() const { return longitude_; }
  double horizontalAccuracy() const { return horizontalAccuracy_; }
  double altitude() const { return altitude_; }
  double verticalAccuracy() const { return verticalAccuracy_; }
  const Ref<Date>& timestamp() const { return timestamp_; }
  std::string description() const override;

 private:
  double latitude_ = 0, longitude_ = 0, horizontalAccuracy_ = 0, altitude_ = 0, verticalAccuracy_ = 0;
  Ref<Date> timestamp_;
};

enum class LocationOutcome { Position, Denied, Unavailable, Silent };

// What the headless device answers. Tests set it; reset() restores the defaults (services on,
// not determined, granted on request, significant changes available, no position: Silent).
class LocationEnvironment {
 public:
  static LocationEnvironment& shared();

  bool servicesEnabled() const;
  void setServicesEnabled(bool enabled);
  // nullopt: the platform reports no status at all.
  std::optional<LocationAuthorizationStatus> authorizationStatus() const;
  void setAuthorizationStatus(std::optional<LocationAuthorizationStatus> status);
  bool grantsOnRequest() const;
  void setGrantsOnRequest(bool grants);
  bool significantChangesAvailable() const;
  void setSignificantChangesAvailable(bool available);
  // The position reported (outcome Position), or a failure.
  void setPosition(double latitude, double longitude, double horizontalAccuracy = 10, double altitude = 0,
                   double verticalAccuracy = -1);
  void setOutcome(LocationOutcome outcome);
  LocationOutcome outcome() const;
  Ref<Location> position() const;
  void reset();

 private:
  mutable ForkMutex mutex_{ForkLockLevel::LocationEnvironment};
  bool servicesEnabled_ = true;
  std::optional<LocationAuthorizationStatus> status_ = LocationAuthorizationStatus::NotDetermined;
  bool grantsOnRequest_ = true;
  bool significantChanges_ = true;
  LocationOutcome outcome_ = LocationOutcome::Silent;
  Ref<Location> position_;
};

class LocationManager;

class LocationManagerDelegate : public Protocol {
 public:
  virtual void locationManagerDidUpdateToLocationFromLocation(LocationManager&, const Ref<Location>& newLocation,
                                                              const Ref<Location>& oldLocation) {
    (void)newLocation, (void)oldLocation;
  }
  virtual void locationManagerDidFailWithError(LocationManager&, const Ref<Error>& error) { (void)error; }
};

class LocationManager : public Object {
 public:
  static Ref<LocationManager> make();
  static bool locationServicesEnabled();
  static std::optional<LocationAuthorizationStatus> authorizationStatus();
  static bool significantLocationChangeMonitoringAvailable();

  std::weak_ptr<LocationManagerDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<LocationManagerDelegate> delegate) { delegate_ = std::move(delegate); }
  double desiredAccuracy() const { return desiredAccuracy_; }
  void setDesiredAccuracy(double accuracy) { desiredAccuracy_ = accuracy; }
  // The last position reported, or nullptr.
  const Ref<Location>& location() const { return location_; }
  bool isUpdating() const { return updating_; }
  bool isMonitoringSignificantChanges() const { return significant_; }

  void startUpdatingLocation();
  void stopUpdatingLocation();
  void startMonitoringSignificantLocationChanges();
  void stopMonitoringSignificantLocationChanges();

  // A later fix (the device moved): reported like the first one while the manager runs.
  void simulateMove(const Ref<Location>& location);

  ~LocationManager() override;

 private:
  void start();
  void stopIfIdle();
  void deliver(const Ref<Location>& location);
  void fail(std::int64_t code);

  std::weak_ptr<LocationManagerDelegate> delegate_;
  double desiredAccuracy_ = kLocationAccuracyBest;
  Ref<Location> location_;
  bool updating_ = false;
  bool significant_ = false;
  std::uint64_t generation_ = 0;  // bumped by each start and stop: stale reports are dropped
};

}  // namespace zv::ui
