#include "platform/net/ResponseParser.h"

#include <gtest/gtest.h>

#include "platform/net/NetErrors.h"

namespace zv::net {
namespace {

struct Case {
  const char* name;
  std::string wire;
  bool head = false;
  bool ok;                 // no parse error
  bool done;               // message complete without the connection's end
  int status;
  std::string body;
  bool keepAlive;
};

TEST(ResponseParserTest, FramesResponses) {
  const Case cases[] = {
      {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, true, true, 200, "hello", true},
      {"leading zero length is decimal", "HTTP/1.1 200 OK\r\nContent-Length: 010\r\n\r\n0123456789", false, true, true,
       200, "0123456789", true},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", false, true,
       true, 200, "abcde", true},
      {"chunk extension and trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n0\r\nX-Trailer: 1\r\n\r\n", false, true,
       true, 200, "abc", true},
      {"connection close", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok", false, true, true,
       200, "ok", false},
      {"http 1.0 without keep-alive", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", false, true, true, 200, "ok",
       false},
      {"http 1.0 with keep-alive", "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok", false,
       true, true, 200, "ok", true},
      {"no body for 204", "HTTP/1.1 204 No Content\r\n\r\n", false, true, true, 204, "", true},
      {"no body for 304", "HTTP/1.1 304 Not Modified\r\nContent-Length: 50\r\n\r\n", false, true, true, 304, "", true},
      {"no body for HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n", true, true, true, 200, "", true},
      {"interim answer skipped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", false,
       true, true, 200, "x", true},
      {"malformed status", "HTTP/1.1 abc OK\r\n\r\n", false, false, false, 0, "", false},
      {"not http", "GARBAGE\r\n\r\n", false, false, false, 0, "", false},
      {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n", false, false, false, 200,
       "", false},
      {"bad content length", "HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n", false, false, false, 200, "", false},
      {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", false, false,
       false, 200, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Byte by byte, so every split point of the head, chunk lines and body is exercised.
    ResponseParser parser(c.head);
    std::string body;
    bool ok = true;
    for (char byte : c.wire) {
      ok = parser.feed(std::string_view(&byte, 1), body);
      if (!ok) break;
    }
    EXPECT_EQ(ok, c.ok);
    if (!c.ok) {
      ASSERT_TRUE(parser.error());
      EXPECT_EQ(parser.error()->domain(), kHTTPStreamErrorDomain);
      continue;
    }
    EXPECT_EQ(parser.isDone(), c.done);
    ASSERT_TRUE(parser.response());
    EXPECT_EQ(parser.response()->statusCode(), c.status);
    EXPECT_TRUE(parser.isHeaderComplete());
    EXPECT_EQ(body, c.body);
    EXPECT_EQ(parser.keepAlive(), c.keepAlive);
  }
}

TEST(ResponseParserTest, CloseDelimitedBodyEndsWithTheConnection) {
  ResponseParser parser;
  std::string body;
  ASSERT_TRUE(parser.feed("HTTP/1.1 200 OK\r\n\r\nsome ", body));
  ASSERT_TRUE(parser.feed("bytes", body));
  EXPECT_FALSE(parser.isDone());
  ASSERT_TRUE(parser.finish(body));
  EXPECT_TRUE(parser.isDone());
  EXPECT_EQ(body, "some bytes");
  EXPECT_FALSE(parser.keepAlive());
}

TEST(ResponseParserTest, CutShortMessagesAreConnectionLosses) {
  for (std::string wire : {std::string(), std::string("HTTP/1.1 200 OK\r\nContent-Le"),
                           std::string("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
                           std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab")}) {
    SCOPED_TRACE(wire);
    ResponseParser parser;
    std::string body;
    ASSERT_TRUE(parser.feed(wire, body));
    EXPECT_FALSE(parser.finish(body));
    ASSERT_TRUE(parser.error());
    EXPECT_EQ(parser.error()->domain(), kURLErrorDomain);
    EXPECT_EQ(parser.error()->code(), kURLErrorNetworkConnectionLost);
  }
}

TEST(ResponseParserTest, HeaderFieldsKeepOrderAndRepeats) {
  ResponseParser parser;
  std::string body;
  ASSERT_TRUE(parser.feed("HTTP/1.1 302 Found\r\nSet-Cookie: a=1\r\nLocation: /x\r\nset-cookie: b=2\r\n"
                          "Content-Length: 0\r\n\r\n",
                          body));
  auto response = parser.response();
  EXPECT_EQ(response->statusLine(), "HTTP/1.1 302 Found");
  EXPECT_EQ(response->reasonPhrase(), "Found");
  EXPECT_EQ(response->headers().getAll("SET-COOKIE"), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(response->headerField("location"), "/x");
  EXPECT_EQ(response->headers().fields().front().first, "Set-Cookie");
}

TEST(ResponseParserTest, OversizedHeadIsRejected) {
  ResponseParser parser(false, 1024);
  std::string body;
  EXPECT_FALSE(parser.feed("HTTP/1.1 200 OK\r\nX-Big: " + std::string(4096, 'x') + "\r\n\r\n", body));
  ASSERT_TRUE(parser.error());
  EXPECT_EQ(parser.error()->code(), kHTTPStreamHeaderTooLarge);
}

TEST(ResponseParserTest, BytesAfterTheMessageAreKept) {
  ResponseParser parser;
  std::string body;
  ASSERT_TRUE(parser.feed("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxEXTRA", body));
  EXPECT_TRUE(parser.isDone());
  EXPECT_EQ(parser.leftover(), "EXTRA");
}

}  // namespace
}  // namespace zv::net
