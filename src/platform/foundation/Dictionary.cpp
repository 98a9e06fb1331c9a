#include "platform/foundation/Dictionary.h"

#include "platform/foundation/Array.h"
#include "platform/foundation/CollectionComparison.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/HashTable.h"
#include "platform/foundation/KeyedHash.h"
#include "platform/foundation/PropertyListDescription.h"
#include "platform/foundation/String.h"

namespace zv {

namespace {

void requireKeyAndObject(const Dictionary& d, const ObjectPtr& object, const Object* key) {
  if (!key)
    Exception::raise(kInvalidArgumentException,
                     format("*** -[%s setObject:forKey:]: key cannot be nil", d.className().c_str()));
  if (!object)
    Exception::raise(kInvalidArgumentException, format("*** -[%s setObject:forKey:]: object cannot be nil (key: %s)",
                                                       d.className().c_str(), key->description().c_str()));
}

// The storage shared by the standard dictionaries.
class EntryTable {
 public:
  EntryTable(const Dictionary& owner, std::vector<Dictionary::Entry> entries) {
    for (auto& [key, object] : entries) set(owner, std::move(object), key);
  }
  std::size_t count() const { return table_.size(); }
  ObjectPtr find(const Object& key) const {
    auto index = table_.find(key);
    return index ? table_.entry(*index).value : nullptr;
  }
  ObjectPtr find(std::string_view key) const {
    auto index = table_.findText(key);
    return index ? table_.entry(*index).value : nullptr;
  }
  void enumerate(const std::function<bool(const ObjectPtr&, const ObjectPtr&)>& visit) const {
    // Index-based, so a visitor that reads the dictionary is safe.
    const auto& entries = table_.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& e = entries[i];
      if (e.key && !visit(e.key, e.value)) return;
    }
  }
  void set(const Dictionary& owner, ObjectPtr object, const ObjectPtr& key) {
    requireKeyAndObject(owner, object, key.get());
    table_.put(key->copy(), std::move(object));
  }
  void remove(const Object& key) { table_.erase(key); }

 private:
  detail::HashTable table_;
};

class StandardDictionary final : public Dictionary {
 public:
  explicit StandardDictionary(std::vector<Entry> entries) : table_(*this, std::move(entries)) {}
  std::size_t count() const override { return table_.count(); }
  ObjectPtr objectForKey(const Object& key) const override { return table_.find(key); }
  ObjectPtr objectForKey(std::string_view key) const override { return table_.find(key); }
  using Dictionary::objectForKey;
  void enumerate(const std::function<bool(const ObjectPtr&, const ObjectPtr&)>& visit) const override {
    table_.enumerate(visit);
  }

 private:
  EntryTable table_;
};

class StandardMutableDictionary final : public MutableDictionary {
 public:
  explicit StandardMutableDictionary(std::vector<Entry> entries) : table_(*this, std::move(entries)) {}
  std::size_t count() const override { return table_.count(); }
  ObjectPtr objectForKey(const Object& key) const override { return table_.find(key); }
  ObjectPtr objectForKey(std::string_view key) const override { return table_.find(key); }
  using Dictionary::objectForKey;
  void enumerate(const std::function<bool(const ObjectPtr&, const ObjectPtr&)>& visit) const override {
    table_.enumerate(visit);
  }
  void setObject(ObjectPtr object, const ObjectPtr& key) override { table_.set(*this, std::move(object), key); }
  void removeObjectForKey(const Object& key) override { table_.remove(key); }
  using MutableDictionary::removeObjectForKey;
  using MutableDictionary::setObject;

 private:
  EntryTable table_;
};

std::vector<Dictionary::Entry> textEntries(std::initializer_list<std::pair<std::string_view, ObjectPtr>> entries) {
  std::vector<Dictionary::Entry> result;
  result.reserve(entries.size());
  for (const auto& [key, object] : entries) result.emplace_back(String::make(key), object);
  return result;
}

}  // namespace

Ref<Dictionary> Dictionary::make(std::vector<Entry> entries) {
  return std::make_shared<StandardDictionary>(std::move(entries));
}

Ref<Dictionary> Dictionary::make(std::initializer_list<std::pair<std::string_view, ObjectPtr>> entries) {
  return make(textEntries(entries));
}

ObjectPtr Dictionary::objectForKey(std::string_view key) const { return objectForKey(*String::make(key)); }

std::vector<Dictionary::Entry> Dictionary::entries() const {
  std::vector<Entry> result;
  result.reserve(count());
  enumerate([&](const ObjectPtr& key, const ObjectPtr& object) {
    result.emplace_back(key, object);
    return true;
  });
  return result;
}

Ref<Array> Dictionary::allKeys() const {
  std::vector<ObjectPtr> keys;
  keys.reserve(count());
  enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
    keys.push_back(key);
    return true;
  });
  return Array::make(std::move(keys));
}

Ref<Array> Dictionary::allValues() const {
  std::vector<ObjectPtr> values;
  values.reserve(count());
  enumerate([&](const ObjectPtr&, const ObjectPtr& object) {
    values.push_back(object);
    return true;
  });
  return Array::make(std::move(values));
}

std::optional<std::string> Dictionary::stringForKey(std::string_view key) const {
  if (auto s = objectForKeyAs<String>(key)) return s->utf8();
  return std::nullopt;
}

std::string Dictionary::description() const { return describePropertyList(*this); }

bool Dictionary::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* d = dynamic_cast<const Dictionary*>(&other);
  if (d == nullptr || d->count() != count()) return false;
  if (count() == 0) return true;
  detail::CollectionComparison comparison(*this, other);
  if (auto verdict = comparison.known()) return *verdict;
  bool equal = true;
  enumerate([&](const ObjectPtr& key, const ObjectPtr& object) {
    equal = zv::isEqual(object, d->objectForKey(*key));
    return equal;
  });
  return comparison.finish(equal);
}

std::size_t Dictionary::hash() const {
  // The count and the keys, in an order-independent sum as equality compares them; a key that is a
  // collection counts by its size only, so hashing never descends below the keys.
  std::size_t h = detail::scrambleHash(count());
  enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
    h += detail::scrambleHash(detail::memberHash(*key));
    return true;
  });
  return h;
}

ObjectPtr Dictionary::copy() const {
  if (!isMutable()) return self();
  return make(entries());
}

ObjectPtr Dictionary::mutableCopy() const { return MutableDictionary::make(entries()); }

Ref<MutableDictionary> MutableDictionary::make(std::vector<Entry> entries) {
  return std::make_shared<StandardMutableDictionary>(std::move(entries));
}

Ref<MutableDictionary> MutableDictionary::make(std::initializer_list<std::pair<std::string_view, ObjectPtr>> entries) {
  return make(textEntries(entries));
}

void MutableDictionary::setObject(ObjectPtr object, std::string_view key) {
  setObject(std::move(object), String::make(key));
}

void MutableDictionary::setValue(ObjectPtr object, std::string_view key) {
  if (object) {
    setObject(std::move(object), key);
  } else {
    removeObjectForKey(key);
  }
}

void MutableDictionary::removeObjectForKey(std::string_view key) { removeObjectForKey(*String::make(key)); }

void MutableDictionary::removeObjectForKey(const ObjectPtr& key) {
  if (!key)
    Exception::raise(kInvalidArgumentException,
                     format("*** -[%s removeObjectForKey:]: attempt to remove nil key", className().c_str()));
  removeObjectForKey(*key);
}

void MutableDictionary::removeAllObjects() {
  for (const auto& key : allKeys()->objects()) removeObjectForKey(*key);
}

void MutableDictionary::addEntriesFromDictionary(const Dictionary& other) {
  for (const auto& [key, object] : other.entries()) setObject(object, key);
}

}  // namespace zv
