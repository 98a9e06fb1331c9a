// A process that forks (without exec) while the system services and reachability are in use, and
// checks what the child gets: exits 0 and prints "PASS" when the child and the parent both did
// what they should, prints what went wrong and exits 1 otherwise, exits 77 when the scenario cannot
// run here (support/ForkChild.h).
//
// Arguments: the scenario, then a folder of its own for the files (home, shared root).
//   busy [rounds]  forks again and again while other threads keep user defaults, pasteboards, a
//                  notification centre, a reachability provider and a target's callback busy;
//                  each child uses them all;
//   after-fork     a child changes user defaults and waits for the delayed save, replaces the
//                  system reachability provider and asks for its temporary folder; the parent
//                  goes on unaffected.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/net/ReachabilityProvider.h"
#include "platform/net/ReachabilityTarget.h"
#include "platform/runloop/Thread.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/Pasteboard.h"
#include "platform/system/UserDefaults.h"
#include "support/ForkChild.h"

namespace {

using namespace zv;
namespace fs = std::filesystem;

using testing::endChild;
using testing::passed;
using testing::waitForChild;
using testing::waitUntil;

// The value of `key` in the property-list file, as text; empty when absent.
std::string savedValue(const fs::path& file, const char* key) {
  auto values = dyn<Dictionary>(storage::readPropertyList(file));
  if (!values) return {};
  return values->stringForKey(key).value_or("");
}

bool usesEverything(const fs::path& home, const std::shared_ptr<net::FakeReachabilityProvider>& fake,
                    const Ref<net::ReachabilityTarget>& target, const Ref<RunLoop>& loop) {
  // The target delivers on a loop of the parent's: unscheduling neither hangs nor fails.
  if (!target->unscheduleFromRunLoop(loop, kDefaultRunLoopMode)) return false;
  auto defaults = UserDefaults::makeWithFile(home / "child.plist");
  defaults->setObject(box("child"), "who");
  if (!defaults->synchronize() || savedValue(home / "child.plist", "who") != "child") return false;
  for (const char* name : {"fork.a", "fork.b", "fork.child"}) {
    if (!Pasteboard::pasteboardWithName(name, true)->setString("child")) return false;
  }
  Pasteboard::generalPasteboard()->setString("child");
  if (Pasteboard::generalPasteboard()->string() != "child") return false;
  auto center = NotificationCenter::defaultCenter();
  bool heard = false;
  auto token = center->addObserverForName("fork.child", nullptr, [&](const Ref<Notification>&) { heard = true; });
  center->postNotificationName("fork.child");
  center->removeObserver(token);
  if (!heard) return false;
  bool told = false;
  auto observer = fake->addObserver([&] { told = true; });
  fake->setDefaultFlags(net::kReachabilityFlagReachable);
  fake->removeObserver(observer);
  return told && net::ReachabilityProvider::shared()->flagsFor({}).has_value();
}

int forkWhileBusy(const fs::path& home, int rounds) {
  if (testing::sanitizedForAddresses()) return testing::notWithTheAddressChecker();
  setLogSink([](std::string_view) {});
  auto fake = std::make_shared<net::FakeReachabilityProvider>();
  net::ReachabilityProvider::install(fake);
  std::atomic<bool> stop{false};
  std::atomic<int> running{0};
  // Detached, as the platform's own threads are: the thread checker cannot tell a joinable
  // thread of the parent from a new one of the child that reuses its stack.
  auto busy = [&](auto body) {
    ++running;
    std::thread([&, body] {
      for (unsigned n = 0; !stop; ++n) body(n);
      --running;
    }).detach();
  };
  busy([&](unsigned n) {
    auto defaults = UserDefaults::makeWithFile(home / (n % 2 ? "busy-a.plist" : "busy-b.plist"));
    defaults->setObject(box(static_cast<long long>(n)), "n");
    if (n % 16 == 0) defaults->synchronize();
    UserDefaults::standardUserDefaults()->objectForKey("n");
  });
  busy([&](unsigned n) {
    // Kept in files: a change holds the board's lock while it reads and writes.
    auto board = Pasteboard::pasteboardWithName(n % 2 ? "fork.a" : "fork.b", true);
    board->setPersistent(true);
    board->setString(std::to_string(n));
    Pasteboard::generalPasteboard()->setString(std::to_string(n));
    if (n % 32 == 0) Pasteboard::removePasteboardWithName("fork.a");
  });
  busy([&](unsigned) {
    auto center = NotificationCenter::defaultCenter();
    auto token = center->addObserverForName("fork.busy", nullptr, [](const Ref<Notification>&) {});
    center->postNotificationName("fork.busy");
    center->removeObserver(token);
  });
  busy([&](unsigned n) {
    auto token = fake->addObserver([] {});
    fake->setDefaultFlags(n % 2 ? net::kReachabilityFlagReachable : 0u);
    fake->removeObserver(token);
    net::ReachabilityProvider::shared()->flagsFor({});
  });
  // A target whose callback runs (a little while) on a loop thread at each change of the flags.
  auto loopThread = Thread::startRunLoopThread("fork.reachability");
  auto loop = loopThread->runLoop();
  auto target = net::ReachabilityTarget::withHostName("fork.example");
  target->setCallback([](std::uint32_t) { std::this_thread::sleep_for(std::chrono::microseconds(200)); });
  if (!target->scheduleInRunLoop(loop, kDefaultRunLoopMode)) {
    std::puts("the target could not be scheduled");
    return 1;
  }
  int failures = 0;
  for (int round = 0; round < rounds && failures == 0; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(30);
      endChild(usesEverything(home, fake, target, loop), "the services did not work");
    }
    if (waitForChild(pid) != 0) {
      std::printf("round %d of %d failed\n", round + 1, rounds);
      ++failures;
    }
  }
  stop = true;
  waitUntil([&] { return running.load() == 0; });
  target->unscheduleFromRunLoop(loop, kDefaultRunLoopMode);
  return failures == 0 ? passed() : 1;
}

// The eventfd counters of this process, by descriptor.
std::map<int, std::string> eventCounters() {
  std::map<int, std::string> counters;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error).string() != "anon_inode:[eventfd]") continue;
    const int fd = std::atoi(entry.path().filename().c_str());
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
    for (std::string line; std::getline(info, line);) {
      if (line.rfind("eventfd-count:", 0) == 0) counters[fd] = line.substr(14);
    }
  }
  return counters;
}

int childAfterFork(const fs::path& home) {
  const fs::path file = home / "after.plist";
  auto defaults = UserDefaults::makeWithFile(file);
  defaults->setObject(box("parent"), "who");  // starts the delayed saver
  if (!waitUntil([&] { return savedValue(file, "who") == "parent"; })) {
    std::puts("the parent's change was never saved");
    return 1;
  }
  auto system = net::ReachabilityProvider::shared();
  system->flagsFor({});
  const fs::path parentFolder = ApplicationEnvironment::shared().processTemporaryDirectory();
  const auto countersBefore = eventCounters();

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(30);
    // A change in the child is saved by a saver of the child's own.
    defaults->setObject(box("child"), "child");
    if (!waitUntil([&] { return savedValue(file, "child") == "child"; })) endChild(false, "a change was never saved");
    // The parent's provider is let go and a new one made: neither waits for the parent's
    // watcher nor touches its descriptors.
    system->flagsFor({});
    system.reset();
    net::ReachabilityProvider::install(std::make_shared<net::FakeReachabilityProvider>());
    net::ReachabilityProvider::install(nullptr);
    if (!net::ReachabilityProvider::shared()->flagsFor({})) endChild(false, "the child's own provider reads no flags");
    const fs::path folder = ApplicationEnvironment::shared().processTemporaryDirectory();
    endChild(folder != parentFolder && folder.parent_path() == parentFolder.parent_path(),
             "the child uses the parent's temporary folder");
  }
  if (const int code = waitForChild(pid); code != 0) return code;

  // Nothing the child did woke or stopped one of the parent's threads.
  for (const auto& [fd, count] : eventCounters()) {
    auto before = countersBefore.find(fd);
    if (before != countersBefore.end() && before->second != count) {
      std::printf("the child signalled the parent's eventfd %d (%s, was %s)\n", fd, count.c_str(),
                  before->second.c_str());
      return 1;
    }
  }
  // The parent's folder is still its own, and still marked alive.
  const int owner = ::open((parentFolder / ".owner").c_str(), O_RDONLY | O_CLOEXEC);
  const bool stillLocked = owner >= 0 && ::flock(owner, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (owner >= 0) ::close(owner);
  if (!stillLocked || ApplicationEnvironment::shared().processTemporaryDirectory() != parentFolder) {
    std::puts("the parent lost its temporary folder or its lock");
    return 1;
  }
  // And the parent's saver still saves.
  defaults->setObject(box("again"), "who");
  if (!waitUntil([&] { return savedValue(file, "who") == "again"; })) {
    std::puts("the parent's saver stopped saving");
    return 1;
  }
  return passed();
}

}  // namespace

int main(int argc, char** argv) {
  testing::letForkedChildrenMakeThreads(argv);
  if (argc < 3) {
    std::puts("usage: fork_system_child SCENARIO FOLDER [ROUNDS]");
    return 2;
  }
  const std::string scenario = argv[1];
  const fs::path home = argv[2];
  ::setenv("ZV_SHARED_ROOT", (home / "shared").c_str(), 1);
  ApplicationEnvironment::shared().setHomeDirectory(home / "home");
  if (scenario == "busy") return forkWhileBusy(home, argc > 3 ? std::atoi(argv[3]) : 20);
  if (scenario == "after-fork") return childAfterFork(home);
  std::printf("unknown scenario %s\n", scenario.c_str());
  return 2;
}
