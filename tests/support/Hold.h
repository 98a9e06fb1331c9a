#pragma once
// Keeps a thread at one point until the test lets it go: `holdHere` on the thread to stop, then
// `holder` tells who is held and `release` lets it (and any later caller) through. A held thread
// goes on by itself after a minute, so a fault cannot hang the suite.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace zv::testing {

class Hold {
 public:
  void holdHere() {
    std::unique_lock lock(mutex_);
    holder_ = std::this_thread::get_id();
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::minutes(1), [&] { return released_; });
  }
  std::optional<std::thread::id> holder() const {
    std::lock_guard lock(mutex_);
    return holder_;
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  // Keeps the calling thread at this hold as it exits, after its start function has returned and
  // before the thread-local objects it made earlier are gone. Once per thread.
  void holdAtThreadExit() {
    struct AtExit {
      Hold* hold = nullptr;
      ~AtExit() {
        if (hold) hold->holdHere();
      }
    };
    thread_local AtExit atExit;
    atExit.hold = this;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::thread::id> holder_;
  bool released_ = false;
};

}  // namespace zv::testing
