#include "platform/runloop/Timer.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopImpl.h"

namespace zv {

namespace {
// A repeating timer of interval 0 would fire without end on every turn.
constexpr double kMinimumRepeatInterval = 0.0001;
// The farthest a timer may lie ahead (about 30,000 years): "never" stays a date the loop can wait
// for, and sums with it stay finite.
constexpr double kFarthestSeconds = 1.0e12;

// A NaN interval counts as 0 and an infinite one as the farthest: one timer must never leave its
// loop unable to compute when to wake (and so stop the loop's other timers).
double usableInterval(double interval) {
  if (std::isnan(interval)) return 0.0;
  return std::clamp(interval, 0.0, kFarthestSeconds);
}

// A fire date that is NaN counts as now.
double usableFireDate(double date) {
  if (std::isnan(date)) return Clock::current()->monotonic();
  return std::clamp(date, -kFarthestSeconds, kFarthestSeconds * 2);
}
}  // namespace

Timer::Timer(double firstFire, double interval, bool repeats, Callback callback)
    : interval_(repeats ? std::max(usableInterval(interval), kMinimumRepeatInterval) : usableInterval(interval)),
      repeats_(repeats),
      callback_(std::move(callback)),
      fireDate_(usableFireDate(firstFire)) {}

Timer::~Timer() = default;

Ref<Timer> Timer::create(double interval, bool repeats, Callback callback) {
  const double first = Clock::current()->monotonic() + usableInterval(interval);
  return std::make_shared<Timer>(first, interval, repeats, std::move(callback));
}

Ref<Timer> Timer::createWithFireDate(double firstFire, double interval, bool repeats, Callback callback) {
  return std::make_shared<Timer>(firstFire, interval, repeats, std::move(callback));
}

Ref<Timer> Timer::scheduledTimer(double interval, bool repeats, Callback callback) {
  auto timer = create(interval, repeats, std::move(callback));
  RunLoop::current()->addTimer(timer, kDefaultRunLoopMode);
  return timer;
}

void Timer::invalidate() {
  if (!valid_.exchange(false)) return;
  auto keepAlive = weak_from_this().lock();
  if (auto loop = boundLoop()) {
    loop->impl().removeTimer(this);
    loop->wakeUp();
  }
}

double Timer::fireDate() const {
  std::lock_guard lock(mutex_);
  return fireDate_;
}

void Timer::setFireDate(double monotonicSeconds) {
  const double date = usableFireDate(monotonicSeconds);  // may read the clock: not under the lock
  {
    std::lock_guard lock(mutex_);
    fireDate_ = date;
  }
  if (auto loop = boundLoop()) loop->wakeUp();
}

void Timer::fire() {
  if (!valid_.load()) return;
  auto keepAlive = weak_from_this().lock();
  if (callback_) {
    runLogged(
        [this] {
          auto loop = boundLoop();
          return loop ? loop->impl().placeName() : std::string("timer");
        },
        [this] { callback_(*this); });
  }
  if (!repeats_) invalidate();
}

bool Timer::bindTo(const Ref<RunLoop>& loop) {
  Ref<RunLoop> current;  // let go after the lock: it may be the loop's last reference
  std::lock_guard lock(mutex_);
  if (bound_) {
    current = loop_.lock();
    if (current && current != loop) return false;
  }
  loop_ = loop;
  bound_ = true;
  return true;
}

void Timer::unbind() {
  std::lock_guard lock(mutex_);
  loop_.reset();
  bound_ = false;
}

Ref<RunLoop> Timer::boundLoop() const {
  std::lock_guard lock(mutex_);
  return loop_.lock();
}

void Timer::advanceAfterFiring(double now) {
  std::lock_guard lock(mutex_);
  double next = fireDate_ + interval_;
  if (next <= now) {
    // Fell behind: skip the missed firings instead of bursting through them.
    next = fireDate_ + interval_ * (std::floor((now - fireDate_) / interval_) + 1.0);
  }
  fireDate_ = next;
}

}  // namespace zv
