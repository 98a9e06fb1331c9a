#include "platform/runloop/DispatchQueue.h"

#include <pthread.h>

#include <deque>
#include <mutex>

#include "platform/foundation/Exception.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"
#include "platform/runloop/WorkerPool.h"

namespace zv {

struct DispatchQueue::SerialState {
  std::mutex mutex;
  std::deque<std::function<void()>> items;
  bool draining = false;
  // The process the drain belongs to (WorkerPool::forkGeneration).
  unsigned generation = WorkerPool::forkGeneration();
};

namespace {

// The items the calling thread is running, innermost first: an item that syncs onto a global
// queue runs that work inline, inside its own item.
struct RunningItem {
  DispatchQueue* queue;
  const RunningItem* outer;
};
thread_local const RunningItem* tRunningItem = nullptr;

// Sets the calling thread's current queue for the length of an item.
class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(DispatchQueue* queue) : item_{queue, tRunningItem} { tRunningItem = &item_; }
  ~CurrentQueueScope() { tRunningItem = item_.outer; }

 private:
  RunningItem item_;
};

bool runsItemOf(const DispatchQueue* queue) {
  for (auto* item = tRunningItem; item; item = item->outer) {
    if (item->queue == queue) return true;
  }
  return false;
}

int priorityIndex(DispatchQueuePriority priority) { return static_cast<int>(priority); }

const char* priorityName(DispatchQueuePriority priority) {
  switch (priority) {
    case DispatchQueuePriority::High: return "high";
    case DispatchQueuePriority::Default: return "default";
    case DispatchQueuePriority::Low: return "low";
    case DispatchQueuePriority::Background: return "background";
  }
  return "default";
}

WorkerPool& globalPool(DispatchQueuePriority priority) {
  static WorkerPool* pools[4] = {
      new WorkerPool("global.high", 64), new WorkerPool("global.default", 64),
      new WorkerPool("global.low", 64), new WorkerPool("global.background", 64)};
  return *pools[priorityIndex(priority)];
}

// Serial queues drain on workers of their own: global items that wait on a serial queue may take
// every global worker, and the serial queue must still run.
WorkerPool& serialPool() {
  static WorkerPool* pool = new WorkerPool("serial", 512);
  return *pool;
}

// One thread whose loop keeps the timers of `after` for queues other than the main one.
// The thread that fires delayed work, one per process: a child made by fork has none of its
// parent's threads, so it makes its own. The lock is held across a fork, so a child never
// inherits it locked; a parent's thread is left alone in the child (neither used nor destroyed).
struct DelayThreadSlot {
  std::mutex mutex;
  unsigned generation = 0;
  Ref<Thread>* thread = nullptr;
};

DelayThreadSlot& delayThreadSlot() {
  static DelayThreadSlot& slot = *[] {
    // The supervisor's fork handlers come first, so a fork takes this lock before its lock, in
    // the order delayThread takes them.
    prepareThreadStartRetries();
    auto* made = new DelayThreadSlot;
    ::pthread_atfork([] { delayThreadSlot().mutex.lock(); }, [] { delayThreadSlot().mutex.unlock(); },
                     [] { delayThreadSlot().mutex.unlock(); });
    return made;
  }();
  return slot;
}

Ref<Thread> delayThread() {
  auto& slot = delayThreadSlot();
  std::lock_guard lock(slot.mutex);
  const unsigned generation = WorkerPool::forkGeneration();
  if (!slot.thread || slot.generation != generation) {
    slot.thread = new Ref<Thread>(Thread::startRunLoopThread("dispatch.after"));
    slot.generation = generation;
  }
  return *slot.thread;
}

}  // namespace

DispatchQueue::DispatchQueue(Kind kind, std::string label, DispatchQueuePriority priority)
    : kind_(kind), label_(std::move(label)), priority_(priority) {
  if (kind_ == Kind::Serial) serial_ = std::make_shared<SerialState>();
}

DispatchQueue::~DispatchQueue() = default;

Ref<DispatchQueue> DispatchQueue::mainQueue() {
  static Ref<DispatchQueue>* queue =
      new Ref<DispatchQueue>(std::make_shared<DispatchQueue>(Kind::Main, "main", DispatchQueuePriority::Default));
  return *queue;
}

Ref<DispatchQueue> DispatchQueue::globalQueue(DispatchQueuePriority priority) {
  static Ref<DispatchQueue>* queues[4] = {
      new Ref<DispatchQueue>(std::make_shared<DispatchQueue>(Kind::Global, "global.high", DispatchQueuePriority::High)),
      new Ref<DispatchQueue>(
          std::make_shared<DispatchQueue>(Kind::Global, "global.default", DispatchQueuePriority::Default)),
      new Ref<DispatchQueue>(std::make_shared<DispatchQueue>(Kind::Global, "global.low", DispatchQueuePriority::Low)),
      new Ref<DispatchQueue>(
          std::make_shared<DispatchQueue>(Kind::Global, "global.background", DispatchQueuePriority::Background))};
  return *queues[priorityIndex(priority)];
}

Ref<DispatchQueue> DispatchQueue::createSerial(std::string label) {
  return std::make_shared<DispatchQueue>(Kind::Serial, std::move(label), DispatchQueuePriority::Default);
}

Ref<DispatchQueue> DispatchQueue::currentQueue() {
  if (tRunningItem) return tRunningItem->queue->selfAs<DispatchQueue>();
  if (RunLoop::isMainThread()) return mainQueue();
  return nullptr;
}

void DispatchQueue::runItem(const std::function<void()>& work) {
  CurrentQueueScope scope(this);
  if (work) runLogged([this] { return "dispatch queue " + label_; }, work);
}

void DispatchQueue::async(std::function<void()> work) {
  auto self = selfAs<DispatchQueue>();
  switch (kind_) {
    case Kind::Main:
      performOnMainThread([self, work = std::move(work)] { self->runItem(work); }, false);
      return;
    case Kind::Global:
      globalPool(priority_).submit([self, work = std::move(work)] { self->runItem(work); });
      return;
    case Kind::Serial: {
      bool startDrain = false;
      {
        std::lock_guard lock(serial_->mutex);
        if (const unsigned generation = WorkerPool::forkGeneration(); serial_->generation != generation) {
          // In a child made by fork, a drain under way at the fork and the items it had left are
          // the parent's: forgotten, neither run nor destroyed (see WorkerPool.h).
          if (serial_->draining) new std::deque<std::function<void()>>(std::move(serial_->items));
          serial_->items.clear();
          serial_->draining = false;
          serial_->generation = generation;
        }
        serial_->items.push_back(std::move(work));
        if (!serial_->draining) startDrain = serial_->draining = true;
      }
      if (startDrain) serialPool().submit([self] { self->drainSerial(); });
      return;
    }
  }
}

void DispatchQueue::drainSerial() {
  for (;;) {
    std::function<void()> item;
    {
      std::lock_guard lock(serial_->mutex);
      if (serial_->items.empty()) {
        serial_->draining = false;
        return;
      }
      item = std::move(serial_->items.front());
      serial_->items.pop_front();
    }
    runItem(item);
  }
}

void DispatchQueue::sync(std::function<void()> work) {
  if ((kind_ == Kind::Main && RunLoop::isMainThread()) || kind_ == Kind::Global) {
    // Inline on the caller's thread, so what the work raises reaches the caller (a refused sync
    // onto a serial queue that runs the caller's item among them).
    CurrentQueueScope scope(this);
    if (work) work();
    return;
  }
  if (runsItemOf(this)) {
    Exception::raise(kInternalInconsistencyException,
                     "sync on serial queue " + label_ + " from one of its own items would never return");
  }
  auto waiter = std::make_shared<PerformWaiter>();
  async([work = std::move(work), waiter] {
    struct Done {
      PerformWaiter& waiter;
      ~Done() { waiter.complete(true); }
    } done{*waiter};
    work();
  });
  waiter->wait();
}

void DispatchQueue::after(double delaySeconds, std::function<void()> work) {
  auto self = selfAs<DispatchQueue>();
  auto timer = Timer::create(delaySeconds, false, [self, work = std::move(work)](Timer&) { self->async(work); });
  if (kind_ == Kind::Main) {
    RunLoop::main()->addTimer(timer, kRunLoopCommonModes);
  } else {
    // The loop keeps the timer also while the thread waits for its start (Thread.h).
    delayThread()->runLoop()->addTimer(timer, kDefaultRunLoopMode);
  }
}

std::string DispatchQueue::description() const {
  return std::string("<DispatchQueue ") + label_ + (kind_ == Kind::Global ? std::string(" ") + priorityName(priority_) : "") + ">";
}

void dispatchOnce(DispatchOnceToken& token, const std::function<void()>& work) { std::call_once(token, work); }

}  // namespace zv
