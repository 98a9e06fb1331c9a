#include "platform/runloop/OperationQueue.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/WorkerPool.h"

namespace zv {

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
  struct Entry {
    Ref<Operation> operation;
    std::uint64_t order;
    bool started = false;
  };

  mutable std::mutex mutex;
  std::condition_variable emptied;
  std::vector<Entry> entries;
  std::uint64_t nextOrder = 0;
  std::size_t running = 0;
  int maxConcurrent = kOperationQueueDefaultMaxConcurrentOperationCount;
  bool suspended = false;
  bool onMainThread = false;
  std::string name;
  WeakRef<OperationQueue> owner;

  void operationChanged(Operation& operation);
  // Starts what may start. Calls into operations only with the mutex released, since their
  // state answers may take locks of their own that are held while they announce changes.
  void schedule();
  void startOnWorker(const Ref<Operation>& operation);
};

namespace {
thread_local OperationQueue* tCurrentQueue = nullptr;

class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(OperationQueue* queue) : previous_(tCurrentQueue) { tCurrentQueue = queue; }
  ~CurrentQueueScope() { tCurrentQueue = previous_; }

 private:
  OperationQueue* previous_;
};
}  // namespace

void OperationQueue::State::operationChanged(Operation& operation) {
  if (operation.isFinished()) {
    Ref<Operation> released;
    {
      std::lock_guard lock(mutex);
      auto it = std::find_if(entries.begin(), entries.end(),
                             [&](const Entry& e) { return e.operation.get() == &operation; });
      if (it != entries.end()) {
        if (it->started) --running;
        released = std::move(it->operation);
        entries.erase(it);
      }
      if (entries.empty()) emptied.notify_all();
    }
    if (released) released->setStateObserver(nullptr);
  }
  schedule();
}

void OperationQueue::State::schedule() {
  std::vector<Entry> candidates;
  {
    std::lock_guard lock(mutex);
    if (suspended) return;
    if (maxConcurrent >= 0 && running >= static_cast<std::size_t>(maxConcurrent)) return;
    for (const auto& entry : entries) {
      if (!entry.started) candidates.push_back(entry);
    }
  }
  if (candidates.empty()) return;
  // Highest priority first, then the order added.
  std::vector<std::pair<int, Entry>> ranked;
  for (auto& entry : candidates) {
    if (entry.operation->isReady()) ranked.emplace_back(entry.operation->queuePriority(), std::move(entry));
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second.order < b.second.order;
  });
  std::vector<Ref<Operation>> toStart;
  {
    std::lock_guard lock(mutex);
    for (const auto& ranking : ranked) {
      const auto& candidate = ranking.second;
      if (suspended) break;
      if (maxConcurrent >= 0 && running >= static_cast<std::size_t>(maxConcurrent)) break;
      auto it = std::find_if(entries.begin(), entries.end(),
                             [&](const Entry& e) { return e.operation == candidate.operation; });
      if (it == entries.end() || it->started) continue;
      it->started = true;
      ++running;
      toStart.push_back(it->operation);
    }
  }
  for (const auto& operation : toStart) startOnWorker(operation);
}

void OperationQueue::State::startOnWorker(const Ref<Operation>& operation) {
  auto self = shared_from_this();
  auto job = [self, operation] {
    auto queue = self->owner.lock();
    CurrentQueueScope scope(queue.get());
    runLogged(
        [&] {
          std::lock_guard lock(self->mutex);
          return "operation queue " + self->name;
        },
        [&] { operation->start(); });
    // A plain subclass that finished without announcing it still frees its slot.
    if (operation->isFinished()) self->operationChanged(*operation);
  };
  if (onMainThread) {
    performOnMainThread(std::move(job), false);
  } else {
    WorkerPool::operationWorkers().submit(std::move(job));
  }
}

OperationQueue::OperationQueue() : state_(std::make_shared<State>()) {}

OperationQueue::OperationQueue(bool onMainThread) : state_(std::make_shared<State>()) {
  state_->onMainThread = onMainThread;
  state_->maxConcurrent = 1;
  state_->name = "main";
}

OperationQueue::~OperationQueue() = default;

Ref<OperationQueue> OperationQueue::create() { return std::make_shared<OperationQueue>(); }

Ref<OperationQueue> OperationQueue::mainQueue() {
  static Ref<OperationQueue>* queue = [] {
    auto* q = new Ref<OperationQueue>(new OperationQueue(true));
    (*q)->state_->owner = *q;
    return q;
  }();
  return *queue;
}

Ref<OperationQueue> OperationQueue::currentQueue() {
  if (tCurrentQueue) return tCurrentQueue->selfAs<OperationQueue>();
  if (RunLoop::isMainThread()) return mainQueue();
  return nullptr;
}

void OperationQueue::addOperation(const Ref<Operation>& operation) {
  if (!operation) Exception::raise(kInvalidArgumentException, "addOperation: nil operation");
  if (operation->hasStateObserver()) {
    Exception::raise(kInvalidArgumentException, "operation is already enqueued on a queue");
  }
  if (operation->isExecuting() || operation->isFinished()) {
    Exception::raise(kInvalidArgumentException, "operation is executing or finished and cannot be enqueued");
  }
  {
    std::lock_guard lock(state_->mutex);
    if (state_->owner.expired()) state_->owner = selfAs<OperationQueue>();
    state_->entries.push_back(State::Entry{operation, state_->nextOrder++, false});
  }
  std::weak_ptr<State> weakState = state_;
  operation->setStateObserver([weakState](Operation& changed) {
    if (auto state = weakState.lock()) state->operationChanged(changed);
  });
  state_->schedule();
}

void OperationQueue::addOperations(const std::vector<Ref<Operation>>& operations, bool waitUntilFinished) {
  for (const auto& operation : operations) addOperation(operation);
  if (waitUntilFinished) {
    for (const auto& operation : operations) operation->waitUntilFinished();
  }
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
  addOperation(BlockOperation::create(std::move(block)));
}

std::vector<Ref<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(state_->mutex);
  std::vector<Ref<Operation>> result;
  for (const auto& entry : state_->entries) result.push_back(entry.operation);
  return result;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->entries.size();
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->maxConcurrent;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  {
    std::lock_guard lock(state_->mutex);
    state_->maxConcurrent = count < 0 ? kOperationQueueDefaultMaxConcurrentOperationCount : count;
  }
  state_->schedule();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(state_->mutex);
  return state_->suspended;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(state_->mutex);
    state_->suspended = suspended;
  }
  state_->schedule();
}

void OperationQueue::cancelAllOperations() {
  for (const auto& operation : operations()) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(state_->mutex);
  state_->emptied.wait(lock, [this] { return state_->entries.empty(); });
}

std::string OperationQueue::name() const {
  std::lock_guard lock(state_->mutex);
  return state_->name;
}

void OperationQueue::setName(std::string name) {
  std::lock_guard lock(state_->mutex);
  state_->name = std::move(name);
}

}  // namespace zv
