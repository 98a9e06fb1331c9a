#include "platform/foundation/ForkHandlers.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <vector>

namespace zv {

struct ForkMutex::Node {
  ForkLockLevel level;
  std::function<void()> prepare;
  std::function<void()> parent;
  std::function<void()> child;
  std::function<void()> childUnlock;
  // For a ForkMutex: the mutex itself and its child handler (guarded by the mutex).
  std::mutex mutex;
  std::function<void()> inChild;
  // Where the registry keeps it, while it takes part (guarded by the registry's mutex).
  std::list<std::shared_ptr<ForkMutex::Node>>::iterator place;
  bool joined = false;
};

namespace {

using Node = ForkMutex::Node;

std::atomic<unsigned> gForkGeneration{0};

struct Registry {
  // Taken last by a fork, after every participant's lock, and held until the fork is done.
  // Joining and leaving take it under any participant's lock.
  std::mutex mutex;
  std::list<std::shared_ptr<Node>> nodes;
  // Counts joins and leaves, so a fork knows whether the set changed while it took the locks.
  std::uint64_t version = 0;
  // The participants whose locks a fork under way holds, in the order taken. The shared
  // pointers keep a node that leaves meanwhile alive until the fork is done.
  std::vector<std::shared_ptr<Node>> held;
};

void prepareFork();
void parentAfterFork();
void childAfterFork();

Registry& registry() {
  // Never destroyed: threads may still fork while the process exits.
  static Registry& instance = *[] {
    auto* made = new Registry;
    ::pthread_atfork(prepareFork, parentAfterFork, childAfterFork);
    return made;
  }();
  return instance;
}

// Installed when the program starts, not at the first participant: a fork's child must know it
// is one (forkGeneration) whatever the parent used before.
[[maybe_unused]] const bool gHandlersInstalled = (registry(), true);

void prepareFork() {
  auto& r = registry();
  for (;;) {
    std::vector<std::shared_ptr<Node>> nodes;
    std::uint64_t version = 0;
    {
      std::lock_guard lock(r.mutex);
      nodes.assign(r.nodes.begin(), r.nodes.end());
      version = r.version;
    }
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const std::shared_ptr<Node>& a, const std::shared_ptr<Node>& b) { return a->level < b->level; });
    for (const auto& node : nodes) node->prepare();
    r.mutex.lock();
    if (r.version == version) {
      r.held = std::move(nodes);
      return;  // the registry's mutex stays held until the fork is done
    }
    // Something joined or left while the locks were taken (a new one may be held by now): again.
    r.mutex.unlock();
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) (*it)->parent();
  }
}

void parentAfterFork() {
  auto& r = registry();
  auto held = std::move(r.held);
  r.held.clear();
  r.mutex.unlock();
  for (auto it = held.rbegin(); it != held.rend(); ++it) (*it)->parent();
}

void childAfterFork() {
  gForkGeneration.fetch_add(1);
  auto& r = registry();
  auto held = std::move(r.held);
  r.held.clear();
  for (const auto& node : held) {
    if (node->child) node->child();
  }
  for (auto it = held.rbegin(); it != held.rend(); ++it) (*it)->childUnlock();
  r.mutex.unlock();
}

void join(const std::shared_ptr<Node>& node) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  node->place = r.nodes.insert(r.nodes.end(), node);
  node->joined = true;
  ++r.version;
}

}  // namespace

unsigned forkGeneration() { return gForkGeneration.load(); }

void joinForkHandlers(ForkLockLevel level, std::function<void()> prepare, std::function<void()> parent,
                      std::function<void()> child, std::function<void()> childUnlock) {
  auto node = std::make_shared<Node>();
  node->level = level;
  node->prepare = std::move(prepare);
  node->parent = std::move(parent);
  node->child = std::move(child);
  node->childUnlock = std::move(childUnlock);
  join(node);
}

ForkMutex::ForkMutex(ForkLockLevel level, std::function<void()> inChild) : node_(std::make_shared<Node>()) {
  Node* node = node_.get();
  node->level = level;
  node->inChild = std::move(inChild);
  node->prepare = [node] { node->mutex.lock(); };
  node->parent = [node] { node->mutex.unlock(); };
  node->child = [node] {
    if (node->inChild) node->inChild();
  };
  node->childUnlock = [node] { node->mutex.unlock(); };
  join(node_);
}

ForkMutex::~ForkMutex() { leaveForks(); }

void ForkMutex::onChildAfterFork(std::function<void()> inChild) {
  std::lock_guard lock(node_->mutex);
  node_->inChild = std::move(inChild);
}

void ForkMutex::leaveForks() {
  {
    // Waits for a fork that holds the mutex; after this no child handler reaches the owner.
    std::lock_guard lock(node_->mutex);
    node_->inChild = nullptr;
  }
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  if (!node_->joined) return;
  node_->joined = false;
  r.nodes.erase(node_->place);
  ++r.version;
}

std::mutex& ForkMutex::native() const { return node_->mutex; }

namespace {

// The mutexes ObjectMutex hands out: constant-initialised, so usable before any constructor runs.
// Few, since a fork holds them all at once with every other participant's lock (the thread
// checker follows at most 64 locks held by one thread); each is held only for a few loads and
// stores.
constexpr std::size_t kObjectMutexCount = 16;
struct alignas(64) SharedObjectMutex {
  std::mutex mutex;
};
SharedObjectMutex gObjectMutexes[kObjectMutexCount];

void lockObjectMutexes() {
  for (auto& shared : gObjectMutexes) shared.mutex.lock();
}

void unlockObjectMutexes() {
  for (auto& shared : gObjectMutexes) shared.mutex.unlock();
}

// One participant for all of them, taken in one order by every fork; no thread holds two, so no
// holder waits for the fork in turn.
[[maybe_unused]] const bool gObjectMutexesJoined =
    (joinForkHandlers(ForkLockLevel::ObjectLocks, lockObjectMutexes, unlockObjectMutexes, nullptr, unlockObjectMutexes),
     true);

}  // namespace

ObjectMutex::ObjectMutex() {
  // Neighbouring objects (allocations a few dozen bytes apart) should not share a mutex.
  const auto address = reinterpret_cast<std::uintptr_t>(this);
  const std::uint64_t mixed = static_cast<std::uint64_t>(address >> 4) * 0x9E3779B97F4A7C15ull;
  static_assert(kObjectMutexCount == 16, "the top four bits pick the mutex");
  mutex_ = &gObjectMutexes[mixed >> 60].mutex;
}

}  // namespace zv
