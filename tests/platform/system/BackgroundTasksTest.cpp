#include "platform/system/BackgroundTasks.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zv {
namespace {

class BackgroundTasksTest : public ::testing::Test {
 protected:
  void SetUp() override { tasks.reset(); }
  void TearDown() override { tasks.reset(); }
  BackgroundTasks& tasks = BackgroundTasks::shared();
};

TEST_F(BackgroundTasksTest, HandlersRunOnceInOrderAndMayEndTasks) {
  std::vector<int> order;
  BackgroundTaskIdentifier second = kInvalidBackgroundTask;
  auto first = tasks.beginBackgroundTask([&] {
    order.push_back(1);
    // Ending a later task here means its own handler is no longer due.
    tasks.endBackgroundTask(second);
  });
  second = tasks.beginBackgroundTask([&] { order.push_back(2); });
  auto third = tasks.beginBackgroundTask([&] {
    order.push_back(3);
    tasks.beginBackgroundTask(nullptr);  // begun during expiry: its time has not run out yet
  });
  tasks.expireBackgroundTasks();
  EXPECT_EQ(order, (std::vector<int>{1, 3}));
  EXPECT_TRUE(tasks.isRunning(first));
  EXPECT_FALSE(tasks.isRunning(second));
  EXPECT_EQ(tasks.runningTaskCount(), 3u);
  tasks.expireBackgroundTasks();
  EXPECT_EQ(order, (std::vector<int>{1, 3}));
  tasks.endBackgroundTask(first);
  tasks.endBackgroundTask(third);
  tasks.endBackgroundTask(kInvalidBackgroundTask);
  EXPECT_EQ(tasks.runningTaskCount(), 1u);
}

TEST_F(BackgroundTasksTest, ThreadsBeginAndEndTasksTogether) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < 500; ++i) tasks.endBackgroundTask(tasks.beginBackgroundTask([] {}));
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(tasks.runningTaskCount(), 0u);
  // Identifiers are never handed out twice.
  auto a = tasks.beginBackgroundTask(nullptr);
  auto b = tasks.beginBackgroundTask(nullptr);
  EXPECT_GT(b, a);
  EXPECT_GT(a, 2000u);
}

}  // namespace
}  // namespace zv
