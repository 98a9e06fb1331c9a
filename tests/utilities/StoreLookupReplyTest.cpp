// Reading the store's lookup answer and comparing versions.
#include <gtest/gtest.h>

#include "utilities/StoreLookupReply.h"

namespace zv {
namespace {

struct Case {
  const char* json;
  const char* key;
  std::optional<std::string> expected;
};

TEST(StoreLookupReplyTest, ReadsScalarMembers) {
  const Case cases[] = {
      {R"({"a":1,"version":"1.2"})", "version", "1.2"},  // the last member, before "}"
      {R"({"version" : "1.2" })", "version", "1.2"},
      {R"({"trackId":5000000000123,"x":1})", "trackId", "5000000000123"},
      {R"({"results":[{"primaryGenreId":6014}]})", "primaryGenreId", "6014"},
      {R"({"name":"a, b, and c","version":"2"})", "name", "a, b, and c"},  // commas inside the string
      {R"({"t":"say \"hi\"\\now"})", "t", "say \"hi\"\\now"},                // unescaped once
      {R"({"t":"\u00e9\ud83d\ude00"})", "t", "\xc3\xa9\xf0\x9f\x98\x80"},
      {R"({"t":"a\/b\n"})", "t", "a/b\n"},
      {R"({"flag":true})", "flag", "true"},
      // The key text inside a value or a member name's value does not count.
      {R"({"description":"\"version\":\"9.9\"","version":"1.0"})", "version", "1.0"},
      {R"({"a":"version","version":"3"})", "version", "3"},
      {R"({"version":null})", "version", std::nullopt},
      {R"({"version":{"major":1}})", "version", std::nullopt},
      {R"({"other":1})", "version", std::nullopt},
      {R"({"version":"1.2)", "version", std::nullopt},  // broken off inside the string
      {R"({"version":12)", "version", std::nullopt},     // broken off inside the number
      {R"({"version":)", "version", std::nullopt},
      // An escape that means nothing stays as it stands, and the scan goes on past it.
      {R"({"version":"\x"})", "version", "\\x"},
      {R"({"description":"bad \q","bundleId":"com.a"})", "bundleId", "com.a"},
      {R"({"d":"\u12G4 \u12","bundleId":"com.a"})", "d", "\\u12G4 \\u12"},
      {R"({"d":"\u12G4 \u12","bundleId":"com.a"})", "bundleId", "com.a"},
      {"", "version", std::nullopt},
      {"<html>not json</html>", "bundleId", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(valueForKeyInJSON(c.key, c.json), c.expected) << c.json;
  }
}

TEST(StoreLookupReplyTest, HugeOrDeeplyNestedInputEndsWithoutAnswer) {
  EXPECT_EQ(valueForKeyInJSON("bundleId", std::string(8u * 1024 * 1024, '[')), std::nullopt);
  std::string deep = std::string(100000, '{') + "\"bundleId\":\"x\"" + std::string(100000, '}');
  EXPECT_EQ(valueForKeyInJSON("bundleId", deep), "x");
}

TEST(StoreLookupReplyTest, ComparesNumberRunsAsNumbers) {
  EXPECT_EQ(compareNumerically("1.10", "1.9"), 1);
  EXPECT_EQ(compareNumerically("1.9", "1.10"), -1);
  EXPECT_EQ(compareNumerically("1.9", "1.9"), 0);
  EXPECT_EQ(compareNumerically("2.0", "10.0"), -1);
  EXPECT_EQ(compareNumerically("1.01", "1.1"), 0);
  EXPECT_EQ(compareNumerically("1.2.1", "1.2"), 1);
  EXPECT_EQ(compareNumerically("1.2b", "1.2a"), 1);
  EXPECT_EQ(compareNumerically("99999999999999999999999", "100000000000000000000000"), -1);
}

}  // namespace
}  // namespace zv
