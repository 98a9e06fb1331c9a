#include "http/HTTPRequest.h"
namespace zv {
void HTTPRequest::applyAuthorizationHeader() {}
void HTTPRequest::attemptToApplyCredentialsAndResume() {
  destroyReadStream();
  failWithError(authenticationError());
}
}  // namespace zv
