#include "platform/foundation/ThreadStartRetry.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"

namespace zv {

namespace {

constexpr auto kFirstPause = std::chrono::milliseconds(1);
constexpr auto kLongestPause = std::chrono::milliseconds(250);

class Supervisor {
 public:
  // Never destroyed: pools and service threads hand it work up to the end of the process.
  static Supervisor& shared() {
    static Supervisor* instance = [] {
      auto* supervisor = new Supervisor;
      // A child made by fork has no supervisor thread; it makes its own when it needs one. The
      // mutex is held across the fork so the child never inherits it locked.
      ::pthread_atfork([] { shared().mutex_.lock(); }, [] { shared().mutex_.unlock(); },
                       [] {
                         shared().running_ = false;
                         shared().mutex_.unlock();
                       });
      return supervisor;
    }();
    return *instance;
  }

  void add(std::function<bool()> attempt) {
    {
      std::lock_guard lock(mutex_);
      attempts_.push_back(std::move(attempt));
      fresh_ = true;
    }
    wake_.notify_one();
    ensureRunning();
  }

  void ensureRunning() {
    std::lock_guard lock(mutex_);
    if (running_) return;
    try {
      std::thread([this] { run(); }).detach();
      running_ = true;
    } catch (const std::exception& error) {
      if (!reportedRefusal_) {
        reportedRefusal_ = true;
        logError(std::string("The thread that retries refused thread starts cannot be made yet (") + error.what() +
                 "); it is tried again at the next refusal");
      }
    }
  }

 private:
  void run() {
    ::pthread_setname_np(::pthread_self(), "thread.retry");
    auto pause = kFirstPause;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !attempts_.empty(); });
      if (fresh_) pause = kFirstPause;
      fresh_ = false;
      auto batch = std::move(attempts_);
      attempts_.clear();
      lock.unlock();
      std::vector<std::function<bool()>> failed;
      for (auto& attempt : batch) {
        bool done = false;
        try {
          done = attempt();
        } catch (...) {
        }
        if (!done) failed.push_back(std::move(attempt));
      }
      batch.clear();
      lock.lock();
      if (failed.empty()) continue;
      for (auto& attempt : failed) attempts_.push_back(std::move(attempt));
      // New attempts start the pauses afresh; the pause is cut short only for them.
      wake_.wait_for(lock, pause, [this] { return fresh_; });
      pause = std::min(pause * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kLongestPause));
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::function<bool()>> attempts_;
  bool fresh_ = false;
  bool running_ = false;
  bool reportedRefusal_ = false;
};

// The supervisor is made with the process, while threads are surely given.
[[maybe_unused]] const bool gSupervisorMade = (Supervisor::shared().ensureRunning(), true);

void nameCurrentThread(const std::string& name) {
  if (!name.empty()) ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

}  // namespace

void retryUntilStarted(std::function<bool()> attempt) { Supervisor::shared().add(std::move(attempt)); }

void prepareThreadStartRetries() { Supervisor::shared().ensureRunning(); }

void detachThread(std::function<void()> body, const std::string& name) {
  auto start = [body = std::move(body), name]() {
    std::thread([body, name] {
      nameCurrentThread(name);
      try {
        body();
      } catch (const std::exception& error) {
        logError("Uncaught exception on thread " + name + ": " + error.what());
      } catch (...) {
        logError("Uncaught exception on thread " + name + ": unknown exception");
      }
    }).detach();
  };
  try {
    start();
    return;
  } catch (const std::exception& error) {
    logError("No thread " + (name.empty() ? std::string("for background work") : name) + " can be made now (" +
             error.what() + "); its work waits until one can");
  }
  retryUntilStarted([start] {
    start();
    return true;
  });
}

}  // namespace zv
