// registry.h: the session registry: every session opened through this
// library, keyed by its session value, with its FIFO records and its links
// to the resource sessions opened under it.
//
// (Design note on the lock order and the life of a record to be written with
// the implementation.)
#pragma once

#include <atomic>
#include <cstdint>

#include "fifo/fifoState.h"
#include "protons/containers/nothrowContainers.h"
#include "protons/status/stlStatus.h"
#include "quarks/synchronization.h"

struct tSessionState {
  std::atomic<bool> closePending;       // close refused for own regions; the last release finishes it
  tStatus buildStatus;                  // failures while the record and its lock were built
  tSharedExclusiveLock* sessionLock;    // guards fifoStates; null only when its allocation failed
  tOrderedMap<tFifoState> fifoStates;   // FIFO number -> record, created on first use
  tValueList childSessions;             // resource sessions opened under this one, in order
  tSessionState* parentState;           // non-owning; null without a parent
  bool closePendingOnChildren;          // close refused for a child's regions

  tSessionState();
  ~tSessionState();
  tSessionState(const tSessionState&) = delete;
  tSessionState& operator=(const tSessionState&) = delete;
};

// The process-wide registry objects, constructed at load in this order
// before the module entry binds the lower library, destroyed after it.
extern tOrderedMap<tSessionState> sessionRegistry;  // guarded by registryLock
extern tStatus registryLoadStatus;                  // what failed while registryLock was built
extern tSharedExclusiveLock registryLock;

// registerSession(): records the session held in *sessionOut, linked under
// `parent` (0: none). Takes registryLock exclusively. Returns 0,
// StatusMemoryFull, StatusSessionNotFound (unregistered parent) or the
// record's build failure.
int32_t registerSession(const uint32_t* sessionOut, uint32_t parent);

// lookupSession(): the record of `session`, or null. Caller holds registryLock.
tSessionState* lookupSession(uint32_t session);

// removeSession(): unlinks and destroys the record of `session`. Caller holds
// registryLock exclusively.
void removeSession(uint32_t session);
