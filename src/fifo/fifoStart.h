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
// remains and the next call tries again.
int32_t getOrCreateFifoState(uint32_t session, uint32_t fifo);
