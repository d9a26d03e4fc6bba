// synchronization.cpp: tMutex, tEvent and tSharedExclusiveLock.
//
// The design of the shared/exclusive lock, its invariants and the limits its
// callers respect are described in synchronization.h.

#include "quarks/synchronization.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "protons/seam/seam.h"
#include "protons/status/statusCodes.h"
#include "protons/time/monotonicClock.h"

namespace {

constexpr int32_t kLineMutexInit = 657;
constexpr int32_t kLineConditionInit = 1743;
constexpr int32_t kLineDeadlineTimedOut = 2228;
constexpr int32_t kLinePollTimedOut = 2261;

constexpr uint32_t kPollTimeout = 0;
constexpr uint32_t kInfiniteTimeout = 0xFFFFFFFFu;

// How tEvent::consume() first looks at the state (see there): a thread not
// yet counted among the waiters may look relaxed, a counted one may not.
constexpr std::memory_order kUncountedLook = std::memory_order_relaxed;
constexpr std::memory_order kCountedLook = std::memory_order_seq_cst;

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
tEvent::tEvent(bool autoReset, bool initialState, tStatus& status) noexcept
    : conditionCreated_(false),
      mutex_(createCondition(status)),
      autoReset_(autoReset),
      signalled_(initialState),
      waiters_(0),
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

// tEvent::set()
// `signalled_` is stored first and `waiters_` read after it, both seq_cst;
// a waiter counts itself in before it tests `signalled_`, seq_cst as well
// (see consume()), so either the waiter sees the event set or this sees the
// waiter. With no one waiting nothing more is done: no mutex, no wake-up.
// Otherwise takes the event mutex briefly, which a waiter holds until it is
// inside its condition wait, so the wake-up cannot fall between its test
// and its wait. Auto-reset wakes one waiter, manual reset wakes all.
void tEvent::set() {
  // Already set: whoever set it saw (and woke) any waiter counted in before,
  // and a waiter counted in since will find it set.
  if (signalled_.load(std::memory_order_seq_cst)) return;
  signalled_.store(true, std::memory_order_seq_cst);
  if (waiters_.load(std::memory_order_seq_cst) == 0) return;
  tMutexHolder hold(mutex_);
  if (autoReset_) {
    pthread_cond_signal(&condition_);
  } else {
    pthread_cond_broadcast(&condition_);
  }
}

// tEvent::reset(): does not block.
void tEvent::reset() { signalled_.store(false, std::memory_order_seq_cst); }

// tEvent::consume(): true when the event is signalled, clearing it if
// auto-reset; of several threads racing for one auto-reset signal exactly
// one gets it. An auto-reset event is first looked at with a plain load
// ordered by `look`, so that an unsignalled one costs no read-modify-write.
//
// The look of a counted-in waiter pairs with set(). Each side stores, then
// loads what the other stores: the waiter its count (tWaiterCount) then
// `signalled_`, set() `signalled_` then the count. Only when all four are
// seq_cst does at least one load see the other side's store. A weaker look
// lets both read the old values on a weakly ordered CPU: the waiter goes to
// sleep on a signalled event, set() skips the wake-up, and every later set()
// returns early because the event is set already, so the wait runs out with
// the event signalled. Hence kCountedLook.
//
// A thread that has not counted itself in yet (the fast path of wait() and
// waitFor()) may look relaxed: a stale "not signalled" only sends it to the
// counted-in look, and a stale "signalled" is settled by the exchange.
template <std::memory_order look>
bool tEvent::consume() {
  if (!autoReset_) return signalled_.load(std::memory_order_seq_cst);
  return signalled_.load(look) && signalled_.exchange(false, std::memory_order_seq_cst);
}

// Counts the calling thread among the waiters for as long as it may sleep on
// the condition. Made while the event mutex is held, before the state is
// tested under it.
class tEvent::tWaiterCount {
 public:
  explicit tWaiterCount(std::atomic<uint32_t>& waiters) : waiters_(waiters) {
    waiters_.fetch_add(1, std::memory_order_seq_cst);
  }
  ~tWaiterCount() { waiters_.fetch_sub(1, std::memory_order_seq_cst); }
  tWaiterCount(const tWaiterCount&) = delete;
  tWaiterCount& operator=(const tWaiterCount&) = delete;

 private:
  std::atomic<uint32_t>& waiters_;
};

// tEvent::wait(): blocks until signalled, without limit. A signalled event
// is taken without the mutex. A failing condition wait ends the wait as if
// woken; there is no way to report it here.
void tEvent::wait() {
  if (consume<kUncountedLook>()) return;
  tMutexHolder hold(mutex_);
  tWaiterCount counted(waiters_);
  while (!consume<kCountedLook>()) {
    if (pthread_cond_wait(&condition_, mutex_.native()) != 0) return;
  }
}

// tEvent::waitFor()
// Blocks for at most `timeoutMs` (0 polls; 0xFFFFFFFF has no limit). Returns
// true when the event was signalled in time, consuming it if auto-reset.
// A signalled event and a poll are answered without the event mutex; a
// real wait holds it throughout, except inside the condition waits.
bool tEvent::waitFor(uint32_t timeoutMs, tStatus& status) {
  if (status.isError()) return false;
  if (consume<kUncountedLook>()) return true;
  if (timeoutMs == kPollTimeout) {
    status.offerCode(StatusTimedOut, kComponentName, kFileSynchronization, kLinePollTimedOut);
    return false;
  }

  tMutexHolder hold(mutex_);
  tWaiterCount counted(waiters_);
  if (timeoutMs == kInfiniteTimeout) {
    while (!consume<kCountedLook>()) {
      if (pthread_cond_wait(&condition_, mutex_.native()) != 0) return false;
    }
    return true;
  }
  const timespec deadline = monotonicDeadline(timeoutMs);
  while (!consume<kCountedLook>()) {
    const int result = pthread_cond_timedwait(&condition_, mutex_.native(), &deadline);
    if (result == 0) continue;
    reachSeam(tSeam::eventTimedWaitEnded);
    // A set that landed as the deadline passed is this wait's: report it.
    // Reported as a time-out it would be consumed and lost (an acquisition
    // would drop the FIFO's turn with it, and every later one would wait).
    if (consume<kCountedLook>()) return true;
    if (result == ETIMEDOUT) {
      status.offerCode(StatusTimedOut, kComponentName, kFileSynchronization, kLineDeadlineTimedOut);
    }
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// tSharedExclusiveLock
// ---------------------------------------------------------------------------

// tSharedExclusiveLock::tSharedExclusiveLock()
// Members are built in declaration order with the same status, so each skips
// itself once an earlier one failed. The counters are set whatever happened:
// the caller decides from the status whether the lock is usable.
tSharedExclusiveLock::tSharedExclusiveLock(tStatus& status) noexcept
    : exclusiveMutex(status),
      drainMutex(status),
      drainedEvent(false, false, status),
      gateEvent(false, true, status),
      userCount(1),
      cacheLineGap(),
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
