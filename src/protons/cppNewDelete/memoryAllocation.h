// memoryAllocation.h: allocation of single objects that reports exhaustion
// into a tStatus instead of throwing.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "protons/status/stlStatus.h"

// allocateObject(): `size` bytes of uninitialised memory, or null. Does
// nothing when `status` already holds an error; on exhaustion offers
// StatusMemoryFull (protons/cppNewDelete/memoryAllocation, line 252).
void* allocateObject(uint32_t size, tStatus& status);

// releaseObject(): gives back memory from allocateObject; null does nothing.
void releaseObject(void* object);

// createObject(): allocateObject plus in-place construction of T with
// (args..., status). Returns null, constructing nothing, when allocation
// failed or `status` already held an error. The object itself may still
// report a construction failure into `status`: the caller checks.
template <typename T, typename... Args>
T* createObject(tStatus& status, Args&&... args) {
  void* memory = allocateObject(static_cast<uint32_t>(sizeof(T)), status);
  if (memory == nullptr) return nullptr;
  return new (memory) T(std::forward<Args>(args)..., status);
}

// destroyObject(): runs T's destructor and releases its memory; null does nothing.
template <typename T>
void destroyObject(T* object) {
  if (object == nullptr) return;
  object->~T();
  releaseObject(object);
}
