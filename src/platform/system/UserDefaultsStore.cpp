#include "platform/system/UserDefaultsStore.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <new>
#include <thread>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadStartRetry.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileLock.h"
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
//
// A child made by fork (without exec) keeps the stores, but a store that was closing in the
// parent never finishes closing there: the child forgets it, and makes a new one for its file.
struct StoreRegistry {
  struct Entry {
    std::weak_ptr<UserDefaultsStore> store;
    const UserDefaultsStore* owner;
  };
  StoreRegistry()
      : mutex(ForkLockLevel::UserDefaultsFiles, [this] {
          std::erase_if(stores, [](const auto& entry) { return entry.second.store.expired(); });
          new (&closed) std::condition_variable();
        }) {}
  ForkMutex mutex;
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

// A child made by fork (without exec) has no saver thread: it forgets the parent's queue (the
// parent saves those changes; each store in the child forgets them too) and starts a thread of
// its own at its first change.
class DelayedSaver {
 public:
  DelayedSaver()
      : mutex_(ForkLockLevel::UserDefaultsSaver, [this] {
          queue_.clear();
          started_ = false;
          new (&wake_) std::condition_variable();
        }) {}

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
      if (!savesAtExit_) std::atexit(saveAllPending);
      savesAtExit_ = true;
      // A thread refused for now starts later (detachThread); the changes wait for it, and
      // synchronize() or exit saves them meanwhile.
      detachThread([this] { run(); }, "defaults.saver");
    }
    wake_.notify_one();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_.native());
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

  ForkMutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::weak_ptr<UserDefaultsStore>>> queue_;
  bool started_ = false;
  bool savesAtExit_ = false;
};

// Made before main: a fork never finds them half made.
[[maybe_unused]] const bool gDefaultsStateMade = (registry(), DelayedSaver::shared(), true);

std::string registryKey(const fs::path& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  return (error ? path : absolute).lexically_normal().string();
}

}  // namespace

std::shared_ptr<UserDefaultsStore> UserDefaultsStore::forFile(const fs::path& path) {
  std::string key = registryKey(path);
  auto& r = registry();
  std::unique_lock lock(r.mutex.native());
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
    : path_(std::move(path)),
      mutex_(ForkLockLevel::UserDefaultsStore),
      persistent_(MutableDictionary::make()),
      registered_(MutableDictionary::make()) {
  // The changes waiting for a save at a fork are the parent's to save; the child keeps the values.
  mutex_.onChildAfterFork([this] {
    changes_.clear();
    saveScheduled_ = false;
  });
  // The folder is made now so that a delayed save can tell a folder removed since (a test's
  // temporary home, usually) from one that never existed.
  std::error_code error;
  storage::createPrivateFolders(path_.parent_path(), error);
  folderExisted_ = fs::is_directory(path_.parent_path(), error);
  load();
}

UserDefaultsStore::~UserDefaultsStore() {
  {
    std::lock_guard lock(mutex_);
    if (!changes_.empty()) saveLocked(false, nullptr);
  }
  mutex_.leaveForks();
  auto& r = registry();
  {
    std::lock_guard lock(r.mutex);
    auto found = r.stores.find(path_.string());
    if (found == r.stores.end() || found->second.owner != this) return;
    r.stores.erase(found);
  }
  r.closed.notify_all();
}

fs::path UserDefaultsStore::lockPath() const { return path_.string() + ".lock"; }

void UserDefaultsStore::load() {
  std::error_code existsError;
  if (!fs::exists(path_, existsError)) return;
  // Files are replaced whole, so reading needs no lock; only setting a corrupt file aside does.
  if (auto dictionary = dyn<Dictionary>(storage::readPropertyList(path_))) {
    persistent_->addEntriesFromDictionary(*dictionary);
    return;
  }
  std::lock_guard lock(mutex_);
  // Without the file lock (a folder we may read but not write) the read still sees whole files.
  storage::FileLock fileLock(lockPath(), storage::FileLock::Mode::Exclusive);
  if (auto values = readFileLocked(nullptr)) persistent_ = values;
}

Ref<MutableDictionary> UserDefaultsStore::readFileLocked(Ref<Error>* error) {
  std::error_code existsError;
  if (!fs::exists(path_, existsError)) return MutableDictionary::make();
  Ref<Error> failure;
  ObjectPtr root = storage::readPropertyList(path_, &failure);
  if (auto dictionary = dyn<Dictionary>(root)) return dyn<MutableDictionary>(dictionary->mutableCopy());
  if (failure && failure->domain() == kPOSIXErrorDomain) {
    // Present but not readable (permissions): neither corrupt nor ours to replace.
    report(Error::make(failure->domain(), failure->code(),
                       "cannot read user defaults file " + path_.string() + ": " + failure->localizedDescription()),
           error);
    return nullptr;
  }
  std::string reason = failure ? failure->localizedDescription() : "the root is not a dictionary";
  if (!setCorruptFileAside(reason, error)) return nullptr;
  return MutableDictionary::make();
}

bool UserDefaultsStore::setCorruptFileAside(const std::string& reason, Ref<Error>* error) {
  std::error_code failure;
  fs::path aside = path_.string() + ".corrupt";
  for (int n = 1; fs::exists(aside, failure); ++n) aside = path_.string() + ".corrupt-" + std::to_string(n);
  fs::rename(path_, aside, failure);
  if (failure) {
    report(Error::make(kPOSIXErrorDomain, failure.value(),
                       "user defaults file " + path_.string() + " cannot be read (" + reason +
                           ") and cannot be kept aside (" + failure.message() +
                           "); it is not overwritten, and the values start from the defaults"),
           error);
    return false;
  }
  logError("user defaults file " + path_.string() + " cannot be read (" + reason + "); it is kept as " +
           aside.string() + " and the values start from the defaults");
  return true;
}

void UserDefaultsStore::report(const Ref<Error>& failure, Ref<Error>* error) {
  std::string text = failure->localizedDescription();
  if (error) {
    *error = failure;
  } else if (text != lastReportedFailure_) {
    logError(text);
  }
  lastReportedFailure_ = text;
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
    changes_[std::string(key)] = Change::Set;
    schedule = !saveScheduled_;
    saveScheduled_ = true;
  }
  if (schedule) DelayedSaver::shared().schedule(weak_from_this());
}

bool UserDefaultsStore::setObjectIfAbsent(ObjectPtr value, std::string_view key) {
  bool schedule;
  {
    std::lock_guard lock(mutex_);
    if (!value || persistent_->objectForKey(key)) return false;
    persistent_->setObject(std::move(value), key);
    // A key already changed here keeps its stronger mark.
    changes_.emplace(std::string(key), Change::IfAbsent);
    schedule = !saveScheduled_;
    saveScheduled_ = true;
  }
  if (schedule) DelayedSaver::shared().schedule(weak_from_this());
  return true;
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

bool UserDefaultsStore::synchronize(Ref<Error>* error) {
  std::lock_guard lock(mutex_);
  if (changes_.empty()) return reloadLocked(error);
  return saveLocked(true, error);
}

void UserDefaultsStore::saveIfPending() {
  std::lock_guard lock(mutex_);
  saveScheduled_ = false;
  if (!changes_.empty()) saveLocked(false, nullptr);
}

bool UserDefaultsStore::reloadLocked(Ref<Error>* error) {
  std::error_code existsError;
  if (!fs::exists(path_, existsError)) {
    // Nothing saved (or the file was removed): nothing to lock or read.
    persistent_ = MutableDictionary::make();
    return true;
  }
  storage::FileLock fileLock(lockPath(), storage::FileLock::Mode::Exclusive);
  auto values = readFileLocked(error);
  if (!values) return false;
  persistent_ = values;
  return true;
}

bool UserDefaultsStore::saveLocked(bool createFolder, Ref<Error>* error) {
  std::error_code failure;
  fs::path folder = path_.parent_path();
  if (!createFolder && folderExisted_ && !fs::is_directory(folder, failure)) {
    report(Error::make(kPOSIXErrorDomain, ENOENT,
                       "user defaults not saved: the folder of " + path_.string() + " no longer exists"),
           error);
    changes_.clear();
    return false;
  }
  if (!fs::is_directory(folder, failure)) {
    storage::createPrivateFolders(folder, failure);
    if (failure) {
      report(Error::make(kPOSIXErrorDomain, failure.value(),
                         "cannot save user defaults to " + path_.string() + ": cannot make its folder (" +
                             failure.message() + ")"),
             error);
      return false;
    }
  }
  storage::FileLock fileLock(lockPath(), storage::FileLock::Mode::Exclusive);
  if (!fileLock.isLocked()) {
    report(Error::make(kPOSIXErrorDomain, fileLock.error() ? fileLock.error()->code() : EIO,
                       "cannot save user defaults to " + path_.string() + ": " +
                           (fileLock.error() ? fileLock.error()->localizedDescription() : "cannot lock it")),
           error);
    return false;
  }
  // A file that cannot be read (or set aside) is never replaced.
  auto merged = readFileLocked(error);
  if (!merged) return false;
  for (const auto& [key, change] : changes_) {
    ObjectPtr value = persistent_->objectForKey(key);
    if (change == Change::IfAbsent && merged->objectForKey(key)) continue;
    if (value)
      merged->setObject(std::move(value), key);
    else
      merged->removeObjectForKey(key);
  }
  Ref<Error> written;
  if (!storage::writePropertyList(path_, *merged, storage::PropertyListFormat::Binary, &written,
                                  fs::perms::owner_read | fs::perms::owner_write)) {
    std::string reason = written ? written->localizedDescription() : "unknown error";
    report(Error::make(written ? written->domain() : kPOSIXErrorDomain, written ? written->code() : EIO,
                       "cannot save user defaults to " + path_.string() + ": " + reason),
           error);
    return false;
  }
  persistent_ = merged;
  changes_.clear();
  lastReportedFailure_.clear();
  return true;
}

}  // namespace zv
