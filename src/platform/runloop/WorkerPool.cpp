#include "platform/runloop/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <new>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/Thread.h"

namespace zv {

namespace {

// The pool whose worker the calling thread is, if any.
thread_local const WorkerPool* tWorkerOf = nullptr;

// Shortens every pool's idle time when positive (tests).
std::atomic<double> gIdleSecondsOverride{0.0};

}  // namespace

void WorkerPool::overrideIdleSeconds(double seconds) { gIdleSecondsOverride.store(seconds); }

WorkerPool::WorkerPool(std::string threadName, std::size_t maxThreads, double idleSeconds, ThreadStarter starter)
    : threadName_(std::move(threadName)),
      maxThreads_(maxThreads),
      idleSeconds_(idleSeconds),
      starter_(starter ? std::move(starter) : [](std::function<void()> body, const std::string& name) {
        Thread::create(std::move(body), name)->start();
      }),
      mutex_(ForkLockLevel::WorkerPool, [this] { startAfreshInForkedChild(); }) {
  // The retrying thread is made while threads are still given, not at the first refusal.
  prepareThreadStartRetries();
}

void WorkerPool::startAfreshInForkedChild() {
  // The jobs belong to the parent: forgotten without running their destructors, which could reach
  // state of threads the child does not have.
  new std::deque<std::function<void()>>(std::move(jobs_));
  jobs_.clear();
  // A fork from inside one of this pool's jobs: that worker goes on in the child, and ends there
  // like any other when it has been idle long enough.
  threads_ = tWorkerOf == this ? 1 : 0;
  idle_ = 0;
  wakeTokens_ = 0;
  starting_ = 0;
  retrying_ = false;
  // The parent's workers may have been waiting on it: a fresh one knows no waiter.
  new (&condition_) std::condition_variable();
}

WorkerPool& WorkerPool::operationWorkers() {
  static WorkerPool* pool = new WorkerPool("OperationQueue", 512);
  return *pool;
}

void WorkerPool::submit(std::function<void()> job) {
  bool spawn = false;
  bool retrying = false;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    retrying = retrying_;
    if (idle_ > wakeTokens_) {
      ++wakeTokens_;
      condition_.notify_one();
    } else if (!retrying_ && threads_ < maxThreads_) {
      // While the retrying thread owns the starts, it also starts the worker this job lacks.
      ++threads_;
      ++starting_;
      spawn = true;
    }
  }
  if (spawn) startWorker();
  // Should the retrying thread itself have been refused, each submission tries to make it again.
  if (retrying) prepareThreadStartRetries();
}

std::size_t WorkerPool::missingWorkersLocked() const {
  const std::size_t available = (idle_ > wakeTokens_ ? idle_ - wakeTokens_ : 0) + starting_;
  const std::size_t wanted = jobs_.size() > available ? jobs_.size() - available : 0;
  return std::min(wanted, maxThreads_ - std::min(threads_, maxThreads_));
}

void WorkerPool::startWorker() {
  std::string failure;
  try {
    starter_([this] { workerMain(); }, threadName_);
    return;
  } catch (const std::exception& error) {
    failure = error.what();
  }
  {
    std::lock_guard lock(mutex_);
    --threads_;
    --starting_;
    if (retrying_) return;
    retrying_ = true;
  }
  logRefusedThreadStart("a " + threadName_ + " worker", failure);
  retryUntilStarted([this] { return startMissingWorkers(); });
}

bool WorkerPool::startMissingWorkers() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (missingWorkersLocked() == 0) {
        retrying_ = false;
        return true;
      }
      ++threads_;
      ++starting_;
    }
    try {
      starter_([this] { workerMain(); }, threadName_);
    } catch (const std::exception&) {
      std::lock_guard lock(mutex_);
      --threads_;
      --starting_;
      return false;
    }
  }
}

void WorkerPool::workerMain() {
  tWorkerOf = this;
  std::unique_lock lock(mutex_.native());
  --starting_;
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
    const double override = gIdleSecondsOverride.load();
    const double idleSeconds = override > 0 ? override : idleSeconds_;
    const bool woken = condition_.wait_for(lock, std::chrono::duration<double>(idleSeconds),
                                           [this] { return wakeTokens_ > 0; });
    --idle_;
    if (woken) {
      --wakeTokens_;
      continue;
    }
    if (!jobs_.empty()) continue;
    --threads_;
    tWorkerOf = nullptr;
    return;
  }
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gOperationWorkersMade = (WorkerPool::operationWorkers(), true);
}  // namespace

}  // namespace zv
