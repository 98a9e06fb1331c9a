// What the response reader makes of a byte sequence must not depend on how the bytes arrived.

#include <gtest/gtest.h>

#include "platform/net/NetErrors.h"
#include "platform/net/ResponseParser.h"

namespace zv::net {
namespace {

struct Verdict {
  bool ok = false;
  std::string domain;
  std::int64_t code = 0;
  int status = 0;
  std::string body;
  bool operator==(const Verdict&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Verdict& v) {
  return out << (v.ok ? "ok" : "failed") << " " << v.domain << " " << v.code << " status " << v.status << " body \""
             << v.body << "\"";
}

struct Options {
  std::size_t headerLimit = 1024;
  bool acceptsSwitch = false;
  bool head = false;
};

// Feeds `wire` in pieces of `piece` bytes (0: all at once), then the connection ends (unless
// `ends` is NO: the verdict while the connection is still open).
Verdict readResponse(const std::string& wire, std::size_t piece, const Options& options = {}, bool ends = true) {
  ResponseParser parser(options.head, options.headerLimit);
  parser.setAcceptsProtocolSwitch(options.acceptsSwitch);
  std::string body;
  bool ok = true;
  std::size_t step = piece == 0 ? wire.size() : piece;
  for (std::size_t at = 0; ok && at < wire.size(); at += step) {
    ok = parser.feed(std::string_view(wire).substr(at, step), body);
  }
  if (ok && ends) ok = parser.finish(body);
  Verdict verdict;
  verdict.ok = ok;
  if (parser.error()) {
    verdict.domain = parser.error()->domain();
    verdict.code = parser.error()->code();
  }
  if (parser.response()) verdict.status = parser.response()->statusCode();
  verdict.body = body;
  return verdict;
}

// The verdict, checked to be the same for whole, 7-byte and byte-by-byte delivery, both before
// and after the connection's end.
Verdict verdictOf(const std::string& wire, const Options& options = {}) {
  Verdict open = readResponse(wire, 0, options, false);
  EXPECT_EQ(readResponse(wire, 7, options, false), open) << "in 7-byte pieces, connection open";
  EXPECT_EQ(readResponse(wire, 1, options, false), open) << "byte by byte, connection open";
  Verdict whole = readResponse(wire, 0, options);
  EXPECT_EQ(readResponse(wire, 7, options), whole) << "in 7-byte pieces";
  EXPECT_EQ(readResponse(wire, 1, options), whole) << "byte by byte";
  return whole;
}

// Feeds `wire` byte by byte while the connection stays open: the index of the byte the reader
// refused (npos: none).
std::size_t refusedAt(const std::string& wire, const Options& options = {}) {
  ResponseParser parser(options.head, options.headerLimit);
  parser.setAcceptsProtocolSwitch(options.acceptsSwitch);
  std::string body;
  for (std::size_t at = 0; at < wire.size(); ++at) {
    if (!parser.feed(std::string_view(wire).substr(at, 1), body)) return at;
  }
  return std::string::npos;
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST(ResponseVerdictTest, HeadsCutShortAfterAnErrorReportTheError) {
  for (const std::string& wire : std::vector<std::string>{"HTTP/2.0 200 OK\r\n", "HTTP/1.1 200 OK\r\nBad Field\r\n", "HTTP/1.x 200",
                                 "HTTP/1.1 2x0 OK\r\nA: b\r\n",
                                 // Past the head limit without an end: the bad line still decides.
                                 "HTTP/1.1 200 OK\r\nBad Field\r\nX: " + std::string(2000, 'x')}) {
    SCOPED_TRACE(wire);
    Verdict verdict = verdictOf(wire);
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.domain, kHTTPStreamErrorDomain);
    EXPECT_EQ(verdict.code, kHTTPStreamParseFailure);
  }
  // A head that is merely cut short is a lost connection (worth a retry).
  Verdict cut = verdictOf("HTTP/1.1 200 OK\r\nContent-Le");
  EXPECT_EQ(cut.domain, kURLErrorDomain);
  EXPECT_EQ(cut.code, kURLErrorNetworkConnectionLost);
}

TEST(ResponseVerdictTest, AHeadIsRefusedAtTheByteThatSpoilsIt) {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  struct Case {
    std::string wire;
    std::size_t spoiledAt;
    std::int64_t code = kHTTPStreamParseFailure;
  };
  const Case cases[] = {
      {std::string("HTTP/\x01 1.", 9), 5},
      {"HTTP/2", 5},
      {"HTTP/1.2", 7},
      {"HTTP/1.1 2x", 10},
      {"HTTP/1.1 0", 9},             // below 100 whatever follows
      {"HTTP/1.1 7", 9},             // above 599
      {"HTTP/1.1 101", 11},          // a switch nobody asked for
      {"HTTP/1.1 200\r", 12},        // no space after the status
      {"HTTP/1.1 200 O\x01", 14},
      {"HTTP/1.1 200 OK\rX", 16},
      {status + "Bad Field: x", status.size() + 3},
      {status + ": empty name", status.size()},
      {status + " folded first line", status.size()},
      {status + "A: b\x7f", status.size() + 4},
      {status + "A: b\r\n\rX", status.size() + 7},
      {status + "X: " + std::string(1100, 'x'), 1024, kHTTPStreamHeaderTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    EXPECT_EQ(refusedAt(c.wire + "more bytes after it"), c.spoiledAt);
    Verdict verdict = readResponse(c.wire, 0, {}, false);
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.code, c.code);
    EXPECT_TRUE(readResponse(c.wire.substr(0, c.spoiledAt), 0, {}, false).ok);
  }
  Options asked;
  asked.acceptsSwitch = true;
  EXPECT_EQ(refusedAt("HTTP/1.1 101 Switching Protocols\r\n\r\n", asked), std::string::npos);
  // What only a whole field tells is judged when its line is complete: at the next line's first byte.
  EXPECT_EQ(refusedAt(status + "Content-Length: 1x\r\nA: b\r\n"), status.size() + 20);
  // Folded values and odd but valid heads are not refused.
  EXPECT_EQ(refusedAt(status + "A: b\r\n \tc\r\nB:\r\nC: \x80\xff\t!\r\nContent-Length: 0\r\n\r\n"), std::string::npos);
  EXPECT_TRUE(verdictOf(status + "A: b\r\n \tc\r\nB:\r\nContent-Length: 2\r\n\r\nok").ok);
}

TEST(ResponseVerdictTest, AHeadIsMeasuredFromItsFirstByte) {
  // 1034 bytes in all against a limit of 1024, though the fields alone would fit.
  Verdict tooLarge = verdictOf("HTTP/1.1 200 OK\r\nX: " + std::string(1010, 'x') + "\r\n\r\n");
  EXPECT_FALSE(tooLarge.ok);
  EXPECT_EQ(tooLarge.code, kHTTPStreamHeaderTooLarge);
  Verdict fits = verdictOf("HTTP/1.1 200 OK\r\nX: " + std::string(980, 'x') + "\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(fits.ok);
}

TEST(ResponseVerdictTest, ChunkLinesOfferedAgainAreChargedOnce) {
  // An unterminated quoted extension makes the reader wait for more of the line; a huge chunk
  // size must not be charged against the body limit each time the line is looked at again.
  Verdict waiting = verdictOf(kChunkedHead + "ffffffffffffffff;a=\"x\r\n");
  EXPECT_EQ(waiting.domain, kURLErrorDomain);
  EXPECT_EQ(waiting.code, kURLErrorNetworkConnectionLost);

  Verdict small = verdictOf(kChunkedHead + "5;a=\"x\r\nhello\r\n0\r\n\r\n");
  EXPECT_FALSE(small.ok);
  // Once the quote closes past the line's end, the extension is malformed.
  Verdict closed = verdictOf(kChunkedHead + "5;a=\"x\r\nhel\"lo\r\n0\r\n\r\n");
  EXPECT_FALSE(closed.ok);
  EXPECT_EQ(closed.code, kHTTPStreamParseFailure);
}

TEST(ResponseVerdictTest, ChunkLinesAndTrailersAreBoundedByTheHeadLimit) {
  Verdict longLine = verdictOf(kChunkedHead + "5;" + std::string(2000, 'a') + "\r\nhello\r\n0\r\n\r\n");
  EXPECT_FALSE(longLine.ok);
  EXPECT_EQ(longLine.code, kHTTPStreamParseFailure);
  Verdict longTrailer = verdictOf(kChunkedHead + "5\r\nhello\r\n0\r\nX-T: " + std::string(2000, 't') + "\r\n\r\n");
  EXPECT_FALSE(longTrailer.ok);
  Verdict fits = verdictOf(kChunkedHead + "5;" + std::string(500, 'a') + "\r\nhello\r\n0\r\n\r\n");
  EXPECT_TRUE(fits.ok);
  EXPECT_EQ(fits.body, "hello");
  // The limit applies to each piece, not to everything that arrived together.
  Verdict allFit = verdictOf(kChunkedHead + "5\r\nhello\r\n0\r\nX-T: " + std::string(990, 't') + "\r\n\r\n");
  EXPECT_TRUE(allFit.ok);
  EXPECT_EQ(allFit.body, "hello");
}

TEST(ResponseVerdictTest, StatusesOutsideTheRangeAndUnaskedSwitchesAreMalformed) {
  for (const char* status : {"000", "099", "600", "999"}) {
    SCOPED_TRACE(status);
    Verdict verdict = verdictOf(std::string("HTTP/1.1 ") + status + " Odd\r\nContent-Length: 0\r\n\r\n");
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.code, kHTTPStreamParseFailure);
  }
  for (const char* status : {"100", "599"}) {
    SCOPED_TRACE(status);
    std::string wire = std::string("HTTP/1.1 ") + status + " Edge\r\nContent-Length: 0\r\n\r\n";
    if (std::string(status) == "100") wire += "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    EXPECT_TRUE(verdictOf(wire).ok);
  }
  const std::string upgrade = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n";
  Verdict unasked = verdictOf(upgrade);
  EXPECT_FALSE(unasked.ok);
  EXPECT_EQ(unasked.code, kHTTPStreamParseFailure);
  Options asked;
  asked.acceptsSwitch = true;
  Verdict accepted = verdictOf(upgrade, asked);
  EXPECT_TRUE(accepted.ok);
  EXPECT_EQ(accepted.status, 101);
}

TEST(ResponseVerdictTest, InterimAnswersShareOneBudget) {
  const std::string final = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  std::string few;
  for (int i = 0; i < ResponseParser::kMaxInterimResponses; ++i) few += "HTTP/1.1 102 Processing\r\n\r\n";
  Verdict allowed = verdictOf(few + final, Options{4096});
  EXPECT_TRUE(allowed.ok);
  EXPECT_EQ(allowed.body, "ok");

  Verdict tooMany = verdictOf(few + "HTTP/1.1 100 Continue\r\n\r\n" + final, Options{4096});
  EXPECT_FALSE(tooMany.ok);
  EXPECT_EQ(tooMany.code, kHTTPStreamHeaderTooLarge);

  // Three interim heads of 400 bytes and a final head that alone would fit in 1024 bytes.
  std::string large = "HTTP/1.1 103 Early Hints\r\nLink: " + std::string(360, 'l') + "\r\n\r\n";
  Verdict overBudget = verdictOf(large + large + large + final);
  EXPECT_FALSE(overBudget.ok);
  EXPECT_EQ(overBudget.code, kHTTPStreamHeaderTooLarge);
  EXPECT_TRUE(verdictOf(large + final).ok);
}

TEST(ResponseVerdictTest, CloseDelimitedBodiesAreKnownBeforeTheEnd) {
  ResponseParser parser;
  std::string body;
  ASSERT_TRUE(parser.feed("HTTP/1.1 200 OK\r\n\r\nsome", body));
  EXPECT_TRUE(parser.isAwaitingClose());
  ASSERT_TRUE(parser.finish(body));
  EXPECT_FALSE(parser.isAwaitingClose());
  EXPECT_EQ(body, "some");

  ResponseParser framed;
  ASSERT_TRUE(framed.feed("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nsome", body));
  EXPECT_FALSE(framed.isAwaitingClose());
  ResponseParser chunked;
  ASSERT_TRUE(chunked.feed(kChunkedHead + "4\r\nsome\r\n", body));
  EXPECT_FALSE(chunked.isAwaitingClose());
}

}  // namespace
}  // namespace zv::net
