#include "platform/foundation/AsciiText.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(AsciiText, CaseFoldingTouchesOnlyASCIILetters) {
  // "Ä" and "é" in UTF-8: their bytes must come through whole.
  EXPECT_EQ(ascii::lowercase("Content-TYPE \xC3\x84\xC3\xA9 [@`{]"), "content-type \xC3\x84\xC3\xA9 [@`{]");
  EXPECT_EQ(ascii::uppercase("gzip, x-\xC3\xA9"), "GZIP, X-\xC3\xA9");
  EXPECT_TRUE(ascii::equalsIgnoringCase("Set-Cookie", "set-COOKIE"));
  EXPECT_FALSE(ascii::equalsIgnoringCase("Set-Cookie", "Set-Cookie2"));
  EXPECT_FALSE(ascii::equalsIgnoringCase("\xC3\x84", "\xC3\xA4"));
  // '@' and '`' sit next to the letters; folding must not pair them with '[' or '{'.
  EXPECT_FALSE(ascii::equalsIgnoringCase("@", "`"));
  EXPECT_FALSE(ascii::equalsIgnoringCase("[", "{"));
  EXPECT_TRUE(ascii::startsWithIgnoringCase("Basic realm=x", "basic"));
  EXPECT_FALSE(ascii::startsWithIgnoringCase("Bas", "basic"));
}

TEST(AsciiText, TrimTakesTheGivenSpacesFromBothEnds) {
  struct Case {
    std::string_view text;
    std::string_view spaces;
    std::string_view expected;
  };
  const Case cases[] = {
      {"  a b \t", ascii::kBlanks, "a b"},
      {"\r\n a \n", ascii::kBlanks, "\r\n a \n"},
      {"\r\n a \n", ascii::kWhitespace, "a"},
      {" \t\r\n", ascii::kWhitespace, ""},
      {"", ascii::kWhitespace, ""},
      {"x", ascii::kWhitespace, "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ascii::trim(c.text, c.spaces), c.expected) << '"' << c.text << '"';
}

TEST(AsciiText, HexDigitValues) {
  EXPECT_EQ(ascii::hexDigitValue('0'), 0);
  EXPECT_EQ(ascii::hexDigitValue('9'), 9);
  EXPECT_EQ(ascii::hexDigitValue('a'), 10);
  EXPECT_EQ(ascii::hexDigitValue('F'), 15);
  for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\xC3'}) EXPECT_EQ(ascii::hexDigitValue(c), -1) << c;
}

}  // namespace
}  // namespace zv
