// A process refused new threads (a real RLIMIT_NPROC) when it first changes user defaults: the
// change must not throw, and once threads are given again the delayed saver writes it, and a
// later change too, without synchronize() or exit. Argument: the defaults file. Prints "PASS" and
// exits 0, else says what went wrong and exits 1; exits 77 when no limit can be imposed.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <thread>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Values.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/UserDefaultsStore.h"
#include "support/ThreadLimit.h"

namespace {

bool savedValue(const char* path, const char* key, const char* value) {
  auto bytes = zv::storage::readFile(path);
  if (!bytes) return false;
  auto saved = zv::dyn<zv::Dictionary>(zv::storage::parsePropertyList(*bytes));
  auto found = saved ? saved->stringForKey(key) : std::nullopt;
  return found && *found == value;
}

template <typename Condition>
bool waitUntil(Condition condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  if (argc < 2) return 2;
  const char* path = argv[1];
  // The limit may make this process another user: it must still write beside the file.
  const auto folder = std::filesystem::path(path).parent_path();
  ::chmod(folder.c_str(), 0777);
  testing::ThreadLimit limit;
  if (!limit.impose()) return 77;
  auto store = UserDefaultsStore::forFile(path);
  try {
    store->setObject(box("first"), "a");
  } catch (const std::exception& error) {
    std::printf("setObject threw: %s\n", error.what());
    ::_exit(1);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  limit.lift();
  if (!waitUntil([&] { return savedValue(path, "a", "first"); })) {
    std::puts("the change made while no thread could be made was never saved");
    ::_exit(1);
  }
  store->setObject(box("second"), "b");
  if (!waitUntil([&] { return savedValue(path, "b", "second"); })) {
    std::puts("a later change was never saved");
    ::_exit(1);
  }
  std::puts("PASS");
  std::fflush(stdout);
  // Without the save at exit, which would hide a saver that never ran.
  ::_exit(0);
}
