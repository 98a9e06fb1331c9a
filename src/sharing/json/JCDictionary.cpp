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

JCDictionary::JCDictionary(JCCreationKey, std::size_t capacity, detail::JCArena* arena, bool isMutableResult)
    : mutations_(isMutableResult ? 1 : 0),
      entries_(capacity, detail::JCStorageAllocator<Entry>(isMutableResult ? nullptr : arena)) {}

template <class Match>
std::ptrdiff_t JCDictionary::find(std::uint32_t hash, Match match) const {
  const std::size_t capacity = entries_.size();
  if (capacity == 0) return -1;
  std::size_t slot = hash % capacity;
  for (std::size_t i = 0; i < capacity; ++i) {
    const Entry& e = entries_[slot];
    if (!e.key) return -1;
    if (e.hash == hash && match(e.key)) return static_cast<std::ptrdiff_t>(slot);
    if (++slot == capacity) slot = 0;
  }
  return -1;
}

ObjectPtr JCDictionary::objectForKey(const Object& key) const {
  auto slot = find(keyHash(key), [&](const ObjectPtr& k) { return k.get() == &key || k->isEqual(key); });
  return slot < 0 ? nullptr : entries_[static_cast<std::size_t>(slot)].object;
}

ObjectPtr JCDictionary::objectForKey(std::string_view key) const {
  auto slot = find(static_cast<std::uint32_t>(hashText(key)), [&](const ObjectPtr& k) {
    auto* s = dynamic_cast<const String*>(k.get());
    return s != nullptr && s->utf8() == key;
  });
  return slot < 0 ? nullptr : entries_[static_cast<std::size_t>(slot)].object;
}

void JCDictionary::enumerate(const std::function<bool(const ObjectPtr&, const ObjectPtr&)>& visit) const {
  const std::uint32_t mutations = mutations_;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (!e.key) continue;
    // Hold the pair: a visitor that mutates must not pull them from under the call.
    ObjectPtr key = e.key, object = e.object;
    const bool more = visit(key, object);
    if (mutations_ != mutations)
      Exception::raise(kGenericException,
                       format("*** Collection <%s: %p> was mutated while being enumerated.", className().c_str(),
                              static_cast<const void*>(this)));
    if (!more) return;
  }
}

void JCDictionary::getObjectsAndKeys(ObjectPtr* objects, ObjectPtr* keys) const {
  for (const Entry& e : entries_) {
    if (!e.key) continue;
    if (objects) *objects++ = e.object;
    if (keys) *keys++ = e.key;
  }
}

Ref<JCDictionaryEnumerator> JCDictionary::keyEnumerator() const {
  return std::make_shared<JCDictionaryEnumerator>(std::static_pointer_cast<const JCDictionary>(shared_from_this()));
}

void JCDictionary::addEntry(std::uint32_t hash, ObjectPtr key, ObjectPtr object) {
  const std::size_t capacity = entries_.size();
  if (capacity == 0) return;
  auto existing = find(hash, [&](const ObjectPtr& k) { return k == key || k->isEqual(*key); });
  if (existing >= 0) removeSlot(static_cast<std::size_t>(existing));
  std::size_t slot = hash % capacity;
  for (std::size_t i = 0; i < capacity; ++i) {
    Entry& e = entries_[slot];
    if (!e.key) {
      e.hash = hash;
      e.key = std::move(key);
      e.object = std::move(object);
      ++count_;
      return;
    }
    if (++slot == capacity) slot = 0;
  }
}

void JCDictionary::removeSlot(std::size_t slot) {
  const std::size_t capacity = entries_.size();
  entries_[slot] = Entry{};
  --count_;
  // Put back every entry of the run that follows, so no lookup run is broken by the new hole.
  for (std::size_t next = (slot + 1) % capacity; entries_[next].key; next = (next + 1) % capacity) {
    Entry moved = std::move(entries_[next]);
    entries_[next] = Entry{};
    std::size_t home = moved.hash % capacity;
    while (entries_[home].key) home = (home + 1) % capacity;
    entries_[home] = std::move(moved);
  }
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
  const std::size_t wanted = capacityForCount(count_ + 1);
  if (entries_.size() < wanted) {
    Storage old = std::exchange(entries_, Storage(wanted, entries_.get_allocator()));
    count_ = 0;
    for (Entry& e : old)
      if (e.key) addEntry(e.hash, std::move(e.key), std::move(e.object));
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
  const auto& slots = collection_->slots();
  while (nextObject_ < slots.size()) {
    const auto& e = slots[nextObject_++];
    if (e.key) return e.key;
  }
  return nullptr;
}

Ref<Array> JCDictionaryEnumerator::allObjects() {
  std::vector<ObjectPtr> keys;
  while (auto key = nextObject()) keys.push_back(std::move(key));
  return Array::make(std::move(keys));
}

}  // namespace zv
