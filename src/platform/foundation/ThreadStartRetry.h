#pragma once
// Threads the system refuses for a moment (out of threads, memory or descriptors) delay work,
// never strand it, and never make the caller wait: the start is tried again off the caller's
// thread until it succeeds.
//
// One supervisor thread per process does the retrying. It tries one waiting start at a time:
// while starts are refused it pauses between trials, the pause doubling from 1 ms up to 250 ms
// however much work arrives meanwhile, so waiting costs little whatever the backlog; once a start
// succeeds, it starts the rest of the backlog at once. The supervisor is made when the process
// starts (in a child made by fork, at its first need); should that be refused too, every later
// refusal and every worker-pool submission tries to make it again.
//
// Refusals are logged per episode: the first refusal logs one line, the later ones until the
// supervisor has started everything it was given are only counted, and the end of the episode
// logs one line with the count.
//
// A child made by fork (without exec) inherits none of the parent's waiting starts: they are
// forgotten there (neither tried nor destroyed), as what they would start belongs to the parent.
//
// Everything here may be called from any thread and never throws for a refused thread.

#include <functional>
#include <string>

namespace zv {

// Calls `attempt` on the supervisor thread, again and again, until it answers true. An exception
// from `attempt` counts as false. Whatever `attempt` captures must live until it answered true.
void retryUntilStarted(std::function<bool()> attempt);

// Makes the supervisor thread now if it does not exist yet.
void prepareThreadStartRetries();

// Logs that the start of `what` was refused now (`reason`) and is left to the supervisor: one line
// for the first refusal of an episode, none for the later ones (see above).
void logRefusedThreadStart(const std::string& what, const std::string& reason);

// Makes a detached thread that runs `body`, or throws std::system_error when the system refuses
// one now. A fork never happens while the thread is made and not yet detached (ForkHandlers.h):
// the child would have a joinable thread that it cannot tell apart from its own next one.
//
// `atExit`, when given, is the last thing the thread does: it runs there once `body` has
// returned, the closure that held `body` is destroyed and every thread-local object the thread
// made is gone. So whoever it tells that the thread is over knows the thread has let go of all it
// held (a run loop's descriptors, the captures of `body`), not only that `body` returned.
void startDetachedThread(std::function<void()> body, std::function<void()> atExit = {});

// Runs `body` on a plain detached thread of its own (no run loop), named `name` for the kernel.
// When the system refuses the thread now, it is made later, once the system allows (see above):
// the body is delayed, never dropped. `atExit` as for startDetachedThread.
void detachThread(std::function<void()> body, const std::string& name = {}, std::function<void()> atExit = {});

}  // namespace zv
