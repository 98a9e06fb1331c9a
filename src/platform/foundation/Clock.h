#pragma once
// The source of "now" for dates, timers and time-outs. Tests install a manual clock to make time
// deterministic; everything that measures time asks Clock::current().

#include <atomic>
#include <chrono>
#include <memory>

namespace zv {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the reference date 2001-01-01 00:00:00 UTC (wall clock).
  virtual double now() const = 0;
  // Seconds on a monotonic scale, for intervals and time-outs.
  virtual double monotonic() const = 0;

  static std::shared_ptr<Clock> current();
  // Replaces the process clock; nullptr restores the system clock.
  static void install(std::shared_ptr<Clock> clock);
};

// Seconds between the Unix epoch and the reference date.
inline constexpr double kReferenceDateOffset = 978307200.0;

class SystemClock : public Clock {
 public:
  double now() const override;
  double monotonic() const override;
};

// A clock that moves only when told to.
class ManualClock : public Clock {
 public:
  explicit ManualClock(double start = 0.0) : now_(start), monotonic_(start) {}
  double now() const override { return now_.load(); }
  double monotonic() const override { return monotonic_.load(); }
  void advance(double seconds);
  void set(double now) { now_ = now; }

 private:
  std::atomic<double> now_;
  std::atomic<double> monotonic_;
};

}  // namespace zv
