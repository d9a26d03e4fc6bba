// synchronization.cpp: tMutex, tEvent and tSharedExclusiveLock.
//
// The design of the shared/exclusive lock, its invariants and the limits its
// callers respect are described in synchronization.h.

#include "quarks/synchronization.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "protons/status/statusCodes.h"
#include "protons/time/monotonicClock.h"

namespace {

constexpr int32_t kLineMutexInit = 657;
constexpr int32_t kLineConditionInit = 1743;
constexpr int32_t kLineDeadlineTimedOut = 2228;
constexpr int32_t kLinePollTimedOut = 2261;

constexpr uint32_t kPollTimeout = 0;
constexpr uint32_t kInfiniteTimeout = 0xFFFFFFFFu;

void offerMutexFailure(tStatus& status) {
  status.offerCode(StatusUnexpectedFailure, kComponentName, kFileSynchronization, kLineMutexInit);
}

// The condition variables time their waits against CLOCK_MONOTONIC (see
// createCondition()), so the deadline is built on that clock; the sum
// saturates rather than overflow.
timespec monotonicDeadline(uint32_t timeoutMs) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return addMilliseconds(now, timeoutMs);
}

}  // namespace

// ---------------------------------------------------------------------------
// tMutex
// ---------------------------------------------------------------------------

// tMutex::tMutex()
// Does nothing when `status` already holds an error. Priority inheritance is
// requested but not required: a platform without it still gets a recursive
// mutex, which is what correctness depends on.
tMutex::tMutex(tStatus& status) : initialised_(false) {
  std::memset(&mutex_, 0, sizeof(mutex_));
  if (status.isError()) return;

  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) {
    offerMutexFailure(status);
    return;
  }
  if (pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) != 0) {
    pthread_mutexattr_destroy(&attributes);
    offerMutexFailure(status);
    return;
  }
  pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
  int result = pthread_mutex_init(&mutex_, &attributes);
  if (result == ENOTSUP) {
    // A kernel without priority-inheritance futexes accepts the protocol in
    // the attributes and refuses it only here: retry without it.
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_NONE);
    result = pthread_mutex_init(&mutex_, &attributes);
  }
  if (result != 0) {
    offerMutexFailure(status);
  } else {
    initialised_ = true;
  }
  pthread_mutexattr_destroy(&attributes);
}

// tMutex::~tMutex(): releases the POSIX mutex only if it was created.
tMutex::~tMutex() {
  if (!initialised_) return;
  pthread_mutex_destroy(&mutex_);
  initialised_ = false;
}

// tMutex::lock(): blocks until this thread holds the mutex; recursive.
void tMutex::lock() { pthread_mutex_lock(&mutex_); }

// tMutex::unlock(): must be called once per lock(), by the holding thread.
void tMutex::unlock() { pthread_mutex_unlock(&mutex_); }

// ---------------------------------------------------------------------------
// tEvent
// ---------------------------------------------------------------------------

// tEvent::tEvent()
// The condition variable is created before the mutex (from the mutex's
// initialiser), so that a failure of either leaves nothing behind: the mutex
// skips itself once the status holds an error, and a created condition
// variable is released here.
tEvent::tEvent(bool autoReset, bool initialState, tStatus& status)
    : conditionCreated_(false),
      mutex_(createCondition(status)),
      autoReset_(autoReset),
      signalled_(initialState),
      initialised_(false) {
  if (status.isError()) {
    if (conditionCreated_) pthread_cond_destroy(&condition_);
    conditionCreated_ = false;
    return;
  }
  initialised_ = true;
}

// tEvent::createCondition(): runs before the mutex member is built, skipped
// when the status already holds an error. Offers StatusSyncInitFailed when
// the condition variable cannot be made. Returns `status` for the mutex.
tStatus& tEvent::createCondition(tStatus& status) {
  if (status.isError()) return status;
  // Timed waits run on the monotonic clock: embedded targets step the wall
  // clock (first time sync after boot, an RTC set), which would stretch a
  // wait by the size of the step or end it at once.
  pthread_condattr_t attributes;
  conditionCreated_ = pthread_condattr_init(&attributes) == 0;
  if (conditionCreated_) {
    conditionCreated_ = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                        pthread_cond_init(&condition_, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
  }
  if (!conditionCreated_) {
    status.offerCode(StatusSyncInitFailed, kComponentName, kFileSynchronization, kLineConditionInit);
  }
  return status;
}

// tEvent::~tEvent(): the mutex member releases itself after this body.
tEvent::~tEvent() {
  if (!initialised_) return;
  pthread_cond_destroy(&condition_);
  initialised_ = false;
}

// tEvent::set(): takes the event mutex briefly. Auto-reset wakes one waiter,
// manual reset wakes all.
void tEvent::set() {
  tMutexHolder hold(mutex_);
  signalled_ = true;
  if (autoReset_) {
    pthread_cond_signal(&condition_);
  } else {
    pthread_cond_broadcast(&condition_);
  }
}

// tEvent::reset(): takes the event mutex briefly.
void tEvent::reset() {
  tMutexHolder hold(mutex_);
  signalled_ = false;
}

// tEvent::wait(): blocks until signalled, without limit. A failing condition
// wait ends the wait as if woken; there is no way to report it here.
void tEvent::wait() {
  tMutexHolder hold(mutex_);
  while (!signalled_) {
    if (pthread_cond_wait(&condition_, mutex_.native()) != 0) break;
  }
  if (autoReset_) signalled_ = false;
}

// tEvent::waitFor()
// Blocks for at most `timeoutMs` (0 polls; 0xFFFFFFFF has no limit). Returns
// true when the event was signalled in time, consuming it if auto-reset.
// Holds the event mutex throughout, except inside the condition waits.
bool tEvent::waitFor(uint32_t timeoutMs, tStatus& status) {
  if (status.isError()) return false;
  tMutexHolder hold(mutex_);

  if (!signalled_ && timeoutMs == kPollTimeout) {
    status.offerCode(StatusTimedOut, kComponentName, kFileSynchronization, kLinePollTimedOut);
    return false;
  }

  if (!signalled_ && timeoutMs == kInfiniteTimeout) {
    while (!signalled_) {
      if (pthread_cond_wait(&condition_, mutex_.native()) != 0) return false;
    }
  } else if (!signalled_) {
    const timespec deadline = monotonicDeadline(timeoutMs);
    while (!signalled_) {
      const int result = pthread_cond_timedwait(&condition_, mutex_.native(), &deadline);
      if (result == 0 || signalled_) continue;
      if (result == ETIMEDOUT) {
        status.offerCode(StatusTimedOut, kComponentName, kFileSynchronization, kLineDeadlineTimedOut);
      }
      return false;
    }
  }

  if (autoReset_) signalled_ = false;
  return true;
}

// ---------------------------------------------------------------------------
// tSharedExclusiveLock
// ---------------------------------------------------------------------------

// tSharedExclusiveLock::tSharedExclusiveLock()
// Members are built in declaration order with the same status, so each skips
// itself once an earlier one failed. The counters are set whatever happened:
// the caller decides from the status whether the lock is usable.
tSharedExclusiveLock::tSharedExclusiveLock(tStatus& status)
    : exclusiveMutex(status),
      drainMutex(status),
      drainedEvent(false, false, status),
      gateEvent(false, true, status),
      userCount(1),
      exclusiveActive(0) {}

// Members go in reverse order: gateEvent, drainedEvent, drainMutex,
// exclusiveMutex.
tSharedExclusiveLock::~tSharedExclusiveLock() = default;

// tSharedExclusiveLock::acquireSharedAfterBackOff()
// Blocks. Entered with the caller's count in and exclusiveActive seen set;
// returns once an increment is followed by a clear exclusiveActive.
void tSharedExclusiveLock::acquireSharedAfterBackOff() {
  do {
    waitForExclusiveEnd();
    userCount.fetch_add(1, std::memory_order_seq_cst);
  } while (exclusiveActive.load(std::memory_order_seq_cst) != 0);
}

// tSharedExclusiveLock::waitForExclusiveEnd()
// Locks drainMutex around the decrement so that a drain signal from here can
// never land after releaseExclusive() has reset drainedEvent. Then blocks on
// the gate; the caller retries from the top.
void tSharedExclusiveLock::waitForExclusiveEnd() {
  {
    tMutexHolder drain(drainMutex);
    if (userCount.fetch_sub(1, std::memory_order_seq_cst) - 1 == 0) drainedEvent.set();
  }
  gateEvent.wait();
}

// tSharedExclusiveLock::signalDrainIfStillDrained()
// Locks drainMutex. The decrement that reached 0 happened outside it, so by
// now releaseExclusive() may have restored the count and reset drainedEvent;
// setting it then would let the next exclusive acquirer pass shared holders
// still inside. A count still at 0 under drainMutex is the current drain.
void tSharedExclusiveLock::signalDrainIfStillDrained() {
  tMutexHolder drain(drainMutex);
  if (userCount.load(std::memory_order_seq_cst) == 0) drainedEvent.set();
}

// tSharedExclusiveLock::acquireExclusive()
// Blocks on exclusiveMutex behind other exclusive acquirers, then until every
// shared holder already inside has released. Shared acquirers arriving after
// the gate closes wait for releaseExclusive().
void tSharedExclusiveLock::acquireExclusive() {
  exclusiveMutex.lock();
  gateEvent.reset();
  exclusiveActive.store(1, std::memory_order_seq_cst);
  if (userCount.fetch_sub(1, std::memory_order_seq_cst) - 1 != 0) {
    drainedEvent.wait();
  } else {
    drainedEvent.set();
  }
}

// tSharedExclusiveLock::releaseExclusive()
// Restores the base count and resets the drain under drainMutex, then opens
// the gate: one broadcast frees every backed-off shared acquirer.
void tSharedExclusiveLock::releaseExclusive() {
  {
    tMutexHolder drain(drainMutex);
    userCount.fetch_add(1, std::memory_order_seq_cst);
    drainedEvent.reset();
    exclusiveActive.store(0, std::memory_order_seq_cst);
    gateEvent.set();
  }
  exclusiveMutex.unlock();  // taken by acquireExclusive(): the tenure ends here
}
