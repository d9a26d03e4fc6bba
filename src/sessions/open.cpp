// -----------------------------------------------------------------------------
// File: open.cpp
// -----------------------------------------------------------------------------
//
// ViDazoHx_Open() and ViDazoHx_OpenResource(). Both undo a half-done open by
// closing the new session with attribute 1, so that nothing is left open in
// the lower library, registered with the host or recorded here.

#include "ViDazoHx/ViDazoHx.h"
#include "ViDazo/ViDazoDll.h"
#include "adapter/callTrace.h"
#include "adapter/forwarding.h"
#include "adapter/hostRuntime.h"
#include "adapter/status.h"
#include "protons/trace/traceEvents.h"
#include "protons/seam/seam.h"
#include "sessions/close.h"
#include "sessions/registry.h"

namespace {

// loadTimeStatus()
// What every open inherits before it starts: a failure recorded while the
// registry lock was built at load, else StatusMemoryFull once the session
// map has ever failed to allocate (the flag is sticky by design).
int32_t loadTimeStatus() {
  int32_t result = registryLoadStatus.code;
  mergeStatus(&result, containerCheck(sessionRegistry.allocationFailed()));
  return result;
}

// reserveIrqContexts()
// One reservation per announced IRQ context, read once; a negative count
// (more unreservations than reservations) reserves nothing. Stops calling
// the lower library at the first failure.
void reserveIrqContexts(uint32_t session, int32_t* status) {
  const int32_t count = reservedIrqContextCount();
  for (int32_t index = 0; index < count && *status >= 0; ++index) {
    mergeStatus(status, lower::ReserveIrqContext(session, nullptr));
  }
}

// undoOpen(): closes the new session on the library's account and hands the
// failure back; the close's own answer does not change it. `recordIsNew`:
// the record the value has, if any, was made by this open.
int32_t undoOpen(uint32_t session, int32_t status, bool recordIsNew, bool withdrawRegistration,
                 tOpenInFlight* opening = nullptr) {
  undoRefusedOpen(session, recordIsNew, withdrawRegistration, opening);
  traceOwnClose(tOwnClose::undoOpen, session, status);
  return status;
}

// registerOpened(): records the new session and runs again the put-off
// close of a parent that the registration took the value from.
int32_t registerOpened(const uint32_t* sessionOut, uint32_t parent, tRegistration* outcome,
                       tOpenInFlight* opening = nullptr) {
  const int32_t status = registerSession(sessionOut, parent, outcome, opening);
  if (outcome->leftParent != 0) {
    finishPendingParentClose(outcome->leftParent, outcome->leftParentGeneration);  // the open's own outcome stands
  }
  return status;
}

// ViDazoHx_Open()
// Takes no lock of its own; registration blocks on registryLock (exclusive),
// the undo close as ViDazoHx_Close() does. An absent sessionOut is refused
// before anything is opened: the new session could neither be reported nor
// closed again.
int32_t openSession(const char* bitfile, const char* signature, const char* resource, uint32_t attribute,
                    uint32_t* sessionOut) {
  int32_t status = loadTimeStatus();
  if (status < 0) return status;
  if (sessionOut == nullptr) return StatusInvalidParameter;
  const int32_t openStatus = lower::Open(bitfile, signature, resource, attribute, sessionOut);
  mergeStatus(&status, openStatus);
  if (openStatus < 0) return openStatus;

  const uint32_t session = *sessionOut;
  reserveIrqContexts(session, &status);
  // From the cleanup registration to the record the host may run the
  // cleanup procedure, which finds no record: it closes the session below
  // and cancels this open through the mark (HostCancelled, nothing
  // recorded, nothing closed again). The mark names this open, not the
  // value, which the lower library may hand to another open once closed.
  tOpenInFlight opening;
  beginOpenInFlight(opening, session);
  // Registered even when a reservation failed, so the undo close withdraws
  // exactly what every open registers. A refused registration is not
  // withdrawn: where the value kept the record of a session the lower
  // library ended, the newest registration of the value is that session's.
  const int32_t cleanupRegistered = hostSetCleanupProc(sessionCleanupProc, session, kCleanupSessionMode);
  if (cleanupRegistered != StatusSuccess) {
    traceRegistrationRefused(session, kCleanupSessionMode, cleanupRegistered);
    return undoOpen(session, status < 0 ? status : StatusUnexpectedFailure, false, false, &opening);
  }
  reachSeam(tSeam::openAfterCleanupRegistered);
  if (status < 0) return undoOpen(session, status, false, true, &opening);
  // A session that could not be recorded could not start FIFOs or lend
  // regions, so it is not handed out half-usable.
  tRegistration registration;
  const int32_t registered = registerOpened(sessionOut, 0, &registration, &opening);
  if (registered == StatusHostCancelled) return registered;  // the cleanup closed it; the warning is moot
  mergeStatus(&status, registered);
  if (status < 0) return undoOpen(session, status, registration.inserted, true, &opening);
  return status;
}

// ViDazoHx_OpenResource()
// As ViDazoHx_Open(), without IRQ reservations and without a host cleanup
// registration: a resource session is closed by its own close or by its
// parent's. The parent is looked up as the host passed it.
int32_t openResourceSession(uint32_t parent, const char* resource, uint32_t attribute, uint32_t* sessionOut) {
  if (isUnsupportedSession(parent)) return StatusSessionNotSupported;
  if (sessionOut == nullptr) return StatusInvalidParameter;
  int32_t status = ViDazoDll_OpenResource(routedSession(parent), resource, attribute, sessionOut);
  if (status < 0) return status;
  tRegistration registration;
  mergeStatus(&status, registerOpened(sessionOut, parent, &registration));
  if (status < 0) return undoOpen(*sessionOut, status, registration.inserted, false);
  return status;
}

}  // namespace

extern "C" VIDAZOHX_API int32_t ViDazoHx_Open(const char* bitfile, const char* signature, const char* resource,
                                              uint32_t attribute, uint32_t* sessionOut) {
  if (traceIsOn()) {
    return traceCall<kTraceOpen, openSession>(bitfile, signature, resource, attribute, sessionOut);
  }
  return openSession(bitfile, signature, resource, attribute, sessionOut);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_OpenResource(uint32_t parent, const char* resource, uint32_t attribute,
                                                      uint32_t* sessionOut) {
  if (traceIsOn()) {
    return traceCall<kTraceOpenResource, openResourceSession>(parent, resource, attribute, sessionOut);
  }
  return openResourceSession(parent, resource, attribute, sessionOut);
}
