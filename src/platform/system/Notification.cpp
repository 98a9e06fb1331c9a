#include "platform/system/Notification.h"

namespace zv {

Ref<Notification> Notification::make(std::string name, ObjectPtr object, Ref<Dictionary> userInfo) {
  return std::make_shared<Notification>(std::move(name), std::move(object), std::move(userInfo));
}

std::string Notification::description() const {
  std::string text = "<Notification name = " + name_ + "; object = " + describe(object_);
  if (userInfo_) text += "; userInfo = " + userInfo_->description();
  return text + ">";
}

}  // namespace zv
