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
}  // namespace

Timer::Timer(double firstFire, double interval, bool repeats, Callback callback)
    : interval_(repeats ? std::max(interval, kMinimumRepeatInterval) : std::max(interval, 0.0)),
      repeats_(repeats),
      callback_(std::move(callback)),
      fireDate_(firstFire) {}

Timer::~Timer() = default;

Ref<Timer> Timer::create(double interval, bool repeats, Callback callback) {
  const double first = Clock::current()->monotonic() + std::max(interval, 0.0);
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
  {
    std::lock_guard lock(mutex_);
    fireDate_ = monotonicSeconds;
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
  std::lock_guard lock(mutex_);
  if (bound_) {
    auto current = loop_.lock();
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
