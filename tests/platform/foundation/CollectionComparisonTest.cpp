#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/foundation/Values.h"

namespace zv {
namespace {

// A leaf that counts how often it is compared with another leaf.
class CountedLeaf final : public Object {
 public:
  explicit CountedLeaf(int& comparisons) : comparisons_(comparisons) {}
  bool isEqual(const Object& other) const override {
    ++comparisons_;
    return dynamic_cast<const CountedLeaf*>(&other) != nullptr;
  }
  std::size_t hash() const override { return 7; }

 private:
  int& comparisons_;
};

// `levels` containers, each holding the next one twice (made by `wrap`), over one leaf: a graph
// of `levels` + 1 objects whose tree has 2^levels leaves.
ObjectPtr chain(int levels, int& comparisons, const std::function<ObjectPtr(const ObjectPtr&)>& wrap) {
  ObjectPtr node = std::make_shared<CountedLeaf>(comparisons);
  for (int i = 0; i < levels; ++i) node = wrap(node);
  return node;
}

TEST(CollectionComparisonTest, SharedMembersAreComparedOncePerComparison) {
  const std::function<ObjectPtr(const ObjectPtr&)> wrappers[] = {
      [](const ObjectPtr& next) -> ObjectPtr { return Array::make({next, next}); },
      [](const ObjectPtr& next) -> ObjectPtr { return MutableArray::make({next, next}); },
      [](const ObjectPtr& next) -> ObjectPtr { return Dictionary::make({{"a", next}, {"b", next}}); },
      [](const ObjectPtr& next) -> ObjectPtr { return Set::make({next, Array::make({next})}); },
  };
  for (std::size_t kind = 0; kind < std::size(wrappers); ++kind) {
    SCOPED_TRACE(kind);
    int comparisons = 0;
    // Two separate chains: equal, but sharing no object with each other.
    ObjectPtr first = chain(16, comparisons, wrappers[kind]);
    ObjectPtr second = chain(16, comparisons, wrappers[kind]);
    EXPECT_TRUE(first->isEqual(*second));
    EXPECT_LE(comparisons, 4);  // expanded, 2^16 leaf pairs
    comparisons = 0;
    // Kept verdicts end with the comparison: a new comparison looks again.
    EXPECT_TRUE(second->isEqual(*first));
    EXPECT_GE(comparisons, 1);
    EXPECT_LE(comparisons, 4);
  }
}

TEST(CollectionComparisonTest, VerdictsStayCorrectAcrossComparisons) {
  auto leaf = box("x");
  auto inner = MutableArray::make({leaf});
  auto a = Array::make({inner, inner});
  auto b = Array::make({Array::make({box("x")}), Array::make({box("x")})});
  EXPECT_TRUE(a->isEqual(*b));
  inner->addObject(box("y"));  // what was equal a moment ago is no longer
  EXPECT_FALSE(a->isEqual(*b));
  EXPECT_FALSE(b->isEqual(*a));
  // Unequal members found deep inside shared structure still make the whole unequal.
  auto c = Array::make({b, Array::make({box("x"), box("z")})});
  auto d = Array::make({b, Array::make({box("x"), box("y")})});
  EXPECT_FALSE(c->isEqual(*d));
  EXPECT_EQ(Set::make({c, d})->count(), 2u);
  auto copyOfC = Array::make({b, Array::make({box("x"), box("z")})});
  EXPECT_TRUE(Dictionary::make({{"k", c}})->isEqual(*Dictionary::make({{"k", copyOfC}})));
}

}  // namespace
}  // namespace zv
