#pragma once
// One posted notification: a name, the object it concerns (the poster, usually) and optional user
// information. Immutable once made, so observers on any thread may keep and read it.

#include <string>
#include <string_view>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"

namespace zv {

class Notification : public Object {
 public:
  static Ref<Notification> make(std::string name, ObjectPtr object = nullptr, Ref<Dictionary> userInfo = nullptr);

  const std::string& name() const { return name_; }
  // nullptr when the poster gave none.
  const ObjectPtr& object() const { return object_; }
  // nullptr when the poster gave none.
  const Ref<Dictionary>& userInfo() const { return userInfo_; }

  std::string description() const override;

  Notification(std::string name, ObjectPtr object, Ref<Dictionary> userInfo)
      : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}

 private:
  std::string name_;
  ObjectPtr object_;
  Ref<Dictionary> userInfo_;
};

}  // namespace zv
