#include "platform/system/Keychain.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/storage/AtomicFile.h"
#include "platform/storage/FileLock.h"
#include "platform/storage/PropertyList.h"
#include "platform/system/ApplicationEnvironment.h"

namespace zv {

namespace {

constexpr const char* kFileName = "keychain.plist";
constexpr const char* kLockFileName = "keychain.lock";
constexpr std::int64_t kFileVersion = 1;
constexpr auto kFilePermissions = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

struct Item {
  std::string service;
  std::string account;
  Ref<Data> data;  // nullptr when the item holds none
  std::optional<std::string> accessible;
  Ref<Date> creationDate;
  Ref<Date> modificationDate;
};

bool isKnownAccessibility(std::string_view value) {
  for (const char* known :
       {kKeychainAccessibleWhenUnlocked, kKeychainAccessibleAfterFirstUnlock, kKeychainAccessibleAlways,
        kKeychainAccessibleWhenUnlockedThisDeviceOnly, kKeychainAccessibleAfterFirstUnlockThisDeviceOnly,
        kKeychainAccessibleAlwaysThisDeviceOnly})
    if (value == known) return true;
  return false;
}

// The text of an optional String entry; false when the entry is there but not a String.
bool optionalText(const Dictionary& dictionary, const char* key, std::optional<std::string>& out) {
  ObjectPtr value = dictionary.objectForKey(key);
  if (!value) return true;
  auto text = dyn<String>(value);
  if (!text) return false;
  out = text->utf8();
  return true;
}

bool optionalFlag(const Dictionary& dictionary, const char* key, bool& out) {
  ObjectPtr value = dictionary.objectForKey(key);
  if (!value) return true;
  auto number = dyn<Number>(value);
  if (!number) return false;
  out = number->boolValue();
  return true;
}

bool hasGenericPasswordClass(const Dictionary& dictionary) {
  return dictionary.stringForKey(kKeychainClass) == kKeychainClassGenericPassword;
}

// What a query asks for, once its entries have been checked.
struct Query {
  std::optional<std::string> service;
  std::optional<std::string> account;
  bool returnData = false;
  bool returnAttributes = false;
  bool matchAll = false;

  bool matches(const Item& item) const {
    return (!service || *service == item.service) && (!account || *account == item.account);
  }
};

bool parseQuery(const Dictionary& dictionary, Query& query) {
  if (!hasGenericPasswordClass(dictionary)) return false;
  if (!optionalText(dictionary, kKeychainAttributeService, query.service)) return false;
  if (!optionalText(dictionary, kKeychainAttributeAccount, query.account)) return false;
  if (!optionalFlag(dictionary, kKeychainReturnData, query.returnData)) return false;
  if (!optionalFlag(dictionary, kKeychainReturnAttributes, query.returnAttributes)) return false;
  std::optional<std::string> limit;
  if (!optionalText(dictionary, kKeychainMatchLimit, limit)) return false;
  if (limit && *limit != kKeychainMatchLimitOne && *limit != kKeychainMatchLimitAll) return false;
  query.matchAll = limit == kKeychainMatchLimitAll;
  return true;
}

// The changes an add or update carries, once checked.
struct Changes {
  std::optional<std::string> service;
  std::optional<std::string> account;
  ObjectPtr data;  // Data, or nullptr when not given
  std::optional<std::string> accessible;
};

bool parseChanges(const Dictionary& dictionary, Changes& changes) {
  if (!optionalText(dictionary, kKeychainAttributeService, changes.service)) return false;
  if (!optionalText(dictionary, kKeychainAttributeAccount, changes.account)) return false;
  if (!optionalText(dictionary, kKeychainAttributeAccessible, changes.accessible)) return false;
  if (changes.accessible && !isKnownAccessibility(*changes.accessible)) return false;
  changes.data = dictionary.objectForKey(kKeychainValueData);
  if (changes.data && !dyn<Data>(changes.data)) return false;
  return true;
}

ObjectPtr resultFor(const Item& item, const Query& query) {
  if (!query.returnAttributes) {
    if (!query.returnData) return nullptr;
    return item.data ? ObjectPtr(item.data) : ObjectPtr(Data::make());
  }
  auto attributes = MutableDictionary::make();
  attributes->setObject(box(kKeychainClassGenericPassword), kKeychainClass);
  attributes->setObject(box(item.service), kKeychainAttributeService);
  attributes->setObject(box(item.account), kKeychainAttributeAccount);
  if (item.accessible) attributes->setObject(box(*item.accessible), kKeychainAttributeAccessible);
  attributes->setObject(item.creationDate, kKeychainAttributeCreationDate);
  attributes->setObject(item.modificationDate, kKeychainAttributeModificationDate);
  if (query.returnData) attributes->setObject(item.data ? item.data : Data::make(), kKeychainValueData);
  return attributes->copy();
}

// Decodes the file's value tree; false when it is not a keychain.
bool decodeItems(const ObjectPtr& root, std::vector<Item>& items) {
  auto file = dyn<Dictionary>(root);
  if (!file) return false;
  auto version = dyn<Number>(file->objectForKey("version"));
  auto list = dyn<Array>(file->objectForKey("items"));
  if (!version || version->longLongValue() != kFileVersion || !list) return false;
  for (const ObjectPtr& entry : *list) {
    auto fields = dyn<Dictionary>(entry);
    if (!fields) return false;
    Item item;
    auto service = dyn<String>(fields->objectForKey("service"));
    auto account = dyn<String>(fields->objectForKey("account"));
    item.creationDate = dyn<Date>(fields->objectForKey("creationDate"));
    item.modificationDate = dyn<Date>(fields->objectForKey("modificationDate"));
    if (!service || !account || !item.creationDate || !item.modificationDate) return false;
    item.service = service->utf8();
    item.account = account->utf8();
    if (ObjectPtr data = fields->objectForKey("data")) {
      item.data = dyn<Data>(data);
      if (!item.data) return false;
    }
    if (!optionalText(*fields, "accessible", item.accessible)) return false;
    items.push_back(std::move(item));
  }
  return true;
}

Ref<Dictionary> encodeItems(const std::vector<Item>& items) {
  std::vector<ObjectPtr> list;
  list.reserve(items.size());
  for (const Item& item : items) {
    auto fields = MutableDictionary::make({{"service", box(item.service)},
                                           {"account", box(item.account)},
                                           {"creationDate", item.creationDate},
                                           {"modificationDate", item.modificationDate}});
    if (item.data) fields->setObject(item.data, "data");
    if (item.accessible) fields->setObject(box(*item.accessible), "accessible");
    list.push_back(fields);
  }
  return Dictionary::make({{"version", box(static_cast<long long>(kFileVersion))}, {"items", Array::make(std::move(list))}});
}

// One locked read (and, when `body` changes the items, write) of the keychain file.
KeychainStatus transact(const std::filesystem::path& folder, bool writes,
                        const std::function<KeychainStatus(std::vector<Item>&, bool& changed)>& body) {
  // The folder is the owner's alone, whoever made it: it and any parent made here (the home on
  // first use) are made 0700, one made looser by someone else is tightened, and a folder that
  // cannot be tightened is not used.
  std::error_code folderError;
  storage::createPrivateFolders(folder, folderError);
  auto permissions = std::filesystem::status(folder, folderError).permissions();
  if (!folderError && (permissions & (std::filesystem::perms::group_all | std::filesystem::perms::others_all)) !=
                          std::filesystem::perms::none)
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, folderError);
  if (folderError) {
    logError("cannot make the keychain folder " + folder.string() + " private: " + folderError.message());
    return kKeychainIO;
  }
  storage::FileLock lock(folder / kLockFileName,
                         writes ? storage::FileLock::Mode::Exclusive : storage::FileLock::Mode::Shared);
  if (!lock.isLocked()) {
    logError("cannot lock the keychain in " + folder.string() + ": " + lock.error()->localizedDescription());
    return kKeychainIO;
  }
  const std::filesystem::path file = folder / kFileName;
  std::vector<Item> items;
  Ref<Error> error;
  if (auto bytes = storage::readFile(file, &error, storage::kSmallFileReadLimit)) {
    ObjectPtr root = storage::parsePropertyList(*bytes, &error);
    if (!decodeItems(root, items)) {
      logError("keychain file " + file.string() + " cannot be decoded (" +
               (root ? std::string("not a keychain") : error->localizedDescription()) +
               "); it is left in place and the keychain is unusable until it is repaired or removed");
      return kKeychainDecode;
    }
  } else if (!(error->domain() == kPOSIXErrorDomain && error->code() == ENOENT)) {
    logError("cannot read keychain file " + file.string() + ": " + error->localizedDescription());
    return kKeychainIO;
  }
  bool changed = false;
  KeychainStatus status = body(items, changed);
  if (status != kKeychainSuccess || !changed) return status;
  auto bytes = storage::serializePropertyList(*encodeItems(items), storage::PropertyListFormat::Binary, &error);
  if (!bytes) {
    logError("cannot encode the keychain: " + error->localizedDescription());
    return kKeychainIO;
  }
  if (Ref<Error> failure = storage::writeFileAtomically(file, *bytes, kFilePermissions)) {
    logError("cannot write keychain file " + file.string() + ": " + failure->localizedDescription());
    return kKeychainIO;
  }
  return kKeychainSuccess;
}

}  // namespace

Keychain& Keychain::shared() {
  static Keychain* keychain = new Keychain();  // lives until the process ends
  return *keychain;
}

namespace {
// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gKeychainMade = (Keychain::shared(), true);
}  // namespace

Keychain::Keychain(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path Keychain::folder() const {
  if (folder_) return *folder_;
  return ApplicationEnvironment::shared().homeDirectory() / "Keychains";
}

std::filesystem::path Keychain::filePath() const { return folder() / kFileName; }

KeychainStatus Keychain::addItem(const Dictionary& attributes, ObjectPtr* result) {
  if (result) *result = nullptr;
  Query query;
  Changes changes;
  if (!parseQuery(attributes, query) || !parseChanges(attributes, changes)) return kKeychainParam;
  std::lock_guard guard(mutex_);
  return transact(folder(), true, [&](std::vector<Item>& items, bool& changed) {
    Item item;
    item.service = changes.service.value_or("");
    item.account = changes.account.value_or("");
    if (std::any_of(items.begin(), items.end(), [&](const Item& existing) {
          return existing.service == item.service && existing.account == item.account;
        }))
      return kKeychainDuplicateItem;
    item.data = dyn<Data>(changes.data);
    item.accessible = changes.accessible;
    item.creationDate = Date::now();
    item.modificationDate = item.creationDate;
    if (result) *result = resultFor(item, query);
    items.push_back(std::move(item));
    changed = true;
    return kKeychainSuccess;
  });
}

KeychainStatus Keychain::copyMatching(const Dictionary& dictionary, ObjectPtr* result) {
  if (result) *result = nullptr;
  Query query;
  if (!parseQuery(dictionary, query)) return kKeychainParam;
  std::lock_guard guard(mutex_);
  return transact(folder(), false, [&](std::vector<Item>& items, bool&) {
    std::vector<ObjectPtr> found;
    bool any = false;
    for (const Item& item : items) {
      if (!query.matches(item)) continue;
      any = true;
      if (ObjectPtr value = resultFor(item, query)) found.push_back(value);
      if (!query.matchAll) break;
    }
    if (!any) return kKeychainItemNotFound;
    if (result) {
      if (query.matchAll)
        *result = Array::make(std::move(found));
      else if (!found.empty())
        *result = found.front();
    }
    return kKeychainSuccess;
  });
}

KeychainStatus Keychain::update(const Dictionary& dictionary, const Dictionary& attributesToUpdate) {
  Query query;
  Changes changes;
  if (!parseQuery(dictionary, query) || !parseChanges(attributesToUpdate, changes)) return kKeychainParam;
  if (attributesToUpdate.objectForKey(kKeychainClass)) return kKeychainParam;
  std::lock_guard guard(mutex_);
  return transact(folder(), true, [&](std::vector<Item>& items, bool& changed) {
    std::vector<Item> updated = items;
    bool any = false;
    Ref<Date> now = Date::now();
    for (Item& item : updated) {
      if (!query.matches(item)) continue;
      any = true;
      if (changes.service) item.service = *changes.service;
      if (changes.account) item.account = *changes.account;
      if (changes.data) item.data = dyn<Data>(changes.data);
      if (changes.accessible) item.accessible = changes.accessible;
      item.modificationDate = now;
    }
    if (!any) return kKeychainItemNotFound;
    std::set<std::pair<std::string, std::string>> keys;
    for (const Item& item : updated)
      if (!keys.emplace(item.service, item.account).second) return kKeychainDuplicateItem;
    items = std::move(updated);
    changed = true;
    return kKeychainSuccess;
  });
}

KeychainStatus Keychain::deleteItems(const Dictionary& dictionary) {
  Query query;
  if (!parseQuery(dictionary, query)) return kKeychainParam;
  std::lock_guard guard(mutex_);
  return transact(folder(), true, [&](std::vector<Item>& items, bool& changed) {
    auto kept = std::remove_if(items.begin(), items.end(), [&](const Item& item) { return query.matches(item); });
    if (kept == items.end()) return kKeychainItemNotFound;
    items.erase(kept, items.end());
    changed = true;
    return kKeychainSuccess;
  });
}

}  // namespace zv
