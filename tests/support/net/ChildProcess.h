#pragma once
// A server program run as a child process of the test: started with an argument list, its output
// sent to a log file, killed (SIGTERM, then SIGKILL) when the object goes away.

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace zv::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `arguments[0]` (a path) with the arguments; output goes to `logFile`. false when it
  // could not be started.
  bool start(const std::vector<std::string>& arguments, const std::filesystem::path& logFile);
  void stop();
  bool isRunning();
  // Waits until this very process listens on 127.0.0.1:port (not merely someone: a port released
  // for it can be taken by a neighbour before it binds). false when the process ended or
  // `timeoutSeconds` passed.
  bool waitUntilListening(int port, double timeoutSeconds = 10.0);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// Waits until something accepts connections on 127.0.0.1:port; false after `timeoutSeconds`.
bool waitForLoopbackPort(int port, double timeoutSeconds = 10.0);
// The number of file descriptors this process holds open now.
std::size_t openFileDescriptorCount();

}  // namespace zv::testing
