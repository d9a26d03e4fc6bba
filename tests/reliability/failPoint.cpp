// failPoint.cpp: the wrapped allocation functions (see failPoint.h). Every
// counter is per thread, so the stress program's threads do not count each
// other's allocations.

#include "failPoint.h"

#include <cstddef>
#include <cstdlib>
#include <new>

extern "C" {
void* __real_malloc(std::size_t bytes);
void* __real_realloc(void* memory, std::size_t bytes);
}

namespace reliability {
namespace {
thread_local int depth = 0;
thread_local uint64_t counted = 0;
thread_local uint64_t failAt = 0;
thread_local bool failedArmed = false;

bool shouldFail() {
  if (depth == 0) return false;
  ++counted;
  if (failAt == 0 || counted != failAt) return false;
  failAt = 0;
  failedArmed = true;
  return true;
}
}  // namespace

LibraryCall::LibraryCall() { ++depth; }
LibraryCall::~LibraryCall() { --depth; }

void failAllocation(uint64_t nth) { failAt = nth == 0 ? 0 : counted + nth; }

bool takeAllocationFailure() {
  const bool failed = failedArmed;
  failedArmed = false;
  return failed;
}

uint64_t allocationsCounted() { return counted; }

}  // namespace reliability

extern "C" __attribute__((visibility("default"))) void* __wrap_malloc(std::size_t bytes) {
  return reliability::shouldFail() ? nullptr : __real_malloc(bytes);
}

extern "C" __attribute__((visibility("default"))) void* __wrap_realloc(void* memory, std::size_t bytes) {
  return reliability::shouldFail() ? nullptr : __real_realloc(memory, bytes);
}

// The non-throwing operator new under its mangled name (size_t is unsigned
// long on 64-bit targets, unsigned int on 32-bit ones). The library makes no
// array allocations.
#if UINTPTR_MAX == 0xFFFFFFFF
#define VIDAZOHX_NEW_NOTHROW _ZnwjRKSt9nothrow_t
#else
#define VIDAZOHX_NEW_NOTHROW _ZnwmRKSt9nothrow_t
#endif
#define VIDAZOHX_CONCAT2(a, b) a##b
#define VIDAZOHX_CONCAT(a, b) VIDAZOHX_CONCAT2(a, b)

extern "C" {
void* VIDAZOHX_CONCAT(__real_, VIDAZOHX_NEW_NOTHROW)(std::size_t bytes, const std::nothrow_t&);

__attribute__((visibility("default"))) void* VIDAZOHX_CONCAT(__wrap_, VIDAZOHX_NEW_NOTHROW)(std::size_t bytes, const std::nothrow_t& tag) {
  return reliability::shouldFail() ? nullptr : VIDAZOHX_CONCAT(__real_, VIDAZOHX_NEW_NOTHROW)(bytes, tag);
}
}
