// Requests in a child forked without exec, after the parent's requests made its network thread.
#include <gtest/gtest.h>

#include "support/ChildScenario.h"

namespace zv {
namespace {

TEST(ForkedRequestTest, AChildsRequestsRunOnANetworkThreadOfItsOwnAndTheParentsGoOn) {
  testing::expectChildScenarioPasses({ZV_FORKED_REQUEST_CHILD});
}

}  // namespace
}  // namespace zv
