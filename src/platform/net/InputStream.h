#pragma once
// A pull stream of request-body bytes. The read stream pulls the body of a streamed request from
// one of these as the socket accepts bytes; callers subclass it to meter or throttle uploads.
// Used by one thread at a time (the thread whose run loop drives the read stream).

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace zv::net {

class InputStream : public Object {
 public:
  // `read` results besides a byte count: the end of the stream is 0, a failure kReadError (the
  // error is then `streamError()`), and kReadWouldBlock asks the reader to come back a little later
  // (a throttled upload); the read stream then retries after a few milliseconds.
  static constexpr long kReadError = -1;
  static constexpr long kReadWouldBlock = -2;

  static Ref<InputStream> withData(Ref<Data> data);
  // nullptr when the file cannot be opened at open time is reported as a read error instead.
  static Ref<InputStream> withFileAtPath(std::string path);

  virtual bool open() { return true; }
  virtual void close() {}
  virtual long read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  virtual Ref<Error> streamError() const { return nullptr; }
};

}  // namespace zv::net
