// Joining a thread: it returns once the thread has let go of everything it held, also in a child
// made by fork while the thread was letting go.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "support/ForkChild.h"
#include "support/Hold.h"

namespace zv {
namespace {

std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A thread kept at `hold` as it exits: its body has returned, but its hold on its run loop (made
// before the body ran) is not gone yet.
Ref<Thread> startThreadHeldAtExit(testing::Hold& hold) {
  auto thread = Thread::create(
      [&hold] {
        hold.holdAtThreadExit();
      },
      "held at exit");
  thread->start();
  return thread;
}

TEST(ThreadTest, JoinWaitsUntilTheThreadHasLetGoOfItsLoopAndItself) {
  RunLoop::current();  // this thread's descriptors exist before the count
  const std::size_t before = openDescriptors();
  testing::Hold hold;
  auto thread = startThreadHeldAtExit(hold);
  ASSERT_TRUE(testing::waitUntil([&] { return hold.holder().has_value(); }));

  // The body has returned, but the thread still holds its loop: not finished yet.
  EXPECT_FALSE(thread->joinFor(0));
  EXPECT_FALSE(thread->isFinished());
  EXPECT_TRUE(thread->isExecuting());

  hold.release();
  thread->join();
  EXPECT_TRUE(thread->isFinished());
  EXPECT_FALSE(thread->isExecuting());
  // The caller's reference is the last one: the loop's descriptors close with it, here and now.
  thread = nullptr;
  EXPECT_EQ(openDescriptors(), before);
}

TEST(ThreadTest, AChildForkedWhileAThreadLetsGoFindsItFinished) {
  testing::Hold hold;
  auto thread = startThreadHeldAtExit(hold);
  ASSERT_TRUE(testing::waitUntil([&] { return hold.holder().has_value(); }));
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // a hang fails
    testing::endChild(thread->joinFor(5) && thread->isFinished(), "a thread of the parent's is not finished");
  }
  ASSERT_GT(child, 0);
  EXPECT_EQ(testing::waitForChild(child), 0);
  // In the parent the thread is still letting go.
  EXPECT_FALSE(thread->isFinished());
  hold.release();
  EXPECT_TRUE(thread->joinFor(20));
}

TEST(ThreadTest, AThreadCannotJoinItself) {
  bool raised = false;
  auto thread = Thread::create([&raised] {
    try {
      Thread::current()->join();
    } catch (const std::exception&) {
      raised = true;
    }
  });
  thread->start();
  thread->join();
  EXPECT_TRUE(raised);
}

}  // namespace
}  // namespace zv
