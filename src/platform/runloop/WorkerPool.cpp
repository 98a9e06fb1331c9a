#include "platform/runloop/WorkerPool.h"

#include <chrono>
#include <exception>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/Thread.h"

namespace zv {

namespace {
// Tries at creating a worker when none is alive, 1 ms apart and doubling: about a second in all.
constexpr int kStartAttempts = 11;
}  // namespace

WorkerPool::WorkerPool(std::string threadName, std::size_t maxThreads, double idleSeconds, ThreadStarter starter)
    : threadName_(std::move(threadName)),
      maxThreads_(maxThreads),
      idleSeconds_(idleSeconds),
      starter_(starter ? std::move(starter) : [](std::function<void()> body, const std::string& name) {
        Thread::detachNew(std::move(body), name);
      }) {}

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
  if (spawn) startWorker();
}

// A worker that cannot be created (the system is out of threads or memory for a moment) must not
// strand the job it was for. While another worker is alive, the job waits for the first that
// comes free; with none, creating one is tried again for about a second, and after that the job
// waits for the worker that the next submission starts.
void WorkerPool::startWorker() {
  auto pause = std::chrono::milliseconds(1);
  for (int attempt = 1;; ++attempt) {
    std::string failure;
    try {
      starter_([this] { workerMain(); }, threadName_);
      return;
    } catch (const std::exception& error) {
      failure = error.what();
    }
    {
      std::lock_guard lock(mutex_);
      // threads_ still counts the worker that could not be created.
      const bool othersAlive = threads_ > 1;
      if (othersAlive || attempt == kStartAttempts) {
        --threads_;
        if (!othersAlive) {
          logError("No " + threadName_ + " worker thread can be started (" + failure +
                   "); its work waits for the next one");
        }
        return;
      }
    }
    std::this_thread::sleep_for(pause);
    pause *= 2;
  }
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
