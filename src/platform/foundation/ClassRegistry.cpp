#include "platform/foundation/ClassRegistry.h"

#include "platform/foundation/ForkHandlers.h"

namespace zv {

ClassInfo::ClassInfo(std::string name, std::string superclassName)
    : name_(std::move(name)), superclassName_(std::move(superclassName)) {}

const ClassInfo* ClassInfo::superclass() const {
  if (superclassName_.empty() || superclassName_ == name_) return nullptr;
  return ClassRegistry::shared().classNamed(superclassName_);
}

bool ClassInfo::isSubclassOf(std::string_view name) const {
  int depth = 0;
  for (const ClassInfo* c = this; c != nullptr && depth < 64; c = c->superclass(), ++depth) {
    if (c->name_ == name) return true;
  }
  return false;
}

ObjectPtr ClassInfo::create() const {
  Factory factory;
  {
    std::lock_guard lock(mutex_);
    factory = factory_;
  }
  return factory ? factory() : nullptr;
}

bool ClassInfo::hasFactory() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(factory_);
}

ClassInfo::InstanceMethod ClassInfo::instanceMethod(std::string_view selector) const {
  int depth = 0;
  for (const ClassInfo* c = this; c != nullptr && depth < 64; c = c->superclass(), ++depth) {
    std::lock_guard lock(c->mutex_);
    auto it = c->instanceMethods_.find(selector);
    if (it != c->instanceMethods_.end()) return it->second;
  }
  return {};
}

ClassInfo::ClassMethod ClassInfo::classMethod(std::string_view selector) const {
  int depth = 0;
  for (const ClassInfo* c = this; c != nullptr && depth < 64; c = c->superclass(), ++depth) {
    std::lock_guard lock(c->mutex_);
    auto it = c->classMethods_.find(selector);
    if (it != c->classMethods_.end()) return it->second;
  }
  return {};
}

bool ClassInfo::instancesRespondToSelector(std::string_view selector) const {
  return static_cast<bool>(instanceMethod(selector));
}

bool ClassInfo::respondsToSelector(std::string_view selector) const {
  return static_cast<bool>(classMethod(selector));
}

// The setters swap the new value in, so what it replaces is destroyed after the lock.
ClassInfo& ClassInfo::setFactory(Factory factory) {
  std::lock_guard lock(mutex_);
  factory_.swap(factory);
  return *this;
}

ClassInfo& ClassInfo::addInstanceMethod(std::string selector, InstanceMethod method) {
  std::lock_guard lock(mutex_);
  instanceMethods_[std::move(selector)].swap(method);
  return *this;
}

ClassInfo& ClassInfo::addClassMethod(std::string selector, ClassMethod method) {
  std::lock_guard lock(mutex_);
  classMethods_[std::move(selector)].swap(method);
  return *this;
}

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry& registry = *new ClassRegistry;
  return registry;
}

ClassInfo& ClassRegistry::registerClass(const std::string& name, const std::string& superclassName) {
  std::lock_guard lock(mutex_);
  auto it = classes_.find(name);
  if (it != classes_.end()) return *it->second;
  auto info = std::make_unique<ClassInfo>(name, superclassName);
  ClassInfo& ref = *info;
  classes_.emplace(name, std::move(info));
  return ref;
}

const ClassInfo* ClassRegistry::classNamed(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto it = classes_.find(name);
  return it == classes_.end() ? nullptr : it->second.get();
}

const ClassInfo* classNamed(std::string_view name) { return ClassRegistry::shared().classNamed(name); }

namespace {
// Made with the process, before any thread can fork: a child made by fork never finds one half made
// (its guard held by a thread it does not have).
[[maybe_unused]] const bool gClassRegistryMade = (ClassRegistry::shared(), true);
}  // namespace

}  // namespace zv
