#pragma once
// The values behind every UserDefaults handle of one file: the persistent domain (read from the
// property list at `path`, written back atomically with mode 0600) and the registration domain
// (never written). All handles to one file share one store, so each sees the others' writes at
// once. Not for direct use outside UserDefaults.
//
// Saving: a change marks the store dirty and schedules a save about half a second later on the
// saver thread; synchronize() saves at once; the last handle going away, and the end of the
// process, save what is still pending. A delayed save whose folder has disappeared is logged and
// dropped rather than recreating the folder. A file's store is forgotten once it is gone, and a
// new store for the file is only made after the old one's final save has landed.
//
// A file that exists but cannot be read or parsed is logged, left in place, and renamed to
// "<file>.corrupt" (or ".corrupt-N") just before the first save replaces it.
//
// Threads: every call may come from any thread; one mutex guards the domains.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/Values.h"

namespace zv {

class UserDefaultsStore : public std::enable_shared_from_this<UserDefaultsStore> {
 public:
  // The store of a file, shared by every caller that names the same path. While the previous
  // store of the file is still saving on its way out, this waits for it.
  static std::shared_ptr<UserDefaultsStore> forFile(const std::filesystem::path& path);
  // How many files have a store at the moment (for tests).
  static std::size_t openFileCount();

  // How long a change waits before it is saved without synchronize().
  static constexpr double kSaveDelaySeconds = 0.5;

  const std::filesystem::path& path() const { return path_; }

  // The persistent value, else the registered one, else nullptr.
  ObjectPtr objectForKey(std::string_view key) const;
  // Stores a value (already an immutable property-list tree); nullptr removes the key.
  void setObject(ObjectPtr value, std::string_view key);
  void registerDefaults(const Dictionary& defaults);
  // Registered values overlaid by persistent ones.
  Ref<Dictionary> dictionaryRepresentation() const;

  // Saves now when there are unsaved changes; whether the file holds the values afterwards.
  bool synchronize();
  // The delayed save (see above).
  void saveIfPending();

  explicit UserDefaultsStore(std::filesystem::path path);
  ~UserDefaultsStore();
  UserDefaultsStore(const UserDefaultsStore&) = delete;
  UserDefaultsStore& operator=(const UserDefaultsStore&) = delete;

 private:
  void load();
  // Called with mutex_ held.
  bool saveLocked(bool createFolder);
  bool setCorruptFileAsideLocked();

  const std::filesystem::path path_;
  mutable std::mutex mutex_;
  Ref<MutableDictionary> persistent_;
  Ref<MutableDictionary> registered_;
  bool dirty_ = false;
  bool saveScheduled_ = false;
  bool corruptFileInPlace_ = false;
};

}  // namespace zv
