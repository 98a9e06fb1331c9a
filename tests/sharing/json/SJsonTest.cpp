#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "sharing/json/CommaDecimalLocale.h"
#include "sharing/json/DecimalNumber.h"
#include "sharing/json/SJSON.h"
#include "sharing/json/SJsonConversions.h"

namespace zv {
namespace {

// The codes and messages of a failed parse's trace, innermost first.
std::vector<std::string> traceOf(const SJsonBase& worker) {
  std::vector<std::string> lines;
  if (auto trace = worker.errorTrace())
    for (const auto& e : trace->objects()) {
      auto error = dyn<Error>(e);
      lines.push_back(std::to_string(error->code()) + " " + error->localizedDescription());
    }
  return lines;
}

struct ParseCase {
  std::string text;
  std::string firstError;  // "" when the text parses
};

TEST(SJsonParserTest, ParsesOrExplainsWhyNot) {
  const ParseCase cases[] = {
      {"[1, 2]", ""},
      {" {\"a\" : [true, false, null], \"b\" : -1.5e3} ", ""},
      {"3", "4 Valid fragment, but not JSON"},
      {"[1,]", "9 Trailing comma disallowed in array"},
      {"{\"a\":1,}", "9 Trailing comma disallowed in object"},
      {"[1 2]", "3 Expected ',' or ']' while parsing array"},
      {"{\"a\":1 \"b\":2}", "3 Expected ',' or '}' while parsing object"},
      {"[01]", "2 Leading 0 disallowed in number"},
      {"[-]", "2 No digits after initial minus"},
      {"[+1]", "2 Leading + disallowed in number"},
      {"[1.]", "2 No digits after decimal point"},
      {"[1e]", "2 No digits after exponent"},
      {"[tru]", "3 Expected 'true'"},
      {"[x]", "3 Unrecognised leading character"},
      {"[", "11 Unexpected end of string"},
      {"[1", "11 End of input while parsing array"},
      {"{", "11 End of input while parsing object"},
      {"{1:2}", "3 Object key string expected"},
      {"{\"a\" 2}", "3 Expected ':' separating key and value"},
      {"[\"abc", "5 Unescaped control character '0x0'"},
      {"[\"a\tb\"]", "5 Unescaped control character '0x9'"},
      {"[\"\\q\"]", "8 Illegal escape sequence '0x71'"},
      {"[\"\\", "11 Unexpected EOF while parsing string"},
      {"[\"\\uDC00\"]", "6 Invalid high character in surrogate pair"},
      {"[\"\\uD83Dx\"]", "6 Missing low character in surrogate pair"},
      {"[\"\\uD83D\\u0041\"]", "6 Invalid low surrogate char"},
      {"[\"\\u12G4\"]", "6 Missing hex digit in quad"},
      {"[1] x", "10 Garbage after JSON"},
      // Bytes that are not UTF-8 fail instead of looping over the same run.
      {"[\"a\xFF" "b\"]", "6 Invalid UTF-8 byte '0xff'"},
      {"[\"\xED\xA0\x80\"]", "6 Invalid UTF-8 byte '0xed'"},
  };
  for (const auto& c : cases) {
    SJsonParser parser;
    // Built directly so that ill-formed bytes reach the parser unreplaced.
    auto value = parser.objectWithString(std::make_shared<String>(c.text));
    auto trace = traceOf(parser);
    if (c.firstError.empty()) {
      EXPECT_TRUE(value) << c.text << ": " << (trace.empty() ? "" : trace.front());
      EXPECT_FALSE(parser.errorTrace());
    } else {
      EXPECT_FALSE(value) << c.text;
      ASSERT_FALSE(trace.empty()) << c.text;
      EXPECT_EQ(trace.front(), c.firstError) << c.text;
    }
  }
}

TEST(SJsonParserTest, ErrorsChainFromInnermostToOutermost) {
  SJsonParser parser;
  EXPECT_FALSE(parser.objectWithString(box("[\"\\u12G4\"]")));
  EXPECT_EQ(traceOf(parser), (std::vector<std::string>{"6 Missing hex digit in quad", "6 Missing hex quad",
                                                       "6 Broken unicode character",
                                                       "3 Expected value while parsing array"}));
  auto trace = parser.errorTrace();
  auto last = dyn<Error>(trace->lastObject());
  EXPECT_EQ(last->domain(), "org.velmorand.JSON.ErrorDomain");
  EXPECT_EQ(last->underlyingError(), trace->objectAtIndex(2));
  EXPECT_EQ(dyn<Error>(trace->objectAtIndex(0))->underlyingError(), nullptr);
  // The next call starts a fresh trace.
  EXPECT_TRUE(parser.objectWithString(box("[]")));
  EXPECT_FALSE(parser.errorTrace());
  EXPECT_FALSE(parser.objectWithString(nullptr));
  EXPECT_EQ(traceOf(parser), (std::vector<std::string>{"12 Input was 'nil'"}));
}

TEST(SJsonParserTest, ValuesAreMutableAndNumbersKeepTheirDigits) {
  SJsonParser parser;
  auto d = dyn<MutableDictionary>(
      parser.objectWithString(box(R"({"s":"x\u00e9\uD83D\uDE00","n":12345678901234567890123,"f":0.10,"a":[],"a":[1]})")));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->count(), 4u);
  EXPECT_TRUE(dyn<MutableString>(d->objectForKey("s")));
  EXPECT_EQ(d->stringForKey("s"), "x\xC3\xA9\xF0\x9F\x98\x80");
  auto n = d->objectForKeyAs<DecimalNumber>("n");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->text(), "12345678901234567890123");
  EXPECT_EQ(d->objectForKeyAs<DecimalNumber>("f")->text(), "0.10");
  EXPECT_EQ(d->objectForKeyAs<Array>("a")->count(), 1u);  // the later duplicate wins
  EXPECT_TRUE(dyn<MutableArray>(d->objectForKey("a")));
  auto fragment = parser.fragmentWithString(box(" 3 "));
  EXPECT_EQ(intValueOf(fragment), 3);
  EXPECT_EQ(dyn<Array>(parser.objectWithString(box("[true,false,null]")))->objectAtIndex(0), Number::yes());
  EXPECT_EQ(dyn<Array>(parser.objectWithString(box("[\"\\uD800\\uDFFF\"]")))->objectAtIndexAs<String>(0)->utf8(),
            "\xF0\x90\x8F\xBF");
}

TEST(SJsonParserTest, DepthIsLimitedAndZeroMeansNoPracticalLimit) {
  auto nested = [](std::size_t depth) { return box(std::string(depth, '[') + std::string(depth, ']')); };
  SJsonParser parser;
  EXPECT_TRUE(parser.objectWithString(nested(512)));
  EXPECT_FALSE(parser.objectWithString(nested(513)));
  EXPECT_EQ(traceOf(parser).front(), "7 Nested too deep");
  parser.setMaxDepth(0);
  EXPECT_TRUE(parser.objectWithString(nested(SJsonHardDepthLimit)));
  EXPECT_FALSE(parser.objectWithString(nested(SJsonHardDepthLimit + 1)));
  // Even without a limit, absurd nesting is refused rather than overflowing the stack.
  EXPECT_FALSE(parser.objectWithString(box(std::string(1'000'000, '['))));
  EXPECT_EQ(traceOf(parser).front(), "7 Nested too deep");
}

class Proxied final : public Object {
 public:
  explicit Proxied(ObjectPtr proxy) : proxy_(std::move(proxy)) {}
  bool respondsToSelector(std::string_view selector) const override { return selector == "proxyForJson"; }
  ObjectPtr performSelector(std::string_view, const std::vector<ObjectPtr>&) override {
    return proxy_ ? proxy_ : self();  // no proxy: answers with itself, forever
  }

 private:
  ObjectPtr proxy_;
};

class Opaque final : public Object {};

TEST(SJsonWriterTest, WritesCompactOrHumanReadable) {
  auto value = Dictionary::make({{"b", Array::make({box(1), box("x/y\x01")})}, {"a", Dictionary::make()},
                                 {"c", Array::make()}});
  SJsonWriter writer;
  EXPECT_EQ(writer.stringWithObject(value)->utf8(), R"({"b":[1,"x/y\u0001"],"a":{},"c":[]})");
  writer.setHumanReadable(true);
  writer.setSortKeys(true);
  EXPECT_EQ(writer.stringWithObject(value)->utf8(),
            "{\n  \"a\" : {},\n  \"b\" : [\n    1,\n    \"x/y\\u0001\"\n  ],\n  \"c\" : []\n}");
  EXPECT_EQ(writer.stringWithObject(Array::make())->utf8(), "[]");
}

TEST(SJsonWriterTest, WritesNumbersAndLiterals) {
  SJsonWriter writer;
  auto parsed = SJsonParser().objectWithString(box("[1.50,-0,1e400]"));
  EXPECT_EQ(writer.stringWithObject(parsed)->utf8(), "[1.50,-0,1e400]");
  EXPECT_EQ(writer.stringWithObject(Array::make({box(true), box(false), Null::null(), box(0.1), box(-3),
                                                 box(18446744073709551615ull), box("\"\\\b\f\n\r\t")}))
                ->utf8(),
            R"([true,false,null,0.1,-3,18446744073709551615,"\"\\\b\f\n\r\t"])");
}

TEST(SJsonWriterTest, NumbersIgnoreTheProcessLocale) {
  testing::CommaDecimalLocale locale;
  ZV_SKIP_WITHOUT_COMMA_DECIMAL_LOCALE(locale);
  SJsonWriter writer;
  EXPECT_EQ(writer.stringWithObject(Array::make({box(2.5)}))->utf8(), "[2.5]");
  auto parsed = dyn<Array>(SJsonParser().objectWithString(box("[2.5,1e-3]")));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->objectAtIndexAs<Number>(0)->doubleValue(), 2.5);
  EXPECT_EQ(parsed->objectAtIndexAs<Number>(1)->doubleValue(), 0.001);
  EXPECT_EQ(writer.stringWithObject(parsed)->utf8(), "[2.5,1e-3]");
}

TEST(SJsonWriterTest, RefusesWhatJSONCannotHold) {
  SJsonWriter writer;
  EXPECT_FALSE(writer.stringWithObject(Array::make({box(std::nan(""))})));
  EXPECT_EQ(traceOf(writer).front(), "1 JSON serialisation not supported for NaN or infinity");
  EXPECT_FALSE(writer.stringWithObject(Dictionary::make({{"k", box(-INFINITY)}})));
  EXPECT_EQ(traceOf(writer).back(), "1 Unsupported value for key k in object");
  EXPECT_FALSE(writer.stringWithObject(Array::make({std::make_shared<Opaque>()})));
  EXPECT_EQ(traceOf(writer).front(), "1 JSON serialisation not supported for Opaque");
  EXPECT_FALSE(writer.stringWithObject(Dictionary::make({{box(1), box(1)}})));
  EXPECT_EQ(traceOf(writer).front(), "1 JSON object key must be string");
  EXPECT_FALSE(writer.stringWithObject(box("scalar")));
  EXPECT_EQ(traceOf(writer), (std::vector<std::string>{"4 Not valid type for JSON"}));
  EXPECT_EQ(writer.stringWithFragment(box("scalar"))->utf8(), "\"scalar\"");
}

TEST(SJsonWriterTest, RefusesTextThatIsNotUTF8) {
  // Strings made straight from bytes skip the sanitising of String::make.
  SJsonWriter writer;
  for (const std::string bytes : {"a\xFF", "\xC3", "ok \xED\xA0\x80", "\xE2\x82z"}) {
    auto text = std::make_shared<String>(bytes);
    EXPECT_FALSE(writer.stringWithObject(Array::make({text}))) << bytes;
    EXPECT_EQ(traceOf(writer).front(), "1 JSON serialisation not supported for text that is not UTF-8") << bytes;
    EXPECT_FALSE(writer.stringWithObject(Dictionary::make({{box("k"), text}})));
    EXPECT_EQ(traceOf(writer).back(), "1 Unsupported value for key k in object");
    EXPECT_FALSE(writer.stringWithObject(Dictionary::make({{text, box(1)}})));
    EXPECT_EQ(traceOf(writer).front(), "1 JSON serialisation not supported for text that is not UTF-8");
  }
  // The replacement character itself and other well-formed text still go out unchanged.
  EXPECT_EQ(writer.stringWithFragment(std::make_shared<String>("\xEF\xBF\xBD \xF0\x9F\x98\x80"))->utf8(),
            "\"\xEF\xBF\xBD \xF0\x9F\x98\x80\"");
}

TEST(SJsonWriterTest, ProxiesAreFollowedButNotForever) {
  SJsonWriter writer;
  auto proxied = std::make_shared<Proxied>(Array::make({box(1)}));
  EXPECT_EQ(writer.stringWithObject(proxied)->utf8(), "[1]");
  EXPECT_EQ(writer.stringWithObject(Array::make({proxied}))->utf8(), "[[1]]");
  auto endless = std::make_shared<Proxied>(nullptr);
  EXPECT_FALSE(writer.stringWithObject(endless));
  EXPECT_FALSE(writer.stringWithObject(Array::make({endless})));
  EXPECT_EQ(traceOf(writer).front(), "7 Nested too deep");
}

TEST(SJsonWriterTest, CyclesStopAtTheDepthLimit) {
  SJsonWriter writer;
  writer.setMaxDepth(0);
  auto array = MutableArray::make();
  array->addObject(array);
  EXPECT_FALSE(writer.stringWithObject(array));
  EXPECT_EQ(traceOf(writer).front(), "7 Nested too deep");
  array->removeAllObjects();
}

TEST(SJSONTest, FacadeForwardsAndCopiesTheTrace) {
  SJSON json;
  EXPECT_EQ(json.maxDepth(), 512u);
  json.setMaxDepth(3);
  EXPECT_EQ(json.jsonWriter()->maxDepth(), 3u);
  Ref<Error> error;
  EXPECT_FALSE(json.objectWithString(box("[[[[1]]]]"), &error));
  EXPECT_EQ(error->localizedDescription(), "Expected value while parsing array");
  ASSERT_TRUE(json.errorTrace());
  EXPECT_EQ(json.errorTrace()->count(), json.jsonParser()->errorTrace()->count());
  EXPECT_NE(json.errorTrace(), json.jsonParser()->errorTrace());
  EXPECT_EQ(intValueOf(json.fragmentWithString(box("7"), nullptr)), 7);
  EXPECT_FALSE(json.objectWithString(box("7"), &error));
  EXPECT_EQ(error->code(), 4);
  json.setHumanReadable(true);
  EXPECT_EQ(json.stringWithObject(Array::make({box(1)}))->utf8(), "[\n  1\n]");
  EXPECT_EQ(json.stringWithFragment(box(2), nullptr)->utf8(), "2");
}

TEST(SJsonConversionsTest, FailuresAreLoggedWithTheirTrace) {
  LogCapture capture;
  EXPECT_EQ(dyn<Array>(sjson::JSONValue(box("[1]")))->count(), 1u);
  EXPECT_FALSE(sjson::JSONValue(box("[1,]")));
  EXPECT_TRUE(capture.contains("-JSONValue failed. Error trace is: "));
  EXPECT_TRUE(capture.contains("Trailing comma disallowed in array"));
  EXPECT_FALSE(sjson::JSONRepresentation(box("x")));
  EXPECT_TRUE(capture.contains("-JSONRepresentation failed."));
  EXPECT_EQ(sjson::JSONFragment(box("x"))->utf8(), "\"x\"");
  EXPECT_EQ(intValueOf(sjson::JSONFragmentValue(box("5"))), 5);
}

}  // namespace
}  // namespace zv
