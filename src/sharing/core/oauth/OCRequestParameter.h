#pragma once
// One request parameter, unencoded. Immutable; any thread.

#include <string>

#include "platform/foundation/Object.h"
#include "sharing/core/oauth/OAuthEncoding.h"

namespace zv {

class OCRequestParameter : public Object {
 public:
  static Ref<OCRequestParameter> requestParameterWithName(std::string name, std::string value) {
    return std::make_shared<OCRequestParameter>(std::move(name), std::move(value));
  }

  const std::string& name() const { return name_; }
  const std::string& value() const { return value_; }
  // "name=value", both percent-encoded.
  std::string URLEncodedNameValuePair() const {
    return oauth_encoding::URLEncodedString(name_) + "=" + oauth_encoding::URLEncodedString(value_);
  }

  OCRequestParameter(std::string name, std::string value) : name_(std::move(name)), value_(std::move(value)) {}

 private:
  std::string name_;
  std::string value_;
};

}  // namespace zv
