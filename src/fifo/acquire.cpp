// -----------------------------------------------------------------------------
// File: fifo/acquire.cpp
// -----------------------------------------------------------------------------
//
// Region acquisition and the two acquire-region exports. The flow of one
// call: argument checks, FIFO record ensured, cleanup registered and
// acquireMutex taken under the shared registry locks, cycles of "take the
// turn, ask the lower library", turn given back, then the region recorded
// and the reference made under regionMutex. Elements the lower library lent
// that cannot become a region are handed back in acquisition order, never
// ahead of an older region the host still holds (that would give the
// device elements the host is still working on), and never dropped (that
// would stall the FIFO for good).
#include "fifo/acquire.h"

#include <cstddef>

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/callTrace.h"
#include "adapter/hostRuntime.h"
#include "adapter/status.h"
#include "fifo/fifoStart.h"
#include "fifo/fifoState.h"
#include "fifo/release.h"
#include "protons/probes/probes.h"
#include "protons/seam/seam.h"
#include "protons/status/stlStatus.h"
#include "protons/time/monotonicClock.h"
#include "protons/trace/traceEvents.h"
#include "sessions/registry.h"

// The host reads the data record at fixed offsets; a layout drift would hand
// it garbage pointers, so pin it down at compile time.
#if UINTPTR_MAX == 0xFFFFFFFF
static_assert(offsetof(ViDazoHx_DataRecord, regionEntry) == 0, "data record: regionEntry at 0");
static_assert(offsetof(ViDazoHx_DataRecord, kind) == 4, "data record: kind at 4");
static_assert(offsetof(ViDazoHx_DataRecord, elements) == 8, "data record: elements at 8");
static_assert(offsetof(ViDazoHx_DataRecord, elementCount) == 12, "data record: elementCount at 12");
static_assert(offsetof(ViDazoHx_DataRecord, elementSize) == 16, "data record: elementSize at 16");
static_assert(offsetof(ViDazoHx_DataRecord, release) == 52, "data record: release at 52");
#else
static_assert(offsetof(ViDazoHx_DataRecord, regionEntry) == 0, "data record: regionEntry at 0");
static_assert(offsetof(ViDazoHx_DataRecord, kind) == 8, "data record: kind at 8");
static_assert(offsetof(ViDazoHx_DataRecord, elements) == 16, "data record: elements at 16");
static_assert(offsetof(ViDazoHx_DataRecord, elementCount) == 24, "data record: elementCount at 24");
static_assert(offsetof(ViDazoHx_DataRecord, elementSize) == 28, "data record: elementSize at 28");
static_assert(offsetof(ViDazoHx_DataRecord, release) == 64, "data record: release at 64");
#endif

namespace {

constexpr uint32_t kInfiniteTimeout = ViDazoHx_InfiniteTimeout;
constexpr int32_t kRegionRecordKind = 1;

// The exports' modes. Local, so that even a target whose linker does not
// relax GOT loads reaches them with a PC-relative address.
constexpr tAcquireMode kAcquireRead{lower::tFifoDirection::read, false, nullptr};
constexpr tAcquireMode kAcquireWrite{lower::tFifoDirection::write, false, nullptr};

// Everything one acquisition keeps between its steps.
struct tAcquisition {
  lower::tFifoDirection direction;
  uint32_t session;
  uint32_t fifo;
  uint32_t elementsRequested;
  int32_t typeCode;
  uint32_t timeout;
  uint32_t* elementsAcquiredOut;
  uint32_t* elementsRemainingOut;
  int64_t startNanoseconds;  // the stopwatch
  uint32_t elementSize = 0;
  void* elements = nullptr;  // set by the lower library
  tCleanupFlag cleanupFlag{0};
  tFifoState* fifoState = nullptr;
  int32_t status = 0;
  tAcquisitionNotes* notes = nullptr;  // the trace's, at level `all` only; written on slow paths only
};

bool isInfinite(uint32_t timeout) { return timeout == kInfiniteTimeout; }

// lockFifoUnderRegistry(): lockFifoForAcquisition() for a caller that holds
// registryLock shared.
int32_t lockFifoUnderRegistry(uint32_t session, uint32_t fifo, tCleanupFlag* cleanupFlag,
                              tFifoState** fifoStateOut) {
  tSessionState* sessionState = lookupSession(session);
  if (sessionState == nullptr) return StatusSessionNotFound;
  tSharedHolder sessionHold(*sessionState->sessionLock);
  tFifoState* fifoState = sessionState->fifoStates.find(fifo);
  if (fifoState == nullptr) return StatusSessionNotFound;
  // Relaxed: the host hands the registration to its cleanup thread under its
  // own lock, which orders this store before any store of the procedure.
  cleanupFlag->store(0, std::memory_order_relaxed);
  int32_t registered =
      hostSetCleanupProc(&setCleanupFlag, reinterpret_cast<uintptr_t>(cleanupFlag), kCleanupAcquisitionMode);
  if (registered != 0) return registered;
  fifoState->acquireMutex->lock();
  *fifoStateOut = fifoState;
  return 0;
}  // sessionLock released here

// noteRefusal(): passes lockFifoUnderRegistry()'s answer on, noting for the
// trace a cleanup registration the host refused (any failure but
// StatusSessionNotFound).
int32_t noteRefusal(tAcquisition& call, int32_t locked) {
  if (locked != 0 && locked != StatusSessionNotFound && call.notes != nullptr) call.notes->refusedRegistration = locked;
  return locked;
}

// noteWait(): for the trace, a wait for the turn (`turn`) or another lower
// attempt, the wait having begun `waitedMs` ago (a lower attempt that ran
// out of its whole wait: the first of them is part of how long the call
// waited). Slow paths only.
void noteWait(tAcquisition& call, bool turn, uint32_t waitedMs = 0) {
  if (call.notes == nullptr) return;
  const auto waitedNs =
      static_cast<int64_t>(convertDuration(waitedMs, tDurationUnit::milliseconds, tDurationUnit::nanoseconds));
  noteWaitStarts(call.notes, monotonicNanoseconds() - waitedNs);
  ++(turn ? call.notes->turnWaits : call.notes->retries);
}

// enterFifo(): ensures the FIFO record and locks its acquireMutex. The
// record almost always exists already, so the lookup is tried first and the
// find-or-create runs only when it is missing. One shared tenure of
// registryLock covers the find-or-create and the second lookup: a close,
// even one refused for regions out elsewhere, removes idle FIFO records and
// would otherwise answer StatusSessionNotFound for an open session. A
// session closed before the tenure gives StatusSessionNotFound with nothing
// held.
int32_t enterFifo(tAcquisition& call) {
  tSharedHolder registryHold(registryLock);
  int32_t entered = lockFifoUnderRegistry(call.session, call.fifo, &call.cleanupFlag, &call.fifoState);
  if (entered != StatusSessionNotFound) return noteRefusal(call, entered);
  bool built = false;
  int32_t ensured = ensureFifoState(call.session, call.fifo, &built);
  if (built && call.notes != nullptr) {
    call.notes->fifoRecordBuilt = true;
    call.notes->fifoRecordStatus = ensured;
  }
  if (ensured < 0) return ensured;
  call.status = ensured;
  reachSeam(tSeam::acquireAfterEnsure);
  return noteRefusal(call, lockFifoUnderRegistry(call.session, call.fifo, &call.cleanupFlag, &call.fifoState));
}

// attemptWait(): the wait one turn wait or one lower call may take: what is
// left of the call's timeout, but at most kLongestAttemptMs, so that a long
// wait comes back to read the cleanup flag. Only a wait of a whole attempt
// (always, for an infinite timeout) is tried again when it runs out.
uint32_t attemptWait(const tAcquisition& call) {
  const uint32_t left = remainingWait(call.timeout, call.startNanoseconds);
  return left < kLongestAttemptMs ? left : kLongestAttemptMs;
}

// tryAgain(): whether a wait of `wait` ms that ran out leaves the call
// another cycle: it was a whole attempt and time is left. Reads the clock
// only then, and only for a finite timeout.
bool tryAgain(const tAcquisition& call, uint32_t wait) {
  if (wait != kLongestAttemptMs) return false;
  return isInfinite(call.timeout) || remainingWait(call.timeout, call.startNanoseconds) != 0;
}

enum class tTurn { taken, timedOut, attemptEnded, failed };

// takeTurn(): waits for the FIFO's acquireEvent within attemptWait(). The
// turn is almost always free, so it is polled first and the clock is read
// only when the call really has to wait. With no wait left (timeout 0, or a
// finite timeout used up) the poll was the whole wait: it is not repeated.
// A whole attempt that runs out while time is left is attemptEnded, not
// timedOut. The wait's own failure lands in the call's status through the
// scoped record; the caller then decides what it means.
tTurn takeTurn(tAcquisition& call) {
  tStatus pollStatus;
  if (call.fifoState->acquireEvent->waitFor(0, pollStatus)) return tTurn::taken;
  const uint32_t wait = attemptWait(call);
  if (wait == 0) return tTurn::timedOut;
  noteWait(call, true);
  tKelAutoStatus waitStatus(&call.status);
  VIDAZOHX_PROBE(turn_wait_begin, call.session, call.fifo, wait);
  const bool taken = call.fifoState->acquireEvent->waitFor(wait, waitStatus);
  VIDAZOHX_PROBE(turn_wait_end, call.session, call.fifo, taken);
  if (taken) return tTurn::taken;
  if (waitStatus.code != StatusTimedOut) return tTurn::failed;
  return tryAgain(call, wait) ? tTurn::attemptEnded : tTurn::timedOut;
}

// attemptLower(): one lower-library acquisition waiting at most `wait` ms.
int32_t attemptLower(tAcquisition& call, uint32_t wait) {
  VIDAZOHX_PROBE(elements_wait_begin, call.session, call.fifo, call.elementsRequested, wait);
  const int32_t status = lower::acquireFifoElements(call.direction, call.typeCode, routedSession(call.session),
                                                    call.fifo, &call.elements, call.elementsRequested, wait,
                                                    call.elementsAcquiredOut, call.elementsRemainingOut);
  VIDAZOHX_PROBE(elements_wait_end, call.session, call.fifo, status);
  return status;
}

// runCycles(): cycles of "take the turn, ask the lower library" until one
// ends the acquisition. The cleanup flag is read only at the top of a cycle;
// no wait of a cycle is longer than kLongestAttemptMs, so the host's cleanup
// ends any wait, finite or not, within one attempt of each kind. -61219 and
// -50400 are answered only once the whole timeout is used up.
// Caller holds acquireMutex.
void runCycles(tAcquisition& call) {
  bool holdsTurn = false;
  for (;;) {
    if (call.cleanupFlag.load() != 0) {
      if (call.notes != nullptr) call.notes->cancelledByCleanup = true;
      mergeStatus(&call.status, StatusHostCancelled);
      return;
    }
    if (!holdsTurn) {
      tTurn turn = takeTurn(call);
      if (turn == tTurn::timedOut) {
        call.status = StatusAcquireTimedOut;
        return;
      }
      if (turn == tTurn::attemptEnded) {
        call.status = 0;
        continue;
      }
      if (turn == tTurn::failed) {
        // A broken condition wait: report it rather than record a region
        // from a count the lower library never set.
        mergeStatus(&call.status, StatusUnexpectedFailure);
        return;
      }
    }
    holdsTurn = false;
    reachSeam(tSeam::acquireBeforeLower);
    const uint32_t wait = attemptWait(call);
    int32_t lowerStatus = attemptLower(call, wait);
    mergeStatus(&call.status, lowerStatus);
    if (lowerStatus == StatusAcquireTimedOut) {
      // Elements are still out: only a release (which sets the turn) can
      // make room, so wait for the turn again.
      call.status = 0;
      noteWait(call, false);
      continue;
    }
    if (lowerStatus == StatusFifoTimeout && tryAgain(call, wait)) {
      call.status = 0;
      holdsTurn = true;  // nothing went back, the turn is still ours
      noteWait(call, false, wait);
      continue;
    }
    return;
  }
}

// fillDataRecord(): what the host reads from the reference.
void fillDataRecord(ViDazoHx_DataRecord* record, tRegionEntry* entry, const tAcquisition& call, uint32_t count) {
  record->regionEntry = entry;
  record->kind = kRegionRecordKind;
  record->elements = call.elements;
  record->elementCount = count;
  record->elementSize = call.elementSize;
  record->release = regionReleaseProcedure;
}

// giveBackUnlent(): the lower library lent `count` elements that did not
// become a region. They go back at once when no older region of the FIFO is
// out; otherwise right behind the older ones: the entry stays marked
// released, or, when no entry could be added, the count rides on the
// youngest entry. Caller holds regionMutex.
void giveBackUnlent(tFifoState& state, tRegionEntry* entry, const tAcquisition& call, uint32_t count) {
  if (entry != nullptr) {
    entry->released = true;
    if (state.regions.front() == entry) giveBackReleasedRegions(state);
    return;
  }
  if (state.regions.empty()) {
    if (count != 0) giveBackElements(call.session, call.fifo, count);
    return;
  }
  state.regions.back()->elementCount += count;
}

// reserveRegionNode(): the region's queue node is had before the lower
// library is asked for elements. A list that cannot grow then refuses the
// call with no element taken: elements taken only to be handed back unseen
// would be lost from a target-to-host stream on every call. Caller holds
// acquireMutex, so no other acquisition can take the node. regionMutex is
// taken only when a node must be made: a region cycle holds it once on each
// side.
bool reserveRegionNode(tFifoState& state) { return state.regions.reserveNode(*state.regionMutex); }

// recordRegion(): appends the entry and makes the host reference, or hands
// the elements back when either fails. Caller holds acquireMutex; takes
// regionMutex.
void recordRegion(tAcquisition& call, uint32_t* referenceOut) {
  tFifoState& state = *call.fifoState;
  tMutexHolder regionHold(*state.regionMutex);
  const uint32_t count = *call.elementsAcquiredOut;
  tRegionEntry* entry = state.regions.pushBack(tRegionEntry{call.session, call.fifo, count, &state, false});
  mergeStatus(&call.status, containerCheck(state.regions.allocationFailed()));
  ViDazoHx_DataRecord* record = nullptr;
  if (call.status >= 0) mergeStatus(&call.status, hostCreateReference(referenceOut, &record));
  if (call.status >= 0) {
    fillDataRecord(record, entry, call, count);
    VIDAZOHX_PROBE(region_acquired, call.session, call.fifo, count, state.regions.size());
    return;
  }
  giveBackUnlent(state, entry, call, count);
}

// acquireWithNotes(): the acquisition as the trace runs it; at level `all`
// its events are written once the FIFO is let go, before the return line.
int32_t acquireWithNotes(lower::tFifoDirection direction, uint32_t session, uint32_t fifo, uint32_t* referenceOut,
                         uint32_t elementsRequested, int32_t typeCode, uint32_t timeout,
                         uint32_t* elementsAcquiredOut, uint32_t* elementsRemainingOut) {
  tAcquisitionNotes notes;
  const bool noted = traceAt(tTraceLevel::all);
  const tAcquireMode mode{direction, true, noted ? &notes : nullptr};
  const int32_t status = acquireRegion(mode, session, fifo, referenceOut, elementsRequested, typeCode, timeout,
                                       elementsAcquiredOut, elementsRemainingOut);
  if (noted) traceAcquisitionNotes(session, fifo, notes, status);
  return status;
}

// The two exports' work as traceCall() runs it, with the export's own
// arguments.
int32_t acquireReadWork(uint32_t session, uint32_t fifo, uint32_t* referenceOut, uint32_t elementsRequested,
                        int32_t typeCode, int32_t /*ignored*/, uint32_t timeout, uint32_t* elementsAcquiredOut,
                        uint32_t* elementsRemainingOut) {
  return acquireWithNotes(lower::tFifoDirection::read, session, fifo, referenceOut, elementsRequested, typeCode,
                          timeout, elementsAcquiredOut, elementsRemainingOut);
}

int32_t acquireWriteWork(uint32_t session, uint32_t fifo, uint32_t* referenceOut, uint32_t elementsRequested,
                         int32_t typeCode, int32_t /*ignored*/, uint32_t timeout, uint32_t* elementsAcquiredOut,
                         uint32_t* elementsRemainingOut) {
  return acquireWithNotes(lower::tFifoDirection::write, session, fifo, referenceOut, elementsRequested, typeCode,
                          timeout, elementsAcquiredOut, elementsRemainingOut);
}

// acquireTraced(): an untraced acquireRegion() with the trace on, reported
// as the export's call. Out of line and cold, taking acquireRegion()'s own
// arguments, so that the check costs the untraced call a compare and a
// branch.
[[gnu::cold, gnu::noinline]] int32_t acquireTraced(const tAcquireMode& mode, uint32_t session, uint32_t fifo,
                                                   uint32_t* referenceOut, uint32_t elementsRequested,
                                                   int32_t typeCode, uint32_t timeout,
                                                   uint32_t* elementsAcquiredOut, uint32_t* elementsRemainingOut) {
  if (mode.direction == lower::tFifoDirection::read) {
    return traceCall<kTraceAcquireRead, acquireReadWork>(session, fifo, referenceOut, elementsRequested, typeCode, 0,
                                                         timeout, elementsAcquiredOut, elementsRemainingOut);
  }
  return traceCall<kTraceAcquireWrite, acquireWriteWork>(session, fifo, referenceOut, elementsRequested, typeCode, 0,
                                                         timeout, elementsAcquiredOut, elementsRemainingOut);
}

}  // namespace

uint32_t remainingWait(uint32_t timeout, int64_t startNanoseconds) {
  if (timeout == 0) return 0;
  if (isInfinite(timeout)) return kLongestAttemptMs;
  uint64_t elapsedNs = static_cast<uint64_t>(monotonicNanoseconds() - startNanoseconds);
  uint32_t elapsedMs = static_cast<uint32_t>(
      convertDuration(elapsedNs, tDurationUnit::nanoseconds, tDurationUnit::milliseconds));
  return elapsedMs < timeout ? timeout - elapsedMs : 0;
}

int32_t lockFifoForAcquisition(uint32_t session, uint32_t fifo, tCleanupFlag* cleanupFlag,
                               tFifoState** fifoStateOut) {
  tSharedHolder registryHold(registryLock);
  return lockFifoUnderRegistry(session, fifo, cleanupFlag, fifoStateOut);
}

int32_t setCleanupFlag(uintptr_t flagAddress) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): host procedures receive their argument as a pointer-sized integer
  reinterpret_cast<tCleanupFlag*>(flagAddress)->store(1);
  return 0;
}

int32_t acquireRegion(const tAcquireMode& mode, uint32_t session, uint32_t fifo, uint32_t* referenceOut,
                      uint32_t elementsRequested, int32_t typeCode, uint32_t timeout,
                      uint32_t* elementsAcquiredOut, uint32_t* elementsRemainingOut) {
  if (traceIsOn() && !mode.traced) {
    return acquireTraced(mode, session, fifo, referenceOut, elementsRequested, typeCode, timeout,
                         elementsAcquiredOut, elementsRemainingOut);
  }
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  // The stopwatch is read only by remainingWait() of a finite, non-zero
  // timeout; other calls skip the clock read.
  const bool timed = timeout != 0 && !isInfinite(timeout);
  const int64_t start = timed ? monotonicNanoseconds() : 0;
  tAcquisition call{mode.direction, session, fifo, elementsRequested, typeCode, timeout, elementsAcquiredOut,
                    elementsRemainingOut, start};
  call.notes = mode.notes;
  if (referenceOut == nullptr) return StatusInvalidParameter;
  *referenceOut = 0;
  call.elementSize = elementSizeOf(typeCode);
  if (call.elementSize == 0 || elementsAcquiredOut == nullptr) return StatusInvalidParameter;

  if (mergeStatus(&call.status, enterFifo(call)) < 0) return call.status;

  if (elementsRequested != 0 && !reserveRegionNode(*call.fifoState)) {
    mergeStatus(&call.status, StatusMemoryFull);
  } else {
    runCycles(call);
    call.fifoState->acquireEvent->set();  // give the turn back
  }
  hostSetCleanupProc(nullptr, 0, kCleanupAcquisitionMode);

  if (elementsRequested != 0 && call.status >= 0) recordRegion(call, referenceOut);
  call.fifoState->acquireMutex->unlock();
  return call.status;
}

// The exports hand their work to acquireRegion(), whose first step is the
// trace's check: here it would cost the forwarding of nine arguments.
extern "C" VIDAZOHX_API int32_t ViDazoHx_AcquireFifoReadRegionScalar(
    uint32_t session, uint32_t fifo, uint32_t* referenceOut, uint32_t elementsRequested, int32_t typeCode,
    int32_t /*ignored*/, uint32_t timeout, uint32_t* elementsAcquiredOut, uint32_t* elementsRemainingOut) {
  return acquireRegion(kAcquireRead, session, fifo, referenceOut, elementsRequested, typeCode,
                       timeout, elementsAcquiredOut, elementsRemainingOut);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_AcquireFifoWriteRegionScalar(
    uint32_t session, uint32_t fifo, uint32_t* referenceOut, uint32_t elementsRequested, int32_t typeCode,
    int32_t /*ignored*/, uint32_t timeout, uint32_t* elementsAcquiredOut, uint32_t* elementsRemainingOut) {
  return acquireRegion(kAcquireWrite, session, fifo, referenceOut, elementsRequested, typeCode,
                       timeout, elementsAcquiredOut, elementsRemainingOut);
}
