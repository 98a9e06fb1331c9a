#pragma once
// A path of indexes into nested collections; tables use (section, row).

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "platform/foundation/Object.h"

namespace zv {

class IndexPath : public Object {
 public:
  static Ref<IndexPath> make(std::vector<std::size_t> indexes);
  static Ref<IndexPath> forRow(std::size_t row, std::size_t section) { return make({section, row}); }

  const std::vector<std::size_t>& indexes() const { return indexes_; }
  std::size_t length() const { return indexes_.size(); }
  std::size_t indexAtPosition(std::size_t position) const;
  std::size_t section() const { return indexAtPosition(0); }
  std::size_t row() const { return indexAtPosition(1); }
  // -1, 0, 1 in lexicographic order (a prefix sorts first).
  int compare(const IndexPath& other) const;

  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

  explicit IndexPath(std::vector<std::size_t> indexes) : indexes_(std::move(indexes)) {}

 private:
  std::vector<std::size_t> indexes_;
};

}  // namespace zv
