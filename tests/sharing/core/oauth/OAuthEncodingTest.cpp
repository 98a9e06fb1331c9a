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

TEST(OAuthEncodingTest, DecodingKeepsPlusAndLeavesMalformedEscapes) {
  EXPECT_EQ(URLDecodedString("a+b%2b"), "a+b+");
  EXPECT_EQ(URLDecodedString("%e2%82%ac"), "\u20ac");
  EXPECT_FALSE(URLDecodedString("%C3"));  // not UTF-8
  EXPECT_FALSE(URLDecodedString("%zz%FF"));
  // A "%" that starts no valid escape stays; the valid escapes around it are still replaced.
  EXPECT_EQ(URLDecodedString("%zz"), "%zz");
  EXPECT_EQ(URLDecodedString("abc%4"), "abc%4");
  EXPECT_EQ(URLDecodedString("%"), "%");
  EXPECT_EQ(URLDecodedString("100%"), "100%");
  EXPECT_EQ(URLDecodedString("a%20b%zzc%41%"), "a b%zzcA%");
  EXPECT_EQ(URLDecodedString("%%41"), "%A");
  EXPECT_EQ(URLDecodedString("%4g%41"), "%4gA");
}

TEST(OAuthEncodingTest, URLStringWithoutQuery) {
  EXPECT_EQ(URLStringWithoutQuery(*URL::make("http://Example.com:80/a/b?x=1?y")), "http://Example.com:80/a/b");
  EXPECT_EQ(URLStringWithoutQuery(*URL::make("https://h/p")), "https://h/p");
}

}  // namespace
}  // namespace zv::oauth_encoding
