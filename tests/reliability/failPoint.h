// failPoint.h: counts the library's allocations while one of its exports is
// running and fails a chosen one. Programs that link failPoint.cpp wrap
// malloc, realloc and the non-throwing operator new at link time, so only
// calls made from the objects linked into the program are seen; the
// stand-ins, being shared libraries, allocate as usual.
#pragma once

#include <cstdint>

namespace reliability {

// Marks the span of one export call; allocations outside it are not counted.
class LibraryCall {
 public:
  LibraryCall();
  ~LibraryCall();
  LibraryCall(const LibraryCall&) = delete;
  LibraryCall& operator=(const LibraryCall&) = delete;
};

// The n-th counted allocation from now fails (0: disarm).
void failAllocation(uint64_t nth);
// Whether an armed failure happened since the last call.
bool takeAllocationFailure();
// Allocations counted since the program started.
uint64_t allocationsCounted();

}  // namespace reliability
