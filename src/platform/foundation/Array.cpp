#include "platform/foundation/Array.h"

#include "platform/foundation/CollectionComparison.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/KeyedHash.h"
#include "platform/foundation/PropertyListDescription.h"

namespace zv {

namespace {

// How many leading members an array's hash takes in.
constexpr std::size_t kHashedMembers = 4;

void requireObject(const ObjectPtr& object, const Array& array, const char* operation) {
  if (!object)
    Exception::raise(kInvalidArgumentException,
                     format("*** -[%s %s]: attempt to insert nil object", array.className().c_str(), operation));
}

// The standard arrays: a vector of references.
class VectorArray final : public Array {
 public:
  explicit VectorArray(std::vector<ObjectPtr> objects) : objects_(std::move(objects)) {}
  std::size_t count() const override { return objects_.size(); }
  ObjectPtr objectAtIndex(std::size_t index) const override {
    if (index >= objects_.size()) raiseBeyondBounds("objectAtIndex:", index, objects_.size());
    return objects_[index];
  }
  std::vector<ObjectPtr> objects() const override { return objects_; }

 private:
  std::vector<ObjectPtr> objects_;
};

class VectorMutableArray final : public MutableArray {
 public:
  explicit VectorMutableArray(std::vector<ObjectPtr> objects) : objects_(std::move(objects)) {}
  std::size_t count() const override { return objects_.size(); }
  ObjectPtr objectAtIndex(std::size_t index) const override {
    if (index >= objects_.size()) raiseBeyondBounds("objectAtIndex:", index, objects_.size());
    return objects_[index];
  }
  std::vector<ObjectPtr> objects() const override { return objects_; }
  void insertObject(ObjectPtr object, std::size_t index) override {
    requireObject(object, *this, "insertObject:atIndex:");
    if (index > objects_.size()) raiseBeyondBounds("insertObject:atIndex:", index, objects_.size() + 1);
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index), std::move(object));
  }
  void removeObjectAtIndex(std::size_t index) override {
    if (index >= objects_.size()) raiseBeyondBounds("removeObjectAtIndex:", index, objects_.size());
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
  }
  void replaceObjectAtIndex(std::size_t index, ObjectPtr object) override {
    requireObject(object, *this, "replaceObjectAtIndex:withObject:");
    if (index >= objects_.size()) raiseBeyondBounds("replaceObjectAtIndex:withObject:", index, objects_.size());
    objects_[index] = std::move(object);
  }

 private:
  std::vector<ObjectPtr> objects_;
};

}  // namespace

Ref<Array> Array::make(std::vector<ObjectPtr> objects) {
  for (const auto& o : objects)
    if (!o) Exception::raise(kInvalidArgumentException, "*** -[Array initWithObjects:count:]: attempt to insert nil object");
  return std::make_shared<VectorArray>(std::move(objects));
}

void Array::raiseBeyondBounds(const char* operation, std::size_t index, std::size_t bound) const {
  Exception::raise(kRangeException, format("*** -[%s %s]: index %zu beyond bounds [0 .. %zu]", className().c_str(),
                                           operation, index, bound == 0 ? 0 : bound - 1));
}

std::vector<ObjectPtr> Array::objects() const {
  std::vector<ObjectPtr> result;
  std::size_t n = count();
  result.reserve(n);
  for (std::size_t i = 0; i < n; ++i) result.push_back(objectAtIndex(i));
  return result;
}

std::optional<std::size_t> Array::indexOfObject(const ObjectPtr& object) const {
  std::size_t n = count();
  for (std::size_t i = 0; i < n; ++i)
    if (zv::isEqual(objectAtIndex(i), object)) return i;
  return std::nullopt;
}

std::optional<std::size_t> Array::indexOfObjectIdenticalTo(const ObjectPtr& object) const {
  std::size_t n = count();
  for (std::size_t i = 0; i < n; ++i)
    if (objectAtIndex(i) == object) return i;
  return std::nullopt;
}

Ref<Array> Array::arrayByAddingObject(ObjectPtr object) const {
  auto all = objects();
  all.push_back(std::move(object));
  return make(std::move(all));
}

Ref<Array> Array::subarray(std::size_t location, std::size_t length) const {
  std::size_t n = count();
  if (location > n || length > n - location) raiseBeyondBounds("subarrayWithRange:", location + length, n);
  std::vector<ObjectPtr> result;
  result.reserve(length);
  for (std::size_t i = location; i < location + length; ++i) result.push_back(objectAtIndex(i));
  return make(std::move(result));
}

std::string Array::description() const { return describePropertyList(*this); }

bool Array::isEqual(const Object& other) const {
  if (this == &other) return true;
  auto* a = dynamic_cast<const Array*>(&other);
  if (a == nullptr || a->count() != count()) return false;
  std::size_t n = count();
  if (n == 0) return true;
  detail::CollectionComparison comparison(*this, other);
  if (auto verdict = comparison.known()) return *verdict;
  for (std::size_t i = 0; i < n; ++i)
    if (!zv::isEqual(objectAtIndex(i), a->objectAtIndex(i))) return comparison.finish(false);
  return comparison.finish(true);
}

std::size_t Array::hash() const {
  // The count and the first few members, as equality compares them in order; a member collection
  // counts by its size only, so hashing stays bounded however deep the array is.
  const std::size_t n = count();
  std::size_t h = detail::scrambleHash(n);
  for (std::size_t i = 0; i < n && i < kHashedMembers; ++i) {
    const ObjectPtr& member = objectAtIndex(i);
    h = detail::scrambleHash(h + (member ? detail::memberHash(*member) : 0));
  }
  return h;
}

ObjectPtr Array::copy() const {
  if (!isMutable()) return self();
  return make(objects());
}

ObjectPtr Array::mutableCopy() const { return MutableArray::make(objects()); }

Ref<MutableArray> MutableArray::make(std::vector<ObjectPtr> objects) {
  for (const auto& o : objects)
    if (!o) Exception::raise(kInvalidArgumentException, "*** -[MutableArray initWithObjects:count:]: attempt to insert nil object");
  return std::make_shared<VectorMutableArray>(std::move(objects));
}

void MutableArray::addObjectsFromArray(const Array& other) {
  for (const auto& o : other.objects()) addObject(o);
}

void MutableArray::removeLastObject() {
  if (count() > 0) removeObjectAtIndex(count() - 1);
}

void MutableArray::removeAllObjects() {
  while (count() > 0) removeObjectAtIndex(count() - 1);
}

void MutableArray::removeObject(const ObjectPtr& object) {
  for (std::size_t i = count(); i-- > 0;)
    if (zv::isEqual(objectAtIndex(i), object)) removeObjectAtIndex(i);
}

void MutableArray::removeObjectIdenticalTo(const ObjectPtr& object) {
  for (std::size_t i = count(); i-- > 0;)
    if (objectAtIndex(i) == object) removeObjectAtIndex(i);
}

}  // namespace zv
