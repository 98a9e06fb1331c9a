#include "platform/ui/LocationManager.h"

#include "platform/foundation/Format.h"
#include "platform/ui/Scheduler.h"

namespace zv::ui {

Ref<Location> Location::make(double latitude, double longitude, double horizontalAccuracy, double altitude,
                             double verticalAccuracy, Ref<Date> timestamp) {
  auto location = std::make_shared<Location>();
  location->latitude_ = latitude;
  location->longitude_ = longitude;
  location->horizontalAccuracy_ = horizontalAccuracy;
  location->altitude_ = altitude;
  location->verticalAccuracy_ = verticalAccuracy;
  location->timestamp_ = timestamp ? std::move(timestamp) : Date::now();
  return location;
}

std::string Location::description() const {
  return format("<%+.8f,%+.8f> +/- %.2fm (alt %.2f +/- %.2fm)", latitude_, longitude_, horizontalAccuracy_, altitude_,
                verticalAccuracy_);
}

// --- environment ---

LocationEnvironment& LocationEnvironment::shared() {
  // Never destroyed: threads may still ask while the process exits.
  static LocationEnvironment& environment = *new LocationEnvironment;
  return environment;
}

namespace {
// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gLocationEnvironmentMade = (LocationEnvironment::shared(), true);
}  // namespace

bool LocationEnvironment::servicesEnabled() const {
  std::lock_guard lock(mutex_);
  return servicesEnabled_;
}
void LocationEnvironment::setServicesEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  servicesEnabled_ = enabled;
}
std::optional<LocationAuthorizationStatus> LocationEnvironment::authorizationStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}
void LocationEnvironment::setAuthorizationStatus(std::optional<LocationAuthorizationStatus> status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}
bool LocationEnvironment::grantsOnRequest() const {
  std::lock_guard lock(mutex_);
  return grantsOnRequest_;
}
void LocationEnvironment::setGrantsOnRequest(bool grants) {
  std::lock_guard lock(mutex_);
  grantsOnRequest_ = grants;
}
bool LocationEnvironment::significantChangesAvailable() const {
  std::lock_guard lock(mutex_);
  return significantChanges_;
}
void LocationEnvironment::setSignificantChangesAvailable(bool available) {
  std::lock_guard lock(mutex_);
  significantChanges_ = available;
}
void LocationEnvironment::setPosition(double latitude, double longitude, double horizontalAccuracy, double altitude,
                                      double verticalAccuracy) {
  auto position = Location::make(latitude, longitude, horizontalAccuracy, altitude, verticalAccuracy);
  std::lock_guard lock(mutex_);
  position_ = position;
  outcome_ = LocationOutcome::Position;
}
void LocationEnvironment::setOutcome(LocationOutcome outcome) {
  std::lock_guard lock(mutex_);
  outcome_ = outcome;
}
LocationOutcome LocationEnvironment::outcome() const {
  std::lock_guard lock(mutex_);
  return outcome_;
}
Ref<Location> LocationEnvironment::position() const {
  std::lock_guard lock(mutex_);
  return position_;
}
void LocationEnvironment::reset() {
  std::lock_guard lock(mutex_);
  servicesEnabled_ = true;
  status_ = LocationAuthorizationStatus::NotDetermined;
  grantsOnRequest_ = true;
  significantChanges_ = true;
  outcome_ = LocationOutcome::Silent;
  position_ = nullptr;
}

// --- manager ---

Ref<LocationManager> LocationManager::make() { return std::make_shared<LocationManager>(); }

bool LocationManager::locationServicesEnabled() { return LocationEnvironment::shared().servicesEnabled(); }

std::optional<LocationAuthorizationStatus> LocationManager::authorizationStatus() {
  return LocationEnvironment::shared().authorizationStatus();
}

bool LocationManager::significantLocationChangeMonitoringAvailable() {
  return LocationEnvironment::shared().significantChangesAvailable();
}

LocationManager::~LocationManager() = default;

void LocationManager::startUpdatingLocation() {
  const bool wasRunning = updating_ || significant_;
  updating_ = true;
  if (!wasRunning) start();
}

void LocationManager::startMonitoringSignificantLocationChanges() {
  const bool wasRunning = updating_ || significant_;
  significant_ = true;
  if (!wasRunning) start();
}

void LocationManager::stopUpdatingLocation() {
  updating_ = false;
  stopIfIdle();
}

void LocationManager::stopMonitoringSignificantLocationChanges() {
  significant_ = false;
  stopIfIdle();
}

void LocationManager::stopIfIdle() {
  if (!updating_ && !significant_) ++generation_;
}

void LocationManager::start() {
  const auto generation = ++generation_;
  auto weak = std::weak_ptr<LocationManager>(selfAs<LocationManager>());
  scheduleAfter(0, [weak, generation] {
    auto self = weak.lock();
    if (!self || self->generation_ != generation) return;
    auto& environment = LocationEnvironment::shared();
    auto status = environment.authorizationStatus();
    if (status == LocationAuthorizationStatus::NotDetermined) {
      status = environment.grantsOnRequest() ? LocationAuthorizationStatus::Authorized
                                             : LocationAuthorizationStatus::Denied;
      environment.setAuthorizationStatus(status);
    }
    if (!environment.servicesEnabled() || status == LocationAuthorizationStatus::Denied ||
        status == LocationAuthorizationStatus::Restricted) {
      return self->fail(kLocationErrorDenied);
    }
    switch (environment.outcome()) {
      case LocationOutcome::Position: return self->deliver(environment.position());
      case LocationOutcome::Denied: return self->fail(kLocationErrorDenied);
      case LocationOutcome::Unavailable: return self->fail(kLocationErrorLocationUnknown);
      case LocationOutcome::Silent: return;
    }
  });
}

void LocationManager::simulateMove(const Ref<Location>& location) {
  if ((updating_ || significant_) && location) deliver(location);
}

void LocationManager::deliver(const Ref<Location>& location) {
  auto hold = self();
  auto previous = location_;
  location_ = location;
  if (auto delegate = delegate_.lock()) delegate->locationManagerDidUpdateToLocationFromLocation(*this, location, previous);
}

void LocationManager::fail(std::int64_t code) {
  auto hold = self();
  if (auto delegate = delegate_.lock()) delegate->locationManagerDidFailWithError(*this, Error::make(kLocationErrorDomain, code));
}

}  // namespace zv::ui
