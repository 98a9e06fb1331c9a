// A process that is refused new threads for a while by a real RLIMIT_NPROC, with work sent to the
// global, serial and operation queues, to a run-loop thread and to a detached thread meanwhile.
// Prints "PASS" and exits 0 when every piece of that work ran after the limit was lifted, without
// another submission; prints what is missing and exits 1 otherwise; exits 77 when the limit
// cannot be imposed.
//
// With the argument "descriptors" the refusal is a full descriptor table instead: a run-loop
// thread cannot get its loop, and work sent to it must wait for it.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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

// Fills the descriptor table (under a small limit) and frees it again.
class FullDescriptorTable {
 public:
  bool fill() {
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

int withFullDescriptorTable() {
  using namespace zv;
#if defined(__SANITIZE_ADDRESS__)
  // The undefined-behaviour checks of that build need descriptors of their own to inspect memory.
  return 77;
#endif
  FullDescriptorTable table;
  if (!table.fill()) return 77;
  std::atomic<bool> ran{false};
  auto loopThread = Thread::startRunLoopThread("nofd.loop");
  performOnThread(loopThread, [&] { ran = true; }, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const bool early = ran;
  table.free();
  if (early) {
    std::puts("work ran while no descriptor was free");
    return 1;
  }
  if (!waitUntil([&] { return ran.load(); })) {
    std::puts("work sent to a run-loop thread that could not get its loop never ran");
    return 1;
  }
  std::puts("PASS");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  if (argc > 1 && std::string(argv[1]) == "descriptors") return withFullDescriptorTable();
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
