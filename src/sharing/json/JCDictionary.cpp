#include "sharing/json/JCDictionary.h"

#include <algorithm>
#include <array>

#include "platform/foundation/Array.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/String.h"
#include "sharing/json/JCArray.h"

namespace zv {

namespace {

constexpr std::array<std::size_t, 40> kCapacities = {
    0,        3,        7,        13,       23,        41,        71,        127,       191,       251,
    383,      631,      1087,     1723,     2803,      4523,      7351,      11959,     19447,     31231,
    50683,    81919,    132607,   214519,   346607,    561109,    907759,    1468927,   2376191,   3845119,
    6221311,  10066421, 16287743, 26354171, 42641881,  68996069,  111638519, 180634607, 292272623, 472907251};

}  // namespace

std::size_t JCDictionary::capacityForCount(std::size_t count) {
  // floor(count * 1.33) without floating point: count + floor(count * 33 / 100).
  const std::size_t needed = count + (count / 100) * 33 + (count % 100) * 33 / 100;
  auto it = std::lower_bound(kCapacities.begin(), kCapacities.end(), needed);
  if (it != kCapacities.end()) return *it;
  // Past the table: keep the table's ratio, and stay odd like its primes.
  return needed | 1;
}

JCDictionary::JCDictionary(JCCreationKey, std::size_t capacity, std::size_t count, detail::JCArena* arena,
                           bool isMutableResult)
    : mutations_(isMutableResult ? 1 : 0),
      slots_(capacity, detail::JCStorageAllocator<Slot>(isMutableResult ? nullptr : arena)),
      pairs_(detail::JCStorageAllocator<Pair>(isMutableResult ? nullptr : arena)) {
  pairs_.reserve(std::min(count, capacity));
}

template <class Match>
std::ptrdiff_t JCDictionary::find(std::uint32_t hash, Match match) const {
  const std::size_t capacity = slots_.size();
  if (capacity == 0) return -1;
  std::size_t slot = hash % capacity;
  for (std::size_t i = 0; i < capacity; ++i) {
    const Slot& s = slots_[slot];
    if (s.pair == 0) return -1;
    if (s.hash == hash && match(pairs_[s.pair - 1].key)) return static_cast<std::ptrdiff_t>(slot);
    if (++slot == capacity) slot = 0;
  }
  return -1;
}

ObjectPtr JCDictionary::objectForKey(const Object& key) const {
  auto slot = find(keyHash(key), [&](const ObjectPtr& k) { return k.get() == &key || k->isEqual(key); });
  return slot < 0 ? nullptr : pairAtSlot(static_cast<std::size_t>(slot))->object;
}

ObjectPtr JCDictionary::objectForKey(std::string_view key) const {
  auto slot = find(static_cast<std::uint32_t>(hashText(key)), [&](const ObjectPtr& k) {
    auto* s = dynamic_cast<const String*>(k.get());
    return s != nullptr && s->utf8() == key;
  });
  return slot < 0 ? nullptr : pairAtSlot(static_cast<std::size_t>(slot))->object;
}

void JCDictionary::enumerate(const std::function<bool(const ObjectPtr&, const ObjectPtr&)>& visit) const {
  const std::uint32_t mutations = mutations_;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Pair* p = pairAtSlot(i);
    if (!p) continue;
    // Hold the pair: a visitor that mutates must not pull them from under the call.
    ObjectPtr key = p->key, object = p->object;
    const bool more = visit(key, object);
    if (mutations_ != mutations)
      Exception::raise(kGenericException,
                       format("*** Collection <%s: %p> was mutated while being enumerated.", className().c_str(),
                              static_cast<const void*>(this)));
    if (!more) return;
  }
}

void JCDictionary::getObjectsAndKeys(ObjectPtr* objects, ObjectPtr* keys) const {
  visitPairs([&](const ObjectPtr& key, const ObjectPtr& object) {
    if (objects) *objects++ = object;
    if (keys) *keys++ = key;
    return true;
  });
}

Ref<JCDictionaryEnumerator> JCDictionary::keyEnumerator() const {
  return std::make_shared<JCDictionaryEnumerator>(std::static_pointer_cast<const JCDictionary>(shared_from_this()));
}

void JCDictionary::insertSlot(std::uint32_t hash, std::uint32_t pair) {
  const std::size_t capacity = slots_.size();
  std::size_t slot = hash % capacity;
  while (slots_[slot].pair != 0)
    if (++slot == capacity) slot = 0;
  slots_[slot] = Slot{hash, pair};
}

void JCDictionary::addEntry(std::uint32_t hash, ObjectPtr key, ObjectPtr object, Pair* replaced) {
  if (slots_.empty()) return;
  auto existing = find(hash, [&](const ObjectPtr& k) { return k == key || k->isEqual(*key); });
  if (existing >= 0) {
    if (replaced) *replaced = std::move(pairs_[slots_[static_cast<std::size_t>(existing)].pair - 1]);
    removeSlot(static_cast<std::size_t>(existing));
  }
  if (pairs_.size() >= slots_.size()) return;
  pairs_.push_back(Pair{std::move(key), std::move(object)});
  insertSlot(hash, static_cast<std::uint32_t>(pairs_.size()));
}

void JCDictionary::removeSlot(std::size_t slot) {
  const std::size_t capacity = slots_.size();
  const std::uint32_t removed = slots_[slot].pair;
  slots_[slot] = Slot{};
  // Put back every slot of the run that follows, so no lookup run is broken by the new hole.
  for (std::size_t next = (slot + 1) % capacity; slots_[next].pair; next = (next + 1) % capacity) {
    const Slot moved = slots_[next];
    slots_[next] = Slot{};
    std::size_t home = moved.hash % capacity;
    while (slots_[home].pair) home = (home + 1) % capacity;
    slots_[home] = moved;
  }
  // Keep the pairs dense: the last pair takes the removed one's place, and its slot follows.
  const auto last = static_cast<std::uint32_t>(pairs_.size());
  if (removed != last) {
    pairs_[removed - 1] = std::move(pairs_[last - 1]);
    // The last pair's slot lies on the probe run from its key's hash.
    std::size_t at = keyHash(*pairs_[removed - 1].key) % capacity;
    for (std::size_t i = 0; i < capacity && slots_[at].pair != last; ++i) at = (at + 1) % capacity;
    slots_[at].pair = removed;
  }
  pairs_.pop_back();
}

void JCDictionary::requireMutable(const char* operation) const {
  if (mutations_ == 0) raiseMutatingImmutable(*this, operation);
}

void JCDictionary::setObject(ObjectPtr object, const ObjectPtr& key) {
  requireMutable("setObject:forKey:");
  if (!key)
    Exception::raise(kInvalidArgumentException,
                     format("*** -[%s %s]: attempt to insert nil key", className().c_str(), "setObject:forKey:"));
  if (!object)
    Exception::raise(kInvalidArgumentException, format("*** -[%s %s]: attempt to insert nil value (key: %s)",
                                                       className().c_str(), "setObject:forKey:",
                                                       key->description().c_str()));
  const std::size_t wanted = capacityForCount(pairs_.size() + 1);
  if (slots_.size() < wanted) {
    // The pairs stay where they are; only the slots are laid out again, in the old slot order.
    SlotStorage old = std::exchange(slots_, SlotStorage(wanted, slots_.get_allocator()));
    for (const Slot& slot : old)
      if (slot.pair) insertSlot(slot.hash, slot.pair);
  }
  ObjectPtr keyCopy = key->copy();
  const std::uint32_t hash = keyHash(*keyCopy);
  addEntry(hash, std::move(keyCopy), std::move(object));
  mutations_ = nextMutation(mutations_);
}

void JCDictionary::removeObjectForKey(const Object& key) {
  requireMutable("removeObjectForKey:");
  auto slot = find(keyHash(key), [&](const ObjectPtr& k) { return k.get() == &key || k->isEqual(key); });
  if (slot >= 0) removeSlot(static_cast<std::size_t>(slot));
  mutations_ = nextMutation(mutations_);
}

void JCDictionary::removeObjectForKey(const ObjectPtr& key) {
  requireMutable("removeObjectForKey:");
  if (!key)
    Exception::raise(kInvalidArgumentException,
                     format("*** -[%s %s]: attempt to remove nil key", className().c_str(), "removeObjectForKey:"));
  removeObjectForKey(*key);
}

ObjectPtr JCDictionaryEnumerator::nextObject() {
  while (nextObject_ < collection_->capacity())
    if (const auto* pair = collection_->pairAtSlot(nextObject_++)) return pair->key;
  return nullptr;
}

Ref<Array> JCDictionaryEnumerator::allObjects() {
  std::vector<ObjectPtr> keys;
  while (auto key = nextObject()) keys.push_back(std::move(key));
  return Array::make(std::move(keys));
}

}  // namespace zv
