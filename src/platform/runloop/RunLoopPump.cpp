#include "platform/runloop/RunLoopPump.h"

#include <algorithm>
#include <chrono>

#include "platform/foundation/Clock.h"
#include "platform/runloop/RunLoopImpl.h"

namespace zv {

namespace {
using SteadyClock = std::chrono::steady_clock;

double secondsUntil(SteadyClock::time_point end) {
  return std::chrono::duration<double>(end - SteadyClock::now()).count();
}

// One short turn; a mode with nothing to wait for returns at once, so nap instead of spinning.
// The nap ends early when work is sent to the loop, so a perform from another thread is served
// at once; a condition that changes without one is seen within the nap. A manual clock does not
// move while the loop waits, so then each turn only polls.
void turn(const Ref<RunLoop>& loop, const RunLoopMode& mode, double seconds) {
  const bool systemClock = dynamic_cast<const SystemClock*>(Clock::current().get()) != nullptr;
  const auto result = loop->runMode(mode, systemClock ? std::min(seconds, 0.05) : 0.0, true);
  if (result == RunLoopRunResult::Finished || (!systemClock && result != RunLoopRunResult::HandledSource)) {
    loop->impl().waitForWakeUp(std::min(seconds, 0.0005));
  }
}
}  // namespace

bool pumpRunLoopUntil(const std::function<bool()>& predicate, double timeoutSeconds, const RunLoopMode& mode) {
  const auto end = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                            std::chrono::duration<double>(timeoutSeconds));
  auto loop = RunLoop::current();
  while (!predicate()) {
    const double left = secondsUntil(end);
    if (left <= 0) return predicate();
    turn(loop, mode, left);
  }
  return true;
}

void pumpRunLoopFor(double seconds, const RunLoopMode& mode) {
  const auto end = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                            std::chrono::duration<double>(seconds));
  auto loop = RunLoop::current();
  for (double left = secondsUntil(end); left > 0; left = secondsUntil(end)) turn(loop, mode, left);
}

}  // namespace zv
