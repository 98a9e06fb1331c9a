#include "sharing/services/notes/NoteServiceHTTPTransport.h"

#include <algorithm>
#include <cstring>

#include <thrift/transport/TTransportException.h>

#include "platform/foundation/Data.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace zv {

using apache::thrift::transport::TTransportException;

NoteServiceHTTPTransport::NoteServiceHTTPTransport(std::string url, double timeoutSeconds)
    : url_(std::move(url)), timeoutSeconds_(timeoutSeconds) {}

uint32_t NoteServiceHTTPTransport::read(uint8_t* buffer, uint32_t length) {
  auto count = static_cast<uint32_t>(std::min<std::size_t>(length, reply_.size() - replyOffset_));
  if (count > 0) std::memcpy(buffer, reply_.data() + replyOffset_, count);
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
  reply_.clear();
  replyOffset_ = 0;
  resetConsumedMessageSize();

  Ref<net::URLResponse> response;
  Ref<Error> error;
  auto body = net::URLConnection::sendSynchronousRequest(request, &response, &error);
  if (!body) {
    throw TTransportException(TTransportException::UNKNOWN,
                              "request failed: " + (error ? error->description() : std::string("no reply")));
  }
  auto http = std::dynamic_pointer_cast<net::HTTPURLResponse>(response);
  if (!http || http->statusCode() != 200) {
    throw TTransportException(TTransportException::UNKNOWN,
                              "HTTP status " + std::to_string(http ? http->statusCode() : 0));
  }
  // Refuses a reply above the maximum message size; what is left to read is the reply itself.
  updateKnownMessageSize(static_cast<long>(body->length()));
  reply_ = body->bytes();
}

}  // namespace zv
