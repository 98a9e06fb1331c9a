#pragma once
// A settings store kept in memory and written, whole, as a property list to a file on
// synchronize. Nothing is written before the first synchronize.

#include <filesystem>
#include <set>
#include <string>

#include "settings/PrefsAbstractSettingsStore.h"

namespace zv {

class PrefsSettingsStoreFile : public PrefsAbstractSettingsStore {
 public:
  // Loads the property list at `path`; a missing file starts empty, a malformed one is reported in
  // the log and left untouched until the next synchronize replaces it. A file that exists but
  // could not be read (no descriptor free, no permission) is never written over: synchronize
  // reads it again first (values set meanwhile win) and fails, with a log line, while it still
  // cannot be read.
  explicit PrefsSettingsStoreFile(std::string path);

  void setObject(ObjectPtr value, std::string_view key) override;
  ObjectPtr objectForKey(std::string_view key) override;
  // Writes the dictionary atomically; NO when the write failed or the file could not be read (the
  // in-memory values remain and the previous file is untouched).
  bool synchronize() override;

  const std::string& filePath() const { return filePath_; }
  // Only changes where the next synchronize writes.
  void setFilePath(std::string path);

 private:
  // Reads the file into the dictionary; false while it exists but cannot be read.
  bool load();

  Ref<MutableDictionary> dict_;
  std::string filePath_;
  bool unread_ = false;
  std::set<std::string> removedWhileUnread_;
};

}  // namespace zv
