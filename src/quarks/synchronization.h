// synchronization.h: tMutex, tEvent and tSharedExclusiveLock, the library's
// locking primitives, built on POSIX threads.
//
// Every mutex here is recursive and, where the kernel supports it,
// priority-inheriting: the host calls in on threads of mixed priority, and a
// low-priority thread holding the registry must not be starved by a busy
// middle-priority one.
//
// tSharedExclusiveLock design
// ===========================
// Shared holders (FIFO work, region acquisition, the download/reset guard) are
// many and frequent; exclusive holders (open, close, FIFO creation) are rare.
// The lock therefore makes the shared path as cheap as an atomic pair and
// pushes all waiting onto the exclusive side.
//
// State:
//   userCount        1 (the base count) + shared holders, including shared
//                    acquirers that have incremented but not yet backed off;
//                    minus 1 while an exclusive acquirer is between removing
//                    the base count and releaseExclusive(). Atomic, seq_cst.
//   exclusiveActive  nonzero from the moment an exclusive acquirer has shut
//                    the gate until it releases. Written only by that thread.
//   gateEvent        manual reset; signalled while no exclusive acquirer is
//                    in or waiting. Backed-off shared acquirers wait on it.
//   drainedEvent     manual reset; set when userCount reaches 0, that is when
//                    the last shared count leaves while the base is removed.
//   exclusiveMutex   serialises exclusive acquirers; held for the whole
//                    exclusive tenure.
//   drainMutex       see below.
//
// Invariants:
//   - userCount == 0 only while an exclusive acquirer has removed the base
//     count and no shared count remains; that is what "drained" means.
//   - exclusiveActive is stored before the exclusive decrement and loaded
//     after a shared increment. Both counter operations are seq_cst, so at
//     least one side sees the other: either the shared acquirer sees
//     exclusiveActive and backs off, or the exclusive acquirer's decrement
//     sees the shared count and waits for it to drain.
//   - drainedEvent is only ever set while userCount == 0 under the current
//     exclusive tenure, and is reset by releaseExclusive() together with the
//     restoration of the base count.
//
// Fast path (no exclusive acquirer around): acquireShared() is one atomic
// increment and one load; releaseShared() is one atomic decrement. No mutex,
// no system call.
//
// Slow path: a shared acquirer that sees exclusiveActive takes its count back
// (waitForExclusiveEnd()), waits on gateEvent and retries from the top. An
// exclusive acquirer takes exclusiveMutex, closes the gate, sets
// exclusiveActive, removes the base count and, unless that made the count 0,
// waits on drainedEvent. releaseExclusive() restores the base count, resets
// drainedEvent, clears exclusiveActive and opens the gate, which wakes every
// backed-off acquirer at once.
//
// Why drainMutex exists: "count reached 0, so set drainedEvent" is two steps.
// If a thread is delayed between them while releaseExclusive() restores the
// count and resets the event, its late set would leave drainedEvent signalled
// with no drain behind it, and the next exclusive acquirer would walk past
// shared holders that are still inside. drainMutex makes "restore and reset"
// one step with respect to every such set: a back-off decrements and sets
// inside it, and a releaseShared() that reached 0 sets only if, inside it,
// the count is still 0 (so the drain it reports is the current one).
//
// Who may release what: releaseShared() and releaseExclusive() are called
// exactly once per successful acquisition, by the acquiring thread
// (exclusiveMutex is a thread-owned mutex).
//
// Limits callers respect:
//   - a shared holder must not call acquireExclusive(), and the exclusive
//     holder must not call acquireShared(): each would wait for itself;
//   - the lock is usable only if its construction left the status clean;
//   - lock order: exclusiveMutex, then drainMutex, then an event's mutex,
//     which is innermost. Nothing blocks while drainMutex is held.
//   - there is no fairness between shared acquirers; exclusive acquirers are
//     served in the order exclusiveMutex grants them, and take precedence
//     over shared acquirers that arrive once exclusiveActive is set.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "protons/status/stlStatus.h"

// tMutex: recursive POSIX mutex, priority-inheriting where the kernel can.
// Construction reports failure (StatusUnexpectedFailure, quarks/
// synchronization line 657) into the status and does nothing when the status
// already holds an error.
class tMutex {
 public:
  explicit tMutex(tStatus& status);
  ~tMutex();
  tMutex(const tMutex&) = delete;
  tMutex& operator=(const tMutex&) = delete;

  void lock();
  void unlock();
  bool initialised() const { return initialised_; }
  pthread_mutex_t* native() { return &mutex_; }

 private:
  pthread_mutex_t mutex_;
  bool initialised_;
};

// tEvent: a settable event on a condition variable (CLOCK_MONOTONIC timed
// waits, so that steps of the wall clock do not matter) and its own tMutex.
// Auto-reset: set wakes one waiter and a satisfied wait clears the state.
// Manual reset: set wakes all; state stays until reset. Setting an event no
// one waits for, resetting, and taking a signalled event are atomic
// operations only: the mutex and the condition serve real waits.
class tEvent {
 public:
  tEvent(bool autoReset, bool initialState, tStatus& status) noexcept;
  ~tEvent();
  tEvent(const tEvent&) = delete;
  tEvent& operator=(const tEvent&) = delete;

  void set();
  void reset();
  void wait();
  // tEvent::waitFor(): true when the event was (or became) signalled within
  // `timeoutMs` (0 polls, 0xFFFFFFFF waits without limit). On a time-out
  // offers StatusTimedOut (line 2261 for a poll, 2228 for a deadline) and
  // returns false; another wait error returns false without touching status.
  bool waitFor(uint32_t timeoutMs, tStatus& status);
  bool initialised() const { return initialised_; }

 private:
  friend class tEventTestPeer;
  class tWaiterCount;
  tStatus& createCondition(tStatus& status);
  template <std::memory_order look>
  bool consume();

  pthread_cond_t condition_;
  bool conditionCreated_;  // tells a failed construction whether to release condition_
  tMutex mutex_;           // held by waiters up to their condition wait, and by set() to wake them
  bool autoReset_;
  // Atomic so that setting an event no one waits for, and taking a signalled
  // one, need neither the mutex nor the condition.
  std::atomic<bool> signalled_;
  std::atomic<uint32_t> waiters_;  // threads counted in under the mutex until they leave the wait
  bool initialised_;
};

// tSharedExclusiveLock: shared holders enter with one atomic increment; one
// exclusive holder at a time shuts out new shared holders, then waits for
// those inside to drain.
class tSharedExclusiveLock {
 public:
  explicit tSharedExclusiveLock(tStatus& status) noexcept;
  ~tSharedExclusiveLock();
  tSharedExclusiveLock(const tSharedExclusiveLock&) = delete;
  tSharedExclusiveLock& operator=(const tSharedExclusiveLock&) = delete;

  // The shared fast paths are inline (defined below): with the call gone
  // they cost what the atomic pair itself costs.
  void acquireShared();
  void releaseShared();
  void acquireExclusive();
  void releaseExclusive();

 private:
  friend class tSharedExclusiveLockTestPeer;

  // Slow path of acquireShared(): backs off and retries until the caller
  // holds the lock shared.
  void acquireSharedAfterBackOff();

  // Back-off of acquireShared(): takes the caller's count back and blocks on
  // gateEvent until the exclusive holder releases.
  void waitForExclusiveEnd();
  // Sets drainedEvent for a releaseShared() that brought the count to 0,
  // provided the count is still 0 once drainMutex is held.
  void signalDrainIfStillDrained();

  tMutex exclusiveMutex;                 // held for the whole exclusive tenure
  tMutex drainMutex;                     // orders drain signals against releaseExclusive()
  tEvent drainedEvent;                   // manual reset, starts not signalled
  tEvent gateEvent;                      // manual reset, starts signalled (open)
  std::atomic<int32_t> userCount;        // 1 + shared counts, - 1 during exclusive tenure
  // Keeps exclusiveActive off userCount's cache line: shared holders on
  // several cores bounce userCount's line between them, and the load that
  // follows each increment would miss with it. Kept apart, exclusiveActive
  // sits in a line that only an exclusive acquirer ever writes. Padding
  // rather than alignas, so the lock needs no over-aligned allocation.
  char cacheLineGap[64];
  std::atomic<int32_t> exclusiveActive;  // nonzero while an exclusive acquirer is in or draining
};

// tSharedExclusiveLock::acquireShared()
// Fast path: one atomic increment and one load; blocks only while an
// exclusive acquirer is in or draining.
inline void tSharedExclusiveLock::acquireShared() {
  userCount.fetch_add(1, std::memory_order_seq_cst);
  if (exclusiveActive.load(std::memory_order_seq_cst) == 0) return;
  acquireSharedAfterBackOff();
}

// tSharedExclusiveLock::releaseShared()
// Fast path: one atomic decrement. Only the holder that completes a drain
// goes further, and then takes drainMutex briefly.
inline void tSharedExclusiveLock::releaseShared() {
  if (userCount.fetch_sub(1, std::memory_order_seq_cst) - 1 == 0) signalDrainIfStillDrained();
}

// Scoped holders, so that every early return releases what it took.
class tMutexHolder {
 public:
  explicit tMutexHolder(tMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~tMutexHolder() { mutex_.unlock(); }
  tMutexHolder(const tMutexHolder&) = delete;
  tMutexHolder& operator=(const tMutexHolder&) = delete;

 private:
  tMutex& mutex_;
};

class tSharedHolder {
 public:
  explicit tSharedHolder(tSharedExclusiveLock& lock) : lock_(lock) { lock_.acquireShared(); }
  ~tSharedHolder() { lock_.releaseShared(); }
  tSharedHolder(const tSharedHolder&) = delete;
  tSharedHolder& operator=(const tSharedHolder&) = delete;

 private:
  tSharedExclusiveLock& lock_;
};

class tExclusiveHolder {
 public:
  explicit tExclusiveHolder(tSharedExclusiveLock& lock) : lock_(lock) { lock_.acquireExclusive(); }
  ~tExclusiveHolder() { lock_.releaseExclusive(); }
  tExclusiveHolder(const tExclusiveHolder&) = delete;
  tExclusiveHolder& operator=(const tExclusiveHolder&) = delete;

 private:
  tSharedExclusiveLock& lock_;
};
