#pragma once
// A unit of work for an operation queue, with the states ready, executing, finished and
// cancelled, dependencies on other operations and a queue priority.
//
// Plain operations override `main()`; the default `start()` marks the operation executing, runs
// `main()` on the calling thread and marks it finished, and for an operation cancelled before it
// started it skips `main()` and only marks it finished. Queues start cancelled operations too,
// so an operation that owns the end of its own work (a request) is told through its `start()`.
//
// Concurrent operations override `start()` (and `isConcurrent()`, `isExecuting()`,
// `isFinished()` and, if they keep their own flag, `isCancelled()`/`cancel()`): `start()` hands
// the work elsewhere and returns; the operation counts as executing until it says it finished.
// Such a subclass keeps its own flags and announces every change of them by wrapping it in
// `willChangeValueForKey(key)` / `didChangeValueForKey(key)` with "isExecuting", "isFinished",
// "isCancelled" or "isReady" (setQueuePriority announces "queuePriority" itself); a queue and
// the dependants re-read the state on each didChangeValueForKey. Subclasses that use the
// built-in flags call `markExecuting()` / `markFinished()` instead, which announce for them.
//
// Threads: every member may be called from any thread. The completion block runs once, on the
// thread that finished the operation, after it is finished.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Object.h"

namespace zv {

class OperationQueue;

// Named queue priorities; any int between them (or beyond) is allowed too.
inline constexpr int kOperationQueuePriorityVeryLow = -8;
inline constexpr int kOperationQueuePriorityLow = -4;
inline constexpr int kOperationQueuePriorityNormal = 0;
inline constexpr int kOperationQueuePriorityHigh = 4;
inline constexpr int kOperationQueuePriorityVeryHigh = 8;

class Operation : public Object {
 public:
  Operation();
  ~Operation() override;

  virtual void start();
  virtual void main() {}
  virtual bool isConcurrent() const { return false; }
  // Whether `start()` only hands the work to another thread and returns at once, taking no lock
  // a caller may hold: a queue then starts the operation on the thread that adds it or frees its
  // slot, instead of waking a worker only to call `start()`. Concurrent operations only.
  virtual bool startsOnAnyThread() const { return false; }
  virtual bool isExecuting() const { return executing_.load(); }
  virtual bool isFinished() const { return finished_.load(); }
  virtual bool isCancelled() const { return cancelled_.load(); }
  // Whether every dependency has finished (a cancelled operation is ready at once).
  virtual bool isReady() const;
  // Sets the cancelled flag (announced as "isCancelled"). The operation decides what that means;
  // a queue still starts it.
  virtual void cancel();

  // Dependencies are retained by this operation. Adding a dependency to an
  // operation that is executing or finished has no effect. Cycles are the caller's error.
  void addDependency(const Ref<Operation>& operation);
  void removeDependency(const Ref<Operation>& operation);
  std::vector<Ref<Operation>> dependencies() const;

  int queuePriority() const { return queuePriority_.load(); }
  // A change is announced as "queuePriority", so a queue holding the operation re-ranks it.
  void setQueuePriority(int priority);

  std::function<void()> completionBlock() const;
  void setCompletionBlock(std::function<void()> block);

  // Blocks until the operation is finished. Must not be called from the operation's own work.
  // Its completion block, and the queue's and worker's release of it, may still be under way on
  // another thread when this returns: what the operation's work captured is not gone yet.
  void waitUntilFinished();

  // State-change announcements (see the class comment). Any thread.
  void willChangeValueForKey(std::string_view key);
  void didChangeValueForKey(std::string_view key);

  // --- Internal, used by OperationQueue. ---
  // Called after each didChangeValueForKey; set by the queue holding the operation.
  void setStateObserver(std::function<void(Operation&)> observer);
  // Sets the observer unless one is set already; false then.
  bool setStateObserverIfNone(std::function<void(Operation&)> observer);
  bool hasStateObserver() const;

 protected:
  // For subclasses that use the built-in flags.
  void markExecuting();
  void markFinished();

 private:
  void dependencyChanged();
  void finishedAnnounced();

  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<int> queuePriority_{kOperationQueuePriorityNormal};
  // Held only to read or change the fields below (ObjectMutex's rules).
  mutable ObjectMutex mutex_;
  std::condition_variable finishedCondition_;
  std::vector<Ref<Operation>> dependencies_;
  std::vector<WeakRef<Operation>> dependants_;
  std::function<void()> completionBlock_;
  std::function<void(Operation&)> stateObserver_;
  bool finishHandled_ = false;
};

// An operation that runs one callable (more may be added before it starts), one after the other.
class BlockOperation : public Operation {
 public:
  static Ref<BlockOperation> create(std::function<void()> block);
  // Adds a block to run. A block added while the operation runs its blocks runs too; once they
  // have all run (or the operation finished without running them) it raises
  // "NSInvalidArgumentException". Any thread.
  void addExecutionBlock(std::function<void()> block);
  void main() override;

 private:
  ObjectMutex blocksMutex_;
  std::vector<std::function<void()>> blocks_;
  bool blocksRun_ = false;
};

}  // namespace zv
