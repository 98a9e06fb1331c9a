// A process that is refused new threads for a while by a real RLIMIT_NPROC, with work sent to the
// global, serial and operation queues, to a run-loop thread and to a detached thread meanwhile.
// Prints "PASS" and exits 0 when every piece of that work ran after the limit was lifted, without
// another submission; prints what is missing and exits 1 otherwise; exits 77 when the limit
// cannot be imposed.
//
// Other scenarios, chosen by the first argument:
//   descriptors  the refusal is a full descriptor table instead: a run-loop thread cannot get its
//                loop's descriptors, and work and timers sent to it must wait for them;
//   backoff      starts are refused while new work keeps arriving: waiting must cost little CPU
//                and few log lines;
//   fork         a child made by fork (without exec) from a process whose pools have idle
//                workers and a refused start pending: work submitted in the child runs, the
//                parent's queued work does not.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/WorkerPool.h"
#include "support/ForkChild.h"
#include "support/FullDescriptorTable.h"
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

int withFullDescriptorTable() {
  using namespace zv;
  testing::FullDescriptorTable table;
  if (!table.fill()) return 77;
  std::atomic<bool> ran{false}, delayedRan{false};
  auto loopThread = Thread::startRunLoopThread("nofd.loop");
  performOnThread(loopThread, [&] { ran = true; }, false);
  // The first delayed item makes the thread that keeps such timers, which gets no loop now.
  DispatchQueue::globalQueue()->after(0.01, [&] { delayedRan = true; });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const bool early = ran || delayedRan;
  table.free();
  if (early) {
    std::puts("work ran while no descriptor was free");
    return 1;
  }
  if (!waitUntil([&] { return ran && delayedRan; })) {
    std::printf("never ran:%s%s\n", ran ? "" : " work sent to a run-loop thread without its loop",
                delayedRan ? "" : " delayed work");
    return 1;
  }
  std::puts("PASS");
  return 0;
}

double processCPUSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int refusalsWhileWorkArrives() {
  using namespace zv;
  testing::ThreadLimit limit;
  prepareThreadStartRetries();
  if (!limit.impose()) return 77;
  constexpr int kArrivals = 100;
  std::atomic<int> ran{0};
  std::size_t lines = 0;
  double cpu = 0;
  {
    LogCapture log;
    const double start = processCPUSeconds();
    for (int i = 0; i < kArrivals; ++i) {
      if (i % 10 == 0) {
        DispatchQueue::globalQueue()->async([&] { ++ran; });
      } else {
        detachThread([&] { ++ran; }, "backoff");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    cpu = processCPUSeconds() - start;
    lines = log.lines().size();
  }
  limit.lift();
  if (!waitUntil([&] { return ran.load() == kArrivals; })) {
    std::printf("%d of %d items ran once threads were given again\n", ran.load(), kArrivals);
    return 1;
  }
  // Far below a core however the arrivals go; a handful of lines for the whole episode.
  if (cpu > 0.15 || lines > 8) {
    std::printf("waiting for threads cost %.3f s of CPU and %zu log lines\n", cpu, lines);
    return 1;
  }
  std::printf("PASS (%.3f s of CPU, %zu log lines)\n", cpu, lines);
  return 0;
}

int forkedChildStartsAfresh(char** argv) {
  using namespace zv;
  testing::letForkedChildrenMakeThreads(argv);
  // Pools with idle workers at the fork.
  auto serial = DispatchQueue::createSerial("fork.serial");
  serial->sync([] {});
  std::atomic<bool> warm{false};
  DispatchQueue::globalQueue()->async([&] { warm = true; });
  if (!waitUntil([&] { return warm.load(); })) return 1;
  // A pool whose start is refused at the fork, with a job waiting for it.
  static std::atomic<bool> refuse{true};
  static auto* refusing = new WorkerPool("fork.refusing", 1, 5.0, [](std::function<void()> body, const std::string& name) {
    if (refuse) throw std::system_error(EAGAIN, std::generic_category(), "refused by the test");
    Thread::create(std::move(body), name)->start();
  });
  std::atomic<bool> inheritedRan{false};
  refusing->submit([&] { inheritedRan = true; });
  // The delayed-work thread exists at the fork.
  std::atomic<bool> delayedInParent{false};
  DispatchQueue::globalQueue()->after(0.001, [&] { delayedInParent = true; });
  if (!waitUntil([&] { return delayedInParent.load(); })) return 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);
    refuse = false;
    std::atomic<bool> serialRan{false}, globalRan{false}, submittedRan{false}, delayedRan{false};
    serial->sync([&] { serialRan = true; });
    DispatchQueue::globalQueue()->async([&] { globalRan = true; });
    refusing->submit([&] { submittedRan = true; });
    DispatchQueue::globalQueue()->after(0.001, [&] { delayedRan = true; });
    if (!waitUntil([&] { return serialRan && globalRan && submittedRan && delayedRan; })) {
      std::printf("in the forked child never ran:%s%s%s\n", globalRan ? "" : " global", submittedRan ? "" : " submitted",
                  delayedRan ? "" : " delayed");
      std::fflush(stdout);
      ::_exit(1);
    }
    // One worker, first in first out: had the parent's job come along, it would have run first.
    if (inheritedRan) {
      std::puts("the parent's queued job ran in the forked child");
      std::fflush(stdout);
      ::_exit(1);
    }
    ::_exit(0);
  }
  if (child < 0) return 77;
  refuse = false;
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) {
    std::printf("the forked child hung or died (signal %d): work submitted there never ran\n", WTERMSIG(status));
    return 1;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  if (!waitUntil([&] { return inheritedRan.load(); })) {
    std::puts("the parent's own job never ran");
    return 1;
  }
  std::puts("PASS");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "descriptors") return withFullDescriptorTable();
  if (scenario == "backoff") return refusalsWhileWorkArrives();
  if (scenario == "fork") return forkedChildStartsAfresh(argv);
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
