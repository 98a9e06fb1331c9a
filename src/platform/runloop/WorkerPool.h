#pragma once
// Worker threads that start on demand (up to a limit) and end after a while without work; the
// engine under the global dispatch queues and the operation queues (not a public interface).
// Each worker is a Thread with its own run loop, so work may run the loop while it waits.
//
// A child made by fork (without exec) has none of the parent's threads: there every pool starts
// afresh, with no waiting starts and none of the jobs queued in the parent (those are forgotten,
// neither run nor destroyed), and counts only the workers the child has: none, or the forking
// thread when it forked from inside one of the pool's jobs. The first job submitted in the child
// that finds no idle worker starts one.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/foundation/ForkHandlers.h"

namespace zv {

class WorkerPool {
 public:
  // Starts a thread that runs `body`; throws std::system_error when the system cannot create one
  // now (out of threads or memory). The default starts a Thread; tests pass their own.
  using ThreadStarter = std::function<void(std::function<void()> body, const std::string& name)>;

  WorkerPool(std::string threadName, std::size_t maxThreads, double idleSeconds = 5.0, ThreadStarter starter = {});
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs `job` on a worker: an idle one, else a new one while under the limit, else the next
  // that comes free. Any thread; never waits. A job is never dropped: when the system refuses a
  // worker, the job waits, and starting workers is tried again off the caller's thread (see
  // ThreadStartRetry.h) for as long as queued jobs lack one, so every waiting job runs once the
  // system gives threads again, without another submission.
  void submit(std::function<void()> job);

  // Pools used process-wide; never destroyed, since workers may outlive static destruction. Every
  // pool must outlive its workers and its retries: pools live for the whole process.
  static WorkerPool& operationWorkers();

  // Tests: every pool's workers end after `seconds` idle instead of their own time (0 restores
  // it). Workers already waiting keep the time they started waiting with.
  static void overrideIdleSeconds(double seconds);

 private:
  // In a forked child, with every fork lock held and no other thread (ForkHandlers.h).
  void startAfreshInForkedChild();

  void workerMain();
  // Tries once to start the worker already counted in threads_ and starting_; on refusal hands
  // the pool to the retrying thread.
  void startWorker();
  // On the retrying thread: starts workers while queued jobs lack one; false when refused again.
  bool startMissingWorkers();
  // With the mutex held: how many more workers the queued jobs call for, within the limit.
  std::size_t missingWorkersLocked() const;

  const std::string threadName_;
  const std::size_t maxThreads_;
  const double idleSeconds_;
  const ThreadStarter starter_;
  ForkMutex mutex_;
  std::condition_variable condition_;
  std::deque<std::function<void()>> jobs_;
  std::size_t threads_ = 0;
  std::size_t idle_ = 0;
  // Wake-ups handed to idle workers and not yet taken, so two quick submissions never count on
  // the same idle worker.
  std::size_t wakeTokens_ = 0;
  // Workers started (or being started) that have not yet reached their loop.
  std::size_t starting_ = 0;
  // Set while the retrying thread owns starting the missing workers.
  bool retrying_ = false;
};

}  // namespace zv
