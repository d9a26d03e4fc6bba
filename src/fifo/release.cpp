// -----------------------------------------------------------------------------
// File: fifo/release.cpp
// -----------------------------------------------------------------------------
//
// The release procedure the host calls when it disposes of a region's
// reference. The lower library takes elements back only as "the N oldest",
// so a region let go while older ones are still out is only marked, and the
// release that frees the oldest region carries the marked ones back with it.
#include "fifo/release.h"

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/forwarding.h"
#include "adapter/status.h"
#include "protons/probes/probes.h"
#include "protons/seam/seam.h"
#include "protons/trace/traceEvents.h"
#include "quarks/synchronization.h"
#include "sessions/close.h"
#include "sessions/registry.h"

void giveBackElements(uint32_t session, uint32_t fifo, uint32_t count) {
  lower::ReleaseFifoElements(routedSession(session), fifo, count);
}

namespace {

// What one release gave back, for the trace.
struct tGivenBack {
  uint32_t regions = 0;
  uint32_t elements = 0;
};

// giveBackCounting(): giveBackReleasedRegions(), counting into `counted`
// when it is not null. Inlined, so the untraced callers count nothing.
[[gnu::always_inline]] inline void giveBackCounting(tFifoState& state, tGivenBack* counted) {
  while (!state.regions.empty() && state.regions.front()->released) {
    const tRegionEntry* oldest = state.regions.front();
    giveBackElements(oldest->session, oldest->fifo, oldest->elementCount);
    if (counted != nullptr) {
      ++counted->regions;
      counted->elements += oldest->elementCount;
    }
    VIDAZOHX_PROBE(region_given_back, oldest->session, oldest->fifo, oldest->elementCount, state.regions.size());
    state.regions.popFront();
  }
  state.acquireEvent->set();
}

// release(): releaseRegion(), with the regions it gives back reported by
// the trace when `traced`. The count is taken under regionMutex and written
// after it is let go.
[[gnu::always_inline]] inline int32_t release(uintptr_t dataRecordAddress, bool traced) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): host procedures receive their argument as a pointer-sized integer
  const auto* record = reinterpret_cast<const ViDazoHx_DataRecord*>(dataRecordAddress);
  if (record == nullptr || record->regionEntry == nullptr) return StatusInvalidParameter;
  auto* entry = static_cast<tRegionEntry*>(record->regionEntry);
  tFifoState& state = *entry->fifoState;
  const uint32_t session = entry->session;  // the entry may be freed below
  const uint32_t fifo = traced ? entry->fifo : 0;
  tGivenBack givenBack;
  uint64_t generation = 0;
  bool completeClose = false;
  {
    tMutexHolder regionHold(*state.regionMutex);
    entry->released = true;
    if (state.regions.front() != entry) return 0;
    giveBackCounting(state, traced ? &givenBack : nullptr);
    // Read under regionMutex: a close that found this list busy set the flag
    // under the same mutex, so the last release cannot miss it.
    completeClose = state.regions.empty() && state.owner->closePending.load();
    // The record cannot go while we hold its FIFO's mutex; once we let go,
    // another release or the host may close it, and the lower library may
    // give its value to a new session. The generation tells them apart. A
    // registration may store it meanwhile, under registryLock only.
    generation = state.owner->generation.load(std::memory_order_acquire);
  }
  if (traced) traceRegionsGivenBack(session, fifo, givenBack.regions, givenBack.elements);
  if (!completeClose) return 0;
  reachSeam(tSeam::releaseBeforeOwnClose);
  // Closing takes registryLock and the FIFO's mutexes: only after ours is gone.
  return finishPutOffClose(session, generation);
}

int32_t releaseRegionTraced(uintptr_t dataRecordAddress) { return release(dataRecordAddress, true); }

}  // namespace

void giveBackReleasedRegions(tFifoState& state) { giveBackCounting(state, nullptr); }

int32_t releaseRegion(uintptr_t dataRecordAddress) { return release(dataRecordAddress, false); }

// Chosen once, after the trace has read its level at load (its set-up runs
// first, at a higher initialisation priority): the untraced release carries
// no trace code at all.
const ViDazoHx_HostProcedure regionReleaseProcedure =
    traceAt(tTraceLevel::all) ? &releaseRegionTraced : &releaseRegion;
