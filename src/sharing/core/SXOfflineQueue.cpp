#include "sharing/core/SXOfflineQueue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"
#include "platform/graphics/Image.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileLock.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXOfflineSharer.h"

namespace zv {

namespace {

constexpr const char* kListName = "SXOfflineQueue.plist";
constexpr const char* kListLockName = "SXOfflineQueue.plist.lock";
constexpr const char* kClaimFolderName = ".replaying";
constexpr const char* kItemKey = "item";
constexpr const char* kSharerKey = "sharer";
constexpr const char* kUidKey = "uid";
constexpr const char* kAttemptsKey = "attempts";

// Guards the list file and the replay bookkeeping within the process.
std::recursive_mutex& queueMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

struct ReplayBook {
  std::map<std::string, WeakRef<SXOfflineSharer>> running;  // uid -> replay
  std::map<const SXItem*, std::string> items;                 // item being replayed -> uid
  std::set<std::string> tidiedFolders;                        // queue folders tidied since launch
  std::optional<storage::FileLock> fileLock;                  // the list's flock while held
  int depth = 0;                                              // nesting of ListLock
};

ReplayBook& book() {
  static ReplayBook& replays = *new ReplayBook;
  return replays;
}

// The list's lock: the process's mutex and, held by the outermost ListLock, an exclusive flock of
// the list's lock file, so that processes on one home take turns with the list and its payloads.
class ListLock {
 public:
  ListLock() : guard_(queueMutex()) {
    if (book().depth++ == 0) {
      book().fileLock.emplace(SXOfflineQueue::offlineQueuePath() / kListLockName, storage::FileLock::Mode::Exclusive);
      if (!book().fileLock->isLocked())
        logError("SXOfflineQueue: the queue list cannot be locked: " + describe(book().fileLock->error()));
    }
  }
  ~ListLock() {
    if (--book().depth == 0) book().fileLock.reset();
  }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;
  bool isLocked() const { return book().fileLock && book().fileLock->isLocked(); }

 private:
  std::lock_guard<std::recursive_mutex> guard_;
};

std::atomic<double>& timeoutSeconds() {
  static std::atomic<double> seconds{600.0};
  return seconds;
}

std::optional<std::string> entryUid(const ObjectPtr& entry) {
  auto dictionary = dyn<Dictionary>(entry);
  if (!dictionary) return std::nullopt;
  return dictionary->stringForKey(kUidKey);
}

void removePayload(std::string_view uid) {
  auto path = SXOfflineQueue::payloadPath(uid);
  if (!path) return;
  std::error_code error;
  std::filesystem::remove(*path, error);
}

// Sets the unparsable list aside under a free name so that a person can still look at it. false
// when it could not be moved (it is then left where it is).
bool setAside(const std::filesystem::path& list, const std::string& reason) {
  for (int n = 0; n < 1000; ++n) {
    auto target = list;
    target += n == 0 ? std::string(".corrupt") : ".corrupt-" + std::to_string(n);
    std::error_code error;
    if (std::filesystem::exists(target, error)) continue;
    std::filesystem::rename(list, target, error);
    if (!error) {
      logError("SXOfflineQueue: the queue list could not be parsed (" + reason + "); it was set aside as " +
               target.string() + " and a new list begins");
      return true;
    }
    break;
  }
  logError("SXOfflineQueue: the queue list " + list.string() + " could not be parsed (" + reason +
           ") and could not be set aside; it is left where it is");
  return false;
}

enum class ListState { Missing, Read, Failed };

// Reads the list (the caller holds the ListLock). Only bytes that cannot be parsed set the list
// aside; a list that cannot be opened or read stays where it is and the operation fails.
ListState readList(const ListLock& lock, Ref<MutableArray>& list) {
  list = nullptr;
  auto path = SXOfflineQueue::offlineQueueListPath();
  if (!lock.isLocked()) return ListState::Failed;
  Ref<Error> error;
  auto bytes = storage::readFile(path, &error);
  if (!bytes) {
    if (error && error->domain() == kPOSIXErrorDomain && error->code() == ENOENT) return ListState::Missing;
    logError("SXOfflineQueue: the queue list " + path.string() + " could not be read (" + describe(error) +
             "); it is left as it is");
    return ListState::Failed;
  }
  auto root = storage::parsePropertyList(*bytes, &error, true);
  list = dyn<MutableArray>(root);
  if (list) return ListState::Read;
  return setAside(path, root ? std::string("not an array") : describe(error)) ? ListState::Missing
                                                                              : ListState::Failed;
}

// Rewrites the list under the lock: `edit` changes it and answers whether anything changed.
void editList(const std::function<bool(MutableArray& list)>& edit) {
  ListLock lock;
  Ref<MutableArray> list;
  if (readList(lock, list) != ListState::Read) return;
  if (edit(*list)) SXOfflineQueue::saveOfflineQueueList(list);
}

std::optional<std::size_t> indexOfUid(const Array& list, std::string_view uid) {
  for (std::size_t i = 0; i < list.count(); ++i) {
    if (entryUid(list.objectAtIndex(i)) == uid) return i;
  }
  return std::nullopt;
}

// The payload bytes of an item: images with transparency stay lossless.
Ref<Data> payloadFor(const SXItem& item) {
  if (item.shareType == SXShareTypeImage && item.image) {
    if (item.image->bitmap().hasAlpha()) return graphics::imagePNGRepresentation(item.image);
    return graphics::imageJPEGRepresentation(item.image, 1.0);
  }
  if (item.shareType == SXShareTypeFile && item.data) return item.data;
  return nullptr;
}

}  // namespace

std::filesystem::path SXOfflineQueue::offlineQueuePath() {
  auto path = ApplicationEnvironment::shared().cachesDirectory() / "SX";
  // What was queued, and for which service, is the user's alone: the folder is 0700, also one an
  // earlier version made open.
  std::error_code error;
  storage::createPrivateFolders(path, error);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace, error);
  return path;
}

std::filesystem::path SXOfflineQueue::offlineQueueListPath() { return offlineQueuePath() / kListName; }

std::optional<std::filesystem::path> SXOfflineQueue::payloadPath(std::string_view uid) {
  // A uid read back from disk names a payload file in the queue folder and nothing else: not the
  // list or its companions (which begin with the list's name), not a hidden file (temporary files,
  // the replay claims), not a path.
  if (uid.empty() || uid.starts_with('.') || uid.starts_with(kListName) || uid.find('/') != std::string_view::npos ||
      uid.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  return offlineQueuePath() / std::string(uid);
}

std::string SXOfflineQueue::makeUid(std::string_view sharerId, std::int32_t shareType) {
  auto random = crypto::randomBytes(4);
  std::int32_t number = 0;
  std::memcpy(&number, random.data(), sizeof number);
  double seconds = Date::now()->timeIntervalSince1970();
  return std::string(sharerId) + format("-%i-%f-%i", shareType, seconds, number);
}

Ref<MutableArray> SXOfflineQueue::getOfflineQueueList(bool* failed) {
  ListLock lock;
  Ref<MutableArray> list;
  ListState state = readList(lock, list);
  if (failed) *failed = state == ListState::Failed;
  return list;
}

bool SXOfflineQueue::saveOfflineQueueList(const Ref<Array>& list) {
  ListLock lock;
  if (!lock.isLocked()) return false;
  auto path = offlineQueueListPath();
  if (!list || list->empty()) {
    std::error_code error;
    std::filesystem::remove(path, error);
    return !error;
  }
  Ref<Error> error;
  if (!storage::writePropertyList(path, *list, storage::PropertyListFormat::Binary, &error,
                                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)) {
    logError("SXOfflineQueue: the queue list could not be written: " + describe(error));
    return false;
  }
  return true;
}

bool SXOfflineQueue::addToOfflineQueue(const Ref<SXItem>& item, std::string_view sharerId) {
  if (!SXConfigBool("allowOffline") || !item) return false;
  ListLock lock;
  auto replaying = book().items.find(item.get());
  if (replaying != book().items.end()) {
    // The replay of this very entry went offline again: the entry is still queued.
    auto running = book().running.find(replaying->second);
    if (running != book().running.end()) {
      if (auto replay = running->second.lock()) replay->requeued();
    }
    return true;
  }
  Ref<MutableArray> list;
  if (readList(lock, list) == ListState::Failed) {
    logError("SXOfflineQueue: a " + std::string(sharerId) + " share could not be queued");
    return false;
  }
  std::string uid = makeUid(sharerId, item->shareType);
  if (auto payload = payloadFor(*item)) {
    auto path = payloadPath(uid);
    if (!path || storage::writeFileAtomically(*path, payload->view(), std::filesystem::perms::owner_read |
                                                                          std::filesystem::perms::owner_write)) {
      logError("SXOfflineQueue: the payload of a " + std::string(sharerId) + " share could not be stored");
      return false;
    }
  }
  if (!list) list = MutableArray::make();
  list->addObject(Dictionary::make({{kItemKey, item->dictionaryRepresentation()},
                                    {kSharerKey, String::make(sharerId)},
                                    {kUidKey, String::make(uid)},
                                    {kAttemptsKey, Number::make(0)}}));
  if (!saveOfflineQueueList(list)) {
    removePayload(uid);
    return false;
  }
  return true;
}

std::optional<SXOfflineQueue::Entry> SXOfflineQueue::entryFromObject(const ObjectPtr& object) {
  auto dictionary = dyn<Dictionary>(object);
  if (!dictionary) return std::nullopt;
  auto uid = dictionary->stringForKey(kUidKey);
  auto sharerId = dictionary->stringForKey(kSharerKey);
  auto itemDictionary = dyn<Dictionary>(dictionary->objectForKey(kItemKey));
  if (!uid || !payloadPath(*uid) || !sharerId || sharerId->empty() || !itemDictionary) return std::nullopt;
  auto item = SXItem::itemFromDictionary(itemDictionary);
  if (!item) return std::nullopt;
  return Entry{*uid, *sharerId, item, itemDictionary};
}

namespace {

std::filesystem::path claimPath(std::string_view uid) {
  return SXOfflineQueue::offlineQueuePath() / kClaimFolderName / std::string(uid);
}

// Removes what no entry of `list` names (the caller holds the ListLock): payload files and
// temporary files a killed process left behind, and claims of entries that are gone. The list,
// its lock and the lists set aside stay.
void removeOrphans(const Array* list) {
  std::set<std::string> uids;
  if (list) {
    for (const auto& entry : list->objects())
      if (auto uid = entryUid(entry)) uids.insert(*uid);
  }
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(SXOfflineQueue::offlineQueuePath(), error)) {
    std::string name = file.path().filename().string();
    if (name.starts_with(kListName) || uids.count(name) || file.is_directory(error)) continue;
    logInfo("SXOfflineQueue: " + name + " belongs to no queued share; it is removed");
    std::filesystem::remove(file.path(), error);
  }
  for (const auto& file : std::filesystem::directory_iterator(claimPath(""), error)) {
    if (!uids.count(file.path().filename().string())) std::filesystem::remove(file.path(), error);
  }
}

}  // namespace

void SXOfflineQueue::flushOfflineQueue() noexcept {
  std::vector<Ref<SXOfflineSharer>> replays;
  try {
    bool connected = SX::connected();
    {
      ListLock lock;
      Ref<MutableArray> list;
      if (readList(lock, list) == ListState::Failed) return;
      // The first flush of a launch tidies the folder, online or not.
      if (book().tidiedFolders.insert(offlineQueuePath().string()).second) removeOrphans(list.get());
      if (!list || !connected) return;
      bool changed = false;
      for (std::size_t i = 0; i < list->count();) {
        auto entry = entryFromObject(list->objectAtIndex(i));
        if (!entry) {
          logError("SXOfflineQueue: an unusable queue entry was removed: " + describe(list->objectAtIndex(i)));
          if (auto uid = entryUid(list->objectAtIndex(i))) removePayload(*uid);
          list->removeObjectAtIndex(i);
          changed = true;
          continue;
        }
        ++i;
        auto running = book().running.find(entry->uid);
        if (running != book().running.end()) {
          auto replay = running->second.lock();
          if (replay && replay->isReplaying()) continue;  // queued, running or in flight here
        }
        replays.push_back(
            SXOfflineSharer::initWithItem(entry->item, entry->sharerId, entry->uid, entry->itemDictionary));
      }
      if (changed) saveOfflineQueueList(list);
      for (const auto& replay : replays) book().running[replay->uid()] = replay;
    }
    auto queue = operationQueue();
    for (std::size_t i = 0; i < replays.size(); ++i) {
      queue->addOperation(replays[i]);
      replays[i] = nullptr;
    }
  } catch (const std::exception& exception) {
    logError(std::string("SXOfflineQueue: the queue could not be flushed: ") + exception.what());
  } catch (...) {
    logError("SXOfflineQueue: the queue could not be flushed");
  }
  // Replays that never reached the queue are not running.
  for (const auto& replay : replays)
    if (replay) endReplay(replay->uid(), replay.get(), -1);
}

void SXOfflineQueue::installHandlers() {
  SX::setOfflineQueueHandlers(
      [](const Ref<SXItem>& item, const std::string& sharerId) { return addToOfflineQueue(item, sharerId); },
      [] { flushOfflineQueue(); });
}

Ref<OperationQueue> SXOfflineQueue::operationQueue() {
  auto hub = SX::currentHelper();
  if (!hub->offlineQueue()) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(kReplayWidth);
    hub->setOfflineQueue(queue);
  }
  return hub->offlineQueue();
}

double SXOfflineQueue::replayTimeout() { return timeoutSeconds().load(); }
void SXOfflineQueue::setReplayTimeout(double seconds) { timeoutSeconds().store(seconds); }

void SXOfflineQueue::removeEntry(std::string_view uid) {
  ListLock lock;
  editList([&](MutableArray& list) {
    auto index = indexOfUid(list, uid);
    if (!index) return false;
    list.removeObjectAtIndex(*index);
    return true;
  });
  removePayload(uid);
}

void SXOfflineQueue::recordFailedAttempt(std::string_view uid, std::string_view reason) {
  ListLock lock;
  bool givenUp = false;
  editList([&](MutableArray& list) {
    auto index = indexOfUid(list, uid);
    if (!index) return false;
    auto entry = dyn<Dictionary>(list.objectAtIndex(*index));
    auto previous = dyn<Number>(entry->objectForKey(kAttemptsKey));
    int attempts = (previous ? static_cast<int>(previous->integerValue()) : 0) + 1;
    if (attempts >= kMaximumAttempts) {
      list.removeObjectAtIndex(*index);
      givenUp = true;
      return true;
    }
    auto updated = dyn<MutableDictionary>(entry->mutableCopy());
    updated->setObject(Number::make(attempts), kAttemptsKey);
    list.replaceObjectAtIndex(*index, updated);
    logError("SXOfflineQueue: replay of " + std::string(uid) + " failed (" + std::string(reason) + "); attempt " +
             std::to_string(attempts) + " of " + std::to_string(kMaximumAttempts) + ", it stays queued");
    return true;
  });
  if (givenUp) {
    logError("SXOfflineQueue: replay of " + std::string(uid) + " failed (" + std::string(reason) + ") " +
             std::to_string(kMaximumAttempts) + " times; the share is given up");
    removePayload(uid);
  }
}

int SXOfflineQueue::beginReplay(const std::string& uid, const Ref<SXOfflineSharer>& replay) {
  ListLock lock;
  auto& running = book().running;
  auto found = running.find(uid);
  if (found != running.end()) {
    auto other = found->second.lock();
    if (other && other != replay && other->isReplaying()) return -1;
  }
  // The claim: an exclusive flock of the entry's claim file, held until the replay has ended. A
  // claim another process holds means that process is replaying the entry.
  std::error_code ignored;
  storage::createPrivateFolders(claimPath(""), ignored);
  auto path = claimPath(uid);
  int claim = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (claim < 0) {
    logError("SXOfflineQueue: the replay of " + uid + " cannot be claimed: " + describe(Error::posix(errno)));
    return -1;
  }
  int locked = 0;
  while ((locked = ::flock(claim, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    if (errno != EWOULDBLOCK)
      logError("SXOfflineQueue: the replay of " + uid + " cannot be claimed: " + describe(Error::posix(errno)));
    ::close(claim);
    return -1;
  }
  // Claimed; but the entry may have ended (in another process) since this process read the list.
  Ref<MutableArray> list;
  ListState state = readList(lock, list);
  if (state != ListState::Read || !indexOfUid(*list, uid)) {
    if (state != ListState::Failed) ::unlink(path.c_str());
    ::close(claim);
    return -1;
  }
  running[uid] = replay;
  return claim;
}

void SXOfflineQueue::endReplay(const std::string& uid, const SXOfflineSharer* replay, int claim) {
  ListLock lock;
  auto found = book().running.find(uid);
  if (found != book().running.end()) {
    auto current = found->second.lock();
    if (!current || current.get() == replay) book().running.erase(found);
  }
  for (auto it = book().items.begin(); it != book().items.end();) {
    it = it->second == uid ? book().items.erase(it) : std::next(it);
  }
  if (claim < 0) return;
  Ref<MutableArray> list;
  ListState state = readList(lock, list);
  // The claim file goes with its entry (while still claimed, so no one can take it meanwhile).
  if (state == ListState::Missing || (state == ListState::Read && !indexOfUid(*list, uid)))
    ::unlink(claimPath(uid).c_str());
  ::close(claim);
}

void SXOfflineQueue::noteReplayedItem(const Ref<SXItem>& item, const std::string& uid) {
  std::lock_guard lock(queueMutex());
  if (item) book().items[item.get()] = uid;
}

}  // namespace zv
