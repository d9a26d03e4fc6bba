// -----------------------------------------------------------------------------
// File: fifo/release.h
// -----------------------------------------------------------------------------
//
// Giving lent regions back to the lower library, strictly in the order in
// which they were acquired, and finishing a close that was put off while
// they were out. See fifo/DESIGN.md.
#pragma once

#include <cstdint>

#include "ViDazoHx/ViDazoHx.h"
#include "fifo/fifoState.h"

// releaseRegion()
//
// The procedure stored in every reference data record (through
// regionReleaseProcedure, below); the host calls it,
// once per reference and on any thread, with the record's address when it
// disposes of the reference. Gives the region back at once if it is the
// oldest of its FIFO (together with every younger one already let go),
// otherwise only marks it. The record is not read after this returns.
//
// Blocks: only on regionMutex, then inside a close it completes.
// Locks: regionMutex (and the event's mutex inside it); never registryLock,
// a sessionLock or acquireMutex, so it runs while an acquisition waits.
// Returns: 0, or the status of finishPutOffClose() (sessions/close.h) when
// this release emptied the FIFO's list of a session whose close was put off
// (0 when that session was closed meanwhile);
// StatusInvalidParameter for a record that carries no region.
int32_t releaseRegion(uintptr_t dataRecordAddress);

// The procedure acquisitions store in their data records: releaseRegion(),
// or, with the trace at level `all`, the same release reporting the regions
// it gives back.
extern const ViDazoHx_HostProcedure regionReleaseProcedure;

// giveBackReleasedRegions()
//
// Gives back and removes every entry at the front of `state.regions` that is
// marked released, oldest first, one lower-library call per entry with its
// own count, then sets the FIFO's acquireEvent so that a waiting acquisition
// tries again. The caller holds state.regionMutex.
void giveBackReleasedRegions(tFifoState& state);

// giveBackElements()
//
// Returns `count` elements of (session, fifo) to the lower library; its
// status is not looked at: the elements are gone from our books either way.
void giveBackElements(uint32_t session, uint32_t fifo, uint32_t count);
