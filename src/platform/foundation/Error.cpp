#include "platform/foundation/Error.h"

#include <cstring>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/String.h"

namespace zv {

Error::Error(std::string domain, std::int64_t code, Ref<Dictionary> userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(userInfo ? std::move(userInfo) : Dictionary::make()) {}

Ref<Error> Error::make(std::string domain, std::int64_t code, Ref<Dictionary> userInfo) {
  return std::make_shared<Error>(std::move(domain), code, std::move(userInfo));
}

Ref<Error> Error::make(std::string domain, std::int64_t code, std::string localizedDescription) {
  return make(std::move(domain), code, Dictionary::make({{kLocalizedDescriptionKey, String::make(localizedDescription)}}));
}

Ref<Error> Error::posix(int errnoValue) {
  char buffer[256];
  const char* text = strerror_r(errnoValue, buffer, sizeof buffer);
  return make(kPOSIXErrorDomain, errnoValue, std::string(text));
}

std::string Error::localizedDescription() const {
  if (auto text = userInfo_->stringForKey(kLocalizedDescriptionKey)) return *text;
  return format("The operation couldn't be completed. (%s error %lld.)", domain_.c_str(), static_cast<long long>(code_));
}

Ref<Error> Error::underlyingError() const { return userInfo_->objectForKeyAs<Error>(kUnderlyingErrorKey); }

std::string Error::description() const {
  return format("Error Domain=%s Code=%lld \"%s\"", domain_.c_str(), static_cast<long long>(code_),
                localizedDescription().c_str());
}

bool Error::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* e = dynamic_cast<const Error*>(&other);
  return e != nullptr && e->domain_ == domain_ && e->code_ == code_ && e->userInfo_->isEqual(*userInfo_);
}

std::size_t Error::hash() const { return std::hash<std::string>{}(domain_) ^ static_cast<std::size_t>(code_); }

}  // namespace zv
