#include <gtest/gtest.h>

#include "platform/foundation/URL.h"

namespace zv {
namespace {

struct Resolution {
  const char* reference;
  const char* expected;
};

void expectResolutions(const char* baseText, std::initializer_list<Resolution> cases) {
  auto base = URL::make(baseText);
  ASSERT_TRUE(base) << baseText;
  for (const auto& c : cases) {
    auto resolved = URL::make(c.reference, base);
    ASSERT_TRUE(resolved) << baseText << " + " << c.reference;
    EXPECT_EQ(resolved->absoluteString(), c.expected) << baseText << " + \"" << c.reference << "\"";
  }
}

TEST(URLResolutionTest, NormalAndAbnormalReferenceExamples) {
  expectResolutions("http://a/b/c/d;p?q",
                    {{"g:h", "g:h"},
                     {"g", "http://a/b/c/g"},
                     {"./g", "http://a/b/c/g"},
                     {"g/", "http://a/b/c/g/"},
                     {"/g", "http://a/g"},
                     {"//g", "http://g"},
                     {"?y", "http://a/b/c/d;p?y"},
                     {"g?y", "http://a/b/c/g?y"},
                     {"#s", "http://a/b/c/d;p?q#s"},
                     {"g#s", "http://a/b/c/g#s"},
                     {"g?y#s", "http://a/b/c/g?y#s"},
                     {";x", "http://a/b/c/;x"},
                     {"g;x", "http://a/b/c/g;x"},
                     {"g;x?y#s", "http://a/b/c/g;x?y#s"},
                     {"", "http://a/b/c/d;p?q"},
                     {".", "http://a/b/c/"},
                     {"./", "http://a/b/c/"},
                     {"..", "http://a/b/"},
                     {"../", "http://a/b/"},
                     {"../g", "http://a/b/g"},
                     {"../..", "http://a/"},
                     {"../../", "http://a/"},
                     {"../../g", "http://a/g"},
                     // Abnormal ones.
                     {"../../../g", "http://a/g"},
                     {"../../../../g", "http://a/g"},
                     {"/./g", "http://a/g"},
                     {"/../g", "http://a/g"},
                     {"g.", "http://a/b/c/g."},
                     {".g", "http://a/b/c/.g"},
                     {"g..", "http://a/b/c/g.."},
                     {"..g", "http://a/b/c/..g"},
                     {"./../g", "http://a/b/g"},
                     {"./g/.", "http://a/b/c/g/"},
                     {"g/./h", "http://a/b/c/g/h"},
                     {"g/../h", "http://a/b/c/h"},
                     {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
                     {"g;x=1/../y", "http://a/b/c/y"},
                     {"g?y/./x", "http://a/b/c/g?y/./x"},
                     {"g?y/../x", "http://a/b/c/g?y/../x"},
                     {"g#s/./x", "http://a/b/c/g#s/./x"},
                     {"g#s/../x", "http://a/b/c/g#s/../x"},
                     {"http:g", "http:g"}});
}

TEST(URLResolutionTest, AbsoluteReferencesLoseTheirDotSegments) {
  expectResolutions("http://a/b", {{"http://x/a/./b/../c", "http://x/a/c"}, {"mailto:../x", "mailto:x"}});
}

TEST(URLResolutionTest, APathStartingWithTwoSlashesNeverBecomesAHost) {
  auto base = URL::make("urn:/a");
  ASSERT_TRUE(base);
  for (const char* reference : {".//evil.example/x", "..//evil.example/x", "/.//evil.example/x"}) {
    auto resolved = URL::make(reference, base);
    ASSERT_TRUE(resolved) << reference;
    EXPECT_FALSE(resolved->host()) << reference << " gave " << resolved->absoluteString();
    EXPECT_EQ(resolved->path(), "/.//evil.example/x") << reference;
    // What it reads back as is itself.
    auto again = URL::make(resolved->absoluteString());
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->host());
  }
  // With an authority the path may start with "//": it follows the host.
  expectResolutions("http://h/a", {{".//x", "http://h//x"}});
}

TEST(URLResolutionTest, AColonInTheFirstSegmentOfARelativeResultStaysInThePath) {
  auto base = URL::make("b");
  ASSERT_TRUE(base);
  auto resolved = URL::make("./c:d", base);
  ASSERT_TRUE(resolved);
  EXPECT_FALSE(resolved->scheme());
  EXPECT_EQ(resolved->path(), "./c:d");
}

TEST(URLParsingTest, AuthorityForms) {
  struct Case {
    const char* text;
    bool valid;
    const char* host;
    int port;  // -1: none
  };
  const Case cases[] = {
      {"http://h:/p", true, "h", -1},
      {"http://h:", true, "h", -1},
      {"http://u:pw@h:8080/", true, "h", 8080},
      {"http://h:080/", true, "h", 80},
      {"http://[::1]:/p", true, "[::1]", -1},
      {"http://[::1]:81/p", true, "[::1]", 81},
      {"http:///p", true, "", -1},
      {"http://h::/p", false, nullptr, 0},  // a registered name holds no colon
      {"http://a:b:/p", false, nullptr, 0},
      {"http://h:x/", false, nullptr, 0},
      {"http://h:65536/", false, nullptr, 0},
      {"http://h]/", false, nullptr, 0},
      {"http://[::1/", false, nullptr, 0},
      {"http://[::1]x/", false, nullptr, 0},
      {"http://u[@h/", false, nullptr, 0},
  };
  for (const auto& c : cases) {
    auto url = URL::make(c.text);
    ASSERT_EQ(url != nullptr, c.valid) << c.text;
    if (!url) continue;
    EXPECT_EQ(url->host(), std::optional<std::string>(c.host)) << c.text;
    EXPECT_EQ(url->port(), c.port < 0 ? std::nullopt : std::optional<int>(c.port)) << c.text;
  }
}

TEST(URLParsingTest, AnEmptyPortKeepsTheHostThroughAppendingAndResolving) {
  auto url = URL::make("http://h:/dir/");
  ASSERT_TRUE(url);
  auto appended = url->URLByAppendingPathComponent("x y");
  ASSERT_TRUE(appended);
  EXPECT_EQ(appended->host(), "h");
  EXPECT_EQ(appended->path(), "/dir/x y");
  auto resolved = URL::make("../z", url);
  ASSERT_TRUE(resolved);
  EXPECT_EQ(resolved->absoluteString(), "http://h/z");
}

}  // namespace
}  // namespace zv
