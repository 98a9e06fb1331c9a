#pragma once
// The hash table behind the standard dictionaries and sets: entries kept in insertion order (so
// every body, query and header built from a dictionary is deterministic), found through an
// open-addressed index. Keys are compared with isEqual; string keys can be looked up by text.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"

namespace zv::detail {

class HashTable {
 public:
  struct Entry {
    std::size_t hash = 0;
    ObjectPtr key;    // nullptr marks a removed entry
    ObjectPtr value;  // unused by sets
  };

  std::size_t size() const { return live_; }
  // Index of the entry holding an equal key.
  std::optional<std::size_t> find(const Object& key) const;
  std::optional<std::size_t> findText(std::string_view text) const;
  // Inserts or replaces; returns the entry index.
  std::size_t put(ObjectPtr key, ObjectPtr value);
  bool erase(const Object& key);
  void clear();

  const Entry& entry(std::size_t index) const { return entries_[index]; }
  Entry& entry(std::size_t index) { return entries_[index]; }
  // Entries in insertion order, removed ones included (key == nullptr).
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  template <class Match>
  std::optional<std::size_t> probe(std::size_t hash, Match match) const;
  void rebuild(std::size_t minimumSlots);

  std::vector<Entry> entries_;
  std::vector<std::int32_t> slots_;  // -1 empty, otherwise an entry index
  std::size_t live_ = 0;
};

}  // namespace zv::detail
