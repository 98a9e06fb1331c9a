#pragma once
// A settings store kept in memory and written, whole, as a property list to a file on
// synchronize. Nothing is written before the first synchronize.

#include <filesystem>
#include <string>

#include "settings/PrefsAbstractSettingsStore.h"

namespace zv {

class PrefsSettingsStoreFile : public PrefsAbstractSettingsStore {
 public:
  // Loads the property list at `path`; a missing or unreadable file starts empty (a malformed
  // one is reported in the log and left untouched until the next synchronize replaces it).
  explicit PrefsSettingsStoreFile(std::string path);

  void setObject(ObjectPtr value, std::string_view key) override;
  ObjectPtr objectForKey(std::string_view key) override;
  // Writes the dictionary atomically; NO when the write failed (the in-memory values remain and
  // the previous file is untouched).
  bool synchronize() override;

  const std::string& filePath() const { return filePath_; }
  // Only changes where the next synchronize writes.
  void setFilePath(std::string path) { filePath_ = std::move(path); }

 private:
  Ref<MutableDictionary> dict_;
  std::string filePath_;
};

}  // namespace zv
