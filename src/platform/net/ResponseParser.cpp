#include "platform/net/ResponseParser.h"

#include <algorithm>
#include <limits>

// GCC's sanitizer builds see a boost::optional in the parser as possibly uninitialized (a known
// false positive of that warning with boost::optional).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "platform/net/NetErrors.h"

namespace zv::net {

namespace http = boost::beast::http;
using boost::beast::error_code;
using boost::beast::string_view;

class ResponseParser::Impl : public http::basic_parser<false> {
 public:
  Impl() = default;
  std::string* sink = nullptr;
  Ref<HTTPMessage> message;
  bool headerDone = false;
  bool chunked = false;
  bool acceptsProtocolSwitch = false;
  std::optional<int> refusedStatus;
  std::optional<std::uint64_t> length;
  // What the body limit was charged for what was accepted: chunk sizes and close-delimited body
  // bytes. The limit is reset from it before every call, since a chunk line offered again is
  // charged again.
  std::uint64_t charged = 0;

 private:
  void on_request_impl(http::verb, string_view, string_view, int, error_code&) override {}
  void on_response_impl(int code, string_view reason, int version, error_code& ec) override {
    if (code < 100 || code > 599 || (code == 101 && !acceptsProtocolSwitch)) {
      refusedStatus = code;
      ec = http::error::bad_status;
      return;
    }
    std::string versionText = version == 10 ? kHTTPVersion1_0 : kHTTPVersion1_1;
    // Appended piece by piece: GCC 12 at -O3 warns falsely about overlapping copies in `a + " "`.
    std::string line = versionText;
    line += ' ';
    line += std::to_string(code);
    if (!reason.empty()) {
      line += ' ';
      line.append(reason.data(), reason.size());
    }
    message = HTTPMessage::makeResponse(code, line, versionText);
  }
  void on_field_impl(http::field, string_view name, string_view value, error_code&) override {
    if (message) message->mutableHeaders().add(std::string(name), std::string(value));
  }
  void on_header_impl(error_code&) override {
    headerDone = true;
    if (message) message->setHeaderComplete(true);
  }
  void on_body_init_impl(boost::optional<std::uint64_t> const& contentLength, error_code&) override {
    if (contentLength) length = *contentLength;
  }
  std::size_t on_body_impl(string_view body, error_code&) override {
    if (sink) sink->append(body.data(), body.size());
    if (!length) charged += body.size();
    return body.size();
  }
  void on_chunk_header_impl(std::uint64_t size, string_view, error_code&) override {
    chunked = true;
    charged += size;
  }
  std::size_t on_chunk_body_impl(std::uint64_t, string_view body, error_code&) override {
    if (sink) sink->append(body.data(), body.size());
    return body.size();
  }
  void on_finish_impl(error_code&) override {}
};

// Follows a response head byte by byte with the grammar the parser applies to it, so that a head
// that can no longer become valid is refused at the byte that spoils it however the bytes arrive.
// It also tells where a line ends: the parser is offered whole lines only, since one offered part
// of a line waits for the end of the whole head before it reads any of it. What only a whole field
// can tell (a malformed Content-Length, conflicting fields) is judged by the parser when the
// field's line is complete.
class ResponseParser::HeadScanner {
 public:
  enum class Step {
    kMore,        // the byte fits; the line goes on
    kLineEnd,     // the byte ends the status line
    kHeadEnd,     // the byte ends the head
    kMalformed,   // the byte makes the head invalid (`error` says how)
  };

  explicit HeadScanner(bool acceptsProtocolSwitch) : acceptsProtocolSwitch_(acceptsProtocolSwitch) {}

  // Whether a header field (with any continuation lines) ended before `byte`: only the first byte
  // of the next line tells that a field is not continued. The byte is then read as that line's.
  bool fieldEndsBefore(char byte) {
    if (state_ != State::kAfterValue || byte == ' ' || byte == '\t') return false;
    state_ = State::kLineStart;
    return true;
  }

  Step step(char byte) {
    auto c = static_cast<unsigned char>(byte);
    switch (state_) {
      case State::kStatusLine:
        return statusLineByte(c);
      case State::kReason:
        if (c == '\r') return moveTo(State::kReasonLF);
        return isText(c) ? Step::kMore : malformed(http::error::bad_reason);
      case State::kReasonLF:
        return lineFeed(c, State::kLineStart, Step::kLineEnd);
      case State::kLineStart:
        if (c == '\r') return moveTo(State::kHeadEndLF);
        return isTokenChar(c) ? moveTo(State::kName) : malformed(http::error::bad_field);
      case State::kHeadEndLF:
        return lineFeed(c, State::kDone, Step::kHeadEnd);
      case State::kName:
        if (c == ':') return moveTo(State::kValue);
        return isTokenChar(c) ? Step::kMore : malformed(http::error::bad_field);
      case State::kAfterValue:  // a continuation line: more of the value
      case State::kValue:
        if (c == '\r') return moveTo(State::kValueLF);
        return isText(c) ? moveTo(State::kValue) : malformed(http::error::bad_value);
      case State::kValueLF:
        return lineFeed(c, State::kAfterValue, Step::kMore);
      case State::kDone:
        break;
    }
    return Step::kMore;
  }

  error_code error;
  // The status the byte refused, when a status outside the accepted ones was.
  std::optional<int> refusedStatus;

 private:
  enum class State { kStatusLine, kReason, kReasonLF, kLineStart, kHeadEndLF, kName, kValue, kValueLF, kAfterValue, kDone };

  // "HTTP/1.0 " or "HTTP/1.1 ", three digits and a space.
  Step statusLineByte(unsigned char c) {
    static constexpr std::string_view kVersion = "HTTP/1.";
    std::size_t at = statusLineBytes_++;
    if (at < kVersion.size()) return c == kVersion[at] ? Step::kMore : malformed(http::error::bad_version);
    if (at == kVersion.size()) return c == '0' || c == '1' ? Step::kMore : malformed(http::error::bad_version);
    if (at == kVersion.size() + 1) return c == ' ' ? Step::kMore : malformed(http::error::bad_version);
    if (at < kVersion.size() + 5) {
      if (c < '0' || c > '9') return malformed(http::error::bad_status);
      status_ = status_ * 10 + (c - '0');
      // The first digit already rules out a status below 100 or above 599.
      if (at == kVersion.size() + 2 && (c == '0' || c > '5')) {
        refusedStatus = status_;
        return malformed(http::error::bad_status);
      }
      if (at == kVersion.size() + 4 && status_ == 101 && !acceptsProtocolSwitch_) {
        refusedStatus = status_;
        return malformed(http::error::bad_status);
      }
      return Step::kMore;
    }
    if (c != ' ') return malformed(http::error::bad_status);
    state_ = State::kReason;
    return Step::kMore;
  }

  Step moveTo(State next, Step step = Step::kMore) {
    state_ = next;
    return step;
  }
  // The byte after a carriage return.
  Step lineFeed(unsigned char c, State next, Step step) {
    return c == '\n' ? moveTo(next, step) : malformed(http::error::bad_line_ending);
  }

  Step malformed(http::error e) {
    error = e;
    return Step::kMalformed;
  }

  // Reason phrases and field values: tabs, printable and non-ASCII bytes.
  static bool isText(unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7f); }
  static bool isTokenChar(unsigned char c) {
    return c > 0x20 && c < 0x7f && std::string_view("\"(),/:;<=>?@[\\]{}").find(static_cast<char>(c)) == std::string_view::npos;
  }

  State state_ = State::kStatusLine;
  std::size_t statusLineBytes_ = 0;
  int status_ = 0;
  bool acceptsProtocolSwitch_;
};

ResponseParser::ResponseParser(bool isResponseToHEAD, std::size_t headerLimit)
    : isResponseToHEAD_(isResponseToHEAD), headerLimit_(headerLimit) {
  resetImpl();
}

void ResponseParser::resetImpl() {
  impl_ = makeImpl();
  scanner_ = std::make_unique<HeadScanner>(acceptsProtocolSwitch_);
  headBytes_ = 0;
}

std::unique_ptr<ResponseParser::Impl> ResponseParser::makeImpl() const {
  auto impl = std::make_unique<Impl>();
  // The head's size is bounded while it is scanned (interim heads and the final one share one
  // budget); the parser is offered whole lines of it.
  impl->header_limit(std::numeric_limits<std::uint32_t>::max());
  // No limit; boost::none trips a comparison bug in some Beast releases.
  impl->body_limit(std::numeric_limits<std::uint64_t>::max());
  impl->eager(true);
  impl->skip(isResponseToHEAD_);
  impl->acceptsProtocolSwitch = acceptsProtocolSwitch_;
  return impl;
}

void ResponseParser::setAcceptsProtocolSwitch(bool accepts) {
  acceptsProtocolSwitch_ = accepts;
  impl_->acceptsProtocolSwitch = accepts;
  scanner_ = std::make_unique<HeadScanner>(accepts);
}

std::size_t ResponseParser::headBudget() const { return headerLimit_ - std::min(headerLimit_, interimBytes_); }

bool ResponseParser::isAwaitingClose() const {
  return !done_ && !error_ && impl_->headerDone && impl_->need_eof();
}

bool ResponseParser::failFor(const error_code& ec, const Impl& impl) {
  if (ec == http::error::header_limit) return fail(kHTTPStreamHeaderTooLarge, "The response head is too large");
  if (impl.refusedStatus) {
    return fail(kHTTPStreamParseFailure, "The server answered with status " + std::to_string(*impl.refusedStatus) +
                                             (*impl.refusedStatus == 101 ? ", a protocol switch nobody asked for"
                                                                         : ", which is no HTTP status"));
  }
  return fail(kHTTPStreamParseFailure, "The server's response could not be parsed: " + ec.message());
}

ResponseParser::~ResponseParser() = default;

bool ResponseParser::isHeaderComplete() const { return response_ && response_->isHeaderComplete(); }

bool ResponseParser::keepAlive() const {
  if (!done_ || closeDelimited_ || !impl_->headerDone) return false;
  return impl_->keep_alive();
}

std::optional<std::uint64_t> ResponseParser::contentLength() const { return impl_->length; }

bool ResponseParser::fail(std::int64_t code, std::string message) {
  if (!error_) error_ = code == kURLErrorNetworkConnectionLost ? makeURLError(code, std::move(message))
                                                              : makeHTTPStreamError(code, std::move(message));
  return false;
}

bool ResponseParser::failFor(const HeadScanner& scanner) {
  if (scanner.refusedStatus) {
    int status = *scanner.refusedStatus;
    if (status == 101) return fail(kHTTPStreamParseFailure, "The server answered with status 101, a protocol switch nobody asked for");
    return fail(kHTTPStreamParseFailure, "The server answered with a status outside 100...599, which is no HTTP status");
  }
  return fail(kHTTPStreamParseFailure, "The server's response could not be parsed: " + scanner.error.message());
}

bool ResponseParser::scanHead(std::size_t offset, std::size_t& ready) {
  // `scanned_` and `ready` count from the start of pending_; offset is where the parser stands.
  while (scanned_ < pending_.size()) {
    char byte = pending_[scanned_];
    if (scanner_->fieldEndsBefore(byte)) {
      // The parser reads the field once it sees this byte, and then waits for the next line.
      ready = scanned_ + 1;
      return true;
    }
    if (headBytes_ >= headBudget()) return fail(kHTTPStreamHeaderTooLarge, "The response head is too large");
    HeadScanner::Step step = scanner_->step(byte);
    ++scanned_;
    ++headBytes_;
    if (step == HeadScanner::Step::kMalformed) return failFor(*scanner_);
    if (step == HeadScanner::Step::kLineEnd || step == HeadScanner::Step::kHeadEnd) {
      ready = scanned_;
      return true;
    }
  }
  ready = offset;
  return true;
}

bool ResponseParser::feed(std::string_view bytes, std::string& body) {
  if (error_) return false;
  if (bytes.empty()) return true;
  receivedAny_ = true;
  if (done_) {
    leftover_.append(bytes);
    return true;
  }
  // Beast keeps no partial input of a head or chunk line: the unconsumed tail is offered again
  // together with the next bytes. A head is offered a whole line at a time (see HeadScanner);
  // chunk lines and trailers in windows of at most the head limit, so a line that does not fit
  // fails the same way however the bytes arrived.
  pending_.append(bytes);
  std::size_t offset = 0;
  impl_->sink = &body;
  auto dropInput = [&] {
    impl_->sink = nullptr;
    pending_.clear();
    scanned_ = 0;
  };
  while (offset < pending_.size() && !done_) {
    error_code ec;
    std::size_t window;
    bool inHead = !impl_->headerDone;
    if (inHead) {
      std::size_t ready = offset;
      if (!scanHead(offset, ready)) {
        dropInput();
        return false;
      }
      window = ready - offset;
    } else {
      window = std::min(pending_.size() - offset, headerLimit_);
    }
    impl_->body_limit(std::numeric_limits<std::uint64_t>::max() - impl_->charged);
    std::size_t used = window == 0 ? 0 : impl_->put(boost::asio::const_buffer(pending_.data() + offset, window), ec);
    offset += used;
    // A head is shown once complete.
    if (impl_->message && impl_->headerDone) response_ = impl_->message;
    if (!ec && used == 0 && !impl_->is_done()) ec = http::error::need_more;
    bool lineTooLong = false;
    if (ec == http::error::need_more) {
      if (used > 0) continue;  // offer the rest again from where the parser stopped
      // Within a head: the next line is not complete yet (scanning goes on while bytes remain).
      if (inHead) {
        if (scanned_ < pending_.size()) continue;
        break;
      }
      if (window < headerLimit_) break;
      // A whole window and still no end of the line: a chunk line or trailer too long.
      ec = http::error::header_limit;
      lineTooLong = true;
    }
    if (ec) {
      dropInput();
      if (lineTooLong) {
        return fail(kHTTPStreamParseFailure, "The server's response has a chunk line or trailer that is too long");
      }
      return failFor(ec, *impl_);
    }
    if (impl_->is_done()) {
      int status = impl_->message ? impl_->message->statusCode() : 0;
      if (status >= 100 && status < 200 && status != 101) {
        // An interim answer: the real one follows on the same connection, within what is left of
        // the head budget.
        interimBytes_ += headBytes_;
        response_ = nullptr;
        if (++interimCount_ > kMaxInterimResponses || interimBytes_ >= headerLimit_) {
          dropInput();
          return fail(kHTTPStreamHeaderTooLarge, "The server sent too many interim responses");
        }
        resetImpl();
        impl_->sink = &body;
        continue;
      }
      done_ = true;
      leftover_.assign(pending_, offset, std::string::npos);
      offset = pending_.size();
    }
  }
  pending_.erase(0, offset);
  scanned_ = offset >= scanned_ ? 0 : scanned_ - offset;
  impl_->sink = nullptr;
  return true;
}

bool ResponseParser::finish(std::string& body) {
  if (error_) return false;
  if (done_) return true;
  // A head cut short was refused already if any of its bytes made it invalid: what is left is a
  // lost connection.
  impl_->sink = &body;
  error_code ec;
  if (!impl_->got_some()) {
    impl_->sink = nullptr;
    return fail(kURLErrorNetworkConnectionLost, "The network connection was lost.");
  }
  impl_->put_eof(ec);
  impl_->sink = nullptr;
  if (ec) {
    if (ec == http::error::partial_message) {
      return fail(kURLErrorNetworkConnectionLost, "The network connection was lost.");
    }
    return fail(kHTTPStreamParseFailure, "The server's response could not be parsed: " + ec.message());
  }
  if (impl_->is_done()) {
    done_ = true;
    closeDelimited_ = !impl_->length && !impl_->chunked;
  }
  return true;
}

}  // namespace zv::net
