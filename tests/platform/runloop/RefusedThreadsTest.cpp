// Threads refused by the system for real (RLIMIT_NPROC in a child process): queued work waits and
// then runs, without another submission, once threads are given again.
#include <gtest/gtest.h>

#include "support/ChildExit.h"

namespace zv {
namespace {

TEST(RefusedThreadsTest, WorkSentWhileNoThreadCanBeMadeRunsOnceThreadsAreGivenAgain) {
  auto end = testing::runChildToEnd({ZV_REFUSED_THREADS_CHILD});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "no thread limit can be imposed here";
  EXPECT_EQ(end.exitCode, 0);
}

// The same with a full descriptor table: a run-loop thread that cannot get its loop's descriptors
// keeps the work and the timers sent to it meanwhile (delayed dispatch items included).
TEST(RefusedThreadsTest, WorkSentToARunLoopThreadWithoutDescriptorsRunsOnceSomeAreFree) {
  auto end = testing::runChildToEnd({ZV_REFUSED_THREADS_CHILD, "descriptors"});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "the descriptor table cannot be filled here";
  EXPECT_EQ(end.exitCode, 0);
}

// Waiting for threads costs little CPU and few log lines however often work arrives meanwhile.
TEST(RefusedThreadsTest, WaitingForThreadsWhileWorkKeepsArrivingCostsLittle) {
  auto end = testing::runChildToEnd({ZV_REFUSED_THREADS_CHILD, "backoff"});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "no thread limit can be imposed here";
  EXPECT_EQ(end.exitCode, 0);
}

// A child made by fork starts its pools from what it has: no workers, none of the parent's jobs.
TEST(RefusedThreadsTest, PoolsOfAForkedChildStartAfresh) {
  auto end = testing::runChildToEnd({ZV_REFUSED_THREADS_CHILD, "fork"});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "no child can be forked here";
  EXPECT_EQ(end.exitCode, 0);
}

}  // namespace
}  // namespace zv
