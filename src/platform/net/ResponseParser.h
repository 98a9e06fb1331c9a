#pragma once
// Response framing for HTTP/1.x: status line, header fields and a body delimited by
// Content-Length, chunked transfer coding or the end of the connection.
//
// Built on Boost.Beast's http::basic_parser: a well-kept parser that is driven by plain buffers and
// does no I/O itself, so the socket stays with the read stream and the parser can be fed any byte
// sequence in tests. This class adds the pieces Beast leaves to its users: it skips interim 1xx
// answers, keeps the header fields in order, and hands body bytes out through a buffer.
//
// Not thread-safe; one response per parser.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>

#include "platform/foundation/Error.h"
#include "platform/net/HTTPMessage.h"

namespace zv::net {

class ResponseParser {
 public:
  // `isResponseToHEAD`: the answer has no body whatever its fields say. `headerLimit` bounds the
  // response head, interim heads included, and every chunk line and trailer section.
  explicit ResponseParser(bool isResponseToHEAD = false, std::size_t headerLimit = 64 * 1024);
  ~ResponseParser();
  ResponseParser(const ResponseParser&) = delete;
  ResponseParser& operator=(const ResponseParser&) = delete;

  // Interim answers are skipped, at most this many per response.
  static constexpr int kMaxInterimResponses = 32;

  // Whether a "101 Switching Protocols" answer is expected (the request asked for an upgrade);
  // otherwise it is a malformed response, as is a status outside 100...599. Set before feeding.
  void setAcceptsProtocolSwitch(bool accepts);

  // Feeds bytes from the wire; decoded body bytes are appended to `body`. Returns NO on malformed
  // input (error() tells why): a head as soon as the byte arrives after which it can no longer be
  // valid, a field that only as a whole is malformed once its line is complete. Bytes after the
  // end of the message are kept as `leftover()`.
  bool feed(std::string_view bytes, std::string& body);
  // The connection ended: completes a close-delimited body; NO when the message was cut short
  // (error() is then kURLErrorNetworkConnectionLost, or a parse error). The verdict on a given byte
  // sequence is the same however it was split into feed() calls.
  bool finish(std::string& body);
  // YES while the body is delimited by the end of the connection and that end has not come yet.
  bool isAwaitingClose() const;

  // The head once all of it has been read (nullptr before, and after an interim head).
  const Ref<HTTPMessage>& response() const { return response_; }
  bool hasStatusLine() const { return response_ != nullptr; }
  bool isHeaderComplete() const;
  bool isDone() const { return done_; }
  bool receivedAnyBytes() const { return receivedAny_; }
  // Whether the connection may carry another exchange after this one (version, "Connection"
  // field, and a body not delimited by the connection's end).
  bool keepAlive() const;
  // The length the server announced; nullopt for chunked and close-delimited bodies.
  std::optional<std::uint64_t> contentLength() const;
  const Ref<Error>& error() const { return error_; }
  const std::string& leftover() const { return leftover_; }

 private:
  class Impl;
  class HeadScanner;
  bool fail(std::int64_t code, std::string message);
  bool failFor(const boost::system::error_code& ec, const Impl& impl);
  bool failFor(const HeadScanner& scanner);
  // Scans pending head bytes until a line the parser can take whole is complete; `ready` is then
  // where it ends in pending_ (`offset` when none is). NO when the head is malformed or too large.
  bool scanHead(std::size_t offset, std::size_t& ready);
  void resetImpl();
  std::unique_ptr<Impl> makeImpl() const;
  // What interim heads left of the head limit for the next head.
  std::size_t headBudget() const;
  std::unique_ptr<Impl> impl_;
  std::unique_ptr<HeadScanner> scanner_;
  bool isResponseToHEAD_;
  std::size_t headerLimit_;
  Ref<HTTPMessage> response_;
  Ref<Error> error_;
  std::string leftover_;
  std::string pending_;
  std::size_t scanned_ = 0;    // bytes of pending_ the head scanner has seen
  std::size_t headBytes_ = 0;  // bytes of the head being read
  std::size_t interimBytes_ = 0;
  int interimCount_ = 0;
  bool acceptsProtocolSwitch_ = false;
  bool done_ = false;
  bool receivedAny_ = false;
  bool closeDelimited_ = false;
};

}  // namespace zv::net
