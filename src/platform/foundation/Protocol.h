#pragma once
// The base of every delegate and data-source interface (a "protocol"). Interfaces are not Objects:
// a class adopts one by deriving from its Object base and from the interface, so it keeps a single
// Object (and a single shared_from_this). Holders keep `std::weak_ptr<Interface>` (not retained)
// or `std::shared_ptr<Interface>` (retained), converted from the object's own pointer.

#include <string_view>

#include "platform/foundation/Object.h"

namespace zv {

class Protocol {
 public:
  virtual ~Protocol() = default;

  // Whether the adopting object implements an optional call, asked by the call's C++ method name.
  // The default answers what the object's class registered with ClassRegistry; an adopting class
  // usually overrides this (one override serves Object's and the interfaces' alike).
  virtual bool respondsToSelector(std::string_view selector) const {
    auto* object = dynamic_cast<const Object*>(this);
    return object != nullptr && object->Object::respondsToSelector(selector);
  }
};

}  // namespace zv
