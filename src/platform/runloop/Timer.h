#pragma once
// A timer: fires its callback on the thread of the run loop it was added to, in the modes it was
// added for, once (one-shot) or every `interval` seconds (repeating). A repeating timer that
// falls behind fires once and moves to the next future multiple of its interval, never in a
// burst. Fire dates are on `Clock::current()->monotonic()`.
//
// A timer is retained by its loop until it is invalidated; a one-shot timer is invalidated after
// it fires. `invalidate()` may be called from any thread. On the loop's own thread, once it
// returns the callback is not called again. From another thread it stops the firings the loop
// has not begun: one it has begun may still call back after `invalidate` returns. So a timer that
// belongs to an object bound to a loop is invalidated on that loop's thread, or its callback
// holds the object weakly and checks its state.

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Object.h"

namespace zv {

class RunLoop;

class Timer : public Object {
 public:
  using Callback = std::function<void(Timer& timer)>;

  // A timer that first fires `interval` seconds from now; not yet scheduled (add it with
  // RunLoop::addTimer). A negative or NaN interval counts as 0 and an infinite one as about
  // 30,000 years; a repeating timer's interval is at least 0.1 ms. A NaN fire date (here or in
  // setFireDate) counts as now.
  static Ref<Timer> create(double interval, bool repeats, Callback callback);
  // A timer whose first fire date is `firstFire` (monotonic seconds), then every `interval`.
  static Ref<Timer> createWithFireDate(double firstFire, double interval, bool repeats, Callback callback);
  // Creates a timer and adds it to the current thread's loop in the default mode.
  static Ref<Timer> scheduledTimer(double interval, bool repeats, Callback callback);

  Timer(double firstFire, double interval, bool repeats, Callback callback);
  ~Timer() override;

  // Any thread.
  void invalidate();
  bool isValid() const { return valid_.load(); }
  double interval() const { return interval_; }
  bool repeats() const { return repeats_; }
  // The next fire date (monotonic seconds).
  double fireDate() const;
  // Moves the next fire date; wakes the loop so it re-computes its wait. A timer already due in
  // the loop's current turn and moved to a later date waits for that date. Any thread.
  void setFireDate(double monotonicSeconds);
  // Runs the callback now on the calling thread; a one-shot timer is then invalidated.
  void fire();

  // --- Internal, used by RunLoop. ---
  // Binds the timer to a loop; false when it already belongs to another loop.
  bool bindTo(const Ref<RunLoop>& loop);
  void unbind();
  Ref<RunLoop> boundLoop() const;
  // After a scheduled firing: the next fire date of a repeating timer (from `now`).
  void advanceAfterFiring(double now);

 private:
  const double interval_;
  const bool repeats_;
  Callback callback_;
  std::atomic<bool> valid_{true};
  // Held only to read or change the fields below (ObjectMutex's rules).
  mutable ObjectMutex mutex_;
  double fireDate_;
  WeakRef<RunLoop> loop_;
  bool bound_ = false;
};

}  // namespace zv
