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

ResponseParser::ResponseParser(bool isResponseToHEAD, std::size_t headerLimit)
    : isResponseToHEAD_(isResponseToHEAD), headerLimit_(headerLimit) {
  resetImpl();
}

void ResponseParser::resetImpl() { impl_ = makeImpl(); }

std::unique_ptr<ResponseParser::Impl> ResponseParser::makeImpl() const {
  auto impl = std::make_unique<Impl>();
  // Interim heads and the final one share one budget.
  impl->header_limit(static_cast<std::uint32_t>(headBudget()));
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

boost::system::error_code ResponseParser::wholeHeadVerdict(std::string_view unconsumed,
                                                           std::unique_ptr<Impl>& whole) const {
  whole = makeImpl();
  std::string head = currentHead_;
  head.append(unconsumed);
  error_code ec;
  whole->put(boost::asio::const_buffer(head.data(), std::min(head.size(), headBudget())), ec);
  return ec;
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
  // together with the next bytes. It is offered in windows of at most the head limit, so a line
  // that does not fit fails the same way however the bytes arrived.
  pending_.append(bytes);
  std::size_t offset = 0;
  impl_->sink = &body;
  while (offset < pending_.size() && !done_) {
    error_code ec;
    // A head must end within its budget counted from its first byte, a chunk line or trailer
    // within the limit counted from its own.
    std::size_t limit = impl_->headerDone ? headerLimit_ : headBudget() - std::min(headBudget(), currentHead_.size());
    std::size_t window = std::min(pending_.size() - offset, limit);
    impl_->body_limit(std::numeric_limits<std::uint64_t>::max() - impl_->charged);
    bool headWasDone = impl_->headerDone;
    std::size_t used = impl_->put(boost::asio::const_buffer(pending_.data() + offset, window), ec);
    if (!headWasDone) currentHead_.append(pending_, offset, used);
    offset += used;
    // A head is shown once complete: how much of a partial one the parser has taken depends on
    // how the bytes arrived.
    if (impl_->message && impl_->headerDone) response_ = impl_->message;
    if (!ec && used == 0 && !impl_->is_done()) ec = http::error::need_more;
    bool lineTooLong = false;
    if (ec == http::error::need_more) {
      if (used > 0) continue;  // offer the rest again from where the parser stopped
      if (window < limit) break;
      // A whole window and still no end of the line: a head, chunk line or trailer too long.
      ec = http::error::header_limit;
      lineTooLong = impl_->headerDone;
    }
    if (ec) {
      impl_->sink = nullptr;
      if (!impl_->headerDone && ec == http::error::header_limit) {
        // Offered piecemeal, the parser looks for the head's end before reading it; in one piece
        // it would have stopped at the first malformed line.
        std::unique_ptr<Impl> whole;
        error_code verdict = wholeHeadVerdict(std::string_view(pending_).substr(offset), whole);
        if (verdict && verdict != http::error::need_more) {
          pending_.clear();
          return failFor(verdict, *whole);
        }
      }
      pending_.clear();
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
        interimBytes_ += currentHead_.size();
        currentHead_.clear();
        response_ = nullptr;
        if (++interimCount_ > kMaxInterimResponses || interimBytes_ >= headerLimit_) {
          impl_->sink = nullptr;
          pending_.clear();
          return fail(kHTTPStreamHeaderTooLarge, "The server sent too many interim responses");
        }
        resetImpl();
        impl_->sink = &body;
        response_ = nullptr;
        continue;
      }
      done_ = true;
      leftover_.assign(pending_, offset, std::string::npos);
      offset = pending_.size();
    }
  }
  if (impl_->headerDone) currentHead_.clear();
  pending_.erase(0, offset);
  impl_->sink = nullptr;
  return true;
}

bool ResponseParser::finish(std::string& body) {
  if (error_) return false;
  if (done_) return true;
  if (!impl_->headerDone && (!currentHead_.empty() || !pending_.empty())) {
    // A head cut short: what its bytes say when read in one piece, so the verdict does not depend
    // on how they arrived (a parser offered them piecemeal waits for the head's end first).
    std::unique_ptr<Impl> whole;
    error_code verdict = wholeHeadVerdict(pending_, whole);
    if (verdict && verdict != http::error::need_more) return failFor(verdict, *whole);
  }
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
