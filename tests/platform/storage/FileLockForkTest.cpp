// A lock file held by one thread when another forks (without exec): the child's copy of the
// descriptor shares the lock, and must not keep it once the holder in the parent lets go.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "platform/storage/FileLock.h"
#include "support/TestSupport.h"

namespace zv::storage {
namespace {

TEST(FileLockForkTest, ALockReleasedInTheParentIsFreeInAChildForkedWhileItWasHeld) {
  testing::TemporaryDirectory folder;
  const auto path = folder / "data.lock";
  int released[2];
  ASSERT_EQ(::pipe(released), 0);
  auto held = std::make_unique<FileLock>(path, FileLock::Mode::Exclusive);
  ASSERT_TRUE(held->isLocked());

  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // a hang fails
    char byte = 0;
    if (::read(released[0], &byte, 1) != 1) ::_exit(2);
    FileLock again(path, FileLock::Mode::Exclusive);
    ::_exit(again.isLocked() ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  held.reset();
  ASSERT_EQ(::write(released[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(released[0]);
  ::close(released[1]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child could not take the lock";
  // And the parent takes it again.
  FileLock again(path, FileLock::Mode::Exclusive);
  EXPECT_TRUE(again.isLocked());
}

}  // namespace
}  // namespace zv::storage
