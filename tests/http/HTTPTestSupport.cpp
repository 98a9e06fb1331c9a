#include "HTTPTestSupport.h"

#include <filesystem>

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

}  // namespace zv::testing
