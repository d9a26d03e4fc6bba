// -----------------------------------------------------------------------------
// File: protons/trace/traceEvents.h
// -----------------------------------------------------------------------------
//
// The library's own events, one named function each, for the trace at level
// `all`. Each event point in sessions/ and fifo/ is a single call of one of
// these, made with no library lock held (fields are gathered under the
// lock, the call comes after it is let go). Anything else that wants to see
// the same events (static probes, for instance) belongs in these functions
// too, so that the event points stay one line each.
//
// Off, an event point costs a load of traceLevel and a branch not taken.
#pragma once

#include <cstdint>

#include "protons/trace/trace.h"

// Why the library closed a session on its own account.
enum class tOwnClose : uint8_t { putOffFinished, pendingParent, cleanup, undoOpen };

inline const char* ownCloseName(tOwnClose why) {
  switch (why) {
    case tOwnClose::putOffFinished: return "putOffCloseFinished";
    case tOwnClose::pendingParent: return "pendingParentClosed";
    case tOwnClose::cleanup: return "cleanupClosed";
    case tOwnClose::undoOpen: return "openUndone";
  }
  return "ownClose";
}

// A close answered StatusRegionsOutstanding: regions of the session (or of
// a resource session under it) are lent; the last one given back finishes
// the close.
inline void traceClosePutOff(uint32_t session, uint32_t attribute) {
  if (!traceAt(tTraceLevel::all)) return;
  const tTraceValue values[] = {session, attribute};
  traceEvent("closePutOff", "session attribute", values, 2);
}

// A close the library made on its own account, with what it answered.
inline void traceOwnClose(tOwnClose why, uint32_t session, int32_t status) {
  if (!traceAt(tTraceLevel::all)) return;
  const tTraceValue values[] = {session, status};
  traceEvent(ownCloseName(why), "session status:s", values, 2);
}

// A close found another close of the value between taking the record out
// and its lower close; `waited`: it waited for that one to end.
inline void traceCloseMetCloseInFlight(uint32_t session, bool waited) {
  if (!traceAt(tTraceLevel::all)) return;
  const tTraceValue values[] = {session, static_cast<uint32_t>(waited)};
  traceEvent("closeMetCloseInFlight", "session waited", values, 2);
}

// The host refused a cleanup registration (mode 2: an open's; mode 6: an
// acquisition's), answering `status` once converted.
inline void traceRegistrationRefused(uint32_t session, int32_t mode, int32_t status) {
  if (!traceAt(tTraceLevel::all)) return;
  const tTraceValue values[] = {session, mode, status};
  traceEvent("registrationRefused", "session mode status:s", values, 3);
}

// A FIFO record was built (status 0) or could not be (its failure).
inline void traceFifoRecordBuilt(uint32_t session, uint32_t fifo, int32_t status) {
  if (!traceAt(tTraceLevel::all)) return;
  const tTraceValue values[] = {session, fifo, status};
  traceEvent("fifoRecordBuilt", "session fifo status:s", values, 3);
}

// Regions given back to the lower library by one release, oldest first.
inline void traceRegionsGivenBack(uint32_t session, uint32_t fifo, uint32_t regions, uint32_t elements) {
  if (!traceAt(tTraceLevel::all)) return;
  const tTraceValue values[] = {session, fifo, regions, elements};
  traceEvent("regionsGivenBack", "session fifo regions elements", values, 4);
}

// What an acquisition did beyond the fast path, gathered while it holds its
// FIFO and written by traceAcquisitionNotes() once it has let go.
struct tAcquisitionNotes {
  int64_t waitStartNs = 0;  // first wait for the turn or for elements; 0: none
  uint32_t turnWaits = 0;   // waits for the FIFO's turn (a poll that found it free is none)
  uint32_t retries = 0;     // lower-library attempts repeated: elements still lent, or a wait cut into attempts
  bool fifoRecordBuilt = false;
  int32_t fifoRecordStatus = 0;
  int32_t refusedRegistration = 0;  // the converted answer of a refused mode-6 registration
  bool cancelledByCleanup = false;  // the host's cleanup ended the wait
};

// Notes for the slow paths of an acquisition; `notes` is null unless the
// trace is at `all`.
inline void noteWaitStarts(tAcquisitionNotes* notes, int64_t nowNs) {
  if (notes != nullptr && notes->waitStartNs == 0) notes->waitStartNs = nowNs;
}

// Written after the acquisition let go of its FIFO.
void traceAcquisitionNotes(uint32_t session, uint32_t fifo, const tAcquisitionNotes& notes, int32_t status);
