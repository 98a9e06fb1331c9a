#pragma once
// The JSON decoder's arrays. To every caller they are ordinary arrays; the decoder makes them in
// one step from its object stack. `mutations` doubles as the mutability mark: 0 is immutable (every
// mutating call raises and `copy` returns the array itself), a mutable array starts at 1 and each
// change adds 1, skipping 0 when it wraps.
// Thread contract: an immutable array may be read from any thread, a mutable one from one at a time.

#include <cstdint>
#include <vector>

#include "platform/foundation/Array.h"
#include "sharing/json/JCArena.h"
#include "sharing/json/JCCreationKey.h"

namespace zv {

class JCArray final : public MutableArray {
 public:
  // The element block: in the document's arena for an immutable array, on the heap for a mutable one.
  using Storage = std::vector<ObjectPtr, detail::JCStorageAllocator<ObjectPtr>>;

  // Moves the `count` elements at `first` in (none may be nullptr); count and capacity equal their
  // number. `arena` holds the element block of an immutable array (nullptr: the heap).
  JCArray(JCCreationKey, ObjectPtr* first, std::size_t count, detail::JCArena* arena, bool isMutableResult);

  std::size_t count() const override { return objects_.size(); }
  // Raises "NSRangeException" when index >= count().
  ObjectPtr objectAtIndex(std::size_t index) const override;
  std::vector<ObjectPtr> objects() const override { return {objects_.begin(), objects_.end()}; }
  bool isMutable() const override { return mutations_ != 0; }

  // Copies the elements of [location, location + length) to `buffer`; raises "NSRangeException"
  // when buffer is null with a non-zero range end, or when the range runs past the end.
  void getObjects(ObjectPtr* buffer, std::size_t location, std::size_t length) const;

  // Mutating calls raise "NSInternalInconsistencyException" on an immutable array, and the
  // exceptions of MutableArray for nil objects and bad indexes.
  void insertObject(ObjectPtr object, std::size_t index) override;
  void removeObjectAtIndex(std::size_t index) override;
  void replaceObjectAtIndex(std::size_t index, ObjectPtr object) override;

  std::size_t capacity() const { return objects_.capacity(); }
  std::uint32_t mutations() const { return mutations_; }
  // The elements in place, for readers that walk a decoded tree without copying references.
  const Storage& storage() const { return objects_; }

 private:
  void requireMutable(const char* operation) const;
  [[noreturn]] void raiseIndex(const char* operation, std::size_t index, std::size_t bound) const;
  void mutated();

  Storage objects_;
  std::uint32_t mutations_;
};

// Raises the immutable-object exception for `operation` on `collection`; shared with JCDictionary.
[[noreturn]] void raiseMutatingImmutable(const Object& collection, const char* operation);
// The next value of a mutation counter: +1, wrapping from the maximum to 1 so it never reads 0.
inline std::uint32_t nextMutation(std::uint32_t m) { return m == UINT32_MAX ? 1 : m + 1; }

}  // namespace zv
