#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "platform/foundation/Values.h"
#include "sharing/json/JCArray.h"
#include "sharing/json/JCDictionary.h"
#include "sharing/json/JSONDecoder.h"

namespace zv {
namespace {

ObjectPtr decode(std::string_view text, bool mutableResult) {
  JSONDecoder decoder;
  return mutableResult ? decoder.mutableObjectWithUTF8String(text.data(), text.size())
                       : decoder.objectWithUTF8String(text.data(), text.size());
}

// A key whose hash the test chooses, so runs of colliding keys can be built on purpose.
class CollidingKey final : public Object {
 public:
  CollidingKey(int id, std::size_t hash) : id_(id), hash_(hash) {}
  bool isEqual(const Object& other) const override {
    auto* k = dynamic_cast<const CollidingKey*>(&other);
    return k != nullptr && k->id_ == id_;
  }
  std::size_t hash() const override { return hash_; }
  int id() const { return id_; }
  ObjectPtr copy() const override { return self(); }

 private:
  int id_;
  std::size_t hash_;
};

std::string exceptionName(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.name();
  }
  return "none";
}

// "name: reason" of what the call raised, "none" when it raised nothing.
std::string exceptionText(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.name() + ": " + e.reason();
  }
  return "none";
}

TEST(JCCollectionsTest, CapacityComesFromTheTable) {
  EXPECT_EQ(JCDictionary::capacityForCount(0), 0u);
  EXPECT_EQ(JCDictionary::capacityForCount(1), 3u);
  EXPECT_EQ(JCDictionary::capacityForCount(3), 3u);
  EXPECT_EQ(JCDictionary::capacityForCount(4), 7u);
  EXPECT_EQ(JCDictionary::capacityForCount(10), 13u);
  EXPECT_EQ(JCDictionary::capacityForCount(300'000'000), 472907251u);
  // Past the table's last value the capacity keeps growing instead of running off the table.
  const std::size_t huge = 400'000'000;
  EXPECT_GE(JCDictionary::capacityForCount(huge), huge / 100 * 133);
  EXPECT_GT(JCDictionary::capacityForCount(huge * 2), JCDictionary::capacityForCount(huge));
}

TEST(JCCollectionsTest, ImmutableResultsRaiseOnMutationAndCopyToThemselves) {
  auto array = dyn<JCArray>(decode("[1,2]", false));
  auto dictionary = dyn<JCDictionary>(decode(R"({"a":1})", false));
  ASSERT_TRUE(array && dictionary);
  EXPECT_EQ(exceptionName([&] { array->addObject(box(3)); }), kInternalInconsistencyException);
  EXPECT_EQ(exceptionName([&] { array->removeObjectAtIndex(0); }), kInternalInconsistencyException);
  EXPECT_EQ(exceptionName([&] { array->replaceObjectAtIndex(0, box(1)); }), kInternalInconsistencyException);
  EXPECT_EQ(exceptionName([&] { dictionary->setObject(box(2), "b"); }), kInternalInconsistencyException);
  EXPECT_EQ(exceptionName([&] { dictionary->removeObjectForKey("a"); }), kInternalInconsistencyException);
  EXPECT_EQ(array->copy(), array);
  EXPECT_EQ(dictionary->copy(), dictionary);
  auto mutableCopy = dyn<MutableArray>(array->mutableCopy());
  mutableCopy->addObject(box(3));
  EXPECT_EQ(array->count(), 2u);
  EXPECT_EQ(exceptionText([&] { array->addObject(box(3)); }),
            std::string(kInternalInconsistencyException) +
                ": *** -[JCArray insertObject:atIndex:]: mutating method sent to immutable object");
  // The immutable check comes before the argument checks.
  EXPECT_EQ(exceptionName([&] { dictionary->removeObjectForKey(ObjectPtr()); }), kInternalInconsistencyException);
}

TEST(JCCollectionsTest, MutableArraysCheckArgumentsAndCountMutations) {
  auto array = dyn<JCArray>(decode("[1,2,3]", true));
  ASSERT_TRUE(array);
  EXPECT_EQ(array->capacity(), 3u);
  EXPECT_EQ(array->mutations(), 1u);
  EXPECT_EQ(exceptionName([&] { array->insertObject(nullptr, 0); }), kInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { array->insertObject(box(1), 5); }), kRangeException);
  EXPECT_EQ(exceptionName([&] { array->objectAtIndex(3); }), kRangeException);
  EXPECT_EQ(array->mutations(), 1u);  // failed calls change nothing
  array->insertObject(box(0), 0);
  array->replaceObjectAtIndex(3, box(30));
  array->removeObjectAtIndex(1);
  EXPECT_EQ(array->mutations(), 4u);
  EXPECT_EQ(intValueOf(array->objectAtIndex(0)), 0);
  EXPECT_EQ(intValueOf(array->objectAtIndex(2)), 30);
  EXPECT_EQ(exceptionText([&] { array->objectAtIndex(7); }),
            std::string(kRangeException) + ": *** -[JCArray objectAtIndex:]: index (7) beyond bounds (3)");
  ObjectPtr buffer[2];
  array->getObjects(buffer, 1, 2);
  EXPECT_EQ(intValueOf(buffer[1]), 30);
  EXPECT_EQ(exceptionName([&] { array->getObjects(nullptr, 0, 1); }), kRangeException);
  EXPECT_EQ(exceptionName([&] { array->getObjects(buffer, 2, 2); }), kRangeException);
  EXPECT_NO_THROW(array->getObjects(nullptr, 0, 0));
}

TEST(JCCollectionsTest, ArraysGrowWhenFullAndAppendInAmortisedTime) {
  auto array = dyn<JCArray>(decode("[]", true));
  std::size_t reallocations = 0;
  std::size_t capacity = array->capacity();
  for (int i = 0; i < 100'000; ++i) {
    array->addObject(box(i));
    ASSERT_LE(array->count(), array->capacity());
    if (array->capacity() != capacity) ++reallocations, capacity = array->capacity();
  }
  EXPECT_LT(reallocations, 40u);
  EXPECT_EQ(intValueOf(array->lastObject()), 99'999);
}

TEST(JCCollectionsTest, EmptyDictionaryHasNoSlotsUntilFirstSet) {
  auto dictionary = dyn<JCDictionary>(decode("{}", true));
  ASSERT_TRUE(dictionary);
  EXPECT_EQ(dictionary->capacity(), 0u);
  EXPECT_EQ(dictionary->objectForKey("a"), nullptr);
  dictionary->setObject(box(1), "a");
  EXPECT_EQ(dictionary->capacity(), 3u);
  EXPECT_EQ(intValueOf(dictionary->objectForKey("a")), 1);
  EXPECT_EQ(exceptionName([&] { dictionary->setObject(nullptr, "b"); }), kInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { dictionary->setObject(box(1), ObjectPtr()); }), kInvalidArgumentException);
  EXPECT_EQ(exceptionText([&] { dictionary->removeObjectForKey(ObjectPtr()); }),
            std::string(kInvalidArgumentException) +
                ": *** -[JCDictionary removeObjectForKey:]: attempt to remove nil key");
  EXPECT_EQ(intValueOf(dictionary->objectForKey("a")), 1);
}

TEST(JCCollectionsTest, DictionariesGrowThroughTheTableAndKeepEveryKey) {
  auto dictionary = dyn<JCDictionary>(decode("{}", true));
  for (int i = 0; i < 5000; ++i) dictionary->setObject(box(i), box(std::to_string(i)));
  EXPECT_EQ(dictionary->count(), 5000u);
  EXPECT_EQ(dictionary->capacity(), 7351u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(intValueOf(dictionary->objectForKey(std::to_string(i))), i);
  // Setting an existing key replaces its value.
  dictionary->setObject(box(-1), "42");
  EXPECT_EQ(dictionary->count(), 5000u);
  EXPECT_EQ(intValueOf(dictionary->objectForKey("42")), -1);
}

TEST(JCCollectionsTest, RemovingFromACollidingRunKeepsTheRestFindable) {
  auto dictionary = dyn<JCDictionary>(decode("{}", true));
  // Six keys with one hash, plus two whose home slots lie inside the run they create.
  for (int i = 0; i < 6; ++i) dictionary->setObject(box(i), std::make_shared<CollidingKey>(i, 7));
  dictionary->setObject(box(100), std::make_shared<CollidingKey>(100, 8));
  dictionary->setObject(box(101), std::make_shared<CollidingKey>(101, 9));
  for (int victim : {0, 3, 100}) {
    dictionary->removeObjectForKey(*std::make_shared<CollidingKey>(victim, victim == 100 ? 8 : 7));
    EXPECT_EQ(dictionary->objectForKey(*std::make_shared<CollidingKey>(victim, victim == 100 ? 8 : 7)), nullptr);
  }
  EXPECT_EQ(dictionary->count(), 5u);
  for (int i : {1, 2, 4, 5})
    EXPECT_EQ(intValueOf(dictionary->objectForKey(*std::make_shared<CollidingKey>(i, 7))), i) << i;
  EXPECT_EQ(intValueOf(dictionary->objectForKey(*std::make_shared<CollidingKey>(101, 9))), 101);
}

TEST(JCCollectionsTest, MixedSetsAndRemovalsMatchAnOrdinaryMap) {
  // Keys fall into few hash classes, so removals keep moving slots of long runs and the last pair.
  auto dictionary = dyn<JCDictionary>(decode(R"({"seed":0})", true));
  std::map<int, int> expected{};
  dictionary->removeObjectForKey(*box("seed"));
  std::uint32_t state = 12345;
  auto next = [&] { return (state = state * 1103515245u + 12345u) >> 16; };
  for (int step = 0; step < 4000; ++step) {
    const int id = static_cast<int>(next() % 97);
    auto key = std::make_shared<CollidingKey>(id, static_cast<std::size_t>(id % 5));
    if (next() % 3 == 0) {
      dictionary->removeObjectForKey(*key);
      expected.erase(id);
    } else {
      dictionary->setObject(box(step), key);
      expected[id] = step;
    }
    ASSERT_EQ(dictionary->count(), expected.size()) << step;
  }
  for (int id = 0; id < 97; ++id) {
    auto found = dictionary->objectForKey(*std::make_shared<CollidingKey>(id, static_cast<std::size_t>(id % 5)));
    auto it = expected.find(id);
    if (it == expected.end()) {
      EXPECT_EQ(found, nullptr) << id;
    } else {
      EXPECT_EQ(intValueOf(found), it->second) << id;
    }
  }
  std::size_t visited = 0;
  dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr& object) {
    ++visited;
    EXPECT_EQ(intValueOf(object), expected.at(static_cast<const CollidingKey&>(*key).id()));
    return true;
  });
  EXPECT_EQ(visited, expected.size());
}

TEST(JCCollectionsTest, EnumerationFollowsSlotOrder) {
  auto dictionary = dyn<JCDictionary>(decode(R"({"one":1,"two":2,"three":3,"four":4,"five":5})", false));
  ASSERT_TRUE(dictionary);
  std::vector<std::size_t> slotsSeen;
  std::vector<std::string> keys;
  dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
    keys.push_back(dyn<String>(key)->utf8());
    return true;
  });
  std::vector<std::string> bySlot;
  for (std::size_t slot = 0; slot < dictionary->capacity(); ++slot)
    if (auto* pair = dictionary->pairAtSlot(slot)) bySlot.push_back(dyn<String>(pair->key)->utf8());
  EXPECT_EQ(keys, bySlot);
  EXPECT_EQ(keys.size(), 5u);
  auto enumerator = dictionary->keyEnumerator();
  EXPECT_EQ(dyn<String>(enumerator->nextObject())->utf8(), keys[0]);
  EXPECT_EQ(enumerator->allObjects()->count(), 4u);
  EXPECT_EQ(enumerator->nextObject(), nullptr);
  EXPECT_EQ(dictionary->keyEnumerator()->allObjects()->count(), 5u);
  ObjectPtr objects[5], keyBuffer[5];
  dictionary->getObjectsAndKeys(objects, keyBuffer);
  EXPECT_EQ(dyn<String>(keyBuffer[4])->utf8(), keys[4]);
}

TEST(JCCollectionsTest, MutatingDuringEnumerationRaises) {
  auto dictionary = dyn<JCDictionary>(decode(R"({"a":1,"b":2})", true));
  EXPECT_EQ(exceptionName([&] {
              dictionary->enumerate([&](const ObjectPtr& key, const ObjectPtr&) {
                dictionary->removeObjectForKey(*key);
                return true;
              });
            }),
            kGenericException);
}

TEST(JCCollectionsTest, MutationCounterWrapsPastZero) {
  EXPECT_EQ(nextMutation(1), 2u);
  EXPECT_EQ(nextMutation(UINT32_MAX), 1u);
}

TEST(JCCollectionsTest, BehaveAsOrdinaryCollections) {
  auto decoded = decode(R"({"list":[1,"two",null],"n":1.5})", false);
  auto plain = Dictionary::make({{"list", Array::make({box(1), box("two"), Null::null()})}, {"n", box(1.5)}});
  EXPECT_TRUE(decoded->isEqual(*plain));
  EXPECT_TRUE(plain->isEqual(*decoded));
  auto copy = dyn<Dictionary>(decoded->mutableCopy());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->isMutable());
  EXPECT_TRUE(copy->isEqual(*decoded));
}

}  // namespace
}  // namespace zv
