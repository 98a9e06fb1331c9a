#pragma once
// Classes picked by name at run time: sharers named in a property list, a screen class named by a
// settings row, a configurator subclass. A class registers its name, its superclass's name, a
// factory, and the methods it wants callable by selector name.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Object.h"

namespace zv {

class ClassInfo {
 public:
  using Arguments = std::vector<ObjectPtr>;
  using Factory = std::function<ObjectPtr()>;
  using InstanceMethod = std::function<ObjectPtr(Object& self, const Arguments& arguments)>;
  using ClassMethod = std::function<ObjectPtr(const Arguments& arguments)>;

  ClassInfo(std::string name, std::string superclassName);

  const std::string& name() const { return name_; }
  const std::string& superclassName() const { return superclassName_; }
  // The registered superclass, or nullptr for a root (or a superclass that was never registered).
  const ClassInfo* superclass() const;
  // Whether this class is `name` or derives from it through registered superclasses.
  bool isSubclassOf(std::string_view name) const;

  // A new instance through the factory (walking up to the nearest registered factory is not done:
  // an abstract class has none). nullptr without a factory.
  ObjectPtr create() const;
  bool hasFactory() const;

  bool instancesRespondToSelector(std::string_view selector) const;
  bool respondsToSelector(std::string_view selector) const;  // class methods
  // Calls an instance method found on this class or a superclass; nullptr-returning std::function
  // when none (callers check instancesRespondToSelector first).
  InstanceMethod instanceMethod(std::string_view selector) const;
  ClassMethod classMethod(std::string_view selector) const;

  ClassInfo& setFactory(Factory factory);
  ClassInfo& addInstanceMethod(std::string selector, InstanceMethod method);
  ClassInfo& addClassMethod(std::string selector, ClassMethod method);

  // Typed registration of an instance method on T.
  template <class T, class F>
  ClassInfo& addMethod(std::string selector, F method) {
    return addInstanceMethod(std::move(selector), [method](Object& self, const Arguments& args) -> ObjectPtr {
      return method(dynamic_cast<T&>(self), args);
    });
  }

 private:
  std::string name_;
  std::string superclassName_;
  // Held only to read or change the factory and the method tables (ObjectMutex's rules): a plain
  // mutex, so a fork never leaves it held by a thread the child does not have.
  mutable ObjectMutex mutex_;
  Factory factory_;
  std::map<std::string, InstanceMethod, std::less<>> instanceMethods_;
  std::map<std::string, ClassMethod, std::less<>> classMethods_;
};

class ClassRegistry {
 public:
  static ClassRegistry& shared();

  // Registers (or returns the already registered) class of that name.
  ClassInfo& registerClass(const std::string& name, const std::string& superclassName = "");

  // Registers T under its className; default-constructible classes get a make_shared factory.
  template <class T>
  ClassInfo& registerClass(const std::string& superclassName = "") {
    ClassInfo& info = registerClass(demangledClassName(typeid(T)), superclassName);
    if constexpr (std::is_default_constructible_v<T>) {
      if (!info.hasFactory()) info.setFactory([] { return std::make_shared<T>(); });
    }
    return info;
  }

  const ClassInfo* classNamed(std::string_view name) const;

 private:
  // Held across a fork (ForkHandlers.h). A plain mutex, not a read-write lock: a forked child
  // cannot release a read-write lock that the fork handlers took for writing.
  mutable ForkMutex mutex_{ForkLockLevel::ClassRegistry};
  std::map<std::string, std::unique_ptr<ClassInfo>, std::less<>> classes_;
};

// Shorthand for ClassRegistry::shared().classNamed(name).
const ClassInfo* classNamed(std::string_view name);

}  // namespace zv
