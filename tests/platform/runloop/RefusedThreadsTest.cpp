// Threads refused by the system for real (RLIMIT_NPROC in a child process): queued work waits and
// then runs, without another submission, once threads are given again.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace zv {
namespace {

TEST(RefusedThreadsTest, WorkSentWhileNoThreadCanBeMadeRunsOnceThreadsAreGivenAgain) {
  char* const arguments[] = {const_cast<char*>(ZV_REFUSED_THREADS_CHILD), nullptr};
  pid_t child = -1;
  ASSERT_EQ(::posix_spawn(&child, ZV_REFUSED_THREADS_CHILD, nullptr, nullptr, arguments, environ), 0);
  int status = 0;
  pid_t done = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while ((done = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    FAIL() << "the child hung";
  }
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no thread limit can be imposed here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zv
