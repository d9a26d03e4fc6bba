// -----------------------------------------------------------------------------
// File: fifo/guard.h
// -----------------------------------------------------------------------------
//
// The guard that keeps download and reset away from a session while the host
// holds regions of its FIFOs: both would pull the DMA buffers out from under
// elements the host is working on.
#pragma once

#include <cstdint>

// regionsOutstanding()
//
// True when some FIFO of `session` (the value as the host passed it) has a
// region in its list, lent or marked; false when none has or the session is
// not registered. A snapshot: nothing is held once it returns.
// Blocks: briefly, on each FIFO's regionMutex in turn.
// Locks: registryLock and the sessionLock shared, one regionMutex at a time.
bool regionsOutstanding(uint32_t session);
