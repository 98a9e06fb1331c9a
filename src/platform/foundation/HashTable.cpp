#include "platform/foundation/HashTable.h"

#include "platform/foundation/KeyedHash.h"
#include "platform/foundation/String.h"

namespace zv::detail {

namespace {
// Spreads weak hashes (small integers hash to themselves) over the index, under the process key:
// keys of any kind whose hashes were chosen to share an index on one run don't on the next.
std::size_t mix(std::size_t h) { return scrambleHash(h); }
}  // namespace

template <class Match>
std::optional<std::size_t> HashTable::probe(std::size_t hash, Match match) const {
  if (slots_.empty()) return std::nullopt;
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = mix(hash) & mask;; i = (i + 1) & mask) {
    std::int32_t slot = slots_[i];
    if (slot < 0) return std::nullopt;
    const Entry& e = entries_[static_cast<std::size_t>(slot)];
    if (e.key && e.hash == hash && match(*e.key)) return static_cast<std::size_t>(slot);
  }
}

std::optional<std::size_t> HashTable::find(const Object& key) const {
  return probe(key.hash(), [&](const Object& candidate) { return &candidate == &key || candidate.isEqual(key); });
}

std::optional<std::size_t> HashTable::findText(std::string_view text) const {
  return probe(hashText(text), [&](const Object& candidate) {
    auto* s = dynamic_cast<const String*>(&candidate);
    return s != nullptr && s->utf8() == text;
  });
}

std::size_t HashTable::put(ObjectPtr key, ObjectPtr value) {
  if (auto existing = find(*key)) {
    entries_[*existing].value = std::move(value);
    return *existing;
  }
  // Keep the index at most half full, counting removed entries that still occupy slots.
  if ((entries_.size() + 1) * 2 > slots_.size()) rebuild((live_ + 1) * 2);
  std::size_t hash = key->hash();
  std::size_t index = entries_.size();
  entries_.push_back(Entry{hash, std::move(key), std::move(value)});
  std::size_t mask = slots_.size() - 1;
  std::size_t i = mix(hash) & mask;
  while (slots_[i] >= 0) i = (i + 1) & mask;
  slots_[i] = static_cast<std::int32_t>(index);
  ++live_;
  return index;
}

bool HashTable::erase(const Object& key) {
  auto found = find(key);
  if (!found) return false;
  entries_[*found].key.reset();
  entries_[*found].value.reset();
  --live_;
  // Removed entries keep their slot until the next rebuild so probe runs stay intact.
  if (live_ == 0) {
    clear();
  } else if (entries_.size() > 2 * live_ + 8) {
    rebuild(live_ * 2);
  }
  return true;
}

void HashTable::clear() {
  entries_.clear();
  slots_.clear();
  live_ = 0;
}

void HashTable::rebuild(std::size_t minimumSlots) {
  std::vector<Entry> kept;
  kept.reserve(live_ + 1);
  for (auto& e : entries_)
    if (e.key) kept.push_back(std::move(e));
  entries_ = std::move(kept);
  std::size_t capacity = 8;
  while (capacity < minimumSlots || capacity < (entries_.size() + 1) * 2) capacity *= 2;
  slots_.assign(capacity, -1);
  std::size_t mask = capacity - 1;
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    std::size_t i = mix(entries_[index].hash) & mask;
    while (slots_[i] >= 0) i = (i + 1) & mask;
    slots_[i] = static_cast<std::int32_t>(index);
  }
}

}  // namespace zv::detail
