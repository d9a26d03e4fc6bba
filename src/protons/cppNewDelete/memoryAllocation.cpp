// memoryAllocation.cpp: single-object allocation that reports exhaustion
// into a tStatus instead of throwing.

#include "protons/cppNewDelete/memoryAllocation.h"

#include <new>

#include "protons/status/statusCodes.h"

namespace {
constexpr int32_t kLineAllocationFailed = 252;
}  // namespace

// allocateObject()
// Does not block beyond the allocator. Uses the non-throwing global operator
// new so that exhaustion becomes a status, never an exception leaving the
// library. Returns null, allocating nothing, when `status` holds an error.
void* allocateObject(uint32_t size, tStatus& status) {
  if (status.isError()) return nullptr;
  void* memory = ::operator new(static_cast<std::size_t>(size), std::nothrow);
  if (memory == nullptr) {
    status.offerCode(StatusMemoryFull, kComponentName, kFileMemoryAllocation, kLineAllocationFailed);
  }
  return memory;
}

// releaseObject(): the release matching the allocation above; null is a no-op.
void releaseObject(void* object) {
  if (object == nullptr) return;
  ::operator delete(object, std::nothrow);
}
