#pragma once
// Queues of work items: the main queue (drained by the main run loop in the common modes),
// global concurrent queues by priority (backed by worker threads that start on demand and end
// after a while idle), and serial queues with labels (one item at a time, in submission order,
// on worker threads of their own, so global items waiting on a serial queue never starve it).
//
// Every member may be called from any thread. Exceptions thrown by an item are logged
// ("[ERROR] ...") and the queue goes on. Items still queued keep their queue alive.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Object.h"

namespace zv {

enum class DispatchQueuePriority { High, Default, Low, Background };

class DispatchQueue : public Object {
 public:
  enum class Kind { Main, Global, Serial };

  // The queue of the main thread. Its items run only while the main run loop runs.
  static Ref<DispatchQueue> mainQueue();
  // The process-wide concurrent queue of a priority.
  static Ref<DispatchQueue> globalQueue(DispatchQueuePriority priority = DispatchQueuePriority::Default);
  // A new serial queue.
  static Ref<DispatchQueue> createSerial(std::string label);
  // The queue whose item the calling thread is running (the main queue on the main thread
  // outside items), else null.
  static Ref<DispatchQueue> currentQueue();

  DispatchQueue(Kind kind, std::string label, DispatchQueuePriority priority);
  ~DispatchQueue() override;

  const std::string& label() const { return label_; }
  Kind kind() const { return kind_; }
  bool isSerial() const { return kind_ != Kind::Global; }

  // Queues `work` and returns at once.
  void async(std::function<void()> work);
  // Queues `work` and waits until it has run. On the main queue from the main thread it runs
  // inline; on a serial queue from inside one of its own items (which would wait for itself for
  // ever), also through a global queue's sync run inside such an item, it raises
  // "NSInternalInconsistencyException". What work run inline (main queue on the main thread,
  // global queues) raises reaches the caller.
  void sync(std::function<void()> work);
  // Queues `work` after `delaySeconds` (a timer, so measured on Clock::current()).
  void after(double delaySeconds, std::function<void()> work);

  std::string description() const override;

  struct SerialState;

 private:
  void runItem(const std::function<void()>& work);
  void drainSerial();

  const Kind kind_;
  const std::string label_;
  const DispatchQueuePriority priority_;
  std::shared_ptr<SerialState> serial_;
};

// Runs `work` exactly once per token, process-wide; concurrent callers wait for the first.
using DispatchOnceToken = std::once_flag;
void dispatchOnce(DispatchOnceToken& token, const std::function<void()>& work);

}  // namespace zv
