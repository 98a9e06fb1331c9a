#include "platform/runloop/WorkerPool.h"

#include <chrono>

#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/Thread.h"

namespace zv {

WorkerPool::WorkerPool(std::string threadName, std::size_t maxThreads, double idleSeconds)
    : threadName_(std::move(threadName)), maxThreads_(maxThreads), idleSeconds_(idleSeconds) {}

WorkerPool& WorkerPool::operationWorkers() {
  static WorkerPool* pool = new WorkerPool("OperationQueue", 512);
  return *pool;
}

void WorkerPool::submit(std::function<void()> job) {
  bool spawn = false;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ > wakeTokens_) {
      ++wakeTokens_;
      condition_.notify_one();
    } else if (threads_ < maxThreads_) {
      ++threads_;
      spawn = true;
    }
  }
  if (spawn) Thread::detachNew([this] { workerMain(); }, threadName_);
}

void WorkerPool::workerMain() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!jobs_.empty()) {
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      runLogged([this] { return "thread " + threadName_; }, job);
      job = nullptr;  // release what the job captured before waiting again
      lock.lock();
      continue;
    }
    ++idle_;
    const bool woken = condition_.wait_for(lock, std::chrono::duration<double>(idleSeconds_),
                                           [this] { return wakeTokens_ > 0; });
    --idle_;
    if (woken) {
      --wakeTokens_;
      continue;
    }
    if (!jobs_.empty()) continue;
    --threads_;
    return;
  }
}

}  // namespace zv
