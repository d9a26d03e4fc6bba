// synchronization.h: tMutex, tEvent and tSharedExclusiveLock, the library's
// locking primitives, built on POSIX threads.
//
// (Design note on tSharedExclusiveLock to be written with the implementation:
// invariants, fast and slow paths, why drainMutex exists, caller limits.)
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "protons/status/stlStatus.h"

// tMutex: recursive, priority-inheriting POSIX mutex. Construction reports
// failure (StatusUnexpectedFailure, quarks/synchronization line 657) into the
// status and does nothing when the status already holds an error.
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

// tEvent: a settable event on a condition variable (CLOCK_REALTIME timed
// waits) and its own tMutex. Auto-reset: set wakes one waiter and a satisfied
// wait clears the state. Manual reset: set wakes all; state stays until reset.
class tEvent {
 public:
  tEvent(bool autoReset, bool initialState, tStatus& status);
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
  pthread_cond_t condition_;
  tMutex mutex_;
  bool autoReset_;
  bool signalled_;
  bool initialised_;
};

// tSharedExclusiveLock: shared holders enter with one atomic increment; one
// exclusive holder at a time shuts out new shared holders, then waits for
// those inside to drain.
class tSharedExclusiveLock {
 public:
  explicit tSharedExclusiveLock(tStatus& status);
  ~tSharedExclusiveLock();
  tSharedExclusiveLock(const tSharedExclusiveLock&) = delete;
  tSharedExclusiveLock& operator=(const tSharedExclusiveLock&) = delete;

  void acquireShared();
  void releaseShared();
  void acquireExclusive();
  void releaseExclusive();

 private:
  void waitForExclusiveEnd();

  tMutex exclusiveMutex;
  tMutex drainMutex;
  tEvent drainedEvent;
  tEvent gateEvent;
  std::atomic<int32_t> userCount;
  std::atomic<int32_t> exclusiveActive;
};

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
