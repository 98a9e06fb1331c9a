#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>

#include "platform/storage/PropertyList.h"
#include "support/TestSupport.h"

namespace zv::storage {
namespace {

struct RoundTripCase {
  const char* name;
  ObjectPtr value;
};

std::vector<RoundTripCase> roundTripCases() {
  return {
      {"string", box("h\xC3\xA9llo <&> \xF0\x9F\x98\x80")},
      {"empty string", box("")},
      {"true", box(true)},
      {"false", box(false)},
      {"zero", box(0)},
      {"negative", box(-5)},
      {"int64 min", box(std::numeric_limits<long long>::min())},
      {"int64 max", box(std::numeric_limits<long long>::max())},
      {"uint64 above int64", Number::makeUnsigned(9223372036854775808ull, NumberType::UnsignedLongLong)},
      {"uint64 max", box(std::numeric_limits<unsigned long long>::max())},
      {"real", box(1.5)},
      {"whole real", box(3.0)},
      {"data", Data::make(std::string_view("\x00\x01\xFFz", 4))},
      {"empty data", Data::make()},
      {"date", Date::make(123456789.0)},
      {"date before reference", Date::make(-86400.0 * 365)},
      {"empty array", Array::make()},
      {"empty dictionary", Dictionary::make()},
      {"nested", Dictionary::make({{"list", Array::make({box(1), box("two"), Dictionary::make({{"k", box(true)}})})},
                                   {"bytes", Data::make("abc")}})},
  };
}

TEST(PropertyListTest, EveryValueKindRoundTripsThroughBothFormats) {
  for (auto format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
    for (const auto& c : roundTripCases()) {
      SCOPED_TRACE(std::string(c.name) + (format == PropertyListFormat::XML ? " (XML)" : " (binary)"));
      Ref<Error> error;
      auto bytes = serializePropertyList(*c.value, format, &error);
      ASSERT_TRUE(bytes) << describe(error);
      auto back = parsePropertyList(*bytes, &error);
      ASSERT_TRUE(back) << describe(error);
      EXPECT_TRUE(back->isEqual(*c.value)) << back->description() << " vs " << c.value->description();
      // Booleans must stay booleans and integers integers: equality alone would not tell.
      if (auto n = dyn<Number>(c.value)) {
        auto m = dyn<Number>(back);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->isBoolean(), n->isBoolean());
        EXPECT_EQ(m->isFloatingPoint(), n->isFloatingPoint());
        EXPECT_EQ(m->isUnsigned() && m->unsignedLongLongValue() > INT64_MAX,
                  n->isUnsigned() && n->unsignedLongLongValue() > INT64_MAX);
      }
    }
  }
}

TEST(PropertyListTest, BinaryKeepsFractionsOfSecondsInDates) {
  auto bytes = serializePropertyList(*Date::make(1000.25), PropertyListFormat::Binary);
  ASSERT_TRUE(bytes);
  auto back = dyn<Date>(parsePropertyList(*bytes));
  ASSERT_TRUE(back);
  EXPECT_DOUBLE_EQ(back->timeIntervalSinceReferenceDate(), 1000.25);
}

TEST(PropertyListTest, DictionariesKeepTheirOrderAndContainersTheirMutability) {
  auto bytes = serializePropertyList(*Dictionary::make({{"z", box(1)}, {"a", box(2)}, {"m", box(3)}}),
                                     PropertyListFormat::Binary);
  ASSERT_TRUE(bytes);
  auto immutable = dyn<Dictionary>(parsePropertyList(*bytes));
  ASSERT_TRUE(immutable);
  EXPECT_FALSE(immutable->isMutable());
  EXPECT_EQ(immutable->allKeys()->description(), "(\n    z,\n    a,\n    m\n)");
  auto mutableOne = dyn<MutableDictionary>(parsePropertyList(*bytes, nullptr, true));
  ASSERT_TRUE(mutableOne);
  EXPECT_TRUE(mutableOne->isMutable());
}

TEST(PropertyListTest, ValuesAPropertyListCannotHoldAreRefused) {
  auto dataKey = MutableDictionary::make();
  dataKey->setObject(box(1), ObjectPtr(Data::make("k")));
  auto cyclic = MutableArray::make();
  cyclic->addObject(cyclic);
  struct Case {
    const char* name;
    ObjectPtr value;
  } cases[] = {
      {"null", Null::null()},
      {"set", Set::make({box(1)})},
      {"data key", dataKey},
      {"NUL in string", box(std::string_view("a\0b", 3))},
      {"distant date", Date::distantFuture()},
      {"array holding itself", cyclic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<Error> error;
    EXPECT_FALSE(serializePropertyList(*Array::make({c.value}), PropertyListFormat::Binary, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), kPropertyListErrorDomain);
  }
  cyclic->removeAllObjects();  // break the cycle so the array can be freed
}

std::string nested(const char* open, const char* close, std::size_t depth) {
  std::string text = "<plist>";
  for (std::size_t i = 0; i < depth; ++i) text += open;
  for (std::size_t i = 0; i < depth; ++i) text += close;
  return text + "</plist>";
}

std::string bigEndian(std::uint64_t value, int size) {
  std::string out;
  for (int s = size - 1; s >= 0; --s) out += static_cast<char>(value >> (8 * s));
  return out;
}

// A binary property list of the encoded objects (object 0 the root), with 4-byte offsets and
// references.
std::string binaryOf(const std::vector<std::string>& objects) {
  std::string out = "bplist00";
  std::string table;
  for (const std::string& object : objects) {
    table += bigEndian(out.size(), 4);
    out += object;
  }
  std::uint64_t tableAt = out.size();
  return out + table + std::string(6, '\0') + '\x04' + '\x04' + bigEndian(objects.size(), 8) + bigEndian(0, 8) +
         bigEndian(tableAt, 8);
}

// `count` arrays; `references(i)` lists the objects that array i holds.
std::string binaryOfArrays(std::size_t count, const std::function<std::vector<std::uint32_t>(std::size_t)>& references) {
  std::vector<std::string> objects;
  for (std::size_t i = 0; i < count; ++i) {
    auto members = references(i);
    std::string object(1, static_cast<char>(0xA0 | members.size()));
    for (auto member : members) object += bigEndian(member, 4);
    objects.push_back(object);
  }
  return binaryOf(objects);
}

// `depth` one-element arrays, each holding the next.
std::string nestedBinary(std::size_t depth) {
  return binaryOfArrays(depth, [depth](std::size_t i) {
    return i + 1 < depth ? std::vector<std::uint32_t>{static_cast<std::uint32_t>(i + 1)} : std::vector<std::uint32_t>{};
  });
}

TEST(PropertyListTest, MalformedBytesGiveAnErrorNotACrash) {
  auto good = *serializePropertyList(*Dictionary::make({{"a", Array::make({box(1), box("x")})}}),
                                     PropertyListFormat::Binary);
  std::string selfReferencing = binaryOfArrays(1, [](std::size_t) { return std::vector<std::uint32_t>{0}; });
  std::string badOffsets = good;
  badOffsets[badOffsets.size() - 1] = '\x7F';
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"not a property list", "hello world"},
      {"truncated XML", "<plist><array><integer>1</integer></plist>"},
      {"truncated binary", good.substr(0, good.size() - 5)},
      {"wrong magic", "bplist99" + good.substr(8)},
      {"offset table out of bounds", badOffsets},
      {"binary holding itself", selfReferencing},
      {"binary key holding NUL",
       binaryOf({"\xD1" + bigEndian(1, 4) + bigEndian(2, 4), std::string("\x52" "a\0", 3), "\x09"})},
      {"binary key that is not a string", binaryOf({"\xD1" + bigEndian(1, 4) + bigEndian(1, 4), "\x09"})},
      {"XML key holding NUL", "<plist><dict><key>a&#0;b</key><true/></dict></plist>"},
      {"XML string holding NUL", "<plist><string>a&#x00;</string></plist>"},
      {"XML nested too deeply", nested("<array>", "</array>", 600)},
      {"XML dictionaries nested too deeply", nested("<dict><key>k</key>", "</dict>", 600)},
      {"binary nested too deeply", nestedBinary(100000)},
      {"integer that is not a number", "<plist><integer>abc</integer></plist>"},
      {"real that is not a number", "<plist><array><real>1.5x</real></array></plist>"},
      {"date that is not a date", "<plist><date>yesterday</date></plist>"},
      {"data that is not base64", "<plist><data>!!!</data></plist>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<Error> error;
    EXPECT_EQ(parsePropertyList(c.bytes, &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), kPropertyListErrorDomain);
    EXPECT_EQ(error->code(), kPropertyListReadCorruptError);
  }
  // Nesting up to the bound is fine, as are the spellings other writers use.
  auto lenient = dyn<Array>(parsePropertyList(
      "<plist><array><integer> -12 </integer><integer>0x10</integer><real>1e5</real>"
      "<date>2001-01-01T00:01:00Z</date><data>\n  YWJj\n</data></array></plist>"));
  ASSERT_TRUE(lenient);
  EXPECT_TRUE(lenient->isEqual(
      *Array::make({box(-12), box(16), box(100000.0), Date::make(60.0), Data::make("abc")})))
      << lenient->description();
  EXPECT_TRUE(parsePropertyList(nested("<array>", "</array>", 500)));
  EXPECT_TRUE(parsePropertyList(nestedBinary(500)));
}

TEST(PropertyListTest, NestingHiddenBehindCommentsAndOtherMarkupStillCounts) {
  // A million levels, each carrying a closing tag inside markup the decoder passes over, are
  // refused before the decoder (which recurses through them) sees any.
  for (std::string hidden : {"<!-- > </array> -->", "<!-- -- > </array> -->", "<?pi > </array> ?>",
                             "<string><![CDATA[ > </array> ]]></string>", "<!DOCTYPE x [ <!-- ] > </array> --> ]>"}) {
    SCOPED_TRACE(hidden);
    Ref<Error> error;
    EXPECT_EQ(parsePropertyList(nested(("<array>" + hidden).c_str(), "</array>", 1000000), &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_NE(error->localizedDescription().find("nested too deeply"), std::string::npos)
        << error->localizedDescription();
  }
  Ref<Error> error;
  EXPECT_EQ(parsePropertyList("<plist><array><!-- unterminated </array></plist>", &error), nullptr);
  EXPECT_TRUE(error);

  // Markup that hides no nesting reads as before.
  auto read = dyn<Array>(parsePropertyList(
      "<?xml version=\"1.0\"?><!DOCTYPE plist [ <!-- ] > --> ]><plist version=\"1>0\"><array><!-- > -->"
      "<?pi > ?><string><![CDATA[a<b>]]></string><array/></array></plist>"));
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->isEqual(*Array::make({box("a<b>"), Array::make()}))) << read->description();
}

std::string bigEndianReal(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bigEndian(bits, 8);
}

ObjectPtr binaryRoundTrip(const Object& value) {
  auto bytes = serializePropertyList(value, PropertyListFormat::Binary);
  return bytes ? parsePropertyList(*bytes) : nullptr;
}

TEST(PropertyListTest, BinaryDatesComeBackToTheMicrosecondOnEitherSideOfTheReferenceDate) {
  for (double seconds : {-1.5, -0.25, -0.000001, -31536000.75, -86400.000001, 1000.25, 978307200.5}) {
    SCOPED_TRACE(seconds);
    auto once = dyn<Date>(binaryRoundTrip(*Date::make(seconds)));
    ASSERT_TRUE(once);
    EXPECT_NEAR(once->timeIntervalSinceReferenceDate(), seconds, 1e-7);
    // Another trip changes nothing.
    auto twice = dyn<Date>(binaryRoundTrip(*once));
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->timeIntervalSinceReferenceDate(), once->timeIntervalSinceReferenceDate());
  }
  // Whole microseconds are rounded, not truncated to the microsecond below.
  for (int micro = 0; micro < 2000; micro += 7) {
    const double seconds = 123456789.0 + micro * 1e-6;
    auto back = dyn<Date>(parsePropertyList(binaryOf({"\x33" + bigEndianReal(seconds)})));
    ASSERT_TRUE(back) << micro;
    EXPECT_NEAR(back->timeIntervalSinceReferenceDate(), seconds, 1e-7) << micro;
    const double before = -123456789.0 - micro * 1e-6;
    auto early = dyn<Date>(parsePropertyList(binaryOf({"\x33" + bigEndianReal(before)})));
    ASSERT_TRUE(early) << micro;
    EXPECT_NEAR(early->timeIntervalSinceReferenceDate(), before, 1e-7) << micro;
  }
}

TEST(PropertyListTest, ValuesThatCannotBeReadFaithfullyAreRefused) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"binary date far in the future", binaryOf({"\x33" + bigEndianReal(1e12)})},
      {"binary date far in the past", binaryOf({"\x33" + bigEndianReal(-3e9)})},
      {"binary date that is not a number", binaryOf({"\x33" + bigEndianReal(std::nan(""))})},
      {"binary date that is infinite", binaryOf({"\x33" + bigEndianReal(-INFINITY)})},
      {"binary UTF-16 string holding U+0000", binaryOf({std::string("\x62\x00" "a\x00\x00", 5)})},
      {"binary ASCII string holding NUL", binaryOf({std::string("\x53" "a\0b", 4)})},
      {"binary UTF-16 string holding U+0000 in an array",
       binaryOf({"\xA1" + bigEndian(1, 4), std::string("\x61\x00\x00", 3)})},
      {"XML date with a blank inside", "<plist><date>2001-01-01T00: 1:00Z</date></plist>"},
      {"XML date with a signed minute", "<plist><date>2001-01-01T00:-1:00Z</date></plist>"},
      {"XML date with a signed year", "<plist><date>+2001-01-01T00:00:00Z</date></plist>"},
      {"XML date with minute 60", "<plist><date>2001-01-01T00:60:00Z</date></plist>"},
      {"XML date with hour 24", "<plist><date>2001-01-01T24:00:00Z</date></plist>"},
      {"XML date with month 13", "<plist><date>2001-13-01T00:00:00Z</date></plist>"},
      {"XML date on February 30", "<plist><date>2004-02-30T00:00:00Z</date></plist>"},
      {"XML date on February 29 of a common year", "<plist><date>2001-02-29T00:00:00Z</date></plist>"},
      {"XML date with a fraction", "<plist><date>2001-01-01T00:00:00.5Z</date></plist>"},
      {"XML date in 1900", "<plist><date>1900-01-01T00:00:00Z</date></plist>"},
      {"XML date in 2100", "<plist><date>2100-01-01T00:00:00Z</date></plist>"},
      {"XML date a second before the range", "<plist><date>1932-12-13T20:45:51Z</date></plist>"},
      {"XML date a second after the range", "<plist><date>2069-01-19T03:14:08Z</date></plist>"},
      {"XML integer with a leading zero", "<plist><integer>010</integer></plist>"},
      {"XML integer with a signed leading zero", "<plist><integer>-07</integer></plist>"},
      {"XML integer below INT64_MIN", "<plist><integer>-9223372036854775809</integer></plist>"},
      {"XML integer above UINT64_MAX", "<plist><integer>18446744073709551616</integer></plist>"},
      {"XML hexadecimal integer above UINT64_MAX", "<plist><integer>0x10000000000000000</integer></plist>"},
      {"XML integer far above UINT64_MAX", "<plist><integer>99999999999999999999999</integer></plist>"},
      {"XML empty integer", "<plist><array><integer/></array></plist>"},
      {"XML empty real", "<plist><real /></plist>"},
      {"XML empty date", "<plist><date/></plist>"},
      {"XML reference to a high surrogate", "<plist><string>a&#xD800;b</string></plist>"},
      {"XML reference to a low surrogate", "<plist><dict><key>&#57343;</key><true/></dict></plist>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<Error> error;
    ObjectPtr value = parsePropertyList(c.bytes, &error);
    EXPECT_EQ(value, nullptr) << (value ? value->description() : "");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kPropertyListReadCorruptError);
  }
  // The edges of each range are read as written.
  auto edges = dyn<Array>(parsePropertyList(
      "<plist><array><integer>-9223372036854775808</integer><integer>18446744073709551615</integer>"
      "<integer>0</integer><integer>-0</integer><integer>0xFFFFFFFFFFFFFFFF</integer>"
      "<date>1932-12-13T20:45:52Z</date><date>2069-01-19T03:14:07Z</date><date>2004-02-29T12:00:00Z</date>"
      "</array></plist>"));
  ASSERT_TRUE(edges);
  EXPECT_TRUE(edges->isEqual(*Array::make(
      {box(std::numeric_limits<long long>::min()), box(std::numeric_limits<unsigned long long>::max()), box(0),
       box(0), box(std::numeric_limits<unsigned long long>::max()), Date::make(-2147483648.0),
       Date::make(2147483647.0), Date::make(99748800.0)})))
      << edges->description();
  auto early = dyn<Date>(parsePropertyList(binaryOf({"\x33" + bigEndianReal(-2147483648.0)})));
  ASSERT_TRUE(early);
  EXPECT_EQ(early->timeIntervalSinceReferenceDate(), -2147483648.0);
  auto references = dyn<Array>(parsePropertyList(
      "<plist><array><string>&#x41;&#233;&#x10FFFF;&#xE000;</string><string/><data/></array></plist>"));
  ASSERT_TRUE(references);
  EXPECT_TRUE(references->isEqual(*Array::make({box("A\xC3\xA9\xF4\x8F\xBF\xBF\xEE\x80\x80"), box(""), Data::make()})))
      << references->description();
}

TEST(PropertyListTest, SharedObjectsThatExpandExponentiallyAreRefused) {
  // Each array holds the next one twice: 60 objects expand to 2^60 nodes.
  const std::size_t levels = 60;
  std::string bytes = binaryOfArrays(levels, [&](std::size_t i) {
    auto next = static_cast<std::uint32_t>(i + 1);
    return i + 1 < levels ? std::vector<std::uint32_t>{next, next} : std::vector<std::uint32_t>{};
  });
  Ref<Error> error;
  EXPECT_EQ(parsePropertyList(bytes, &error), nullptr);
  ASSERT_TRUE(error);
  EXPECT_NE(error->localizedDescription().find("expand"), std::string::npos) << error->localizedDescription();
}

TEST(PropertyListTest, ASharedStringIsCountedOncePerReference) {
  // An array of `references` references to one string of 8 KiB.
  auto sharedString = [](std::uint32_t references) {
    std::string array = "\xAF\x12" + bigEndian(references, 4);
    for (std::uint32_t i = 0; i < references; ++i) array += bigEndian(1, 4);
    return binaryOf({array, "\x5F\x11" + bigEndian(8192, 2) + std::string(8192, 's')});
  };
  // 48 KB that would build 80 MB.
  std::string bytes = sharedString(10000);
  ASSERT_LT(bytes.size(), 50000u);
  Ref<Error> error;
  EXPECT_EQ(parsePropertyList(bytes, &error), nullptr);
  ASSERT_TRUE(error);
  EXPECT_NE(error->localizedDescription().find("expand"), std::string::npos) << error->localizedDescription();
  // Sharing within reason still reads.
  auto read = dyn<Array>(parsePropertyList(sharedString(100)));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->count(), 100u);
}

TEST(PropertyListTest, LongArraysAreReadInLinearTime) {
  // Eight times the elements must take about eight times as long, not sixty-four.
  auto arrayOf = [](int count) {
    auto items = MutableArray::make();
    for (int i = 0; i < count; ++i) items->addObject(box(i));
    return *serializePropertyList(*items, PropertyListFormat::Binary);
  };
  constexpr int kSmall = 3000, kLarge = 8 * kSmall;
  const std::string small = arrayOf(kSmall), large = arrayOf(kLarge);
  auto seconds = [](const std::string& bytes) {
    return zv::testing::leastThreadCPUSeconds([&] { ASSERT_TRUE(parsePropertyList(bytes)); });
  };
  double growth = seconds(large) / seconds(small);
  EXPECT_LT(growth, 30.0) << "8 when linear, 64 when quadratic";
  auto read = dyn<Array>(parsePropertyList(large));
  ASSERT_TRUE(read);
  ASSERT_EQ(read->count(), static_cast<std::size_t>(kLarge));
  EXPECT_TRUE(read->lastObject()->isEqual(*box(kLarge - 1)));
}

TEST(PropertyListTest, FilesAreWrittenAtomicallyWithTheirPermissions) {
  zv::testing::TemporaryDirectory folder;
  auto path = folder / "settings.plist";
  Ref<Error> error;
  ASSERT_TRUE(writePropertyList(path, *Dictionary::make({{"k", box("v")}}), PropertyListFormat::XML, &error,
                                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write));
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  auto back = dyn<Dictionary>(readPropertyList(path, &error));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->stringForKey("k"), "v");

  // A value that cannot be serialized leaves the file as it was.
  EXPECT_FALSE(writePropertyList(path, *Array::make({Null::null()}), PropertyListFormat::XML, &error));
  EXPECT_TRUE(readPropertyList(path));
  EXPECT_FALSE(readPropertyList(folder / "missing.plist", &error));
  EXPECT_EQ(error->domain(), kPOSIXErrorDomain);
}

}  // namespace
}  // namespace zv::storage
