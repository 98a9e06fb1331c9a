// A child made by fork (without exec) finds the system services and reachability usable whatever
// the parent's other threads were doing, keeps none of the parent's threads or descriptors, and
// leaves the parent's alone. Each scenario runs in a program of its own
// (child/ForkSystemChild.cpp), since it forks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ChildScenario.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

void expectScenarioPasses(const std::string& scenario, std::vector<std::string> more = {}) {
  testing::TemporaryDirectory folder;
  std::vector<std::string> arguments{ZV_FORK_SYSTEM_CHILD, scenario, folder.path().string()};
  arguments.insert(arguments.end(), more.begin(), more.end());
  testing::expectChildScenarioPasses(arguments);
}

// Other threads hold the defaults stores', the saver's, the pasteboards', the notification
// centre's and the reachability provider's locks at random moments of the forks: every child
// finds them free and the services working.
TEST(ForkWithOtherThreadsTest, ForksWhileOtherThreadsKeepTheServicesBusyLeaveNoLockHeld) {
  expectScenarioPasses("busy", {"50"});
}

// The child saves its defaults with a saver of its own, lets the parent's reachability provider
// go without waiting for the parent's watcher or signalling its descriptor, and makes a temporary
// folder of its own; the parent's saver, watcher, folder and folder lock go on as before.
TEST(ForkWithOtherThreadsTest, AChildUsingDefaultsAndReachabilityLeavesTheParentsThreadsAlone) {
  expectScenarioPasses("after-fork");
}

}  // namespace
}  // namespace zv
