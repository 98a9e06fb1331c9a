#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/foundation/Values.h"
#include "sharing/json/JCArray.h"
#include "sharing/json/JCDictionary.h"
#include "sharing/json/JSONCodecConversions.h"
#include "sharing/json/JSONDecoder.h"
#include "sharing/json/CommaDecimalLocale.h"
#include "support/HashFlooding.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

struct Outcome {
  ObjectPtr value;
  Ref<Error> error;
  std::string message() const { return error ? error->localizedDescription() : std::string("<no error>"); }
  std::uint64_t at(const char* key) const {
    auto n = error ? error->userInfo()->objectForKeyAs<Number>(key) : nullptr;
    return n ? n->unsignedLongLongValue() : ~0ull;
  }
};

Outcome decode(std::string_view text, JCParseOptionFlags options = JCParseStrict) {
  Outcome o;
  JSONDecoder decoder(options);
  o.value = decoder.objectWithUTF8String(text.data(), text.size(), &o.error);
  return o;
}

std::string roundTrip(std::string_view text, JCParseOptionFlags options = JCParseStrict) {
  auto o = decode(text, options);
  if (!o.value) return "error: " + o.message();
  return jsoncodec::JSONString(o.value)->utf8();
}

struct FailureCase {
  std::string text;
  JCParseOptionFlags options;
  std::string message;
};

TEST(JSONDecoderTest, RejectsMalformedDocumentsWithTheirMessages) {
  const FailureCase cases[] = {
      {"", 0, "Reached the end of the buffer."},
      {"3 ", 0, "Expected either '[' or '{'."},
      {"\"s\" ", 0, "Expected either '[' or '{'."},
      {"   ", 0, "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', "
                 "'NUMBER'."},
      {"[1] x", 0, "A valid JSON object was parsed but there were additional non-white-space characters remaining."},
      {"[1] // c", 0,
       "A valid JSON object was parsed but there were additional non-white-space characters remaining."},
      {"[01]", 0, "Unexpected value."},
      {"[1 2]", 0, "Unexpected value."},
      {"[1:2]", 0, "Expected a comma or a ']', not ':'"},
      {"[1,]", 0, "Unexpected ']'."},
      {"[,1]", 0, "Unexpected ','."},
      {"[}", 0, "Expected a value or a ']', not '}'"},
      {"{1:2}", 0, "Expected a \"STRING\" or a '}', not '1'"},
      {"{\"a\" 1}", 0, "Expected ':'."},
      {"{\"a\":1 \"b\":2}", 0, "Unexpected string."},
      {"{\"a\":1,}", 0, "Unexpected '}'."},
      {"{\"a\":1,2}", 0, "Expected a \"STRING\", not '2'"},
      // After a key's ':' the message still offers the end the key's state allowed.
      {"{\"a\":]}", 0, "Expected a value or a '}', not ']'"},
      {"[-]", 0, "Invalid number."},
      {"[1.]", 0, "Invalid number."},
      {"[1e+]", 0, "Invalid number."},
      {"[1", 0, "Invalid number."},
      {"[tru]", 0, "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', "
                   "'NUMBER'."},
      {"[true", 0, "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', "
                   "'NUMBER'."},
      {"[18446744073709551616]", 0,
       "The value '18446744073709551616' exceeded the maximum value that could be represented: "
       "18446744073709551615."},
      {"[-9223372036854775809]", 0,
       "The value '-9223372036854775809' exceeded the minimum value that could be represented: "
       "-9223372036854775808."},
      {"[1e400]", 0, "The value '1e400' could not be represented as a 'double' due to overflow."},
      {"[1e-400]", 0, "The value '1e-400' could not be represented as a 'double' due to underflow."},
  };
  for (const auto& c : cases) {
    auto o = decode(c.text, c.options);
    EXPECT_EQ(o.value, nullptr) << c.text;
    ASSERT_TRUE(o.error) << c.text;
    EXPECT_EQ(o.error->domain(), "JCErrorDomain");
    EXPECT_EQ(o.error->code(), -1);
    EXPECT_EQ(o.message(), c.message) << c.text;
  }
}

TEST(JSONDecoderTest, ErrorsCarryTheByteIndexAndLineWhereTheyWereFound) {
  auto o = decode("[1,\r\n 2,\n  x]");
  EXPECT_EQ(o.at(JCLineNumberKey), 3u);  // CR LF counts as one break
  EXPECT_EQ(o.at(JCAtIndexKey), 11u);
  auto comments = decode("[1, /* two\nlines */ 2,\n// more\n ]", JCParseComments);
  EXPECT_EQ(comments.message(), "Unexpected ']'.");
  EXPECT_EQ(comments.at(JCLineNumberKey), 4u);
  EXPECT_EQ(comments.at(JCAtIndexKey), 33u);
  auto unicodeBreaks = decode("[1,\xE2\x80\xA8 ]", JCParseUnicodeLineBreaks);
  EXPECT_EQ(unicodeBreaks.at(JCLineNumberKey), 2u);
  EXPECT_EQ(decode("[1,\xE2\x80\xA8 ]").message().rfind("Unexpected token", 0), 0u);
}

TEST(JSONDecoderTest, OptionsRelaxTheGrammar) {
  EXPECT_EQ(roundTrip("[1] x", JCParseTrailingText), "[1]");
  EXPECT_EQ(roundTrip("[1] // c", JCParseComments), "[1]");
  // An unterminated comment runs to the end of the text.
  EXPECT_EQ(roundTrip("/* a */[1, // b\n 2 /* unterminated ]", JCParseComments).rfind("error: Unexpected token", 0),
            0u);
  EXPECT_EQ(roundTrip("/* a */[1, // b\n 2] /* unterminated", JCParseComments), "[1,2]");
  EXPECT_THROW(JSONDecoder(16), Exception);
  EXPECT_NO_THROW(JSONDecoder(15));
}

TEST(JSONDecoderTest, NumbersKeepTheirKind) {
  auto array = dyn<Array>(decode("[-0, 18446744073709551615, 9223372036854775807, -5, 1.5, 1e2, 0]").value);
  ASSERT_TRUE(array);
  auto n = [&](std::size_t i) { return array->objectAtIndexAs<Number>(i); };
  EXPECT_EQ(n(0)->type(), NumberType::Double);
  EXPECT_TRUE(std::signbit(n(0)->doubleValue()));
  EXPECT_EQ(n(1)->type(), NumberType::UnsignedLongLong);
  EXPECT_EQ(n(1)->unsignedLongLongValue(), 18446744073709551615ull);
  EXPECT_EQ(n(2)->type(), NumberType::LongLong);
  EXPECT_EQ(n(3)->longLongValue(), -5);
  EXPECT_EQ(n(4)->doubleValue(), 1.5);
  EXPECT_EQ(n(5)->type(), NumberType::Double);
  EXPECT_EQ(n(6)->type(), NumberType::LongLong);
  auto literals = dyn<Array>(decode("[true, false, null, \"\"]").value);
  EXPECT_EQ(literals->objectAtIndex(0), Number::yes());
  EXPECT_EQ(literals->objectAtIndex(1), Number::no());
  EXPECT_EQ(literals->objectAtIndex(2), Null::null());
  EXPECT_EQ(literals->objectAtIndexAs<String>(3)->utf8(), "");
}

TEST(JSONDecoderTest, NumbersDoNotDependOnTheProcessLocale) {
  testing::CommaDecimalLocale locale;
  ZV_SKIP_WITHOUT_COMMA_DECIMAL_LOCALE(locale);
  EXPECT_EQ(roundTrip("[2.5, 1e-3]"), "[2.5,0.001]");
}

TEST(JSONDecoderTest, EqualTokensComeBackAsTheSameObject) {
  JSONDecoder decoder;
  const std::string text = R"([{"name":"x","n":12},{"name":"x","n":12},"a","\u0061"])";
  auto array = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
  ASSERT_TRUE(array);
  auto first = array->objectAtIndexAs<Dictionary>(0), second = array->objectAtIndexAs<Dictionary>(1);
  EXPECT_EQ(first->objectForKey("name"), second->objectForKey("name"));
  EXPECT_EQ(first->objectForKey("n"), second->objectForKey("n"));
  // An escape and the plain character decode to one value with one hash.
  EXPECT_EQ(array->objectAtIndex(2), array->objectAtIndex(3));
  // The cache outlives the parse, and clearCache empties it.
  auto again = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
  EXPECT_EQ(again->objectAtIndex(2), array->objectAtIndex(2));
  decoder.clearCache();
  auto cleared = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size()));
  EXPECT_NE(cleared->objectAtIndex(2), array->objectAtIndex(2));
  EXPECT_TRUE(cleared->objectAtIndex(2)->isEqual(*array->objectAtIndex(2)));
}

TEST(JSONDecoderTest, DuplicateKeysKeepTheLastValue) {
  auto d = dyn<Dictionary>(decode(R"({"a":1,"b":3,"a":2})").value);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->count(), 2u);
  EXPECT_EQ(intValueOf(d->objectForKey("a")), 2);
}

TEST(JSONDecoderTest, MutableResultsOnlyWhenAsked) {
  JSONDecoder decoder;
  const std::string text = R"({"list":[1],"map":{}})";
  auto immutable = dyn<JCDictionary>(decoder.objectWithUTF8String(text.data(), text.size()));
  ASSERT_TRUE(immutable);
  EXPECT_FALSE(immutable->isMutable());
  EXPECT_FALSE(immutable->objectForKeyAs<JCArray>("list")->isMutable());
  auto mutableResult = dyn<JCDictionary>(decoder.mutableObjectWithUTF8String(text.data(), text.size()));
  ASSERT_TRUE(mutableResult);
  EXPECT_TRUE(mutableResult->isMutable());
  auto list = mutableResult->objectForKeyAs<JCArray>("list");
  list->addObject(box(2));
  EXPECT_EQ(list->count(), 2u);
  auto data = Data::make(std::string_view("[1]"));
  EXPECT_TRUE(dyn<JCArray>(decoder.mutableObjectWithData(data))->isMutable());
  EXPECT_FALSE(dyn<JCArray>(jsoncodec::objectFromJSONData(data))->isMutable());
  EXPECT_TRUE(dyn<JCArray>(jsoncodec::mutableObjectFromJSONString(*box("[1]")))->isMutable());
}

TEST(JSONDecoderTest, KeysChosenToShareASlotUnderTheOldHashDecodeInLinearTime) {
  // Every key of a document shares the low 32 bits of its old unkeyed hash, the bits a slot was
  // taken from; the decoder must read a document of eight times the keys in about eight times the
  // time (sixty-four when every key lands in one slot). The bound leaves a factor of three for
  // what a busy machine adds.
  const auto smallKeys = testing::keysSharingLow32FNVBits(12), largeKeys = testing::keysSharingLow32FNVBits(15);
  auto document = [&](std::vector<std::string> keys) {
    std::string text = "{";
    for (auto& key : keys) {
      // The same letters after every key keep those low bits alike (they depend on nothing above
      // them), and make the smaller document's keys as long as the larger one's.
      key.resize(largeKeys.front().size(), '_');
      text += "\"" + key + "\":1,";
    }
    text.back() = '}';
    return text;
  };
  const std::string small = document(smallKeys), large = document(largeKeys);
  ASSERT_EQ(large.size() - 1, 8 * (small.size() - 1));
  auto seconds = [](const std::string& text) {
    return testing::leastThreadCPUSeconds([&] {
      auto decoded = decode(text);
      ASSERT_TRUE(decoded.value) << decoded.message();
    });
  };
  const double smallSeconds = seconds(small), largeSeconds = seconds(large);
  EXPECT_LT(largeSeconds / smallSeconds, 24.0) << smallSeconds << " s, then " << largeSeconds << " s";
  auto dictionary = std::dynamic_pointer_cast<Dictionary>(decode(large).value);
  ASSERT_TRUE(dictionary);
  EXPECT_EQ(dictionary->count(), 1u << 15);
}

TEST(JSONDecoderTest, NestingIsBoundedInsteadOfExhaustingTheStack) {
  auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(decode(nested(JCMaximumDepth)).value);
  auto deep = decode(nested(JCMaximumDepth + 1));
  EXPECT_FALSE(deep.value);
  EXPECT_EQ(deep.message(), "Maximum nesting depth of 512 exceeded.");
  EXPECT_FALSE(decode(std::string(1'000'000, '[')).value);
  EXPECT_FALSE(decode(std::string(100'000, '{') ).value);
  std::string objects;
  for (int i = 0; i < 600; ++i) objects += "{\"a\":";
  EXPECT_EQ(decode(objects).message(), "Maximum nesting depth of 512 exceeded.");
}

TEST(JSONDecoderTest, FailedParsesLeaveTheDecoderReusable) {
  JSONDecoder decoder;
  Ref<Error> error;
  const std::string bad = R"([{"a":[1,2,{"b":)";
  EXPECT_FALSE(decoder.objectWithUTF8String(bad.data(), bad.size(), &error));
  ASSERT_TRUE(error);
  Ref<Error> untouched;
  const std::string good = R"([{"a":[1,2,{"b":3}]}])";
  auto value = decoder.objectWithUTF8String(good.data(), good.size(), &untouched);
  EXPECT_EQ(jsoncodec::JSONString(value)->utf8(), R"([{"a":[1,2,{"b":3}]}])");
  EXPECT_FALSE(untouched);
}

TEST(JSONDecoderTest, MisuseRaises) {
  JSONDecoder decoder;
  EXPECT_THROW(decoder.objectWithUTF8String(nullptr, 0), Exception);
  EXPECT_THROW(decoder.objectWithData(nullptr), Exception);
  decoder.releaseState();
  try {
    decoder.objectWithUTF8String("[]", 2);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), kInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "parseState is NULL.");
  }
}

}  // namespace
}  // namespace zv
