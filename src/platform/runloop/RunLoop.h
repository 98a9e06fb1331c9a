#pragma once
// A run loop: the event loop of one thread. It waits (epoll) for its sources, timers and queued
// work in one mode at a time and dispatches them on its thread.
//
// Every thread has at most one run loop, created on first use (`RunLoop::current()`). The main
// run loop belongs to the main thread: the process's first thread, or the thread that called
// `RunLoop::setMainThreadToCurrent()`. Nothing runs a loop by itself: the main thread of a
// program calls `RunLoop::main()->run()`; a test pumps it with `pumpRunLoopUntil` (RunLoopPump.h).
//
// Modes: sources and timers are registered for named modes, and a run in mode M dispatches only
// what is registered for M. `kRunLoopCommonModes` is the set of modes marked common (the default
// mode plus any added with `addCommonMode`); what is registered for it is in every common mode.
// Private modes (any other name, e.g. "HTTPRequestRunLoopMode") let a thread serve one thing
// while it waits.
//
// Time: timer deadlines and run limits are measured on `Clock::current()->monotonic()`. While a
// non-system clock is installed (ManualClock), the loop never sleeps more than 10 ms at a time
// so that a clock advanced from another thread is noticed; on the loop's own thread a test can
// also advance the clock and call `fireDueTimers(mode)`.
//
// Ending: when the owning thread ends, the loop is marked ended; work, timers and sources aimed
// at it afterwards are dropped (never run), and a caller waiting for such work is released.
//
// Exceptions that escape a callback (timer, source, queued work) are logged as
// "[ERROR] Uncaught exception on run loop of thread <name>: <what>" and the loop goes on.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Object.h"

namespace zv {

class RunLoopSource;
class Timer;

using RunLoopMode = std::string;

// The mode a loop runs in unless told otherwise.
inline constexpr const char* kDefaultRunLoopMode = "DefaultRunLoopMode";
// Registering for this name registers for every common mode.
inline constexpr const char* kRunLoopCommonModes = "RunLoopCommonModes";

// Why a run returned.
enum class RunLoopRunResult {
  Finished,       // the mode had nothing to wait for (no source, valid timer or queued work)
  Stopped,        // `stop()` was called
  TimedOut,       // the time limit passed
  HandledSource,  // one source, timer or queued work item was dispatched (returnAfterSourceHandled)
};
const char* runLoopRunResultName(RunLoopRunResult result);

// A run limit that never passes ("until the distant future").
inline constexpr double kRunLoopForever = 1.0e12;

class RunLoop : public Object {
 public:
  // The calling thread's loop, created on first use. Any thread.
  static Ref<RunLoop> current();
  // The main thread's loop (created on first use, from any thread). Any thread.
  static Ref<RunLoop> main();
  // Makes the calling thread the main thread (for tests and programs whose loop thread is not
  // the process's first thread). Call before anything asks for the main loop from elsewhere.
  static void setMainThreadToCurrent();
  // Whether the caller is the main thread.
  static bool isMainThread();

  ~RunLoop() override;

  // --- Owning thread only (others raise "NSInternalInconsistencyException"). ---

  // Runs the default mode until stopped or until it has nothing to wait for.
  RunLoopRunResult run();
  // Runs `mode` for at most `seconds` (kRunLoopForever: no limit). With returnAfterSourceHandled
  // it returns after the first dispatched source, timer or queued work item. Returns Finished at
  // once when the mode has nothing to wait for, so a caller that loops cannot spin unknowingly.
  // Runs nest: a callback may run the loop again (in the same or another mode).
  RunLoopRunResult runMode(const RunLoopMode& mode, double seconds, bool returnAfterSourceHandled = false);
  // runMode(mode, limit - now, true), the limit read on the wall clock.
  RunLoopRunResult runModeBeforeDate(const RunLoopMode& mode, const Ref<Date>& limitDate);
  // Fires the valid timers of `mode` whose fire date has come (by Clock::current()), in order.
  // Returns how many fired. For tests with a manual clock.
  std::size_t fireDueTimers(const RunLoopMode& mode = kDefaultRunLoopMode);
  // The mode of the innermost run in progress; empty when the loop is not running.
  std::optional<RunLoopMode> currentMode() const;

  // --- Any thread. ---

  // Ends the innermost run in progress (it returns Stopped). When no run is in progress the
  // next run returns Stopped at once, so a stop sent just before a run starts is not lost.
  void stop();
  // Wakes the loop from its wait so it re-checks its sources and timers.
  void wakeUp();
  // Whether the loop is waiting for events now (a hint only).
  bool isWaiting() const;
  // Whether the owning thread has ended.
  bool isEnded() const;
  // Whether the caller is the owning thread.
  bool isCurrent() const;

  // Marks `mode` as common: what is registered for kRunLoopCommonModes is registered there too.
  void addCommonMode(const RunLoopMode& mode);

  // Schedules the timer in `mode` (it may be added to several modes of one loop, never to two
  // loops: that raises "NSInvalidArgumentException"). The loop retains the timer until it is
  // invalidated. Adding an invalid timer, or to an ended loop, does nothing.
  void addTimer(const Ref<Timer>& timer, const RunLoopMode& mode);
  // Schedules / unschedules a source in `mode`. The loop retains the source while it is
  // scheduled. An unscheduled file-descriptor source is no longer polled at all, so its socket
  // is not read and TCP pushes back on the sender. Adding twice or removing what is not there
  // does nothing.
  void addSource(const Ref<RunLoopSource>& source, const RunLoopMode& mode);
  void removeSource(const Ref<RunLoopSource>& source, const RunLoopMode& mode);
  bool containsSource(const Ref<RunLoopSource>& source, const RunLoopMode& mode) const;

  // Queues `work` to run once on this loop's thread the next time it runs one of `modes`, in
  // the order queued, and wakes the loop. Returns false (and drops the work) when the thread has
  // ended. See Perform.h for waiting and delayed variants.
  bool perform(std::function<void()> work, std::vector<RunLoopMode> modes = {kRunLoopCommonModes});

  // The name of the owning thread, for logs.
  std::string threadName() const;
  std::string description() const override;

  struct Impl;
  // Internal: the implementation shared with sources, timers and threads.
  Impl& impl() const { return *impl_; }
  explicit RunLoop(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace zv
