// Fork handlers: a lock that joined them is never inherited held by a forked child, and each
// participant's child handler runs in the child only, in level order.
#include "platform/foundation/ForkHandlers.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Object.h"

namespace zv {
namespace {

// Runs `child` in a forked child (which must make no thread) and answers whether it returned true.
template <typename Child>
bool inForkedChild(Child child) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(30);  // a hang fails
    ::_exit(child() ? 0 : 1);
  }
  if (pid < 0) return false;
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ForkHandlersTest, AMutexAnotherThreadHoldsAtTheForkIsFreeInTheChildWhereItsHandlerRuns) {
  static std::atomic<int> handled{0};
  ForkMutex mutex(ForkLockLevel::SerialQueue, [] { ++handled; });
  const unsigned generation = forkGeneration();
  std::atomic<bool> held{false}, released{false};
  // Detached: the thread checker mistakes a joinable thread of the parent for a new one in the child.
  std::thread([&] {
    {
      std::lock_guard lock(mutex);
      held = true;
      // The fork waits for this; without that the child would inherit the mutex locked.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    released = true;
  }).detach();
  while (!held) std::this_thread::yield();
  EXPECT_TRUE(inForkedChild([&] {
    if (!mutex.try_lock()) return false;
    mutex.unlock();
    return handled == 1 && forkGeneration() == generation + 1;
  }));
  while (!released) std::this_thread::yield();
  EXPECT_EQ(handled, 0);
  EXPECT_EQ(forkGeneration(), generation);

  // Once it left, its handler no longer runs.
  mutex.leaveForks();
  EXPECT_TRUE(inForkedChild([] { return handled == 0; }));
}

struct NamedInTheParent : Object {};
struct NamedInTheChild : Object {};

// The class tables are read-write locks, which a child cannot simply unlock.
TEST(ForkHandlersTest, AForkedChildNamesAndFindsClasses) {
  ClassRegistry::shared().registerClass<NamedInTheParent>();
  EXPECT_TRUE(inForkedChild([] {
    ClassRegistry::shared().registerClass<NamedInTheChild>();
    return demangledClassName(typeid(NamedInTheParent)) == "NamedInTheParent" &&
           classNamed("NamedInTheParent") && classNamed("NamedInTheChild");
  }));
}

TEST(ForkHandlersTest, ChildHandlersRunLowerLevelsFirst) {
  static std::vector<int> order;
  static ForkMutex* low = nullptr;
  static ForkMutex* high = nullptr;
  ForkMutex highMutex(ForkLockLevel::LogSink, [] { order.push_back(2); });
  ForkMutex lowMutex(ForkLockLevel::DelayThreadSlot, [] { order.push_back(1); });
  low = &lowMutex;
  high = &highMutex;
  EXPECT_TRUE(inForkedChild([] {
    const bool freeAfter = low->try_lock() && high->try_lock();
    return order == std::vector<int>{1, 2} && freeAfter;
  }));
}

// The locks of objects that come and go (run-loop sources, timers, operations, classes): a thread
// inside one at the fork is waited for, and every one of them is free in the child, also while
// other objects come and go.
TEST(ForkHandlersTest, AnObjectLockAnotherThreadHoldsAtTheForkIsFreeInTheChild) {
  static std::vector<ObjectMutex> locks(256);
  std::atomic<bool> held{false}, stop{false};
  std::atomic<int> running{2};
  std::thread([&] {
    {
      std::lock_guard lock(locks[0]);
      held = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    --running;
  }).detach();
  std::thread([&] {
    for (std::size_t n = 1; !stop; ++n) {
      auto made = std::make_unique<ObjectMutex>();
      std::lock_guard lock(locks[n % locks.size()]);
    }
    --running;
  }).detach();
  while (!held) std::this_thread::yield();
  for (int round = 0; round < 20; ++round) {
    EXPECT_TRUE(inForkedChild([] {
      for (auto& lock : locks) {
        if (!lock.try_lock()) return false;
        lock.unlock();
      }
      return true;
    })) << "round " << round;
  }
  stop = true;
  while (running > 0) std::this_thread::yield();
}

}  // namespace
}  // namespace zv
