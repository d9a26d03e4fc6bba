// -----------------------------------------------------------------------------
// File: fifo/guard.cpp
// -----------------------------------------------------------------------------
//
// Download and reset, refused while any region of the session is out. The
// answer is a snapshot: nothing is held between the check and the forwarded
// call, as the host serialises its own use of one session.
#include "fifo/guard.h"

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/callTrace.h"
#include "adapter/forwarding.h"
#include "adapter/status.h"
#include "protons/seam/seam.h"
#include "quarks/synchronization.h"
#include "sessions/registry.h"

namespace {

// guardedForward(): the shared body of download and reset. The session goes
// to the lower library unchanged: these two calls do not take bit 0x4000.
int32_t guardedForward(uint32_t session, int32_t (*forward)(uint32_t)) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (regionsOutstanding(session)) return StatusRegionsOutstanding;
  reachSeam(tSeam::guardBeforeForward);
  return forward(session);
}

int32_t download(uint32_t session) { return guardedForward(session, &lower::Download); }
int32_t reset(uint32_t session) { return guardedForward(session, &lower::Reset); }

}  // namespace

bool regionsOutstanding(uint32_t session) {
  tSharedHolder registryHold(registryLock);
  tSessionState* sessionState = lookupSession(session);
  if (sessionState == nullptr) return false;
  tSharedHolder sessionHold(*sessionState->sessionLock);
  for (uint32_t i = 0; i < sessionState->fifoStates.size(); ++i) {
    tFifoState& fifoState = sessionState->fifoStates.valueAt(i);
    tMutexHolder regionHold(*fifoState.regionMutex);
    if (!fifoState.regions.empty()) return true;
  }
  return false;
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Download(uint32_t session) {
  if (traceIsOn()) return traceCall<kTraceDownload, download>(session);
  return download(session);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Reset(uint32_t session) {
  if (traceIsOn()) return traceCall<kTraceReset, reset>(session);
  return reset(session);
}
