#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "platform/foundation/Values.h"
#include "sharing/json/JCParseState.h"
#include "sharing/json/JCUTF8.h"
#include "sharing/json/JSONDecoder.h"

namespace zv {
namespace {

struct StringCase {
  std::string body;  // the bytes between the quotes
  JCParseOptionFlags options;
  std::string expected;  // decoded text, or the error message after "error: "
};

std::string decodeString(const std::string& body, JCParseOptionFlags options) {
  const std::string text = "[\"" + body + "\"]";
  JSONDecoder decoder(options);
  Ref<Error> error;
  auto array = dyn<Array>(decoder.objectWithUTF8String(text.data(), text.size(), &error));
  if (!array) return "error: " + (error ? error->localizedDescription() : std::string("?"));
  return array->objectAtIndexAs<String>(0)->utf8();
}

TEST(JCStringDecodingTest, DecodesEscapesAndChecksText) {
  const std::string fffd = "\xEF\xBF\xBD";
  const StringCase cases[] = {
      {"plain", 0, "plain"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", 0, "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {R"(\"\\\/\b\f\n\r\t)", 0, "\"\\/\b\f\n\r\t"},
      {R"(\u0061\u00e9\u20AC)", 0, "a\xC3\xA9\xE2\x82\xAC"},
      {R"(\uD83D\uDE00)", 0, "\xF0\x9F\x98\x80"},
      {"a\tb", 0, "error: Invalid character < 0x20 found in string: 0x09."},
      {"a\\\tb", 0, "error: Invalid escape sequence found in \"\" string."},
      {R"(\x)", 0, "error: Invalid escape sequence found in \"\" string."},
      {R"(\u00G0)", 0, "error: Unexpected character found in \\u Unicode escape sequence.  Found 'G', expected "
                       "[0-9a-fA-F]."},
      // NUL and noncharacters are refused on purpose, and replaced when lenient.
      {R"(\u0000)", 0, "error: Illegal \\u Unicode escape sequence."},
      {R"(\u0000)", JCParseLenientUnicode, fffd},
      {R"(\uFDD0)", 0, "error: Illegal \\u Unicode escape sequence."},
      {R"(\uFFFE)", JCParseLenientUnicode, fffd},
      {R"(\uD83F\uDFFF)", 0, "error: Illegal \\u Unicode escape sequence."},  // U+1FFFF
      {R"(\uD83Dx)", 0, "error: Required a second \\u Unicode escape sequence following a surrogate \\u Unicode "
                        "escape sequence."},
      {R"(\uD83Dx)", JCParseLenientUnicode, fffd + "x"},
      {R"(\uD83D\n)", JCParseLenientUnicode, fffd + "\n"},
      {R"(\uDE00)", 0, "error: Illegal \\u Unicode escape sequence."},
      {R"(\uDE00z)", JCParseLenientUnicode, fffd + "z"},
      {R"(\uD83D\u0041)", 0, "error: Illegal \\u Unicode escape sequence."},
      {R"(\uD83D\u0041!)", JCParseLenientUnicode, fffd + "!"},
      {"\xEF\xBF\xBE", 0, "error: Illegal UTF8 sequence found in \"\" string."},
      {"\xEF\xBF\xBE", JCParseLenientUnicode, fffd},
      {"\xED\xA0\x80", 0, "error: Illegal UTF8 sequence found in \"\" string."},
      {"a\xED\xA0\x80z", JCParseLenientUnicode, "a" + fffd + "z"},
      {"\xC0\xAF", JCParseLenientUnicode, fffd},
      {"\xE2\x82", JCParseLenientUnicode, fffd},
      {"\xFF", 0, "error: Illegal UTF8 sequence found in \"\" string."},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeString(c.body, c.options), c.expected) << c.body;
}

TEST(JCStringDecodingTest, TruncatedTextFailsEvenWhenLenient) {
  for (JCParseOptionFlags options : {JCParseStrict, JCParseLenientUnicode}) {
    JSONDecoder decoder(options);
    Ref<Error> error;
    // A string ending in the lead byte of a two-byte sequence at the end of the text.
    const std::string text = "[\"ab\\n\xC3";
    EXPECT_FALSE(decoder.objectWithUTF8String(text.data(), text.size(), &error));
    EXPECT_EQ(error->localizedDescription(), "End of buffer reached while parsing UTF8 in \"\" string.");
    Ref<Error> unterminated;
    EXPECT_FALSE(decoder.objectWithUTF8String("[\"abc", 5, &unterminated));
    EXPECT_EQ(unterminated->localizedDescription(), "Invalid string.");
  }
}

TEST(JCStringDecodingTest, ALeadByteBeforeTheClosingQuoteIsIllFormedWhereverTheTextEnds) {
  // The quote after the lead byte cannot continue the sequence, so how many bytes follow the
  // quote must not matter.
  for (const std::string text : {"[\"\xF0\"]", "[\"\xF0\"] ", "[\"\xF0\"]  \n"}) {
    JSONDecoder lenient(JCParseLenientUnicode);
    auto array = dyn<Array>(lenient.objectWithUTF8String(text.data(), text.size()));
    ASSERT_TRUE(array) << text.size();
    EXPECT_EQ(array->objectAtIndexAs<String>(0)->utf8(), "\xEF\xBF\xBD");
    JSONDecoder strict;
    Ref<Error> error;
    EXPECT_FALSE(strict.objectWithUTF8String(text.data(), text.size(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Illegal UTF8 sequence found in \"\" string.") << text.size();
  }
}

TEST(JCStringDecodingTest, LongEscapedStringsGrowTheTokenBuffer) {
  std::string body;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    body += "\\u00e9x";
    expected += "\xC3\xA9x";
  }
  EXPECT_EQ(decodeString(body, 0), expected);
}

TEST(JCUTF8Test, ClassifiesSequences) {
  struct Case {
    std::string bytes;
    JCUTF8Result result;
    std::size_t length;
    char32_t codePoint;
  };
  const Case cases[] = {
      {"A", JCUTF8Result::WellFormed, 1, 'A'},
      {"\xC3\xA9", JCUTF8Result::WellFormed, 2, 0xE9},
      {"\xF4\x8F\xBF\xBD", JCUTF8Result::WellFormed, 4, 0x10FFFD},
      {"\xF4\x90\x80\x80", JCUTF8Result::IllFormed, 4, 0xFFFD},  // above U+10FFFF
      {"\xE0\x80\x80", JCUTF8Result::IllFormed, 3, 0xFFFD},      // overlong
      {"\xEF\xBF\xBF", JCUTF8Result::IllFormed, 3, 0xFFFD},      // noncharacter
      {"\x80\x80", JCUTF8Result::IllFormed, 1, 0xFFFD},
      {"\xE2\x82", JCUTF8Result::CutShort, 2, 0xFFFD},
      {"\xE2\x28\xA1", JCUTF8Result::IllFormed, 1, 0xFFFD},
      // A byte that cannot continue the sequence decides before the end of the text does.
      {"\xF0\x22", JCUTF8Result::IllFormed, 1, 0xFFFD},
      {"\xF0\x22\x5D", JCUTF8Result::IllFormed, 1, 0xFFFD},
      {"\xE0\x80", JCUTF8Result::IllFormed, 2, 0xFFFD},
      {"\xF4\x90", JCUTF8Result::IllFormed, 2, 0xFFFD},
      {"\xF0\x9F\x98", JCUTF8Result::CutShort, 3, 0xFFFD},
  };
  for (const auto& c : cases) {
    auto p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    auto s = checkUTF8Sequence(p, p + c.bytes.size());
    EXPECT_EQ(s.result, c.result) << c.bytes;
    EXPECT_EQ(s.length, c.length) << c.bytes;
    EXPECT_EQ(s.codePoint, c.codePoint) << c.bytes;
  }
}

// The cache's string hash as it has always been defined, one byte at a time over the value's UTF-8.
std::uint32_t referenceStringHash(const std::string& value) {
  std::uint32_t h = 0x539C1505u;
  for (unsigned char c : value) h = ((h * 33u) + c - 29u) ^ (h >> 19);
  return h;
}

std::optional<std::uint32_t> tokenHash(const std::string& text) {
  detail::JCParseState state(JCParseStrict);
  return state.hashOfStringToken(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

TEST(JCStringDecodingTest, StringHashesKeepTheirDefinitionWhereverTheSpecialBytesFall) {
  // Quotes, escapes and non-ASCII sequences on both sides of every 16-byte boundary, with and
  // without text after the closing quote (the last bytes of a buffer are scanned one by one).
  const std::string pieces[] = {"a", "Z", " ", "~", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string value;
    const int length = static_cast<int>(random() % 70);
    while (static_cast<int>(value.size()) < length) value += pieces[random() % std::size(pieces)];
    const std::string after = round % 2 ? "" : std::string(random() % 40, ' ') + "]";
    EXPECT_EQ(tokenHash("\"" + value + "\"" + after), referenceStringHash(value)) << value;
    // An escape sends the string down the decoding path: the hash is of the decoded bytes.
    const std::size_t cut = value.empty() ? 0 : random() % value.size();
    if (cut < value.size() && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) continue;
    EXPECT_EQ(tokenHash("\"" + value.substr(0, cut) + "\\n" + value.substr(cut) + "\"" + after),
              referenceStringHash(value.substr(0, cut) + "\n" + value.substr(cut)));
  }
  EXPECT_EQ(tokenHash("\"\""), 0x539C1505u);
}

TEST(JCStringDecodingTest, TheFastScanStopsAtBadBytesInEveryPosition) {
  for (std::size_t at = 0; at < 40; ++at) {
    const std::string before(at, 'x');
    EXPECT_EQ(tokenHash("\"" + before + "\x01" + "yyyyyyyyyyyyyyyyyyyy\""), std::nullopt) << at;
    EXPECT_EQ(tokenHash("\"" + before + "\xC3(" + "yyyyyyyyyyyyyyyyyyyy\""), std::nullopt) << at;
    EXPECT_EQ(tokenHash("\"" + before + "\x7F" + "yyyyyyyyyyyyyyyyyyyy\""), referenceStringHash(before + "\x7F" + std::string(20, 'y')))
        << at;
    EXPECT_EQ(tokenHash("\"" + before), std::nullopt) << at;  // no closing quote
  }
}

}  // namespace
}  // namespace zv
