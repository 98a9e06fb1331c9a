#pragma once
// The body stream a request hands to its read stream: it stands in front of an ordinary input
// stream over a file or a buffer and meters each read against the process-wide bandwidth budget.
// While bandwidth is throttled a read is cut to what the budget allows (at least one byte) and the
// request gets the chance to pause. Bytes are counted as they are actually read.
//
// Threads: read on the request's thread (the read stream pulls the body there); one class-wide
// lock keeps the budget test, the throttling step and the accounting of concurrent uploads in one
// order, and the inner read runs outside it.
//
// Ownership: the inner stream is retained; the request is not (the request owns its read stream,
// which owns this), but each read holds the request for its whole duration.

#include <string>

#include "platform/net/InputStream.h"

namespace zv {

class HTTPRequest;

class HTTPInputStream : public net::InputStream {
 public:
  static Ref<HTTPInputStream> inputStreamWithFileAtPath(const std::string& path, const Ref<HTTPRequest>& request);
  static Ref<HTTPInputStream> inputStreamWithData(const Ref<Data>& data, const Ref<HTTPRequest>& request);
  HTTPInputStream(Ref<net::InputStream> stream, const Ref<HTTPRequest>& request);

  bool open() override;
  void close() override;
  long read(std::uint8_t* buffer, std::size_t maxLength) override;
  Ref<Error> streamError() const override;

  Ref<net::InputStream> stream() const { return stream_; }
  void setStream(Ref<net::InputStream> stream) { stream_ = std::move(stream); }
  Ref<HTTPRequest> request() const { return request_.lock(); }
  void setRequest(const Ref<HTTPRequest>& request) { request_ = request; }

 private:
  Ref<net::InputStream> stream_;
  WeakRef<HTTPRequest> request_;
};

}  // namespace zv
