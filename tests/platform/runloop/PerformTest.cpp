// Performing work on other threads: waiting or not, inline on the own thread, modes, delays,
// and threads that have ended.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/FileDescriptorSource.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace zv {
namespace {

TEST(PerformTest, MainThreadReceivesWorkFromOtherThreadsWithAndWithoutWaiting) {
  ASSERT_TRUE(RunLoop::isMainThread());
  std::vector<int> order;  // touched on the main thread only
  std::atomic<bool> waitedReturned{false};
  std::thread sender([&] {
    EXPECT_FALSE(RunLoop::isMainThread());
    EXPECT_TRUE(performOnMainThread([&] { order.push_back(1); }, false));
    EXPECT_TRUE(performOnMainThread([&] {
      EXPECT_TRUE(RunLoop::isMainThread());
      order.push_back(2);
    }, true));
    waitedReturned = true;
  });
  EXPECT_TRUE(pumpRunLoopUntil([&] { return waitedReturned.load(); }, 5.0));
  sender.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(PerformTest, WaitingOnTheOwnThreadRunsInlineAndNotWaitingQueues) {
  std::vector<std::string> trace;
  performOnThread(Thread::current(), [&] { trace.push_back("queued"); }, false);
  performOnThread(Thread::current(), [&] { trace.push_back("inline"); }, true);
  trace.push_back("returned");
  pumpRunLoopUntil([&] { return trace.size() == 3; }, 2.0);
  EXPECT_EQ(trace, (std::vector<std::string>{"inline", "returned", "queued"}));
}

TEST(PerformTest, WorkerThreadServesPerformsInOrderAndSurvivesStops) {
  auto worker = Thread::startRunLoopThread("perform-worker");
  std::vector<int> seen;
  std::mutex mutex;
  for (int i = 0; i < 100; ++i) {
    performOnThread(worker, [&, i] {
      std::lock_guard lock(mutex);
      seen.push_back(i);
      if (i % 10 == 0) RunLoop::current()->stop();  // ends one turn only
    }, false);
  }
  std::thread::id ranOn;
  EXPECT_TRUE(performOnThread(worker, [&] { ranOn = std::this_thread::get_id(); }, true));
  EXPECT_NE(ranOn, std::this_thread::get_id());
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
  }
  worker->cancel();
  EXPECT_TRUE(worker->joinFor(5.0));
}

TEST(PerformTest, WorkForAnEndedThreadIsDroppedAndWaitersAreReleased) {
  auto thread = Thread::detachNew([] {}, "short-lived");
  ASSERT_TRUE(thread->joinFor(5.0));
  std::atomic<bool> ran{false};
  EXPECT_FALSE(performOnThread(thread, [&] { ran = true; }, false));
  EXPECT_FALSE(performOnThread(thread, [&] { ran = true; }, true));
  auto timer = Timer::create(0, false, [&](Timer&) { ran = true; });
  thread->runLoop()->addTimer(timer, kDefaultRunLoopMode);
  EXPECT_FALSE(ran);

  // A thread that ends with a waiting perform still queued releases the waiter.
  std::atomic<bool> letGo{false};
  auto busy = Thread::detachNew([&] {
    while (!letGo) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }, "busy");
  std::thread ender([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    letGo = true;
  });
  EXPECT_FALSE(performOnThread(busy, [&] { ran = true; }, true));
  ender.join();
  EXPECT_FALSE(ran);
}

TEST(PerformTest, PerformsRespectModes) {
  auto worker = Thread::detachNew([] {
    auto loop = RunLoop::current();
    std::vector<std::string> trace;
    loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
    loop->addSource(RunLoopSource::create(), "HTTPRequestRunLoopMode");
    performOnThread(Thread::current(), [&] { trace.push_back("common"); }, false);
    performOnThread(Thread::current(), [&] { trace.push_back("default"); }, false, {kDefaultRunLoopMode});
    performOnThread(Thread::current(), [&] { trace.push_back("private"); }, false, {"HTTPRequestRunLoopMode"});
    loop->runMode("HTTPRequestRunLoopMode", 0.02);
    EXPECT_EQ(trace, (std::vector<std::string>{"private"}));
    loop->runMode(kDefaultRunLoopMode, 0.02);
    EXPECT_EQ(trace, (std::vector<std::string>{"private", "common", "default"}));
  }, "modes");
  ASSERT_TRUE(worker->joinFor(5.0));
}

TEST(PerformTest, BurstsFromSeveralThreadsAllRunInEachSendersOrder) {
  constexpr int kSenders = 3;
  constexpr int kEach = 2000;
  auto check = [](const std::vector<std::vector<int>>& seen) {
    for (const auto& one : seen) {
      ASSERT_EQ(one.size(), static_cast<std::size_t>(kEach));
      for (int i = 0; i < kEach; ++i) {
        ASSERT_EQ(one[static_cast<std::size_t>(i)], i);
      }
    }
  };
  // To a worker's loop and to the main loop while a test pumps it (the pump naps when the mode
  // has nothing to wait for, and the performs must cut the nap short or land in the next turn).
  auto worker = Thread::startRunLoopThread("burst");
  for (bool toMain : {false, true}) {
    std::vector<std::vector<int>> seen(kSenders);  // touched on the receiving thread only
    std::atomic<int> count{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
      senders.emplace_back([&, s] {
        for (int i = 0; i < kEach; ++i) {
          auto work = [&, s, i] {
            seen[static_cast<std::size_t>(s)].push_back(i);
            ++count;
          };
          if (toMain) {
            performOnMainThread(work, false);
          } else {
            performOnThread(worker, work, false);
          }
        }
      });
    }
    if (toMain) {
      EXPECT_TRUE(pumpRunLoopUntil([&] { return count.load() == kSenders * kEach; }, 60.0));
    }
    for (auto& sender : senders) sender.join();
    if (!toMain) performOnThread(worker, [] {}, true);  // everything sent before has run
    EXPECT_EQ(count.load(), kSenders * kEach);
    check(seen);
  }
  worker->cancel();
}

TEST(PerformTest, WorkQueuedForAnotherModeDoesNotSwallowTheNextWakeUp) {
  std::atomic<bool> ready{false};
  std::atomic<bool> privateRan{false};
  std::atomic<bool> defaultRan{false};
  std::atomic<int> result{-1};
  Ref<Thread> worker = Thread::detachNew([&] {
    auto loop = RunLoop::current();
    loop->addSource(RunLoopSource::create(), "HTTPRequestRunLoopMode");
    ready = true;
    // The default-mode work below wakes this loop but stays queued; the private mode's work,
    // sent after it, must wake the loop again.
    result = static_cast<int>(loop->runMode("HTTPRequestRunLoopMode", 30.0, true));
  }, "other-mode");
  while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Ref<RunLoop> loop = worker->runLoop();
  performOnRunLoop(loop, [&] { defaultRan = true; }, false, {kDefaultRunLoopMode});
  for (int i = 0; i < 50 && !loop->isWaiting(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  performOnRunLoop(loop, [&] { privateRan = true; }, false, {"HTTPRequestRunLoopMode"});
  ASSERT_TRUE(worker->joinFor(40.0));
  EXPECT_EQ(result.load(), static_cast<int>(RunLoopRunResult::HandledSource));
  EXPECT_TRUE(privateRan);
  EXPECT_FALSE(defaultRan);
}

TEST(PerformTest, DelayedPerformsRunLaterAndCanBeCancelled) {
  int tag;
  std::vector<std::string> trace;
  auto start = std::chrono::steady_clock::now();
  performAfterDelay(0.03, [&] { trace.push_back("late"); });
  performAfterDelay(0.0, [&] { trace.push_back("next turn"); });
  performAfterDelay(0.01, [&] { trace.push_back("cancelled by tag"); }, {kDefaultRunLoopMode}, &tag);
  auto timer = performAfterDelay(0.01, [&] { trace.push_back("cancelled by timer"); });
  EXPECT_TRUE(trace.empty());
  EXPECT_EQ(cancelPreviousPerformRequests(&tag), 1u);
  timer->invalidate();
  pumpRunLoopUntil([&] { return trace.size() == 2; }, 2.0);
  pumpRunLoopFor(0.03);
  EXPECT_EQ(trace, (std::vector<std::string>{"next turn", "late"}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(PerformTest, ExceptionsInPerformedWorkAreLogged) {
  LogCapture capture;
  auto worker = Thread::startRunLoopThread("throwing");
  performOnThread(worker, [] { throw std::runtime_error("worker failure"); }, true);
  bool alive = false;
  EXPECT_TRUE(performOnThread(worker, [&] { alive = true; }, true));
  EXPECT_TRUE(alive);
  EXPECT_TRUE(capture.contains("[ERROR] Uncaught exception on run loop of thread throwing: worker failure"));
  worker->cancel();
  EXPECT_TRUE(worker->joinFor(5.0));
}

TEST(PerformTest, ThreadBodyExceptionEndsOnlyThatThread) {
  LogCapture capture;
  auto thread = Thread::detachNew([] { throw std::runtime_error("body failure"); }, "failing");
  EXPECT_TRUE(thread->joinFor(5.0));
  EXPECT_TRUE(thread->isFinished());
  EXPECT_TRUE(capture.contains("body failure"));
  EXPECT_THROW(thread->start(), Exception);
}

// A thread's loop exists before the thread runs and keeps what is sent to it: performs (also one
// that waits), timers and descriptor sources (polled from the first turn), in order.
TEST(PerformTest, WorkTimersAndSourcesSentBeforeAThreadRunsWaitForIt) {
  auto thread = Thread::create([] {
    auto loop = RunLoop::current();
    while (!Thread::current()->isCancelled()) loop->runMode(kDefaultRunLoopMode, 0.05);
  }, "late");
  auto loop = thread->runLoop();
  ASSERT_TRUE(loop);
  std::atomic<int> performed{0}, fired{0}, read{0};
  performOnThread(thread, [&] { performed = 1; }, false);
  std::atomic<bool> waiterReturned{false};
  std::thread waiter([&] {
    EXPECT_TRUE(performOnThread(thread, [&] { performed = performed == 1 ? 2 : -1; }, true));
    waiterReturned = true;
  });
  loop->addTimer(Timer::create(0.0, false, [&](Timer&) { ++fired; }), kDefaultRunLoopMode);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  auto source = FileDescriptorSource::create(fds[0], kFileDescriptorReadable, [&](std::uint32_t) {
    char byte;
    if (::read(fds[0], &byte, 1) == 1) ++read;
  });
  loop->addSource(source, kDefaultRunLoopMode);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(performed.load() + fired.load() + read.load(), 0);
  EXPECT_FALSE(waiterReturned.load());

  thread->start();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((!waiterReturned || fired == 0 || read == 0) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  waiter.join();
  EXPECT_EQ(performed.load(), 2);
  EXPECT_EQ(fired.load(), 1);
  EXPECT_EQ(read.load(), 1);
  thread->cancel();
  EXPECT_TRUE(thread->joinFor(10.0));
  source->invalidate();
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace zv
