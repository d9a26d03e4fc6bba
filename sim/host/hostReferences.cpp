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

// Returns the shard that holds `reference`.
ReferenceShard& shardOf(HostState& state, uint32_t reference) { return state.references[reference % kShards]; }

// Returns an unused, non-zero reference value of shard `index`. Caller holds its lock.
uint32_t nextFreeReference(ReferenceShard& shard, unsigned index) {
  for (;;) {
    const uint32_t value = shard.next++ * kShards + index;
    if (value != 0 && shard.references.count(value) == 0) return value;
  }
}

// Takes a live reference off its shard; returns its record or null. Takes the shard's lock.
ViDazoHx_DataRecord* takeReference(uint32_t reference) {
  ReferenceShard& shard = shardOf(hostState(), reference);
  std::lock_guard<std::mutex> hold(shard.lock);
  auto found = shard.references.find(reference);
  if (found == shard.references.end()) return nullptr;
  ViDazoHx_DataRecord* record = found->second;
  shard.references.erase(found);
  return record;
}

// Returns the record of a live reference or null. Caller holds the shard's lock.
ViDazoHx_DataRecord* findReference(ReferenceShard& shard, uint32_t reference) {
  auto found = shard.references.find(reference);
  return found != shard.references.end() ? found->second : nullptr;
}

}  // namespace

void freeAllReferences(HostState& state) {
  for (ReferenceShard& shard : state.references) {
    for (auto& entry : shard.references) std::free(entry.second);
    shard.references.clear();
    shard.next = 1;
  }
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
  const unsigned index = hostsim::threadShard();
  hostsim::ReferenceShard& shard = hostState().references[index];
  std::lock_guard<std::mutex> hold(shard.lock);
  uint32_t value = hostsim::nextFreeReference(shard, index);
  try {
    shard.references.emplace(value, fresh);
  } catch (...) {
    std::free(fresh);
    return HostRuntimeSim_ResultMemoryFull;
  }
  *reference = value;
  *record = fresh;
  return 0;
}

// Lists in ascending order, as one table would: merges the shards, each
// ordered already, under all their locks (taken in shard order). Allocates nothing.
uint32_t HostRuntimeSim_ListReferences(uint32_t* list, uint32_t capacity) {
  using Entries = std::map<uint32_t, ViDazoHx_DataRecord*>;
  hostsim::ReferenceShard* shards = hostState().references;
  std::unique_lock<std::mutex> holds[hostsim::kShards];
  Entries::const_iterator next[hostsim::kShards];
  for (unsigned i = 0; i < hostsim::kShards; ++i) {
    holds[i] = std::unique_lock<std::mutex>(shards[i].lock);
    next[i] = shards[i].references.begin();
  }
  uint32_t total = 0;
  for (;;) {
    unsigned lowest = hostsim::kShards;
    for (unsigned i = 0; i < hostsim::kShards; ++i) {
      if (next[i] == shards[i].references.end()) continue;
      if (lowest == hostsim::kShards || next[i]->first < next[lowest]->first) lowest = i;
    }
    if (lowest == hostsim::kShards) return total;
    if (list != nullptr && total < capacity) list[total] = next[lowest]->first;
    ++next[lowest];
    ++total;
  }
}

ViDazoHx_DataRecord* HostRuntimeSim_ReferenceRecord(uint32_t reference) {
  hostsim::ReferenceShard& shard = hostsim::shardOf(hostState(), reference);
  std::lock_guard<std::mutex> hold(shard.lock);
  return hostsim::findReference(shard, reference);
}

int32_t HostRuntimeSim_ReadReference(uint32_t reference, ViDazoHx_DataRecord* copy) {
  if (copy == nullptr) return HostRuntimeSim_ErrorNullArgument;
  hostsim::ReferenceShard& shard = hostsim::shardOf(hostState(), reference);
  std::lock_guard<std::mutex> hold(shard.lock);
  const ViDazoHx_DataRecord* record = hostsim::findReference(shard, reference);
  if (record == nullptr) return HostRuntimeSim_ErrorUnknownReference;
  *copy = *record;
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
