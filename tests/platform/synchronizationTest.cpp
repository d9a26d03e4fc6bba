// Synchronization primitives: recursive mutex, events, shared/exclusive lock.
// Concurrency cases order their threads with futures and observable lock
// state and bound every wait (see testThread.h).

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "failingMutexInit.h"
#include "onSeam.h"
#include "protons/status/statusCodes.h"
#include "quarks/synchronization.h"
#include "testThread.h"

// Reaches the lock's private state, which is where draining is observable.
class tSharedExclusiveLockTestPeer {
 public:
  static int32_t userCount(tSharedExclusiveLock& lock) { return lock.userCount.load(); }
  static int32_t exclusiveActive(tSharedExclusiveLock& lock) { return lock.exclusiveActive.load(); }
  // Both events are manual reset, so a poll observes without consuming.
  static bool drainedSignalled(tSharedExclusiveLock& lock) { return poll(lock.drainedEvent); }
  static bool gateOpen(tSharedExclusiveLock& lock) { return poll(lock.gateEvent); }
  static bool membersInitialised(tSharedExclusiveLock& lock) {
    return lock.exclusiveMutex.initialised() || lock.drainMutex.initialised() || lock.drainedEvent.initialised() ||
           lock.gateEvent.initialised();
  }
  // The first half of releaseShared(): the decrement, with the drain signal
  // held back as if the releasing thread were preempted right after it.
  static int32_t decrementOnly(tSharedExclusiveLock& lock) { return --lock.userCount; }
  static void lateDrainSignal(tSharedExclusiveLock& lock) { lock.signalDrainIfStillDrained(); }

 private:
  static bool poll(tEvent& event) {
    tStatus status;
    return event.waitFor(0, status);
  }
};

// Reaches an event's state without taking part in it.
class tEventTestPeer {
 public:
  static uint32_t waiters(tEvent& event) { return event.waiters_.load(); }
  static bool signalled(tEvent& event) { return event.signalled_.load(); }
};

namespace {

using EventPeer = tEventTestPeer;
using platformtest::Counter;
using platformtest::eventually;
using platformtest::finishes;
using platformtest::stillRunning;
using platformtest::WorkerThread;
using Peer = tSharedExclusiveLockTestPeer;

constexpr uint32_t kLongTimeoutMs = 10000;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

tStatus erroredStatus() {
  tStatus status;
  status.offerCode(-1, "earlier", "earlier/file", 9);
  return status;
}

void expectUntouched(const tStatus& status) {
  EXPECT_EQ(status.code, -1);
  EXPECT_STREQ(status.fileName, "earlier/file");
  EXPECT_EQ(status.lineNumber, 9u);
}

// ---------------------------------------------------------------------------
// tMutex
// ---------------------------------------------------------------------------

TEST(Mutex, RecursiveLockNeedsAsManyUnlocksBeforeAnotherThreadGetsIt) {
  tStatus status;
  tMutex mutex(status);
  ASSERT_EQ(status.code, 0);
  ASSERT_TRUE(mutex.initialised());
  WorkerThread other;
  auto tryFromOther = [&] {
    int result = -1;
    other.post([&] {
      result = pthread_mutex_trylock(mutex.native());
      if (result == 0) pthread_mutex_unlock(mutex.native());
    }).get();
    return result;
  };

  mutex.lock();
  mutex.lock();
  EXPECT_EQ(tryFromOther(), EBUSY);
  mutex.unlock();
  EXPECT_EQ(tryFromOther(), EBUSY);
  mutex.unlock();
  EXPECT_EQ(tryFromOther(), 0);
}

TEST(Mutex, WithoutPriorityInheritanceEveryPrimitiveIsStillBuilt) {
  testsupport::refusePriorityInheritance(true);
  tStatus status;
  tMutex mutex(status);
  tEvent event(true, false, status);
  tSharedExclusiveLock lock(status);
  testsupport::refusePriorityInheritance(false);
  EXPECT_EQ(status.code, 0);
  ASSERT_TRUE(mutex.initialised());
  ASSERT_TRUE(event.initialised());
  mutex.lock();
  EXPECT_EQ(pthread_mutex_trylock(mutex.native()), 0) << "still recursive";
  mutex.unlock();
  mutex.unlock();
  event.set();
  EXPECT_TRUE(event.waitFor(0, status));
  lock.acquireExclusive();
  lock.releaseExclusive();
}

// A mutex that cannot be created says so with its origin, and so does what
// is built on one: an event (its own mutex) and a lock (the drained event's
// mutex, the third it creates).
TEST(Mutex, FailedCreationIsReportedByTheMutexAndWhatIsBuiltOnIt) {
  auto expectMutexFailure = [](const tStatus& status, const char* what) {
    EXPECT_EQ(status.code, StatusUnexpectedFailure) << what;
    EXPECT_STREQ(status.componentName, "ViDazoHx") << what;
    EXPECT_STREQ(status.fileName, "quarks/synchronization") << what;
    EXPECT_EQ(status.lineNumber, 657u) << what;
  };
  tStatus mutexStatus, eventStatus, lockStatus;
  testsupport::failMutexCreation(1, EAGAIN);
  tMutex mutex(mutexStatus);
  testsupport::failMutexCreation(1, ENOMEM);
  tEvent event(true, true, eventStatus);
  testsupport::failMutexCreation(3, EAGAIN);
  tSharedExclusiveLock lock(lockStatus);
  EXPECT_FALSE(testsupport::disarmMutexCreationFailure());
  expectMutexFailure(mutexStatus, "mutex");
  expectMutexFailure(eventStatus, "event");
  expectMutexFailure(lockStatus, "lock");
  EXPECT_FALSE(mutex.initialised());
  EXPECT_FALSE(event.initialised());
}

TEST(Mutex, ErroredStatusCreatesNothing) {
  tStatus status = erroredStatus();
  tMutex mutex(status);
  EXPECT_FALSE(mutex.initialised());
  expectUntouched(status);
}

// ---------------------------------------------------------------------------
// tEvent
// ---------------------------------------------------------------------------

TEST(Event, ErroredStatusCreatesNothing) {
  tStatus status = erroredStatus();
  tEvent event(true, true, status);
  EXPECT_FALSE(event.initialised());
  expectUntouched(status);
}

TEST(EventPoll, UnsignalledTimesOutAtOnceWithPollLine) {
  tStatus status;
  tEvent event(true, false, status);
  ASSERT_TRUE(event.initialised());
  EXPECT_FALSE(event.waitFor(0, status));
  EXPECT_EQ(status.code, StatusTimedOut);
  EXPECT_STREQ(status.componentName, "ViDazoHx");
  EXPECT_STREQ(status.fileName, "quarks/synchronization");
  EXPECT_EQ(status.lineNumber, 2261u);
}

TEST(EventPoll, SignalledAutoResetIsConsumedManualResetStays) {
  tStatus status;
  tEvent autoEvent(true, true, status);
  tEvent manualEvent(false, true, status);
  ASSERT_EQ(status.code, 0);

  EXPECT_TRUE(autoEvent.waitFor(0, status));
  EXPECT_FALSE(autoEvent.waitFor(0, status));

  tStatus manualStatus;
  EXPECT_TRUE(manualEvent.waitFor(0, manualStatus));
  EXPECT_TRUE(manualEvent.waitFor(0, manualStatus));
  manualEvent.reset();
  EXPECT_FALSE(manualEvent.waitFor(0, manualStatus));
}

TEST(EventWaitFor, ErroredStatusReturnsFalseWithoutConsuming) {
  tStatus clean;
  tEvent event(true, true, clean);
  tStatus status = erroredStatus();
  EXPECT_FALSE(event.waitFor(kInfinite, status));
  expectUntouched(status);
  EXPECT_TRUE(event.waitFor(0, clean));
}

TEST(EventWaitFor, DeadlinePassesWithDeadlineLine) {
  tStatus status;
  tEvent event(false, false, status);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.waitFor(30, status));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(29));
  EXPECT_EQ(status.code, StatusTimedOut);
  EXPECT_STREQ(status.fileName, "quarks/synchronization");
  EXPECT_EQ(status.lineNumber, 2228u);
}

// A set that lands just as a timed wait's deadline passes (here: made at
// that moment on the waiting thread) belongs to that wait: it is reported,
// not consumed and lost behind a time-out.
TEST(EventWaitFor, ASetAsTheDeadlinePassesIsReportedNotLost) {
  tStatus status;
  tEvent event(true, false, status);
  testsupport::OnSeam seam(tSeam::eventTimedWaitEnded, [&event] { event.set(); });
  EXPECT_TRUE(event.waitFor(30, status));
  EXPECT_TRUE(seam.fired());
  EXPECT_EQ(status.code, 0);
  EXPECT_FALSE(EventPeer::signalled(event)) << "taken by the wait, once";
}

TEST(EventWaitFor, TimedAndUnlimitedWaitsReturnWhenSetElsewhere) {
  for (uint32_t timeout : {kLongTimeoutMs, kInfinite}) {
    tStatus status;
    tEvent event(true, false, status);
    WorkerThread waiter;
    bool result = false;
    auto done = waiter.post([&] { result = event.waitFor(timeout, status); });
    event.set();
    ASSERT_TRUE(finishes(done));
    EXPECT_TRUE(result);
    EXPECT_EQ(status.code, 0);
    tStatus poll;
    EXPECT_FALSE(event.waitFor(0, poll)) << "the satisfied wait consumes an auto-reset event";
  }
}

TEST(EventWait, UntimedWaitConsumesAutoReset) {
  tStatus status;
  tEvent event(true, false, status);
  WorkerThread waiter;
  auto done = waiter.post([&] { event.wait(); });
  event.set();
  ASSERT_TRUE(finishes(done));
  EXPECT_FALSE(event.waitFor(0, status));
}

// Woken from its condition wait, an untimed wait (wait(), or waitFor()
// without limit) returns only with the signal in hand: two waiters are
// counted in (so past the fast path) before each set, and each set lets
// exactly one through and leaves nothing signalled. The reset keeps a wait
// that returned without the signal from hanging the next round.
TEST(EventWait, UntimedWaitersWokenByASetReturnOnlyWithItsSignal) {
  for (bool plainWait : {true, false}) {
    SCOPED_TRACE(plainWait ? "wait()" : "waitFor() without limit");
    tStatus status;
    tEvent event(true, false, status);
    Counter woken;
    WorkerThread first, second;
    auto waitOnce = [&] {
      tStatus waitStatus;
      if (plainWait) event.wait(); else EXPECT_TRUE(event.waitFor(kInfinite, waitStatus));
      woken.add();
    };
    std::future<void> done[] = {first.post(waitOnce), second.post(waitOnce)};
    ASSERT_TRUE(eventually([&] { return EventPeer::waiters(event) == 2; }));
    for (int round = 1; round <= 2; ++round) {
      event.set();
      ASSERT_TRUE(woken.waitFor(round));
      EXPECT_FALSE(EventPeer::signalled(event)) << "round " << round << ": returned without taking the signal";
      EXPECT_EQ(EventPeer::waiters(event), 2u - round) << "the other waiter still waits";
      event.reset();
    }
    for (auto& each : done) EXPECT_TRUE(finishes(each));
  }
}

// Counts satisfied waits of several threads; each thread waits once.
struct WaiterGroup {
  explicit WaiterGroup(tEvent& event, int count) {
    for (int i = 0; i < count; ++i) {
      threads.push_back(std::make_unique<WorkerThread>());
      done.push_back(threads.back()->post([this, &event] {
        tStatus status;
        if (event.waitFor(kLongTimeoutMs, status)) woken.add();
      }));
    }
  }
  Counter woken;
  std::vector<std::unique_ptr<WorkerThread>> threads;
  std::vector<std::future<void>> done;
};

TEST(EventSet, AutoResetWakesOneWaiterPerSet) {
  tStatus status;
  tEvent event(true, false, status);
  WaiterGroup group(event, 3);
  for (int expected = 1; expected <= 3; ++expected) {
    event.set();
    ASSERT_TRUE(group.woken.waitFor(expected));
    EXPECT_EQ(group.woken.value(), expected);
    // The one satisfied wait consumed the signal: nothing is left for a poll.
    tStatus poll;
    EXPECT_FALSE(event.waitFor(0, poll));
  }
  for (auto& done : group.done) EXPECT_TRUE(finishes(done));
  EXPECT_EQ(group.woken.value(), 3);
}

TEST(EventSet, ManualResetWakesAllWaiters) {
  tStatus status;
  tEvent event(false, false, status);
  WaiterGroup group(event, 3);
  event.set();
  for (auto& done : group.done) EXPECT_TRUE(finishes(done));
  EXPECT_EQ(group.woken.value(), 3);
  EXPECT_TRUE(event.waitFor(0, status));
}

// Setting an event no one waits for skips the mutex and the condition; a
// set racing a waiter that is just going to sleep must still wake it. Two
// threads hand a turn back and forth through two auto-reset events: a lost
// wake-up shows as a wait that runs out.
TEST(EventSet, NoWakeUpIsLostWhenASetRacesAWaiter) {
  tStatus status;
  tEvent ping(true, false, status), pong(true, false, status);
  constexpr int kRounds = 20000;
  std::atomic<int> missed{0};
  WorkerThread partner;
  auto done = partner.post([&] {
    tStatus waitStatus;
    for (int i = 0; i < kRounds && missed == 0; ++i) {
      if (!ping.waitFor(kLongTimeoutMs, waitStatus)) ++missed;
      pong.set();
    }
  });
  for (int i = 0; i < kRounds && missed == 0; ++i) {
    ping.set();
    if (!pong.waitFor(kLongTimeoutMs, status)) ++missed;
  }
  ASSERT_TRUE(finishes(done));
  EXPECT_EQ(missed.load(), 0);
}

// ---------------------------------------------------------------------------
// tSharedExclusiveLock
// ---------------------------------------------------------------------------

class SharedExclusiveLock : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(status.code, 0); }

  // A shared holder on its own thread; release() runs on that same thread.
  struct SharedHolder {
    explicit SharedHolder(tSharedExclusiveLock& lock) : lock(lock) {}
    std::future<void> acquire() { return thread.post([this] { lock.acquireShared(); }); }
    std::future<void> release() { return thread.post([this] { lock.releaseShared(); }); }
    tSharedExclusiveLock& lock;
    WorkerThread thread;
  };

  struct ExclusiveHolder {
    explicit ExclusiveHolder(tSharedExclusiveLock& lock) : lock(lock) {}
    std::future<void> acquire() { return thread.post([this] { lock.acquireExclusive(); }); }
    std::future<void> release() { return thread.post([this] { lock.releaseExclusive(); }); }
    tSharedExclusiveLock& lock;
    WorkerThread thread;
  };

  // An exclusive acquirer has shut the gate and removed its base count.
  bool draining(int32_t sharedCountsInside) {
    return eventually([&] {
      return Peer::exclusiveActive(lock) == 1 && Peer::userCount(lock) == sharedCountsInside;
    });
  }

  tStatus status;
  tSharedExclusiveLock lock{status};
};

TEST_F(SharedExclusiveLock, NewLockIsOpenWithBaseCount) {
  EXPECT_EQ(Peer::userCount(lock), 1);
  EXPECT_EQ(Peer::exclusiveActive(lock), 0);
  EXPECT_TRUE(Peer::gateOpen(lock));
  EXPECT_FALSE(Peer::drainedSignalled(lock));
}

TEST_F(SharedExclusiveLock, ErroredStatusStillSetsCountersButCreatesNothing) {
  tStatus errored = erroredStatus();
  tSharedExclusiveLock unusable(errored);
  EXPECT_FALSE(Peer::membersInitialised(unusable));
  EXPECT_EQ(Peer::userCount(unusable), 1);
  EXPECT_EQ(Peer::exclusiveActive(unusable), 0);
  expectUntouched(errored);
}

TEST_F(SharedExclusiveLock, SharedHoldersCountInAndOut) {
  SharedHolder a(lock), b(lock);
  a.acquire().get();
  b.acquire().get();
  EXPECT_EQ(Peer::userCount(lock), 3);
  a.release().get();
  b.release().get();
  EXPECT_EQ(Peer::userCount(lock), 1);
  EXPECT_FALSE(Peer::drainedSignalled(lock)) << "no exclusive acquirer, so no drain to report";
}

TEST_F(SharedExclusiveLock, UncontendedExclusiveEntersAndDrainStaysSignalledUntilRelease) {
  lock.acquireExclusive();
  EXPECT_EQ(Peer::userCount(lock), 0);
  EXPECT_FALSE(Peer::gateOpen(lock));
  EXPECT_TRUE(Peer::drainedSignalled(lock));
  lock.releaseExclusive();
  EXPECT_FALSE(Peer::drainedSignalled(lock));
  EXPECT_TRUE(Peer::gateOpen(lock));
  EXPECT_EQ(Peer::userCount(lock), 1);
  EXPECT_EQ(Peer::exclusiveActive(lock), 0);
}

TEST_F(SharedExclusiveLock, ExclusiveWaitsForEverySharedHolderInside) {
  SharedHolder first(lock), second(lock);
  first.acquire().get();
  second.acquire().get();

  ExclusiveHolder writer(lock);
  auto entered = writer.acquire();
  ASSERT_TRUE(draining(2));
  first.release().get();
  ASSERT_TRUE(draining(1));
  EXPECT_TRUE(stillRunning(entered)) << "one shared holder is still inside";
  second.release().get();
  ASSERT_TRUE(finishes(entered));
  writer.release().get();
}

TEST_F(SharedExclusiveLock, LateSharedAcquirerWaitsForReleaseNotJustForDrain) {
  SharedHolder inside(lock);
  inside.acquire().get();
  ExclusiveHolder writer(lock);
  auto writerEntered = writer.acquire();
  ASSERT_TRUE(draining(1));

  std::atomic<bool> writerReleasing{false};
  std::atomic<bool> enteredEarly{false};
  WorkerThread late;
  auto lateEntered = late.post([&] {
    lock.acquireShared();
    if (!writerReleasing.load()) enteredEarly = true;
  });

  inside.release().get();
  ASSERT_TRUE(finishes(writerEntered));
  EXPECT_TRUE(stillRunning(lateEntered));

  writerReleasing = true;
  writer.release().get();
  ASSERT_TRUE(finishes(lateEntered));
  EXPECT_FALSE(enteredEarly.load());
  late.post([&] { lock.releaseShared(); }).get();
  EXPECT_EQ(Peer::userCount(lock), 1);
}

TEST_F(SharedExclusiveLock, OneReleaseFreesEveryBackedOffAcquirer) {
  ExclusiveHolder writer(lock);
  writer.acquire().get();

  std::atomic<bool> writerReleasing{false};
  std::atomic<int> enteredEarly{0};
  std::vector<std::unique_ptr<SharedHolder>> readers;
  std::vector<std::future<void>> entered;
  for (int i = 0; i < 3; ++i) {
    readers.push_back(std::make_unique<SharedHolder>(lock));
    entered.push_back(readers.back()->thread.post([&] {
      lock.acquireShared();
      if (!writerReleasing.load()) ++enteredEarly;
    }));
  }
  for (auto& f : entered) EXPECT_TRUE(stillRunning(f));

  writerReleasing = true;
  writer.release().get();
  for (auto& f : entered) ASSERT_TRUE(finishes(f));
  EXPECT_EQ(enteredEarly.load(), 0);
  EXPECT_EQ(Peer::userCount(lock), 4);
  for (auto& reader : readers) reader->release().get();
  EXPECT_EQ(Peer::userCount(lock), 1);
}

TEST_F(SharedExclusiveLock, ExclusiveAcquirersAreServedOneAtATime) {
  ExclusiveHolder first(lock), second(lock);
  first.acquire().get();
  auto secondEntered = second.acquire();
  EXPECT_TRUE(stillRunning(secondEntered));
  first.release().get();
  ASSERT_TRUE(finishes(secondEntered));
  EXPECT_EQ(Peer::exclusiveActive(lock), 1);
  second.release().get();
}

// A shared holder preempted between its decrement and its drain signal must
// not leave drainedEvent set once the exclusive holder it was draining for
// has gone: the next exclusive acquirer would walk past holders still inside.
TEST_F(SharedExclusiveLock, LateDrainSignalFromFinishedTenureIsDropped) {
  SharedHolder inside(lock);
  inside.acquire().get();
  ExclusiveHolder writer(lock);
  auto writerEntered = writer.acquire();
  ASSERT_TRUE(draining(1));

  // The holder's decrement lands, its signal is delayed. Another party (here
  // the test, as a backed-off acquirer would) reports the drain meanwhile.
  inside.thread.post([&] { EXPECT_EQ(Peer::decrementOnly(lock), 0); }).get();
  Peer::lateDrainSignal(lock);
  ASSERT_TRUE(finishes(writerEntered));
  writer.release().get();

  // The delayed signal now arrives after the tenure ended.
  inside.thread.post([&] { Peer::lateDrainSignal(lock); }).get();
  EXPECT_FALSE(Peer::drainedSignalled(lock));

  // And the next exclusive acquirer still waits for a real shared holder.
  SharedHolder next(lock);
  next.acquire().get();
  auto nextWriterEntered = writer.acquire();
  ASSERT_TRUE(draining(1));
  EXPECT_TRUE(stillRunning(nextWriterEntered));
  next.release().get();
  ASSERT_TRUE(finishes(nextWriterEntered));
  writer.release().get();
}

// Readers and writers hammer the lock; a plain (non-atomic) value guarded by
// it must never be seen mid-update, and under ThreadSanitizer every access
// must be ordered by the lock.
TEST_F(SharedExclusiveLock, MixedLoadKeepsWritersAlone) {
  constexpr int kReaders = 4;
  constexpr int kWriters = 2;
  constexpr int kRounds = 2000;
  int64_t guardedA = 0;
  int64_t guardedB = 0;
  std::atomic<int> readersInside{0};
  std::atomic<int> violations{0};

  std::vector<std::unique_ptr<WorkerThread>> threads;
  std::vector<std::future<void>> done;
  for (int r = 0; r < kReaders; ++r) {
    threads.push_back(std::make_unique<WorkerThread>());
    done.push_back(threads.back()->post([&] {
      for (int i = 0; i < kRounds; ++i) {
        tSharedHolder hold(lock);
        ++readersInside;
        if (guardedA != guardedB) ++violations;
        --readersInside;
      }
    }));
  }
  for (int w = 0; w < kWriters; ++w) {
    threads.push_back(std::make_unique<WorkerThread>());
    done.push_back(threads.back()->post([&] {
      for (int i = 0; i < kRounds / 4; ++i) {
        tExclusiveHolder hold(lock);
        if (readersInside.load() != 0) ++violations;
        ++guardedA;
        ++guardedB;
      }
    }));
  }
  for (auto& f : done) ASSERT_TRUE(finishes(f));
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(guardedA, kWriters * (kRounds / 4));
  EXPECT_EQ(Peer::userCount(lock), 1);
  EXPECT_EQ(Peer::exclusiveActive(lock), 0);
}

// ---------------------------------------------------------------------------
// Priority inheritance
// ---------------------------------------------------------------------------

// A low-priority thread holding a mutex that a real-time thread waits for must
// run at the waiter's priority, or any thread of medium priority starves both.
// Only the kernel shows the boost, in the holder's effective priority: the
// prio field of /proc/self/task/<tid>/stat, -1 - p for SCHED_FIFO priority p
// (sched_getparam() reports the thread's own setting, never a boost).
// Waits on an event or for shared entry are condition waits, which cannot
// boost anyone, so only the mutexes themselves are checked.
class PriorityInheritance : public ::testing::Test {
 protected:
  static constexpr int kWaiterPriority = 50;

  void SetUp() override {
    ASSERT_EQ(status.code, 0);
    // tMutex falls back to a plain recursive mutex where the kernel refuses
    // priority-inheriting ones (qemu's user-mode emulation, for one).
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_t probe;
    const int probeResult = pthread_mutex_init(&probe, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (probeResult != 0) {
      GTEST_SKIP() << "no priority-inheriting mutexes here (" << std::strerror(probeResult) << "): tMutex fell back";
    }
    pthread_mutex_destroy(&probe);

    int schedulingResult = 0;
    waiter.post([&] {
      sched_param realTime{};
      realTime.sched_priority = kWaiterPriority;
      schedulingResult = pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime);
    }).get();
    if (schedulingResult != 0) {
      GTEST_SKIP() << "SCHED_FIFO priority " << kWaiterPriority << " cannot be set ("
                   << std::strerror(schedulingResult) << ")";
    }
    holder.post([&] { holderTid = static_cast<pid_t>(syscall(SYS_gettid)); }).get();
  }

  // The effective priority of the holder thread, or -1000 if unreadable.
  int holderPriority() const {
    std::ifstream stat("/proc/self/task/" + std::to_string(holderTid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t commandEnd = line.rfind(')');
    if (commandEnd == std::string::npos) return -1000;
    std::istringstream fields(line.substr(commandEnd + 1));
    std::string field;
    for (int number = 3; number <= 18 && fields >> field; ++number) {
      if (number == 18) return std::stoi(field);  // fields count from 1: pid, (comm), state, ...
    }
    return -1000;
  }

  // The holder takes the lock with `acquire`, the real-time waiter blocks in
  // `acquire`; the holder must run at the waiter's priority until it
  // releases, and at its own afterwards.
  void expectHolderBoostedWhileWaiterBlocks(std::function<void()> acquire, std::function<void()> release) {
    const int ownPriority = holderPriority();
    ASSERT_NE(ownPriority, -1000) << "no /proc/self/task/<tid>/stat";
    holder.post(acquire).get();
    std::future<void> waiting = waiter.post([&] {
      acquire();
      release();
    });
    EXPECT_TRUE(eventually([&] { return holderPriority() == -1 - kWaiterPriority; }))
        << "holder's priority stayed " << holderPriority();
    EXPECT_TRUE(stillRunning(waiting));
    holder.post(release).get();
    ASSERT_TRUE(finishes(waiting));
    EXPECT_EQ(holderPriority(), ownPriority) << "the boost ends with the release";
  }

  tStatus status;
  pid_t holderTid = 0;
  WorkerThread holder;
  WorkerThread waiter;
};

TEST_F(PriorityInheritance, MutexHolderRunsAtBlockedWaitersPriority) {
  tMutex mutex(status);
  expectHolderBoostedWhileWaiterBlocks([&] { mutex.lock(); }, [&] { mutex.unlock(); });
}

TEST_F(PriorityInheritance, ExclusiveHolderRunsAtPriorityOfWaiterBlockedInAcquireExclusive) {
  tSharedExclusiveLock lock(status);
  expectHolderBoostedWhileWaiterBlocks([&] { lock.acquireExclusive(); }, [&] { lock.releaseExclusive(); });
}

}  // namespace
