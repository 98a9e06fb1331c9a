#pragma once
// For child processes of tests: a descriptor table filled for real (under a small RLIMIT_NOFILE),
// so that every call that needs a new descriptor fails with EMFILE, and freed again on demand.
//
// The address-sanitizer build is left out: its undefined-behaviour checks need descriptors of
// their own to inspect memory. Children answer 77 ("skipped") when `fill` fails.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace zv::testing {

// Builds whose run-time checks need descriptors of their own cannot run with a full table.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kDescriptorsNeededByChecks = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kDescriptorsNeededByChecks = true;
#else
inline constexpr bool kDescriptorsNeededByChecks = false;
#endif
#else
inline constexpr bool kDescriptorsNeededByChecks = false;
#endif

class FullDescriptorTable {
 public:
  // False when the table cannot be filled here (or in the address-sanitizer build).
  bool fill() {
    if (kDescriptorsNeededByChecks) return false;
    ::getrlimit(RLIMIT_NOFILE, &original_);
    rlimit small = original_;
    small.rlim_cur = std::min<rlim_t>(original_.rlim_cur, 256);
    if (::setrlimit(RLIMIT_NOFILE, &small) != 0) return false;
    for (int fd; (fd = ::dup(0)) >= 0;) fillers_.push_back(fd);
    return errno == EMFILE;
  }
  void free() {
    for (int fd : fillers_) ::close(fd);
    fillers_.clear();
    ::setrlimit(RLIMIT_NOFILE, &original_);
  }

 private:
  rlimit original_{};
  std::vector<int> fillers_;
};

}  // namespace zv::testing
