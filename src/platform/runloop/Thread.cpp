#include "platform/runloop/Thread.h"

#include <pthread.h>

#include <chrono>
#include <new>
#include <system_error>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/RunLoopSource.h"

namespace zv {

namespace {
thread_local Ref<Thread> tThread;

// The Thread object of the main thread, made when first asked for.
struct MainThreadObjectSlot {
  ForkMutex mutex{ForkLockLevel::MainThreadObject};
  Ref<Thread> object;
};

MainThreadObjectSlot& mainThreadObjectSlot() {
  static MainThreadObjectSlot& slot = *new MainThreadObjectSlot;
  return slot;
}

// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gMainThreadObjectSlotMade = (mainThreadObjectSlot(), true);

void setKernelThreadName(const std::string& name) {
  if (name.empty()) return;
  ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}
}  // namespace

// The loop exists with the object: work, timers and sources sent to the thread before it runs
// (also while the system refuses its start) wait in it.
Thread::Thread(Body body, std::string name)
    : body_(std::move(body)),
      mutex_(ForkLockLevel::ThreadObject, [this] { startAfreshInForkedChild(); }),
      name_(std::move(name)),
      runLoop_(makePendingRunLoop(name_.empty() ? "thread" : name_)) {}

Thread::~Thread() { mutex_.leaveForks(); }

void Thread::startAfreshInForkedChild() {
  // Whether the forking thread is this one: its Thread object, or the loop it owns.
  if (tThread.get() == this || (runLoop_ && runLoop_->impl().isOwner())) return;
  if (!started_.load()) return;
  // Started in the parent (or being started): that thread does not exist here. It counts as
  // finished, so joining it returns, and its loop is ended, so work sent to it is dropped.
  executing_ = false;
  exit_->finished.store(true);
  new (&exit_->changed) std::condition_variable();  // a waiter of the parent's is not here
  if (runLoop_) {
    runLoop_->impl().endedByFork.store(true);
    runLoop_->impl().ended.store(true);
  }
}

Ref<Thread> Thread::create(Body body, std::string name) {
  return std::make_shared<Thread>(std::move(body), std::move(name));
}

Ref<Thread> Thread::detachNew(Body body, std::string name) {
  auto thread = create(std::move(body), std::move(name));
  thread->startWhenPossible();
  return thread;
}

void Thread::startWhenPossible() {
  if (started_.load()) Exception::raise(kInvalidArgumentException, "a thread was started twice");
  try {
    start();
    return;
  } catch (const std::exception& error) {
    // Out of threads, memory or descriptors (for the run loop) for now.
    logRefusedThreadStart("thread " + name(), error.what());
  }
  auto self = selfAs<Thread>();
  retryUntilStarted([self] {
    // Someone else may have started it meanwhile.
    if (self->started_.load()) return true;
    self->start();
    return true;
  });
}

Ref<Thread> Thread::startRunLoopThread(std::string name) {
  return detachNew(
      [] {
        auto thread = Thread::current();
        auto loop = RunLoop::current();
        // A source that never fires: the loop always has something to wait for.
        loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
        while (!thread->isCancelled()) loop->run();
      },
      std::move(name));
}

Ref<Thread> Thread::currentIfExists() { return tThread; }

Ref<Thread> Thread::current() {
  if (tThread) return tThread;
  if (RunLoop::isMainThread()) {
    tThread = mainThread();
    return tThread;
  }
  auto thread = std::make_shared<Thread>(nullptr, "");
  thread->adopted_ = true;
  thread->started_ = true;
  thread->executing_ = true;
  tThread = thread;
  thread->bindRunLoop(RunLoop::current());
  return thread;
}

Ref<Thread> Thread::mainThread() {
  // One object for the main thread, whichever thread asks first; made anew only when another
  // thread became the main thread.
  auto& slot = mainThreadObjectSlot();
  Ref<Thread>* mainObject = &slot.object;
  std::lock_guard lock(slot.mutex);
  auto loop = RunLoop::main();
  if (!*mainObject || (*mainObject)->runLoop() != loop) {
    *mainObject = std::make_shared<Thread>(nullptr, "main");
    (*mainObject)->adopted_ = true;
    (*mainObject)->started_ = true;
    (*mainObject)->executing_ = true;
    (*mainObject)->bindRunLoop(loop);
  }
  return *mainObject;
}

bool Thread::isMainThread() { return RunLoop::isMainThread(); }

void Thread::sleepForTimeInterval(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void Thread::start() {
  if (started_.exchange(true)) Exception::raise(kInvalidArgumentException, "a thread was started twice");
  auto self = selfAs<Thread>();
  // The loop keeps what was sent to it; a start the system refused keeps it for the next start.
  try {
    runLoop()->impl().openDescriptors();
  } catch (...) {
    started_ = false;
    throw;
  }
  executing_ = true;
  try {
    // Finished once the thread has let go of all it held (startDetachedThread's atExit).
    startDetachedThread([self] { self->main(); }, [exit = exit_] { exit->markFinished(); });
  } catch (...) {
    executing_ = false;
    started_ = false;
    throw;
  }
}

void Thread::main() {
  tThread = selfAs<Thread>();
  auto loop = runLoop();
  bindRunLoopToCurrentThread(loop);
  setKernelThreadName(name());
  if (body_) runLogged([this] { return "thread " + name(); }, body_);
  loop->impl().markEnded();
  // Finished only once the start closure and the thread-locals (tThread, the loop's holder) are
  // gone as well (see start).
}

void Thread::Exit::markFinished() {
  {
    std::lock_guard lock(mutex);
    finished.store(true);
  }
  changed.notify_all();
}

bool Thread::Exit::waitUntilFinished(std::optional<double> seconds) {
  std::unique_lock lock(mutex.native());
  auto isFinished = [this] { return finished.load(); };
  if (!seconds) {
    changed.wait(lock, isFinished);
    return true;
  }
  return changed.wait_for(lock, std::chrono::duration<double>(*seconds), isFinished);
}

void Thread::cancel() {
  cancelled_ = true;
  if (auto loop = runLoop()) loop->stop();
}

bool Thread::isMainThreadObject() const {
  auto loop = runLoop();
  return loop && loop == RunLoop::main();
}

void Thread::join() {
  if (tThread.get() == this) Exception::raise(kInternalInconsistencyException, "a thread cannot join itself");
  exit_->waitUntilFinished(std::nullopt);
}

bool Thread::joinFor(double seconds) {
  if (tThread.get() == this) Exception::raise(kInternalInconsistencyException, "a thread cannot join itself");
  return exit_->waitUntilFinished(seconds);
}

std::string Thread::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}

void Thread::setName(std::string name) {
  {
    std::lock_guard lock(mutex_);
    name_ = name;
    if (runLoop_) {
      std::lock_guard loopLock(runLoop_->impl().mutex);
      runLoop_->impl().threadName = name;
    }
  }
  if (tThread.get() == this) setKernelThreadName(name);
}

Ref<RunLoop> Thread::runLoop() const {
  std::lock_guard lock(mutex_);
  return runLoop_;
}

void Thread::bindRunLoop(const Ref<RunLoop>& loop) {
  std::lock_guard lock(mutex_);
  bindRunLoopLocked(loop);
}

void Thread::bindRunLoopLocked(const Ref<RunLoop>& loop) {
  runLoop_ = loop;
  if (loop && !name_.empty()) {
    std::lock_guard loopLock(loop->impl().mutex);
    loop->impl().threadName = name_;
  }
}

std::string Thread::description() const { return "<Thread " + name() + ">"; }

}  // namespace zv
