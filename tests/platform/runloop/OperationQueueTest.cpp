// Operation queues: width, dependencies, priorities, suspension, cancellation and concurrent
// operations that end only when they say so.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Thread.h"

namespace zv {
namespace {

using namespace std::chrono_literals;

// A concurrent operation in the shape of a request: start hands the work to another thread and
// returns; the operation is finished only when that thread says so.
class HandOffOperation : public Operation {
 public:
  explicit HandOffOperation(Ref<Thread> worker) : worker_(std::move(worker)) {}
  bool isConcurrent() const override { return true; }
  bool isExecuting() const override { return executing_.load(); }
  bool isFinished() const override { return finished_.load(); }
  void start() override {
    ++starts;
    startedCancelled = isCancelled();
    willChangeValueForKey("isExecuting");
    executing_ = true;
    didChangeValueForKey("isExecuting");
  }
  void finish() {
    auto self = selfAs<HandOffOperation>();
    performOnThread(worker_, [self] {
      self->willChangeValueForKey("isExecuting");
      self->willChangeValueForKey("isFinished");
      self->executing_ = false;
      self->finished_ = true;
      self->didChangeValueForKey("isExecuting");
      self->didChangeValueForKey("isFinished");
    }, false);
  }
  std::atomic<int> starts{0};
  std::atomic<bool> startedCancelled{false};

 private:
  Ref<Thread> worker_;
  std::atomic<bool> executing_{false};
  std::atomic<bool> finished_{false};
};

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(OperationQueueTest, FiveOperationsRunAtMostFourAtOnce) {
  auto worker = Thread::startRunLoopThread("request-thread");
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(4);
  std::vector<Ref<HandOffOperation>> operations;
  for (int i = 0; i < 5; ++i) {
    operations.push_back(std::make_shared<HandOffOperation>(worker));
    queue->addOperation(operations.back());
  }
  auto startedCount = [&] {
    int n = 0;
    for (const auto& op : operations) n += op->starts.load();
    return n;
  };
  ASSERT_TRUE(waitFor([&] { return startedCount() == 4; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(startedCount(), 4) << "a fifth operation started while four were executing";
  EXPECT_EQ(operations[4]->starts, 0);
  operations[1]->finish();
  ASSERT_TRUE(waitFor([&] { return operations[4]->starts == 1; }));
  for (int i : {0, 2, 3, 4}) operations[i]->finish();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(queue->operationCount(), 0u);
  worker->cancel();
  EXPECT_TRUE(worker->joinFor(20));
}

TEST(OperationQueueTest, DependenciesOrderOperationsAcrossQueues) {
  auto first = OperationQueue::create();
  auto second = OperationQueue::create();
  std::mutex mutex;
  std::vector<std::string> order;
  auto record = [&](std::string name) {
    return BlockOperation::create([&, name] {
      std::this_thread::sleep_for(5ms);
      std::lock_guard lock(mutex);
      order.push_back(name);
    });
  };
  auto a = record("a"), b = record("b"), c = record("c");
  c->addDependency(b);
  b->addDependency(a);
  EXPECT_FALSE(c->isReady());
  second->addOperation(c);
  first->addOperation(b);
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(order.empty());
  first->addOperation(a);
  c->waitUntilFinished();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(c->isFinished());
}

TEST(OperationQueueTest, CancelledOperationsAreStillStartedButDoNotRunTheirWork) {
  auto worker = Thread::startRunLoopThread("cancel-thread");
  auto queue = OperationQueue::create();
  queue->setSuspended(true);
  std::atomic<bool> mainRan{false};
  auto plain = BlockOperation::create([&] { mainRan = true; });
  auto request = std::make_shared<HandOffOperation>(worker);
  auto blocker = BlockOperation::create([] {});
  request->addDependency(blocker);  // never added anywhere: only cancellation makes it ready
  std::atomic<bool> completed{false};
  plain->setCompletionBlock([&] { completed = true; });
  queue->addOperation(plain);
  queue->addOperation(request);
  queue->cancelAllOperations();
  EXPECT_TRUE(plain->isCancelled());
  queue->setSuspended(false);
  plain->waitUntilFinished();
  EXPECT_FALSE(mainRan);
  EXPECT_TRUE(waitFor([&] { return completed.load(); }));
  ASSERT_TRUE(waitFor([&] { return request->starts == 1; }));
  EXPECT_TRUE(request->startedCancelled);
  // The concurrent operation keeps its place until it reports its end itself.
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(queue->operationCount(), 1u);
  request->finish();
  queue->waitUntilAllOperationsAreFinished();
  worker->cancel();
  EXPECT_TRUE(worker->joinFor(20));
}

TEST(OperationQueueTest, SuspendedQueueStartsByPriorityWhenResumed) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  queue->setSuspended(true);
  std::mutex mutex;
  std::vector<int> order;
  for (int priority : {kOperationQueuePriorityLow, kOperationQueuePriorityNormal, 10, kOperationQueuePriorityVeryLow,
                       kOperationQueuePriorityNormal}) {
    auto op = BlockOperation::create([&, priority] {
      std::lock_guard lock(mutex);
      order.push_back(priority);
    });
    op->setQueuePriority(priority);
    queue->addOperation(op);
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(queue->operationCount(), 5u);
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order, (std::vector<int>{10, 0, 0, -4, -8}));
}

TEST(OperationQueueTest, OperationsSeeTheirQueueAndCanRunTheirThreadsLoop) {
  auto queue = OperationQueue::create();
  queue->setName("offline");
  std::atomic<bool> sawQueue{false};
  std::atomic<bool> ended{false};
  std::atomic<bool> readyToFinish{false};
  Ref<Thread> operationThread;
  std::mutex mutex;
  queue->addOperationWithBlock([&] {
    sawQueue = OperationQueue::currentQueue() == queue;
    {
      std::lock_guard lock(mutex);
      operationThread = Thread::current();
    }
    auto loop = RunLoop::current();
    loop->addSource(RunLoopSource::create(), kDefaultRunLoopMode);
    // Waits in its own loop until another thread wakes it with a perform.
    while (!readyToFinish) loop->runModeBeforeDate(kDefaultRunLoopMode, Date::distantFuture());
    ended = true;
  });
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard lock(mutex);
    return operationThread != nullptr;
  }));
  readyToFinish = true;
  Ref<Thread> target;
  {
    std::lock_guard lock(mutex);
    target = operationThread;
  }
  performOnThread(target, [] {}, false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(ended);
  EXPECT_TRUE(sawQueue);
}

TEST(OperationQueueTest, MainQueueRunsOperationsOnTheMainThread) {
  std::atomic<bool> onMain{false};
  auto op = BlockOperation::create([&] { onMain = RunLoop::isMainThread(); });
  OperationQueue::mainQueue()->addOperation(op);
  EXPECT_TRUE(pumpRunLoopUntil([&] { return op->isFinished(); }, 5.0));
  EXPECT_TRUE(onMain);
}

TEST(OperationQueueTest, AddingTwiceOrAfterFinishingIsRefused) {
  auto queue = OperationQueue::create();
  auto op = BlockOperation::create([] {});
  queue->setSuspended(true);
  queue->addOperation(op);
  EXPECT_THROW(queue->addOperation(op), Exception);
  queue->setSuspended(false);
  op->waitUntilFinished();
  EXPECT_THROW(OperationQueue::create()->addOperation(op), Exception);
}

// Records the order in which operations of one queue run; the queue runs one at a time.
struct RunOrder {
  std::mutex mutex;
  std::vector<std::string> names;
  Ref<BlockOperation> make(const std::string& name) {
    return BlockOperation::create([this, name] {
      std::lock_guard lock(mutex);
      names.push_back(name);
    });
  }
  std::vector<std::string> taken() {
    std::lock_guard lock(mutex);
    return names;
  }
};

// While one operation holds the only slot, the others wait in the queue.
struct GateOperation {
  std::atomic<bool> open{false};
  Ref<BlockOperation> operation = BlockOperation::create([this] {
    while (!open) std::this_thread::sleep_for(1ms);
  });
};

// A queue of width one whose slot a gate holds, so the operations added meanwhile all wait;
// runAll opens the gate and returns the order they ran in.
struct GatedQueue {
  Ref<OperationQueue> queue = OperationQueue::create();
  RunOrder order;
  GateOperation gate;
  GatedQueue() {
    queue->setMaxConcurrentOperationCount(1);
    queue->addOperation(gate.operation);
  }
  std::vector<std::string> runAll() {
    gate.open = true;
    queue->waitUntilAllOperationsAreFinished();
    return order.taken();
  }
};

TEST(OperationQueueTest, OnePriorityStartsInTheOrderAddedAndSkipsWhatIsNotReady) {
  GatedQueue gated;
  auto& order = gated.order;
  auto a = order.make("a"), b = order.make("b"), c = order.make("c"), d = order.make("d");
  // b waits for d, which is added last: a and c go first, then d, then b.
  b->addDependency(d);
  for (const auto& op : {a, b, c, d}) gated.queue->addOperation(op);
  EXPECT_EQ(gated.runAll(), (std::vector<std::string>{"a", "c", "d", "b"}));
}

TEST(OperationQueueTest, PriorityRaisedWhileWaitingIsHonoured) {
  GatedQueue gated;
  auto& order = gated.order;
  auto a = order.make("a"), b = order.make("b"), c = order.make("c");
  for (const auto& op : {a, b, c}) gated.queue->addOperation(op);
  // All waited with one priority; now one stands out, and another rises and falls back in line.
  c->setQueuePriority(kOperationQueuePriorityHigh);
  b->setQueuePriority(kOperationQueuePriorityVeryHigh);
  b->setQueuePriority(kOperationQueuePriorityNormal);
  EXPECT_EQ(gated.runAll(), (std::vector<std::string>{"c", "a", "b"}));
}

TEST(OperationQueueTest, CancelledWaitingOperationIsStartedInItsTurnWithoutItsWork) {
  GatedQueue gated;
  auto& order = gated.order;
  auto a = order.make("a"), b = order.make("b"), c = order.make("c");
  auto never = BlockOperation::create([] {});
  b->addDependency(never);
  for (const auto& op : {a, b, c}) gated.queue->addOperation(op);
  std::atomic<bool> bEnded{false};
  b->setCompletionBlock([&] { bEnded = true; });
  b->cancel();  // ready now, despite the dependency that never ends
  EXPECT_EQ(gated.runAll(), (std::vector<std::string>{"a", "c"}));
  EXPECT_TRUE(b->isFinished());
  EXPECT_TRUE(waitFor([&] { return bEnded.load(); }));
}

TEST(OperationQueueTest, OperationsAddedFromManyThreadsAllRunWithinTheWidth) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(2);
  std::atomic<int> running{0}, most{0}, ran{0};
  auto body = [&] {
    int now = ++running;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::yield();
    --running;
    ++ran;
  };
  std::vector<std::thread> adders;
  for (int t = 0; t < 4; ++t) {
    adders.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        auto op = BlockOperation::create(body);
        // Some with their own priority, so both ways of choosing the next one are taken.
        if ((i + t) % 7 == 0) op->setQueuePriority(kOperationQueuePriorityHigh);
        queue->addOperation(op);
      }
    });
  }
  for (auto& adder : adders) adder.join();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran, 200);
  EXPECT_LE(most, 2);
  EXPECT_EQ(queue->operationCount(), 0u);
  EXPECT_TRUE(queue->operations().empty());
}

// A concurrent operation whose start only hands off, and that ends within its start (as a
// request that fails at once does).
class EndsAtOnceOperation : public Operation {
 public:
  EndsAtOnceOperation(std::vector<int>* order, int number) : order_(order), number_(number) {}
  bool isConcurrent() const override { return true; }
  bool startsOnAnyThread() const override { return true; }
  bool isFinished() const override { return finished_.load(); }
  void start() override {
    thread = std::this_thread::get_id();
    queue = OperationQueue::currentQueue();
    order_->push_back(number_);
    willChangeValueForKey("isFinished");
    finished_ = true;
    didChangeValueForKey("isFinished");
  }
  std::thread::id thread;
  Ref<OperationQueue> queue;

 private:
  std::vector<int>* order_;
  int number_;
  std::atomic<bool> finished_{false};
};

TEST(OperationQueueTest, HandOffOperationsStartOnTheFreeingThreadInOrderWithoutDeepeningTheStack) {
  // Each start ends its operation, which frees the slot for the next: started one inside the
  // other, tens of thousands of them would overflow the stack.
  constexpr int kCount = 50000;
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  queue->setSuspended(true);
  std::vector<int> order;
  std::vector<Ref<EndsAtOnceOperation>> operations;
  for (int i = 0; i < kCount; ++i) {
    operations.push_back(std::make_shared<EndsAtOnceOperation>(&order, i));
    queue->addOperation(operations.back());
  }
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  ASSERT_EQ(order.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(operations.front()->thread, std::this_thread::get_id());
  EXPECT_EQ(operations.back()->thread, std::this_thread::get_id());
  EXPECT_EQ(operations.back()->queue, queue);
}

TEST(OperationQueueTest, OperationsListsWaitingAndRunningInTheOrderAdded) {
  auto queue = OperationQueue::create();
  queue->setMaxConcurrentOperationCount(1);
  queue->setSuspended(true);
  auto waiting = BlockOperation::create([] {});
  waiting->setQueuePriority(kOperationQueuePriorityLow);
  GateOperation gate;
  queue->addOperation(waiting);
  queue->addOperation(gate.operation);
  queue->setSuspended(false);
  // The gate, added second, runs first; the list still follows the order added.
  ASSERT_TRUE(waitFor([&] { return gate.operation->isExecuting(); }));
  EXPECT_EQ(queue->operations(), (std::vector<Ref<Operation>>{waiting, gate.operation}));
  gate.open = true;
  queue->waitUntilAllOperationsAreFinished();
}

// A start that throws (the thread it needed could not be made) leaves nobody to finish the
// operation: it gives up its slot, so the queue's later operations still run, on a worker or
// handed off. The exception is logged.
TEST(OperationQueueTest, AnOperationWhoseStartThrowsGivesUpItsSlot) {
  class FailingStart : public Operation {
   public:
    explicit FailingStart(bool handOff) : handOff_(handOff) {}
    bool isConcurrent() const override { return true; }
    bool startsOnAnyThread() const override { return handOff_; }
    bool isExecuting() const override { return started_.load(); }
    bool isFinished() const override { return false; }
    void start() override {
      started_ = true;
      throw std::runtime_error("no thread for the work");
    }

   private:
    bool handOff_;
    std::atomic<bool> started_{false};
  };
  for (bool handOff : {false, true}) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    queue->addOperation(std::make_shared<FailingStart>(handOff));
    std::atomic<bool> ran{false};
    queue->addOperationWithBlock([&] { ran = true; });
    EXPECT_TRUE(waitFor([&] { return ran.load(); })) << (handOff ? "handed off" : "on a worker");
    EXPECT_TRUE(waitFor([&] { return queue->operationCount() == 0; }));
  }
}

// A block added to a block operation while it runs its blocks runs too; once it has finished,
// adding one is refused.
TEST(OperationQueueTest, ABlockAddedWhileABlockOperationRunsIsRunOrRefused) {
  auto queue = OperationQueue::create();
  std::atomic<bool> addedRan{false};
  Ref<BlockOperation> operation;
  operation = BlockOperation::create([&] { operation->addExecutionBlock([&] { addedRan = true; }); });
  queue->addOperation(operation);
  operation->waitUntilFinished();
  EXPECT_TRUE(addedRan);
  EXPECT_THROW(operation->addExecutionBlock([] {}), Exception);
}

}  // namespace
}  // namespace zv
