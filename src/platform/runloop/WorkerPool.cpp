#include "platform/runloop/WorkerPool.h"

#include <pthread.h>

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

std::atomic<unsigned> gForkGeneration{0};

// Every pool, for the fork handlers (pools live for the whole process).
struct PoolRegistry {
  std::mutex mutex;
  std::vector<WorkerPool*> pools;
};

PoolRegistry& registry() {
  static PoolRegistry* instance = new PoolRegistry;
  return *instance;
}

}  // namespace

unsigned WorkerPool::forkGeneration() { return gForkGeneration.load(); }

WorkerPool::WorkerPool(std::string threadName, std::size_t maxThreads, double idleSeconds, ThreadStarter starter)
    : threadName_(std::move(threadName)),
      maxThreads_(maxThreads),
      idleSeconds_(idleSeconds),
      starter_(starter ? std::move(starter) : [](std::function<void()> body, const std::string& name) {
        Thread::create(std::move(body), name)->start();
      }) {
  // The retrying thread is made while threads are still given, not at the first refusal.
  prepareThreadStartRetries();
  registerForForks();
}

void WorkerPool::registerForForks() {
  static std::once_flag handlers;
  std::call_once(handlers, [] {
    // Every pool's mutex is held across a fork, so the child inherits none of them locked and
    // finds each pool as it was when the fork happened.
    ::pthread_atfork(
        [] {
          registry().mutex.lock();
          for (auto* pool : registry().pools) pool->mutex_.lock();
        },
        [] {
          for (auto* pool : registry().pools) pool->mutex_.unlock();
          registry().mutex.unlock();
        },
        [] {
          gForkGeneration.fetch_add(1);
          for (auto* pool : registry().pools) {
            pool->startAfreshInForkedChild();
            pool->mutex_.unlock();
          }
          registry().mutex.unlock();
        });
  });
  std::lock_guard lock(registry().mutex);
  registry().pools.push_back(this);
}

void WorkerPool::startAfreshInForkedChild() {
  // The jobs belong to the parent: forgotten without running their destructors, which could reach
  // state of threads the child does not have.
  new std::deque<std::function<void()>>(std::move(jobs_));
  jobs_.clear();
  threads_ = 0;
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
  std::unique_lock lock(mutex_);
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
