#pragma once
// The JSON decoder's dictionaries: an open-addressed table sized from a fixed capacity table,
// probed linearly from hash mod capacity. Enumeration follows slot order, which depends on the
// keys' hashes and the capacity, not on document order. Mutability and the mutation counter work
// as for JCArray. Keys are stored with their 32-bit platform hash.
// Thread contract: an immutable dictionary may be read from any thread, a mutable one from one at
// a time.

#include <cstdint>
#include <vector>

#include "platform/foundation/Dictionary.h"
#include "sharing/json/JCArena.h"
#include "sharing/json/JCCreationKey.h"

namespace zv {

class JCDictionaryEnumerator;

class JCDictionary final : public MutableDictionary {
 public:
  struct Entry {
    std::uint32_t hash = 0;
    ObjectPtr key;  // nullptr marks an empty slot
    ObjectPtr object;
  };

  // The slots: in the document's arena for an immutable dictionary, on the heap for a mutable one.
  using Storage = std::vector<Entry, detail::JCStorageAllocator<Entry>>;

  // An empty table of `capacity` slots; the decoder then adds its pairs with addEntry. `arena`
  // holds the slots of an immutable dictionary (nullptr: the heap).
  JCDictionary(JCCreationKey, std::size_t capacity, detail::JCArena* arena, bool isMutableResult);

  // The smallest capacity-table value not below floor(count * 1.33); past the table's last value
  // the capacity keeps growing by the same ratio.
  static std::size_t capacityForCount(std::size_t count);
  // The platform hash of a key as the table stores it.
  static std::uint32_t keyHash(const Object& key) { return static_cast<std::uint32_t>(key.hash()); }

  std::size_t count() const override { return count_; }
  ObjectPtr objectForKey(const Object& key) const override;
  ObjectPtr objectForKey(std::string_view key) const override;
  using Dictionary::objectForKey;
  // Slot order. Raises "NSGenericException" when the visitor mutates the dictionary.
  void enumerate(const std::function<bool(const ObjectPtr& key, const ObjectPtr& object)>& visit) const override;
  bool isMutable() const override { return mutations_ != 0; }

  // Writes the objects and keys of the occupied slots, in slot order, to whichever buffer is given
  // (each must hold count() references).
  void getObjectsAndKeys(ObjectPtr* objects, ObjectPtr* keys) const;
  Ref<JCDictionaryEnumerator> keyEnumerator() const;

  // Mutating calls raise "NSInternalInconsistencyException" on an immutable dictionary and
  // "NSInvalidArgumentException" for a nil key or object. The key is copied.
  void setObject(ObjectPtr object, const ObjectPtr& key) override;
  void removeObjectForKey(const Object& key) override;
  // A nil key raises "NSInvalidArgumentException" (after the immutable check) instead of being
  // ignored.
  void removeObjectForKey(const ObjectPtr& key);
  using MutableDictionary::removeObjectForKey;
  using MutableDictionary::setObject;

  std::size_t capacity() const { return entries_.size(); }
  std::uint32_t mutations() const { return mutations_; }
  // The slots in place (empty ones included), for readers that walk a decoded tree.
  const Storage& slots() const { return entries_; }

  // Adds a pair under its precomputed hash, replacing an equal key. Used while the decoder builds
  // the dictionary; requires count() < capacity().
  void addEntry(std::uint32_t hash, ObjectPtr key, ObjectPtr object);

 private:
  template <class Match>
  std::ptrdiff_t find(std::uint32_t hash, Match match) const;
  void removeSlot(std::size_t slot);
  void requireMutable(const char* operation) const;

  std::size_t count_ = 0;
  std::uint32_t mutations_;
  Storage entries_;
};

// Walks a dictionary's keys in slot order.
class JCDictionaryEnumerator final : public Object {
 public:
  explicit JCDictionaryEnumerator(Ref<const JCDictionary> collection) : collection_(std::move(collection)) {}
  // The key of the next occupied slot; nullptr after the last.
  ObjectPtr nextObject();
  // The keys not yet returned.
  Ref<Array> allObjects();

 private:
  Ref<const JCDictionary> collection_;
  std::size_t nextObject_ = 0;
};

}  // namespace zv
