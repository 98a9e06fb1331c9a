// Requests started while the network thread cannot be made (a real limit, in a child process).
#include <gtest/gtest.h>

#include "support/ChildExit.h"

namespace zv {
namespace {

TEST(RefusedNetworkThreadTest, RequestsStartedWhileNoThreadCanBeMadeAllEnd) {
  auto end = testing::runChildToEnd({ZV_REFUSED_NETWORK_THREAD_CHILD});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "no thread limit can be imposed here";
  EXPECT_EQ(end.exitCode, 0);
}

// A request started and cancelled while the network thread cannot get its loop's descriptors ends
// cancelled once they are free.
TEST(RefusedNetworkThreadTest, ARequestCancelledBeforeTheNetworkThreadHasItsLoopEndsCancelled) {
  auto end = testing::runChildToEnd({ZV_REFUSED_NETWORK_THREAD_CHILD, "descriptors"});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  if (end.exitCode == 77) GTEST_SKIP() << "the descriptor table cannot be filled here";
  EXPECT_EQ(end.exitCode, 0);
}

}  // namespace
}  // namespace zv
