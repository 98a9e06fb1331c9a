#include "sharing/services/flickr/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
thread_local std::size_t allocated = 0;
std::atomic<std::size_t> refusedAbove{0};  // 0: refuse nothing
std::atomic<std::size_t> largestRequest{0};

void* allocate(std::size_t size) noexcept {
  if (counting) allocated += size;
  if (std::size_t limit = refusedAbove.load(std::memory_order_relaxed)) {
    std::size_t largest = largestRequest.load(std::memory_order_relaxed);
    while (size > largest && !largestRequest.compare_exchange_weak(largest, size, std::memory_order_relaxed)) {
    }
    if (size > limit) return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// Every plain form goes to malloc and free, so that any new meets its delete here.
void* operator new(std::size_t size) {
  if (void* memory = allocate(size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* memory = allocate(size)) return memory;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace zv::testing {

void startCountingAllocations() {
  allocated = 0;
  counting = true;
}

std::size_t stopCountingAllocations() {
  counting = false;
  return allocated;
}

void startRefusingAllocationsAbove(std::size_t limit) {
  largestRequest = 0;
  refusedAbove = limit;
}

std::size_t stopRefusingAllocations() {
  refusedAbove = 0;
  return largestRequest.load();
}

}  // namespace zv::testing
