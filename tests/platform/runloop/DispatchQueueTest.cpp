// Dispatch queues: main queue through the main run loop, serial order, global concurrency.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/RunLoopPump.h"

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
  std::atomic<int> inside{0};
  std::atomic<int> peak{0};
  std::atomic<int> done{0};
  for (auto priority : {DispatchQueuePriority::High, DispatchQueuePriority::Default, DispatchQueuePriority::Low,
                        DispatchQueuePriority::Background}) {
    for (int i = 0; i < 2; ++i) {
      DispatchQueue::globalQueue(priority)->async([&] {
        const int now = ++inside;
        int expected = peak.load();
        while (now > expected && !peak.compare_exchange_weak(expected, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        --inside;
        ++done;
      });
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (done < 8 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(done, 8);
  EXPECT_GE(peak, 4);
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

}  // namespace
}  // namespace zv
