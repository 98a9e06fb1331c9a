#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Values.h"

namespace zv {
namespace {

// Random inserts and removals checked against a std::map model: the table must stay findable
// through every removal pattern and keep insertion order.
TEST(DictionaryTest, MatchesAModelThroughRandomInsertsAndRemovals) {
  std::mt19937 random(7);
  auto dictionary = MutableDictionary::make();
  std::vector<std::pair<int, int>> model;  // insertion order of live keys
  for (int step = 0; step < 20000; ++step) {
    int key = static_cast<int>(random() % 300);
    auto found = std::find_if(model.begin(), model.end(), [&](auto& e) { return e.first == key; });
    if (random() % 3 == 0) {
      dictionary->removeObjectForKey(*box(key));
      if (found != model.end()) model.erase(found);
    } else {
      dictionary->setObject(box(step), box(key));
      if (found != model.end()) {
        found->second = step;  // replacing keeps the key's place
      } else {
        model.emplace_back(key, step);
      }
    }
  }
  ASSERT_EQ(dictionary->count(), model.size());
  auto entries = dictionary->entries();
  for (std::size_t i = 0; i < model.size(); ++i) {
    EXPECT_EQ(intValueOf(entries[i].first), model[i].first);
    EXPECT_EQ(intValueOf(entries[i].second), model[i].second);
    EXPECT_EQ(intValueOf(dictionary->objectForKey(*box(model[i].first))), model[i].second);
  }
}

TEST(DictionaryTest, KeysAreCopiedSoLaterChangesDoNotMoveThem) {
  auto key = MutableString::make("name");
  auto dictionary = MutableDictionary::make();
  dictionary->setObject(box(1), key);
  key->setString("other");
  EXPECT_EQ(intValueOf(dictionary->objectForKey("name")), 1);
  EXPECT_EQ(dictionary->objectForKey("other"), nullptr);
}

TEST(DictionaryTest, EqualityIgnoresOrderAndComparesValues) {
  auto a = Dictionary::make({{"x", box(1)}, {"y", Array::make({box("z")})}});
  auto b = Dictionary::make({{"y", Array::make({box("z")})}, {"x", box(1.0)}});
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_FALSE(a->isEqual(*Dictionary::make({{"x", box(1)}})));
  EXPECT_EQ(a->copy(), a);
  auto m = dyn<MutableDictionary>(a->mutableCopy());
  m->setValue(nullptr, "x");
  EXPECT_EQ(m->count(), 1u);
  EXPECT_EQ(a->count(), 2u);
}

TEST(SetTest, HoldsDistinctValuesInInsertionOrder) {
  auto set = MutableSet::make({box("b"), box("a"), box("b"), box(1), box(1.0)});
  EXPECT_EQ(set->count(), 3u);
  EXPECT_TRUE(set->containsString("a"));
  EXPECT_TRUE(set->containsObject(*box(1.0)));
  EXPECT_EQ(set->anyObject()->description(), "b");
  set->removeObject(*box("b"));
  EXPECT_FALSE(set->containsString("b"));
  EXPECT_TRUE(set->isEqual(*Set::make({box(1), box("a")})));
  EXPECT_THROW(set->addObject(nullptr), Exception);
}

TEST(ArrayTest, SearchesAndSlicesAndRaisesOnBadRanges) {
  auto a = MutableArray::make({box("x"), box(2), box("x")});
  EXPECT_EQ(a->indexOfObject(box(2.0)), 1u);
  EXPECT_EQ(a->indexOfObjectIdenticalTo(box(2)), std::nullopt);
  EXPECT_EQ(a->subarray(1, 2)->count(), 2u);
  EXPECT_THROW(a->subarray(2, 2), Exception);
  a->removeObject(box("x"));
  EXPECT_EQ(a->count(), 1u);
  EXPECT_THROW(a->addObject(nullptr), Exception);
  try {
    a->objectAtIndex(5);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), kRangeException);
  }
  std::vector<std::string> seen;
  auto letters = Array::make({box("p"), box("q")});  // keep the array alive across the loop
  for (const auto& o : *letters) seen.push_back(o->description());
  EXPECT_EQ(seen, (std::vector<std::string>{"p", "q"}));
}

TEST(IndexPathTest, ComparesLexicographicallyWithPrefixesFirst) {
  EXPECT_LT(IndexPath::forRow(5, 0)->compare(*IndexPath::forRow(0, 1)), 0);
  EXPECT_LT(IndexPath::make({1})->compare(*IndexPath::make({1, 0})), 0);
  EXPECT_EQ(IndexPath::forRow(2, 3)->compare(*IndexPath::make({3, 2})), 0);
  EXPECT_TRUE(IndexPath::forRow(2, 3)->isEqual(*IndexPath::make({3, 2})));
  EXPECT_EQ(IndexPath::forRow(2, 3)->hash(), IndexPath::make({3, 2})->hash());
}

TEST(NumberTest, ComparesAcrossSignednessAndKinds) {
  auto big = Number::makeUnsigned(UINT64_MAX, NumberType::UnsignedLongLong);
  EXPECT_GT(big->compare(*box(-1)), 0);
  EXPECT_LT(box(-1)->compare(*big), 0);
  EXPECT_EQ(box(2)->compare(*box(2.0f)), 0);
  EXPECT_LT(box(2)->compare(*box(2.5)), 0);
  EXPECT_EQ(box(1e300)->longLongValue(), INT64_MAX);
  EXPECT_EQ(box(-3.9)->intValue(), -3);
  EXPECT_EQ(box(std::nan(""))->longLongValue(), 0);
}

TEST(DataTest, DescribesBytesInGroupsOfFour) {
  EXPECT_EQ(Data::make(std::string_view("\x01\x02\x03\x04\xff", 5))->description(), "<01020304 ff>");
  auto m = MutableData::make();
  m->append("ab");
  EXPECT_TRUE(m->isEqual(*Data::make("ab")));
  EXPECT_NE(m->copy(), m);
  EXPECT_FALSE(dyn<MutableData>(m->copy()));
}

class Base : public Object {};
class Derived : public Base {};

TEST(ClassRegistryTest, SubclassQueriesAndInheritedMethods) {
  ClassRegistry::shared().registerClass<Base>().addMethod<Base>(
      "kind", [](Base&, const ClassInfo::Arguments&) -> ObjectPtr { return box("base"); });
  ClassRegistry::shared().registerClass<Derived>("Base");
  const ClassInfo* derived = classNamed("Derived");
  ASSERT_NE(derived, nullptr);
  EXPECT_TRUE(derived->isSubclassOf("Base"));
  EXPECT_FALSE(classNamed("Base")->isSubclassOf("Derived"));
  auto object = derived->create();
  EXPECT_EQ(object->performSelector("kind")->description(), "base");
  // Registering again answers the same record.
  EXPECT_EQ(&ClassRegistry::shared().registerClass("Derived"), derived);
}

TEST(URLTest, FileURLsAndPathHelpers) {
  auto file = URL::fileURL("/tmp/a b/c.tar.gz");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->isFileURL());
  EXPECT_EQ(file->absoluteString(), "file:///tmp/a%20b/c.tar.gz");
  EXPECT_EQ(file->path(), "/tmp/a b/c.tar.gz");
  EXPECT_EQ(file->lastPathComponent(), "c.tar.gz");
  EXPECT_EQ(file->pathExtension(), "gz");
  auto web = URL::make("http://[::1]:8080/dir/?q#f");
  ASSERT_NE(web, nullptr);
  EXPECT_EQ(web->host(), "[::1]");
  EXPECT_EQ(web->port(), 8080);
  EXPECT_EQ(web->URLByAppendingPathComponent("x y")->absoluteString(), "http://[::1]:8080/dir/x%20y?q#f");
  EXPECT_EQ(URL::make("mailto:a@b.c?subject=x")->resourceSpecifier(), "a@b.c?subject=x");
  EXPECT_EQ(URL::make("http://[::1/"), nullptr);
}

}  // namespace
}  // namespace zv
