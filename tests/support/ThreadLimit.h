#pragma once
// For child processes of tests: a real refusal of new threads through RLIMIT_NPROC, lifted again
// on demand. Root ignores the limit, so a root process first takes a user id no one else runs as.
// Call before the process makes any thread of its own.

#include <sys/resource.h>
#include <unistd.h>

#include <system_error>
#include <thread>

namespace zv::testing {

class ThreadLimit {
 public:
  // False when no limit can be imposed here.
  bool impose() {
    if (::geteuid() == 0) {
      const uid_t uid = 61000 + static_cast<uid_t>(::getpid() % 3000);
      if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) return false;
    }
    ::getrlimit(RLIMIT_NPROC, &original_);
    rlimit refused = original_;
    refused.rlim_cur = 1;
    return ::setrlimit(RLIMIT_NPROC, &refused) == 0 && threadsRefused();
  }
  void lift() { ::setrlimit(RLIMIT_NPROC, &original_); }

  static bool threadsRefused() {
    try {
      std::thread([] {}).join();
      return false;
    } catch (const std::system_error&) {
      return true;
    }
  }

 private:
  rlimit original_{};
};

}  // namespace zv::testing
