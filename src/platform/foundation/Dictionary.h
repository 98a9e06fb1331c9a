#pragma once
// Keyed collections. Dictionary is abstract so that other concrete dictionaries (the JSON
// decoder's own) behave as ordinary dictionaries to every caller; Dictionary::make and
// MutableDictionary::make give the standard ones, which enumerate in insertion order. Keys are any
// objects (copied on insertion), compared with isEqual; text keys have shortcuts.

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Object.h"

namespace zv {

class Array;
class String;
class Number;

class Dictionary : public Object {
 public:
  using Entry = std::pair<ObjectPtr, ObjectPtr>;
  // A later entry with an equal key replaces the earlier one. nullptr keys or values raise
  // "NSInvalidArgumentException".
  static Ref<Dictionary> make(std::vector<Entry> entries = {});
  static Ref<Dictionary> make(std::initializer_list<std::pair<std::string_view, ObjectPtr>> entries);

  virtual std::size_t count() const = 0;
  virtual ObjectPtr objectForKey(const Object& key) const = 0;
  // Lookup by a text key; the default builds a String, the standard dictionaries need not.
  virtual ObjectPtr objectForKey(std::string_view key) const;
  ObjectPtr objectForKey(const char* key) const { return objectForKey(std::string_view(key)); }
  ObjectPtr objectForKey(const ObjectPtr& key) const { return key ? objectForKey(*key) : nullptr; }
  // Visits every entry in the dictionary's order until `visit` returns false.
  virtual void enumerate(const std::function<bool(const ObjectPtr& key, const ObjectPtr& object)>& visit) const = 0;
  virtual bool isMutable() const { return false; }

  bool empty() const { return count() == 0; }
  std::vector<Entry> entries() const;
  Ref<Array> allKeys() const;
  Ref<Array> allValues() const;

  template <class T>
  Ref<T> objectForKeyAs(std::string_view key) const {
    return std::dynamic_pointer_cast<T>(objectForKey(key));
  }
  // The text of a String entry (nullopt when absent or not a String).
  std::optional<std::string> stringForKey(std::string_view key) const;

  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;
  ObjectPtr copy() const override;
  ObjectPtr mutableCopy() const override;

 protected:
  Dictionary() = default;
};

class MutableDictionary : public Dictionary {
 public:
  static Ref<MutableDictionary> make(std::vector<Entry> entries = {});
  static Ref<MutableDictionary> make(std::initializer_list<std::pair<std::string_view, ObjectPtr>> entries);

  // Primitives. The key is copied; nullptr key or object raises "NSInvalidArgumentException".
  virtual void setObject(ObjectPtr object, const ObjectPtr& key) = 0;
  virtual void removeObjectForKey(const Object& key) = 0;

  void setObject(ObjectPtr object, std::string_view key);
  void setObject(ObjectPtr object, const char* key) { setObject(std::move(object), std::string_view(key)); }
  // Sets, or removes when object is nullptr.
  void setValue(ObjectPtr object, std::string_view key);
  void removeObjectForKey(std::string_view key);
  void removeObjectForKey(const char* key) { removeObjectForKey(std::string_view(key)); }
  // A nullptr key raises "NSInvalidArgumentException".
  void removeObjectForKey(const ObjectPtr& key);
  void removeAllObjects();
  void addEntriesFromDictionary(const Dictionary& other);

  bool isMutable() const override { return true; }

 protected:
  MutableDictionary() = default;
};

}  // namespace zv
