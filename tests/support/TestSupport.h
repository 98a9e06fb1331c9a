#pragma once
// Helpers shared by the tests: temporary folders and the test output folder.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace zv::testing {

// A fresh folder removed (with its contents) when the object goes away.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Where tests leave files for a person to look at ($ZV_TEST_OUTPUT, else build/test-output).
std::filesystem::path testOutputDirectory();

void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);

// Runs `body` in a forked child whose files may not grow past `maxFileBytes` (a write beyond fails
// with EFBIG: the child ignores SIGXFSZ, as the program does), to see how a write that fails part
// way is handled.
// True when the child ran to its end and `body` answered true.
bool runInChildWithFileSizeLimit(std::size_t maxFileBytes, const std::function<bool()>& body);

// Runs `body(0)` ... `body(processes - 1)` at the same time, each in a forked child. True when
// every child ran to its end and its `body` answered true.
bool runInChildProcesses(int processes, const std::function<bool(int index)>& body);

// The least CPU time of this thread over `runs` runs of `work`, in seconds: for tests that compare
// how work grows between an input and a larger one (a ratio, never an absolute time).
double leastThreadCPUSeconds(const std::function<void()>& work, int runs = 3);

}  // namespace zv::testing
