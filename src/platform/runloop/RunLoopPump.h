#pragma once
// For tests and tools: drives the calling thread's run loop (normally the main one) until a
// condition holds, so work sent to it with performOnMainThread or the main queue runs.

#include <functional>

#include "platform/runloop/RunLoop.h"

namespace zv {

// Runs the current thread's loop in `mode` until `predicate` answers true or `timeoutSeconds`
// of real time pass (a manual clock does not stretch it). Returns the predicate's last answer.
// The predicate is checked before the first turn and after every dispatched event.
bool pumpRunLoopUntil(const std::function<bool()>& predicate, double timeoutSeconds = 5.0,
                      const RunLoopMode& mode = kDefaultRunLoopMode);
// Runs the current thread's loop in `mode` for `seconds` of real time, dispatching what comes.
void pumpRunLoopFor(double seconds, const RunLoopMode& mode = kDefaultRunLoopMode);

}  // namespace zv
