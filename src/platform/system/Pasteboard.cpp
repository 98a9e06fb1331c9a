#include "platform/system/Pasteboard.h"

#include <algorithm>
#include <map>

#include "platform/foundation/Log.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileLock.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv {

namespace {

constexpr const char* kFolderName = "Pasteboards";
constexpr const char* kLockFileName = ".lock";
constexpr const char* kFileSuffix = ".pasteboard";
constexpr auto kFilePermissions = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

std::filesystem::path lockFileFor(const std::filesystem::path& file) { return file.parent_path() / kLockFileName; }

struct Registry {
  ForkMutex mutex{ForkLockLevel::PasteboardRegistry};
  std::map<std::filesystem::path, Ref<Pasteboard>> byFile;
};

Registry& registry() {
  static Registry* shared = new Registry();  // lives until the process ends
  return *shared;
}

std::filesystem::path fileForName(std::string_view name) {
  // Encoding keeps every name inside the folder ("/" and ".." included) and clear of the lock file.
  return ApplicationEnvironment::shared().sharedRoot() / kFolderName / (percentEncode(name, "-._") + kFileSuffix);
}

// Immutable copies of the items, checked to be dictionaries keyed by type names.
std::vector<ObjectPtr> checkedItems(const Array& items) {
  std::vector<ObjectPtr> out;
  for (const ObjectPtr& item : items) {
    auto dictionary = dyn<Dictionary>(item);
    bool textKeys = dictionary != nullptr;
    if (dictionary)
      dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr&) { return textKeys = dyn<String>(key) != nullptr; });
    if (!textKeys)
      Exception::raise(kInvalidArgumentException,
                       "*** pasteboard items must be dictionaries keyed by type names, got " + describe(item));
    out.push_back(dictionary->copy());
  }
  return out;
}

ObjectPtr valueForType(const std::vector<ObjectPtr>& items, std::string_view type) {
  for (const ObjectPtr& item : items)
    if (ObjectPtr value = dyn<Dictionary>(item)->objectForKey(type)) return value;
  return nullptr;
}

}  // namespace

Pasteboard::Pasteboard(std::string name, std::filesystem::path file, bool persistent)
    : name_(std::move(name)), file_(std::move(file)), persistent_(persistent) {}

Ref<Pasteboard> Pasteboard::generalPasteboard() {
  static auto* general = new Ref<Pasteboard>(std::make_shared<Pasteboard>("general", std::filesystem::path(), false));
  return *general;
}

namespace {
// Made before main: a fork never finds them half made.
[[maybe_unused]] const bool gPasteboardsMade = (registry(), Pasteboard::generalPasteboard(), true);
}  // namespace

Ref<Pasteboard> Pasteboard::pasteboardWithName(std::string_view name, bool create) {
  if (name.empty()) return nullptr;
  std::filesystem::path file = fileForName(name);
  Registry& shared = registry();
  std::lock_guard guard(shared.mutex);
  if (auto found = shared.byFile.find(file); found != shared.byFile.end()) return found->second;
  std::error_code ignored;
  bool onDisk = std::filesystem::exists(file, ignored);
  if (!onDisk && !create) return nullptr;
  auto pasteboard = std::make_shared<Pasteboard>(std::string(name), file, onDisk);
  shared.byFile.emplace(file, pasteboard);
  return pasteboard;
}

void Pasteboard::removePasteboardWithName(std::string_view name) {
  if (name.empty()) return;
  std::filesystem::path file = fileForName(name);
  Ref<Pasteboard> removed;
  {
    Registry& shared = registry();
    std::lock_guard guard(shared.mutex);
    if (auto found = shared.byFile.find(file); found != shared.byFile.end()) {
      removed = found->second;
      shared.byFile.erase(found);
    }
  }
  if (removed) removed->forget();
  storage::FileLock lock(lockFileFor(file), storage::FileLock::Mode::Exclusive);
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

void Pasteboard::forget() {
  std::lock_guard guard(mutex_);
  persistent_ = false;
  memory_ = Contents();
}

bool Pasteboard::isPersistent() const {
  std::lock_guard guard(mutex_);
  return persistent_;
}

namespace {

struct FileContents {
  std::int64_t changeCount = 0;
  std::vector<ObjectPtr> items;
};

// The file's contents; a missing file is empty, an unreadable one is logged and read as empty.
FileContents readContents(const std::filesystem::path& file) {
  FileContents contents;
  Ref<Error> error;
  auto bytes = storage::readFile(file, &error);
  if (!bytes) return contents;
  auto root = dyn<Dictionary>(storage::parsePropertyList(*bytes, &error));
  auto count = root ? dyn<Number>(root->objectForKey("changeCount")) : nullptr;
  auto items = root ? dyn<Array>(root->objectForKey("items")) : nullptr;
  bool wellFormed = count && items;
  if (wellFormed)
    for (const ObjectPtr& item : *items) wellFormed = wellFormed && dyn<Dictionary>(item);
  if (!wellFormed) {
    logError("pasteboard file " + file.string() + " cannot be read; it reads as empty until the next change");
    return contents;
  }
  contents.changeCount = count->longLongValue();
  contents.items = items->objects();
  return contents;
}

bool writeContents(const std::filesystem::path& file, const FileContents& contents) {
  auto root = Dictionary::make({{"changeCount", box(static_cast<long long>(contents.changeCount))},
                                {"items", Array::make(contents.items)}});
  Ref<Error> error;
  if (storage::writePropertyList(file, *root, storage::PropertyListFormat::Binary, &error, kFilePermissions))
    return true;
  logError("cannot write pasteboard file " + file.string() + ": " + error->localizedDescription());
  return false;
}

}  // namespace

Pasteboard::Contents Pasteboard::read() const {
  std::lock_guard guard(mutex_);
  if (!persistent_) return memory_;
  storage::FileLock lock(lockFileFor(file_), storage::FileLock::Mode::Shared);
  FileContents contents = readContents(file_);
  return Contents{contents.changeCount, std::move(contents.items)};
}

bool Pasteboard::change(const std::function<bool(std::vector<ObjectPtr>&)>& edit) {
  std::lock_guard guard(mutex_);
  if (!persistent_) {
    std::vector<ObjectPtr> items = memory_.items;
    if (!edit(items)) return false;
    memory_.items = std::move(items);
    ++memory_.changeCount;
    return true;
  }
  storage::FileLock lock(lockFileFor(file_), storage::FileLock::Mode::Exclusive);
  if (!lock.isLocked()) {
    logError("cannot lock pasteboard file " + file_.string() + ": " + lock.error()->localizedDescription());
    return false;
  }
  FileContents contents = readContents(file_);
  if (!edit(contents.items)) return false;
  ++contents.changeCount;
  return writeContents(file_, contents);
}

bool Pasteboard::changeItems(const std::function<bool(std::vector<ObjectPtr>& items)>& edit) {
  return change([&](std::vector<ObjectPtr>& items) {
    if (!edit(items)) return false;
    items = checkedItems(*Array::make(items));
    return true;
  });
}

bool Pasteboard::setPersistent(bool persistent) {
  std::lock_guard guard(mutex_);
  if (file_.empty()) return !persistent;
  if (persistent == persistent_) return true;
  bool kept = changePersistence(persistent);
  if (persistent && !kept) {
    // A board that never reached its file would hide a file another process writes later (and
    // then write its memory over it): the name finds the file again.
    Registry& shared = registry();
    std::lock_guard registryGuard(shared.mutex);
    auto found = shared.byFile.find(file_);
    if (found != shared.byFile.end() && found->second.get() == this) shared.byFile.erase(found);
  }
  return kept;
}

bool Pasteboard::changePersistence(bool persistent) {
  storage::FileLock lock(lockFileFor(file_), storage::FileLock::Mode::Exclusive);
  if (!lock.isLocked()) {
    logError("cannot lock pasteboard file " + file_.string() + ": " + lock.error()->localizedDescription());
    return false;
  }
  std::error_code ignored;
  bool fileExists = std::filesystem::exists(file_, ignored);
  FileContents onDisk = readContents(file_);
  if (persistent) {
    // A board that never held anything has nothing to write over a file stored under its name.
    bool heldNothing = memory_.changeCount == 0 && memory_.items.empty();
    FileContents contents{std::max(onDisk.changeCount, memory_.changeCount) + 1, memory_.items};
    if (!(heldNothing && fileExists) && !writeContents(file_, contents)) return false;
    memory_ = Contents();
  } else {
    memory_ = Contents{onDisk.changeCount, std::move(onDisk.items)};
    std::filesystem::remove(file_, ignored);
  }
  persistent_ = persistent;
  return true;
}

std::int64_t Pasteboard::changeCount() const { return read().changeCount; }

std::size_t Pasteboard::numberOfItems() const { return read().items.size(); }

Ref<Array> Pasteboard::items() const { return Array::make(read().items); }

bool Pasteboard::setItems(const Array& items) {
  std::vector<ObjectPtr> checked = checkedItems(items);
  return change([&](std::vector<ObjectPtr>& current) {
    current = checked;
    return true;
  });
}

bool Pasteboard::addItems(const Array& items) {
  std::vector<ObjectPtr> checked = checkedItems(items);
  return change([&](std::vector<ObjectPtr>& current) {
    current.insert(current.end(), checked.begin(), checked.end());
    return true;
  });
}

bool Pasteboard::setData(const Data& data, std::string_view pasteboardType) {
  return setItems(*Array::make({Dictionary::make({{pasteboardType, Data::make(data.bytes())}})}));
}

Ref<Data> Pasteboard::dataForPasteboardType(std::string_view pasteboardType) const {
  ObjectPtr value = valueForType(read().items, pasteboardType);
  if (auto data = dyn<Data>(value)) return data;
  if (auto text = dyn<String>(value)) return Data::make(text->utf8());
  return nullptr;
}

std::optional<std::string> Pasteboard::string() const {
  ObjectPtr value = valueForType(read().items, kPasteboardTypeUTF8PlainText);
  if (auto text = dyn<String>(value)) return text->utf8();
  if (auto data = dyn<Data>(value))
    if (auto text = String::fromUTF8(data->view())) return text->utf8();
  return std::nullopt;
}

bool Pasteboard::setString(std::string_view text) {
  return setItems(*Array::make({Dictionary::make({{kPasteboardTypeUTF8PlainText, box(text)}})}));
}

}  // namespace zv
