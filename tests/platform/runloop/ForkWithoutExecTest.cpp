// A child made by fork (without exec) gets working queues, pools and run loops whatever the
// parent's threads were doing at the fork, runs none of the parent's work, and leaves the parent
// unaffected. Each scenario runs in a program of its own (child/ForkChild.cpp), since it forks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ChildScenario.h"

namespace zv {
namespace {

void expectScenarioPasses(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), ZV_FORK_CHILD);
  testing::expectChildScenarioPasses(arguments);
}

// The forking worker goes on in the child and ends there when idle; its pool then starts another
// for the child's next job, and nothing waiting in the parent runs in the child.
TEST(ForkWithoutExecTest, AForkFromInsideAJobLeavesThePoolWorkingInTheChild) {
  expectScenarioPasses({"global-job"});
  expectScenarioPasses({"operation-job"});
}

// The forking item's drain is the child's one drain: items queued behind it in the parent do not
// run there, and one the child queues meanwhile waits for it.
TEST(ForkWithoutExecTest, AForkFromInsideASerialItemRunsNothingTwiceAndOneItemAtATime) {
  expectScenarioPasses({"serial-item"});
  expectScenarioPasses({"serial-item-quiet"});
}

// Work sent to the parent's threads that the child lacks is refused at once, said in the log, and
// never leaves a caller waiting; the parent's thread goes on.
TEST(ForkWithoutExecTest, WorkForThreadsTheChildLacksIsRefusedAtOnce) { expectScenarioPasses({"foreign-threads"}); }

// Other threads hold the serial queue's, the main loop's and the log's locks at random moments of
// the forks: every child finds them free.
TEST(ForkWithoutExecTest, ForksWhileOtherThreadsKeepTheQueuesBusyLeaveNoLockHeld) {
  expectScenarioPasses({"busy", "50"});
}

TEST(ForkWithoutExecTest, DelayedWorkRunsInAChildOfAProcessWithoutPools) {
  expectScenarioPasses({"after-without-pool"});
}

// The child's main loop waits on descriptors of its own: it takes none of the parent's wake-ups.
TEST(ForkWithoutExecTest, AChildRunningItsMainLoopLeavesTheParentsWakeUpsAlone) {
  expectScenarioPasses({"main-loop"});
}

}  // namespace
}  // namespace zv
