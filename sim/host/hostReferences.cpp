/*
 * hostReferences.cpp: external data value references of the simulated
 * host runtime.
 *
 * Defines EDVR_CreateReference and the reference part of the control API.
 * Each live reference owns a zeroed, calloc'd ViDazoHx_DataRecord. Disposing
 * of a reference takes it off the live list under the lock and only then
 * calls the record's release procedure, unlocked, so the procedure runs
 * exactly once even when two threads dispose of the same reference, and may
 * itself call back into the stand-in.
 */
#include <cstdlib>

#include "hostState.h"

namespace hostsim {
namespace {

// Returns an unused, non-zero reference value. Caller holds referencesLock.
uint32_t nextFreeReference(HostState& state) {
  while (state.nextReference == 0 || state.references.count(state.nextReference) != 0) ++state.nextReference;
  return state.nextReference++;
}

// Takes a live reference off the list; returns its record or null. Takes referencesLock.
ViDazoHx_DataRecord* takeReference(uint32_t reference) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.referencesLock);
  auto found = state.references.find(reference);
  if (found == state.references.end()) return nullptr;
  ViDazoHx_DataRecord* record = found->second;
  state.references.erase(found);
  return record;
}

}  // namespace

void freeAllReferences(HostState& state) {
  for (auto& entry : state.references) std::free(entry.second);
  state.references.clear();
}

}  // namespace hostsim

using hostsim::HostState;
using hostsim::hostState;

// Host function: writes a new reference and its zeroed record.
HOSTRUNTIMESIM_API int32_t EDVR_CreateReference(uint32_t* reference, ViDazoHx_DataRecord** record) {
  int32_t injected = 0;
  if (hostsim::enterCall(hostsim::kEDVRCreateReference, &injected)) return injected;
  if (reference == nullptr || record == nullptr) return HostRuntimeSim_ResultArgumentError;
  auto* fresh = static_cast<ViDazoHx_DataRecord*>(std::calloc(1, sizeof(ViDazoHx_DataRecord)));
  if (fresh == nullptr) return HostRuntimeSim_ResultMemoryFull;
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.referencesLock);
  uint32_t value = hostsim::nextFreeReference(state);
  try {
    state.references.emplace(value, fresh);
  } catch (...) {
    std::free(fresh);
    return HostRuntimeSim_ResultMemoryFull;
  }
  *reference = value;
  *record = fresh;
  return 0;
}

uint32_t HostRuntimeSim_ListReferences(uint32_t* list, uint32_t capacity) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.referencesLock);
  uint32_t total = 0;
  for (const auto& entry : state.references) {
    if (list != nullptr && total < capacity) list[total] = entry.first;
    ++total;
  }
  return total;
}

ViDazoHx_DataRecord* HostRuntimeSim_ReferenceRecord(uint32_t reference) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.referencesLock);
  auto found = state.references.find(reference);
  return found != state.references.end() ? found->second : nullptr;
}

int32_t HostRuntimeSim_ReadReference(uint32_t reference, ViDazoHx_DataRecord* copy) {
  if (copy == nullptr) return HostRuntimeSim_ErrorNullArgument;
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.referencesLock);
  auto found = state.references.find(reference);
  if (found == state.references.end()) return HostRuntimeSim_ErrorUnknownReference;
  *copy = *found->second;
  return 0;
}

int32_t HostRuntimeSim_DisposeReferenceEx(uint32_t reference, int32_t* releaseResult) {
  ViDazoHx_DataRecord* record = hostsim::takeReference(reference);
  if (record == nullptr) return HostRuntimeSim_ErrorUnknownReference;
  ViDazoHx_HostProcedure release = record->release;
  int32_t status = HostRuntimeSim_ErrorNoReleaseProcedure;
  if (release != nullptr) {
    int32_t result = release(reinterpret_cast<uintptr_t>(record));
    if (releaseResult != nullptr) *releaseResult = result;
    status = 0;
  }
  std::free(record);
  return status;
}

int32_t HostRuntimeSim_DisposeReference(uint32_t reference) {
  int32_t releaseResult = 0;
  int32_t status = HostRuntimeSim_DisposeReferenceEx(reference, &releaseResult);
  return status == 0 ? releaseResult : status;
}
