#pragma once
// Running a callable on another thread's run loop (or later on the current one).
//
// Work queued for a thread runs on its run loop, in the modes given, in the order queued. With
// `waitUntilDone` the caller blocks until the work has run; when the caller already is the
// target thread the work runs at once, inline. Work aimed at a thread that has ended (or ends
// before running it) is dropped: the call returns false and a waiting caller is released.
// Exceptions thrown by the work are logged ("[ERROR] ...") and go no further.
//
// Waiting for a thread that does not run its loop (in one of the modes given) blocks until it
// does: the main thread must be running or pumping its loop for performOnMainThread to return.

#include <functional>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/runloop/RunLoop.h"

namespace zv {

class Thread;

using PerformModes = std::vector<RunLoopMode>;

// Runs `work` on the main thread. Returns whether it ran (waiting) or was queued (not waiting).
// Any thread.
bool performOnMainThread(std::function<void()> work, bool waitUntilDone,
                         const PerformModes& modes = {kRunLoopCommonModes});
// Runs `work` on `thread`'s run loop. Work for a thread that does not run yet (not started, or
// refused by the system for now) waits for it, and so does a caller waiting for it. Any thread.
bool performOnThread(const Ref<Thread>& thread, std::function<void()> work, bool waitUntilDone,
                     const PerformModes& modes = {kRunLoopCommonModes});
// Runs `work` on `loop`'s thread. A null loop drops the work with an "[ERROR]" line and returns
// false. Any thread.
bool performOnRunLoop(const Ref<RunLoop>& loop, std::function<void()> work, bool waitUntilDone,
                      const PerformModes& modes = {kRunLoopCommonModes});

// Runs `work` on the current thread's run loop after `delay` seconds (0: on the next turn), in
// `modes`. Cancel by invalidating the returned timer (any thread) or with
// cancelPreviousPerformRequests for a `target` tag. Calling thread's loop only.
Ref<Timer> performAfterDelay(double delay, std::function<void()> work,
                             const PerformModes& modes = {kDefaultRunLoopMode},
                             const void* target = nullptr);
// Cancels the delayed performs of the current thread's loop that were queued with `target`.
// Returns how many were cancelled. Calling thread only.
std::size_t cancelPreviousPerformRequests(const void* target);

}  // namespace zv
