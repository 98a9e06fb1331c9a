#pragma once
// The root of the object model. Every value the system passes around by reference (property-list
// values, errors, requests, screens, sharers) is an Object held through a shared pointer, so
// identity is the pointer and "retained" means a std::shared_ptr.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

class Object;
using ObjectPtr = std::shared_ptr<Object>;
template <class T>
using Ref = std::shared_ptr<T>;
template <class T>
using WeakRef = std::weak_ptr<T>;

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  // The run-time class name: the C++ class name without its namespaces ("JCArray").
  virtual std::string className() const;
  // A text for logs and for the "%@" of formatted messages.
  virtual std::string description() const;
  // Equality of value; the default is identity.
  virtual bool isEqual(const Object& other) const { return this == &other; }
  // Equal objects have equal hashes.
  virtual std::size_t hash() const;

  // An immutable copy. Immutable objects return themselves, so identity survives `copy`.
  virtual ObjectPtr copy() const;
  // A mutable copy; objects without a mutable variant raise "NSInvalidArgumentException".
  virtual ObjectPtr mutableCopy() const;

  // Dynamic dispatch by selector name: delegate interfaces answer for their optional calls,
  // classes registered with ClassRegistry answer for the methods they registered.
  virtual bool respondsToSelector(std::string_view selector) const;
  // Calls a method by selector name; an unknown selector raises "NSInvalidArgumentException".
  virtual ObjectPtr performSelector(std::string_view selector, const std::vector<ObjectPtr>& arguments = {});

  // Whether this object is an instance of T (or of a class derived from it).
  template <class T>
  bool isKindOf() const {
    return dynamic_cast<const T*>(this) != nullptr;
  }

  // A shared pointer to this object; the object must already be owned by one.
  ObjectPtr self() const { return std::const_pointer_cast<Object>(shared_from_this()); }
  template <class T>
  Ref<T> selfAs() const {
    return std::dynamic_pointer_cast<T>(self());
  }
};

// Casts an object reference to T, nullptr when it is not a T.
template <class T, class U>
Ref<T> dyn(const Ref<U>& object) {
  return std::dynamic_pointer_cast<T>(object);
}

// Equality of two possibly-null references: both null, the same object, or isEqual.
bool isEqual(const ObjectPtr& a, const ObjectPtr& b);
// description() of an object, "(null)" for nullptr (the "%@" of a nil argument).
std::string describe(const ObjectPtr& object);
std::string describe(const Object* object);

// The class name of a C++ type as className() reports it.
std::string demangledClassName(const std::type_info& type);

// Hashing and equality functors so objects can key standard containers by value.
struct ObjectHash {
  std::size_t operator()(const ObjectPtr& o) const { return o ? o->hash() : 0; }
};
struct ObjectEqual {
  bool operator()(const ObjectPtr& a, const ObjectPtr& b) const { return isEqual(a, b); }
};

}  // namespace zv
