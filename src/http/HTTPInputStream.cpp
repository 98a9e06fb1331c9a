#include "http/HTTPInputStream.h"

#include <mutex>

#include "http/HTTPRequest.h"

namespace zv {

namespace {
std::mutex& meteringLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}
}  // namespace

HTTPInputStream::HTTPInputStream(Ref<net::InputStream> stream, const Ref<HTTPRequest>& request)
    : stream_(std::move(stream)), request_(request) {}

Ref<HTTPInputStream> HTTPInputStream::inputStreamWithFileAtPath(const std::string& path,
                                                                const Ref<HTTPRequest>& request) {
  return std::make_shared<HTTPInputStream>(net::InputStream::withFileAtPath(path), request);
}

Ref<HTTPInputStream> HTTPInputStream::inputStreamWithData(const Ref<Data>& data, const Ref<HTTPRequest>& request) {
  return std::make_shared<HTTPInputStream>(net::InputStream::withData(data), request);
}

bool HTTPInputStream::open() { return stream_ && stream_->open(); }
void HTTPInputStream::close() {
  if (stream_) stream_->close();
}
Ref<Error> HTTPInputStream::streamError() const { return stream_ ? stream_->streamError() : nullptr; }

long HTTPInputStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  if (!stream_) return kReadError;
  // Held for the whole read: a request dropped by its owner meanwhile stays valid here.
  auto request = request_.lock();
  std::size_t length = maxLength;
  {
    std::lock_guard<std::mutex> guard(meteringLock());
    if (HTTPRequest::isBandwidthThrottled()) {
      unsigned long allowed = HTTPRequest::maxUploadReadLength();
      if (allowed <= length) length = allowed == 0 ? 1 : allowed;
      if (request) request->performThrottling();
    }
  }
  long n = stream_->read(buffer, length);
  if (n > 0) HTTPRequest::incrementBandwidthUsedInLastSecond(static_cast<unsigned long>(n));
  return n;
}

}  // namespace zv
