// -----------------------------------------------------------------------------
// File: fifoStart.h
// -----------------------------------------------------------------------------
//
// Finding or creating the record of a FIFO of a registered session, and the
// start-FIFO export built on it.
#pragma once

#include <cstdint>

// getOrCreateFifoState()
//
// Makes sure the session `session` (exactly as the host passed it) has a
// tFifoState for `fifo`. The common case, a record already present, takes
// registryLock and the sessionLock shared only; creation takes the
// sessionLock exclusively (re-checking, as another caller may have created
// the record meanwhile). Blocks only on those two locks; holds no FIFO mutex.
// Returns 0 (present or created), StatusSessionNotFound (session not
// registered; nothing created), StatusMemoryFull (a node allocation of this
// session's FIFO map failed, now or earlier, and a record had to be created),
// or the failure of building the record (StatusMemoryFull,
// StatusUnexpectedFailure, StatusSyncInitFailed), in which case no record
// remains and the next call tries again. `built` (optional) is set when a
// record had to be built, whether or not that succeeded.
int32_t getOrCreateFifoState(uint32_t session, uint32_t fifo, bool* built = nullptr);

// ensureFifoState()
//
// getOrCreateFifoState() for a caller that holds registryLock shared
// already, so that no close can remove the record before the caller uses
// it. Takes only the sessionLock: a second shared acquisition of
// registryLock nested in the caller's could wait behind a queued exclusive
// acquirer that itself waits for the caller's. Same returns.
int32_t ensureFifoState(uint32_t session, uint32_t fifo, bool* built = nullptr);
