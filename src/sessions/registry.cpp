// -----------------------------------------------------------------------------
// File: registry.cpp
// -----------------------------------------------------------------------------
//
// The process-wide registry objects, session records and registration.

#include "sessions/registry.h"

#include <pthread.h>

#include "adapter/status.h"
#include "protons/cppNewDelete/memoryAllocation.h"
#include "protons/probes/probes.h"
#include "protons/seam/seam.h"
#include "protons/status/statusCodes.h"

// The module-entry object (init_priority 200) binds the lower library when it
// is constructed and unbinds it when destroyed. These three, and the
// close-end signal below, must already exist then and must outlive it, so
// they come first (lower number) and, sharing one priority in one file, are
// built in the order written and destroyed in reverse: the signal and the
// lock before the status they report into, the map last.
tOrderedMap<tSessionState> sessionRegistry __attribute__((init_priority(150)));
tStatus registryLoadStatus __attribute__((init_priority(150)));
tSharedExclusiveLock registryLock __attribute__((init_priority(150)))(registryLoadStatus);

namespace {

// The line an event reports when its condition cannot be made: this is the
// same failure.
constexpr int32_t kLineConditionInit = 1743;

// What wakes the closes that wait for a close in flight: a count of the
// closes in flight that ended, and a condition on it. A waiter reads the
// count under registryLock while it finds its close still linked, and
// sleeps only while the count is unchanged, looked at under the signal's
// own mutex; an end after that look raises the count, so it wakes every
// waiter whatever the others do. (A shared manual-reset event lost such
// wake-ups: a waiter whose close was still in flight reset it before
// another, whose close had just ended, looked again.)
class tCloseEndSignal {
 public:
  explicit tCloseEndSignal(tStatus& status) noexcept : mutex_(status) {
    if (status.isError()) return;
    created_ = pthread_cond_init(&condition_, nullptr) == 0;
    if (!created_) status.offerCode(StatusSyncInitFailed, kComponentName, kFileSynchronization, kLineConditionInit);
  }
  ~tCloseEndSignal() {
    if (created_) pthread_cond_destroy(&condition_);
  }
  tCloseEndSignal(const tCloseEndSignal&) = delete;
  tCloseEndSignal& operator=(const tCloseEndSignal&) = delete;

  // Caller holds registryLock (shared is enough).
  uint64_t endedCount() const { return ended_; }
  // Caller holds registryLock exclusively; takes the signal's mutex.
  void announceEnd() {
    tMutexHolder hold(mutex_);
    ++ended_;
    if (created_) pthread_cond_broadcast(&condition_);
  }
  // Blocks while the count is `seen`. Caller holds no lock. Without a
  // condition (its creation failed at load, which every ViDazoHx_Open then
  // reports) it returns at once and the caller looks again.
  void waitPast(uint64_t seen) {
    tMutexHolder hold(mutex_);
    while (created_ && ended_ == seen) {
      if (pthread_cond_wait(&condition_, mutex_.native()) != 0) return;
    }
  }

 private:
  tMutex mutex_;
  pthread_cond_t condition_{};
  bool created_ = false;
  uint64_t ended_ = 0;  // written under registryLock held exclusively and mutex_
};

// Built after registryLock and reporting into the same status.
tCloseEndSignal closeInFlightEnded __attribute__((init_priority(150)))(registryLoadStatus);

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
  if (ended) closeInFlightEnded.announceEnd();
}

bool isCloseInFlight(uint64_t token) {
  for (const tCloseInFlight* entry = closesInFlight; entry != nullptr; entry = entry->next) {
    if (entry->token == token) return true;
  }
  return false;
}

// The opens between their host cleanup registration and their record;
// guarded by registryLock.
tOpenInFlight* opensInFlight = nullptr;

// takeOpenInFlight()
// Unlinks `entry` if it is linked; returns whether a cleanup cancelled it.
// Caller holds registryLock exclusively.
bool takeOpenInFlight(tOpenInFlight& entry) {
  for (tOpenInFlight** link = &opensInFlight; *link != nullptr; link = &(*link)->next) {
    if (*link == &entry) {
      *link = entry.next;
      break;
    }
  }
  entry.next = nullptr;
  return entry.cancelled;
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
// for its children may have waited for this one alone: the caller is told
// to run that close again, as the child's own close would, and it goes
// ahead once nothing below the parent is lent out.
void leaveParent(tSessionState& record, uint32_t session, tRegistration* outcome) {
  tSessionState* parent = record.parentState;
  parent->childSessions.removeFirst(session);
  record.parentState = nullptr;
  if (parent->closePendingOnChildren) {
    outcome->leftParent = keyOfRecord(parent);
    outcome->leftParentGeneration = parent->generation;
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
int32_t registerSession(const uint32_t* sessionOut, uint32_t parent, tRegistration* outcome, tOpenInFlight* opening) {
  tRegistration ignored;
  if (outcome == nullptr) outcome = &ignored;
  tExclusiveHolder registry(registryLock);
  // The host's cleanup closed this very session in the open's window (and
  // the lower library may have handed its value out since): record nothing.
  // A registration that fails leaves the mark linked for the open's undo,
  // which ends it: until then a cleanup still finds the open in its window.
  if (opening != nullptr && opening->cancelled) {
    takeOpenInFlight(*opening);
    return StatusHostCancelled;
  }
  const uint32_t session = *sessionOut;
  endClosesInFlightOf(session);
  tSessionState* record = sessionRegistry.emplace(session, &outcome->inserted);
  int32_t status = containerCheck(sessionRegistry.allocationFailed());
  if (record == nullptr) return status;  // the map could not grow: StatusMemoryFull, nothing recorded
  // A kept record carries its flags, FIFO records (regions out included)
  // and children over to the session that now has the value (see "A kept
  // record" in registry.h); only a close the library decided on before this
  // registration is kept off it, by the new generation.
  record->generation.store(++lastGeneration, std::memory_order_release);
  if (status >= 0 && parent != 0) mergeStatus(&status, linkToParent(*record, session, parent, outcome));
  if (status >= 0 && parent == 0) unlinkFromParent(*record, session, outcome);
  if (record->buildStatus.isError()) discardUnbuiltRecord(*record, session, &status);
  if (status >= 0) {
    if (opening != nullptr) takeOpenInFlight(*opening);
    VIDAZOHX_PROBE(session_opened, session, parent, record->generation);
  }
  return status;
}

void beginOpenInFlight(tOpenInFlight& entry, uint32_t session) {
  tExclusiveHolder registry(registryLock);
  entry.session = session;
  entry.cancelled = false;
  entry.next = opensInFlight;
  opensInFlight = &entry;
}

bool endOpenInFlight(tOpenInFlight& entry) { return takeOpenInFlight(entry); }

bool cancelOpensInFlightOf(uint32_t session) {
  bool cancelled = false;
  for (tOpenInFlight* entry = opensInFlight; entry != nullptr; entry = entry->next) {
    if (entry->session != session || entry->cancelled) continue;
    entry->cancelled = true;
    cancelled = true;
  }
  return cancelled;
}

void beginCloseInFlight(tCloseInFlight& entry, uint32_t session) {
  entry.session = session;
  entry.closer = pthread_self();
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

uint64_t closeInFlightToken(uint32_t session, bool* byThisThread) {
  for (const tCloseInFlight* entry = closesInFlight; entry != nullptr; entry = entry->next) {
    if (entry->session != session) continue;
    if (byThisThread != nullptr) *byThisThread = pthread_equal(entry->closer, pthread_self()) != 0;
    return entry->token;
  }
  return 0;
}

bool closeStillInFlight(const tCloseInFlight& entry) {
  tSharedHolder registry(registryLock);
  return isCloseInFlight(entry.token);
}

// waitForCloseInFlight()
// Reads the count of ended closes while it still finds its close linked,
// under registryLock, and sleeps only until that count changes: an end after
// the look always wakes it (see tCloseEndSignal).
void waitForCloseInFlight(uint64_t token) {
  for (;;) {
    uint64_t seen = 0;
    {
      tSharedHolder registry(registryLock);
      if (!isCloseInFlight(token)) return;
      seen = closeInFlightEnded.endedCount();
    }
    reachSeam(tSeam::closeWaitAfterLook);
    closeInFlightEnded.waitPast(seen);
  }
}
