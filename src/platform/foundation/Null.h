#pragma once
// The null object: stands for "no value" inside collections, which cannot hold nullptr.

#include "platform/foundation/Object.h"

namespace zv {

class Null : public Object {
 public:
  static const Ref<Null>& null();
  std::string description() const override { return "<null>"; }
  bool isEqual(const Object& other) const override { return dynamic_cast<const Null*>(&other) != nullptr; }
  std::size_t hash() const override { return 0x6e756c6c; }
};

// Whether the reference is nullptr or the null object.
inline bool isNull(const ObjectPtr& object) { return !object || dynamic_cast<const Null*>(object.get()) != nullptr; }

}  // namespace zv
