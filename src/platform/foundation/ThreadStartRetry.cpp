#include "platform/foundation/ThreadStartRetry.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Log.h"

namespace zv {

namespace {

constexpr auto kFirstPause = std::chrono::milliseconds(1);
constexpr auto kLongestPause = std::chrono::milliseconds(250);

ForkMutex& threadCreationMutex() {
  static ForkMutex& mutex = *new ForkMutex(ForkLockLevel::ThreadCreation);
  return mutex;
}

class Supervisor {
 public:
  // Never destroyed: pools and service threads hand it work up to the end of the process.
  static Supervisor& shared() {
    static Supervisor* instance = new Supervisor;
    return *instance;
  }

  // The mutex is held across a fork, so the child never inherits it locked (ForkHandlers.h).
  Supervisor() : mutex_(ForkLockLevel::ThreadStartRetry, [this] { startAfreshInForkedChild(); }) {}

  void add(std::function<bool()> attempt) {
    {
      std::lock_guard lock(mutex_);
      attempts_.push_back(std::move(attempt));
    }
    // Wakes the supervisor only when it waits for work; a pause between refused trials is never
    // cut short by arrivals.
    wake_.notify_one();
    ensureRunning();
  }

  void ensureRunning() {
    std::lock_guard lock(mutex_);
    if (running_) return;
    try {
      startDetachedThread([this] { run(); });
      running_ = true;
    } catch (const std::exception& error) {
      if (!reportedRefusal_) {
        reportedRefusal_ = true;
        logError(std::string("The thread that retries refused thread starts cannot be made yet (") + error.what() +
                 "); it is tried again at the next refusal");
      }
    }
  }

  void noteRefusal(const std::string& what, const std::string& reason) {
    {
      std::lock_guard lock(mutex_);
      if (episodeOpen_) {
        ++laterRefusals_;
        return;
      }
      episodeOpen_ = true;
      laterRefusals_ = 0;
    }
    logError("No thread can be made now for " + what + " (" + reason +
             "); its work waits, and starts are tried again until the system allows");
  }

 private:
  void run() {
    ::pthread_setname_np(::pthread_self(), "thread.retry");
    auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPause);
    std::unique_lock lock(mutex_.native());
    for (;;) {
      wake_.wait(lock, [this] { return !attempts_.empty(); });
      auto attempt = std::move(attempts_.front());
      attempts_.pop_front();
      lock.unlock();
      bool done = false;
      try {
        done = attempt();
      } catch (...) {
      }
      if (done) {
        attempt = nullptr;  // release what it captured before taking the lock again
        lock.lock();
        // Threads are given again: the rest of the backlog goes at once.
        pause = kFirstPause;
        if (attempts_.empty()) endEpisodeLocked(lock);
        continue;
      }
      // Refused again: one trial per pause, however many starts wait, the others in turn.
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kLongestPause));
      lock.lock();
      attempts_.push_back(std::move(attempt));
    }
  }

  // With the lock held; leaves it held.
  void endEpisodeLocked(std::unique_lock<std::mutex>& lock) {
    if (!episodeOpen_) return;
    episodeOpen_ = false;
    const std::size_t later = laterRefusals_;
    lock.unlock();
    logInfo("Threads are given again; " + std::to_string(later + 1) + " refused start(s) ran late");
    lock.lock();
  }

  // In a child made by fork, with every fork lock held and no other thread: the supervisor thread and
  // what it was starting belong to the parent. The waiting attempts are forgotten without running
  // their destructors, which could reach state of threads the child does not have.
  void startAfreshInForkedChild() {
    new std::deque<std::function<bool()>>(std::move(attempts_));
    attempts_.clear();
    running_ = false;
    reportedRefusal_ = false;
    episodeOpen_ = false;
    laterRefusals_ = 0;
    // The parent's supervisor may have been waiting on it: a fresh one knows no waiter.
    new (&wake_) std::condition_variable();
  }

  ForkMutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<bool()>> attempts_;
  bool running_ = false;
  bool reportedRefusal_ = false;
  bool episodeOpen_ = false;
  std::size_t laterRefusals_ = 0;
};

// The supervisor is made with the process, while threads are surely given (and with it the lock
// that thread creation holds, which a fork must never find half made).
[[maybe_unused]] const bool gSupervisorMade = (threadCreationMutex(), Supervisor::shared().ensureRunning(), true);

void nameCurrentThread(const std::string& name) {
  if (!name.empty()) ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

// Called first on a new thread. Thread-local objects are destroyed in the reverse order of their
// making, after the thread's start function has returned and its closure is gone: made first,
// this one goes last.
void callAtThreadExit(std::function<void()> atExit) {
  struct Last {
    std::function<void()> call;
    ~Last() {
      if (call) call();
    }
  };
  thread_local Last last;
  last.call = std::move(atExit);
}

}  // namespace

void startDetachedThread(std::function<void()> body, std::function<void()> atExit) {
  std::lock_guard lock(threadCreationMutex());
  std::thread([body = std::move(body), atExit = std::move(atExit)]() mutable {
    if (atExit) callAtThreadExit(std::move(atExit));
    body();
  }).detach();
}

void retryUntilStarted(std::function<bool()> attempt) { Supervisor::shared().add(std::move(attempt)); }

void prepareThreadStartRetries() { Supervisor::shared().ensureRunning(); }

void logRefusedThreadStart(const std::string& what, const std::string& reason) {
  Supervisor::shared().noteRefusal(what, reason);
}

void detachThread(std::function<void()> body, const std::string& name, std::function<void()> atExit) {
  auto start = [body = std::move(body), name, atExit = std::move(atExit)]() {
    startDetachedThread(
        [body, name] {
          nameCurrentThread(name);
          try {
            body();
          } catch (const std::exception& error) {
            logError("Uncaught exception on thread " + name + ": " + error.what());
          } catch (...) {
            logError("Uncaught exception on thread " + name + ": unknown exception");
          }
        },
        atExit);
  };
  try {
    start();
    return;
  } catch (const std::exception& error) {
    logRefusedThreadStart(name.empty() ? std::string("background work") : "thread " + name, error.what());
  }
  retryUntilStarted([start] {
    start();
    return true;
  });
}

}  // namespace zv
