#include "platform/runloop/DispatchQueue.h"

#include <deque>
#include <mutex>

#include "platform/foundation/Exception.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"
#include "platform/runloop/WorkerPool.h"

namespace zv {

namespace {
// The serial queue whose items the calling thread drains, if any.
thread_local const DispatchQueue::SerialState* tDraining = nullptr;
}  // namespace

struct DispatchQueue::SerialState {
  SerialState() : mutex(ForkLockLevel::SerialQueue, [this] { startAfreshInForkedChild(); }) {}
  ~SerialState() { mutex.leaveForks(); }

  // In a forked child, with every fork lock held and no other thread (ForkHandlers.h): the items
  // queued in the parent are the parent's, forgotten (neither run nor destroyed). A drain under
  // way on the forking thread (a fork from inside one of the items) goes on in the child and
  // takes what the child queues meanwhile, so the queue still runs one item at a time; one under
  // way on another thread does not exist here.
  void startAfreshInForkedChild() {
    new std::deque<std::function<void()>>(std::move(items));
    items.clear();
    draining = tDraining == this;
  }

  ForkMutex mutex;
  std::deque<std::function<void()>> items;
  bool draining = false;
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

// The thread whose loop keeps the timers of `after` for queues other than the main one, one per
// process: a child made by fork has none of its parent's threads, so it makes its own. A parent's
// thread is left alone in the child (neither used nor destroyed).
struct DelayThreadSlot {
  DelayThreadSlot() : mutex(ForkLockLevel::DelayThreadSlot, [this] { thread = nullptr; }) {}
  ForkMutex mutex;
  Ref<Thread>* thread = nullptr;
};

DelayThreadSlot& delayThreadSlot() {
  static DelayThreadSlot& slot = *new DelayThreadSlot;
  return slot;
}

Ref<Thread> delayThread() {
  auto& slot = delayThreadSlot();
  std::lock_guard lock(slot.mutex);
  if (!slot.thread) slot.thread = new Ref<Thread>(Thread::startRunLoopThread("dispatch.after"));
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
        serial_->items.push_back(std::move(work));
        if (!serial_->draining) startDrain = serial_->draining = true;
      }
      if (startDrain) serialPool().submit([self] { self->drainSerial(); });
      return;
    }
  }
}

void DispatchQueue::drainSerial() {
  struct DrainScope {
    explicit DrainScope(const SerialState* state) { tDraining = state; }
    ~DrainScope() { tDraining = nullptr; }
  } scope(serial_.get());
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
  // Also when the item is dropped unrun (sent to a main thread that a forked child does not have):
  // the caller is released, never left waiting.
  struct ReleaseWhenDropped {
    explicit ReleaseWhenDropped(std::shared_ptr<PerformWaiter> w) : waiter(std::move(w)) {}
    std::shared_ptr<PerformWaiter> waiter;
    ~ReleaseWhenDropped() { waiter->complete(true); }
  };
  async([work = std::move(work), waiter, release = std::make_shared<ReleaseWhenDropped>(waiter)] {
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

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gQueuesMade = [] {
  DispatchQueue::mainQueue();
  for (auto priority : {DispatchQueuePriority::High, DispatchQueuePriority::Default, DispatchQueuePriority::Low,
                        DispatchQueuePriority::Background}) {
    DispatchQueue::globalQueue(priority);
    globalPool(priority);
  }
  serialPool();
  delayThreadSlot();
  return true;
}();
}  // namespace

}  // namespace zv
