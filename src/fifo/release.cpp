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
#include "protons/seam/seam.h"
#include "quarks/synchronization.h"
#include "sessions/close.h"
#include "sessions/registry.h"

void giveBackElements(uint32_t session, uint32_t fifo, uint32_t count) {
  lower::ReleaseFifoElements(routedSession(session), fifo, count);
}

void giveBackReleasedRegions(tFifoState& state) {
  while (!state.regions.empty() && state.regions.front()->released) {
    const tRegionEntry* oldest = state.regions.front();
    giveBackElements(oldest->session, oldest->fifo, oldest->elementCount);
    state.regions.popFront();
  }
  state.acquireEvent->set();
}

int32_t releaseRegion(uintptr_t dataRecordAddress) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): host procedures receive their argument as a pointer-sized integer
  const auto* record = reinterpret_cast<const ViDazoHx_DataRecord*>(dataRecordAddress);
  if (record == nullptr || record->regionEntry == nullptr) return StatusInvalidParameter;
  auto* entry = static_cast<tRegionEntry*>(record->regionEntry);
  tFifoState& state = *entry->fifoState;
  const uint32_t session = entry->session;  // the entry may be freed below
  uint64_t generation = 0;
  bool completeClose = false;
  {
    tMutexHolder regionHold(*state.regionMutex);
    entry->released = true;
    if (state.regions.front() != entry) return 0;
    giveBackReleasedRegions(state);
    // Read under regionMutex: a close that found this list busy set the flag
    // under the same mutex, so the last release cannot miss it.
    completeClose = state.regions.empty() && state.owner->closePending.load();
    // The record cannot go while we hold its FIFO's mutex; once we let go,
    // another release or the host may close it, and the lower library may
    // give its value to a new session. The generation tells them apart. A
    // registration may store it meanwhile, under registryLock only.
    generation = state.owner->generation.load(std::memory_order_acquire);
  }
  if (!completeClose) return 0;
  reachSeam(tSeam::releaseBeforeOwnClose);
  // Closing takes registryLock and the FIFO's mutexes: only after ours is gone.
  return finishPutOffClose(session, generation);
}
