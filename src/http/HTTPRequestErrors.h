#pragma once
// The error domain and codes every HTTP request failure carries.

#include <string>

#include "platform/foundation/Error.h"

namespace zv {

inline constexpr const char* kHTTPRequestErrorDomain = "HTTPRequestErrorDomain";

enum HTTPRequestErrorType : int {
  RequestErrorConnectionFailure = 1,
  RequestErrorTimedOut = 2,
  RequestErrorAuthentication = 3,
  RequestErrorCancelled = 4,
  RequestErrorCannotCreateRequest = 5,
  RequestErrorBuildingRequest = 6,
  RequestErrorApplyingCredentials = 7,
  RequestErrorFileManagement = 8,
  RequestErrorTooManyRedirects = 9,
  RequestErrorUnhandledException = 10,
  RequestErrorCompression = 11,
};

// An error of the request domain with a localized description and, when given, an underlying error.
Ref<Error> makeRequestError(int code, const std::string& description, const Ref<Error>& underlying = nullptr);

}  // namespace zv
