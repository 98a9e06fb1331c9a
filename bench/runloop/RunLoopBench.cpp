// Hand-off costs of the run loop against a plain condition-variable hand-off between two threads.
// Each benchmark is one round trip: the sender hands work to a waiting thread and waits until it
// has run there.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace {

using namespace zv;

// The reference: one worker thread waiting on a condition variable for a task.
class ConditionVariableWorker {
 public:
  ConditionVariableWorker() : thread_([this] { serve(); }) {}
  ~ConditionVariableWorker() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  void runAndWait(const std::function<void()>& task) {
    std::unique_lock lock(mutex_);
    task_ = task;
    done_ = false;
    wake_.notify_one();
    finished_.wait(lock, [this] { return done_; });
  }

 private:
  void serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || task_; });
      if (quit_) return;
      auto task = std::move(task_);
      task_ = nullptr;
      lock.unlock();
      task();
      lock.lock();
      done_ = true;
      finished_.notify_one();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::function<void()> task_;
  bool done_ = false;
  bool quit_ = false;
  std::thread thread_;
};

void BM_ConditionVariableHandOff(benchmark::State& state) {
  ConditionVariableWorker worker;
  int counter = 0;
  for (auto _ : state) worker.runAndWait([&] { ++counter; });
  benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_ConditionVariableHandOff)->UseRealTime();

// A thread made the main thread, running the main run loop for ever.
Ref<Thread> startMainLoopThread() {
  std::mutex mutex;
  std::condition_variable ready;
  bool isReady = false;
  auto thread = Thread::detachNew([&] {
    RunLoop::setMainThreadToCurrent();
    auto loop = RunLoop::current();
    loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
    {
      std::lock_guard lock(mutex);
      isReady = true;
    }
    ready.notify_one();
    while (!Thread::current()->isCancelled()) loop->run();
  }, "bench-main");
  std::unique_lock lock(mutex);
  ready.wait(lock, [&] { return isReady; });
  return thread;
}

void BM_PerformOnMainThreadWaiting(benchmark::State& state) {
  auto mainThread = startMainLoopThread();
  int counter = 0;
  for (auto _ : state) performOnMainThread([&] { ++counter; }, true);
  benchmark::DoNotOptimize(counter);
  mainThread->cancel();
  mainThread->join();
}
BENCHMARK(BM_PerformOnMainThreadWaiting)->UseRealTime();

// A zero-delay timer added from another thread to a loop thread, and the wait for its firing.
void BM_TimerFiredOnLoopThread(benchmark::State& state) {
  auto loopThread = Thread::startRunLoopThread("bench-timers");
  auto loop = loopThread->runLoop();
  std::mutex mutex;
  std::condition_variable fired;
  bool hasFired = false;
  for (auto _ : state) {
    {
      std::lock_guard lock(mutex);
      hasFired = false;
    }
    loop->addTimer(Timer::create(0.0, false, [&](Timer&) {
                     std::lock_guard lock(mutex);
                     hasFired = true;
                     fired.notify_one();
                   }),
                   kDefaultRunLoopMode);
    std::unique_lock lock(mutex);
    fired.wait(lock, [&] { return hasFired; });
  }
  loopThread->cancel();
  loopThread->join();
}
BENCHMARK(BM_TimerFiredOnLoopThread)->UseRealTime();

// The loop's own cost of dispatching a due timer, on one thread: add it and run one turn.
void BM_TimerDispatchSameThread(benchmark::State& state) {
  auto loop = RunLoop::current();
  int counter = 0;
  for (auto _ : state) {
    loop->addTimer(Timer::create(0.0, false, [&](Timer&) { ++counter; }), kDefaultRunLoopMode);
    loop->runMode(kDefaultRunLoopMode, 1.0, true);
  }
  benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_TimerDispatchSameThread);

}  // namespace

BENCHMARK_MAIN();
