#pragma once
// A run-loop source that fires when signalled: the waiting port, wake-up source or "keep the
// loop alive" source of a thread. `signal()` from any thread marks it and wakes every loop it
// is scheduled on; the loop then calls the handler once on its thread (in a mode the source is
// scheduled in). A source with no handler only keeps its loop from running dry.
//
// File-descriptor sources (FileDescriptorSource.h) derive from this class and fire on readiness
// instead of signals.

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Object.h"

namespace zv {

class RunLoop;

class RunLoopSource : public Object {
 public:
  using Handler = std::function<void()>;

  explicit RunLoopSource(Handler handler = nullptr);
  static Ref<RunLoopSource> create(Handler handler = nullptr);
  ~RunLoopSource() override;

  // Marks the source as signalled and wakes the loops it is scheduled on. Any thread.
  virtual void signal();
  bool isSignalled() const { return signalled_.load(); }
  // Unschedules the source from every loop and mode; it never fires again. Any thread; from a
  // thread other than the loop's, a firing the loop has already begun may still call the
  // handler after this returns (as for Timer::invalidate).
  void invalidate();
  bool isValid() const { return valid_.load(); }
  // Whether the source is scheduled in at least one mode of some loop. Any thread.
  bool isScheduled() const;

  // --- Internal, used by RunLoop. ---
  // Called on the loop's thread when the source fires; the base calls the handler.
  virtual void perform();
  // Takes the signal (true when it was set).
  bool consumeSignal() { return signalled_.exchange(false); }
  void attach(const Ref<RunLoop>& loop);
  // Forgets one scheduling (detach) or every scheduling (detachAll) in `loop`.
  void detach(const RunLoop* loop);
  void detachAll(const RunLoop* loop);
  std::vector<Ref<RunLoop>> attachedLoops() const;

 protected:
  std::atomic<bool> signalled_{false};
  std::atomic<bool> valid_{true};

 private:
  Handler handler_;
  // Held only to read or change loops_ (ObjectMutex's rules).
  mutable ObjectMutex mutex_;
  // Loops holding this source, once per scheduled mode; weak so a source never keeps a loop.
  struct Attachment {
    WeakRef<RunLoop> loop;
    const RunLoop* key;
  };
  std::vector<Attachment> loops_;
};

}  // namespace zv
