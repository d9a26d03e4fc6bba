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

#include "sessions/close.h"

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/forwarding.h"
#include "adapter/hostRuntime.h"
#include "adapter/status.h"
#include "protons/seam/seam.h"
#include "sessions/registry.h"

namespace {

// What the registry part of a close decided.
enum class tRegistryOutcome {
  closable,  // the record is gone (or never existed): close in the lower library
  refused,   // regions are out in the session or below it; flags set
  skipped,   // the record a library's own close named is gone, or a pending
             // parent is no longer ready to close: do nothing
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
    if (childState != nullptr) lower::Close(child, kLibraryCloseAttribute);  // status deliberately ignored
    record.childSessions.removeAt(index);
    removeSession(child);
  }
  return busy;
}

// keyOf(): the session value of a record, found by walking the registry in
// ascending order (records do not carry their own value). 0 when absent.
uint32_t keyOf(const tSessionState* record) {
  for (uint32_t index = 0; index < sessionRegistry.size(); ++index) {
    if (&sessionRegistry.valueAt(index) == record) return sessionRegistry.keyAt(index);
  }
  return 0;
}

// detachFromParent()
// Takes `session` off its parent's list. Returns the parent when the
// parent's own close was put off for its children and this was the last
// one, so that close can be finished now; else session 0.
tCloseTarget detachFromParent(tSessionState& record, uint32_t session) {
  tSessionState* parent = record.parentState;
  if (parent == nullptr) return tCloseTarget{0, kAnyGeneration};
  parent->childSessions.removeFirst(session);
  if (!parent->closePendingOnChildren || !parent->childSessions.empty()) return tCloseTarget{0, kAnyGeneration};
  return tCloseTarget{keyOf(parent), parent->generation};
}

// settleRegistry()
// The registry part of a close, under registryLock held exclusively: sweep
// the session, close its idle subtree, unlink it from its parent and remove
// its record. A close on the library's own account (a generation given)
// touches only that record: when it is gone, or the value designates a later
// one, the close is skipped. With `onlyPendingParent` the record is touched
// only while it still waits for its children and has none left; a parent
// that gained a child since is skipped (the later event finishes it).
tRegistryOutcome settleRegistry(tCloseTarget target, bool onlyPendingParent, tCloseTarget* pendingParent) {
  tExclusiveHolder registry(registryLock);
  tSessionState* record = lookupSession(target.session);
  if (target.generation != kAnyGeneration && (record == nullptr || record->generation != target.generation)) {
    return tRegistryOutcome::skipped;
  }
  if (record == nullptr) return tRegistryOutcome::closable;
  if (onlyPendingParent && (!record->closePendingOnChildren || !record->childSessions.empty())) {
    return tRegistryOutcome::skipped;
  }
  if (sweepFifoStates(*record)) return tRegistryOutcome::refused;
  if (closeChildren(*record)) return tRegistryOutcome::refused;
  *pendingParent = detachFromParent(*record, target.session);
  removeSession(target.session);
  return tRegistryOutcome::closable;
}

int32_t closePendingParent(tCloseTarget parent, uint32_t attribute);

// finishClose()
// Runs with no lock held: withdraws the host registration (registered or
// not; its result does not matter) and closes the session in the lower
// library, then a parent that only waited for this session.
int32_t finishClose(uint32_t session, uint32_t attribute, tCloseTarget pendingParent) {
  reachSeam(tSeam::closeBeforeLowerClose);
  hostSetCleanupProc(sessionCleanupProc, session, kCleanupWithdraw);
  int32_t status = StatusSuccess;
  mergeStatus(&status, lower::Close(session, attribute));
  if (pendingParent.session == 0 || status < 0) return status;
  reachSeam(tSeam::closeBeforePendingParent);
  mergeStatus(&status, closePendingParent(pendingParent, attribute));
  return status;
}

// closePendingParent()
// The parent's record is removed here, under registryLock, so no stale record
// outlives the session. Only the record seen while the child was detached
// is closed: a parent the host closed meanwhile, its value perhaps taken by
// a new session since, is left alone. A parent that has regions of its own
// out again is not closed now (closePending is set; its last release closes
// it), and that deferral is not the closing child's failure: 0 is returned
// for it.
int32_t closePendingParent(tCloseTarget parent, uint32_t attribute) {
  tCloseTarget grandparent{0, kAnyGeneration};
  if (settleRegistry(parent, true, &grandparent) != tRegistryOutcome::closable) return StatusSuccess;
  return finishClose(parent.session, attribute, grandparent);
}

}  // namespace

// ViDazoHx_Close()
// Blocks on registryLock (exclusive), on each swept sessionLock and on the
// acquireMutex of every FIFO of the subtree, i.e. until acquisitions under
// way there end; then in the lower library. Callable from the release path
// once it has let go of regionMutex. Returns the lower close's status
// (merged with a pending parent's), StatusSessionNotSupported or
// StatusRegionsOutstanding.
extern "C" VIDAZOHX_API int32_t ViDazoHx_Close(uint32_t session, uint32_t attribute) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  tCloseTarget pendingParent{0, kAnyGeneration};
  if (settleRegistry(tCloseTarget{session, kAnyGeneration}, false, &pendingParent) == tRegistryOutcome::refused) {
    return StatusRegionsOutstanding;
  }
  return finishClose(session, attribute, pendingParent);
}

// finishPutOffClose()
// Blocks as ViDazoHx_Close() does. The session's value is not checked for
// bit 0x2000: it comes from a record, which only a supported value gets.
int32_t finishPutOffClose(uint32_t session, uint64_t generation) {
  tCloseTarget pendingParent{0, kAnyGeneration};
  switch (settleRegistry(tCloseTarget{session, generation}, false, &pendingParent)) {
    case tRegistryOutcome::refused:
      return StatusRegionsOutstanding;
    case tRegistryOutcome::skipped:
      return StatusSuccess;
    case tRegistryOutcome::closable:
      break;
  }
  return finishClose(session, kLibraryCloseAttribute, pendingParent);
}

int32_t sessionCleanupProc(uintptr_t session) {
  ViDazoHx_Close(static_cast<uint32_t>(session), kLibraryCloseAttribute);
  return StatusSuccess;
}
