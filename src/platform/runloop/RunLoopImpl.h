#pragma once
// The inside of a run loop, shared by RunLoop.cpp, sources, timers and threads (not a public
// interface). One epoll instance per mode holds the loop's eventfd and that mode's descriptor
// sources, so running a mode waits on exactly what that mode dispatches, and a descriptor that
// is scheduled in no mode is not polled at all.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/runloop/FileDescriptorSource.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Timer.h"

namespace zv {

// A caller blocked until its work has run (or has been dropped).
struct PerformWaiter {
  std::mutex mutex;
  std::condition_variable condition;
  bool done = false;
  bool ran = false;
  void complete(bool didRun);
  // Blocks until complete; returns whether the work ran.
  bool wait();
};

struct RunLoop::Impl {
  struct Mode {
    int epollFd = -1;
    std::vector<Ref<RunLoopSource>> sources;
    std::map<const RunLoopSource*, std::uint64_t> descriptorIds;
    std::vector<Ref<Timer>> timers;
  };
  struct Work {
    std::function<void()> work;
    std::vector<RunLoopMode> modes;
    std::shared_ptr<PerformWaiter> waiter;
  };
  struct Frame {
    RunLoopMode mode;
    std::atomic<bool> stopped{false};
  };
  // What one turn of a run in a mode has to do, taken under one lock.
  struct Turn {
    std::vector<Work> work;
    std::vector<Ref<Timer>> dueTimers;
    std::vector<Ref<RunLoopSource>> signalledSources;
    bool hasWork = false;
    bool hasTimer = false;
    double nextTimerDate = 0;
    int epollFd = -1;
  };

  // A loop without descriptors yet (see openDescriptors).
  Impl();
  ~Impl();

  // The loop this is the inside of (set by RunLoop's constructor).
  RunLoop* owner = nullptr;
  // Guards everything below except what is noted. Held across a fork (ForkHandlers.h).
  mutable ForkMutex mutex{ForkLockLevel::RunLoop};
  std::atomic<pid_t> ownerThreadId{0};
  std::string threadName;
  // -1 until openDescriptors; read without the mutex by wake-ups from other threads.
  std::atomic<int> wakeFd{-1};
  std::map<RunLoopMode, Mode> modes;
  std::set<RunLoopMode> commonModes;
  std::vector<Ref<RunLoopSource>> commonSources;
  std::vector<Ref<Timer>> commonTimers;
  std::deque<Work> queue;
  std::vector<Frame*> frames;
  bool pendingStop = false;
  std::uint64_t nextDescriptorId = 1;
  std::atomic<bool> ended{false};
  // Set in a forked child for a loop of a thread the child does not have (or whose descriptors
  // the child could not make): ended there, so work sent to it is dropped at once.
  std::atomic<bool> endedByFork{false};
  std::atomic<bool> reportedDropAfterFork{false};
  std::atomic<bool> waiting{false};
  // Set by the wake-up that writes the eventfd, cleared by the owner when it drains it: the
  // wake-ups in between find the descriptor already readable and skip the write. The owner
  // re-reads everything (work, timers, sources, stops) after each drain before it waits again.
  std::atomic<bool> wakePending{false};

  // Makes what the loop waits on, unless made already: its eventfd and an epoll instance for each
  // mode used so far, with the descriptor sources scheduled there. Until then the loop keeps
  // everything sent to it (work, timers, sources, stops) and wake-ups are not needed, since no
  // thread runs it yet. Throws std::system_error when the system refuses a descriptor now; a
  // later call goes on from there. Any thread, before the owner first runs the loop.
  void openDescriptors();

  // In a forked child, with every fork lock held and no other thread: a loop of the forking
  // thread drops the parent's performs, timers and descriptor sources (they are the parent's work)
  // and gets descriptors of its own, so neither process takes the other's wake-ups; any other
  // loop is ended. The parent's descriptors are closed here, which leaves the parent's alone.
  void startAfreshInForkedChild();

  // With the mutex held.
  Mode& modeLocked(const RunLoopMode& name);
  // Makes the mode's epoll instance once the loop has its eventfd (no-op before).
  void openModeLocked(Mode& mode);
  bool matchesLocked(const std::vector<RunLoopMode>& workModes, const RunLoopMode& mode) const;
  bool hasWorkLocked(const RunLoopMode& mode) const;
  void addSourceToModeLocked(const Ref<RunLoop>& loop, const Ref<RunLoopSource>& source, const RunLoopMode& mode);
  void removeSourceFromModeLocked(const RunLoopSource* source, const RunLoopMode& mode);
  void addTimerToModeLocked(const Ref<Timer>& timer, const RunLoopMode& mode);

  // Any thread.
  void wake();
  // Owner thread: empties the eventfd, after which the next wake-up writes it again.
  void drainWakeUps();
  // Owner thread, for a mode with nothing to wait for: sleeps until a wake-up (a perform, a
  // stop, a new source or timer) or `seconds`, whichever comes first.
  void waitForWakeUp(double seconds);
  void removeTimer(const Timer* timer);
  void updateDescriptorEvents(const FileDescriptorSource* source);
  // Marks the loop ended and drops what it holds; waiting callers are released.
  void markEnded();
  bool enqueue(Work work);

  // "run loop of thread <name>", for logs.
  std::string placeName() const;

  // Owner thread.
  bool isOwner() const;
  void checkOwner(const char* operation) const;
  Turn takeTurn(const RunLoopMode& mode, double now);
  // Each returns whether it dispatched anything.
  bool runWork(std::vector<Work>& work);
  std::size_t fireTimers(const std::vector<Ref<Timer>>& due, const Clock& clock);
  bool performSources(const std::vector<Ref<RunLoopSource>>& sources);
  std::size_t fireDueTimers(const RunLoopMode& mode);
  // Waits for descriptor events and dispatches them; true when one was dispatched.
  bool waitAndDispatch(const RunLoopMode& mode, int epollFd, int timeoutMilliseconds);
};

// The loop of the calling thread if one exists, without creating it.
Ref<RunLoop> currentRunLoopIfExists();
// Makes a loop with its descriptors (throws when refused); `bindRunLoopToCurrentThread` adopts it
// on a thread.
Ref<RunLoop> makeRunLoop(const std::string& threadName);
// Makes a loop for a thread yet to start, without descriptors: it needs no system resource, so it
// exists even while the system refuses them, and keeps what is sent to it. The thread calls
// `impl().openDescriptors()` before it starts.
Ref<RunLoop> makePendingRunLoop(const std::string& threadName);
void bindRunLoopToCurrentThread(const Ref<RunLoop>& loop);
// The kernel id of the calling thread.
pid_t currentThreadId();
// Logs an exception that escaped a callback on `place`.
void logUncaughtException(const std::string& place, const std::exception_ptr& exception);
// Runs `work`, logging (not propagating) what it throws; `describePlace()` names where, and is
// asked only when something was thrown.
template <class Place, class Work>
void runLogged(Place&& describePlace, Work&& work) {
  try {
    work();
  } catch (...) {
    logUncaughtException(describePlace(), std::current_exception());
  }
}

}  // namespace zv
