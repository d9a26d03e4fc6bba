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
// Manual reset: set whenever a close in flight ends, reset by a waiter that
// still sees its close linked, both under registryLock.
tEvent closeInFlightEnded __attribute__((init_priority(150)))(false, false, registryLoadStatus);

namespace {

// The generation of the last record registered; guarded by registryLock.
uint64_t lastGeneration = 0;

// The closes in flight, newest first, and the token of the last one begun;
// guarded by registryLock.
tCloseInFlight* closesInFlight = nullptr;
uint64_t lastCloseToken = 0;

// unlinkClosesInFlight()
// Unlinks every entry that `ends` picks and wakes the waiters when one
// went. Caller holds registryLock exclusively.
template <typename Ends>
void unlinkClosesInFlight(Ends ends) {
  bool ended = false;
  for (tCloseInFlight** link = &closesInFlight; *link != nullptr;) {
    if (ends(**link)) {
      *link = (*link)->next;
      ended = true;
    } else {
      link = &(*link)->next;
    }
  }
  if (ended) closeInFlightEnded.set();
}

bool isCloseInFlight(uint64_t token) {
  for (const tCloseInFlight* entry = closesInFlight; entry != nullptr; entry = entry->next) {
    if (entry->token == token) return true;
  }
  return false;
}

// True when `candidate` is `record` or lies above it on its parent chain:
// linking `record` under `candidate` would then make a session its own
// ancestor, and closing it would never end.
bool isSelfOrAncestor(const tSessionState* candidate, const tSessionState* record) {
  for (const tSessionState* state = candidate; state != nullptr; state = state->parentState) {
    if (state == record) return true;
  }
  return false;
}

// leaveParent()
// Takes `session` off its parent's list. A parent whose close was put off
// for its children and has none left now would otherwise never close: the
// caller is told to finish that close, as the child's own close would.
void leaveParent(tSessionState& record, uint32_t session, tRegistration* outcome) {
  tSessionState* parent = record.parentState;
  parent->childSessions.removeFirst(session);
  record.parentState = nullptr;
  if (parent->closePendingOnChildren && parent->childSessions.empty()) {
    outcome->emptiedParent = keyOfRecord(parent);
    outcome->emptiedParentGeneration = parent->generation;
  }
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
int32_t linkToParent(tSessionState& record, uint32_t session, uint32_t parent, tRegistration* outcome) {
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
  if (record.parentState != nullptr) leaveParent(record, session, outcome);
  record.parentState = parentState;
  return StatusSuccess;
}

// unlinkFromParent()
// A registered value registered again without a parent is one now: it
// leaves its former parent's list, whose close would otherwise close the
// unrelated session that got the value. Caller holds registryLock
// exclusively.
void unlinkFromParent(tSessionState& record, uint32_t session, tRegistration* outcome) {
  if (record.parentState != nullptr) leaveParent(record, session, outcome);
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

uint32_t keyOfRecord(const tSessionState* record) {
  for (uint32_t index = 0; index < sessionRegistry.size(); ++index) {
    if (&sessionRegistry.valueAt(index) == record) return sessionRegistry.keyAt(index);
  }
  return 0;
}

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
int32_t registerSession(const uint32_t* sessionOut, uint32_t parent, tRegistration* outcome) {
  tRegistration ignored;
  if (outcome == nullptr) outcome = &ignored;
  tExclusiveHolder registry(registryLock);
  const uint32_t session = *sessionOut;
  endClosesInFlightOf(session);
  tSessionState* record = sessionRegistry.emplace(session, &outcome->inserted);
  int32_t status = containerCheck(sessionRegistry.allocationFailed());
  if (record == nullptr) return status;  // the map could not grow: StatusMemoryFull, nothing recorded
  // The lower library hands a value out only to a new session: a kept
  // record describes that one now, and a close the library started for the
  // session that had the value before must not reach it.
  record->generation.store(++lastGeneration, std::memory_order_release);
  if (status >= 0 && parent != 0) mergeStatus(&status, linkToParent(*record, session, parent, outcome));
  if (status >= 0 && parent == 0) unlinkFromParent(*record, session, outcome);
  if (record->buildStatus.isError()) discardUnbuiltRecord(*record, session, &status);
  return status;
}

void beginCloseInFlight(tCloseInFlight& entry, uint32_t session) {
  entry.session = session;
  entry.token = ++lastCloseToken;
  entry.next = closesInFlight;
  closesInFlight = &entry;
}

void endCloseInFlight(const tCloseInFlight& entry) {
  tExclusiveHolder registry(registryLock);
  unlinkClosesInFlight([&](const tCloseInFlight& linked) { return linked.token == entry.token; });
}

void endClosesInFlightOf(uint32_t session) {
  unlinkClosesInFlight([&](const tCloseInFlight& linked) { return linked.session == session; });
}

uint64_t closeInFlightToken(uint32_t session) {
  for (const tCloseInFlight* entry = closesInFlight; entry != nullptr; entry = entry->next) {
    if (entry->session == session) return entry->token;
  }
  return 0;
}

bool closeStillInFlight(const tCloseInFlight& entry) {
  tSharedHolder registry(registryLock);
  return isCloseInFlight(entry.token);
}

// waitForCloseInFlight()
// The event is reset only by a waiter whose close is still linked, and set
// after every unlink, both under registryLock: a close that ends after our
// look sets it after our reset, and another waiter resets it again only
// while a close is still in flight, whose end sets it once more.
void waitForCloseInFlight(uint64_t token) {
  for (;;) {
    {
      tSharedHolder registry(registryLock);
      if (!isCloseInFlight(token)) return;
      closeInFlightEnded.reset();
    }
    closeInFlightEnded.wait();
  }
}
