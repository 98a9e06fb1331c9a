#pragma once
// Worker threads that start on demand (up to a limit) and end after a while without work; the
// engine under the global dispatch queues and the operation queues (not a public interface).
// Each worker is a Thread with its own run loop, so work may run the loop while it waits.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

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
  // that comes free. Any thread. A job is never dropped: when no worker can be started, it waits
  // for the next one the pool starts (see startWorker).
  void submit(std::function<void()> job);

  // Pools used process-wide; never destroyed, since workers may outlive static destruction.
  static WorkerPool& operationWorkers();

 private:
  void workerMain();
  // Starts the worker counted in threads_ for a job just queued.
  void startWorker();

  const std::string threadName_;
  const std::size_t maxThreads_;
  const double idleSeconds_;
  const ThreadStarter starter_;
  std::mutex mutex_;
  std::condition_variable condition_;
  std::deque<std::function<void()>> jobs_;
  std::size_t threads_ = 0;
  std::size_t idle_ = 0;
  // Wake-ups handed to idle workers and not yet taken, so two quick submissions never count on
  // the same idle worker.
  std::size_t wakeTokens_ = 0;
};

}  // namespace zv
