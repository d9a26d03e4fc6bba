// -----------------------------------------------------------------------------
// File: close.cpp
// -----------------------------------------------------------------------------
//
// ViDazoHx_Close() and the host cleanup procedure of a session.
//
// A close never takes regions back from the host and never waits for them:
// while a region of the session, or of any session in its subtree of
// resource sessions, is lent out it refuses with StatusRegionsOutstanding and
// leaves flags behind (closePending on the record whose FIFO is busy,
// closePendingOnChildren on each ancestor kept open by it), so that the last
// release finishes the close without the host asking again.
//
// Each session instance is closed below once, by the close that took its
// record out of the registry. The mark that close keeps until its lower
// close has returned (tCloseInFlight, registry.h) turns every other close
// of the value away meanwhile, so none of them can reach a new session
// that the lower library hands the value to afterwards.

#include "sessions/close.h"

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/callTrace.h"
#include "adapter/forwarding.h"
#include "adapter/hostRuntime.h"
#include "adapter/status.h"
#include "protons/probes/probes.h"
#include "protons/seam/seam.h"
#include "protons/trace/traceEvents.h"
#include "sessions/registry.h"

namespace {

// What the registry part of a close decided.
enum class tRegistryOutcome {
  closable,  // the record is gone (or never existed): close in the lower library
  refused,   // regions are out in the session or below it; flags set
  skipped,   // the record a library's own close named is gone, or a pending
             // parent is no longer ready to close: do nothing
  inFlight,  // no record, but another close of the value is between taking
             // the record out and its lower close: that one closes it
};

// A session as a close sees it: the value and, for a close the library
// starts on its own account, the generation of the record it saw.
struct tCloseTarget {
  uint32_t session;
  uint64_t generation;
};

// A host's close acts on whatever record the value designates. Generations
// start at 1.
constexpr uint64_t kAnyGeneration = 0;
constexpr tCloseTarget kNoParent{0, kAnyGeneration};

// What the registry part of a close leaves for the rest of it.
struct tSettlement {
  tRegistryOutcome outcome;
  tCloseTarget pendingParent;  // a parent whose close waited for its children
  uint64_t otherClose;         // with inFlight: the token of the close under way
  uint64_t generation;         // of the record found (0: none), for the probes
  bool otherCloseIsOurs;       // with inFlight: that close runs on this thread
};

// Who asks for a close, which decides what it does about another close of
// the value in flight, or an open of it not yet recorded.
enum class tCloser {
  host,     // waits for a close in flight (unless its own thread runs it)
  cleanup,  // never waits; closes a session whose open is not recorded yet
  library,  // a put-off close the library finishes: names its record
};

// Why a session instance ended, as the session_closed probe reports it
// (docs/diagnosing.md lists the codes; they never change meaning).
enum tCloseReason : uint32_t {
  kClosedByHost = 1,          // ViDazoHx_Close()
  kClosedByCleanup = 2,       // the host's cleanup procedure
  kPutOffCloseFinished = 3,   // the last release finished a close refused for regions out
  kPendingParentClosed = 4,   // a parent whose close waited for its children, once its subtree is idle
  kFailedOpenUndone = 5,      // an open that failed closed what it had opened
  kClosedWithAncestor = 6,    // an idle descendant closed by its ancestor's close
};

// reportSessionClosed(): the one site of the session_closed probe, however
// the session ended.
VIDAZOHX_ONE_PROBE_SITE void reportSessionClosed(uint32_t session, uint64_t generation, uint32_t attribute,
                                                 tCloseReason reason) {
  VIDAZOHX_PROBE(session_closed, session, generation, attribute, reason);
}

// The seams of a close's window, once registryLock is let go, per kind of
// close: they tell an interleaving test which close it stands in, and the
// reason tells a tracer.
struct tCloseSeams {
  tSeam beforeWithdraw;
  tSeam beforeLowerClose;
  tCloseReason reason;
};
constexpr tCloseSeams kRequestedClose{tSeam::closeBeforeWithdraw, tSeam::closeBeforeLowerClose, kClosedByHost};
constexpr tCloseSeams kCleanupClose{tSeam::closeBeforeWithdraw, tSeam::closeBeforeLowerClose, kClosedByCleanup};
constexpr tCloseSeams kUndoClose{tSeam::closeBeforeWithdraw, tSeam::closeBeforeLowerClose, kFailedOpenUndone};
constexpr tCloseSeams kPutOffClose{tSeam::putOffCloseBeforeWithdraw, tSeam::putOffCloseBeforeLowerClose,
                                   kPutOffCloseFinished};
constexpr tCloseSeams kParentClose{tSeam::parentCloseBeforeWithdraw, tSeam::parentCloseBeforeLowerClose,
                                   kPendingParentClosed};

// fifoHasRegionsOut()
// Takes acquireMutex, which waits for an acquisition under way on this FIFO,
// then regionMutex. closePending is set before regionMutex is let go, so the
// release that empties the list afterwards is sure to see it.
bool fifoHasRegionsOut(tFifoState& fifo, tSessionState& owner) {
  tMutexHolder acquire(*fifo.acquireMutex);
  tMutexHolder region(*fifo.regionMutex);
  if (fifo.regions.empty()) return false;
  owner.closePending.store(true);
  return true;
}

// sweepFifoStates()
// Destroys the idle FIFO records of `record`, in ascending FIFO order, and
// keeps the busy ones. Blocks on the record's sessionLock (exclusive) and on
// each FIFO's acquireMutex. Caller holds registryLock exclusively, so nobody
// can be waiting for the mutexes of a record that is destroyed here.
// Returns true when a FIFO still has regions lent out.
bool sweepFifoStates(tSessionState& record) {
  tExclusiveHolder session(*record.sessionLock);
  bool busy = false;
  uint32_t index = 0;
  while (index < record.fifoStates.size()) {
    if (fifoHasRegionsOut(record.fifoStates.valueAt(index), record)) {
      busy = true;
      ++index;
    } else {
      record.fifoStates.eraseAt(index);
    }
  }
  return busy;
}

bool closeChildren(tSessionState& record);

// subtreeBusy()
// For a descendant: sweeps it and, when its own FIFOs are idle, closes its
// children. A descendant whose own regions are out keeps its children, as
// the session being closed does: its own close later handles them.
bool subtreeBusy(tSessionState& record) {
  if (sweepFifoStates(record)) return true;
  return closeChildren(record);
}

// closeChildren()
// Closes every child subtree of `record` that has nothing lent out, deepest
// first, each session in the lower library with attribute 1, and removes
// their records; a listed value without a record is dropped. Children with
// regions out below them stay, and so does `record`, marked. Caller holds
// registryLock exclusively; the lower library is called with it held.
// Returns true when a child stayed.
bool closeChildren(tSessionState& record) {
  bool busy = false;
  uint32_t index = 0;
  while (index < record.childSessions.size()) {
    const uint32_t child = record.childSessions.at(index);
    tSessionState* childState = lookupSession(child);
    if (childState != nullptr && subtreeBusy(*childState)) {
      record.closePendingOnChildren = true;
      busy = true;
      ++index;
      continue;
    }
    if (childState != nullptr) {
      lower::Close(child, kLibraryCloseAttribute);  // status deliberately ignored
      reportSessionClosed(child, childState->generation, kLibraryCloseAttribute, kClosedWithAncestor);
    }
    record.childSessions.removeAt(index);
    removeSession(child);
  }
  return busy;
}

// detachFromParent()
// Takes `session` off its parent's list. Returns the parent when the
// parent's own close was put off for its children, so that close can run
// again once this one is done (it goes ahead only when nothing in the
// parent's subtree is lent out any more; see markBusyDescendants()); else
// session 0. The parent may have gained children since its close was put
// off: the list need not be empty.
tCloseTarget detachFromParent(tSessionState& record, uint32_t session) {
  tSessionState* parent = record.parentState;
  if (parent == nullptr) return kNoParent;
  parent->childSessions.removeFirst(session);
  if (!parent->closePendingOnChildren) return kNoParent;
  return tCloseTarget{keyOfRecord(parent), parent->generation};
}

// markBusyFifos()
// Whether a FIFO of `record` has regions out, marking the record's close as
// put off (closePending) when one has, without removing idle FIFO records.
// Blocks on the record's sessionLock (shared) and each FIFO's acquireMutex.
// Caller holds registryLock exclusively.
bool markBusyFifos(tSessionState& record) {
  tSharedHolder session(*record.sessionLock);
  bool busy = false;
  for (uint32_t index = 0; index < record.fifoStates.size(); ++index) {
    if (fifoHasRegionsOut(record.fifoStates.valueAt(index), record)) busy = true;
  }
  return busy;
}

// markBusyDescendants()
// Whether a session below `record` still has a region out. Marks each such
// session as a refused close of `record` would (closePending on it,
// closePendingOnChildren on every session between it and `record`), but
// closes and removes nothing: a child opened after `record`'s close was put
// off may be in use, and is closed with `record` only once the whole
// subtree is idle. The marks make the last region of the subtree, whichever
// it is, run `record`'s close again. Blocks as markBusyFifos() does, on
// every FIFO of the subtree. Caller holds registryLock exclusively.
bool markBusyDescendants(tSessionState& record) {
  bool busy = false;
  for (uint32_t index = 0; index < record.childSessions.size(); ++index) {
    tSessionState* child = lookupSession(record.childSessions.at(index));
    if (child == nullptr) continue;
    const bool ownBusy = markBusyFifos(*child);
    const bool belowBusy = markBusyDescendants(*child);
    if (belowBusy) child->closePendingOnChildren = true;
    busy = busy || ownBusy || belowBusy;
  }
  return busy;
}

// settleRegistry()
// The registry part of a close, under registryLock held exclusively: sweep
// the session, close its idle subtree, unlink it from its parent, remove its
// record and mark the close in flight in `flight`. A close on the library's
// own account (a generation given) touches only that record: when it is
// gone, or the value designates a later one, the close is skipped. With
// `onlyPendingParent` the record is touched only while it still waits for
// its children and nothing below it is lent out any more: the whole close
// then runs again, closing the children it gained meanwhile with attribute
// 1; a busy subtree is marked instead (markBusyDescendants()) and the close
// skipped, to run again when its last region comes back. A value without a
// record whose close is in flight is left to that close.
tSettlement settleRegistry(tCloseTarget target, bool onlyPendingParent, tCloseInFlight* flight,
                           tCloser closer = tCloser::library) {
  tExclusiveHolder registry(registryLock);
  tSettlement settled{tRegistryOutcome::closable, kNoParent, 0, 0, false};
  tSessionState* record = lookupSession(target.session);
  if (record != nullptr) settled.generation = record->generation;
  // NOLINTNEXTLINE(bugprone-branch-clone): two different reasons to skip, each in its place in the order above
  if (target.generation != kAnyGeneration && (record == nullptr || record->generation != target.generation)) {
    settled.outcome = tRegistryOutcome::skipped;
  } else if (record == nullptr) {
    settled.otherClose = closeInFlightToken(target.session, &settled.otherCloseIsOurs);
    if (settled.otherClose != 0) {
      settled.outcome = tRegistryOutcome::inFlight;
    } else if (closer == tCloser::cleanup && cancelOpensInFlightOf(target.session)) {
      // An open of the value between its cleanup registration and its
      // record: this cleanup closes that session, marked in flight like a
      // close that took a record out, and the open records nothing.
      beginCloseInFlight(*flight, target.session);
    }
  } else if (onlyPendingParent && (!record->closePendingOnChildren || markBusyDescendants(*record))) {
    settled.outcome = tRegistryOutcome::skipped;
  } else if (sweepFifoStates(*record) || closeChildren(*record)) {
    settled.outcome = tRegistryOutcome::refused;
  } else {
    settled.pendingParent = detachFromParent(*record, target.session);
    removeSession(target.session);
    beginCloseInFlight(*flight, target.session);
  }
  return settled;
}

int32_t closePendingParent(tCloseTarget parent, uint32_t attribute);

// finishClose()
// Runs with no lock held: withdraws the host registration (registered or
// not; its result does not matter) and closes the session in the lower
// library, then ends the close's mark and finishes a parent that only
// waited for this session. Only this close may touch the value until its
// mark ends: a host close meeting it waits and the cleanup procedure leaves
// it alone, so the lower library cannot hand the value to a new session
// before our withdrawal and close are done, unless it ends the session by
// itself (its target went away). Then the new session's registration ends
// our mark, and from that moment the value and the newest cleanup
// registration made for it are the new session's: the one we took out is
// closed below already, and we touch neither. A registration of the ended
// session may then stay behind; when the host runs it, it closes a value
// that has no record, which is harmless, where withdrawing the new
// session's would leave that session for ever open at the host's stop.
int32_t finishClose(uint32_t session, uint32_t attribute, const tSettlement& settled, const tCloseInFlight& flight,
                    const tCloseSeams& seams) {
  const bool marked = flight.token != 0;
  reachSeam(seams.beforeWithdraw);
  if (!marked || closeStillInFlight(flight)) hostSetCleanupProc(sessionCleanupProc, session, kCleanupWithdraw);
  reachSeam(seams.beforeLowerClose);
  int32_t status = StatusSuccess;
  if (!marked || closeStillInFlight(flight)) mergeStatus(&status, lower::Close(session, attribute));
  reportSessionClosed(session, settled.generation, attribute, seams.reason);
  reachSeam(tSeam::closeAfterLowerClose);
  if (marked) endCloseInFlight(flight);
  if (settled.pendingParent.session != 0 && status >= 0) {
    mergeStatus(&status, closePendingParent(settled.pendingParent, attribute));
  }
  return status;
}

// closePendingParent()
// The parent's record is removed here, under registryLock, so no stale record
// outlives the session. Only the record seen while the child was detached
// is closed: a parent the host closed meanwhile, its value perhaps taken by
// a new session since, is left alone. A parent that has regions of its own
// out again, or a session below it that does, is not closed now (the busy
// ones are marked; the last of those regions to come back closes it), and
// that deferral is not the closing child's failure: 0 is returned for it.
int32_t closePendingParent(tCloseTarget parent, uint32_t attribute) {
  tCloseInFlight flight;
  const tSettlement settled = settleRegistry(parent, true, &flight);
  if (settled.outcome != tRegistryOutcome::closable) return StatusSuccess;
  const int32_t status = finishClose(parent.session, attribute, settled, flight, kParentClose);
  traceOwnClose(tOwnClose::pendingParent, parent.session, status);
  return status;
}

// closeOnce()
// A whole close of `target`: the registry part, then, unless refused or
// skipped, the rest. One that meets another close of the value in flight
// leaves the lower library to it: a host's close waits for it (so that the
// session is closed below when it returns), the cleanup procedure does not
// (see waitForCloseInFlight()), nor a close on the thread that runs that
// close (it would wait for itself: a host that closes from inside its own
// RTSetCleanupProc while we withdraw); each answers 0.
int32_t closeOnce(tCloseTarget target, uint32_t attribute, const tCloseSeams& seams, tCloser closer) {
  tCloseInFlight flight;
  const tSettlement settled = settleRegistry(target, false, &flight, closer);
  switch (settled.outcome) {
    case tRegistryOutcome::refused:
      // Reported where the close answers it: a pending parent's close that
      // runs again and finds the parent's own regions out answers nothing,
      // and reporting it would put off one close twice.
      VIDAZOHX_PROBE(close_put_off, target.session, settled.generation);
      traceClosePutOff(target.session, attribute);
      return StatusRegionsOutstanding;
    case tRegistryOutcome::inFlight: {
      const bool waits = closer == tCloser::host && !settled.otherCloseIsOurs;
      traceCloseMetCloseInFlight(target.session, waits);
      if (waits) {
        reachSeam(tSeam::closeBeforeWaitingForCloseInFlight);
        VIDAZOHX_PROBE(close_wait_begin, target.session, settled.otherClose);
        waitForCloseInFlight(settled.otherClose);
        VIDAZOHX_PROBE(close_wait_end, target.session, settled.otherClose);
      }
      return StatusSuccess;
    }
    case tRegistryOutcome::skipped:
      return StatusSuccess;
    case tRegistryOutcome::closable:
      break;
  }
  return finishClose(target.session, attribute, settled, flight, seams);
}

// closeByHost(): ViDazoHx_Close() without the trace.
int32_t closeByHost(uint32_t session, uint32_t attribute) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return closeOnce(tCloseTarget{session, kAnyGeneration}, attribute, kRequestedClose, tCloser::host);
}

}  // namespace

// ViDazoHx_Close()
// Blocks on registryLock (exclusive), on each swept sessionLock and on the
// acquireMutex of every FIFO of the subtree, i.e. until acquisitions under
// way there end; then in the lower library, or until the library's own
// close of the value under way ends. Callable from the release path once it
// has let go of regionMutex. Returns the lower close's status (merged with a
// pending parent's), 0 when another close of the value was under way,
// StatusSessionNotSupported or StatusRegionsOutstanding.
extern "C" VIDAZOHX_API int32_t ViDazoHx_Close(uint32_t session, uint32_t attribute) {
  if (traceIsOn()) return traceCall<kTraceClose, closeByHost>(session, attribute);
  return closeByHost(session, attribute);
}

// finishPutOffClose()
// Blocks as ViDazoHx_Close() does. The session's value is not checked for
// bit 0x2000: it comes from a record, which only a supported value gets.
int32_t finishPutOffClose(uint32_t session, uint64_t generation) {
  const int32_t status =
      closeOnce(tCloseTarget{session, generation}, kLibraryCloseAttribute, kPutOffClose, tCloser::library);
  traceOwnClose(tOwnClose::putOffFinished, session, status);
  return status;
}

int32_t finishPendingParentClose(uint32_t parent, uint64_t generation) {
  return closePendingParent(tCloseTarget{parent, generation}, kLibraryCloseAttribute);
}

// undoRefusedOpen()
// The lower library handed the value out, so a close of it still marked in
// flight has returned below: its mark ends first, and the undo's own close
// then cannot mistake it for a close under way.
// The close of a kept record's value is marked in flight like any other,
// so that a registration of the value, should the lower library end this
// session by itself and hand the value out again meanwhile, keeps us off
// the new session.
// An open that the host's cleanup cancelled in its window leaves the close
// to that cleanup, whose mark must stand; one it did not cancel, with no
// record left for its value, turns its mark into a close in flight.
void undoRefusedOpen(uint32_t session, bool recordIsNew, bool withdrawRegistration, tOpenInFlight* opening) {
  bool closeOnlyBelow = false;
  bool withdraw = withdrawRegistration;
  tCloseInFlight flight;
  {
    tExclusiveHolder registry(registryLock);
    if (opening != nullptr && endOpenInFlight(*opening)) return;
    endClosesInFlightOf(session);
    const bool recorded = lookupSession(session) != nullptr;
    // An open with no record left for its value hands its mark over to a
    // close in flight in this same tenure: the host's cleanup, which may
    // run from here on, then finds that close and leaves the session to it,
    // instead of closing it below a second time. Its host registration goes
    // as a full close would take it, even one the host answered with a
    // warning.
    closeOnlyBelow = recorded ? !recordIsNew : opening != nullptr;
    if (!recorded) withdraw = true;
    if (closeOnlyBelow) beginCloseInFlight(flight, session);
  }
  reachSeam(tSeam::undoBeforeClose);
  if (!closeOnlyBelow) {
    // As ViDazoHx_Close(), told apart only for the probes.
    if (isUnsupportedSession(session)) return;
    closeOnce(tCloseTarget{session, kAnyGeneration}, kLibraryCloseAttribute, kUndoClose, tCloser::host);
    return;
  }
  // A registration of the value since ends our mark: the value, and its
  // host registration, are another session's then.
  if (withdraw && closeStillInFlight(flight)) hostSetCleanupProc(sessionCleanupProc, session, kCleanupWithdraw);
  // Status deliberately ignored: the open's failure is returned.
  if (closeStillInFlight(flight)) lower::Close(session, kLibraryCloseAttribute);
  reportSessionClosed(session, 0, kLibraryCloseAttribute, kFailedOpenUndone);
  endCloseInFlight(flight);
}

// sessionCleanupProc()
// Never waits for a close in flight: that close withdraws this procedure
// before it closes below, and the host may hold that withdrawal until we
// return.
int32_t sessionCleanupProc(uintptr_t session) {
  if (!isUnsupportedSession(static_cast<uint32_t>(session))) {
    const int32_t status = closeOnce(tCloseTarget{static_cast<uint32_t>(session), kAnyGeneration},
                                     kLibraryCloseAttribute, kCleanupClose, tCloser::cleanup);
    traceOwnClose(tOwnClose::cleanup, static_cast<uint32_t>(session), status);
  }
  return StatusSuccess;
}
