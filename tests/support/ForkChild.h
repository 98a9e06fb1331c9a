#pragma once
// For programs that tests run to fork (without exec) and check the child: each child ends itself
// after 30 s (alarm), so a hang there is a failure; the parent waits for it within a limit.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace zv::testing {

// Generous limits: they only turn a hang into a failure.
inline constexpr double kForkPatience = 20.0;

template <typename Condition>
bool waitUntil(Condition condition, double seconds = kForkPatience) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// In the child: ends it, saying what went wrong unless it passed.
[[noreturn]] inline void endChild(bool passed, const char* failure) {
  if (!passed) std::printf("in the forked child: %s\n", failure);
  std::fflush(stdout);
  ::_exit(passed ? 0 : 1);
}

// In the parent: 0 when the child exited 0 within the limit, 77 when there is no child.
inline int waitForChild(pid_t child) {
  if (child < 0) return 77;
  int status = 0;
  pid_t done = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(2 * kForkPatience + 20);
  while ((done = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (done == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    std::puts("the forked child hung");
    return 1;
  }
  if (WIFSIGNALED(status)) {
    std::printf("the forked child hung or died (signal %d)\n", WTERMSIG(status));
    return 1;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

inline int passed() {
  std::puts("PASS");
  return 0;
}

inline bool sanitizedForThreads() {
#if defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  return true;
#endif
#endif
  return false;
}

inline bool sanitizedForAddresses() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

// That checker's allocator has locks of its own that a fork does not take: a child forked while
// another thread allocates may wait for ever on one of them, whatever this code does.
inline int notWithTheAddressChecker() {
  std::puts("not with the address checker: its allocator is not safe across a fork while other threads allocate");
  return 77;
}

// At the start of main: the thread checker ends a child of a threaded fork that makes threads
// unless told otherwise, so the program runs itself again, told.
inline void letForkedChildrenMakeThreads(char** argv) {
  const char* options = std::getenv("TSAN_OPTIONS");
  if (sanitizedForThreads() && (!options || !std::strstr(options, "die_after_fork=0"))) {
    const std::string value = (options ? std::string(options) + " " : std::string()) + "die_after_fork=0";
    ::setenv("TSAN_OPTIONS", value.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::exit(1);
  }
}

}  // namespace zv::testing
