#pragma once
// One thread at a time runs an object's callbacks, and may run them again from inside one; others
// wait, and so does whoever takes a callback away (unless it is the thread running it). It takes
// the place of a recursive lock held across callbacks, which a child made by fork could find held
// by a thread it does not have. Every call is made with the owner's mutex held (`lock` on it).

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace zv::net {

class CallbackGate {
 public:
  // Waits until no other thread runs a callback.
  void waitUntilFree(std::unique_lock<std::mutex>& lock) {
    const auto self = std::this_thread::get_id();
    free_.wait(lock, [&] { return running_ == 0 || runner_ == self; });
  }
  // Waits, then counts this thread as running a callback until `leave`.
  void enter(std::unique_lock<std::mutex>& lock) {
    waitUntilFree(lock);
    ++running_;
    runner_ = std::this_thread::get_id();
  }
  // Then notifyAll, once the mutex is let go.
  void leave() {
    if (--running_ == 0) runner_ = {};
  }
  void notifyAll() { free_.notify_all(); }
  // In a child made by fork: a callback under way on another thread of the parent never ends
  // there, and nobody there waits yet.
  void resetInForkedChild() {
    if (running_ > 0 && runner_ != std::this_thread::get_id()) {
      running_ = 0;
      runner_ = {};
    }
    new (&free_) std::condition_variable();
  }

 private:
  std::condition_variable free_;
  std::thread::id runner_;
  int running_ = 0;
};

}  // namespace zv::net
