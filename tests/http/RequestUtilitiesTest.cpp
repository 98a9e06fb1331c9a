#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <algorithm>

#include "http/HTTPRequest.h"
#include "platform/net/CookieStore.h"
#include "platform/system/ApplicationEnvironment.h"
#include "support/TestSupport.h"

namespace zv {
namespace {

TEST(RequestUtilities, Base64) {
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"abc", "YWJj"}, {"ab", "YWI="}, {"a", "YQ=="}, {"", ""}, {"\xff\xfe\xfd\xfc", "//79/A=="}}) {
    EXPECT_EQ(HTTPRequest::base64forData(Data::make(in)), out) << in;
  }
}

TEST(RequestUtilities, ContentTypeParsing) {
  struct Case {
    std::optional<std::string> contentType;
    std::optional<std::string> mime;
    unsigned encoding;
  };
  for (const Case& c : {Case{"text/html; charset=utf-8", "text/html", 4}, Case{"text/html", "text/html", 99},
                        Case{"text/plain; charset=nonsense", "text/plain", 99},
                        Case{" application/json ; charset=ISO-8859-1", "application/json", 5},
                        Case{std::nullopt, std::nullopt, 99}}) {
    std::optional<std::string> mime;
    unsigned encoding = 99;
    HTTPRequest::parseMimeType(&mime, &encoding, c.contentType);
    EXPECT_EQ(mime, c.mime) << c.contentType.value_or("nil");
    EXPECT_EQ(encoding, c.encoding) << c.contentType.value_or("nil");
  }
}

TEST(RequestUtilities, RFC1123Dates) {
  const double expected = 784111777;  // 1994-11-06 08:49:37 UTC
  auto full = HTTPRequest::dateFromRFC1123String("Sun, 06 Nov 1994 08:49:37 GMT");
  ASSERT_TRUE(full);
  EXPECT_DOUBLE_EQ(full->timeIntervalSince1970(), expected);
  auto noWeekday = HTTPRequest::dateFromRFC1123String("06 Nov 1994 08:49:37 GMT");
  ASSERT_TRUE(noWeekday);
  EXPECT_DOUBLE_EQ(noWeekday->timeIntervalSince1970(), expected);
  auto noSeconds = HTTPRequest::dateFromRFC1123String("Sun, 06 Nov 1994 08:49 GMT");
  ASSERT_TRUE(noSeconds);
  EXPECT_DOUBLE_EQ(noSeconds->timeIntervalSince1970(), expected - 37);
  EXPECT_FALSE(HTTPRequest::dateFromRFC1123String("yesterday"));

  // The zone names of RFC 822; military letters tell nothing reliable and read as UTC.
  for (const auto& [text, hours] : std::vector<std::pair<std::string, int>>{
           {"Sun, 06 Nov 1994 03:49:37 EST", 0}, {"Sun, 06 Nov 1994 04:49:37 EDT", 0},
           {"Sun, 06 Nov 1994 02:49:37 CST", 0}, {"Sun, 06 Nov 1994 03:49:37 CDT", 0},
           {"Sun, 06 Nov 1994 01:49:37 MST", 0}, {"Sun, 06 Nov 1994 02:49:37 MDT", 0},
           {"Sun, 06 Nov 1994 00:49:37 PST", 0}, {"Sun, 06 Nov 1994 01:49:37 PDT", 0},
           {"Sun, 06 Nov 1994 08:49:37 UT", 0},  {"Sun, 06 Nov 1994 08:49:37 Z", 0},
           {"Sun, 06 Nov 1994 08:49:37 A", 0},   {"Sun, 06 Nov 1994 08:49:37 Y", 0},
           {"06 Nov 1994 00:49 PST", -37}}) {
    auto date = HTTPRequest::dateFromRFC1123String(text);
    ASSERT_TRUE(date) << text;
    EXPECT_DOUBLE_EQ(date->timeIntervalSince1970(), expected + hours) << text;
  }
  for (const char* text : {"Sun, 06 Nov 1994 08:49:37 J", "Sun, 06 Nov 1994 08:49:37 XST",
                           "Sun, 06 Nov 1994 08:49:37"}) {
    EXPECT_FALSE(HTTPRequest::dateFromRFC1123String(text)) << text;
  }
}

TEST(RequestUtilities, CookieHeaders) {
  auto store = net::CookieStore::sharedInstance();
  store->removeAllCookies();
  auto url = URL::make("http://cookies.test/page");
  // With nothing in the store the caller's own header goes out as given.
  auto own = HTTPRequest::requestWithURL(url);
  own->addRequestHeader("Cookie", "mine=1");
  own->buildRequestHeaders();
  EXPECT_EQ(own->requestHeaders()->stringForKey("Cookie"), "mine=1");

  // Cookies from the store make the header; a copy looks them up again rather than carrying them.
  store->setCookie(net::HTTPCookie::parseSetCookie("stored=2; Path=/", *url));
  auto sent = HTTPRequest::requestWithURL(url);
  sent->buildRequestHeaders();
  EXPECT_EQ(sent->requestHeaders()->stringForKey("Cookie"), "stored=2");
  store->removeAllCookies();
  auto copy = sent->copyRequest();
  copy->buildRequestHeaders();
  EXPECT_FALSE(copy->requestHeaders()->stringForKey("Cookie"));
  // A caller's header on the original survives copying.
  auto ownCopy = own->copyRequest();
  ownCopy->buildRequestHeaders();
  EXPECT_EQ(ownCopy->requestHeaders()->stringForKey("Cookie"), "mine=1");
}

TEST(RequestUtilities, MimeTypesOfFiles) {
  testing::TemporaryDirectory directory;
  testing::writeFile(directory / "notes.unknownext", "x");
  testing::writeFile(directory / "page.html", "x");
  EXPECT_EQ(HTTPRequest::mimeTypeForFileAtPath(directory / "notes.unknownext"), "application/octet-stream");
  EXPECT_EQ(HTTPRequest::mimeTypeForFileAtPath(directory / "page.html"), "text/html");
  EXPECT_FALSE(HTTPRequest::mimeTypeForFileAtPath(directory / "missing.txt"));
}

TEST(RequestUtilities, SessionCookies) {
  auto url = URL::make("http://example.test/");
  auto cookie = [&](const char* text) { return net::HTTPCookie::parseSetCookie(text, *url); };
  HTTPRequest::setSessionCookies(std::nullopt);
  HTTPRequest::addSessionCookie(cookie("a=1; Path=/"));
  HTTPRequest::addSessionCookie(cookie("a=2; Path=/"));
  HTTPRequest::addSessionCookie(cookie("a=3; Path=/other"));
  auto list = HTTPRequest::sessionCookies();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->value(), "2");
  EXPECT_EQ(list[1]->path(), "/other");

  auto store = net::CookieStore::sharedInstance();
  store->removeAllCookies();
  for (const auto& c : list) store->setCookie(c);
  HTTPRequest::clearSession();
  EXPECT_EQ(store->count(), 0u);
  EXPECT_TRUE(HTTPRequest::sessionCookies().empty());
}

TEST(RequestUtilities, DefaultUserAgentNamesTheSystemAndTheLocale) {
  auto& environment = ApplicationEnvironment::shared();
  auto languages = environment.preferredLanguages();
  auto country = environment.countryCode();
  auto model = environment.deviceModel();
  auto version = environment.systemVersion();
  environment.setPreferredLanguages({"pt-BR", "en"});
  environment.setCountryCode("PT");
  environment.setDeviceModel("testbox");
  environment.setSystemVersion("9.8");
  struct utsname names {};
  ASSERT_EQ(::uname(&names), 0);
  auto agent = HTTPRequest::defaultUserAgentString();
  environment.setPreferredLanguages(languages);
  environment.setCountryCode(country);
  environment.setDeviceModel(model);
  environment.setSystemVersion(version);
  EXPECT_EQ(agent, "Zerivudor 1.0 (testbox; " + std::string(names.sysname) + " 9.8; pt_PT)");
}

TEST(RequestUtilities, DefaultUserAgentNamesTheApplication) {
  auto agent = HTTPRequest::defaultUserAgentString();
  ASSERT_TRUE(agent);
  // "<name> <version> (<model>; <system> <version>; <locale>)"
  EXPECT_EQ(agent->rfind("Zerivudor 1.0 (", 0), 0u) << *agent;
  EXPECT_EQ(agent->back(), ')');
  EXPECT_EQ(std::count(agent->begin(), agent->end(), ';'), 2);
}

TEST(RequestCopying, ACopyHasTheSettingsButItsOwnBodyAndNoCallbacks) {
  auto request = HTTPRequest::requestWithURL(URL::make("http://127.0.0.1:9/"));
  request->setCompletionBlock([] {});
  request->appendPostData(Data::make("abc"));
  request->setShouldCompressRequestBody(true);
  request->setTimeOutSeconds(3);
  request->buildPostBody();
  auto copy = request->copyRequest();
  EXPECT_EQ(copy->timeOutSeconds(), 3);
  EXPECT_TRUE(copy->haveBuiltPostBody());
  EXPECT_EQ(copy->postLength(), request->postLength());
  EXPECT_EQ(copy->requestMethod(), "POST");
  // Its body is its own buffer.
  copy->postBody()->append("def");
  EXPECT_EQ(request->postBody()->view(), "abc");
  // A gzip-announcing copy still sends the gzip body.
  EXPECT_TRUE(copy->shouldCompressRequestBody());
  ASSERT_TRUE(copy->compressedPostBody());
  EXPECT_EQ(copy->compressedPostBody()->view(), request->compressedPostBody()->view());
}

}  // namespace
}  // namespace zv
