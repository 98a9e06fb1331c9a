#include <gtest/gtest.h>

#include <algorithm>

#include "http/HTTPRequest.h"
#include "platform/net/CookieStore.h"
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
