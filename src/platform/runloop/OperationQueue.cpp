#include "platform/runloop/OperationQueue.h"

#include <algorithm>
#include <iterator>
#include <list>
#include <map>
#include <new>
#include <optional>
#include <unordered_map>

#include "platform/foundation/Exception.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopImpl.h"
#include "platform/runloop/WorkerPool.h"

namespace zv {

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
  struct Entry {
    Ref<Operation> operation;
    std::uint64_t order;
    // The queue priority last seen, counted in waitingPriorities while the entry waits.
    int priority;
    bool started = false;
  };
  using EntryList = std::list<Entry>;

  State() : mutex(ForkLockLevel::OperationQueue, [this] { startAfreshInForkedChild(); }) {}
  ~State() { mutex.leaveForks(); }

  // In a forked child, with every fork lock held and no other thread (ForkHandlers.h): the
  // operations waiting or running at the fork are the parent's, forgotten (neither started nor
  // destroyed), except the one the forking thread runs, which finishes here and frees its slot.
  void startAfreshInForkedChild();

  mutable ForkMutex mutex;
  std::condition_variable emptied;
  // Not yet started, in the order added; and started but not finished. An entry moves from one
  // to the other in place, so the index stays valid.
  EntryList waiting;
  EntryList running;
  std::unordered_map<const Operation*, EntryList::iterator> index;
  // How many waiting entries have each priority: with one priority (or none) waiting, the order
  // added is the order to start in, and nothing needs ranking.
  std::map<int, std::size_t> waitingPriorities;
  std::uint64_t nextOrder = 0;
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
  // Takes an operation out of the queue without its finishing (its start failed).
  void release(Operation& operation);

  // With the mutex held.
  std::size_t freeSlotsLocked() const;
  void countWaitingLocked(int priority, bool add);
  // Moves a waiting entry to the running ones; false when it is no longer waiting or no slot is
  // free.
  bool claimLocked(const Operation* operation);
  // The first `limit` waiting operations in the order added, when one priority is all that
  // waits; nothing when the waiting ones must be ranked.
  std::optional<std::vector<Ref<Operation>>> inOrderCandidatesLocked(std::size_t limit) const;
  // Ranks every ready waiting operation, highest priority first, then the order added, and
  // starts what fits.
  void scheduleRanked();
};

namespace {
thread_local OperationQueue* tCurrentQueue = nullptr;
// The operation whose start the calling thread runs, if any.
thread_local const Operation* tStartingOperation = nullptr;
// Starts due on this thread while it is already starting an operation inline: run by the
// outermost start in turn, so a chain of starts that end at once never deepens the stack.
thread_local std::vector<std::function<void()>>* tInlineStarts = nullptr;

class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(OperationQueue* queue) : previous_(tCurrentQueue) { tCurrentQueue = queue; }
  ~CurrentQueueScope() { tCurrentQueue = previous_; }

 private:
  OperationQueue* previous_;
};
}  // namespace

void OperationQueue::State::startAfreshInForkedChild() {
  auto* forgotten = new EntryList;
  forgotten->splice(forgotten->end(), waiting);
  for (auto it = running.begin(); it != running.end();) {
    const auto next = std::next(it);
    if (it->operation.get() != tStartingOperation) forgotten->splice(forgotten->end(), running, it);
    it = next;
  }
  index.clear();
  for (auto it = running.begin(); it != running.end(); ++it) index.emplace(it->operation.get(), it);
  waitingPriorities.clear();
  // Threads of the parent may have been waiting on it: a fresh one knows no waiter.
  new (&emptied) std::condition_variable();
}

std::size_t OperationQueue::State::freeSlotsLocked() const {
  if (suspended) return 0;
  if (maxConcurrent < 0) return waiting.size();
  const auto limit = static_cast<std::size_t>(maxConcurrent);
  return running.size() >= limit ? 0 : limit - running.size();
}

void OperationQueue::State::countWaitingLocked(int priority, bool add) {
  if (add) {
    ++waitingPriorities[priority];
    return;
  }
  auto it = waitingPriorities.find(priority);
  if (it != waitingPriorities.end() && --it->second == 0) waitingPriorities.erase(it);
}

bool OperationQueue::State::claimLocked(const Operation* operation) {
  if (freeSlotsLocked() == 0) return false;
  auto found = index.find(operation);
  if (found == index.end() || found->second->started) return false;
  auto entry = found->second;
  entry->started = true;
  countWaitingLocked(entry->priority, false);
  running.splice(running.end(), waiting, entry);
  return true;
}

std::optional<std::vector<Ref<Operation>>> OperationQueue::State::inOrderCandidatesLocked(std::size_t limit) const {
  if (waitingPriorities.size() > 1) return std::nullopt;
  std::vector<Ref<Operation>> candidates;
  for (auto it = waiting.begin(); it != waiting.end() && candidates.size() < limit; ++it) {
    candidates.push_back(it->operation);
  }
  return candidates;
}

void OperationQueue::State::operationChanged(Operation& operation) {
  if (operation.isFinished()) {
    release(operation);
    return;
  }
  {
    // A waiting operation's priority may have changed.
    const int priority = operation.queuePriority();
    std::lock_guard lock(mutex);
    auto found = index.find(&operation);
    if (found != index.end() && !found->second->started && found->second->priority != priority) {
      countWaitingLocked(found->second->priority, false);
      found->second->priority = priority;
      countWaitingLocked(priority, true);
    }
  }
  schedule();
}

void OperationQueue::State::release(Operation& operation) {
  Ref<Operation> released;
  {
    std::lock_guard lock(mutex);
    auto found = index.find(&operation);
    if (found != index.end()) {
      auto entry = found->second;
      released = std::move(entry->operation);
      if (entry->started) {
        running.erase(entry);
      } else {
        countWaitingLocked(entry->priority, false);
        waiting.erase(entry);
      }
      index.erase(found);
    }
    if (waiting.empty() && running.empty()) emptied.notify_all();
  }
  if (released) released->setStateObserver(nullptr);
  schedule();
}

void OperationQueue::State::schedule() {
  std::vector<Ref<Operation>> candidates;
  {
    std::lock_guard lock(mutex);
    const std::size_t slots = freeSlotsLocked();
    if (slots == 0 || waiting.empty()) return;
    // With differing priorities nothing is taken here: the ranking below sorts them all.
    if (auto inOrder = inOrderCandidatesLocked(slots)) candidates = std::move(*inOrder);
  }
  if (!candidates.empty()) {
    // One priority waits, so the first ready operations in the order added go first. Asking
    // each for readiness happens outside the lock; if one of them is not ready, the ranking
    // below sorts out which ones are.
    const bool allReady = std::all_of(candidates.begin(), candidates.end(),
                                      [](const Ref<Operation>& operation) { return operation->isReady(); });
    if (allReady) {
      std::vector<Ref<Operation>> toStart;
      {
        std::lock_guard lock(mutex);
        for (const auto& operation : candidates) {
          if (claimLocked(operation.get())) toStart.push_back(operation);
        }
      }
      for (const auto& operation : toStart) startOnWorker(operation);
      return;
    }
  }
  scheduleRanked();
}

void OperationQueue::State::scheduleRanked() {
  std::vector<std::pair<Ref<Operation>, std::uint64_t>> candidates;
  {
    std::lock_guard lock(mutex);
    if (freeSlotsLocked() == 0) return;
    candidates.reserve(waiting.size());
    for (const auto& entry : waiting) candidates.emplace_back(entry.operation, entry.order);
  }
  struct Ranked {
    int priority;
    std::uint64_t order;
    Ref<Operation> operation;
  };
  std::vector<Ranked> ranked;
  for (auto& [operation, order] : candidates) {
    if (operation->isReady()) ranked.push_back(Ranked{operation->queuePriority(), order, std::move(operation)});
  }
  std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    return a.priority != b.priority ? a.priority > b.priority : a.order < b.order;
  });
  std::vector<Ref<Operation>> toStart;
  {
    std::lock_guard lock(mutex);
    for (const auto& candidate : ranked) {
      if (freeSlotsLocked() == 0) break;
      if (claimLocked(candidate.operation.get())) toStart.push_back(candidate.operation);
    }
  }
  for (const auto& operation : toStart) startOnWorker(operation);
}

void OperationQueue::State::startOnWorker(const Ref<Operation>& operation) {
  auto self = shared_from_this();
  auto job = [self, operation] {
    auto queue = self->owner.lock();
    CurrentQueueScope scope(queue.get());
    bool threw = true;
    runLogged(
        [&] {
          std::lock_guard lock(self->mutex);
          return "operation queue " + self->name;
        },
        [&] {
          struct StartScope {
            explicit StartScope(const Operation* operation) : outer(tStartingOperation) { tStartingOperation = operation; }
            ~StartScope() { tStartingOperation = outer; }
            const Operation* outer;
          } start(operation.get());
          operation->start();
          threw = false;
        });
    // A plain subclass that finished without announcing it still frees its slot.
    if (operation->isFinished()) {
      self->operationChanged(*operation);
    } else if (threw) {
      // A start that failed leaves no one to finish the operation: it must not hold its slot
      // (and the queue's later work) for good.
      self->release(*operation);
    }
  };
  if (onMainThread) {
    performOnMainThread(std::move(job), false);
  } else if (operation->isConcurrent() && operation->startsOnAnyThread()) {
    if (tInlineStarts) {
      tInlineStarts->push_back(std::move(job));
      return;
    }
    std::vector<std::function<void()>> pending;
    struct Scope {
      explicit Scope(std::vector<std::function<void()>>* list) { tInlineStarts = list; }
      ~Scope() { tInlineStarts = nullptr; }
    } scope(&pending);
    job();
    // By position: a start may queue more while the list is walked.
    for (std::size_t i = 0; i < pending.size(); ++i) {
      auto next = std::move(pending[i]);
      next();
    }
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
  auto refuseEnqueued = [] { Exception::raise(kInvalidArgumentException, "operation is already enqueued on a queue"); };
  if (operation->hasStateObserver()) refuseEnqueued();
  if (operation->isExecuting() || operation->isFinished()) {
    Exception::raise(kInvalidArgumentException, "operation is executing or finished and cannot be enqueued");
  }
  // The observer is in place before the entry can be seen: another thread's schedule may start
  // the operation at once, and its end must not go unheard.
  std::weak_ptr<State> weakState = state_;
  const bool observed = operation->setStateObserverIfNone([weakState](Operation& changed) {
    if (auto state = weakState.lock()) state->operationChanged(changed);
  });
  if (!observed) refuseEnqueued();
  {
    std::lock_guard lock(state_->mutex);
    if (state_->owner.expired()) state_->owner = selfAs<OperationQueue>();
    const int priority = operation->queuePriority();
    state_->waiting.push_back(State::Entry{operation, state_->nextOrder++, priority, false});
    state_->index.emplace(operation.get(), std::prev(state_->waiting.end()));
    state_->countWaitingLocked(priority, true);
  }
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
  std::vector<const State::Entry*> entries;
  std::lock_guard lock(state_->mutex);
  for (const auto& entry : state_->running) entries.push_back(&entry);
  for (const auto& entry : state_->waiting) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(), [](const State::Entry* a, const State::Entry* b) { return a->order < b->order; });
  std::vector<Ref<Operation>> result;
  result.reserve(entries.size());
  for (const auto* entry : entries) result.push_back(entry->operation);
  return result;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->waiting.size() + state_->running.size();
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
  std::unique_lock lock(state_->mutex.native());
  state_->emptied.wait(lock, [this] { return state_->waiting.empty() && state_->running.empty(); });
}

std::string OperationQueue::name() const {
  std::lock_guard lock(state_->mutex);
  return state_->name;
}

void OperationQueue::setName(std::string name) {
  std::lock_guard lock(state_->mutex);
  state_->name = std::move(name);
}

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gMainQueueMade = (OperationQueue::mainQueue(), true);
}  // namespace

}  // namespace zv
