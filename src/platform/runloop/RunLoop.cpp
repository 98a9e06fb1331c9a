#include "platform/runloop/RunLoop.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoopImpl.h"

namespace zv {

namespace {

// 0 until a thread makes itself the main thread; then that thread's id (-1 in a forked child
// that has no main thread: one forked from another thread).
std::atomic<pid_t> gMainThreadId{0};
// Never destroyed: threads may still ask for the main loop while the process exits.
Ref<RunLoop>* gMainLoop = new Ref<RunLoop>();

// The calling thread's kernel id, 0 until first asked for; made anew in a forked child.
thread_local pid_t tThreadId = 0;

// The forking thread's id and the process id in the parent, noted while a fork is prepared.
pid_t gForkingThreadParentId = 0;
pid_t gForkParentProcessId = 0;

// In a forked child, with every fork lock held: the forking thread gets the child's id for it,
// and stays the main thread when it was one.
void refreshThreadIdsInForkedChild() {
  const pid_t parentId = gForkingThreadParentId;
  tThreadId = static_cast<pid_t>(::syscall(SYS_gettid));
  const pid_t chosen = gMainThreadId.load();
  if (chosen == 0) {
    // The process's first thread is main: the child's first thread is the forking one.
    if (parentId != gForkParentProcessId) gMainThreadId.store(-1);
  } else {
    gMainThreadId.store(chosen == parentId ? tThreadId : -1);
  }
}

std::mutex& mainMutex() {
  static std::mutex& mutex = *[] {
    auto* made = new std::mutex;
    joinForkHandlers(
        ForkLockLevel::MainRunLoopSlot,
        [made] {
          made->lock();
          gForkingThreadParentId = currentThreadId();
          gForkParentProcessId = ::getpid();
        },
        [made] { made->unlock(); }, refreshThreadIdsInForkedChild, [made] { made->unlock(); });
    return made;
  }();
  return mutex;
}
// Joins the fork handlers when the program starts: every run loop's child handler needs the ids.
[[maybe_unused]] const bool gMainMutexMade = (mainMutex(), true);

pid_t mainThreadId() {
  const pid_t chosen = gMainThreadId.load();
  return chosen != 0 ? chosen : ::getpid();
}

// Marks the thread's loop ended when the thread goes away.
struct LoopHolder {
  Ref<RunLoop> loop;
  ~LoopHolder() {
    if (loop) loop->impl().markEnded();
  }
};
thread_local LoopHolder tLoop;

// Loops that do not sleep longer than this while time comes from a clock that may be moved by
// hand from another thread.
constexpr int kManualClockPollMilliseconds = 10;

bool isSystemClock(const Clock& clock) { return dynamic_cast<const SystemClock*>(&clock) != nullptr; }

}  // namespace

pid_t currentThreadId() {
  if (tThreadId == 0) tThreadId = static_cast<pid_t>(::syscall(SYS_gettid));
  return tThreadId;
}

void logUncaughtException(const std::string& place, const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    logError("Uncaught exception on " + place + ": " + e.what());
  } catch (...) {
    logError("Uncaught exception on " + place + ": unknown exception");
  }
}

void PerformWaiter::complete(bool didRun) {
  {
    std::lock_guard lock(mutex);
    done = true;
    ran = didRun;
  }
  condition.notify_all();
}

bool PerformWaiter::wait() {
  std::unique_lock lock(mutex);
  condition.wait(lock, [this] { return done; });
  return ran;
}

const char* runLoopRunResultName(RunLoopRunResult result) {
  switch (result) {
    case RunLoopRunResult::Finished: return "Finished";
    case RunLoopRunResult::Stopped: return "Stopped";
    case RunLoopRunResult::TimedOut: return "TimedOut";
    case RunLoopRunResult::HandledSource: return "HandledSource";
  }
  return "?";
}

// --- Impl ---

namespace {
std::uint32_t epollEventsFor(std::uint32_t events) {
  std::uint32_t result = 0;
  if (events & kFileDescriptorReadable) result |= EPOLLIN | EPOLLRDHUP;
  if (events & kFileDescriptorWritable) result |= EPOLLOUT;
  return result;
}
}  // namespace


RunLoop::Impl::Impl() {
  commonModes.insert(kDefaultRunLoopMode);
  mutex.onChildAfterFork([this] { startAfreshInForkedChild(); });
}

RunLoop::Impl::~Impl() {
  mutex.leaveForks();
  for (auto& [name, mode] : modes) {
    if (mode.epollFd >= 0) ::close(mode.epollFd);
  }
  if (wakeFd.load() >= 0) ::close(wakeFd.load());
}

void RunLoop::Impl::openDescriptors() {
  std::lock_guard lock(mutex);
  if (wakeFd.load() < 0) {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create the run loop's eventfd");
    wakeFd.store(fd);
  }
  for (auto& [name, mode] : modes) openModeLocked(mode);
}

void RunLoop::Impl::openModeLocked(Mode& mode) {
  if (mode.epollFd >= 0 || wakeFd.load() < 0) return;
  const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) throw std::system_error(errno, std::generic_category(), "cannot create an epoll instance");
  mode.epollFd = epollFd;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = 0;
  ::epoll_ctl(mode.epollFd, EPOLL_CTL_ADD, wakeFd.load(), &event);
  // Sources scheduled before the loop had its descriptors.
  for (const auto& source : mode.sources) {
    auto descriptor = std::dynamic_pointer_cast<FileDescriptorSource>(source);
    auto id = mode.descriptorIds.find(source.get());
    if (!descriptor || id == mode.descriptorIds.end()) continue;
    epoll_event interest{};
    interest.events = epollEventsFor(descriptor->events());
    interest.data.u64 = id->second;
    if (interest.events != 0) ::epoll_ctl(mode.epollFd, EPOLL_CTL_ADD, descriptor->fileDescriptor(), &interest);
  }
}

void RunLoop::Impl::startAfreshInForkedChild() {
  // What the parent's threads sent or set up is theirs: forgotten, neither run nor destroyed.
  new std::deque<Work>(std::move(queue));
  queue.clear();
  wakePending.store(false);
  waiting.store(false);
  if (wakeFd.load() >= 0) ::close(wakeFd.load());
  wakeFd.store(-1);
  for (auto& [name, mode] : modes) {
    if (mode.epollFd >= 0) ::close(mode.epollFd);
    mode.epollFd = -1;
  }
  const pid_t owner = ownerThreadId.load();
  const bool forkingThreadOwnsIt = owner != 0 && owner == gForkingThreadParentId && !endedByFork.load();
  // A loop whose thread has not started (its Thread would have marked it otherwise): the child may
  // start that thread, which then makes the loop's descriptors.
  const bool pending = owner == 0 && !endedByFork.load();
  auto forget = [](auto& list, auto&& which) {
    auto* forgotten = new std::remove_reference_t<decltype(list)>;
    for (auto it = list.begin(); it != list.end();) {
      if (which(*it)) {
        forgotten->push_back(std::move(*it));
        it = list.erase(it);
      } else {
        ++it;
      }
    }
  };
  auto all = [](const auto&) { return true; };
  // A descriptor is the parent's as much as the child's: reading it here would take the parent's
  // data. Other sources (signalled ones, keep-alive ones) stay.
  const bool keepsOtherSources = forkingThreadOwnsIt || pending;
  auto descriptors = [keepsOtherSources](const Ref<RunLoopSource>& source) {
    return !keepsOtherSources || std::dynamic_pointer_cast<FileDescriptorSource>(source) != nullptr;
  };
  forget(commonTimers, all);
  forget(commonSources, descriptors);
  for (auto& entry : modes) {
    Mode& mode = entry.second;
    forget(mode.timers, all);
    forget(mode.sources, descriptors);
    std::erase_if(mode.descriptorIds, [&](const auto& entry) {
      return std::none_of(mode.sources.begin(), mode.sources.end(),
                          [&](const Ref<RunLoopSource>& source) { return source.get() == entry.first; });
    });
  }
  if (forkingThreadOwnsIt) {
    ownerThreadId.store(currentThreadId());
    // New descriptors, so the parent's wake-ups stay the parent's. Opened here, while no other
    // thread can send anything, rather than at the next turn.
    try {
      const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
      if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
      wakeFd.store(fd);
      for (auto& [name, mode] : modes) openModeLocked(mode);
      return;
    } catch (const std::exception&) {
      // Out of descriptors: the loop cannot wait in the child, so it fails at once (below).
    }
  } else if (pending) {
    return;
  } else {
    // The thread that ran it (or was about to) does not exist here.
    frames.clear();
  }
  ended.store(true);
  endedByFork.store(true);
}

RunLoop::Impl::Mode& RunLoop::Impl::modeLocked(const RunLoopMode& name) {
  Mode& mode = modes[name];
  openModeLocked(mode);
  return mode;
}

bool RunLoop::Impl::matchesLocked(const std::vector<RunLoopMode>& workModes, const RunLoopMode& mode) const {
  for (const auto& m : workModes) {
    if (m == mode) return true;
    if (m == kRunLoopCommonModes && commonModes.count(mode)) return true;
  }
  return false;
}

bool RunLoop::Impl::hasWorkLocked(const RunLoopMode& mode) const {
  for (const auto& work : queue) {
    if (matchesLocked(work.modes, mode)) return true;
  }
  auto it = modes.find(mode);
  if (it == modes.end()) return false;
  if (!it->second.sources.empty()) return true;
  return std::any_of(it->second.timers.begin(), it->second.timers.end(),
                     [](const Ref<Timer>& timer) { return timer->isValid(); });
}

void RunLoop::Impl::addSourceToModeLocked(const Ref<RunLoop>& loop, const Ref<RunLoopSource>& source,
                                          const RunLoopMode& modeName) {
  if (modeName == kRunLoopCommonModes) {
    if (std::find(commonSources.begin(), commonSources.end(), source) != commonSources.end()) return;
    commonSources.push_back(source);
    for (const auto& common : commonModes) addSourceToModeLocked(loop, source, common);
    return;
  }
  Mode& mode = modeLocked(modeName);
  if (std::find(mode.sources.begin(), mode.sources.end(), source) != mode.sources.end()) return;
  mode.sources.push_back(source);
  source->attach(loop);
  if (auto descriptor = std::dynamic_pointer_cast<FileDescriptorSource>(source)) {
    const std::uint64_t id = nextDescriptorId++;
    epoll_event event{};
    event.events = epollEventsFor(descriptor->events());
    event.data.u64 = id;
    // With no interest the descriptor stays out of the set: the kernel would still report a
    // hang-up, level-triggered, on every turn.
    if (event.events != 0 && mode.epollFd >= 0 &&
        ::epoll_ctl(mode.epollFd, EPOLL_CTL_ADD, descriptor->fileDescriptor(), &event) != 0) {
      logError("Cannot poll file descriptor " + std::to_string(descriptor->fileDescriptor()) + " in run-loop mode " +
               modeName + ": " + std::to_string(errno));
    }
    mode.descriptorIds[source.get()] = id;
  }
}

void RunLoop::Impl::removeSourceFromModeLocked(const RunLoopSource* source, const RunLoopMode& modeName) {
  if (modeName == kRunLoopCommonModes) {
    auto it = std::find_if(commonSources.begin(), commonSources.end(),
                           [&](const Ref<RunLoopSource>& s) { return s.get() == source; });
    if (it == commonSources.end()) return;
    commonSources.erase(it);
    for (const auto& common : commonModes) removeSourceFromModeLocked(source, common);
    return;
  }
  auto modeIt = modes.find(modeName);
  if (modeIt == modes.end()) return;
  Mode& mode = modeIt->second;
  auto it = std::find_if(mode.sources.begin(), mode.sources.end(),
                         [&](const Ref<RunLoopSource>& s) { return s.get() == source; });
  if (it == mode.sources.end()) return;
  if (auto descriptor = dynamic_cast<const FileDescriptorSource*>(source)) {
    // The descriptor may already be closed (the kernel then dropped it from the set): ignore.
    if (mode.epollFd >= 0) ::epoll_ctl(mode.epollFd, EPOLL_CTL_DEL, descriptor->fileDescriptor(), nullptr);
    mode.descriptorIds.erase(source);
  }
  (*it)->detach(owner);
  mode.sources.erase(it);
}

void RunLoop::Impl::addTimerToModeLocked(const Ref<Timer>& timer, const RunLoopMode& modeName) {
  if (modeName == kRunLoopCommonModes) {
    if (std::find(commonTimers.begin(), commonTimers.end(), timer) != commonTimers.end()) return;
    commonTimers.push_back(timer);
    for (const auto& common : commonModes) addTimerToModeLocked(timer, common);
    return;
  }
  Mode& mode = modeLocked(modeName);
  if (std::find(mode.timers.begin(), mode.timers.end(), timer) == mode.timers.end()) mode.timers.push_back(timer);
}

void RunLoop::Impl::wake() {
  // The owner is not waiting while it runs this; it re-checks everything before it next waits.
  if (isOwner()) return;
  // Without descriptors no thread runs the loop yet; its first turn reads everything.
  const int fd = wakeFd.load();
  if (fd < 0) return;
  // A burst of performs costs one write and one wake-up of the owner.
  if (wakePending.exchange(true)) return;
  const std::uint64_t one = 1;
  ssize_t written;
  do {
    written = ::write(fd, &one, sizeof one);
  } while (written < 0 && errno == EINTR);
}

void RunLoop::Impl::drainWakeUps() {
  // One read takes the whole count of an eventfd and resets it.
  std::uint64_t value;
  ssize_t got;
  do {
    got = ::read(wakeFd.load(), &value, sizeof value);
  } while (got < 0 && errno == EINTR);
  wakePending.store(false);
}

void RunLoop::Impl::waitForWakeUp(double seconds) {
  pollfd descriptor{wakeFd.load(), POLLIN, 0};
  const double whole = std::floor(std::max(0.0, seconds));
  const timespec limit{static_cast<time_t>(whole), static_cast<long>((std::max(0.0, seconds) - whole) * 1e9)};
  waiting.store(true);
  const int count = ::ppoll(&descriptor, 1, &limit, nullptr);
  waiting.store(false);
  if (count > 0) drainWakeUps();
}

void RunLoop::Impl::removeTimer(const Timer* timer) {
  std::vector<Ref<Timer>> released;
  {
    std::lock_guard lock(mutex);
    auto drop = [&](std::vector<Ref<Timer>>& timers) {
      for (auto it = timers.begin(); it != timers.end();) {
        if (it->get() == timer) {
          released.push_back(std::move(*it));
          it = timers.erase(it);
        } else {
          ++it;
        }
      }
    };
    drop(commonTimers);
    for (auto& [name, mode] : modes) drop(mode.timers);
  }
}

void RunLoop::Impl::updateDescriptorEvents(const FileDescriptorSource* source) {
  std::lock_guard lock(mutex);
  for (auto& [name, mode] : modes) {
    auto it = mode.descriptorIds.find(source);
    if (it == mode.descriptorIds.end()) continue;
    epoll_event event{};
    event.events = epollEventsFor(source->events());
    event.data.u64 = it->second;
    if (mode.epollFd < 0) {
      continue;  // registered with its events once the loop has its descriptors
    } else if (event.events == 0) {
      ::epoll_ctl(mode.epollFd, EPOLL_CTL_DEL, source->fileDescriptor(), nullptr);
    } else if (::epoll_ctl(mode.epollFd, EPOLL_CTL_MOD, source->fileDescriptor(), &event) != 0 && errno == ENOENT) {
      ::epoll_ctl(mode.epollFd, EPOLL_CTL_ADD, source->fileDescriptor(), &event);
    }
  }
}

bool RunLoop::Impl::enqueue(Work work) {
  bool queued = false;
  {
    std::lock_guard lock(mutex);
    if (!ended.load()) {
      queue.push_back(std::move(work));
      queued = true;
    }
  }
  if (!queued) {
    if (endedByFork.load() && !reportedDropAfterFork.exchange(true)) {
      logError("Work sent to the " + placeName() + " is dropped: this process was forked from another thread and "
               "does not have that thread");
    }
    return false;
  }
  wake();
  return true;
}

std::string RunLoop::Impl::placeName() const {
  std::lock_guard lock(mutex);
  return "run loop of thread " + threadName;
}

bool RunLoop::Impl::isOwner() const { return ownerThreadId.load() == currentThreadId(); }

void RunLoop::Impl::checkOwner(const char* operation) const {
  if (!isOwner()) {
    Exception::raise(kInternalInconsistencyException,
                     std::string(operation) + " called on a thread that does not own the run loop");
  }
}

RunLoop::Impl::Turn RunLoop::Impl::takeTurn(const RunLoopMode& modeName, double now) {
  Turn turn;
  std::lock_guard lock(mutex);
  for (auto it = queue.begin(); it != queue.end();) {
    if (matchesLocked(it->modes, modeName)) {
      turn.work.push_back(std::move(*it));
      it = queue.erase(it);
    } else {
      ++it;
    }
  }
  Mode& mode = modeLocked(modeName);
  turn.epollFd = mode.epollFd;
  for (const auto& timer : mode.timers) {
    if (!timer->isValid()) continue;
    const double date = timer->fireDate();
    if (date <= now) turn.dueTimers.push_back(timer);
    if (!turn.hasTimer || date < turn.nextTimerDate) turn.nextTimerDate = date;
    turn.hasTimer = true;
  }
  for (const auto& source : mode.sources) {
    if (source->isSignalled()) turn.signalledSources.push_back(source);
  }
  turn.hasWork = !turn.work.empty() || turn.hasTimer || !mode.sources.empty();
  return turn;
}

bool RunLoop::Impl::runWork(std::vector<Work>& batch) {
  for (auto& work : batch) {
    if (work.work) runLogged([this] { return placeName(); }, work.work);
    if (work.waiter) work.waiter->complete(true);
  }
  return !batch.empty();
}

std::size_t RunLoop::Impl::fireTimers(const std::vector<Ref<Timer>>& dueTimers, const Clock& clock) {
  auto due = dueTimers;
  std::stable_sort(due.begin(), due.end(),
                   [](const Ref<Timer>& a, const Ref<Timer>& b) { return a->fireDate() < b->fireDate(); });
  std::size_t fired = 0;
  for (const auto& timer : due) {
    if (!timer->isValid()) continue;
    const double date = timer->fireDate();
    // An earlier callback of this turn may have moved it to a later date.
    if (date > clock.monotonic()) continue;
    timer->fire();
    ++fired;
    // Measured after the callback, so that a slow callback does not leave a date in the past.
    if (timer->isValid() && timer->repeats() && timer->fireDate() == date) {
      timer->advanceAfterFiring(clock.monotonic());
    }
  }
  return fired;
}

std::size_t RunLoop::Impl::fireDueTimers(const RunLoopMode& modeName) {
  const auto clock = Clock::current();
  std::vector<Ref<Timer>> due;
  {
    const double now = clock->monotonic();
    std::lock_guard lock(mutex);
    auto it = modes.find(modeName);
    if (it == modes.end()) return 0;
    for (const auto& timer : it->second.timers) {
      if (timer->isValid() && timer->fireDate() <= now) due.push_back(timer);
    }
  }
  return fireTimers(due, *clock);
}

bool RunLoop::Impl::performSources(const std::vector<Ref<RunLoopSource>>& sources) {
  bool performed = false;
  for (const auto& source : sources) {
    if (!source->isValid() || !source->consumeSignal()) continue;
    runLogged([this] { return placeName(); }, [&] { source->perform(); });
    performed = true;
  }
  return performed;
}

bool RunLoop::Impl::waitAndDispatch(const RunLoopMode& modeName, int epollFd, int timeoutMilliseconds) {
  constexpr int kMaxEvents = 32;
  epoll_event events[kMaxEvents];
  waiting.store(true);
  const int count = ::epoll_wait(epollFd, events, kMaxEvents, timeoutMilliseconds);
  waiting.store(false);
  if (count <= 0) return false;
  std::vector<std::pair<Ref<FileDescriptorSource>, std::uint32_t>> ready;
  bool sawDescriptor = false;
  for (int i = 0; i < count; ++i) {
    if (events[i].data.u64 == 0) {
      drainWakeUps();
    } else {
      sawDescriptor = true;
    }
  }
  if (!sawDescriptor) return false;
  {
    std::lock_guard lock(mutex);
    auto& mode = modes[modeName];
    for (int i = 0; i < count; ++i) {
      const std::uint64_t id = events[i].data.u64;
      if (id == 0) continue;
      for (const auto& [source, sourceId] : mode.descriptorIds) {
        if (sourceId != id) continue;
        for (const auto& scheduled : mode.sources) {
          if (scheduled.get() != source) continue;
          std::uint32_t mask = 0;
          const std::uint32_t e = events[i].events;
          if (e & (EPOLLIN | EPOLLRDHUP)) mask |= kFileDescriptorReadable;
          if (e & EPOLLOUT) mask |= kFileDescriptorWritable;
          if (e & EPOLLERR) mask |= kFileDescriptorError;
          if (e & EPOLLHUP) mask |= kFileDescriptorHangUp;
          ready.emplace_back(std::static_pointer_cast<FileDescriptorSource>(scheduled), mask);
        }
      }
    }
  }
  bool dispatched = false;
  for (const auto& entry : ready) {
    const auto& source = entry.first;
    const auto mask = entry.second;
    // An earlier handler of this batch may have unscheduled or invalidated it.
    if (!source->isValid()) continue;
    {
      std::lock_guard lock(mutex);
      if (!modes[modeName].descriptorIds.count(source.get())) continue;
    }
    runLogged([this] { return placeName(); }, [&] { source->performEvents(mask); });
    dispatched = true;
  }
  return dispatched;
}

void RunLoop::Impl::markEnded() {
  std::deque<Work> dropped;
  std::vector<Ref<RunLoopSource>> sources;
  std::vector<Ref<Timer>> timers;
  {
    std::lock_guard lock(mutex);
    if (ended.exchange(true)) return;
    dropped.swap(queue);
    for (auto& [name, mode] : modes) {
      for (auto& source : mode.sources) {
        auto descriptor = std::dynamic_pointer_cast<FileDescriptorSource>(source);
        if (descriptor && mode.epollFd >= 0) {
          ::epoll_ctl(mode.epollFd, EPOLL_CTL_DEL, descriptor->fileDescriptor(), nullptr);
        }
        sources.push_back(std::move(source));
      }
      mode.sources.clear();
      mode.descriptorIds.clear();
      for (auto& timer : mode.timers) timers.push_back(std::move(timer));
      mode.timers.clear();
    }
    for (auto& source : commonSources) sources.push_back(std::move(source));
    commonSources.clear();
    for (auto& timer : commonTimers) timers.push_back(std::move(timer));
    commonTimers.clear();
  }
  for (auto& work : dropped) {
    if (work.waiter) work.waiter->complete(false);
  }
  for (auto& source : sources) source->detachAll(owner);
  for (auto& timer : timers) timer->unbind();
}

// --- Creating and finding loops ---

Ref<RunLoop> makePendingRunLoop(const std::string& threadName) {
  auto impl = std::make_unique<RunLoop::Impl>();
  impl->threadName = threadName;
  return std::make_shared<RunLoop>(std::move(impl));
}

Ref<RunLoop> makeRunLoop(const std::string& threadName) {
  auto loop = makePendingRunLoop(threadName);
  loop->impl().openDescriptors();
  return loop;
}

void bindRunLoopToCurrentThread(const Ref<RunLoop>& loop) {
  loop->impl().ownerThreadId.store(currentThreadId());
  tLoop.loop = loop;
}

Ref<RunLoop> currentRunLoopIfExists() { return tLoop.loop; }

RunLoop::RunLoop(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) { impl_->owner = this; }

RunLoop::~RunLoop() = default;

Ref<RunLoop> RunLoop::current() {
  if (tLoop.loop) return tLoop.loop;
  const pid_t self = currentThreadId();
  if (self == mainThreadId()) {
    tLoop.loop = main();
    return tLoop.loop;
  }
  auto loop = makeRunLoop("thread " + std::to_string(self));
  bindRunLoopToCurrentThread(loop);
  return loop;
}

Ref<RunLoop> RunLoop::main() {
  std::lock_guard lock(mainMutex());
  if (!*gMainLoop) {
    *gMainLoop = makeRunLoop("main");
    (*gMainLoop)->impl_->ownerThreadId.store(mainThreadId());
    if (mainThreadId() < 0) {
      // A forked child without a main thread: no thread would ever run the loop.
      (*gMainLoop)->impl_->endedByFork.store(true);
      (*gMainLoop)->impl_->ended.store(true);
    }
  }
  return *gMainLoop;
}

void RunLoop::setMainThreadToCurrent() {
  const pid_t self = currentThreadId();
  gMainThreadId.store(self);
  std::lock_guard lock(mainMutex());
  if (*gMainLoop && (*gMainLoop)->impl_->ownerThreadId.load() == self) return;
  if (!tLoop.loop) bindRunLoopToCurrentThread(makeRunLoop("main"));
  {
    std::lock_guard loopLock(tLoop.loop->impl_->mutex);
    tLoop.loop->impl_->threadName = "main";
  }
  *gMainLoop = tLoop.loop;
}

bool RunLoop::isMainThread() { return currentThreadId() == mainThreadId(); }

// --- Running ---

RunLoopRunResult RunLoop::run() { return runMode(kDefaultRunLoopMode, kRunLoopForever, false); }

RunLoopRunResult RunLoop::runMode(const RunLoopMode& mode, double seconds, bool returnAfterSourceHandled) {
  impl_->checkOwner("runMode");
  if (mode == kRunLoopCommonModes) return RunLoopRunResult::Finished;
  auto keepAlive = self();
  const auto clock = Clock::current();
  const bool forever = !(seconds < kRunLoopForever / 2);
  const double deadline = clock->monotonic() + std::max(0.0, forever ? 0.0 : seconds);
  const bool manualClock = !isSystemClock(*clock);

  Impl::Frame frame{mode};
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->ended.load()) return RunLoopRunResult::Finished;
    if (impl_->pendingStop) {
      impl_->pendingStop = false;
      return RunLoopRunResult::Stopped;
    }
    if (!impl_->hasWorkLocked(mode)) return RunLoopRunResult::Finished;
    impl_->frames.push_back(&frame);
  }
  struct FramePop {
    Impl& impl;
    Impl::Frame* frame;
    ~FramePop() {
      std::lock_guard lock(impl.mutex);
      auto it = std::find(impl.frames.begin(), impl.frames.end(), frame);
      if (it != impl.frames.end()) impl.frames.erase(it);
    }
  } pop{*impl_, &frame};
  auto stopped = [&] { return frame.stopped.load(); };

  for (;;) {
    Impl::Turn turn = impl_->takeTurn(mode, clock->monotonic());
    if (!turn.hasWork || impl_->ended.load()) return RunLoopRunResult::Finished;

    bool handled = impl_->runWork(turn.work);
    if (stopped()) return RunLoopRunResult::Stopped;
    if (handled && returnAfterSourceHandled) return RunLoopRunResult::HandledSource;

    handled = impl_->fireTimers(turn.dueTimers, *clock) > 0 || handled;
    if (stopped()) return RunLoopRunResult::Stopped;
    if (handled && returnAfterSourceHandled) return RunLoopRunResult::HandledSource;

    handled = impl_->performSources(turn.signalledSources) || handled;
    if (stopped()) return RunLoopRunResult::Stopped;
    if (handled && returnAfterSourceHandled) return RunLoopRunResult::HandledSource;

    int timeout = 0;
    if (!handled) {
      const double now = clock->monotonic();
      double wakeAt = forever ? std::numeric_limits<double>::infinity() : deadline;
      if (turn.hasTimer) wakeAt = std::min(wakeAt, turn.nextTimerDate);
      timeout = -1;
      if (!std::isinf(wakeAt)) {
        const double milliseconds = std::ceil((wakeAt - now) * 1000.0);
        timeout = static_cast<int>(std::clamp(milliseconds, 0.0, 1.0e9));
      }
      if (manualClock && (timeout < 0 || timeout > kManualClockPollMilliseconds)) timeout = kManualClockPollMilliseconds;
    }
    const bool dispatched = impl_->waitAndDispatch(mode, turn.epollFd, timeout);
    if (stopped()) return RunLoopRunResult::Stopped;
    if (dispatched && returnAfterSourceHandled) return RunLoopRunResult::HandledSource;
    // Checked after the wait so that a zero limit still polls the sources once.
    if (!forever && clock->monotonic() >= deadline) return RunLoopRunResult::TimedOut;
  }
}

RunLoopRunResult RunLoop::runModeBeforeDate(const RunLoopMode& mode, const Ref<Date>& limitDate) {
  double seconds = kRunLoopForever;
  if (limitDate) seconds = std::min(kRunLoopForever, limitDate->timeIntervalSinceReferenceDate() - Clock::current()->now());
  return runMode(mode, seconds, true);
}

std::size_t RunLoop::fireDueTimers(const RunLoopMode& mode) {
  impl_->checkOwner("fireDueTimers");
  auto keepAlive = self();
  return impl_->fireDueTimers(mode);
}

std::optional<RunLoopMode> RunLoop::currentMode() const {
  std::lock_guard lock(impl_->mutex);
  if (impl_->frames.empty() || !impl_->isOwner()) return std::nullopt;
  return impl_->frames.back()->mode;
}

void RunLoop::stop() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->frames.empty()) {
      impl_->pendingStop = true;
    } else {
      impl_->frames.back()->stopped = true;
    }
  }
  impl_->wake();
}

void RunLoop::wakeUp() { impl_->wake(); }
bool RunLoop::isWaiting() const { return impl_->waiting.load(); }
bool RunLoop::isEnded() const { return impl_->ended.load(); }
bool RunLoop::isCurrent() const { return impl_->isOwner(); }

void RunLoop::addCommonMode(const RunLoopMode& mode) {
  if (mode == kRunLoopCommonModes) return;
  auto loop = selfAs<RunLoop>();
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->ended.load() || !impl_->commonModes.insert(mode).second) return;
    for (const auto& source : impl_->commonSources) impl_->addSourceToModeLocked(loop, source, mode);
    for (const auto& timer : impl_->commonTimers) impl_->addTimerToModeLocked(timer, mode);
  }
  impl_->wake();
}

void RunLoop::addTimer(const Ref<Timer>& timer, const RunLoopMode& mode) {
  if (!timer || !timer->isValid() || impl_->ended.load()) return;
  if (!timer->bindTo(selfAs<RunLoop>())) {
    Exception::raise(kInvalidArgumentException, "a timer cannot be added to two run loops");
  }
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->ended.load()) return;
    impl_->addTimerToModeLocked(timer, mode);
  }
  // The timer may have been invalidated while being added: make sure the loop does not keep it.
  if (!timer->isValid()) impl_->removeTimer(timer.get());
  impl_->wake();
}

void RunLoop::addSource(const Ref<RunLoopSource>& source, const RunLoopMode& mode) {
  if (!source || !source->isValid() || impl_->ended.load()) return;
  auto loop = selfAs<RunLoop>();
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->ended.load()) return;
    impl_->addSourceToModeLocked(loop, source, mode);
  }
  impl_->wake();
}

void RunLoop::removeSource(const Ref<RunLoopSource>& source, const RunLoopMode& mode) {
  if (!source) return;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->removeSourceFromModeLocked(source.get(), mode);
  }
  impl_->wake();
}

bool RunLoop::containsSource(const Ref<RunLoopSource>& source, const RunLoopMode& mode) const {
  std::lock_guard lock(impl_->mutex);
  if (mode == kRunLoopCommonModes) {
    return std::find(impl_->commonSources.begin(), impl_->commonSources.end(), source) != impl_->commonSources.end();
  }
  auto it = impl_->modes.find(mode);
  if (it == impl_->modes.end()) return false;
  return std::find(it->second.sources.begin(), it->second.sources.end(), source) != it->second.sources.end();
}

bool RunLoop::perform(std::function<void()> work, std::vector<RunLoopMode> modes) {
  return impl_->enqueue(Impl::Work{std::move(work), std::move(modes), nullptr});
}

std::string RunLoop::threadName() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->threadName;
}

std::string RunLoop::description() const { return "<RunLoop of thread " + threadName() + ">"; }

}  // namespace zv
