#pragma once
// The JSON decoder's dictionaries: an open-addressed table sized from a fixed capacity table,
// probed linearly from hash mod capacity. Enumeration follows slot order, which depends on the
// keys' hashes and the capacity, not on document order. Mutability and the mutation counter work
// as for JCArray. Keys are stored with their 32-bit platform hash, which is keyed per process: a
// sender cannot choose keys that share a slot, and slot order differs from run to run.
// Layout: the table's slots hold a hash and the number of a pair (8 bytes each), and the pairs of
// key and object are kept densely apart from them, so empty slots cost 8 bytes and not a pair.
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
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t pair = 0;  // 1 + the index of the pair; 0 marks an empty slot
  };
  struct Pair {
    ObjectPtr key;
    ObjectPtr object;
  };
  // In the document's arena for an immutable dictionary, on the heap for a mutable one.
  using SlotStorage = std::vector<Slot, detail::JCStorageAllocator<Slot>>;
  using PairStorage = std::vector<Pair, detail::JCStorageAllocator<Pair>>;

  // An empty table of `capacity` slots with room for `count` pairs; the decoder then adds its
  // pairs with addEntry. `arena` holds the storage of an immutable dictionary (nullptr: the heap).
  JCDictionary(JCCreationKey, std::size_t capacity, std::size_t count, detail::JCArena* arena, bool isMutableResult);

  // The smallest capacity-table value not below floor(count * 1.33); past the table's last value
  // the capacity keeps growing by the same ratio.
  static std::size_t capacityForCount(std::size_t count);
  // The platform hash of a key as the table stores it.
  static std::uint32_t keyHash(const Object& key) { return static_cast<std::uint32_t>(key.hash()); }

  std::size_t count() const override { return pairs_.size(); }
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

  std::size_t capacity() const { return slots_.size(); }
  std::uint32_t mutations() const { return mutations_; }
  // The pair of a slot, nullptr for an empty slot (slot < capacity()).
  const Pair* pairAtSlot(std::size_t slot) const {
    const std::uint32_t pair = slots_[slot].pair;
    return pair ? &pairs_[pair - 1] : nullptr;
  }
  // Calls visit(key, object) for the pairs in place, in slot order, while it returns true; for
  // readers that walk a decoded tree without copying references. Answers false when stopped.
  template <class Visit>
  bool visitPairs(Visit&& visit) const {
    for (const Slot& slot : slots_) {
      if (slot.pair == 0) continue;
      const Pair& p = pairs_[slot.pair - 1];
      if (!visit(p.key, p.object)) return false;
    }
    return true;
  }

  // Adds a pair under its precomputed hash, replacing an equal key. Used while the decoder builds
  // the dictionary; requires count() < capacity().
  // The pair an equal key replaces is moved to `replaced` when given.
  void addEntry(std::uint32_t hash, ObjectPtr key, ObjectPtr object, Pair* replaced = nullptr);

 private:
  template <class Match>
  std::ptrdiff_t find(std::uint32_t hash, Match match) const;
  void removeSlot(std::size_t slot);
  void insertSlot(std::uint32_t hash, std::uint32_t pair);
  void requireMutable(const char* operation) const;

  std::uint32_t mutations_;
  SlotStorage slots_;
  PairStorage pairs_;
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
