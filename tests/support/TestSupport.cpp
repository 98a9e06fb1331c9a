#include "support/TestSupport.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zv::testing {

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path testOutputDirectory() {
  const char* env = std::getenv("ZV_TEST_OUTPUT");
  std::filesystem::path dir = env && *env ? env : "test-output";
  std::filesystem::create_directories(dir);
  return dir;
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << contents;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool runInChildWithFileSizeLimit(std::size_t maxFileBytes, const std::function<bool()>& body) {
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    // As the program does at its start: the libraries leave the signal to the program, so the
    // child stands in for it here. ProgramTest runs the program with the signal at its default.
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {maxFileBytes, maxFileBytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runInChildProcesses(int processes, const std::function<bool(int index)>& body) {
  std::vector<pid_t> children;
  bool all = true;
  for (int index = 0; index < processes; ++index) {
    pid_t child = ::fork();
    if (child == 0) ::_exit(body(index) ? 0 : 1);
    if (child < 0) {
      all = false;
      break;
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    all = ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && all;
  }
  return all;
}

double leastThreadCPUSeconds(const std::function<void()>& work, int runs) {
  double least = 1e300;
  for (int run = 0; run < runs; ++run) {
    timespec start{}, end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    work();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    least = std::min(least, static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9);
  }
  return least;
}

}  // namespace zv::testing
