// User defaults changed while the system refuses new threads (a real limit, in a child process).
#include <gtest/gtest.h>

#include "support/ChildExit.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

TEST(UserDefaultsRefusedSaverTest, AChangeMadeWhileNoThreadCanBeMadeIsSavedOnceOneCan) {
  testing::TemporaryDirectory home;
  auto end = testing::runChildToEnd({ZV_REFUSED_SAVER_CHILD, (home.path() / "defaults.plist").string()});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "no thread limit can be imposed here";
  EXPECT_EQ(end.exitCode, 0);
}

}  // namespace
}  // namespace zv
