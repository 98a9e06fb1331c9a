#include "settings/PrefsSettingsStoreFile.h"

#include <cerrno>

#include "platform/foundation/Log.h"
#include "platform/storage/PropertyList.h"

namespace zv {

namespace {

void logLine(const std::string& message) { log(LogLevel::Error, "PrefsSettingsStoreFile: " + message); }

}  // namespace

PrefsSettingsStoreFile::PrefsSettingsStoreFile(std::string path) : filePath_(std::move(path)) {
  dict_ = MutableDictionary::make();
  load();
}

bool PrefsSettingsStoreFile::load() {
  Ref<Error> error;
  auto loaded = dyn<Dictionary>(storage::readPropertyList(filePath_, &error, true));
  if (loaded) {
    // Values set while the file could not be read win over the file's.
    auto merged = dyn<MutableDictionary>(loaded->mutableCopy());
    dict_->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
      merged->setObject(value, key);
      return true;
    });
    for (const auto& key : removedWhileUnread_) merged->removeObjectForKey(key);
    dict_ = merged;
    unread_ = false;
    removedWhileUnread_.clear();
    return true;
  }
  if (error && error->domain() == kPOSIXErrorDomain) {
    // Missing: there is nothing to keep. Any other failure to read (no descriptor free, no
    // permission, not a plain file) says nothing about what the file holds, so it is not
    // written over until it has been read.
    unread_ = error->code() != ENOENT;
    if (unread_) logLine("cannot read " + filePath_ + ": " + error->localizedDescription());
    return !unread_;
  }
  // Read but not a dictionary: reported, and replaced by the next synchronize.
  logLine("cannot use " + filePath_ + (error ? ": " + error->localizedDescription() : std::string()));
  unread_ = false;
  return true;
}

void PrefsSettingsStoreFile::setObject(ObjectPtr value, std::string_view key) {
  if (unread_) {
    if (value)
      removedWhileUnread_.erase(std::string(key));
    else
      removedWhileUnread_.insert(std::string(key));
  }
  dict_->setValue(std::move(value), key);
}

ObjectPtr PrefsSettingsStoreFile::objectForKey(std::string_view key) { return dict_->objectForKey(key); }

bool PrefsSettingsStoreFile::synchronize() {
  if (unread_ && !load()) {
    logLine("not saved: " + filePath_ + " could not be read, and writing would lose what it holds");
    return false;
  }
  Ref<Error> error;
  bool written = storage::writePropertyList(filePath_, *dict_, storage::PropertyListFormat::XML, &error);
  if (!written) logLine("cannot write " + filePath_ + (error ? ": " + error->localizedDescription() : std::string()));
  return written;
}

void PrefsSettingsStoreFile::setFilePath(std::string path) {
  filePath_ = std::move(path);
  // The file that could not be read is no longer the one written.
  unread_ = false;
  removedWhileUnread_.clear();
}

}  // namespace zv
