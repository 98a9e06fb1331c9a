#include <gtest/gtest.h>

#include "platform/foundation/URL.h"

namespace zv {
namespace {

TEST(URLTest, SameOriginComparesSchemeHostAndEffectivePort) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"http://example.org/a", "HTTP://Example.ORG:80/b?q", true},
      {"https://example.org/", "https://example.org:443/x", true},
      {"https://example.org/", "http://example.org/", false},  // a downgrade
      {"http://example.org/", "http://example.org:8080/", false},
      {"http://example.org/", "http://www.example.org/", false},
      {"http://127.0.0.1:1000/", "http://127.0.0.1:1001/", false},
      {"http://example.org:443/", "https://example.org/", false},
  };
  for (const auto& c : cases) {
    auto a = URL::make(c.a);
    auto b = URL::make(c.b);
    ASSERT_TRUE(a && b) << c.a << " " << c.b;
    EXPECT_EQ(isSameOrigin(*a, *b), c.same) << c.a << " " << c.b;
    EXPECT_EQ(isSameOrigin(*b, *a), c.same) << c.b << " " << c.a;
  }
}

}  // namespace
}  // namespace zv
