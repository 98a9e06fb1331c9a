#include "sharing/services/notes/NoteServiceHTTPTransport.h"

#include <algorithm>
#include <cstring>

#include <thrift/transport/TTransportException.h>

#include "platform/foundation/Data.h"
#include "platform/foundation/URL.h"
#include "platform/net/NetErrors.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace zv {

using apache::thrift::transport::TTransportException;

NoteServiceHTTPTransport::NoteServiceHTTPTransport(std::string url, double timeoutSeconds,
                                                   std::shared_ptr<apache::thrift::TConfiguration> configuration)
    : TVirtualTransport(std::move(configuration)), url_(std::move(url)), timeoutSeconds_(timeoutSeconds) {}

uint32_t NoteServiceHTTPTransport::read(uint8_t* buffer, uint32_t length) {
  auto count = static_cast<uint32_t>(std::min<std::size_t>(length, replyBytesLeft()));
  if (count > 0) std::memcpy(buffer, reply_->data() + replyOffset_, count);
  replyOffset_ += count;
  countConsumedMessageBytes(count);
  return count;
}

void NoteServiceHTTPTransport::write(const uint8_t* buffer, uint32_t length) {
  request_.insert(request_.end(), buffer, buffer + length);
}

void NoteServiceHTTPTransport::flush() {
  auto url = URL::make(url_);
  if (!url || !url->host()) {
    request_.clear();
    throw TTransportException(TTransportException::NOT_OPEN, "no service address");
  }
  auto request = net::MutableURLRequest::requestWithURL(url);
  request->setHTTPMethod("POST");
  request->setTimeoutInterval(timeoutSeconds_);
  request->setHTTPShouldHandleCookies(false);
  request->setValueForHTTPHeaderField("application/x-thrift", "Content-Type");
  request->setValueForHTTPHeaderField("application/x-thrift", "Accept");
  request->setHTTPBody(Data::make(std::move(request_)));
  request_.clear();
  reply_ = nullptr;
  replyOffset_ = 0;
  resetConsumedMessageSize();

  Ref<net::URLResponse> response;
  Ref<Error> error;
  // The load itself stops at the maximum message size, so no larger reply is ever held.
  const auto maximum = static_cast<std::size_t>(std::max(getMaxMessageSize(), 0));
  auto body = net::URLConnection::sendSynchronousRequest(request, &response, &error, nullptr, maximum);
  if (!body) {
    if (error && error->domain() == kURLErrorDomain && error->code() == net::kURLErrorDataLengthExceedsMaximum) {
      throw TTransportException(TTransportException::END_OF_FILE,
                                "MaxMessageSize reached: the reply is larger than " + std::to_string(maximum) + " bytes");
    }
    throw TTransportException(TTransportException::UNKNOWN,
                              "request failed: " + (error ? error->description() : std::string("no reply")));
  }
  auto http = std::dynamic_pointer_cast<net::HTTPURLResponse>(response);
  if (!http || http->statusCode() != 200) {
    throw TTransportException(TTransportException::UNKNOWN,
                              "HTTP status " + std::to_string(http ? http->statusCode() : 0));
  }
  // What is left to read is the reply itself.
  updateKnownMessageSize(static_cast<long>(body->length()));
  reply_ = std::move(body);
}

}  // namespace zv
