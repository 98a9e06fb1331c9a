#pragma once
// The values behind every UserDefaults handle of one file: the persistent domain (read from the
// property list at `path`, written back atomically with mode 0600) and the registration domain
// (never written). All handles to one file share one store, so each sees the others' writes at
// once. Not for direct use outside UserDefaults.
//
// Saving: a change records its key and schedules a save about half a second later on the saver
// thread; synchronize() saves at once; the last handle going away, and the end of the process,
// save what is still pending. A delayed save whose folder has disappeared since the store was made
// is logged and dropped rather than recreating the folder. A file's store is forgotten once it is
// gone, and a new store for the file is only made after the old one's final save has landed.
//
// Several processes may share the file. A save holds an exclusive flock of "<file>.lock", reads
// what is on disk, writes back only the keys this store changed (a value stored "if absent" only
// where the file has none) and replaces the file atomically; the store then holds the merged
// values, so it sees what the others saved. synchronize() without changes reads the file again.
//
// A file that cannot be parsed (or whose root is not a dictionary) is renamed to "<file>.corrupt"
// (or ".corrupt-N") and reported once; the values start from the defaults. A file that cannot be
// read at all, or renamed, is never overwritten: saves fail instead.
//
// A failure to save is logged once (the same failure again is not repeated), unless the caller of
// synchronize() takes the error.
//
// Threads: every call may come from any thread; one mutex guards the domains.

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/ForkHandlers.h"
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
  // Stores a value only where neither the store nor, when it is saved, the file has one; whether
  // the store had none.
  bool setObjectIfAbsent(ObjectPtr value, std::string_view key);
  void registerDefaults(const Dictionary& defaults);
  // Registered values overlaid by persistent ones.
  Ref<Dictionary> dictionaryRepresentation() const;

  // Saves now when there are unsaved changes, else reads the file again; whether the file holds
  // the values afterwards. A failure goes to *error when given (and is not logged).
  bool synchronize(Ref<Error>* error = nullptr);
  // The delayed save (see above).
  void saveIfPending();

  explicit UserDefaultsStore(std::filesystem::path path);
  ~UserDefaultsStore();
  UserDefaultsStore(const UserDefaultsStore&) = delete;
  UserDefaultsStore& operator=(const UserDefaultsStore&) = delete;

 private:
  enum class Change { Set, IfAbsent };

  void load();
  // Called with mutex_ held.
  bool saveLocked(bool createFolder, Ref<Error>* error);
  bool reloadLocked(Ref<Error>* error);
  // The file's values (the caller holds the file lock); a corrupt file is set aside (nullptr when
  // it could not be, or when the file cannot be read).
  Ref<MutableDictionary> readFileLocked(Ref<Error>* error);
  bool setCorruptFileAside(const std::string& reason, Ref<Error>* error);
  void report(const Ref<Error>& failure, Ref<Error>* error);
  std::filesystem::path lockPath() const;

  const std::filesystem::path path_;
  mutable ForkMutex mutex_;
  Ref<MutableDictionary> persistent_;
  Ref<MutableDictionary> registered_;
  std::map<std::string, Change, std::less<>> changes_;
  bool saveScheduled_ = false;
  bool folderExisted_ = false;
  std::string lastReportedFailure_;
};

}  // namespace zv
