#pragma once
// What the platform layer does when the process forks without exec. The child of such a fork has
// only the forking thread: a lock another thread held at the fork would stay held there for ever,
// and state that refers to the parent's threads (queued jobs, a drain under way, a run loop's
// descriptors) is the parent's. So every process-wide lock, pool, thread slot and descriptor of
// the platform layer joins one set of fork handlers, installed when the program starts:
//
// - before the fork, every lock that joined is taken, level by level in ForkLockLevel's order, so
//   the fork happens while no other thread is inside any of them;
// - in the parent, they are released again, nothing else changes;
// - in the child, forkGeneration() is advanced, then each participant's child handler runs (level
//   by level, with every lock still held), then every lock is released.
//
// Child handlers run with every lock of every level held: they take no lock that joined (not even
// by logging), and make no thread. They forget the parent's work without destroying it (its
// destructors could reach state of threads the child does not have).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace zv {

// The order in which the fork handlers take the locks. Code that holds a lock of one level takes
// only locks of higher levels while holding it (and never two of the same level): that is what
// lets the handlers take them all without waiting for ever.
enum class ForkLockLevel : int {
  NetworkThreadSlot = 5,   // the HTTP client's network thread (starts a run-loop thread)
  DelayThreadSlot = 10,    // the thread of delayed dispatch work
  MainThreadObject = 20,   // the Thread object of the main thread
  ThreadObject = 25,       // each Thread object
  MainRunLoopSlot = 30,    // which loop is the main loop (also refreshes the thread ids)
  SerialQueue = 40,        // each serial dispatch queue
  OperationQueue = 50,     // each operation queue
  WorkerPool = 60,         // each worker pool
  ReachabilityTarget = 65,  // each reachability target (schedules on a run loop)
  RunLoop = 70,            // each run loop
  ReachabilityProvider = 71,  // which reachability provider is installed (makes the system one)
  ReachabilityWatcher = 72,   // the system provider's socket and watcher thread
  StandardUserDefaults = 73,  // the standard user defaults object
  UserDefaultsFiles = 74,     // which defaults store serves which file
  UserDefaultsStore = 75,     // each defaults store
  UserDefaultsSaver = 76,     // the delayed saver's queue (starts its thread)
  CredentialStorage = 77,     // takes the keychain
  Pasteboard = 78,            // each named pasteboard (takes the registry)
  ThreadStartRetry = 80,   // the supervisor of refused thread starts
  ThreadCreation = 81,     // a thread being made and detached (startDetachedThread)
  Keychain = 82,           // leaves from here on: they take no other lock but later leaves
  PasteboardRegistry = 83,
  MainBundle = 84,         // the main bundle and the bundles by path
  Bundle = 85,             // each bundle
  ApplicationEnvironment = 86,
  NotificationCenter = 87,     // each notification centre's observers
  ReachabilityObservers = 88,  // each reachability provider's observers
  LocationEnvironment = 89,
  ConnectionPool = 90,
  Cookies = 91,
  TLSContexts = 92,
  ProxySettings = 93,
  ImageResolver = 94,
  ResourceFolders = 95,
  ClassRegistry = 96,
  ClassNames = 97,
  Clock = 98,
  LogSink = 99,
  WebViewLoader = 100,     // these take no lock at all, not even the log's
  BackgroundTasks = 101,
  ObjectLocks = 110,       // the shared mutexes of ObjectMutex: taken after every other lock
};

// How many forks (without exec) this process came from; advanced in the child before any child
// handler runs. Any thread.
unsigned forkGeneration();

// Joins the fork handlers for state that lives as long as the process. `prepare` takes the
// state's lock, `parent` releases it; `child` makes the state fit for the child (optional: run
// with every lock held) and `childUnlock` then releases the lock. Not for read-write locks: one
// taken for writing knows its writer by a thread id that the child's thread does not have, so the
// child cannot release it.
void joinForkHandlers(ForkLockLevel level, std::function<void()> prepare, std::function<void()> parent,
                      std::function<void()> child, std::function<void()> childUnlock);

// A mutex held across every fork (see above), for state that may come and go. Optionally it
// runs a handler in the child, with the mutex held. Meets Lockable; `native()` is for condition
// variables. The owner's destructor calls `leaveForks()` before it tears down what the child
// handler touches.
class ForkMutex {
 public:
  explicit ForkMutex(ForkLockLevel level, std::function<void()> inChild = {});
  ~ForkMutex();
  ForkMutex(const ForkMutex&) = delete;
  ForkMutex& operator=(const ForkMutex&) = delete;

  // Sets the child handler (replacing any). Not with the mutex held.
  void onChildAfterFork(std::function<void()> inChild);
  // Stops taking part; waits for a fork under way. Not with the mutex held. Idempotent.
  void leaveForks();

  void lock() { native().lock(); }
  void unlock() { native().unlock(); }
  bool try_lock() { return native().try_lock(); }
  std::mutex& native() const;

  struct Node;

 private:
  std::shared_ptr<Node> node_;
};

// The lock of one object among many that come and go (a run-loop source, a timer, an operation,
// a registered class): joining the fork handlers for each would cost every such object a
// registration, and would let a steady stream of them keep a fork from ever finding the set
// unchanged. So these objects share a fixed set of mutexes, picked by the lock's address, that
// take part in the fork handlers as one participant after every other lock
// (ForkLockLevel::ObjectLocks): a fork waits until no other thread holds one, and the child gets
// them all free. Two objects may share a mutex, hence the rules for code that holds one: it takes
// no other lock that joined the fork handlers, never holds two ObjectMutexes, and lets nothing be
// destroyed meanwhile (a destructor may take locks). Meets Lockable; `native()` is for condition
// variables.
class ObjectMutex {
 public:
  ObjectMutex();
  ObjectMutex(const ObjectMutex&) = delete;
  ObjectMutex& operator=(const ObjectMutex&) = delete;

  void lock() { mutex_->lock(); }
  void unlock() { mutex_->unlock(); }
  bool try_lock() { return mutex_->try_lock(); }
  std::mutex& native() const { return *mutex_; }

 private:
  std::mutex* mutex_;
};

}  // namespace zv
