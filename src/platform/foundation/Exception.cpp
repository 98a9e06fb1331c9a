#include "platform/foundation/Exception.h"

#include <utility>

namespace zv {

Exception::Exception(std::string name, std::string reason, std::shared_ptr<Dictionary> userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {
  what_ = name_ + ": " + reason_;
}

void Exception::raise(std::string name, std::string reason, std::shared_ptr<Dictionary> userInfo) {
  throw Exception(std::move(name), std::move(reason), std::move(userInfo));
}

}  // namespace zv
