// Run loops: modes, run results, timers and file-descriptor sources.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/FileDescriptorSource.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace zv {
namespace {

double monotonicNow() { return Clock::current()->monotonic(); }

// How late a timer may fire before the loop counts as having slept through it. A few ms on an
// idle machine, but a busy one may keep the thread off a core for much longer: the bound only
// catches a loop that waits for the wrong date (its run limit is two seconds), never slowness.
constexpr double kTimerSlack = 1.5;

// Each test runs on its own thread so that loops left behind by one test never leak into another.
void onFreshThread(const std::function<void()>& body) {
  auto thread = Thread::detachNew(body, "test");
  ASSERT_TRUE(thread->joinFor(20.0));
}

TEST(RunLoopTest, RunReportsWhyItReturned) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    // Nothing to wait for: returns at once instead of sleeping or spinning.
    const double before = monotonicNow();
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 5.0), RunLoopRunResult::Finished);
    EXPECT_LT(monotonicNow() - before, 2.5);  // not the 5 s asked for

    loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 0.02), RunLoopRunResult::TimedOut);

    // A stop sent before the run is kept for it.
    loop->stop();
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 5.0), RunLoopRunResult::Stopped);

    std::atomic<bool> fired{false};
    auto source = RunLoopSource::create([&] { fired = true; });
    loop->addSource(source, kDefaultRunLoopMode);
    std::thread([source] { source->signal(); }).join();
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 5.0, true), RunLoopRunResult::HandledSource);
    EXPECT_TRUE(fired);

    // Stop from another thread while the loop sleeps.
    auto stopper = std::thread([loop] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      loop->stop();
    });
    EXPECT_EQ(loop->run(), RunLoopRunResult::Stopped);
    stopper.join();
    EXPECT_FALSE(loop->currentMode().has_value());
  });
}

TEST(RunLoopTest, ModesAreIsolated) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    const RunLoopMode privateMode = "PrivateTestMode";
    int privateFired = 0, defaultFired = 0, commonFired = 0;
    auto privateSource = RunLoopSource::create([&] { ++privateFired; });
    auto defaultSource = RunLoopSource::create([&] { ++defaultFired; });
    auto commonSource = RunLoopSource::create([&] { ++commonFired; });
    loop->addSource(privateSource, privateMode);
    loop->addSource(defaultSource, kDefaultRunLoopMode);
    loop->addSource(commonSource, kRunLoopCommonModes);
    privateSource->signal();
    defaultSource->signal();
    commonSource->signal();

    loop->runMode(kDefaultRunLoopMode, 0.02);
    EXPECT_EQ(privateFired, 0);
    EXPECT_EQ(defaultFired, 1);
    EXPECT_EQ(commonFired, 1);

    defaultSource->signal();
    std::optional<RunLoopMode> modeSeen;
    loop->perform([&] { modeSeen = RunLoop::current()->currentMode(); }, {privateMode});
    loop->runMode(privateMode, 0.02);
    EXPECT_EQ(privateFired, 1);
    EXPECT_EQ(defaultFired, 1);  // still pending for the default mode
    EXPECT_EQ(modeSeen, privateMode);

    // A private mode made common receives what is registered for the common modes.
    commonSource->signal();
    loop->runMode(privateMode, 0.02);
    EXPECT_EQ(commonFired, 1);
    loop->addCommonMode(privateMode);
    loop->runMode(privateMode, 0.02);
    EXPECT_EQ(commonFired, 2);

    loop->runMode(kDefaultRunLoopMode, 0.02);
    EXPECT_EQ(defaultFired, 2);
  });
}

TEST(RunLoopTest, NestedRunsStopOnlyTheInnermost) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
    loop->addSource(RunLoopSource::create(), "Inner");
    std::vector<std::string> trace;
    loop->perform([&] {
      RunLoop::current()->perform([&] { RunLoop::current()->stop(); }, {"Inner"});
      trace.push_back("inner " + std::string(runLoopRunResultName(RunLoop::current()->runMode("Inner", 5.0))));
      trace.push_back("outer mode " + RunLoop::current()->currentMode().value_or("none"));
    });
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 0.05), RunLoopRunResult::TimedOut);
    EXPECT_EQ(trace, (std::vector<std::string>{"inner Stopped", "outer mode " + std::string(kDefaultRunLoopMode)}));
  });
}

TEST(RunLoopTest, OnlyTheOwnerRunsTheLoop) {
  auto loop = RunLoop::current();
  std::thread([loop] { EXPECT_THROW(loop->runMode(kDefaultRunLoopMode, 0.01), Exception); }).join();
}

TEST(RunLoopTest, TimersFireInOrderAndOnTime) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    const double start = monotonicNow();
    std::vector<std::pair<int, double>> fired;
    for (int delayMs : {60, 20, 40, 0}) {
      loop->addTimer(Timer::create(delayMs / 1000.0, false, [&fired, delayMs, start](Timer&) {
                       fired.emplace_back(delayMs, monotonicNow() - start);
                     }),
                     kDefaultRunLoopMode);
    }
    // One-shot timers leave the loop after firing, so it runs dry once all have fired.
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 2.0), RunLoopRunResult::Finished);
    ASSERT_EQ(fired.size(), 4u);
    int previous = -1;
    for (const auto& [delayMs, at] : fired) {
      EXPECT_GT(delayMs, previous);
      previous = delayMs;
      EXPECT_GE(at, delayMs / 1000.0 - 0.001);
      EXPECT_LT(at, delayMs / 1000.0 + kTimerSlack) << "timer of " << delayMs << " ms fired late";
    }
  });
}

TEST(RunLoopTest, RepeatingTimerKeepsItsRhythmAndSkipsMissedFirings) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    std::vector<double> firings;
    auto timer = Timer::create(0.01, true, [&](Timer& t) {
      firings.push_back(monotonicNow());
      if (firings.size() == 2) std::this_thread::sleep_for(std::chrono::milliseconds(55));  // miss ~5
      if (firings.size() == 5) t.invalidate();
    });
    loop->addTimer(timer, kDefaultRunLoopMode);
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 2.0), RunLoopRunResult::Finished);
    ASSERT_EQ(firings.size(), 5u);
    EXPECT_FALSE(timer->isValid());
    // After the stall the firings go on at the multiples of the interval (60, 70, 80 ms after the
    // second), not in a burst that catches up the missed ones right after the stall (~55 ms).
    EXPECT_GE(firings[4] - firings[1], 0.075);
  });
}

TEST(RunLoopTest, TimerInvalidatedFromAnotherThreadNeverFires) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    std::atomic<int> fired{0};
    auto timer = Timer::create(0.05, false, [&](Timer&) { ++fired; });
    loop->addTimer(timer, kDefaultRunLoopMode);
    loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
    std::thread([timer] { timer->invalidate(); }).join();
    loop->runMode(kDefaultRunLoopMode, 0.1);
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(timer->isValid());
    // Moving a timer to another loop is refused.
    auto other = Timer::create(1.0, false, nullptr);
    loop->addTimer(other, kDefaultRunLoopMode);
    std::thread([other] {
      EXPECT_THROW(RunLoop::current()->addTimer(other, kDefaultRunLoopMode), Exception);
    }).join();
    other->invalidate();
  });
}

// Intervals and dates that are no numbers or endless leave the loop able to compute its wait: a
// NaN timer does not stop its loop's other timers, and such timers fire at once (NaN) or never.
TEST(RunLoopTest, NaNAndInfiniteTimersLeaveTheOtherTimersRunning) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    int nanFired = 0;
    int infiniteFired = 0;
    bool ordinaryFired = false;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    loop->addTimer(Timer::create(nan, true, [&](Timer& timer) {
      ++nanFired;
      timer.invalidate();
    }), kDefaultRunLoopMode);
    loop->addTimer(Timer::create(infinity, false, [&](Timer&) { ++infiniteFired; }), kDefaultRunLoopMode);
    auto moved = Timer::create(3600, false, [&](Timer&) { ++nanFired; });
    loop->addTimer(moved, kDefaultRunLoopMode);
    moved->setFireDate(nan);
    loop->addTimer(Timer::create(0.01, false, [&](Timer&) {
      ordinaryFired = true;
      loop->stop();
    }), kDefaultRunLoopMode);
    // Runs without a limit: only the ordinary timer's stop ends it.
    loop->run();
    EXPECT_TRUE(ordinaryFired);
    EXPECT_EQ(nanFired, 2);
    EXPECT_EQ(infiniteFired, 0);
  });
  // The delayed work of the background queues shares one thread.
  std::atomic<bool> ran{false};
  DispatchQueue::globalQueue()->after(std::numeric_limits<double>::quiet_NaN(), [] {});
  DispatchQueue::globalQueue()->after(0.01, [&ran] { ran = true; });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ran && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(ran);
}

// A timer due in this turn that an earlier callback of the same turn moves to a later date waits
// for that date.
TEST(RunLoopTest, ATimerPostponedInTheSameTurnFiresAtItsNewDate) {
  onFreshThread([] {
    auto loop = RunLoop::current();
    const double past = monotonicNow() - 1.0;
    bool postponedFired = false;
    auto postponed = Timer::createWithFireDate(past + 0.5, 0, false, [&](Timer&) { postponedFired = true; });
    auto postponing = Timer::createWithFireDate(past, 0, false,
                                                [&](Timer&) { postponed->setFireDate(monotonicNow() + 3600); });
    loop->addTimer(postponing, kDefaultRunLoopMode);
    loop->addTimer(postponed, kDefaultRunLoopMode);
    loop->runMode(kDefaultRunLoopMode, 0.05);
    EXPECT_FALSE(postponedFired);
    EXPECT_TRUE(postponed->isValid());
    postponed->invalidate();
  });
}

TEST(RunLoopTest, ManualClockDrivesTimersThroughFireDueTimers) {
  auto clock = std::make_shared<ManualClock>(100.0);
  Clock::install(clock);
  onFreshThread([clock] {
    auto loop = RunLoop::current();
    std::vector<int> fired;
    loop->addTimer(Timer::create(2.5, false, [&](Timer&) { fired.push_back(2); }), kDefaultRunLoopMode);
    loop->addTimer(Timer::create(1.0, true, [&](Timer&) { fired.push_back(1); }), kDefaultRunLoopMode);
    EXPECT_EQ(loop->fireDueTimers(), 0u);
    clock->advance(1.0);
    EXPECT_EQ(loop->fireDueTimers(), 1u);
    clock->advance(1.5);
    EXPECT_EQ(loop->fireDueTimers(), 2u);
    EXPECT_EQ(fired, (std::vector<int>{1, 1, 2}));

    // A clock moved from another thread is noticed by a sleeping loop.
    std::thread mover([clock] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      clock->advance(1.0);
    });
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 10.0, true), RunLoopRunResult::HandledSource);
    mover.join();
    EXPECT_EQ(fired.size(), 4u);
  });
  Clock::install(nullptr);
}

TEST(RunLoopTest, ExceptionsInCallbacksAreLoggedAndTheLoopGoesOn) {
  LogCapture capture;
  onFreshThread([] {
    auto loop = RunLoop::current();
    bool after = false;
    loop->perform([] { throw std::runtime_error("boom in perform"); });
    loop->addTimer(Timer::create(0, false, [](Timer&) { throw std::runtime_error("boom in timer"); }),
                   kDefaultRunLoopMode);
    loop->perform([&] { after = true; });
    loop->runMode(kDefaultRunLoopMode, 0.05);
    EXPECT_TRUE(after);
  });
  EXPECT_TRUE(capture.contains("[ERROR] Uncaught exception on run loop of thread test: boom in perform"));
  EXPECT_TRUE(capture.contains("boom in timer"));
}

TEST(RunLoopTest, DescriptorSourceFiresWhenReadableAndOnlyWhileScheduled) {
  onFreshThread([] {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    auto loop = RunLoop::current();
    std::string received;
    auto source = FileDescriptorSource::create(fds[0], kFileDescriptorReadable, [&](std::uint32_t events) {
      EXPECT_TRUE(events & kFileDescriptorReadable);
      char buffer[64];
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    });
    loop->addSource(source, kDefaultRunLoopMode);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 1.0, true), RunLoopRunResult::HandledSource);
    EXPECT_EQ(received, "abc");

    // Unscheduled: the data stays in the pipe.
    loop->removeSource(source, kDefaultRunLoopMode);
    EXPECT_FALSE(source->isScheduled());
    loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
    ASSERT_EQ(::write(fds[1], "def", 3), 3);
    loop->runMode(kDefaultRunLoopMode, 0.05);
    EXPECT_EQ(received, "abc");

    // Scheduled in a private mode only: read only while that mode runs.
    loop->addSource(source, "Reading");
    loop->runMode(kDefaultRunLoopMode, 0.03);
    EXPECT_EQ(received, "abc");
    loop->runMode("Reading", 1.0, true);
    EXPECT_EQ(received, "abcdef");

    source->invalidate();
    EXPECT_FALSE(loop->containsSource(source, "Reading"));
    ::close(fds[0]);
    ::close(fds[1]);
  });
}

TEST(RunLoopTest, SourcesUnscheduledFromAnotherThreadStopFiringWhileTheLoopRuns) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  std::atomic<int> reads{0};
  std::atomic<bool> done{false};
  auto source = FileDescriptorSource::create(fds[0], kFileDescriptorReadable, [&](std::uint32_t) {
    char buffer[64];
    while (::read(fds[0], buffer, sizeof buffer) > 0) {
    }
    ++reads;
  });
  auto loopThread = Thread::startRunLoopThread("reader");
  auto loop = loopThread->runLoop();
  loop->addSource(source, kDefaultRunLoopMode);
  ASSERT_EQ(::write(fds[1], "a", 1), 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (reads == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(reads, 0);

  loop->removeSource(source, kDefaultRunLoopMode);
  // Once a perform queued after the removal has run, the loop has seen it.
  EXPECT_TRUE(performOnThread(loopThread, [] {}, true));
  const int before = reads;
  ASSERT_EQ(::write(fds[1], "b", 1), 1);
  performOnThread(loopThread, [&] { done = true; }, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(reads, before);
  EXPECT_TRUE(done);
  loopThread->cancel();
  EXPECT_TRUE(loopThread->joinFor(5.0));
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(RunLoopTest, WritableInterestCanBeSwitchedFromAnotherThread) {
  onFreshThread([] {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    auto loop = RunLoop::current();
    int writable = 0;
    auto source = FileDescriptorSource::create(fds[1], 0, [&](std::uint32_t events) {
      if (events & kFileDescriptorWritable) ++writable;
      RunLoop::current()->stop();
    });
    loop->addSource(source, kDefaultRunLoopMode);
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 0.03), RunLoopRunResult::TimedOut);
    std::thread([source] { source->setEvents(kFileDescriptorWritable); }).join();
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 1.0), RunLoopRunResult::Stopped);
    EXPECT_EQ(writable, 1);

    // With no interest, a hung-up descriptor does not fire on every turn.
    ::close(fds[0]);
    source->setEvents(0);
    writable = 0;
    EXPECT_EQ(loop->runMode(kDefaultRunLoopMode, 0.03, true), RunLoopRunResult::TimedOut);
    EXPECT_EQ(writable, 0);
    source->invalidate();
    ::close(fds[1]);
  });
}

}  // namespace
}  // namespace zv
