#include "platform/system/UserDefaults.h"

#include <mutex>

#include "platform/system/ApplicationEnvironment.h"
#include "platform/system/Bundle.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/system/NotificationCenter.h"
#include "platform/system/UserDefaultsStore.h"

namespace zv {

namespace {

constexpr int kMaximumDepth = 64;

// A deep immutable copy of a property-list tree; nullptr when it holds anything else.
ObjectPtr propertyListCopy(const ObjectPtr& value, int depth) {
  if (!value || depth > kMaximumDepth) return nullptr;
  if (value->isKindOf<String>() || value->isKindOf<Number>() || value->isKindOf<Data>() || value->isKindOf<Date>())
    return value->copy();
  if (auto array = dyn<Array>(value)) {
    std::vector<ObjectPtr> items;
    items.reserve(array->count());
    for (const auto& item : *array) {
      auto copied = propertyListCopy(item, depth + 1);
      if (!copied) return nullptr;
      items.push_back(std::move(copied));
    }
    return Array::make(std::move(items));
  }
  if (auto dictionary = dyn<Dictionary>(value)) {
    std::vector<Dictionary::Entry> entries;
    entries.reserve(dictionary->count());
    bool valid = true;
    dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr& item) {
      auto copied = key && key->isKindOf<String>() ? propertyListCopy(item, depth + 1) : nullptr;
      if (!copied) return valid = false;
      entries.emplace_back(key->copy(), std::move(copied));
      return true;
    });
    return valid ? Dictionary::make(std::move(entries)) : nullptr;
  }
  return nullptr;
}

ObjectPtr storableCopy(const ObjectPtr& value, std::string_view key) {
  auto copied = propertyListCopy(value, 0);
  if (!copied)
    Exception::raise(kInvalidArgumentException, "Attempt to insert non-property list object " + describe(value) +
                                                    " for key " + std::string(key));
  return copied;
}

std::filesystem::path standardFile() {
  std::string identifier = Bundle::mainBundle()->bundleIdentifier().value_or("com.mirovast.zerivudor");
  return ApplicationEnvironment::shared().preferencesDirectory() / (identifier + ".plist");
}

struct StandardSlot {
  ForkMutex mutex{ForkLockLevel::StandardUserDefaults};
  Ref<UserDefaults> defaults;
};

StandardSlot& standardSlot() {
  static StandardSlot& slot = *new StandardSlot;
  return slot;
}

// Made before main: a fork never finds it half made.
[[maybe_unused]] const bool gStandardSlotMade = (standardSlot(), true);

}  // namespace

Ref<UserDefaults> UserDefaults::standardUserDefaults() {
  auto& slot = standardSlot();
  std::lock_guard lock(slot.mutex);
  if (!slot.defaults) slot.defaults = make();
  return slot.defaults;
}

void UserDefaults::resetStandardUserDefaults() {
  Ref<UserDefaults> previous;
  {
    auto& slot = standardSlot();
    std::lock_guard lock(slot.mutex);
    previous = std::move(slot.defaults);
  }
  if (previous) previous->synchronize();
}

Ref<UserDefaults> UserDefaults::make() { return makeWithFile(standardFile()); }

Ref<UserDefaults> UserDefaults::makeWithFile(const std::filesystem::path& file) {
  return std::make_shared<UserDefaults>(UserDefaultsStore::forFile(file));
}

UserDefaults::UserDefaults(std::shared_ptr<UserDefaultsStore> store) : store_(std::move(store)) {}

std::filesystem::path UserDefaults::filePath() const { return store_->path(); }

ObjectPtr UserDefaults::objectForKey(std::string_view key) const { return store_->objectForKey(key); }

void UserDefaults::setObject(const ObjectPtr& value, std::string_view key) {
  if (!value) {
    removeObjectForKey(key);
    return;
  }
  store_->setObject(storableCopy(value, key), key);
  changed();
}

bool UserDefaults::setObjectIfAbsent(const ObjectPtr& value, std::string_view key) {
  if (!value) return false;
  if (!store_->setObjectIfAbsent(storableCopy(value, key), key)) return false;
  changed();
  return true;
}

void UserDefaults::removeObjectForKey(std::string_view key) {
  store_->setObject(nullptr, key);
  changed();
}

void UserDefaults::changed() {
  NotificationCenter::defaultCenter()->postNotificationName(kUserDefaultsDidChangeNotification, self());
}

bool UserDefaults::boolForKey(std::string_view key) const { return boolValueOf(objectForKey(key)); }
std::int64_t UserDefaults::integerForKey(std::string_view key) const { return integerValueOf(objectForKey(key)); }
float UserDefaults::floatForKey(std::string_view key) const { return floatValueOf(objectForKey(key)); }
double UserDefaults::doubleForKey(std::string_view key) const { return doubleValueOf(objectForKey(key)); }

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  auto value = objectForKey(key);
  if (auto text = dyn<String>(value)) return text->utf8();
  if (auto number = dyn<Number>(value)) return number->stringValue();
  return std::nullopt;
}

Ref<Array> UserDefaults::arrayForKey(std::string_view key) const { return dyn<Array>(objectForKey(key)); }
Ref<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
  return dyn<Dictionary>(objectForKey(key));
}
Ref<Data> UserDefaults::dataForKey(std::string_view key) const { return dyn<Data>(objectForKey(key)); }

void UserDefaults::setBool(bool value, std::string_view key) { setObject(Number::make(value), key); }
void UserDefaults::setInteger(std::int64_t value, std::string_view key) {
  setObject(Number::make(static_cast<long long>(value)), key);
}
void UserDefaults::setFloat(float value, std::string_view key) { setObject(Number::make(value), key); }
void UserDefaults::setDouble(double value, std::string_view key) { setObject(Number::make(value), key); }

void UserDefaults::registerDefaults(const Ref<Dictionary>& defaults) {
  if (defaults) store_->registerDefaults(*defaults);
}

Ref<Dictionary> UserDefaults::dictionaryRepresentation() const { return store_->dictionaryRepresentation(); }

bool UserDefaults::synchronize(Ref<Error>* error) { return store_->synchronize(error); }

}  // namespace zv
