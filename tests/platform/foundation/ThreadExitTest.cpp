// A detached thread's exit call comes once the thread has let go of all it held.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/foundation/ThreadStartRetry.h"
#include "support/ForkChild.h"
#include "support/Hold.h"

namespace zv {
namespace {

TEST(ThreadExitTest, TheExitCallComesAfterTheBodysClosureAndThreadLocalsAreGone) {
  testing::Hold hold;
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> capturedWatch = captured;
  std::atomic<bool> over{false};
  std::atomic<bool> capturedGoneFirst{false};
  detachThread(
      [&hold, captured = std::move(captured)] {
        hold.holdAtThreadExit();
      },
      "exit test",
      [&] {
        capturedGoneFirst = capturedWatch.expired();
        over = true;
      });
  ASSERT_TRUE(testing::waitUntil([&] { return hold.holder().has_value(); }));
  // The body has returned and its closure is gone, but a thread-local of the thread is not.
  EXPECT_TRUE(capturedWatch.expired());
  EXPECT_FALSE(over.load());
  hold.release();
  ASSERT_TRUE(testing::waitUntil([&] { return over.load(); }));
  EXPECT_TRUE(capturedGoneFirst.load());
}

}  // namespace
}  // namespace zv
