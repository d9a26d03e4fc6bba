// -----------------------------------------------------------------------------
// File: fifo/acquire.h
// -----------------------------------------------------------------------------
//
// Region acquisition: lends a run of FIFO elements, still inside the lower
// library's DMA buffer, to the host as an external data value reference.
// Nothing is copied; the host works on the elements in place and gives them
// back by disposing of the reference (fifo/release.h). The life of a region
// and the lock order are described in fifo/DESIGN.md.
#pragma once

#include <atomic>
#include <cstdint>

#include "adapter/forwarding.h"
#include "fifo/fifoState.h"

// An infinite timeout, and a finite one longer than this, is cut into
// attempts of at most this many milliseconds, so that the host's cleanup
// ends a waiting call within one attempt.
constexpr uint32_t kLongestAttemptMs = 3000;

// The per-call flag that the host's cleanup sets while an acquisition waits.
// The host may run its cleanup on any thread, hence atomic.
using tCleanupFlag = std::atomic<uint8_t>;

// remainingWait()
//
// The wait allowed for one attempt of a call that started at
// `startNanoseconds` (monotonic clock): 0 for timeout 0, kLongestAttemptMs
// for an infinite timeout, else what is left of `timeout` in whole
// milliseconds (0 once it is used up). Never blocks; takes no lock.
uint32_t remainingWait(uint32_t timeout, int64_t startNanoseconds);

// setCleanupFlag()
//
// The cleanup procedure registered (mode 6) for the duration of one
// acquisition: the host calls it with the address of that call's
// tCleanupFlag. Stores 1 there and returns 0. Safe from any thread.
int32_t setCleanupFlag(uintptr_t flagAddress);

// lockFifoForAcquisition()
//
// Step between ensuring the FIFO record and waiting on it: under
// registryLock and the session's sessionLock held shared, finds the record, clears `cleanupFlag` and registers setCleanupFlag for it with the
// host (mode 6), then locks the record's acquireMutex before the shared
// locks go, so that a close (which takes them exclusively) cannot destroy
// the record in between.
// Blocks: on the shared locks, then on acquireMutex without limit.
// Returns: 0 with acquireMutex held and *fifoStateOut set; otherwise nothing
// is held or registered: StatusSessionNotFound when the session or its FIFO
// record is not there, or the refused cleanup registration's status. The
// acquisition itself runs the same step inside the registryLock tenure of
// its find-or-create, so no close can come between the two.
int32_t lockFifoForAcquisition(uint32_t session, uint32_t fifo, tCleanupFlag* cleanupFlag,
                               tFifoState** fifoStateOut);

// acquireRegion()
//
// Takes the FIFO's turn, asks the lower library for up to
// `elementsRequested` elements within `timeout`, records the region at the
// back of the FIFO's region list and creates the host reference whose data
// record carries it. Both acquire-region exports end here.
//
// Blocks: on the FIFO's acquireMutex without limit (one acquisition per FIFO
// at a time), then for the turn and inside the lower library within
// `timeout`, in attempts of at most kLongestAttemptMs: an infinite timeout
// retries until the host's cleanup runs, a longer finite one until it runs
// or the timeout is used up.
// Locks: registryLock shared, in one tenure, and the sessionLock for the
// lookup and find-or-create only, then
// acquireMutex for the whole wait, regionMutex while the region's queue
// node is taken (before the lower library is asked) and while the region is
// recorded.
// Returns: 0 or a lower-library warning with a region lent; otherwise
// StatusInvalidParameter, StatusSessionNotFound, StatusAcquireTimedOut,
// StatusHostCancelled, StatusMemoryFull, StatusUnexpectedFailure,
// StatusSyncInitFailed or the lower library's error, with no region lent and
// every element the lower library lent given back (in acquisition order).
// StatusMemoryFull from a region list that cannot grow (now or earlier)
// comes before the lower library is asked: no element is taken.
int32_t acquireRegion(lower::tFifoDirection direction, uint32_t session, uint32_t fifo, uint32_t* referenceOut,
                      uint32_t elementsRequested, int32_t typeCode, uint32_t timeout,
                      uint32_t* elementsAcquiredOut, uint32_t* elementsRemainingOut);
