#pragma once
// A non-owning link to an object, for storing in a collection where the holder must not keep
// the object alive (a sharer that names itself in the settings of its own form, for instance).
// Equality and hash are identity of the link. Any thread; the referent may go away at any time,
// so callers lock it for each use.

#include "platform/foundation/Object.h"

namespace zv {

class WeakReference : public Object {
 public:
  static Ref<WeakReference> make(const ObjectPtr& object) {
    auto reference = std::make_shared<WeakReference>();
    reference->object_ = object;
    return reference;
  }
  ObjectPtr object() const { return object_.lock(); }

  // A collection entry as the object it stands for: a weak link is followed, anything else is
  // the entry itself.
  static ObjectPtr resolve(const ObjectPtr& entry) {
    if (auto reference = std::dynamic_pointer_cast<WeakReference>(entry)) return reference->object();
    return entry;
  }

 private:
  std::weak_ptr<Object> object_;
};

}  // namespace zv
