#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/net/CookieStore.h"
#include "platform/net/HTTPCookie.h"

namespace zv::net {
namespace {

Ref<URL> url(const char* text) { return URL::make(text); }

TEST(CookieTest, ParsesSetCookieAttributes) {
  struct Case {
    const char* setCookie;
    const char* url;
    bool accepted;
    std::string name, value, domain, path;
    bool hostOnly = true, secure = false, httpOnly = false, session = true;
  };
  const Case cases[] = {
      {"a=1", "http://example.com/dir/page", true, "a", "1", "example.com", "/dir"},
      {" a = 1 ; Path=/x", "http://example.com/", true, "a", "1", "example.com", "/x"},
      {"a=1; Path=relative", "http://example.com/d/p", true, "a", "1", "example.com", "/d"},
      // The last Path wins, an empty or relative one meaning the default path.
      {"foo=bar; path=/dog; path=", "http://example.com/cat/p", true, "foo", "bar", "example.com", "/cat"},
      {"foo=bar; path=/dog; path", "http://example.com/cat/p", true, "foo", "bar", "example.com", "/cat"},
      {"foo=bar; path=/dog; path=rel", "http://example.com/", true, "foo", "bar", "example.com", "/"},
      {"foo=bar; path=; path=/dog", "http://example.com/cat/p", true, "foo", "bar", "example.com", "/dog"},
      {"__Host-a=1; Secure; Path=/x; Path=", "https://example.com/", true, "__Host-a", "1", "example.com", "/", true,
       true},
      {"a=", "http://example.com/", true, "a", "", "example.com", "/"},
      {"a=1; Domain=.Example.COM", "http://www.example.com/", true, "a", "1", "example.com", "/", false},
      {"a=1; Domain=other.org", "http://www.example.com/", false, "", "", "", ""},
      {"a=1; Domain=com", "http://www.example.com/", false, "", "", "", ""},
      {"a=1; Domain=co.uk", "http://shop.example.co.uk/", false, "", "", "", ""},
      {"a=1; Secure; HttpOnly", "https://example.com/", true, "a", "1", "example.com", "/", true, true, true},
      {"a=1; Max-Age=3600", "http://example.com/", true, "a", "1", "example.com", "/", true, false, false, false},
      {"a=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT", "http://example.com/", true, "a", "1", "example.com", "/", true,
       false, false, false},
      {"noequals", "http://example.com/", false, "", "", "", ""},
      {"=value", "http://example.com/", false, "", "", "", ""},
      {"__Secure-a=1", "https://example.com/", false, "", "", "", ""},
      {"__Secure-a=1; Secure", "https://example.com/", true, "__Secure-a", "1", "example.com", "/", true, true},
      {"__Host-a=1; Secure; Path=/; Domain=example.com", "https://example.com/", false, "", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setCookie);
    auto cookie = HTTPCookie::parseSetCookie(c.setCookie, *url(c.url));
    ASSERT_EQ(cookie != nullptr, c.accepted);
    if (!cookie) continue;
    EXPECT_EQ(cookie->name(), c.name);
    EXPECT_EQ(cookie->value(), c.value);
    EXPECT_EQ(cookie->domain(), c.domain);
    EXPECT_EQ(cookie->path(), c.path);
    EXPECT_EQ(cookie->isHostOnly(), c.hostOnly);
    EXPECT_EQ(cookie->isSecure(), c.secure);
    EXPECT_EQ(cookie->isHTTPOnly(), c.httpOnly);
    EXPECT_EQ(cookie->isSessionOnly(), c.session);
  }
}

TEST(CookieTest, ReadsCookieDates) {
  EXPECT_EQ(parseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777.0);
  EXPECT_EQ(parseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777.0);
  EXPECT_EQ(parseCookieDate("Sun Nov  6 08:49:37 1994"), 784111777.0);
  EXPECT_FALSE(parseCookieDate("not a date"));
  EXPECT_FALSE(parseCookieDate("Sun, 32 Nov 1994 08:49:37 GMT"));
  EXPECT_FALSE(parseCookieDate("Sun, 06 Nov 1994 25:49:37 GMT"));
}

TEST(CookieTest, MatchesDomainsAndPaths) {
  EXPECT_TRUE(domainMatches("www.example.com", "example.com"));
  EXPECT_FALSE(domainMatches("badexample.com", "example.com"));
  EXPECT_FALSE(domainMatches("1.2.3.4", "2.3.4"));
  EXPECT_TRUE(pathMatches("/docs/a", "/docs"));
  EXPECT_TRUE(pathMatches("/docs/", "/docs/"));
  EXPECT_FALSE(pathMatches("/docsother", "/docs"));
  EXPECT_EQ(defaultCookiePath("/a/b/c"), "/a/b");
  EXPECT_EQ(defaultCookiePath("/a"), "/");
  EXPECT_EQ(defaultCookiePath(""), "/");
  EXPECT_TRUE(isPublicSuffix("com"));
  EXPECT_TRUE(isPublicSuffix("co.uk"));
  EXPECT_FALSE(isPublicSuffix("example.com"));
}

TEST(CookieStoreTest, StoresReplacesAndSendsCookies) {
  auto store = CookieStore::make();
  HeaderFields headers;
  headers.add("Set-Cookie", "a=1; Path=/");
  headers.add("Set-Cookie", "b=2; Path=/docs");
  headers.add("Set-Cookie", "s=3; Path=/; Secure");
  headers.add("Set-Cookie", "d=4; Domain=example.com; Path=/");
  store->setCookiesFromResponseHeaders(headers, *url("https://www.example.com/docs/index"));
  EXPECT_EQ(store->count(), 4u);

  // Longest path first, then oldest first; secure cookies only over https; domain cookies reach
  // other hosts of the domain, host-only ones do not.
  EXPECT_EQ(store->requestHeaderFieldForURL(*url("https://www.example.com/docs/x")), "b=2; a=1; s=3; d=4");
  EXPECT_EQ(store->requestHeaderFieldForURL(*url("http://www.example.com/docs/x")), "b=2; a=1; d=4");
  EXPECT_EQ(store->requestHeaderFieldForURL(*url("http://api.example.com/")), "d=4");
  EXPECT_FALSE(store->requestHeaderFieldForURL(*url("http://example.org/")));

  // The same name, domain and path replaces (keeping its place); an expired one removes.
  headers = {};
  headers.add("Set-Cookie", "a=changed; Path=/");
  headers.add("Set-Cookie", "b=gone; Path=/docs; Max-Age=0");
  store->setCookiesFromResponseHeaders(headers, *url("https://www.example.com/"));
  EXPECT_EQ(store->requestHeaderFieldForURL(*url("https://www.example.com/docs/x")), "a=changed; s=3; d=4");

  auto cookies = store->cookiesForURL(*url("https://www.example.com/"));
  ASSERT_FALSE(cookies.empty());
  store->deleteCookie(*cookies.front());
  EXPECT_EQ(store->count(), 2u);
  store->removeAllCookies();
  EXPECT_EQ(store->count(), 0u);
}

TEST(CookieStoreTest, ExpiredCookiesLeaveWithTime) {
  auto clock = std::make_shared<ManualClock>(1000.0);
  Clock::install(clock);
  auto store = CookieStore::make();
  store->setCookie(HTTPCookie::parseSetCookie("t=1; Max-Age=60", *url("http://example.com/")));
  EXPECT_EQ(store->cookiesForURL(*url("http://example.com/")).size(), 1u);
  clock->advance(61);
  EXPECT_TRUE(store->cookiesForURL(*url("http://example.com/")).empty());
  Clock::install(nullptr);
}

TEST(CookieStoreTest, ADomainCannotHoardCookies) {
  auto store = CookieStore::make();
  for (int i = 0; i < 80; ++i) {
    std::string setCookie = "c";  // built piece by piece: GCC 12 at -O3 warns falsely on `"c" + ...`
    setCookie += std::to_string(i);
    setCookie += "=1";
    store->setCookie(HTTPCookie::parseSetCookie(setCookie, *url("http://example.com/")));
  }
  EXPECT_EQ(store->count(), CookieStore::kMaxCookiesPerDomain);
  auto header = store->requestHeaderFieldForURL(*url("http://example.com/"));
  EXPECT_EQ(header->find("c0="), std::string::npos);  // the oldest went first
  EXPECT_NE(header->find("c79="), std::string::npos);
}

}  // namespace
}  // namespace zv::net
