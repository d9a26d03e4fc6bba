// -----------------------------------------------------------------------------
// File: protons/trace/traceEvents.cpp
// -----------------------------------------------------------------------------
//
// The events an acquisition gathers while it holds its FIFO, written once it
// has let go (see traceEvents.h).

#include "protons/trace/traceEvents.h"

#include "protons/time/monotonicClock.h"

// traceAcquisitionNotes(): one line per kind of event the acquisition met,
// in the order they happen in a call. Does not block beyond the writes.
void traceAcquisitionNotes(uint32_t session, uint32_t fifo, const tAcquisitionNotes& notes, int32_t status) {
  if (notes.fifoRecordBuilt) traceFifoRecordBuilt(session, fifo, notes.fifoRecordStatus);
  if (notes.refusedRegistration != 0) {
    traceRegistrationRefused(session, 6, notes.refusedRegistration);
  }
  if (notes.waitStartNs != 0) {
    const tTraceValue values[] = {session, fifo, monotonicNanoseconds() - notes.waitStartNs, notes.turnWaits,
                                  notes.retries, status};
    traceEvent("acquisitionWaited", "session fifo waitedNs turnWaits retries status:s", values, 6);
  }
  if (notes.cancelledByCleanup) {
    const tTraceValue values[] = {session, fifo};
    traceEvent("cleanupEndedWait", "session fifo", values, 2);
  }
}
