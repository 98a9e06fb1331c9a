#pragma once
// A thread of the process with a name and a run loop of its own.
//
// `Thread::current()` answers for every thread, also those not started through this class (the
// main thread, std::threads): it makes a Thread object for it on first use. A thread started
// here keeps itself alive while its body runs. Its run loop exists with the object, so no caller
// ever finds it missing: whatever is sent to it before the thread runs (performs, timers,
// sources, stops), also while the system refuses the thread, waits there and is dispatched once
// the thread runs its loop. The loop is marked ended when the body returns, after which performs
// and timers aimed at it are dropped. An exception escaping the body is logged ("[ERROR] ...")
// and ends only that thread.
//
// A thread has finished once it has let go of everything it held, not when its body returns: its
// start closure and every thread-local object it made (its hold on this object and on its run
// loop among them) are destroyed first. So once `join` returns, what the thread kept goes with
// the last outside reference, on the caller's thread: a loop's descriptors, for one, are closed
// when the caller drops the Thread (which keeps the loop) and every other holder of the loop.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Object.h"

namespace zv {

class RunLoop;

class Thread : public Object {
 public:
  using Body = std::function<void()>;

  // A thread that will run `body` once started. Any thread.
  static Ref<Thread> create(Body body, std::string name = {});
  // Creates and starts a thread (startWhenPossible). Any thread.
  static Ref<Thread> detachNew(Body body, std::string name = {});
  // Creates and starts a thread whose body runs its run loop (default mode) for ever: a source
  // that never fires keeps the loop from running dry, and each `stop()` of the loop only ends
  // one turn. It ends only through `cancel()`. Use it as a service thread that others send
  // work to with performOnThread (Perform.h); its loop keeps that work even while the system
  // refuses the thread (startWhenPossible).
  static Ref<Thread> startRunLoopThread(std::string name);

  // The calling thread. Any thread.
  static Ref<Thread> current();
  // The main thread (see RunLoop.h for which one that is). Any thread.
  static Ref<Thread> mainThread();
  static bool isMainThread();
  // Sleeps the calling thread (real time).
  static void sleepForTimeInterval(double seconds);

  explicit Thread(Body body, std::string name);
  ~Thread() override;

  // Starts the thread; raises "NSInvalidArgumentException" when started twice. Any thread.
  // Throws std::system_error when the system refuses a thread now; the thread may then be
  // started again, and its run loop keeps the work already sent to it.
  void start();
  // Starts the thread, now or, when the system refuses it now, as soon as it allows: the start
  // is retried off the calling thread (ThreadStartRetry.h). Never throws for a refusal.
  void startWhenPossible();
  // Marks the thread cancelled and stops its run loop; a run-loop thread then ends. A plain body
  // reads isCancelled() itself. Any thread.
  void cancel();
  bool isCancelled() const { return cancelled_.load(); }
  // Started and not finished (see above).
  bool isExecuting() const { return executing_.load() && !exit_->finished.load(); }
  // Ended and let go of everything it held (see above).
  bool isFinished() const { return exit_->finished.load(); }
  bool isMainThreadObject() const;

  // Waits until the thread has finished: its body has returned and it has let go of everything it
  // held (see above). Raises "NSInternalInconsistencyException" when called on the thread itself.
  // A thread that was never started counts as finished only after start; in a child made by fork,
  // a thread of the parent's counts as finished at once.
  void join();
  // As join, for at most `seconds`; true when the thread finished.
  bool joinFor(double seconds);

  std::string name() const;
  // Names the thread (also for the kernel, first 15 bytes). Call on the thread or before start.
  void setName(std::string name);
  // The thread's run loop: never null. It exists from creation (without descriptors until the
  // thread starts; see above), is the loop the body runs, and is kept after the thread ends (then
  // marked ended). For adopted threads, their own loop. Any thread.
  Ref<RunLoop> runLoop() const;

  std::string description() const override;

  // --- Internal. ---
  // The Thread object of the calling thread if one exists (no creation).
  static Ref<Thread> currentIfExists();
  void bindRunLoop(const Ref<RunLoop>& loop);

 private:
  void main();
  void bindRunLoopLocked(const Ref<RunLoop>& loop);

  // In a forked child, with every fork lock held and no other thread (ForkHandlers.h).
  void startAfreshInForkedChild();

  // What joiners wait on. The running thread shares it, so it can tell them it has finished after
  // it has let go of this object.
  struct Exit {
    ObjectMutex mutex;
    std::condition_variable changed;
    std::atomic<bool> finished{false};
    void markFinished();
    // Waits until finished, for at most `seconds` when given; true when finished.
    bool waitUntilFinished(std::optional<double> seconds);
  };

  Body body_;
  mutable ForkMutex mutex_;
  const std::shared_ptr<Exit> exit_ = std::make_shared<Exit>();
  std::string name_;
  Ref<RunLoop> runLoop_;
  std::atomic<bool> started_{false};
  std::atomic<bool> executing_{false};
  std::atomic<bool> cancelled_{false};
  bool adopted_ = false;
};

}  // namespace zv
