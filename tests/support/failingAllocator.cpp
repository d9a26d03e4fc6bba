// failingAllocator.cpp: the replaced non-throwing operator new.
//
// Matching by size keeps the failure on the allocation a test aims at (a map
// node, a lock) even when other code allocates in between. The replacement
// forwards to the ordinary operator new, so allocation and release stay a
// matching pair for the sanitizers.

#include "failingAllocator.h"

#include <atomic>
#include <new>

namespace {
std::atomic<std::size_t> armedBytes{0};
std::atomic<int> armedCount{0};

bool shouldFail(std::size_t bytes) {
  if (armedBytes.load() != bytes) return false;
  int pending = armedCount.load();
  while (pending > 0) {
    if (armedCount.compare_exchange_weak(pending, pending - 1)) return true;
  }
  return false;
}
}  // namespace

namespace testsupport {

void failAllocationsOf(std::size_t bytes, int count) {
  armedCount.store(0);
  armedBytes.store(bytes);
  armedCount.store(count);
}

int disarmAllocationFailures() {
  armedBytes.store(0);
  return armedCount.exchange(0);
}

}  // namespace testsupport

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  if (shouldFail(bytes)) return nullptr;
  try {
    return ::operator new(bytes);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  if (shouldFail(bytes)) return nullptr;
  try {
    return ::operator new[](bytes);
  } catch (...) {
    return nullptr;
  }
}
