#include "platform/net/ResponseParser.h"

#include <limits>

#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>

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
  std::optional<std::uint64_t> length;

 private:
  void on_request_impl(http::verb, string_view, string_view, int, error_code&) override {}
  void on_response_impl(int code, string_view reason, int version, error_code&) override {
    std::string versionText = version == 10 ? kHTTPVersion1_0 : kHTTPVersion1_1;
    std::string line = versionText + " " + std::to_string(code);
    if (!reason.empty()) line += " " + std::string(reason);
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
    return body.size();
  }
  void on_chunk_header_impl(std::uint64_t, string_view, error_code&) override { chunked = true; }
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

void ResponseParser::resetImpl() {
  impl_ = std::make_unique<Impl>();
  impl_->header_limit(static_cast<std::uint32_t>(headerLimit_));
  // No limit; boost::none trips a comparison bug in some Beast releases.
  impl_->body_limit(std::numeric_limits<std::uint64_t>::max());
  impl_->eager(true);
  impl_->skip(isResponseToHEAD_);
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

bool ResponseParser::feed(std::string_view bytes, std::string& body) {
  if (error_) return false;
  if (bytes.empty()) return true;
  receivedAny_ = true;
  if (done_) {
    leftover_.append(bytes);
    return true;
  }
  // Beast keeps no partial input of a head or chunk line: the unconsumed tail is offered again
  // together with the next bytes.
  pending_.append(bytes);
  std::size_t offset = 0;
  impl_->sink = &body;
  while (offset < pending_.size() && !done_) {
    error_code ec;
    std::size_t used =
        impl_->put(boost::asio::const_buffer(pending_.data() + offset, pending_.size() - offset), ec);
    offset += used;
    if (impl_->message) response_ = impl_->message;
    if (ec == http::error::need_more) break;
    if (ec) {
      impl_->sink = nullptr;
      pending_.clear();
      if (ec == http::error::header_limit) return fail(kHTTPStreamHeaderTooLarge, "The response head is too large");
      return fail(kHTTPStreamParseFailure, "The server's response could not be parsed: " + ec.message());
    }
    if (impl_->is_done()) {
      int status = impl_->message ? impl_->message->statusCode() : 0;
      if (status >= 100 && status < 200 && status != 101) {
        // An interim answer: the real one follows on the same connection.
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
  pending_.erase(0, offset);
  impl_->sink = nullptr;
  return true;
}

bool ResponseParser::finish(std::string& body) {
  if (error_) return false;
  if (done_) return true;
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
