#pragma once
// The memory of one decoded document. The decoder carves the document's values and their element
// blocks out of a few large blocks by bumping a pointer, and the blocks are freed together when the
// last value made from them is released: no allocation and no free per value.
// Every value made through JCValueAllocator counts as one reference to the arena, so a single value
// kept from a document keeps all of the document's blocks.
// Thread contract: allocation is for the parsing thread only, while the arena is open; references
// may be released on any thread (the count is atomic, and the last release frees the blocks).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace zv::detail {

class JCArena {
 public:
  // An open arena whose first block is sized for a document of `documentLength` bytes; the caller
  // holds one reference.
  static JCArena* open(std::size_t documentLength);
  JCArena(const JCArena&) = delete;
  JCArena& operator=(const JCArena&) = delete;

  // `size` bytes aligned to `alignment` (at most alignof(std::max_align_t)); raises std::bad_alloc.
  void* allocate(std::size_t size, std::size_t alignment);
  // Counts one more value made from the arena (parsing thread, open arena): cheaper than an atomic
  // increment per value, the counts are published by close().
  void addValue() { ++pendingValues_; }
  // Ends allocation; the values counted so far now hold the arena.
  void close();
  // Drops one reference (a value's or the opener's); the last one frees the arena.
  void release();

  // Bytes of the blocks the arena holds, for measurements.
  std::size_t bytesReserved() const { return reserved_; }

 private:
  struct Block {
    Block* next;
  };
  // While the arena is open, the opener's reference carries this bias, so values released during
  // the parse (a dropped partial tree, a replaced duplicate key) cannot bring the count to zero
  // before close() adds the values made.
  static constexpr std::uint64_t kOpenBias = std::uint64_t{1} << 48;
  static constexpr std::size_t kBlockSize = 64 * 1024;

  JCArena() = default;
  ~JCArena();
  void* allocateSlowly(std::size_t size, std::size_t alignment);

  std::atomic<std::uint64_t> references_{kOpenBias + 1};
  std::uint64_t pendingValues_ = 0;
  unsigned char* cursor_ = nullptr;
  unsigned char* end_ = nullptr;
  Block* blocks_ = nullptr;  // blocks after the first (which holds the arena itself)
  std::size_t reserved_ = 0;
};

inline void* JCArena::allocate(std::size_t size, std::size_t alignment) {
  auto address = reinterpret_cast<std::uintptr_t>(cursor_);
  const std::uintptr_t aligned = (address + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
  if (aligned + size <= reinterpret_cast<std::uintptr_t>(end_)) {
    cursor_ = reinterpret_cast<unsigned char*>(aligned + size);
    return reinterpret_cast<void*>(aligned);
  }
  return allocateSlowly(size, alignment);
}

// The allocator of std::allocate_shared for decoded values: the block it hands out (the value and
// its control block) comes from the arena, and its release drops the value's reference to the arena.
template <class T>
class JCValueAllocator {
 public:
  using value_type = T;
  explicit JCValueAllocator(JCArena* arena) : arena_(arena) {}
  template <class U>
  JCValueAllocator(const JCValueAllocator<U>& other) : arena_(other.arena()) {}

  T* allocate(std::size_t n) {
    void* p = arena_->allocate(n * sizeof(T), alignof(T));
    arena_->addValue();
    return static_cast<T*>(p);
  }
  void deallocate(T*, std::size_t) { arena_->release(); }
  JCArena* arena() const { return arena_; }
  template <class U>
  bool operator==(const JCValueAllocator<U>& other) const { return arena_ == other.arena(); }

 private:
  JCArena* arena_;
};

// The allocator of a decoded collection's element block: from the arena for an immutable
// collection (whose block never changes after the parse, and lives as long as the collection, which
// holds the arena), from the heap for a mutable one (null arena), whose block may grow on any thread.
// A copy of a block never goes to the arena: the copy does not hold it, so it lives on the heap.
template <class T>
class JCStorageAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_copy_assignment = std::false_type;
  using propagate_on_container_swap = std::true_type;
  JCStorageAllocator() = default;
  explicit JCStorageAllocator(JCArena* arena) : arena_(arena) {}
  template <class U>
  JCStorageAllocator(const JCStorageAllocator<U>& other) : arena_(other.arena()) {}

  JCStorageAllocator select_on_container_copy_construction() const { return JCStorageAllocator(); }

  T* allocate(std::size_t n) {
    if (arena_) return static_cast<T*>(arena_->allocate(n * sizeof(T), alignof(T)));
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) {
    if (!arena_) std::allocator<T>().deallocate(p, n);
  }
  JCArena* arena() const { return arena_; }
  template <class U>
  bool operator==(const JCStorageAllocator<U>& other) const { return arena_ == other.arena(); }

 private:
  JCArena* arena_ = nullptr;
};

}  // namespace zv::detail
