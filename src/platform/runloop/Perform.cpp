#include "platform/runloop/Perform.h"

#include <algorithm>
#include <map>

#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace zv {

bool performOnRunLoop(const Ref<RunLoop>& loop, std::function<void()> work, bool waitUntilDone,
                      const PerformModes& modes) {
  if (!loop) {
    // A caller fault (a thread's loop is never null): said, never silent.
    logError("Work sent to no run loop is dropped");
    return false;
  }
  auto& impl = loop->impl();
  if (waitUntilDone && impl.isOwner()) {
    if (impl.ended.load()) return false;
    if (work) runLogged([&] { return impl.placeName(); }, work);
    return true;
  }
  std::shared_ptr<PerformWaiter> waiter;
  if (waitUntilDone) waiter = std::make_shared<PerformWaiter>();
  if (!impl.enqueue(RunLoop::Impl::Work{std::move(work), modes, waiter})) return false;
  return waiter ? waiter->wait() : true;
}

bool performOnMainThread(std::function<void()> work, bool waitUntilDone, const PerformModes& modes) {
  return performOnRunLoop(RunLoop::main(), std::move(work), waitUntilDone, modes);
}

bool performOnThread(const Ref<Thread>& thread, std::function<void()> work, bool waitUntilDone,
                     const PerformModes& modes) {
  if (!thread) return false;
  return performOnRunLoop(thread->runLoop(), std::move(work), waitUntilDone, modes);
}

namespace {
// Delayed performs of this thread's loop by target tag, for cancelPreviousPerformRequests.
thread_local std::multimap<const void*, WeakRef<Timer>> tDelayedPerforms;

void forgetFinishedPerforms() {
  std::erase_if(tDelayedPerforms, [](const auto& entry) {
    auto timer = entry.second.lock();
    return !timer || !timer->isValid();
  });
}
}  // namespace

Ref<Timer> performAfterDelay(double delay, std::function<void()> work, const PerformModes& modes, const void* target) {
  auto timer = Timer::create(delay, false, [work = std::move(work)](Timer&) { work(); });
  auto loop = RunLoop::current();
  for (const auto& mode : modes) loop->addTimer(timer, mode);
  if (target) {
    forgetFinishedPerforms();
    tDelayedPerforms.emplace(target, timer);
  }
  return timer;
}

std::size_t cancelPreviousPerformRequests(const void* target) {
  std::size_t cancelled = 0;
  auto [begin, end] = tDelayedPerforms.equal_range(target);
  std::vector<Ref<Timer>> timers;
  for (auto it = begin; it != end; ++it) {
    if (auto timer = it->second.lock(); timer && timer->isValid()) timers.push_back(std::move(timer));
  }
  tDelayedPerforms.erase(target);
  for (const auto& timer : timers) {
    timer->invalidate();
    ++cancelled;
  }
  return cancelled;
}

}  // namespace zv
