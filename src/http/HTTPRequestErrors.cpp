#include "http/HTTPRequestErrors.h"

#include "platform/foundation/Values.h"

namespace zv {

Ref<Error> makeRequestError(int code, const std::string& description, const Ref<Error>& underlying) {
  auto info = MutableDictionary::make();
  info->setObject(box(description), kLocalizedDescriptionKey);
  if (underlying) info->setObject(underlying, kUnderlyingErrorKey);
  return Error::make(kHTTPRequestErrorDomain, code, info);
}

}  // namespace zv
