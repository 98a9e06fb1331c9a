#pragma once
// The one place where the user interface hands delayed work to the run loop: animation
// completions, transition ends, delayed dismissals and page loads. Work runs on the calling
// (main) thread's run loop in the common modes after `delay` seconds measured on the process
// clock, so tests with a manual clock advance it and fire the due timers.

#include <functional>

#include "platform/foundation/Object.h"

namespace zv {
class Timer;
}

namespace zv::ui {

// Runs `work` on the current thread's run loop after `delay` seconds (0: the next turn).
// Returns the timer (invalidate it to cancel). Main thread.
Ref<Timer> scheduleAfter(double delay, std::function<void()> work);

// The duration of animated screen transitions (present, dismiss, push, pop).
inline constexpr double kTransitionDuration = 0.35;

}  // namespace zv::ui
