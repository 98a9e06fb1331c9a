// A connection offered for reuse is the parent's alone: a child made by fork (without exec)
// shares its socket and TLS session, so it must open its own rather than take the parent's.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "platform/net/ConnectionPool.h"

namespace zv::net {
namespace {

TEST(ConnectionPoolForkTest, AForkedChildTakesNoneOfTheParentsOfferedConnections) {
  auto& pool = ConnectionPool::shared();
  ConnectionKey key{"http", "pooled.example", 80, {}, true, "", 0};
  auto connection = std::make_shared<HTTPStreamConnection>(key, TLSSettings{}, "");
  constexpr std::int64_t kTag = 424242;
  const int owner = 0;
  pool.offer(kTag, connection, &owner);
  const std::size_t offered = pool.offeredCount();

  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // a hang fails
    // Not even handed out to be found dead: the child never sees it.
    const bool clean = pool.offeredCount() == 0 && !pool.withdraw(&owner);
    ::_exit(clean ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The parent's offer stands.
  EXPECT_EQ(pool.offeredCount(), offered);
  EXPECT_TRUE(pool.withdraw(&owner));
}

}  // namespace
}  // namespace zv::net
