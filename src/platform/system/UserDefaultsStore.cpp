#include "platform/system/UserDefaultsStore.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyList.h"

namespace zv {

namespace fs = std::filesystem;

namespace {

// Both singletons below are allocated once and never destroyed: the saver thread is detached and
// may still be waiting on them while the process runs its exit handlers.
//
// An entry lives from the moment its store is made until that store's destructor has finished its
// final save, so an entry whose store can no longer be locked means "closing": a new store for the
// path waits for it rather than read the file before that save lands.
struct StoreRegistry {
  struct Entry {
    std::weak_ptr<UserDefaultsStore> store;
    const UserDefaultsStore* owner;
  };
  std::mutex mutex;
  std::condition_variable closed;
  std::map<std::string, Entry> stores;
};

StoreRegistry& registry() {
  static StoreRegistry* instance = new StoreRegistry;
  return *instance;
}

void saveAllPending() {
  std::vector<std::shared_ptr<UserDefaultsStore>> stores;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& [path, entry] : r.stores)
      if (auto store = entry.store.lock()) stores.push_back(std::move(store));
  }
  for (auto& store : stores) store->saveIfPending();
}

class DelayedSaver {
 public:
  static DelayedSaver& shared() {
    static DelayedSaver* instance = new DelayedSaver;
    return *instance;
  }

  void schedule(std::weak_ptr<UserDefaultsStore> store) {
    std::lock_guard lock(mutex_);
    auto due = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(UserDefaultsStore::kSaveDelaySeconds));
    queue_.emplace_back(due, std::move(store));
    if (!started_) {
      started_ = true;
      std::atexit(saveAllPending);
      std::thread([this] { run(); }).detach();
    }
    wake_.notify_one();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (queue_.empty()) {
        wake_.wait(lock);
        continue;
      }
      // Delays are all equal, so the queue is in due order.
      auto due = queue_.front().first;
      if (std::chrono::steady_clock::now() < due) {
        wake_.wait_until(lock, due);
        continue;
      }
      auto store = std::move(queue_.front().second);
      queue_.pop_front();
      lock.unlock();
      if (auto strong = store.lock()) strong->saveIfPending();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::weak_ptr<UserDefaultsStore>>> queue_;
  bool started_ = false;
};

std::string registryKey(const fs::path& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  return (error ? path : absolute).lexically_normal().string();
}

}  // namespace

std::shared_ptr<UserDefaultsStore> UserDefaultsStore::forFile(const fs::path& path) {
  std::string key = registryKey(path);
  auto& r = registry();
  std::unique_lock lock(r.mutex);
  for (;;) {
    auto found = r.stores.find(key);
    if (found == r.stores.end()) break;
    if (auto existing = found->second.store.lock()) return existing;
    r.closed.wait(lock);
  }
  // Loading under the registry's lock keeps a second caller from loading the same file at once.
  auto store = std::make_shared<UserDefaultsStore>(fs::path(key));
  r.stores.emplace(key, StoreRegistry::Entry{store, store.get()});
  return store;
}

std::size_t UserDefaultsStore::openFileCount() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.stores.size();
}

UserDefaultsStore::UserDefaultsStore(fs::path path)
    : path_(std::move(path)), persistent_(MutableDictionary::make()), registered_(MutableDictionary::make()) {
  // The folder is made now so that a delayed save can tell a folder removed since (a test's
  // temporary home, usually) from one that never existed.
  std::error_code error;
  fs::create_directories(path_.parent_path(), error);
  load();
}

UserDefaultsStore::~UserDefaultsStore() {
  {
    std::lock_guard lock(mutex_);
    if (dirty_) saveLocked(false);
  }
  auto& r = registry();
  {
    std::lock_guard lock(r.mutex);
    auto found = r.stores.find(path_.string());
    if (found == r.stores.end() || found->second.owner != this) return;
    r.stores.erase(found);
  }
  r.closed.notify_all();
}

void UserDefaultsStore::load() {
  std::error_code existsError;
  if (!fs::exists(path_, existsError)) return;
  Ref<Error> error;
  ObjectPtr root = storage::readPropertyList(path_, &error);
  if (auto dictionary = dyn<Dictionary>(root)) {
    persistent_->addEntriesFromDictionary(*dictionary);
    return;
  }
  std::string reason = error ? error->localizedDescription() : "the root is not a dictionary";
  logError("user defaults file " + path_.string() + " cannot be read (" + reason +
           "); it is left in place and the defaults start empty");
  corruptFileInPlace_ = true;
}

ObjectPtr UserDefaultsStore::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  if (auto value = persistent_->objectForKey(key)) return value;
  return registered_->objectForKey(key);
}

void UserDefaultsStore::setObject(ObjectPtr value, std::string_view key) {
  bool schedule;
  {
    std::lock_guard lock(mutex_);
    if (value)
      persistent_->setObject(std::move(value), key);
    else
      persistent_->removeObjectForKey(key);
    dirty_ = true;
    schedule = !saveScheduled_;
    saveScheduled_ = true;
  }
  if (schedule) DelayedSaver::shared().schedule(weak_from_this());
}

void UserDefaultsStore::registerDefaults(const Dictionary& defaults) {
  std::lock_guard lock(mutex_);
  registered_->addEntriesFromDictionary(defaults);
}

Ref<Dictionary> UserDefaultsStore::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  auto merged = MutableDictionary::make();
  merged->addEntriesFromDictionary(*registered_);
  merged->addEntriesFromDictionary(*persistent_);
  return std::dynamic_pointer_cast<Dictionary>(merged->copy());
}

bool UserDefaultsStore::synchronize() {
  std::lock_guard lock(mutex_);
  if (!dirty_) return true;
  return saveLocked(true);
}

void UserDefaultsStore::saveIfPending() {
  std::lock_guard lock(mutex_);
  saveScheduled_ = false;
  if (dirty_) saveLocked(false);
}

bool UserDefaultsStore::setCorruptFileAsideLocked() {
  std::error_code error;
  if (!fs::exists(path_, error)) {
    corruptFileInPlace_ = false;
    return true;
  }
  fs::path aside = path_.string() + ".corrupt";
  for (int n = 1; fs::exists(aside, error); ++n) aside = path_.string() + ".corrupt-" + std::to_string(n);
  fs::rename(path_, aside, error);
  if (error) {
    logError("cannot set the unreadable user defaults file " + path_.string() + " aside: " + error.message() +
             "; it is not overwritten");
    return false;
  }
  logError("unreadable user defaults file kept as " + aside.string());
  corruptFileInPlace_ = false;
  return true;
}

bool UserDefaultsStore::saveLocked(bool createFolder) {
  std::error_code error;
  if (!createFolder && !fs::is_directory(path_.parent_path(), error)) {
    logError("user defaults not saved: the folder of " + path_.string() + " no longer exists");
    dirty_ = false;
    return false;
  }
  if (corruptFileInPlace_ && !setCorruptFileAsideLocked()) return false;
  Ref<Error> failure;
  bool saved = storage::writePropertyList(path_, *persistent_, storage::PropertyListFormat::Binary, &failure,
                                          fs::perms::owner_read | fs::perms::owner_write);
  if (!saved) {
    logError("cannot save user defaults to " + path_.string() + ": " +
             (failure ? failure->localizedDescription() : "unknown error"));
    return false;
  }
  dirty_ = false;
  return true;
}

}  // namespace zv
