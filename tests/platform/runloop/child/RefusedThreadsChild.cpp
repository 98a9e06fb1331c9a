// A process that is refused new threads for a while by a real RLIMIT_NPROC, with work sent to the
// global, serial and operation queues, to a run-loop thread and to a detached thread meanwhile.
// Prints "PASS" and exits 0 when every piece of that work ran after the limit was lifted, without
// another submission; prints what is missing and exits 1 otherwise; exits 77 when the limit
// cannot be imposed.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/foundation/ThreadStartRetry.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/Thread.h"
#include "support/ThreadLimit.h"

namespace {

template <typename Condition>
bool waitUntil(Condition condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

int main() {
  using namespace zv;
  testing::ThreadLimit limit;
  prepareThreadStartRetries();
  if (!limit.impose()) return 77;

  std::atomic<bool> globalRan{false}, serialRan{false}, operationRan{false}, loopThreadRan{false}, detachedRan{false};
  auto serial = DispatchQueue::createSerial("refused.serial");
  auto operations = OperationQueue::create();
  operations->setMaxConcurrentOperationCount(1);
  DispatchQueue::globalQueue()->async([&] { globalRan = true; });
  serial->async([&] { serialRan = true; });
  operations->addOperationWithBlock([&] { operationRan = true; });
  auto loopThread = Thread::startRunLoopThread("refused.loop");
  performOnThread(loopThread, [&] { loopThreadRan = true; }, false);
  detachThread([&] { detachedRan = true; }, "refused.plain");

  // Refused for a while, then given again.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (globalRan || serialRan || operationRan || loopThreadRan || detachedRan) {
    std::puts("work ran while every thread was refused");
    return 1;
  }
  limit.lift();

  const bool allRan =
      waitUntil([&] { return globalRan && serialRan && operationRan && loopThreadRan && detachedRan; });
  if (!allRan) {
    std::printf("missing:%s%s%s%s%s\n", globalRan ? "" : " global", serialRan ? "" : " serial",
                operationRan ? "" : " operation", loopThreadRan ? "" : " run-loop thread",
                detachedRan ? "" : " detached thread");
    return 1;
  }
  // The serial queue is not left "draining" and the operation queue's one slot was freed.
  std::atomic<bool> later{false};
  serial->sync([&] { later = true; });
  std::atomic<bool> secondOperation{false};
  operations->addOperationWithBlock([&] { secondOperation = true; });
  if (!waitUntil([&] { return later && secondOperation.load(); })) {
    std::puts("the serial queue or the operation queue stayed blocked");
    return 1;
  }
  std::puts("PASS");
  return 0;
}
