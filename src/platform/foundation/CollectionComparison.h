#pragma once
// One comparison of two collections, as Array, Dictionary and Set run it inside isEqual.
//
// While the outermost comparison on a thread runs, the verdict on every pair of collections
// compared inside it is kept, so members shared by many containers (decoded archives and property
// lists keep shared objects shared) are compared once rather than once per path that reaches
// them: equality costs time linear in the two graphs, not in the trees they would expand to.
// The kept pairs hold their collections until the outermost comparison ends, so no address is
// reused while it runs. State is per thread; nothing is shared between threads.

#include <optional>

#include "platform/foundation/Object.h"

namespace zv::detail {

class CollectionComparison {
 public:
  CollectionComparison(const Object& a, const Object& b);
  ~CollectionComparison();
  CollectionComparison(const CollectionComparison&) = delete;
  CollectionComparison& operator=(const CollectionComparison&) = delete;

  // The verdict on this pair reached earlier in the same outermost comparison, if any.
  std::optional<bool> known() const;
  // Keeps the verdict for the rest of the outermost comparison and returns it.
  bool finish(bool equal);

 private:
  const Object* first_;
  const Object* second_;
};

}  // namespace zv::detail
