#include "sharing/json/JCArena.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace zv::detail {

namespace {

constexpr std::size_t kAlign = alignof(std::max_align_t);

std::size_t roundUp(std::size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

void* allocateBlock(std::size_t size) {
  void* p = std::malloc(size);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

JCArena* JCArena::open(std::size_t documentLength) {
  // Decoded values take two to three times the bytes of their text: a small document gets one
  // block about its size, a large one starts with a full block.
  const std::size_t first = std::clamp<std::size_t>(documentLength * 3, 1024, kBlockSize);
  auto* memory = static_cast<unsigned char*>(allocateBlock(first));
  auto* arena = new (memory) JCArena();
  arena->cursor_ = memory + roundUp(sizeof(JCArena));
  arena->end_ = memory + first;
  arena->reserved_ = first;
  return arena;
}

JCArena::~JCArena() {
  for (Block* b = blocks_; b;) {
    Block* next = b->next;
    std::free(b);
    b = next;
  }
}

void* JCArena::allocateSlowly(std::size_t size, std::size_t alignment) {
  const std::size_t header = roundUp(sizeof(Block));
  if (size > kBlockSize / 4) {
    // A large element block gets a block of its own, so the current block's rest is not wasted.
    auto* block = static_cast<Block*>(allocateBlock(header + size));
    block->next = blocks_;
    blocks_ = block;
    reserved_ += header + size;
    return reinterpret_cast<unsigned char*>(block) + header;
  }
  auto* block = static_cast<Block*>(allocateBlock(kBlockSize));
  block->next = blocks_;
  blocks_ = block;
  reserved_ += kBlockSize;
  cursor_ = reinterpret_cast<unsigned char*>(block) + header;
  end_ = reinterpret_cast<unsigned char*>(block) + kBlockSize;
  return allocate(size, alignment);
}

void JCArena::close() {
  references_.fetch_add(pendingValues_ - kOpenBias, std::memory_order_relaxed);
  pendingValues_ = 0;
}

void JCArena::release() {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    void* memory = this;
    this->~JCArena();
    std::free(memory);
  }
}

}  // namespace zv::detail
