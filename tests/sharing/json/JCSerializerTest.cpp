#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "platform/foundation/Values.h"
#include "sharing/json/JSONCodecConversions.h"
#include "sharing/json/JSONDecoder.h"
#include "sharing/json/CommaDecimalLocale.h"

namespace zv {
namespace {

class Opaque final : public Object {};

// Answers the converter selector with the object's class name.
class Converter final : public Object {
 public:
  bool respondsToSelector(std::string_view selector) const override { return selector == "jsonValueFor"; }
  ObjectPtr performSelector(std::string_view selector, const std::vector<ObjectPtr>& arguments) override {
    EXPECT_EQ(selector, "jsonValueFor");
    ++calls;
    return box("converted " + arguments.at(0)->className());
  }
  int calls = 0;
};

std::string write(const ObjectPtr& object, JCSerializeOptionFlags options = JCSerializeOptionNone) {
  Ref<Error> error;
  auto s = jsoncodec::JSONStringWithOptions(object, options, &error);
  return s ? s->utf8() : "error: " + error->localizedDescription();
}

TEST(JCSerializerTest, EscapesStringsAsOptionsSay) {
  const auto smiley = "\xF0\x9F\x98\x80";
  struct Case {
    std::string text;
    JCSerializeOptionFlags options;
    std::string expected;
  };
  const Case cases[] = {
      {"a/b", 0, R"(["a/b"])"},
      {"a/b", JCSerializeEscapeSlash, R"(["a\/b"])"},
      {smiley, 0, std::string("[\"") + smiley + "\"]"},
      {smiley, JCSerializeEscapeUnicode, R"(["\ud83d\ude00"])"},
      {"caf\xC3\xA9", JCSerializeEscapeUnicode, R"(["caf\u00e9"])"},
      {"q\"b\\\b\f\n\r\t\x01\x1f", 0, R"(["q\"b\\\b\f\n\r\t\u0001\u001f"])"},
      {std::string("nul\0x", 5), 0, R"(["nul\u0000x"])"},
  };
  for (const auto& c : cases) EXPECT_EQ(write(Array::make({box(c.text)}), c.options), c.expected) << c.text;
}

TEST(JCSerializerTest, TextThatIsNotUTF8DoesNotConvert) {
  // Strings made straight from bytes skip the sanitising of String::make.
  for (const std::string bytes : {"a\xFF", "\xC3", "ok \xED\xA0\x80", "\xE2\x82z"}) {
    for (JCSerializeOptionFlags options : {JCSerializeOptionNone, JCSerializeEscapeUnicode}) {
      EXPECT_EQ(write(Array::make({std::make_shared<String>(bytes)}), options),
                "error: An error occurred converting the contents of a NSString to UTF8.")
          << bytes;
    }
  }
  // Well-formed text, U+FFFD itself included, still goes through.
  EXPECT_EQ(write(Array::make({std::make_shared<String>("\xEF\xBF\xBD\xC3\xA9")})), "[\"\xEF\xBF\xBD\xC3\xA9\"]");
}

TEST(JCSerializerTest, WritesNumbersLiteralsAndNull) {
  auto array = Array::make({box(0.1), box(true), box(false), Null::null(), box(-7), box(18446744073709551615ull),
                            box(1e300), box(2.5f)});
  EXPECT_EQ(write(array), "[0.10000000000000001,true,false,null,-7,18446744073709551615,1.0000000000000001e+300,2.5]");
  Ref<Error> error;
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(write(Array::make({box(bad)})),
              "error: Floating point values must be finite.  JSON does not support NaN or Infinity.");
  }
}

TEST(JCSerializerTest, DoublesMatchSeventeenDigitPrintfExactly) {
  // The C library's "%.17g" (the test runs in the C locale) is the reference form; every double
  // class is covered: integral, subnormal, extremes, negative zero, and random bit patterns.
  std::vector<double> values = {0.0,    -0.0,   1.0,     -1.0,    0.1,     1e21,   1e-7,  123456789012345678.0,
                                5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 9007199254740993.0,
                                1e16,   1e17,   0.5,     100.0,   3.0e-5,  -2.5e-10};
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  while (values.size() < 20000) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    double d;
    std::memcpy(&d, &state, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
  }
  std::vector<ObjectPtr> boxed;
  std::string expected = "[";
  for (double d : values) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", d);
    expected += (boxed.empty() ? "" : ",") + std::string(buffer);
    boxed.push_back(box(d));
  }
  EXPECT_EQ(write(Array::make(boxed)), expected + "]");
}

// An array whose elements are made afresh on every access, each a one-element decoded array.
class FreshDecodedArrays final : public Array {
 public:
  std::size_t count() const override { return 300; }
  ObjectPtr objectAtIndex(std::size_t index) const override {
    return jsoncodec::objectFromJSONString(String("[\"" + std::to_string(index) + "\"]"));
  }
};

TEST(JCSerializerTest, ElementsOfTemporaryDecodedArraysNeverHitTheOutputCacheFalsely) {
  // Each decoded array dies after it is written, and with it its string, whose address the next
  // one is likely to reuse.
  std::string expected = "[";
  for (int i = 0; i < 300; ++i) expected += (i ? ",[\"" : "[\"") + std::to_string(i) + "\"]";
  EXPECT_EQ(write(std::make_shared<FreshDecodedArrays>()), expected + "]");
}

TEST(JCSerializerTest, AConverterThatFreesPartOfADecodedTreeCausesNoFalseCacheHit) {
  auto tree = std::dynamic_pointer_cast<MutableArray>(
      jsoncodec::mutableObjectFromJSONString(String(R"([{"k":"first"},0,{"k":"zzzzz"}])")));
  ASSERT_TRUE(tree);
  auto before = std::dynamic_pointer_cast<MutableDictionary>(tree->objectAtIndex(0));
  auto after = std::dynamic_pointer_cast<MutableDictionary>(tree->objectAtIndex(2));
  ASSERT_TRUE(before && after);
  ObjectPtr beforeKey, afterKey;
  before->enumerate([&](const ObjectPtr& key, const ObjectPtr&) { return beforeKey = key, false; });
  after->enumerate([&](const ObjectPtr& key, const ObjectPtr&) { return afterKey = key, false; });
  tree->replaceObjectAtIndex(1, std::make_shared<Opaque>());
  auto text = jsoncodec::JSONStringWithOptions(tree, 0, [&](const ObjectPtr&) -> ObjectPtr {
    before->removeObjectForKey(*beforeKey);  // frees "first", already written
    after->setObject(box("other"), afterKey);  // likely where "first" was
    return box("x");
  });
  ASSERT_TRUE(text);
  EXPECT_EQ(text->utf8(), R"([{"k":"first"},"x",{"k":"other"}])");
}

TEST(JCSerializerTest, AConverterThatChangesTheCollectionBeingWrittenFailsTheCall) {
  // The converter grows the very array or dictionary whose element it converts, which moves the
  // element block under the writer.
  auto array = std::dynamic_pointer_cast<MutableArray>(jsoncodec::mutableObjectFromJSONString(String("[1,2]")));
  auto dictionary =
      std::dynamic_pointer_cast<MutableDictionary>(jsoncodec::mutableObjectFromJSONString(String(R"({"a":1})")));
  ASSERT_TRUE(array && dictionary);
  array->addObject(std::make_shared<Opaque>());
  dictionary->setObject(std::make_shared<Opaque>(), box("b"));
  const auto grow = [&](const ObjectPtr&) -> ObjectPtr {
    for (int i = 0; i < 64; ++i) {
      array->addObject(box(i));
      dictionary->setObject(box(i), box("k" + std::to_string(i)));
    }
    return box("x");
  };
  for (const ObjectPtr& collection : {ObjectPtr(array), ObjectPtr(dictionary)}) {
    Ref<Error> error;
    EXPECT_FALSE(jsoncodec::JSONStringWithOptions(collection, 0, grow, &error)) << collection->className();
    ASSERT_TRUE(error);
    EXPECT_NE(error->localizedDescription().find("changed while being serialized"), std::string::npos);
  }
  // A converter that only changes other collections still succeeds.
  auto other = std::dynamic_pointer_cast<MutableArray>(jsoncodec::mutableObjectFromJSONString(String("[0]")));
  auto text = jsoncodec::JSONStringWithOptions(Array::make({std::make_shared<Opaque>(), other}), 0,
                                               [&](const ObjectPtr&) -> ObjectPtr {
                                                 other->addObject(box(1));
                                                 return box("x");
                                               });
  ASSERT_TRUE(text);
  EXPECT_EQ(text->utf8(), R"(["x",[0,1]])");
}

TEST(JCSerializerTest, NumbersIgnoreTheProcessLocale) {
  testing::CommaDecimalLocale locale;
  ZV_SKIP_WITHOUT_COMMA_DECIMAL_LOCALE(locale);
  EXPECT_EQ(write(Array::make({box(2.5), box(0.1)})), "[2.5,0.10000000000000001]");
}

TEST(JCSerializerTest, PrettyPrintingSortsKeysAndSpreadsEmptyCollections) {
  auto d = Dictionary::make({{"b", box(1)}, {"a", Array::make()}, {"c", Dictionary::make()}});
  EXPECT_EQ(write(d, JCSerializePretty),
            "{\n  \"a\": [\n    \n  ],\n  \"b\": 1,\n  \"c\": {\n    \n  }\n}");
  EXPECT_EQ(write(Array::make(), JCSerializePretty), "[\n  \n]");
  EXPECT_EQ(write(d), R"({"b":1,"a":[],"c":{}})");
  // Natural order of text is UTF-16 order: a supplementary character sorts before U+FF01.
  auto unicodeKeys = Dictionary::make({{"\xEF\xBC\x81", box(1)}, {"\xF0\x9F\x98\x80", box(2)}});
  EXPECT_EQ(write(unicodeKeys, JCSerializePretty), "{\n  \"\xF0\x9F\x98\x80\": 2,\n  \"\xEF\xBC\x81\": 1\n}");
}

TEST(JCSerializerTest, DecodedTreesWriteBackInSlotOrder) {
  const std::string text = R"({"k":[1,2.5,"x",{"n":null}],"t":true})";
  JSONDecoder decoder;
  auto value = decoder.objectWithUTF8String(text.data(), text.size());
  auto again = jsoncodec::JSONString(value);
  auto reread = decoder.objectWithUTF8String(again->utf8().data(), again->utf8().size());
  EXPECT_TRUE(reread->isEqual(*value));
}

TEST(JCSerializerTest, SingleStringsWithAndWithoutQuotes) {
  EXPECT_EQ(jsoncodec::JSONStringWithOptions(box("x"), 0, false)->utf8(), "x");
  EXPECT_EQ(jsoncodec::JSONString(box("x"))->utf8(), "\"x\"");
  EXPECT_EQ(jsoncodec::JSONData(box("x"))->view(), "\"x\"");
  EXPECT_EQ(jsoncodec::JSONDataWithOptions(box("a/"), JCSerializeEscapeSlash, false)->view(), "a\\/");
  Ref<Error> error;
  EXPECT_FALSE(JCSerializer::serializeObject(box(1), 0, JCEncodeAsString | JCEncodeRequireString, nullptr, nullptr,
                                             {}, &error));
  EXPECT_EQ(error->localizedDescription(), "Unable to serialize object class Number, expected a NSString.");
  EXPECT_FALSE(jsoncodec::JSONStringWithOptions(ObjectPtr(box("s")), 0, &error));
  EXPECT_EQ(error->localizedDescription(), "Unable to serialize object class String, expected a NSArray or NSDictionary.");
  EXPECT_FALSE(JCSerializer::serializeObject(Array::make(), 0, 3, nullptr, nullptr, {}, &error));
  EXPECT_EQ(error->localizedDescription(), "Unknown encode as type.");
}

TEST(JCSerializerTest, UnsupportedClassesFailOrAreConverted) {
  auto array = Array::make({std::make_shared<Opaque>()});
  EXPECT_EQ(write(array), "error: Unable to serialize object class Opaque.");
  EXPECT_EQ(write(Dictionary::make({{box(1), box(2)}})), "error: Key must be a string object.");

  auto converted = jsoncodec::JSONStringWithOptions(
      array, 0, [](const ObjectPtr& o) -> ObjectPtr { return box("as text " + o->className()); });
  EXPECT_EQ(converted->utf8(), R"(["as text Opaque"])");

  Ref<Error> error;
  auto again = jsoncodec::JSONStringWithOptions(
      array, 0, [](const ObjectPtr&) -> ObjectPtr { return std::make_shared<Opaque>(); }, &error);
  EXPECT_FALSE(again);
  EXPECT_EQ(error->localizedDescription(),
            "Unable to serialize object class Opaque that was returned by the unsupported class formatter.  Original "
            "object class was Opaque.");

  auto converter = std::make_shared<Converter>();
  auto same = std::make_shared<Opaque>();
  auto viaDelegate = jsoncodec::JSONStringWithOptions(Array::make({same, same}), 0, converter, "jsonValueFor");
  EXPECT_EQ(viaDelegate->utf8(), R"(["converted Opaque","converted Opaque"])");
  EXPECT_EQ(converter->calls, 1);  // the second occurrence is copied from the earlier output
  EXPECT_THROW(jsoncodec::JSONStringWithOptions(array, 0, converter, ""), Exception);
  EXPECT_THROW(jsoncodec::JSONStringWithOptions(array, 0, converter, "otherSelector"), Exception);
}

TEST(JCSerializerTest, ConvertedTemporariesNeverHitTheOutputCacheFalsely) {
  // Each conversion returns a fresh object that dies right after it is written; its address is
  // likely to be reused by the next one, which must still be written from its own value.
  std::vector<ObjectPtr> opaque;
  for (int i = 0; i < 200; ++i) opaque.push_back(std::make_shared<Opaque>());
  int next = 0;
  auto text = jsoncodec::JSONStringWithOptions(Array::make(opaque), 0, [&](const ObjectPtr&) -> ObjectPtr {
    return box(std::to_string(next++));
  });
  std::string expected = "[";
  for (int i = 0; i < 200; ++i) expected += (i ? ",\"" : "\"") + std::to_string(i) + "\"";
  EXPECT_EQ(text->utf8(), expected + "]");
}

TEST(JCSerializerTest, CyclesAndDeepNestingAreErrors) {
  auto array = MutableArray::make();
  array->addObject(box(1));
  array->addObject(array);
  const std::string cycle = write(array);
  EXPECT_EQ(cycle, "error: Unable to serialize object class " + array->className() + ": it contains itself.");
  array->removeLastObject();  // break the cycle so the array can be freed

  ObjectPtr nested = Array::make();
  for (int i = 0; i < 600; ++i) nested = Array::make({nested});
  EXPECT_EQ(write(nested), "error: Unable to serialize: nesting deeper than 512.");
  // The same object twice side by side is not a cycle.
  auto shared = Array::make({box(1)});
  EXPECT_EQ(write(Array::make({shared, shared})), "[[1],[1]]");
}

}  // namespace
}  // namespace zv
