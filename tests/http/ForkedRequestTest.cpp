// Requests in a child forked without exec, after the parent's requests made its network thread.
#include <gtest/gtest.h>

#include "support/ChildExit.h"

namespace zv {
namespace {

TEST(ForkedRequestTest, AChildsRequestsRunOnANetworkThreadOfItsOwnAndTheParentsGoOn) {
  auto end = testing::runChildToEnd({ZV_FORKED_REQUEST_CHILD});
  ASSERT_TRUE(end.started);
  ASSERT_FALSE(end.hung);
  ASSERT_EQ(end.signal, 0);
  EXPECT_EQ(end.exitCode, 0);
}

}  // namespace
}  // namespace zv
