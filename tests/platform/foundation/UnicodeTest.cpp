#include "platform/foundation/Unicode.h"

#include <gtest/gtest.h>

namespace zv::unicode {
namespace {

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::u32string codePoints;
};

// Every ill-formed sequence gives U+FFFD for its maximal ill-formed prefix and decoding goes on.
TEST(UnicodeTest, DecodesWellFormedAndReplacesIllFormedSequences) {
  const DecodeCase cases[] = {
      {"ascii", "az", U"az"},
      {"two bytes", "\xC3\xA9", U"\u00E9"},
      {"three bytes", "\xE2\x82\xAC", U"\u20AC"},
      {"four bytes", "\xF0\x9F\x98\x80", U"\U0001F600"},
      {"overlong two", "\xC0\xAF" "x", U"\uFFFD\uFFFDx"},
      {"overlong three", "\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"lone continuation", "\x80" "a", U"\uFFFDa"},
      {"truncated at end", "a\xE2\x82", U"a\uFFFD"},
      {"truncated before ascii", "\xE2\x82" "b", U"\uFFFDb"},
      {"invalid lead", "\xFF\xFE", U"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    std::u32string decoded;
    const char* p = c.bytes.data();
    const char* end = p + c.bytes.size();
    while (p < end) decoded.push_back(decodeUTF8(p, end));
    EXPECT_EQ(decoded, c.codePoints) << c.name;
    bool wellFormed = decoded.find(U'\uFFFD') == std::u32string::npos;
    EXPECT_EQ(isValidUTF8(c.bytes), wellFormed) << c.name;
  }
  // A literal U+FFFD is well formed.
  EXPECT_TRUE(isValidUTF8("\xEF\xBF\xBD"));
}

TEST(UnicodeTest, UTF16RoundTripsAndCountsSurrogatePairs) {
  std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  std::u16string units = toUTF16(text);
  EXPECT_EQ(units, u"a\u00E9\u20AC\U0001F600");
  EXPECT_EQ(units.size(), 5u);
  EXPECT_EQ(utf16Length(text), 5u);
  EXPECT_EQ(fromUTF16(units), text);
  // Lone surrogates of either kind become U+FFFD, a reversed pair becomes two.
  EXPECT_EQ(fromUTF16(u"\xDC00\xD800"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(sanitizeUTF8("ok\xC3"), "ok\xEF\xBF\xBD");
}

TEST(UnicodeTest, AppendingRefusesValuesThatAreNotScalarValues) {
  std::string out;
  appendUTF8(out, 0xD800);
  appendUTF8(out, 0x110000);
  appendUTF8(out, 0x10FFFF);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD\xF4\x8F\xBF\xBF");
}

}  // namespace
}  // namespace zv::unicode
