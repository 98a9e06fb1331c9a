#pragma once
// Ordered collections. Array is abstract so that other concrete arrays (the JSON decoder's own)
// behave as ordinary arrays to every caller; Array::make and MutableArray::make give the standard
// ones. Collections never hold nullptr: the null object stands for "no value".

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <vector>

#include "platform/foundation/Object.h"

namespace zv {

class MutableArray;

class Array : public Object {
 public:
  // Raises "NSInvalidArgumentException" when an element is nullptr.
  static Ref<Array> make(std::vector<ObjectPtr> objects = {});
  static Ref<Array> make(std::initializer_list<ObjectPtr> objects) { return make(std::vector<ObjectPtr>(objects)); }

  virtual std::size_t count() const = 0;
  // Raises "NSRangeException" when index >= count().
  virtual ObjectPtr objectAtIndex(std::size_t index) const = 0;
  // Whether mutating calls are allowed (a MutableArray may still answer NO, as the JSON
  // decoder's immutable results do).
  virtual bool isMutable() const { return false; }
  virtual std::vector<ObjectPtr> objects() const;

  bool empty() const { return count() == 0; }
  ObjectPtr firstObject() const { return count() ? objectAtIndex(0) : nullptr; }
  ObjectPtr lastObject() const { return count() ? objectAtIndex(count() - 1) : nullptr; }
  template <class T>
  Ref<T> objectAtIndexAs(std::size_t index) const {
    return std::dynamic_pointer_cast<T>(objectAtIndex(index));
  }
  bool containsObject(const ObjectPtr& object) const { return indexOfObject(object).has_value(); }
  // First index whose element isEqual to object.
  std::optional<std::size_t> indexOfObject(const ObjectPtr& object) const;
  std::optional<std::size_t> indexOfObjectIdenticalTo(const ObjectPtr& object) const;
  Ref<Array> arrayByAddingObject(ObjectPtr object) const;
  Ref<Array> subarray(std::size_t location, std::size_t length) const;

  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ObjectPtr;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ObjectPtr;
    Iterator(const Array* array, std::size_t index) : array_(array), index_(index) {}
    ObjectPtr operator*() const { return array_->objectAtIndex(index_); }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++index_;
      return old;
    }
    bool operator==(const Iterator& other) const { return index_ == other.index_ && array_ == other.array_; }

   private:
    const Array* array_;
    std::size_t index_;
  };
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, count()); }

  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;
  // An immutable array returns itself.
  ObjectPtr copy() const override;
  ObjectPtr mutableCopy() const override;

 protected:
  Array() = default;
  [[noreturn]] void raiseBeyondBounds(const char* operation, std::size_t index, std::size_t bound) const;
};

class MutableArray : public Array {
 public:
  static Ref<MutableArray> make(std::vector<ObjectPtr> objects = {});
  static Ref<MutableArray> make(std::initializer_list<ObjectPtr> objects) {
    return make(std::vector<ObjectPtr>(objects));
  }

  // Primitives. nullptr raises "NSInvalidArgumentException"; a bad index "NSRangeException".
  virtual void insertObject(ObjectPtr object, std::size_t index) = 0;
  virtual void removeObjectAtIndex(std::size_t index) = 0;
  virtual void replaceObjectAtIndex(std::size_t index, ObjectPtr object) = 0;

  void addObject(ObjectPtr object) { insertObject(std::move(object), count()); }
  void addObjectsFromArray(const Array& other);
  void removeLastObject();
  void removeAllObjects();
  // Removes every element isEqual to object.
  void removeObject(const ObjectPtr& object);
  void removeObjectIdenticalTo(const ObjectPtr& object);

  bool isMutable() const override { return true; }

 protected:
  MutableArray() = default;
};

}  // namespace zv
