// A process that forks (without exec) in one of the ways a program may, and checks what the child
// gets: exits 0 and prints "PASS" when the child and the parent both did what they should, prints
// what went wrong and exits 1 otherwise, exits 77 when the scenario cannot run here. Every child ends
// itself after 30 s (alarm), so a hang there is a failure, never a hang of the test.
//
// Scenarios, chosen by the first argument:
//   global-job          a fork from inside a global-queue job; the child submits once that job's
//                       worker has ended idle;
//   operation-job       the same from inside an operation, with another one waiting behind it;
//   serial-item         a fork from inside a serial item with an item queued behind it; the child
//                       submits while the forking item still runs;
//   serial-item-quiet   the same, the child submitting only once the forking worker has ended;
//   foreign-threads     a child forked from a worker uses the main thread and a run-loop thread
//                       of the parent, which it does not have;
//   busy [rounds]       forks again and again while other threads keep a serial queue, the main
//                       run loop and the log busy;
//   after-without-pool  delayed work in a child of a process that has made no worker pool;
//   main-loop           a child pumps its main run loop while the parent's main thread waits for
//                       performs from another thread.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/WorkerPool.h"
#include "support/ForkChild.h"

namespace {

using namespace zv;

using testing::endChild;
using testing::passed;
using testing::sanitizedForAddresses;
using testing::waitForChild;
using testing::waitUntil;
constexpr double kPatience = testing::kForkPatience;

// Workers end soon after their last job, so the child sees the forking worker end.
void shortenIdleTime() { WorkerPool::overrideIdleSeconds(0.02); }

// In the child, on the forking worker: runs `check` on a thread of its own once this worker has
// returned from its job and ended idle, and lets the job return.
template <typename Check>
void checkOnceTheForkingWorkerEnded(Check check) {
  ::alarm(30);
  auto worker = Thread::current();
  std::thread([worker, check] {
    if (!worker->joinFor(kPatience)) endChild(false, "the forking worker never ended");
    check();
  }).detach();
}

int forkFromGlobalJob() {
  shortenIdleTime();
  std::atomic<pid_t> child{0};
  DispatchQueue::globalQueue()->async([&] {
    const pid_t pid = ::fork();
    if (pid == 0) {
      checkOnceTheForkingWorkerEnded([] {
        std::atomic<bool> ran{false};
        DispatchQueue::globalQueue()->async([&] { ran = true; });
        if (!waitUntil([&] { return ran.load(); })) endChild(false, "a job submitted after the forking worker ended never ran");
        bool synced = false;
        DispatchQueue::globalQueue()->sync([&] { synced = true; });
        endChild(synced, "sync did not run");
      });
    }
    child = pid;
  });
  if (!waitUntil([&] { return child.load() != 0; })) return 1;
  if (const int code = waitForChild(child); code != 0) return code;
  return passed();
}

std::atomic<bool> gBehindRan{false};

int forkFromOperation() {
  shortenIdleTime();
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  std::atomic<bool> behindQueued{false};
  std::atomic<pid_t> child{0};
  queue->addOperationWithBlock([&] {
    if (!waitUntil([&] { return behindQueued.load(); })) return;
    const pid_t pid = ::fork();
    if (pid == 0) {
      checkOnceTheForkingWorkerEnded([queue] {
        std::atomic<bool> ran{false};
        queue->addOperationWithBlock([&] { ran = true; });
        if (!waitUntil([&] { return ran.load(); })) endChild(false, "an operation added after the forking worker ended never ran");
        // One operation at a time, in order: had the parent's waiting one come along, it ran first.
        endChild(!gBehindRan, "the operation waiting in the parent ran in the child too");
      });
    }
    child = pid;
  });
  queue->addOperationWithBlock([] { gBehindRan = true; });
  behindQueued = true;
  if (!waitUntil([&] { return child.load() != 0; })) return 1;
  if (const int code = waitForChild(child); code != 0) return code;
  if (!waitUntil([] { return gBehindRan.load(); })) {
    std::puts("the operation waiting behind the forking one never ran in the parent");
    return 1;
  }
  return passed();
}

std::atomic<int> gInsideItem{0};
std::atomic<bool> gOverlapped{false};
std::atomic<bool> gChildItemRan{false};

int forkFromSerialItem(bool submitWhileForkingItemRuns) {
  shortenIdleTime();
  auto serial = DispatchQueue::createSerial("fork.item");
  std::atomic<bool> behindQueued{false};
  std::atomic<pid_t> child{0};
  serial->async([&, serial, submitWhileForkingItemRuns] {
    ++gInsideItem;
    if (!waitUntil([&] { return behindQueued.load(); })) return;
    const pid_t pid = ::fork();
    if (pid == 0) {
      checkOnceTheForkingWorkerEnded([serial, submitWhileForkingItemRuns] {
        bool ran = false;
        serial->sync([&] { ran = true; });
        if (!ran) endChild(false, "sync on the serial queue did not run");
        if (gBehindRan) endChild(false, "the item queued behind the forking one in the parent ran in the child too");
        if (gOverlapped) endChild(false, "an item queued in the child ran beside the forking item");
        endChild(gChildItemRan || !submitWhileForkingItemRuns, "the item queued in the child never ran");
      });
      if (submitWhileForkingItemRuns) {
        serial->async([] {
          if (gInsideItem.load() != 0) gOverlapped = true;
          gChildItemRan = true;
        });
        // Time for the new item to run beside this one, as it would on a second drain; with one
        // drain it waits for this item, and this wait ends unfulfilled.
        waitUntil([] { return gChildItemRan.load(); }, 1.0);
      }
    }
    child = pid;
    --gInsideItem;
  });
  serial->async([] { gBehindRan = true; });
  behindQueued = true;
  if (!waitUntil([&] { return child.load() != 0; })) return 1;
  if (const int code = waitForChild(child); code != 0) return code;
  if (!waitUntil([] { return gBehindRan.load(); })) {
    std::puts("the item behind the forking one never ran in the parent");
    return 1;
  }
  return passed();
}

int forkWithoutTheParentsThreads() {
  shortenIdleTime();
  auto loopThread = Thread::startRunLoopThread("fork.loop");
  std::atomic<bool> loopThreadRuns{false};
  performOnThread(loopThread, [&] { loopThreadRuns = true; }, true);
  std::atomic<pid_t> child{0};
  DispatchQueue::globalQueue()->async([&] {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(30);
      // Neither the main thread nor the run-loop thread exists here: work sent to them is
      // refused at once and said so, and waiting for it never hangs.
      LogCapture log;
      if (performOnMainThread([] {}, true)) endChild(false, "work sent to the main thread it lacks reports that it ran");
      if (performOnThread(loopThread, [] {}, true)) endChild(false, "work sent to a thread it lacks reports that it ran");
      DispatchQueue::mainQueue()->sync([] {});
      if (!loopThread->joinFor(kPatience)) endChild(false, "joining a thread of the parent hangs");
      endChild(log.contains("does not have that thread"), "dropped work went unsaid");
    }
    child = pid;
  });
  if (!waitUntil([&] { return child.load() != 0; })) return 1;
  if (const int code = waitForChild(child); code != 0) return code;
  std::atomic<bool> stillRuns{false};
  if (!performOnThread(loopThread, [&] { stillRuns = true; }, true) || !stillRuns) {
    std::puts("the parent's run-loop thread stopped taking work");
    return 1;
  }
  return passed();
}

using testing::notWithTheAddressChecker;

int forkWhileBusy(int rounds) {
  if (sanitizedForAddresses()) return notWithTheAddressChecker();
  setLogSink([](std::string_view) {});
  auto serial = DispatchQueue::createSerial("fork.busy");
  auto mainLoop = RunLoop::main();
  std::atomic<bool> stop{false};
  std::atomic<int> pendingOnMain{0};
  std::atomic<int> feeding{2};
  // Detached, as the platform's own threads are: the thread checker cannot tell a joinable
  // thread of the parent from a new one of the child that reuses its stack.
  std::thread([&] {
    for (unsigned n = 0; !stop; ++n) {
      serial->async([] {});
      if (n % 64 == 0) serial->sync([] { logDebug("serial"); });
    }
    --feeding;
  }).detach();
  std::thread([&] {
    while (!stop) {
      if (pendingOnMain.load() > 256) {
        std::this_thread::yield();
        continue;
      }
      ++pendingOnMain;
      performOnMainThread([&] { --pendingOnMain; }, false);
      logDebug("main");
    }
    --feeding;
  }).detach();
  int failures = 0;
  for (int round = 0; round < rounds && failures == 0; ++round) {
    mainLoop->runMode(kDefaultRunLoopMode, 0.002);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(30);
      bool serialRan = false;
      serial->sync([&] { serialRan = true; });
      logDebug("in the child");
      bool mainRan = false, mainQueueRan = false;
      std::atomic<bool> globalRan{false};
      performOnMainThread([&] { mainRan = true; }, false);
      DispatchQueue::mainQueue()->async([&] { mainQueueRan = true; });
      DispatchQueue::globalQueue()->async([&] { globalRan = true; });
      const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPatience);
      while (!(mainRan && mainQueueRan) && std::chrono::steady_clock::now() < end) {
        mainLoop->runMode(kDefaultRunLoopMode, 0.01);
      }
      endChild(serialRan && mainRan && mainQueueRan && waitUntil([&] { return globalRan.load(); }),
               "work sent in the child never ran");
    }
    if (waitForChild(pid) != 0) {
      std::printf("round %d of %d failed\n", round + 1, rounds);
      ++failures;
    }
  }
  stop = true;
  while (feeding.load() > 0) mainLoop->runMode(kDefaultRunLoopMode, 0.002);
  return failures == 0 ? passed() : 1;
}

int afterWithoutPool() {
  // The fork comes while the delayed-work thread may still be starting up.
  if (sanitizedForAddresses()) return notWithTheAddressChecker();
  // The delayed-work thread exists at the fork, no worker pool does.
  DispatchQueue::globalQueue()->after(3600, [] {});
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(30);
    std::atomic<bool> ran{false};
    DispatchQueue::globalQueue()->after(0.001, [&] { ran = true; });
    endChild(waitUntil([&] { return ran.load(); }), "delayed work never ran");
  }
  if (const int code = waitForChild(pid); code != 0) return code;
  return passed();
}

int childPumpsMainLoop() {
  auto mainLoop = RunLoop::main();
  // The loop never runs dry: a run waits for a wake-up however long it takes.
  mainLoop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(30);
    std::atomic<int> fired{0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < end) {
      DispatchQueue::mainQueue()->after(0.001, [&] { ++fired; });
      mainLoop->runMode(kDefaultRunLoopMode, 0.005);
    }
    endChild(fired.load() > 0, "the child's own delayed main-queue work never ran");
  }
  if (pid < 0) return 77;
  // Meanwhile another thread sends performs one at a time, and the main thread waits for each.
  constexpr int kPerforms = 300;
  std::atomic<int> ran{0};
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    for (int i = 0; i < kPerforms && !stop; ++i) {
      performOnMainThread([&] { ++ran; }, false);
      waitUntil([&] { return ran.load() > i || stop.load(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  bool deaf = false;
  while (ran.load() < kPerforms) {
    if (mainLoop->runMode(kDefaultRunLoopMode, kPatience, true) == RunLoopRunResult::TimedOut) {
      deaf = true;
      break;
    }
  }
  stop = true;
  sender.join();
  const int code = waitForChild(pid);
  if (deaf) {
    std::printf("the parent's main thread was not woken for a perform (%d of %d ran)\n", ran.load(), kPerforms);
    return 1;
  }
  return code == 0 ? passed() : code;
}

}  // namespace

int main(int argc, char** argv) {
  testing::letForkedChildrenMakeThreads(argv);
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "global-job") return forkFromGlobalJob();
  if (scenario == "operation-job") return forkFromOperation();
  if (scenario == "serial-item") return forkFromSerialItem(true);
  if (scenario == "serial-item-quiet") return forkFromSerialItem(false);
  if (scenario == "foreign-threads") return forkWithoutTheParentsThreads();
  if (scenario == "busy") return forkWhileBusy(argc > 2 ? std::atoi(argv[2]) : 20);
  if (scenario == "after-without-pool") return afterWithoutPool();
  if (scenario == "main-loop") return childPumpsMainLoop();
  std::printf("unknown scenario %s\n", scenario.c_str());
  return 2;
}
