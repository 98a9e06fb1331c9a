#include "support/net/ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace zv::testing {

bool ChildProcess::start(const std::vector<std::string>& arguments, const std::filesystem::path& logFile) {
  if (arguments.empty()) return false;
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::string logPath = logFile.string();
  pid_t parent = getpid();
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    // A server must not outlive the test or benchmark that started it, even one that exits
    // without stopping it or is killed. (The signal follows the forking thread: servers are
    // started from threads that live as long as they do.)
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
    }
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    // Own process group, so stopping the server also stops anything it forked.
    setpgid(0, 0);
    execv(argv[0], argv.data());
    _exit(127);
  }
  pid_ = child;
  return true;
}

bool ChildProcess::isRunning() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

namespace {

// Inodes of sockets listening on 127.0.0.1:port (or any address), from /proc/net/tcp.
std::vector<std::string> listeningInodes(int port) {
  std::vector<std::string> inodes;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      auto colon = local.rfind(':');
      if (colon == std::string::npos || state != "0A") continue;
      if (std::stoi(local.substr(colon + 1), nullptr, 16) == port) inodes.push_back(inode);
    }
  }
  return inodes;
}

bool ownsSocket(pid_t pid, const std::vector<std::string>& inodes) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    std::error_code linkError;
    auto target = std::filesystem::read_symlink(entry.path(), linkError).string();
    for (const auto& inode : inodes) {
      if (target == "socket:[" + inode + "]") return true;
    }
  }
  return false;
}

}  // namespace

bool ChildProcess::waitUntilListening(int port, double timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!isRunning()) return false;
    if (ownsSocket(pid_, listeningInodes(port))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void ChildProcess::stop() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool waitForLoopbackPort(int port, double timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::size_t openFileDescriptorCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

}  // namespace zv::testing
