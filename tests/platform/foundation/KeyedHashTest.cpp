// The per-process keyed hashes: the SipHash core against its published outputs, keys chosen
// against the old unkeyed hashes read in linear time, and collections hashed by their content.

#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/KeyedHash.h"
#include "platform/foundation/Values.h"
#include "support/HashFlooding.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

using testing::integersInOldSlotZero;
using testing::keysInOldIndexWindow;
using testing::leastThreadCPUSeconds;

// Growth from an input to one eight times larger: 8 when linear, 64 when quadratic. The bound
// leaves a factor of three for what a busy machine adds (caches shared with other work).
constexpr double kLinearGrowthBound = 24.0;

TEST(KeyedHashTest, TheSipHashCoreGivesThePublishedOutputs) {
  // Key 00..0f, messages 00 01 02 ... of 0, 1, 8 and 15 bytes (SipHash-2-4 reference outputs).
  const std::uint64_t k0 = 0x0706050403020100ull, k1 = 0x0f0e0d0c0b0a0908ull;
  std::string message;
  for (int i = 0; i < 15; ++i) message += static_cast<char>(i);
  EXPECT_EQ(detail::sipHash24(std::string_view(message).substr(0, 0), k0, k1), 0x726fdb47dd0e0e31ull);
  EXPECT_EQ(detail::sipHash24(std::string_view(message).substr(0, 1), k0, k1), 0x74f839c593dc67fdull);
  EXPECT_EQ(detail::sipHash24(std::string_view(message).substr(0, 8), k0, k1), 0x93f5f5799a932462ull);
  EXPECT_EQ(detail::sipHash24(message, k0, k1), 0xa129ca6149be45e5ull);
}

// Fills a dictionary with `keys` and looks each up again.
template <class Key>
double secondsToFill(const std::vector<Key>& keys) {
  return leastThreadCPUSeconds([&] {
    auto dictionary = MutableDictionary::make();
    for (const auto& key : keys) dictionary->setObject(box(1), box(key));
    for (const auto& key : keys) ASSERT_TRUE(dictionary->objectForKey(*box(key)));
  });
}

TEST(KeyedHashTest, KeysChosenAgainstTheOldHashesFillADictionaryInLinearTime) {
  // Text keys whose old hashes all start within a sixteenth of the table's slots.
  const auto small = keysInOldIndexWindow(4096, 16384, 256);
  const auto large = keysInOldIndexWindow(32768, 131072, 2048);
  double smallSeconds = secondsToFill(small), largeSeconds = secondsToFill(large);
  EXPECT_LT(largeSeconds / smallSeconds, kLinearGrowthBound)
      << "text keys: " << smallSeconds << " s, then " << largeSeconds << " s";

  // Integer keys all in the first slot of the old index.
  smallSeconds = secondsToFill(integersInOldSlotZero(4096));
  largeSeconds = secondsToFill(integersInOldSlotZero(32768));
  EXPECT_LT(largeSeconds / smallSeconds, kLinearGrowthBound)
      << "integer keys: " << smallSeconds << " s, then " << largeSeconds << " s";
}

TEST(KeyedHashTest, CollectionsAsKeysFillADictionaryInLinearTime) {
  // Distinct arrays, dictionaries and sets of one member each: alike in size, not in content.
  auto fill = [](std::size_t count) {
    return leastThreadCPUSeconds([&] {
      auto dictionary = MutableDictionary::make();
      for (std::size_t i = 0; i < count; ++i) {
        auto n = box(static_cast<std::int64_t>(i));
        dictionary->setObject(n, Array::make({n}));
        dictionary->setObject(n, Dictionary::make(std::vector<Dictionary::Entry>{{box(std::to_string(i)), n}}));
        dictionary->setObject(n, Set::make({n}));
      }
      ASSERT_EQ(dictionary->count(), 3 * count);
    });
  };
  const double smallSeconds = fill(2048), largeSeconds = fill(16384);
  EXPECT_LT(largeSeconds / smallSeconds, kLinearGrowthBound) << smallSeconds << " s, then " << largeSeconds << " s";
}

TEST(KeyedHashTest, EqualCollectionsHashAlikeAndHashingStopsBelowTheMembers) {
  ObjectPtr a = box("a"), b = box("b"), one = box(1), oneDouble = box(1.0);
  EXPECT_EQ(Array::make({a, one})->hash(), MutableArray::make({a, oneDouble})->hash());
  EXPECT_EQ(Dictionary::make(std::vector<Dictionary::Entry>{{a, one}, {b, one}})->hash(),
            MutableDictionary::make(std::vector<Dictionary::Entry>{{b, one}, {a, oneDouble}})->hash());
  EXPECT_EQ(Set::make({a, b, one})->hash(), MutableSet::make({oneDouble, b, a})->hash());
  // Members past the first few leave an array's hash alone; equal arrays still hash alike.
  auto longer = MutableArray::make({a, a, a, a, a, a});
  auto hash = longer->hash();
  longer->replaceObjectAtIndex(5, b);
  EXPECT_EQ(longer->hash(), hash);

  // An array nested a million deep hashes without walking down it.
  ObjectPtr deep = Array::make({});
  for (int i = 0; i < 1000000; ++i) deep = Array::make({deep});
  EXPECT_EQ(deep->hash(), Array::make({Array::make({one})})->hash());
  // Tear it down without deep recursion.
  while (auto inner = std::dynamic_pointer_cast<Array>(deep)) deep = inner->count() ? inner->objectAtIndex(0) : nullptr;
}

}  // namespace
}  // namespace zv
