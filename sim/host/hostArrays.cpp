/*
 * hostArrays.cpp: host array handles of the simulated host runtime.
 *
 * Defines NumericArrayResize and the array part of the control API. A
 * handle is a malloc'd slot holding the master pointer; the master pointer
 * designates a malloc'd block: int32 count at offset 0, elements at offset 4,
 * or at 8 for the 64-bit types so that they are naturally aligned (malloc
 * returns blocks aligned for any scalar).
 *
 * A resize always moves the block: it allocates a new one, copies what fits,
 * fills the rest with kFreshByte and frees the old one. A caller that keeps
 * using the old master pointer then touches freed memory, which the
 * sanitizers report, instead of getting lucky with an in-place growth.
 */
#include <cstdlib>
#include <cstring>
#include <new>

#include "hostState.h"

namespace hostsim {
namespace {

// Fills element storage a resize adds, so reads of never-written elements
// show up as a recognisable pattern rather than as plausible zeros.
constexpr unsigned char kFreshByte = 0xA5;

// Returns the element size of a type code, 0 for an invalid one.
uint32_t elementSize(int32_t typeCode) {
  static const uint32_t sizes[] = {0, 1, 2, 4, 8, 1, 2, 4, 8};
  return typeCode >= 1 && typeCode <= 8 ? sizes[typeCode] : 0;
}

unsigned char* elementsOf(ViDazoHx_ArrayBlock* block, int32_t typeCode) {
  return reinterpret_cast<unsigned char*>(block) + HostRuntimeSim_DataOffset(typeCode);
}

// Returns a new block with room for `count` elements and its count field
// set to 0, or null when the size limit or memory does not allow it.
ViDazoHx_ArrayBlock* allocateBlock(int32_t typeCode, uint32_t count) {
  uint32_t size = elementSize(typeCode);
  if (count > HostRuntimeSim_MaxArrayBytes / size) return nullptr;
  size_t bytes = HostRuntimeSim_DataOffset(typeCode) + static_cast<size_t>(count) * size;
  auto* block = static_cast<ViDazoHx_ArrayBlock*>(std::malloc(bytes));
  if (block != nullptr) block->count = 0;
  return block;
}

// Makes a handle around a fresh block and records it; returns null on
// failure, leaving nothing allocated. Caller holds arraysLock.
ViDazoHx_ArrayHandle newHandle(HostState& state, int32_t typeCode, uint32_t count) {
  auto handle = static_cast<ViDazoHx_ArrayHandle>(std::malloc(sizeof(ViDazoHx_ArrayBlock*)));
  ViDazoHx_ArrayBlock* block = allocateBlock(typeCode, count);
  if (handle != nullptr && block != nullptr) {
    *handle = block;
    try {
      state.arrays.emplace(handle, ArrayRecord{typeCode, count});
      return handle;
    } catch (...) {
    }
  }
  std::free(block);
  std::free(handle);
  return nullptr;
}

// Moves the handle's block to a new one of `count` elements of `typeCode`,
// keeping the count field and the elements that fit. Returns a host result.
// Caller holds arraysLock.
int32_t moveBlock(ArrayRecord& record, ViDazoHx_ArrayHandle handle, int32_t typeCode, uint32_t count) {
  ViDazoHx_ArrayBlock* fresh = allocateBlock(typeCode, count);
  if (fresh == nullptr) return HostRuntimeSim_ResultMemoryFull;
  ViDazoHx_ArrayBlock* old = *handle;
  size_t oldBytes = static_cast<size_t>(record.capacity) * elementSize(record.typeCode);
  size_t newBytes = static_cast<size_t>(count) * elementSize(typeCode);
  size_t kept = oldBytes < newBytes ? oldBytes : newBytes;
  fresh->count = old->count;
  std::memcpy(elementsOf(fresh, typeCode), elementsOf(old, record.typeCode), kept);
  std::memset(elementsOf(fresh, typeCode) + kept, kFreshByte, newBytes - kept);
  std::free(old);
  *handle = fresh;
  record = ArrayRecord{typeCode, count};
  return 0;
}

}  // namespace

void freeAllArrays(HostState& state) {
  for (auto& entry : state.arrays) {
    std::free(*entry.first);
    std::free(entry.first);
  }
  state.arrays.clear();
}

}  // namespace hostsim

using hostsim::HostState;
using hostsim::hostState;

// Host function. A null handle in `*array` makes a new one, as hosts do for
// arrays that do not exist yet; the count field is never changed, since the
// caller sets it once it knows how many elements are valid.
HOSTRUNTIMESIM_API int32_t NumericArrayResize(int32_t typeCode, int32_t dimensions, ViDazoHx_ArrayHandle* array, uint32_t count) {
  int32_t injected = 0;
  if (hostsim::enterCall(hostsim::kNumericArrayResize, &injected)) return injected;
  if (hostsim::elementSize(typeCode) == 0 || dimensions != 1 || array == nullptr) {
    return HostRuntimeSim_ResultArgumentError;
  }
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.arraysLock);
  if (*array == nullptr) {
    *array = hostsim::newHandle(state, typeCode, count);
    return *array != nullptr ? 0 : HostRuntimeSim_ResultMemoryFull;
  }
  auto found = state.arrays.find(*array);
  if (found == state.arrays.end()) return HostRuntimeSim_ResultArgumentError;
  const hostsim::ArrayRecord& record = found->second;
  if (state.resizeInPlace && record.typeCode == typeCode && record.capacity == count) return 0;
  return hostsim::moveBlock(found->second, *array, typeCode, count);
}

uint32_t HostRuntimeSim_DataOffset(int32_t typeCode) {
  if (hostsim::elementSize(typeCode) == 0) return 0;
  return typeCode == ViDazoHx_TypeI64 || typeCode == ViDazoHx_TypeU64 ? 8u : 4u;
}

ViDazoHx_ArrayHandle HostRuntimeSim_NewArray(int32_t typeCode, uint32_t count) {
  if (hostsim::elementSize(typeCode) == 0) return nullptr;
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.arraysLock);
  ViDazoHx_ArrayHandle handle = hostsim::newHandle(state, typeCode, count);
  if (handle == nullptr) return nullptr;
  (*handle)->count = static_cast<int32_t>(count);
  std::memset(hostsim::elementsOf(*handle, typeCode), 0, static_cast<size_t>(count) * hostsim::elementSize(typeCode));
  return handle;
}

int32_t HostRuntimeSim_FreeArray(ViDazoHx_ArrayHandle array) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.arraysLock);
  auto found = state.arrays.find(array);
  if (found == state.arrays.end()) return HostRuntimeSim_ErrorUnknownHandle;
  state.arrays.erase(found);
  std::free(*array);
  std::free(array);
  return 0;
}

int32_t HostRuntimeSim_GetArrayInfo(ViDazoHx_ArrayHandle array, HostRuntimeSim_ArrayInfo* info) {
  if (info == nullptr) return HostRuntimeSim_ErrorNullArgument;
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.arraysLock);
  auto found = state.arrays.find(array);
  if (found == state.arrays.end()) return HostRuntimeSim_ErrorUnknownHandle;
  const hostsim::ArrayRecord& record = found->second;
  *info = HostRuntimeSim_ArrayInfo{record.typeCode, record.capacity, (*array)->count, *array,
                                   hostsim::elementsOf(*array, record.typeCode)};
  return 0;
}

uint32_t HostRuntimeSim_LiveArrayCount(void) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.arraysLock);
  return static_cast<uint32_t>(state.arrays.size());
}

void HostRuntimeSim_SetResizeInPlace(int32_t enabled) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.arraysLock);
  state.resizeInPlace = enabled != 0;
}
