#include "HTTPTestSupport.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/runloop/RunLoopPump.h"

namespace zv::testing {

std::shared_ptr<RequestOutcome> recordOutcome(const Ref<HTTPRequest>& request) {
  auto outcome = std::make_shared<RequestOutcome>();
  request->setCompletionBlock([outcome] {
    if (!RunLoop::isMainThread()) ++outcome->offMainThread;
    ++outcome->finished;
  });
  request->setFailedBlock([outcome] {
    if (!RunLoop::isMainThread()) ++outcome->offMainThread;
    ++outcome->failed;
  });
  return outcome;
}

bool waitForOutcome(const std::shared_ptr<RequestOutcome>& outcome, double seconds) {
  bool done = pumpRunLoopUntil([&] { return outcome->total() > 0; }, seconds);
  pumpRunLoopFor(0.1);
  return done;
}

int openSocketCount() {
  int count = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    auto target = std::filesystem::read_symlink(entry.path(), ignored);
    if (target.string().rfind("socket:", 0) == 0) ++count;
  }
  return count;
}

namespace {

// A "Vm..." field of /proc/self/status in KiB, -1 when absent.
long statusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

}  // namespace

ResidentPeakGrowth::ResidentPeakGrowth() {
  std::ofstream("/proc/self/clear_refs") << "5";
  startKiB_ = statusKiB("VmHWM:");
}

double ResidentPeakGrowth::mebibytes() const {
  long now = statusKiB("VmHWM:");
  if (now < 0 || startKiB_ < 0) return -1;
  return static_cast<double>(now - startKiB_) / 1024.0;
}

std::size_t largeBodySize() { return std::size_t{64} << 20; }

}  // namespace zv::testing
