#include "platform/foundation/CollectionComparison.h"

#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zv::detail {

namespace {

using Pair = std::pair<const Object*, const Object*>;

struct PairHash {
  std::size_t operator()(const Pair& pair) const {
    const std::size_t a = std::hash<const Object*>{}(pair.first);
    return a ^ (std::hash<const Object*>{}(pair.second) + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
  }
};

struct Comparisons {
  std::size_t depth = 0;
  std::unordered_map<Pair, bool, PairHash> verdicts;
  std::vector<ObjectPtr> held;
};

thread_local Comparisons comparisons;

}  // namespace

CollectionComparison::CollectionComparison(const Object& a, const Object& b)
    : first_(std::less<const Object*>{}(&a, &b) ? &a : &b), second_(first_ == &a ? &b : &a) {
  ++comparisons.depth;
}

CollectionComparison::~CollectionComparison() {
  if (--comparisons.depth > 0) return;
  comparisons.verdicts.clear();
  // Released after the verdicts are gone, so a destructor that compares starts afresh.
  std::vector<ObjectPtr> held = std::move(comparisons.held);
  comparisons.held.clear();
}

std::optional<bool> CollectionComparison::known() const {
  auto found = comparisons.verdicts.find({first_, second_});
  if (found == comparisons.verdicts.end()) return std::nullopt;
  return found->second;
}

bool CollectionComparison::finish(bool equal) {
  // Only objects owned by a shared pointer can be held; others are simply not remembered.
  ObjectPtr first = std::const_pointer_cast<Object>(first_->weak_from_this().lock());
  ObjectPtr second = std::const_pointer_cast<Object>(second_->weak_from_this().lock());
  if (first && second) {
    comparisons.verdicts.emplace(Pair{first_, second_}, equal);
    comparisons.held.push_back(std::move(first));
    comparisons.held.push_back(std::move(second));
  }
  return equal;
}

}  // namespace zv::detail
