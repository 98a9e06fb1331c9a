#include "sharing/core/SXOfflineQueue.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"
#include "platform/graphics/Image.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXOfflineSharer.h"

namespace zv {

namespace {

constexpr const char* kListName = "SXOfflineQueue.plist";
constexpr const char* kItemKey = "item";
constexpr const char* kSharerKey = "sharer";
constexpr const char* kUidKey = "uid";
constexpr const char* kAttemptsKey = "attempts";

// Guards the list file and the replay bookkeeping.
std::recursive_mutex& queueMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

struct ReplayBook {
  std::map<std::string, WeakRef<SXOfflineSharer>> running;  // uid -> replay
  std::map<const SXItem*, std::string> items;                 // item being replayed -> uid
};

ReplayBook& book() {
  static ReplayBook replays;
  return replays;
}

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

// Sets the corrupt list aside under a free name so that a person can still look at it.
void setAside(const std::filesystem::path& list) {
  for (int n = 0; n < 1000; ++n) {
    auto target = list;
    target += n == 0 ? std::string(".corrupt") : ".corrupt-" + std::to_string(n);
    std::error_code error;
    if (std::filesystem::exists(target, error)) continue;
    std::filesystem::rename(list, target, error);
    if (!error) {
      logError("SXOfflineQueue: the queue list could not be read; it was moved to " + target.string());
      return;
    }
    break;
  }
  logError("SXOfflineQueue: the queue list could not be read and could not be moved aside");
}

// Rewrites the list under the lock: `edit` changes it and answers whether anything changed.
void editList(const std::function<bool(MutableArray& list)>& edit) {
  std::lock_guard lock(queueMutex());
  auto list = SXOfflineQueue::getOfflineQueueList();
  if (!list) return;
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
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return path;
}

std::filesystem::path SXOfflineQueue::offlineQueueListPath() { return offlineQueuePath() / kListName; }

std::optional<std::filesystem::path> SXOfflineQueue::payloadPath(std::string_view uid) {
  // A uid read back from disk names a file in the queue folder and nothing else.
  if (uid.empty() || uid == "." || uid == ".." || uid.find('/') != std::string_view::npos ||
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

Ref<MutableArray> SXOfflineQueue::getOfflineQueueList() {
  std::lock_guard lock(queueMutex());
  auto path = offlineQueueListPath();
  std::error_code exists;
  if (!std::filesystem::exists(path, exists)) return nullptr;
  Ref<Error> error;
  auto root = storage::readPropertyList(path, &error, true);
  auto list = dyn<MutableArray>(root);
  if (!list) {
    if (root) logError("SXOfflineQueue: the queue list is not an array");
    if (error) logError("SXOfflineQueue: " + error->description());
    setAside(path);
    return nullptr;
  }
  return list;
}

bool SXOfflineQueue::saveOfflineQueueList(const Ref<Array>& list) {
  std::lock_guard lock(queueMutex());
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
  std::lock_guard lock(queueMutex());
  auto replaying = book().items.find(item.get());
  if (replaying != book().items.end()) {
    // The replay of this very entry went offline again: the entry is still queued.
    auto running = book().running.find(replaying->second);
    if (running != book().running.end()) {
      if (auto replay = running->second.lock()) replay->requeued();
    }
    return true;
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
  auto list = getOfflineQueueList();
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

void SXOfflineQueue::flushOfflineQueue() {
  if (!SX::connected()) return;
  std::vector<Ref<SXOfflineSharer>> replays;
  {
    std::lock_guard lock(queueMutex());
    auto list = getOfflineQueueList();
    if (!list) return;
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
      if (book().running.count(entry->uid)) continue;  // already being replayed
      replays.push_back(SXOfflineSharer::initWithItem(entry->item, entry->sharerId, entry->uid, entry->itemDictionary));
    }
    if (changed) saveOfflineQueueList(list);
    for (const auto& replay : replays) book().running[replay->uid()] = replay;
  }
  auto queue = operationQueue();
  for (const auto& replay : replays) queue->addOperation(replay);
}

void SXOfflineQueue::installHandlers() {
  SX::setOfflineQueueHandlers(
      [](const Ref<SXItem>& item, const std::string& sharerId) { return addToOfflineQueue(item, sharerId); },
      [] { flushOfflineQueue(); });
}

Ref<OperationQueue> SXOfflineQueue::operationQueue() {
  auto hub = SX::currentHelper();
  if (!hub->offlineQueue()) hub->setOfflineQueue(OperationQueue::create());
  return hub->offlineQueue();
}

double SXOfflineQueue::replayTimeout() { return timeoutSeconds().load(); }
void SXOfflineQueue::setReplayTimeout(double seconds) { timeoutSeconds().store(seconds); }

void SXOfflineQueue::removeEntry(std::string_view uid) {
  std::lock_guard lock(queueMutex());
  editList([&](MutableArray& list) {
    auto index = indexOfUid(list, uid);
    if (!index) return false;
    list.removeObjectAtIndex(*index);
    return true;
  });
  removePayload(uid);
}

void SXOfflineQueue::recordFailedAttempt(std::string_view uid, std::string_view reason) {
  std::lock_guard lock(queueMutex());
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

bool SXOfflineQueue::beginReplay(const std::string& uid, const Ref<SXOfflineSharer>& replay) {
  std::lock_guard lock(queueMutex());
  auto& running = book().running;
  auto found = running.find(uid);
  if (found != running.end() && found->second.lock() && found->second.lock() != replay) return false;
  running[uid] = replay;
  return true;
}

void SXOfflineQueue::endReplay(const std::string& uid) {
  std::lock_guard lock(queueMutex());
  book().running.erase(uid);
  for (auto it = book().items.begin(); it != book().items.end();) {
    it = it->second == uid ? book().items.erase(it) : std::next(it);
  }
}

void SXOfflineQueue::noteReplayedItem(const Ref<SXItem>& item, const std::string& uid) {
  std::lock_guard lock(queueMutex());
  if (item) book().items[item.get()] = uid;
}

}  // namespace zv
