#include "platform/foundation/Clock.h"

#include <mutex>

#include "platform/foundation/ForkHandlers.h"

namespace zv {

namespace {
// Held across a fork, so a child's run loops can read the clock (ForkHandlers.h).
ForkMutex& clockMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::Clock);
  return mutex;
}
std::shared_ptr<Clock>& installedClock() {
  static std::shared_ptr<Clock>& clock = *new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
  return clock;
}
}  // namespace

std::shared_ptr<Clock> Clock::current() {
  std::lock_guard lock(clockMutex());
  return installedClock();
}

void Clock::install(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(clockMutex());
  installedClock() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

double SystemClock::now() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateOffset;
}

double SystemClock::monotonic() const {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ManualClock::advance(double seconds) {
  now_ = now_.load() + seconds;
  monotonic_ = monotonic_.load() + seconds;
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gClockMade = (clockMutex(), installedClock(), true);
}  // namespace

}  // namespace zv
