#pragma once
// Counts the bytes that operator new hands out on the calling thread between start and stop, so
// that a test can measure work done through C++ allocations without a clock. This test program
// replaces the global operator new and delete (in AllocationCounter.cpp) to do it.

#include <cstddef>

namespace zv::testing {

void startCountingAllocations();
// The bytes allocated on this thread since start.
std::size_t stopCountingAllocations();

}  // namespace zv::testing
