#include <gtest/gtest.h>

#include "platform/storage/PropertyList.h"
#include "platform/storage/StringsTable.h"

namespace zv::storage {
namespace {

std::string utf16(std::u16string_view text, bool bigEndian, bool withMark) {
  std::string out;
  auto put = [&](char16_t unit) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  };
  if (withMark) put(0xFEFF);
  for (char16_t unit : text) put(unit);
  return out;
}

TEST(StringsTableTest, ParsesEntriesCommentsAndEscapes) {
  struct Case {
    const char* name;
    std::string text;
    const char* key;
    const char* value;
  } cases[] = {
      {"plain", "\"Cancel\" = \"Abbrechen\";", "Cancel", "Abbrechen"},
      {"comments around", "/* a\n comment */ \"a\" // note\n = /* x */ \"b\" ;", "a", "b"},
      {"unquoted words", "greeting_1 = hello.world;", "greeting_1", "hello.world"},
      {"key only", "\"same\";", "same", "same"},
      {"quote and backslash", R"("q" = "say \"hi\" \\ bye";)", "q", "say \"hi\" \\ bye"},
      {"control escapes", R"("c" = "a\nb\tc\rd";)", "c", "a\nb\tc\rd"},
      {"unicode escape", R"("u" = "caf\U00e9";)", "u", "caf\xC3\xA9"},
      {"lower-case unicode escape", R"("u" = "\u20AC";)", "u", "\xE2\x82\xAC"},
      {"surrogate pair escape", R"("e" = "\UD83D\UDE00";)", "e", "\xF0\x9F\x98\x80"},
      {"lone surrogate escape", R"("e" = "\UD83Dx";)", "e", "\xEF\xBF\xBDx"},
      {"UTF-8 text and mark", "\xEF\xBB\xBF\"k\" = \"\xC3\xBC\";", "k", "\xC3\xBC"},
      {"braces", "{ \"k\" = \"v\"; }", "k", "v"},
      {"later entry wins", "\"k\" = \"1\"; \"k\" = \"2\";", "k", "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<Error> error;
    auto table = parseStringsTable(c.text, &error);
    ASSERT_TRUE(table) << describe(error);
    EXPECT_EQ(table->stringForKey(c.key), c.value);
  }
  auto empty = parseStringsTable("  /* nothing */ \n");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->count(), 0u);
}

TEST(StringsTableTest, ReadsUTF16InBothByteOrdersWithOrWithoutMark) {
  std::u16string text = u"/* c */\n\"key\" = \"\u00FCber \U0001F600\";\n";
  for (bool bigEndian : {false, true}) {
    for (bool withMark : {false, true}) {
      SCOPED_TRACE(std::to_string(bigEndian) + std::to_string(withMark));
      Ref<Error> error;
      auto table = parseStringsTable(utf16(text, bigEndian, withMark), &error);
      ASSERT_TRUE(table) << describe(error);
      EXPECT_EQ(table->stringForKey("key"), "\xC3\xBC" "ber \xF0\x9F\x98\x80");
    }
  }
}

TEST(StringsTableTest, MalformedTablesGiveAnError) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* fragment;
  } cases[] = {
      {"unterminated string", "\"a\" = \"b;", "unterminated string"},
      {"missing semicolon", "\"a\" = \"b\"\n\"c\" = \"d\";", "expected ';' on line 2"},
      {"missing value", "\"a\" = ;", "unexpected character"},
      {"unterminated comment", "\"a\" = \"b\"; /* open", "unterminated comment"},
      {"stray character", "\"a\" = \"b\"; @", "unexpected character '@'"},
      {"escape without digits", R"("a" = "\Uzz";)", "hexadecimal"},
      {"invalid UTF-8", "\"a\" = \"\xFF\";", "neither valid UTF-8"},
      {"odd UTF-16", utf16(u"\"a\";", false, true) + "x", "odd number"},
      {"lone UTF-16 surrogate", utf16(u"\"a\" = \"\xD800\";", true, true), "unpaired surrogate"},
      {"missing closing brace", "{ \"a\" = \"b\";", "closing brace"},
      {"truncated after escape", "\"a\" = \"b\\", "unterminated string"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<Error> error;
    EXPECT_EQ(parseStringsTable(c.bytes, &error), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), kPropertyListErrorDomain);
    EXPECT_NE(error->localizedDescription().find(c.fragment), std::string::npos) << error->localizedDescription();
  }
}

}  // namespace
}  // namespace zv::storage
