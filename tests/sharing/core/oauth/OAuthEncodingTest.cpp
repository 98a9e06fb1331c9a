#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv::oauth_encoding {
namespace {

TEST(OAuthEncodingTest, EncodesEverythingButUnreserved) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"AZaz09-._~", "AZaz09-._~"},
      {"a b+c", "a%20b%2Bc"},
      {"!*'();:@&=+$,/?%#[]", "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"},
      {"\u00e9\U0001F600", "%C3%A9%F0%9F%98%80"},
      {std::string("\x00\x7f", 2), "%00%7F"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(URLEncodedString(in), out) << in;
    EXPECT_EQ(pcen(in), out);
    EXPECT_EQ(URLDecodedString(out), in) << out;
  }
}

TEST(OAuthEncodingTest, DecodingKeepsPlusAndRejectsBadEscapes) {
  EXPECT_EQ(URLDecodedString("a+b%2b"), "a+b+");
  EXPECT_EQ(URLDecodedString("%e2%82%ac"), "\u20ac");
  EXPECT_FALSE(URLDecodedString("%C3"));   // not UTF-8
  EXPECT_FALSE(URLDecodedString("%zz"));
  EXPECT_FALSE(URLDecodedString("abc%4"));
}

TEST(OAuthEncodingTest, URLStringWithoutQuery) {
  EXPECT_EQ(URLStringWithoutQuery(*URL::make("http://Example.com:80/a/b?x=1?y")), "http://Example.com:80/a/b");
  EXPECT_EQ(URLStringWithoutQuery(*URL::make("https://h/p")), "https://h/p");
}

}  // namespace
}  // namespace zv::oauth_encoding
