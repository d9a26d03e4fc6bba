// -----------------------------------------------------------------------------
// File: registry.cpp
// -----------------------------------------------------------------------------
//
// The process-wide registry objects, session records and registration.

#include "sessions/registry.h"

#include "adapter/status.h"
#include "protons/cppNewDelete/memoryAllocation.h"
#include "protons/status/statusCodes.h"

// The module-entry object (init_priority 200) binds the lower library when it
// is constructed and unbinds it when destroyed. These three must already exist
// then and must outlive it, so they come first (lower number) and, sharing one
// priority in one file, are built in the order written and destroyed in
// reverse: the lock before the status it reports into, the map last.
tOrderedMap<tSessionState> sessionRegistry __attribute__((init_priority(150)));
tStatus registryLoadStatus __attribute__((init_priority(150)));
tSharedExclusiveLock registryLock __attribute__((init_priority(150)))(registryLoadStatus);

namespace {

// The generation of the last record registered; guarded by registryLock.
uint64_t lastGeneration = 0;

// True when `candidate` is `record` or lies above it on its parent chain:
// linking `record` under `candidate` would then make a session its own
// ancestor, and closing it would never end.
bool isSelfOrAncestor(const tSessionState* candidate, const tSessionState* record) {
  for (const tSessionState* state = candidate; state != nullptr; state = state->parentState) {
    if (state == record) return true;
  }
  return false;
}

// linkToParent()
// Appends `session` to the parent's child list and, only when that worked,
// points the record at the parent. A registered value linked again moves:
// it leaves its former parent's list and is listed once under the new one,
// so the lists always match parentState and the ancestor check, which
// follows parentState, keeps the lists free of cycles too (a cycle there
// made the close recurse until the stack ran out). A failed link leaves the value in no new
// list: the lower library may later hand it to an unrelated session, which
// the parent's close would then close. The list's failure flag is sticky, so
// a value appended after an earlier failure is taken out again. Caller holds
// registryLock exclusively.
int32_t linkToParent(tSessionState& record, uint32_t session, uint32_t parent) {
  tSessionState* parentState = lookupSession(parent);
  if (parentState == nullptr) return StatusSessionNotFound;
  if (isSelfOrAncestor(parentState, &record)) return StatusInvalidParameter;
  if (record.parentState == parentState) return StatusSuccess;  // listed there already
  tValueList& children = parentState->childSessions;
  const bool appended = children.append(session);
  int32_t status = containerCheck(children.allocationFailed());
  if (status < 0) {
    if (appended) children.removeAt(children.size() - 1);
    return status;
  }
  if (record.parentState != nullptr) record.parentState->childSessions.removeFirst(session);
  record.parentState = parentState;
  return StatusSuccess;
}

// unlinkFromParent()
// A registered value registered again without a parent is one now: it
// leaves its former parent's list, whose close would otherwise close the
// unrelated session that got the value. Caller holds registryLock
// exclusively.
void unlinkFromParent(tSessionState& record, uint32_t session) {
  if (record.parentState == nullptr) return;
  record.parentState->childSessions.removeFirst(session);
  record.parentState = nullptr;
}

// discardUnbuiltRecord()
// A record whose lock could not be built never stays: nothing could lock it.
// A value it already put into its parent's list goes with it, so that no
// list holds a value that a later, unrelated session might take.
void discardUnbuiltRecord(tSessionState& record, uint32_t session, int32_t* status) {
  mergeStatus(status, record.buildStatus.code);
  if (record.parentState != nullptr) record.parentState->childSessions.removeFirst(session);
  removeSession(session);
}

}  // namespace

// tSessionState::tSessionState()
// Never throws. Container head failures and the lock's allocation or
// construction failure land in buildStatus; registerSession() checks it.
tSessionState::tSessionState()
    : closePending(false),
      buildStatus(),
      sessionLock(nullptr),
      fifoStates(),
      childSessions(),
      parentState(nullptr),
      closePendingOnChildren(false),
      generation(0) {
  offerContainerCheck(fifoStates.allocationFailed() || childSessions.allocationFailed(), buildStatus);
  sessionLock = createObject<tSharedExclusiveLock>(buildStatus);
}

// tSessionState::~tSessionState()
// The lock first, then (as members, in reverse order) the child list and the
// FIFO records. Child sessions themselves are not touched.
tSessionState::~tSessionState() { destroyObject(sessionLock); }

tSessionState* lookupSession(uint32_t session) { return sessionRegistry.find(session); }

void removeSession(uint32_t session) {
  tSessionState* record = sessionRegistry.find(session);
  if (record == nullptr) return;
  for (uint32_t index = 0; index < sessionRegistry.size(); ++index) {
    tSessionState& other = sessionRegistry.valueAt(index);
    if (other.parentState == record) other.parentState = nullptr;
  }
  sessionRegistry.erase(session);
}

// registerSession()
// Blocks on registryLock (exclusive). Once the map's node allocation has
// failed its flag stays set, and every registration reports
// StatusMemoryFull from then on, even when its own insertion worked.
int32_t registerSession(const uint32_t* sessionOut, uint32_t parent) {
  tExclusiveHolder registry(registryLock);
  const uint32_t session = *sessionOut;
  bool inserted = false;
  tSessionState* record = sessionRegistry.emplace(session, &inserted);
  if (inserted) record->generation = ++lastGeneration;
  int32_t status = containerCheck(sessionRegistry.allocationFailed());
  if (status >= 0 && parent != 0) mergeStatus(&status, linkToParent(*record, session, parent));
  if (status >= 0 && parent == 0) unlinkFromParent(*record, session);
  if (record != nullptr && record->buildStatus.isError()) discardUnbuiltRecord(*record, session, &status);
  return status;
}
