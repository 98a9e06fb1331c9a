#pragma once
// A queue that starts its operations when they are ready, highest queue priority first (then in
// the order added), at most `maxConcurrentOperationCount` at a time (-1: no limit). Each start
// happens on a worker thread of the queue (a Thread with its own run loop, which the operation
// may run while it waits), except that a concurrent operation whose start only hands its work
// elsewhere (`startsOnAnyThread`) is started on the thread that adds it or frees its slot; the
// main queue starts on the main thread. An operation occupies its slot until it is finished, so a concurrent
// operation whose `start()` returned at once keeps the slot until it announces "isFinished".
// Cancelled operations are started too (see Operation.h). A suspended queue starts nothing new.
//
// The queue retains its operations until they finish. Every member may be called from any thread.
// Subclasses may override addOperation, cancelAllOperations and setSuspended and call the base.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/runloop/Operation.h"

namespace zv {

inline constexpr int kOperationQueueDefaultMaxConcurrentOperationCount = -1;

class OperationQueue : public Object {
 public:
  OperationQueue();
  ~OperationQueue() override;
  static Ref<OperationQueue> create();
  // The queue that runs its operations on the main thread, one at a time, while the main run
  // loop runs (in the common modes).
  static Ref<OperationQueue> mainQueue();
  // The queue whose operation the calling thread is starting or running, else null (the main
  // queue on the main thread).
  static Ref<OperationQueue> currentQueue();

  // Raises "NSInvalidArgumentException" for an operation that is already in a queue, or is
  // executing or finished.
  virtual void addOperation(const Ref<Operation>& operation);
  void addOperations(const std::vector<Ref<Operation>>& operations, bool waitUntilFinished);
  void addOperationWithBlock(std::function<void()> block);

  // The operations not yet finished, in the order added.
  std::vector<Ref<Operation>> operations() const;
  std::size_t operationCount() const;

  int maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(int count);
  bool isSuspended() const;
  virtual void setSuspended(bool suspended);
  // Cancels every operation in the queue (each still gets started).
  virtual void cancelAllOperations();
  // Blocks until the queue holds no operation. Must not be called from one of its operations,
  // nor on the main thread for the main queue (its operations need the main loop). As with
  // Operation::waitUntilFinished, completion blocks and the workers' release of the operations
  // may still be under way on other threads when this returns.
  void waitUntilAllOperationsAreFinished();

  std::string name() const;
  void setName(std::string name);

  struct State;

 private:
  explicit OperationQueue(bool onMainThread);
  std::shared_ptr<State> state_;
};

}  // namespace zv
