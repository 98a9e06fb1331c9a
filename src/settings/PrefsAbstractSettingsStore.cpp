#include "settings/PrefsAbstractSettingsStore.h"

namespace zv {

void PrefsAbstractSettingsStore::setObject(ObjectPtr, std::string_view) {
  Exception::raise("Unimplemented",
                   "setObject:forKey: must be implemented in subclasses of PrefsAbstractSettingsStore");
}

ObjectPtr PrefsAbstractSettingsStore::objectForKey(std::string_view) {
  Exception::raise("Unimplemented", "objectForKey: must be implemented in subclasses of PrefsAbstractSettingsStore");
}

void PrefsAbstractSettingsStore::setBool(bool value, std::string_view key) { setObject(Number::make(value), key); }

void PrefsAbstractSettingsStore::setFloat(float value, std::string_view key) { setObject(Number::make(value), key); }

void PrefsAbstractSettingsStore::setInteger(std::int32_t value, std::string_view key) {
  setObject(Number::make(static_cast<int>(value)), key);
}

void PrefsAbstractSettingsStore::setDouble(double value, std::string_view key) { setObject(Number::make(value), key); }

bool PrefsAbstractSettingsStore::boolForKey(std::string_view key) { return boolValueOf(objectForKey(key)); }

float PrefsAbstractSettingsStore::floatForKey(std::string_view key) { return floatValueOf(objectForKey(key)); }

std::int32_t PrefsAbstractSettingsStore::integerForKey(std::string_view key) { return intValueOf(objectForKey(key)); }

double PrefsAbstractSettingsStore::doubleForKey(std::string_view key) { return doubleValueOf(objectForKey(key)); }

}  // namespace zv
