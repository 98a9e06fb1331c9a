#include "sharing/json/JCArray.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"

namespace zv {

void raiseMutatingImmutable(const Object& collection, const char* operation) {
  Exception::raise(kInternalInconsistencyException, format("*** -[%s %s]: mutating method sent to immutable object",
                                                           collection.className().c_str(), operation));
}

JCArray::JCArray(JCCreationKey, ObjectPtr* first, std::size_t count, detail::JCArena* arena, bool isMutableResult)
    : objects_(std::make_move_iterator(first), std::make_move_iterator(first + count),
               detail::JCStorageAllocator<ObjectPtr>(isMutableResult ? nullptr : arena)),
      mutations_(isMutableResult ? 1 : 0) {}

void JCArray::raiseIndex(const char* operation, std::size_t index, std::size_t bound) const {
  Exception::raise(kRangeException, format("*** -[%s %s]: index (%zu) beyond bounds (%zu)", className().c_str(),
                                           operation, index, bound));
}

void JCArray::requireMutable(const char* operation) const {
  if (mutations_ == 0) raiseMutatingImmutable(*this, operation);
}

void JCArray::mutated() { mutations_ = nextMutation(mutations_); }

ObjectPtr JCArray::objectAtIndex(std::size_t index) const {
  if (index >= objects_.size()) raiseIndex("objectAtIndex:", index, objects_.size());
  return objects_[index];
}

void JCArray::getObjects(ObjectPtr* buffer, std::size_t location, std::size_t length) const {
  const std::size_t rangeEnd = location + length;
  if (buffer == nullptr && rangeEnd != 0)
    Exception::raise(kRangeException, format("*** -[%s %s]: pointer to objects array is NULL but range length is %zu",
                                             className().c_str(), "getObjects:range:", rangeEnd));
  if (rangeEnd < location || rangeEnd > objects_.size()) raiseIndex("getObjects:range:", rangeEnd, objects_.size());
  for (std::size_t i = 0; i < length; ++i) buffer[i] = objects_[location + i];
}

void JCArray::insertObject(ObjectPtr object, std::size_t index) {
  requireMutable("insertObject:atIndex:");
  if (!object)
    Exception::raise(kInvalidArgumentException,
                     format("*** -[%s %s]: attempt to insert nil", className().c_str(), "insertObject:atIndex:"));
  if (index > objects_.size()) raiseIndex("insertObject:atIndex:", index, objects_.size() + 1);
  // The vector grows geometrically once count reaches capacity, so appends stay amortised O(1).
  objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index), std::move(object));
  mutated();
}

void JCArray::removeObjectAtIndex(std::size_t index) {
  requireMutable("removeObjectAtIndex:");
  if (index >= objects_.size()) raiseIndex("removeObjectAtIndex:", index, objects_.size());
  objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
  mutated();
}

void JCArray::replaceObjectAtIndex(std::size_t index, ObjectPtr object) {
  requireMutable("replaceObjectAtIndex:withObject:");
  if (!object)
    Exception::raise(kInvalidArgumentException, format("*** -[%s %s]: attempt to insert nil", className().c_str(),
                                                       "replaceObjectAtIndex:withObject:"));
  if (index >= objects_.size()) raiseIndex("replaceObjectAtIndex:withObject:", index, objects_.size());
  objects_[index] = std::move(object);
  mutated();
}

}  // namespace zv
