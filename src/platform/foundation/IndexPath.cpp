#include "platform/foundation/IndexPath.h"

#include <string>

namespace zv {

Ref<IndexPath> IndexPath::make(std::vector<std::size_t> indexes) {
  return std::make_shared<IndexPath>(std::move(indexes));
}

std::size_t IndexPath::indexAtPosition(std::size_t position) const {
  return position < indexes_.size() ? indexes_[position] : static_cast<std::size_t>(-1);
}

int IndexPath::compare(const IndexPath& other) const {
  std::size_t n = std::min(indexes_.size(), other.indexes_.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (indexes_[i] != other.indexes_[i]) return indexes_[i] < other.indexes_[i] ? -1 : 1;
  }
  if (indexes_.size() == other.indexes_.size()) return 0;
  return indexes_.size() < other.indexes_.size() ? -1 : 1;
}

std::string IndexPath::description() const {
  std::string out = "{length = " + std::to_string(indexes_.size()) + ", path = ";
  for (std::size_t i = 0; i < indexes_.size(); ++i) {
    if (i) out += " - ";
    out += std::to_string(indexes_[i]);
  }
  return out + "}";
}

bool IndexPath::isEqual(const Object& other) const {
  auto* p = dynamic_cast<const IndexPath*>(&other);
  return p != nullptr && p->indexes_ == indexes_;
}

std::size_t IndexPath::hash() const {
  std::size_t h = indexes_.size();
  for (auto i : indexes_) h = h * 31 + i;
  return h;
}

}  // namespace zv
