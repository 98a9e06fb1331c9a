#include "platform/net/NetErrors.h"

#include "platform/foundation/Values.h"

namespace zv::net {

Ref<Error> makePOSIXError(int errnoValue) { return Error::posix(errnoValue); }

Ref<Error> makeURLError(std::int64_t code, std::string description) {
  return Error::make(kURLErrorDomain, code, std::move(description));
}

Ref<Error> makeTLSError(std::int64_t code, std::string description) {
  return Error::make(kOSStatusErrorDomain, code, std::move(description));
}

Ref<Error> makeHTTPStreamError(std::int64_t code, std::string description) {
  return Error::make(kHTTPStreamErrorDomain, code, std::move(description));
}

bool isConnectionLostError(const Error& error) {
  if (error.domain() == kPOSIXErrorDomain) {
    return error.code() == ENOTCONN || error.code() == EPIPE || error.code() == ECONNRESET;
  }
  return error.domain() == kURLErrorDomain && error.code() == kURLErrorNetworkConnectionLost;
}

bool isTLSError(const Error& error) {
  return error.domain() == kOSStatusErrorDomain && error.code() >= -9849 && error.code() <= -9800;
}

}  // namespace zv::net
