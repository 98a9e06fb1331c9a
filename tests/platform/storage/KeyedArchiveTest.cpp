#include <gtest/gtest.h>

#include <limits>

#include "platform/storage/KeyedArchive.h"
#include "platform/storage/PropertyList.h"

namespace zv::storage {
namespace {

ObjectPtr roundTrip(const ObjectPtr& value) { return unarchiveObjectWithData(archivedDataWithRootObject(*value)); }

TEST(KeyedArchiveTest, EveryValueKindRoundTripsWithItsType) {
  struct Case {
    const char* name;
    ObjectPtr value;
  } cases[] = {
      {"string", box("caf\xC3\xA9 \xF0\x9F\x98\x80")},
      {"string with NUL", box(std::string_view("a\0b", 3))},
      {"true", box(true)},
      {"false", box(false)},
      {"int", box(7)},
      {"char", Number::makeSigned(-3, NumberType::Char)},
      {"long long", box(std::numeric_limits<long long>::min())},
      {"unsigned max", box(std::numeric_limits<unsigned long long>::max())},
      {"float", box(0.1f)},
      {"double", box(0.1)},
      {"data", Data::make(std::string_view("\0\xFF", 2))},
      {"date with fraction", Date::make(123456.000123)},
      {"distant past", Date::distantPast()},
      {"null", Null::null()},
      {"set", Set::make({box(1), box("a")})},
      {"nested", Array::make({Dictionary::make({{"inner", Array::make({box(1.5), Null::null()})}}), Array::make()})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto back = roundTrip(c.value);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*c.value)) << back->description();
    EXPECT_EQ(back->className(), c.value->className());
    if (auto n = dyn<Number>(c.value)) {
      EXPECT_EQ(dyn<Number>(back)->type(), n->type());
    }
  }
}

TEST(KeyedArchiveTest, DictionariesWithDataKeysKeepTheirEntries) {
  // The shape of a device-identifier record: text keys and data keys side by side.
  auto owner = Data::make("\x01\x02\x03");
  auto record = MutableDictionary::make();
  record->setObject(Date::make(1000.5), "DUIDTimeStampKey");
  record->setObject(owner, "DUIDOwnerKey");
  record->setObject(box(false), "DUIDOptOutKey");
  record->setObject(box(1), "DUIDSchemaVersionKey");
  record->setObject(Dictionary::make({{"DUIDLastAccessedKey", Date::make(1000.5)},
                                      {"DUIDIdentifierKey", Data::make("cipher")}}),
                    ObjectPtr(owner));
  auto back = dyn<Dictionary>(roundTrip(record));
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(*record));
  EXPECT_TRUE(back->isMutable());
  auto entry = dyn<Dictionary>(back->objectForKey(*Data::make("\x01\x02\x03")));
  ASSERT_TRUE(entry);
  EXPECT_TRUE(dyn<Data>(entry->objectForKey("DUIDIdentifierKey")));
  auto optOut = dyn<Number>(back->objectForKey("DUIDOptOutKey"));
  ASSERT_TRUE(optOut);
  EXPECT_TRUE(optOut->isBoolean());
  EXPECT_FALSE(dyn<Number>(back->objectForKey("DUIDSchemaVersionKey"))->isBoolean());
  EXPECT_FALSE(dyn<Dictionary>(roundTrip(Dictionary::make()))->isMutable());
}

TEST(KeyedArchiveTest, SharedObjectsComeBackShared) {
  auto shared = MutableArray::make({box("x")});
  auto back = dyn<Array>(roundTrip(Array::make({shared, shared})));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->objectAtIndex(0), back->objectAtIndex(1));
}

// An archive of two separate chains of `levels` arrays, each array holding the next one twice,
// and a root container of kind `rootKind` ("a", "e") holding the heads of both chains.
std::string twoChainsArchive(int levels, const char* rootKind) {
  std::vector<ObjectPtr> objects;
  auto add = [&](ObjectPtr entry) {
    objects.push_back(std::move(entry));
    return box(static_cast<long long>(objects.size() - 1));
  };
  auto buildChain = [&]() {
    ObjectPtr next = add(Dictionary::make({{"t", box("s")}, {"v", box("end")}}));
    for (int i = 0; i < levels; ++i)
      next = add(Dictionary::make({{"t", box("a")}, {"v", Array::make({next, next})}}));
    return next;
  };
  ObjectPtr first = buildChain();
  ObjectPtr second = buildChain();
  ObjectPtr root = add(Dictionary::make({{"t", box(rootKind)}, {"v", Array::make({first, second})}}));
  auto archive = Dictionary::make({{"archiver", box("zv.archive")}, {"version", box(1)}, {"root", root},
                                   {"objects", Array::make(std::move(objects))}});
  return *serializePropertyList(*archive, PropertyListFormat::Binary);
}

TEST(KeyedArchiveTest, SharedObjectsAreNotExpandedWhenCompared) {
  // Expanded, each chain is a tree of 2^48 leaves: any comparison that walks the tree never ends.
  const std::string setArchive = twoChainsArchive(48, "e");
  EXPECT_LT(setArchive.size(), 4096u);
  auto set = dyn<Set>(unarchiveObjectWithData(setArchive));
  ASSERT_TRUE(set);
  EXPECT_EQ(set->count(), 1u);  // the two chains are equal

  auto pair = dyn<Array>(unarchiveObjectWithData(twoChainsArchive(48, "a")));
  ASSERT_TRUE(pair);
  ASSERT_EQ(pair->count(), 2u);
  EXPECT_NE(pair->objectAtIndex(0), pair->objectAtIndex(1));
  EXPECT_TRUE(pair->objectAtIndex(0)->isEqual(*pair->objectAtIndex(1)));
  EXPECT_TRUE(Dictionary::make({{pair->objectAtIndex(0), box(1)}})->objectForKey(*pair->objectAtIndex(1)));
}

TEST(KeyedArchiveTest, ValuesThatCannotBeArchivedRaise) {
  auto cyclic = MutableArray::make();
  cyclic->addObject(Array::make({cyclic}));
  EXPECT_THROW(archivedDataWithRootObject(*cyclic), Exception);
  cyclic->removeAllObjects();
  EXPECT_THROW(archivedDataWithRootObject(*URL::make("http://127.0.0.1/")), Exception);
}

std::string archiveOf(const ObjectPtr& root) {
  return *serializePropertyList(*root, PropertyListFormat::Binary);
}

ObjectPtr header(ObjectPtr root, std::vector<ObjectPtr> objects) {
  return Dictionary::make({{"archiver", box("zv.archive")},
                           {"version", box(1)},
                           {"root", std::move(root)},
                           {"objects", Array::make(std::move(objects))}});
}

TEST(KeyedArchiveTest, MalformedArchivesRaiseTheInvalidArchiveException) {
  auto string = [](const char* text) { return Dictionary::make({{"t", box("s")}, {"v", box(text)}}); };
  auto array = [](std::vector<ObjectPtr> refs) { return Dictionary::make({{"t", box("a")}, {"v", Array::make(std::move(refs))}}); };
  std::string good = archivedDataWithRootObject(*Array::make({box("a"), box(2)}));
  std::vector<ObjectPtr> deepChain;
  for (int i = 0; i < 1000; ++i) deepChain.push_back(array({box(i + 1)}));
  deepChain.push_back(string("end"));
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"not a property list", "garbage"},
      {"truncated", good.substr(0, good.size() / 2)},
      {"a plain property list", archiveOf(Dictionary::make({{"k", box("v")}}))},
      {"newer version", archiveOf(Dictionary::make({{"archiver", box("zv.archive")}, {"version", box(2)}}))},
      {"root out of range", archiveOf(header(box(5), {string("a")}))},
      {"root not an index", archiveOf(header(box("0"), {string("a")}))},
      {"entry not a dictionary", archiveOf(header(box(0), {box("a")}))},
      {"unknown kind", archiveOf(header(box(0), {Dictionary::make({{"t", box("?")}})}))},
      {"string without text", archiveOf(header(box(0), {Dictionary::make({{"t", box("s")}})}))},
      {"array holding itself", archiveOf(header(box(0), {array({box(0)})}))},
      {"cycle through two arrays", archiveOf(header(box(0), {array({box(1)}), array({box(0)})}))},
      {"member out of range", archiveOf(header(box(0), {array({box(-1)})}))},
      {"unequal dictionary", archiveOf(header(box(0), {Dictionary::make({{"t", box("m")},
                                                                         {"k", Array::make({box(1)})},
                                                                         {"v", Array::make()}}),
                                                       string("k")}))},
      {"nested too deeply", archiveOf(header(box(0), deepChain))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      unarchiveObjectWithData(c.bytes);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.name(), kInvalidArchiveOperationException);
    }
  }
}

}  // namespace
}  // namespace zv::storage
