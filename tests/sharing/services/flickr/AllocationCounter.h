#pragma once
// Counts the bytes that operator new hands out on the calling thread between start and stop, so
// that a test can measure work done through C++ allocations without a clock; and, on every
// thread, can refuse single requests above a size while noting the largest one asked for, so that
// a test sees what a reader would have allocated without the machine having to provide it. This
// test program replaces the global operator new and delete (in AllocationCounter.cpp) to do it.

#include <cstddef>

namespace zv::testing {

void startCountingAllocations();
// The bytes allocated on this thread since start.
std::size_t stopCountingAllocations();

// From now on, any request above `limit` bytes on any thread throws std::bad_alloc.
void startRefusingAllocationsAbove(std::size_t limit);
// Ends the refusals; returns the largest single request made on any thread since start.
std::size_t stopRefusingAllocations();

}  // namespace zv::testing
