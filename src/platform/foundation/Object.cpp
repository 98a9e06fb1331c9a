#include "platform/foundation/Object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Format.h"

namespace zv {

namespace {

struct ClassNameCache {
  // Held across a fork (ForkHandlers.h). A plain mutex, not a read-write lock: a forked child
  // cannot release a read-write lock that the fork handlers took for writing.
  ForkMutex mutex{ForkLockLevel::ClassNames};
  std::unordered_map<std::type_index, std::string> names;
};

ClassNameCache& classNameCache() {
  static ClassNameCache& cache = *new ClassNameCache;
  return cache;
}

// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gClassNameCacheMade = (classNameCache(), true);

}  // namespace

std::string demangledClassName(const std::type_info& type) {
  auto& mutex = classNameCache().mutex;
  auto& cache = classNameCache().names;
  {
    std::lock_guard lock(mutex);
    auto it = cache.find(type);
    if (it != cache.end()) return it->second;
  }
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : type.name();
  std::free(demangled);
  // Keep the last component of a qualified name, ignoring template arguments.
  size_t angle = name.find('<');
  std::string head = name.substr(0, angle);
  size_t colon = head.rfind("::");
  if (colon != std::string::npos) name = name.substr(colon + 2);
  std::lock_guard lock(mutex);
  cache.emplace(type, name);
  return name;
}

std::string Object::className() const { return demangledClassName(typeid(*this)); }

std::string Object::description() const {
  return format("<%s: %p>", className().c_str(), static_cast<const void*>(this));
}

std::size_t Object::hash() const { return std::hash<const void*>{}(this); }

ObjectPtr Object::copy() const { return self(); }

ObjectPtr Object::mutableCopy() const {
  Exception::raise(kInvalidArgumentException,
                   format("-[%s mutableCopyWithZone:]: unrecognized selector sent to instance %p",
                          className().c_str(), static_cast<const void*>(this)));
}

bool Object::respondsToSelector(std::string_view selector) const {
  const ClassInfo* info = classNamed(className());
  return info != nullptr && info->instancesRespondToSelector(selector);
}

ObjectPtr Object::performSelector(std::string_view selector, const std::vector<ObjectPtr>& arguments) {
  if (const ClassInfo* info = classNamed(className())) {
    if (auto method = info->instanceMethod(selector)) return method(*this, arguments);
  }
  Exception::raise(kInvalidArgumentException,
                   format("-[%s %.*s]: unrecognized selector sent to instance %p", className().c_str(),
                          static_cast<int>(selector.size()), selector.data(), static_cast<const void*>(this)));
}

bool isEqual(const ObjectPtr& a, const ObjectPtr& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->isEqual(*b);
}

std::string describe(const ObjectPtr& object) { return describe(object.get()); }

std::string describe(const Object* object) { return object ? object->description() : "(null)"; }

}  // namespace zv
