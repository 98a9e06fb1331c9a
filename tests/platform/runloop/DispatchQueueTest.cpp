// Dispatch queues: main queue through the main run loop, serial order, global concurrency.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/runloop/WorkerPool.h"

namespace zv {
namespace {

TEST(DispatchQueueTest, SerialQueueRunsItemsOneAtATimeInOrder) {
  auto queue = DispatchQueue::createSerial("serial.order");
  EXPECT_TRUE(queue->isSerial());
  std::vector<int> order;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  for (int i = 0; i < 200; ++i) {
    queue->async([&, i] {
      if (inside.fetch_add(1) != 0) ++overlaps;
      EXPECT_EQ(DispatchQueue::currentQueue(), queue);
      order.push_back(i);
      if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      inside.fetch_sub(1);
    });
  }
  queue->sync([] {});  // everything queued before has run
  EXPECT_EQ(overlaps, 0);
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
}

TEST(DispatchQueueTest, SyncOnOwnSerialQueueIsRefusedNotDeadlocked) {
  auto queue = DispatchQueue::createSerial("serial.reentrant");
  std::atomic<bool> refused{false};
  queue->sync([&] {
    try {
      queue->sync([] {});
    } catch (const Exception& e) {
      refused = e.name() == kInternalInconsistencyException;
    }
  });
  EXPECT_TRUE(refused);

  // Also through a global queue's sync, which runs inside the serial item.
  std::atomic<bool> refusedThroughGlobal{false};
  std::atomic<bool> itemEnded{false};
  queue->async([&] {
    try {
      DispatchQueue::globalQueue()->sync([&] { queue->sync([] {}); });
    } catch (const Exception& e) {
      refusedThroughGlobal = e.name() == kInternalInconsistencyException;
    }
    itemEnded = true;
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!itemEnded && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(itemEnded) << "the serial queue hangs";
  EXPECT_TRUE(refusedThroughGlobal);
}

// Global items that each wait on a serial queue can take every global worker; the serial queue
// still runs, so they all end.
TEST(DispatchQueueTest, GlobalItemsWaitingOnASerialQueueDoNotStarveIt) {
  constexpr int kItems = 64;  // the global pool's width
  auto serial = DispatchQueue::createSerial("serial.awaited");
  std::atomic<int> waiting{0};
  std::atomic<int> ended{0};
  for (int i = 0; i < kItems; ++i) {
    DispatchQueue::globalQueue()->async([&] {
      // All of them hold a worker before any waits on the serial queue.
      ++waiting;
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (waiting < kItems && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      serial->sync([] {});
      ++ended;
    });
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ended < kItems && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(ended, kItems);
}

TEST(DispatchQueueTest, MainQueueItemsRunOnTheMainThreadWhileItsLoopRuns) {
  std::atomic<int> ran{0};
  std::atomic<bool> onMain{true};
  DispatchQueue::globalQueue()->async([&] {
    DispatchQueue::mainQueue()->async([&] {
      onMain = onMain && RunLoop::isMainThread() && DispatchQueue::currentQueue() == DispatchQueue::mainQueue();
      ++ran;
    });
    // From another thread, sync waits for the main loop to serve it.
    DispatchQueue::mainQueue()->sync([&] { ++ran; });
    ++ran;
  });
  EXPECT_TRUE(pumpRunLoopUntil([&] { return ran == 3; }, 5.0));
  EXPECT_TRUE(onMain);
  // On the main thread, sync runs at once.
  DispatchQueue::mainQueue()->sync([&] { ++ran; });
  EXPECT_EQ(ran, 4);
}

TEST(DispatchQueueTest, GlobalQueueRunsItemsConcurrently) {
  // Every item stays until all eight are in (or a deadline passes): only items that run at the
  // same time can all be in at once, however slowly the machine starts them.
  constexpr int kItems = 8;
  std::atomic<int> inside{0};
  std::atomic<int> peak{0};
  std::atomic<int> done{0};
  for (auto priority : {DispatchQueuePriority::High, DispatchQueuePriority::Default, DispatchQueuePriority::Low,
                        DispatchQueuePriority::Background}) {
    for (int i = 0; i < kItems / 4; ++i) {
      DispatchQueue::globalQueue(priority)->async([&] {
        const int now = ++inside;
        int expected = peak.load();
        while (now > expected && !peak.compare_exchange_weak(expected, now)) {
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (peak < kItems && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        --inside;
        ++done;
      });
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (done < kItems && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(done, kItems);
  EXPECT_EQ(peak, kItems);
}

TEST(DispatchQueueTest, AfterRunsLaterOnItsQueue) {
  auto queue = DispatchQueue::createSerial("serial.after");
  const auto start = std::chrono::steady_clock::now();
  std::atomic<bool> ran{false};
  std::atomic<bool> rightQueue{false};
  queue->after(0.03, [&] {
    rightQueue = DispatchQueue::currentQueue() == queue;
    ran = true;
  });
  std::atomic<bool> mainRan{false};
  DispatchQueue::mainQueue()->after(0.01, [&] { mainRan = RunLoop::isMainThread(); });
  EXPECT_TRUE(pumpRunLoopUntil([&] { return ran && mainRan; }, 5.0));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_TRUE(rightQueue);
}

TEST(DispatchQueueTest, OnceRunsExactlyOnceAcrossThreads) {
  DispatchOnceToken token;
  std::atomic<int> count{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { dispatchOnce(token, [&] { ++count; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(count, 1);
}

// Worker threads the system refuses for a while (out of threads or memory): no job is stranded
// and no caller waits. A job runs once a worker can be started, or on a busy worker once that one
// comes free.
TEST(DispatchQueueTest, AWorkerThatCannotBeStartedStrandsNoJob) {
  struct Flaky {
    std::mutex mutex;
    std::condition_variable changed;
    int refusals = 0;  // starts still to refuse; -1 refuses all
    int alive = 0;
    std::vector<std::string> ran;
    std::thread::id caller;
    int attemptsOnCaller = 0;
    int attemptsElsewhere = 0;
  };
  static auto* flaky = new Flaky;
  static auto* pool = new WorkerPool("pool.flaky", 2, 0.05, [](std::function<void()> body, const std::string&) {
    {
      std::lock_guard lock(flaky->mutex);
      ++(std::this_thread::get_id() == flaky->caller ? flaky->attemptsOnCaller : flaky->attemptsElsewhere);
      flaky->changed.notify_all();
      if (flaky->refusals != 0) {
        if (flaky->refusals > 0) --flaky->refusals;
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
      ++flaky->alive;
    }
    std::thread([body = std::move(body)] {
      body();
      std::lock_guard lock(flaky->mutex);
      --flaky->alive;
      flaky->changed.notify_all();
    }).detach();
  });
  auto record = [](std::string name) {
    return [name] {
      std::lock_guard lock(flaky->mutex);
      flaky->ran.push_back(name);
      flaky->changed.notify_all();
    };
  };
  auto waitFor = [](auto condition) {
    std::unique_lock lock(flaky->mutex);
    return flaky->changed.wait_for(lock, std::chrono::seconds(30), [&] { return condition(*flaky); });
  };
  auto refuse = [](int starts) {
    std::lock_guard lock(flaky->mutex);
    flaky->refusals = starts;
  };
  auto ran = [](const char* name) {
    return [name](Flaky& f) { return std::find(f.ran.begin(), f.ran.end(), name) != f.ran.end(); };
  };

  // Refused a few times, then started.
  refuse(3);
  EXPECT_NO_THROW(pool->submit(record("first")));
  EXPECT_TRUE(waitFor(ran("first")));
  ASSERT_TRUE(waitFor([](Flaky& f) { return f.alive == 0; }));

  // Refused for a long while: submit tries once on the caller's thread and returns; the jobs
  // wait, and once threads are given again every one of them runs without another submission,
  // each on a worker of its own (the first waits for the second).
  refuse(-1);
  {
    std::lock_guard lock(flaky->mutex);
    flaky->attemptsOnCaller = flaky->attemptsElsewhere = 0;
    flaky->caller = std::this_thread::get_id();
  }
  std::atomic<bool> secondRan{false};
  EXPECT_NO_THROW(pool->submit([&secondRan, record] {
    while (!secondRan) std::this_thread::yield();
    record("waiting")();
  }));
  EXPECT_NO_THROW(pool->submit([&secondRan] { secondRan = true; }));
  {
    std::lock_guard lock(flaky->mutex);
    EXPECT_TRUE(flaky->ran.size() == 1 && flaky->alive == 0);
    EXPECT_EQ(flaky->attemptsOnCaller, 1);
  }
  // Let the retries be refused a few more times before giving threads again.
  ASSERT_TRUE(waitFor([](Flaky& f) { return f.attemptsElsewhere >= 3; }));
  refuse(0);
  EXPECT_TRUE(waitFor(ran("waiting")));

  // A second worker refused while one is busy: the job runs when the busy one is done.
  ASSERT_TRUE(waitFor([](Flaky& f) { return f.alive == 0; }));
  std::mutex gate;
  std::unique_lock closed(gate);
  pool->submit([&gate] { std::lock_guard pass(gate); });
  ASSERT_TRUE(waitFor([](Flaky& f) { return f.alive == 1; }));
  refuse(-1);
  pool->submit(record("behind the busy one"));
  closed.unlock();
  EXPECT_TRUE(waitFor(ran("behind the busy one")));
  refuse(0);
}

}  // namespace
}  // namespace zv
