#pragma once
// Threads the system refuses for a moment (out of threads, memory or descriptors) delay work,
// never strand it, and never make the caller wait: the start is tried again off the caller's
// thread until it succeeds.
//
// One supervisor thread per process does the retrying, with pauses growing from 1 ms to 250 ms.
// It is made when the process starts (in a child made by fork, at its first refusal); should that
// be refused too, every later refusal and every worker-pool submission tries to make it again.
// Everything here may be called from any thread and never throws for a refused thread.

#include <functional>
#include <string>

namespace zv {

// Calls `attempt` on the supervisor thread, again and again, until it answers true. An exception
// from `attempt` counts as false. Whatever `attempt` captures must live until it answered true.
void retryUntilStarted(std::function<bool()> attempt);

// Makes the supervisor thread now if it does not exist yet.
void prepareThreadStartRetries();

// Runs `body` on a plain detached thread of its own (no run loop), named `name` for the kernel.
// When the system refuses the thread now, it is made later, once the system allows (see above):
// the body is delayed, never dropped.
void detachThread(std::function<void()> body, const std::string& name = {});

}  // namespace zv
