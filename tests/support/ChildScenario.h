#pragma once
// A scenario that runs in a test program of its own (a fork, a real resource limit): the program
// must exit 0; 77 means the scenario cannot run here, and the test is skipped (its output says why).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ChildExit.h"

namespace zv::testing {

inline void expectChildScenarioPasses(const std::vector<std::string>& arguments) {
  SCOPED_TRACE(arguments.size() > 1 ? arguments[1] : arguments[0]);
  auto end = runChildToEnd(arguments);
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "the scenario cannot run here (its output says why)";
  EXPECT_EQ(end.exitCode, 0);
}

}  // namespace zv::testing
