// failingAllocator.h: makes chosen non-throwing allocations fail from outside
// the library. Programs that link failingAllocator.cpp replace the global
// non-throwing operator new; every other allocation behaves as usual.
#pragma once

#include <cstddef>

namespace testsupport {

// The next `count` non-throwing allocations of exactly `bytes` bytes fail
// (return null). Earlier arming is replaced.
void failAllocationsOf(std::size_t bytes, int count = 1);
// Number of armed failures that have not happened yet; disarms them.
int disarmAllocationFailures();

}  // namespace testsupport
