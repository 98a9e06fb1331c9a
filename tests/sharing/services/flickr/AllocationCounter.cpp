#include "sharing/services/flickr/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
thread_local std::size_t allocated = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (counting) allocated += size;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace zv::testing {

void startCountingAllocations() {
  allocated = 0;
  counting = true;
}

std::size_t stopCountingAllocations() {
  counting = false;
  return allocated;
}

}  // namespace zv::testing
