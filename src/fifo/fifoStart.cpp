// -----------------------------------------------------------------------------
// File: fifoStart.cpp
// -----------------------------------------------------------------------------
//
// getOrCreateFifoState() and ViDazoHx_StartFifo().

#include "fifo/fifoStart.h"

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/callTrace.h"
#include "adapter/forwarding.h"
#include "adapter/status.h"
#include "protons/seam/seam.h"
#include "protons/trace/traceEvents.h"
#include "sessions/registry.h"

namespace {

// fifoStateExists(): the fast path; sessionLock shared, a single map lookup.
bool fifoStateExists(tSessionState& record, uint32_t fifo) {
  tSharedHolder session(*record.sessionLock);
  return record.fifoStates.find(fifo) != nullptr;
}

// createFifoState()
// The shared lock is not upgraded in place, so the record is looked up again
// under the exclusive lock. A record whose members could not be built is
// removed at once, whatever the map's flag says: a record left without its
// mutexes would be locked through null pointers later.
int32_t createFifoState(tSessionState& record, uint32_t fifo) {
  tExclusiveHolder session(*record.sessionLock);
  bool inserted = false;
  tFifoState* state = record.fifoStates.emplace(fifo, &inserted, &record);
  int32_t status = containerCheck(record.fifoStates.allocationFailed());
  if (inserted && state->constructionStatus.isError()) {
    mergeStatus(&status, state->constructionStatus.code);
    record.fifoStates.erase(fifo);
  }
  return status;
}

// startFifo(): ViDazoHx_StartFifo() without the trace. The record step's
// event is written once registryLock is let go.
int32_t startFifo(uint32_t session, uint32_t fifo) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  bool built = false;
  int32_t status = getOrCreateFifoState(session, fifo, &built);
  if (built) traceFifoRecordBuilt(session, fifo, status);
  if (status < 0) return status;
  reachSeam(tSeam::startFifoBeforeLower);
  return lower::StartFifo(routedSession(session), fifo);
}

}  // namespace

int32_t getOrCreateFifoState(uint32_t session, uint32_t fifo, bool* built) {
  tSharedHolder registry(registryLock);
  return ensureFifoState(session, fifo, built);
}

int32_t ensureFifoState(uint32_t session, uint32_t fifo, bool* built) {
  tSessionState* record = lookupSession(session);
  if (record == nullptr) return StatusSessionNotFound;
  if (fifoStateExists(*record, fifo)) return StatusSuccess;
  if (built != nullptr) *built = true;
  return createFifoState(*record, fifo);
}

// ViDazoHx_StartFifo()
// Blocks on registryLock/sessionLock as getOrCreateFifoState() does, then in
// the lower library. The record stays whatever the lower start answers; a
// warning of the record step is not carried into the result.
extern "C" VIDAZOHX_API int32_t ViDazoHx_StartFifo(uint32_t session, uint32_t fifo) {
  if (traceIsOn()) return traceCall<kTraceStartFifo, startFifo>(session, fifo);
  return startFifo(session, fifo);
}
