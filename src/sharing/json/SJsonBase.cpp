#include "sharing/json/SJsonBase.h"

#include <algorithm>

namespace zv {

Ref<Array> SJsonBase::errorTrace() const { return errorTrace_; }

void SJsonBase::addErrorWithCode(int code, std::string description) {
  auto userInfo = MutableDictionary::make({{kLocalizedDescriptionKey, String::make(std::move(description))}});
  if (errorTrace_ && !errorTrace_->empty()) userInfo->setObject(errorTrace_->lastObject(), kUnderlyingErrorKey);
  if (!errorTrace_) errorTrace_ = MutableArray::make();
  errorTrace_->addObject(Error::make(SJsonErrorDomain, code, userInfo));
}

bool SJsonBase::enterLevel() {
  ++depth_;
  const unsigned limit = maxDepth() == 0 ? SJsonHardDepthLimit : std::min(maxDepth(), SJsonHardDepthLimit);
  if (depth_ > limit) {
    --depth_;
    addErrorWithCode(SJsonErrorDepth, "Nested too deep");
    return false;
  }
  return true;
}

}  // namespace zv
