#pragma once
// The offline queue: shares made while the device was offline, kept on disk and replayed at the
// next launch (the hub's offline-queue operations, which forward here).
//
// On disk, in <caches>/SX: the list "SXOfflineQueue.plist" (an array of {"item": the item's
// dictionary form, "sharer": sharer id, "uid": text, "attempts": failed replays so far}) and one
// payload file per image or file share, named by its uid (an image with transparency as PNG,
// any other image as JPEG, a file as its bytes).
//
// Crash safety: an entry leaves the list only when its share has ended (finished, dropped, or
// failed kMaximumAttempts times), one entry at a time, the list rewritten atomically each time;
// its payload file goes with it. A process killed in the middle of a replay therefore loses no
// share, and a share already reported finished is never sent again. A list whose bytes cannot be
// parsed is set aside as "SXOfflineQueue.plist.corrupt" (logged once, with that path) and a new
// one begins; a list that cannot be opened or read (no descriptors left, no permission, an I/O
// error) stays where it is, and the operation that needed it fails with a log line. Unusable
// entries are removed with a log line; the first flush of a launch also removes payload files no
// entry names (left by a process killed between writing a payload and the list).
//
// Processes: several processes may share one home. Every read-modify-write of the list holds an
// exclusive flock of "SXOfflineQueue.plist.lock", and a replay holds an exclusive flock of its
// entry's claim file ".replaying/<uid>" from its start until its outcome is recorded; a process
// that finds an entry claimed leaves it alone, so a share is never sent by two processes.
//
// Replays run kReplayWidth at a time. One that gets no report within replayTimeout() stops waiting
// (freeing its place) but stays in flight: its claim is kept and its outcome is recorded when the
// sharer reports, so a slow share that succeeds is not sent again.
//
// Threads: every operation may be called from any thread; the list is read and written under one
// lock. Replays run as SXOfflineSharer operations of operationQueue(), each doing its sharer work
// on the main thread.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/runloop/OperationQueue.h"
#include "sharing/core/SXItem.h"

namespace zv {

class SXOfflineSharer;

class SXOfflineQueue {
 public:
  // Failed replays after which an entry is given up (logged, payload removed).
  static constexpr int kMaximumAttempts = 5;
  // Replays that run at one time (the queue made by operationQueue()).
  static constexpr int kReplayWidth = 3;

  static std::filesystem::path offlineQueuePath();
  static std::filesystem::path offlineQueueListPath();
  // A mutable copy of the list; nullptr when there is none (or it could not be parsed and was set
  // aside), or when it could not be read (then *failed is set; the list is left where it is).
  static Ref<MutableArray> getOfflineQueueList(bool* failed = nullptr);
  // Writes the list atomically; an empty list removes the file. false when the write failed.
  static bool saveOfflineQueueList(const Ref<Array>& list);
  // Queues the share when offline sharing is allowed; false when not allowed or the share could
  // not be stored. An item that is being replayed right now is already queued: its replay is told
  // to end and nothing is added.
  static bool addToOfflineQueue(const Ref<SXItem>& item, std::string_view sharerId);
  // When connected: one replay operation per entry not already being replayed. Never throws.
  static void flushOfflineQueue() noexcept;

  // Makes the hub's offline-queue operations forward here. Called by registerSharingCoreClasses.
  static void installHandlers();

  // The queue the replays run on: the hub's offline queue (made on first use). Main thread.
  static Ref<OperationQueue> operationQueue();
  // Seconds a replay waits for its sharer's report before its operation ends (the share stays in
  // flight until the sharer reports).
  static double replayTimeout();
  static void setReplayTimeout(double seconds);

  // The end of one entry's replay. Each rewrites the list atomically at once.
  // Finished or dropped: the entry and its payload file go.
  static void removeEntry(std::string_view uid);
  // A failed attempt: counted; at kMaximumAttempts the entry is removed (logged).
  static void recordFailedAttempt(std::string_view uid, std::string_view reason);

  // One entry of the list, checked: a dictionary with a text "uid" that can name a payload file, a
  // text "sharer" and an "item" dictionary that rebuilds an item. nullopt for anything else.
  struct Entry {
    std::string uid;
    std::string sharerId;
    Ref<SXItem> item;
    Ref<Dictionary> itemDictionary;
  };
  static std::optional<Entry> entryFromObject(const ObjectPtr& object);

  // The payload file of a uid; nullopt when the uid is not a plain file name.
  static std::optional<std::filesystem::path> payloadPath(std::string_view uid);
  // A new uid: "<sharer id>-<share type>-<seconds since 1970, six decimals>-<random int32>".
  static std::string makeUid(std::string_view sharerId, std::int32_t shareType);

  // Bookkeeping of running replays (used by SXOfflineSharer). beginReplay answers the replay's
  // claim on the entry (a descriptor, >= 0) or -1 when the entry is being replayed elsewhere (in
  // this or another process) or is no longer queued. endReplay forgets the replay (when it is the
  // one noted for the uid) and gives up the claim (-1: none).
  static int beginReplay(const std::string& uid, const Ref<SXOfflineSharer>& replay);
  static void endReplay(const std::string& uid, const SXOfflineSharer* replay, int claim);
  static void noteReplayedItem(const Ref<SXItem>& item, const std::string& uid);
};

}  // namespace zv
