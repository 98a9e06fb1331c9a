#pragma once
// Unordered collections of distinct objects (compared with isEqual); enumeration follows insertion
// order.

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/foundation/HashTable.h"
#include "platform/foundation/Object.h"

namespace zv {

class Array;

class Set : public Object {
 public:
  static Ref<Set> make(std::vector<ObjectPtr> objects = {});
  static Ref<Set> make(std::initializer_list<ObjectPtr> objects) { return make(std::vector<ObjectPtr>(objects)); }
  static Ref<Set> makeWithStrings(std::initializer_list<std::string_view> texts);

  std::size_t count() const { return table_.size(); }
  bool containsObject(const Object& object) const { return table_.find(object).has_value(); }
  bool containsObject(const ObjectPtr& object) const { return object && containsObject(*object); }
  bool containsString(std::string_view text) const { return table_.findText(text).has_value(); }
  // The member equal to object.
  ObjectPtr member(const Object& object) const;
  ObjectPtr anyObject() const;
  std::vector<ObjectPtr> allObjects() const;
  void enumerate(const std::function<bool(const ObjectPtr&)>& visit) const;
  virtual bool isMutable() const { return false; }

  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;
  ObjectPtr copy() const override;
  ObjectPtr mutableCopy() const override;

  Set() = default;

 protected:
  void add(ObjectPtr object);
  void remove(const Object& object) { table_.erase(object); }
  void clear() { table_.clear(); }

 private:
  detail::HashTable table_;
};

class MutableSet : public Set {
 public:
  static Ref<MutableSet> make(std::vector<ObjectPtr> objects = {});
  void addObject(ObjectPtr object) { add(std::move(object)); }
  void removeObject(const Object& object) { remove(object); }
  void removeAllObjects() { clear(); }
  bool isMutable() const override { return true; }
};

}  // namespace zv
