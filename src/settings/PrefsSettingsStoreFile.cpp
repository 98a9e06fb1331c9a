#include "settings/PrefsSettingsStoreFile.h"

#include <system_error>

#include "platform/foundation/Log.h"
#include "platform/storage/PropertyList.h"

namespace zv {

PrefsSettingsStoreFile::PrefsSettingsStoreFile(std::string path) : filePath_(std::move(path)) {
  std::error_code ec;
  if (std::filesystem::exists(filePath_, ec)) {
    Ref<Error> error;
    auto loaded = dyn<Dictionary>(storage::readPropertyList(filePath_, &error, true));
    if (loaded) {
      dict_ = dyn<MutableDictionary>(loaded->mutableCopy());
    } else {
      log(LogLevel::Error, "PrefsSettingsStoreFile::init: cannot read " + filePath_ +
                               (error ? ": " + error->localizedDescription() : std::string()));
    }
  }
  if (!dict_) dict_ = MutableDictionary::make();
}

void PrefsSettingsStoreFile::setObject(ObjectPtr value, std::string_view key) { dict_->setValue(std::move(value), key); }

ObjectPtr PrefsSettingsStoreFile::objectForKey(std::string_view key) { return dict_->objectForKey(key); }

bool PrefsSettingsStoreFile::synchronize() {
  Ref<Error> error;
  bool written = storage::writePropertyList(filePath_, *dict_, storage::PropertyListFormat::XML, &error);
  if (!written) {
    log(LogLevel::Error, "PrefsSettingsStoreFile::synchronize: cannot write " + filePath_ +
                             (error ? ": " + error->localizedDescription() : std::string()));
  }
  return written;
}

}  // namespace zv
