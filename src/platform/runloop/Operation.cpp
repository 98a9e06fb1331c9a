#include "platform/runloop/Operation.h"

#include <algorithm>

#include "platform/foundation/Exception.h"
#include "platform/runloop/RunLoopImpl.h"

namespace zv {

namespace {
constexpr std::string_view kIsFinished = "isFinished";
constexpr std::string_view kIsReady = "isReady";
}  // namespace

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start() {
  if (isFinished() || isExecuting()) return;
  if (isCancelled()) {
    markFinished();
    return;
  }
  markExecuting();
  runLogged([this] { return "operation " + className(); }, [this] { main(); });
  markFinished();
}

bool Operation::isReady() const {
  if (isCancelled()) return true;
  std::vector<Ref<Operation>> dependencies;
  {
    std::lock_guard lock(mutex_);
    dependencies = dependencies_;
  }
  return std::all_of(dependencies.begin(), dependencies.end(), [](const Ref<Operation>& d) { return d->isFinished(); });
}

void Operation::cancel() {
  if (cancelled_.load()) return;
  willChangeValueForKey("isCancelled");
  cancelled_ = true;
  didChangeValueForKey("isCancelled");
}

void Operation::addDependency(const Ref<Operation>& operation) {
  if (!operation || operation.get() == this || isExecuting() || isFinished()) return;
  {
    std::lock_guard lock(mutex_);
    if (std::find(dependencies_.begin(), dependencies_.end(), operation) != dependencies_.end()) return;
    dependencies_.push_back(operation);
  }
  {
    std::lock_guard lock(operation->mutex_);
    operation->dependants_.push_back(selfAs<Operation>());
  }
  // Readiness changed (a queue may already hold this operation).
  willChangeValueForKey(kIsReady);
  didChangeValueForKey(kIsReady);
}

void Operation::removeDependency(const Ref<Operation>& operation) {
  Ref<Operation> removed;  // let go after the lock
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(dependencies_.begin(), dependencies_.end(), operation);
    if (it == dependencies_.end()) return;
    removed = std::move(*it);
    dependencies_.erase(it);
  }
  willChangeValueForKey(kIsReady);
  didChangeValueForKey(kIsReady);
}

std::vector<Ref<Operation>> Operation::dependencies() const {
  std::lock_guard lock(mutex_);
  return dependencies_;
}

void Operation::setQueuePriority(int priority) {
  if (queuePriority_.load() == priority) return;
  willChangeValueForKey("queuePriority");
  queuePriority_.store(priority);
  didChangeValueForKey("queuePriority");
}

std::function<void()> Operation::completionBlock() const {
  std::lock_guard lock(mutex_);
  return completionBlock_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard lock(mutex_);
  completionBlock_.swap(block);  // the block replaced goes after the lock
}

void Operation::waitUntilFinished() {
  std::unique_lock lock(mutex_.native());
  finishedCondition_.wait(lock, [this] { return finishHandled_; });
}

void Operation::willChangeValueForKey(std::string_view) {}

void Operation::didChangeValueForKey(std::string_view key) {
  auto keepAlive = weak_from_this().lock();
  if (key == kIsFinished && isFinished()) {
    finishedAnnounced();
    return;
  }
  std::function<void(Operation&)> observer;
  {
    std::lock_guard lock(mutex_);
    observer = stateObserver_;
  }
  if (observer) observer(*this);
}

void Operation::finishedAnnounced() {
  std::function<void()> completion;
  std::vector<WeakRef<Operation>> dependants;
  std::function<void(Operation&)> observer;
  {
    std::lock_guard lock(mutex_);
    if (finishHandled_) return;
    finishHandled_ = true;
    completion = std::move(completionBlock_);
    completionBlock_ = nullptr;
    dependants.swap(dependants_);
    observer = stateObserver_;
  }
  finishedCondition_.notify_all();
  for (const auto& weak : dependants) {
    if (auto dependant = weak.lock()) dependant->dependencyChanged();
  }
  if (observer) observer(*this);
  if (completion) runLogged([this] { return "completion block of operation " + className(); }, completion);
}

void Operation::setStateObserver(std::function<void(Operation&)> observer) {
  std::lock_guard lock(mutex_);
  stateObserver_.swap(observer);  // the observer replaced goes after the lock
}

bool Operation::setStateObserverIfNone(std::function<void(Operation&)> observer) {
  std::lock_guard lock(mutex_);
  if (stateObserver_) return false;
  stateObserver_ = std::move(observer);
  return true;
}

bool Operation::hasStateObserver() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(stateObserver_);
}

void Operation::markExecuting() {
  willChangeValueForKey("isExecuting");
  executing_ = true;
  didChangeValueForKey("isExecuting");
}

void Operation::markFinished() {
  if (finished_.load()) return;
  const bool wasExecuting = executing_.load();
  willChangeValueForKey(kIsFinished);
  if (wasExecuting) willChangeValueForKey("isExecuting");
  executing_ = false;
  finished_ = true;
  if (wasExecuting) didChangeValueForKey("isExecuting");
  didChangeValueForKey(kIsFinished);
}

void Operation::dependencyChanged() {
  willChangeValueForKey(kIsReady);
  didChangeValueForKey(kIsReady);
}

Ref<BlockOperation> BlockOperation::create(std::function<void()> block) {
  auto operation = std::make_shared<BlockOperation>();
  operation->addExecutionBlock(std::move(block));
  return operation;
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
  std::lock_guard lock(blocksMutex_);
  if (blocksRun_ || isFinished()) {
    Exception::raise(kInvalidArgumentException, "an execution block cannot be added to a finished operation");
  }
  blocks_.push_back(std::move(block));
}

void BlockOperation::main() {
  // By position, taking each under the lock: a block may add more while they run.
  for (std::size_t next = 0;; ++next) {
    std::function<void()> block;
    {
      std::lock_guard lock(blocksMutex_);
      if (next == blocks_.size()) {
        blocksRun_ = true;
        return;
      }
      block = blocks_[next];
    }
    block();
  }
}

}  // namespace zv
