#pragma once
// Runs a program as a child process to its end and tells how it ended: for tests whose scenario
// must run in a process of its own (a real resource limit, a crash at exit).

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zv::testing {

struct ChildExit {
  bool started = false;
  bool hung = false;  // still running after the time-out (then killed)
  int exitCode = -1;  // when it exited
  int signal = 0;     // when a signal ended it
};

inline ChildExit runChildToEnd(const std::vector<std::string>& arguments, double timeoutSeconds = 120.0) {
  ChildExit result;
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return result;
  result.started = true;
  int status = 0;
  pid_t done = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while ((done = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    result.hung = true;
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return result;
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace zv::testing
