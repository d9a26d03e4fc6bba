// -----------------------------------------------------------------------------
// File: tests/fifo/regionsTest.cpp
// -----------------------------------------------------------------------------
//
// Regions lent to the host, against the simulated lower library and host
// runtime: zero copy, give-back order, timeouts and cancellation, host
// faults, deferred close and the download/reset guard.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <iostream>
#include <new>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "failPoint.h"
#include "failingAllocator.h"
#include "onSeam.h"
#include "fifo/acquire.h"
#include "fifo/fifoState.h"
#include "protons/time/monotonicClock.h"
#include "regionFixture.h"
#include "sessions/registry.h"

// Reaches the registry lock's private state: whether an exclusive acquirer
// is in or waiting for shared holders to drain.
class tSharedExclusiveLockTestPeer {
 public:
  static bool exclusiveWaiting(tSharedExclusiveLock& lock) { return lock.exclusiveActive.load() != 0; }
};

// The size of one region-queue node (the entry and two links), so that a
// test can make the region list unable to grow.
namespace {
struct RegionNodeShape {
  tRegionEntry entry;
  void* previous;
  void* next;
};
}  // namespace

namespace regiontest {
namespace {

using GiveBacks = std::vector<std::pair<uint32_t, uint32_t>>;

TEST_F(RegionTest, RefusesBadArgumentsBeforeTouchingTheLowerLibrary) {
  uint32_t reference = 77, acquired = 0, remaining = 0;
  EXPECT_EQ(-52005, ViDazoHx_AcquireFifoReadRegionScalar(session_, kReadU32, &reference, 4, kTypeU32, 0, 100,
                                                         nullptr, &remaining));
  EXPECT_EQ(0u, reference) << "the reference is cleared before the checks that follow it";
  reference = 77;
  EXPECT_EQ(-52005, ViDazoHx_AcquireFifoReadRegionScalar(session_, kReadU32, &reference, 4, 9, 0, 100, &acquired,
                                                         &remaining));
  EXPECT_EQ(0u, reference);
  EXPECT_EQ(-52005, ViDazoHx_AcquireFifoWriteRegionScalar(session_, kWriteU32, nullptr, 4, kTypeU32, 0, 100,
                                                          &acquired, &remaining));
  EXPECT_EQ(-61499, ViDazoHx_AcquireFifoReadRegionScalar(session_ | 0x2000, kReadU32, &reference, 4, kTypeU32, 0,
                                                         100, &acquired, &remaining));
  EXPECT_EQ(-63195, acquireRead(0x777, kReadU32, 4, 100).status);
  EXPECT_EQ(0u, ViDazoSim_CountJournalRecords(kAcquireReadU32));
  EXPECT_EQ(1u, HostRuntimeSim_ListCleanup(nullptr, 0)) << "only the session's own registration";
}

TEST_F(RegionTest, ZeroElementsCallsTheLowerLibraryAndLendsNothing) {
  Region r = acquireRead(session_, kReadU32, 0, 100);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.reference);
  EXPECT_EQ(1u, ViDazoSim_CountJournalRecords(kAcquireReadU32));
  EXPECT_EQ(0u, HostRuntimeSim_ListReferences(nullptr, 0));
}

TEST_F(RegionTest, ReadRegionLendsTheRingBufferItself) {
  void* base = nullptr;
  uint32_t bytes = 0;
  ASSERT_EQ(0, ViDazoSim_GetFifoBuffer(session_, kReadU32, &base, &bytes));
  Region r = acquireRead(session_, kReadU32, 16, 1000);
  ASSERT_EQ(0, r.status);
  ASSERT_EQ(16u, r.acquired);
  ViDazoHx_DataRecord record = recordOf(r.reference);
  EXPECT_EQ(base, record.elements);
  EXPECT_EQ(1, record.kind);
  EXPECT_EQ(16u, record.elementCount);
  EXPECT_EQ(4u, record.elementSize);
  EXPECT_NE(nullptr, record.regionEntry);
  EXPECT_EQ(0, ViDazoSim_CheckGenerated(ViDazoSim_TypeU32, kSeed, 0, record.elements, 16, nullptr));
  EXPECT_EQ(16u, acquiredInLower(session_, kReadU32));
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(r.reference));
  EXPECT_EQ((GiveBacks{{kReadU32, 16}}), giveBacks(session_));
  EXPECT_EQ(0u, acquiredInLower(session_, kReadU32));
}

TEST_F(RegionTest, WritingThroughAWriteRegionReachesTheTarget) {
  uint32_t reference = 0, acquired = 0, remaining = 0;
  ASSERT_EQ(0, ViDazoHx_AcquireFifoWriteRegionScalar(session_, kWriteU32, &reference, 8, kTypeU32, 0, 1000,
                                                     &acquired, &remaining));
  ASSERT_EQ(8u, acquired);
  ViDazoHx_DataRecord record = recordOf(reference);
  void* base = nullptr;
  uint32_t bytes = 0;
  ASSERT_EQ(0, ViDazoSim_GetFifoBuffer(session_, kWriteU32, &base, &bytes));
  EXPECT_EQ(base, record.elements);
  const uint32_t sent[8] = {1, 2, 3, 5, 8, 13, 21, 34};
  std::memcpy(record.elements, sent, sizeof sent);
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(reference));
  uint32_t received[8] = {};
  ASSERT_EQ(0, ViDazoSim_PullFifo(session_, kWriteU32, received, 8, 1000, nullptr));
  EXPECT_EQ(0, std::memcmp(sent, received, sizeof sent));
}

// R1, R2, R3 of 1, 2 and 3 elements, disposed of in the given order: each
// give-back carries its own region's count, always in acquisition order.
struct OrderCase {
  int disposal[3];
  std::vector<GiveBacks> afterEach;
};

// "R3R2R1": the disposal order, for the case's name and its printed value.
std::string disposalOrder(const OrderCase& c) {
  std::string order;
  for (int index : c.disposal) order += "R" + std::to_string(index + 1);
  return order;
}

void PrintTo(const OrderCase& c, std::ostream* out) { *out << "disposal " << disposalOrder(c); }

class RegionOrderTest : public RegionTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(RegionOrderTest, GivesBackInAcquisitionOrderWithOwnCounts) {
  Region regions[3];
  for (uint32_t i = 0; i < 3; ++i) {
    regions[i] = acquireRead(session_, kReadU32, i + 1, 1000);
    ASSERT_EQ(0, regions[i].status);
  }
  for (int step = 0; step < 3; ++step) {
    EXPECT_EQ(0, HostRuntimeSim_DisposeReference(regions[GetParam().disposal[step]].reference));
    EXPECT_EQ(GetParam().afterEach[step], giveBacks(session_)) << "after disposal " << step;
  }
  EXPECT_EQ(0u, acquiredInLower(session_, kReadU32));
}

const GiveBacks kAll = {{kReadU32, 1}, {kReadU32, 2}, {kReadU32, 3}};
INSTANTIATE_TEST_SUITE_P(Orders, RegionOrderTest,
                         ::testing::Values(OrderCase{{2, 1, 0}, {{}, {}, kAll}},
                                           OrderCase{{0, 2, 1}, {{{kReadU32, 1}}, {{kReadU32, 1}}, kAll}}),
                         [](const ::testing::TestParamInfo<OrderCase>& info) { return disposalOrder(info.param); });

// --- time ------------------------------------------------------------------

class RegionTimeTest : public RegionTest {
 protected:
  // Holds most of the FIFO, so that a further request answers -61219.
  void holdMostOfTheFifo() {
    holder_ = acquireRead(session_, kReadU32, 1000, 1000);
    ASSERT_EQ(0, holder_.status);
    ASSERT_EQ(1000u, holder_.acquired);
  }
  static std::vector<ViDazoSim_JournalRecord> attempts(const char* function = kAcquireReadU32) {
    std::vector<ViDazoSim_JournalRecord> result;
    ViDazoSim_JournalRecord record;
    for (uint32_t i = 0; ViDazoSim_FindJournalRecord(function, i, &record) == 0; ++i) result.push_back(record);
    return result;
  }
  Region holder_;
};

TEST_F(RegionTimeTest, TimeoutZeroMakesExactlyOneAttemptAndDoesNotWait) {
  holdMostOfTheFifo();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-61219, acquireRead(session_, kReadU32, 100, 0).status);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  auto all = attempts();
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(0u, all[1].arguments[4]) << "the one attempt waits 0 ms";
  EXPECT_EQ(-61219, all[1].result);
}

TEST_F(RegionTimeTest, FiniteTimeoutUsedUpWaitingForTheTurn) {
  holdMostOfTheFifo();
  auto start = std::chrono::steady_clock::now();
  Region r = acquireRead(session_, kReadU32, 100, 200);
  EXPECT_EQ(-61219, r.status);
  EXPECT_EQ(0u, r.reference);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
  EXPECT_EQ(2u, attempts().size()) << "no release came, so no second attempt";
  // The turn was given back: the next call gets its attempt at once.
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(holder_.reference));
  EXPECT_EQ(0, acquireRead(session_, kReadU32, 100, 0).status);
}

TEST_F(RegionTimeTest, AReleaseDuringTheWaitLeadsToANewAttempt) {
  holdMostOfTheFifo();
  auto waiting = std::async(std::launch::async, [&] { return acquireRead(session_, kReadU32, 100, 10000); });
  // The waiting call blocks inside the library, not the simulator; its first
  // attempt's journal entry is all there is to see of it.
  ASSERT_TRUE(eventually([] { return attempts().size() == 2; })) << "first attempt answered -61219";
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(holder_.reference));
  Region r = waiting.get();
  EXPECT_EQ(0, r.status);
  EXPECT_GT(r.acquired, 0u) << "up to the ring buffer's end";
  auto all = attempts();
  ASSERT_EQ(3u, all.size());
  EXPECT_EQ(-61219, all[1].result);
  EXPECT_EQ(0, all[2].result);
  EXPECT_LE(all[2].arguments[4], 10000u);
  EXPECT_GT(all[2].arguments[4], 0u) << "the retry gets what is left of the timeout";
}

// A long wait, infinite or finite, is cut into attempts of 3000 ms, so that
// the host's cleanup ends it within one attempt, whether the call waits
// inside the lower library or for the turn. A finite one asks again only
// while time is left.
class LongWaitTest : public RegionTimeTest, public ::testing::WithParamInterface<uint32_t> {
 protected:
  // Runs the host's cleanup once `waiting` waits, and checks that it ended
  // the call with HostCancelled within one attempt, well before its timeout.
  void cleanupEnds(std::future<Region>& waiting) {
    const auto cleanupAt = std::chrono::steady_clock::now();
    HostRuntimeSim_RunCleanup();
    Region r = waiting.get();
    const auto took = std::chrono::steady_clock::now() - cleanupAt;
    EXPECT_EQ(-50405, r.status);
    EXPECT_EQ(0u, r.reference);
    EXPECT_LT(took, std::chrono::milliseconds(4500)) << "within one attempt";
    std::cout << "timeout " << GetParam() << " ms ended by the cleanup after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
    EXPECT_EQ(0u, HostRuntimeSim_ListCleanup(nullptr, 0)) << "the call's cleanup registration is withdrawn";
  }
};

TEST_P(LongWaitTest, RetriesInsideTheLowerLibraryInAttemptsAndEndsOnHostCleanup) {
  // An empty FIFO and five quick -50400 answers, then a real 3000 ms wait.
  const uint32_t emptyU64 = 8;
  const char* acquireU64 = "ViDazoDll_AcquireFifoReadElementsU64";
  ASSERT_EQ(0, ViDazoHx_StartFifo(session_, emptyU64));
  ASSERT_EQ(0, ViDazoSim_InjectStatus(acquireU64, -50400, 5));
  auto waiting = std::async(std::launch::async,
                            [&] { return acquireRead(session_, emptyU64, 4, GetParam(), ViDazoHx_TypeU64); });
  ASSERT_EQ(0, ViDazoSim_WaitForBlockedCalls(1, 5000));
  cleanupEnds(waiting);
  auto all = attempts(acquireU64);
  ASSERT_EQ(6u, all.size());
  for (const auto& attempt : all) EXPECT_EQ(3000u, attempt.arguments[4]);
}

TEST_P(LongWaitTest, WaitsForTheTurnInAttemptsAndEndsOnHostCleanup) {
  holdMostOfTheFifo();
  auto waiting = std::async(std::launch::async, [&] { return acquireRead(session_, kReadU32, 100, GetParam()); });
  ASSERT_TRUE(eventually([] { return attempts().size() == 2; })) << "first attempt answered -61219";
  cleanupEnds(waiting);
  EXPECT_EQ(2u, attempts().size()) << "no release came, so no second attempt";
}

TEST_F(RegionTimeTest, ALongFiniteWaitAsksAgainUntilItsTimeIsUsedUp) {
  const uint32_t emptyU64 = 8;
  const char* acquireU64 = "ViDazoDll_AcquireFifoReadElementsU64";
  ASSERT_EQ(0, ViDazoHx_StartFifo(session_, emptyU64));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-50400, acquireRead(session_, emptyU64, 4, 3500, ViDazoHx_TypeU64).status);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3490));
  auto all = attempts(acquireU64);
  ASSERT_EQ(2u, all.size()) << "a capped attempt, then what is left";
  EXPECT_EQ(3000u, all[0].arguments[4]);
  EXPECT_LE(all[1].arguments[4], 500u);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, LongWaitTest, ::testing::Values(ViDazoHx_InfiniteTimeout, 6000u));

// --- host faults -------------------------------------------------------------

TEST_F(RegionTest, RefusedCleanupRegistrationLendsNothingAndFreesTheTurn) {
  ASSERT_EQ(0, HostRuntimeSim_InjectResult("RTSetCleanupProc", 1, 2));
  Region r = acquireRead(session_, kReadU32, 4, 100);
  EXPECT_EQ(-52000, r.status);
  EXPECT_EQ(0u, r.reference);
  EXPECT_EQ(0u, ViDazoSim_CountJournalRecords(kAcquireReadU32));
  EXPECT_EQ(0, acquireRead(session_, kReadU32, 4, 0).status) << "acquireMutex and the turn are free";
}

TEST_F(RegionTest, RefusedReferenceGivesTheElementsBackAtOnce) {
  ASSERT_EQ(0, HostRuntimeSim_InjectResult("EDVR_CreateReference", 1, 41));
  Region r = acquireRead(session_, kReadU32, 5, 100);
  EXPECT_EQ(-50405, r.status);
  EXPECT_EQ((GiveBacks{{kReadU32, 5}}), giveBacks(session_));
  EXPECT_EQ(0u, acquiredInLower(session_, kReadU32));
  EXPECT_EQ(0, ViDazoHx_Download(session_)) << "no region is left behind";
}

TEST_F(RegionTest, RefusedReferenceBehindAnOlderRegionGoesBackAfterIt) {
  Region older = acquireRead(session_, kReadU32, 1, 100);
  ASSERT_EQ(0, older.status);
  ASSERT_EQ(0, HostRuntimeSim_InjectResult("EDVR_CreateReference", 1, 41));
  EXPECT_EQ(-50405, acquireRead(session_, kReadU32, 5, 100).status);
  EXPECT_EQ(GiveBacks{}, giveBacks(session_)) << "not ahead of the host's live elements";
  EXPECT_EQ(-61217, ViDazoHx_Reset(session_));
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(older.reference));
  EXPECT_EQ((GiveBacks{{kReadU32, 1}, {kReadU32, 5}}), giveBacks(session_));
  EXPECT_EQ(0u, acquiredInLower(session_, kReadU32));
}

TEST_F(RegionTest, RegionListThatCannotGrowTakesNoElements) {
  Region older = acquireRead(session_, kReadU32, 1, 100);
  ASSERT_EQ(0, older.status);
  testsupport::failAllocationsOf(sizeof(RegionNodeShape));
  Region r = acquireRead(session_, kReadU32, 2, 100);
  EXPECT_EQ(0, testsupport::disarmAllocationFailures()) << "the armed failure was not reached";
  EXPECT_EQ(-52000, r.status);
  EXPECT_EQ(0u, r.reference);
  EXPECT_EQ(1u, ViDazoSim_CountJournalRecords(kAcquireReadU32)) << "the lower library was not asked";
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(older.reference));
  EXPECT_EQ((GiveBacks{{kReadU32, 1}}), giveBacks(session_));
  // The list stays marked failed: later calls fail too, still taking nothing,
  // and withdraw their cleanup registration as any failed call does.
  EXPECT_EQ(-52000, acquireRead(session_, kReadU32, 4, 100).status);
  EXPECT_EQ(1u, ViDazoSim_CountJournalRecords(kAcquireReadU32));
  EXPECT_EQ(1u, HostRuntimeSim_ListCleanup(nullptr, 0)) << "only the session's own registration";
  EXPECT_EQ(0u, acquiredInLower(session_, kReadU32));
}

// A FIFO that streams regions keeps the node of the last one as the spare:
// after the first region a cycle allocates nothing. That holds also when a
// release fills the spare between an acquisition's look for it and its
// regionMutex tenure: the acquisition takes that node.
TEST_F(RegionTest, RegionCyclesReuseTheSpareNodeAndAllocateNothingAfterTheFirst) {
  reliability::LibraryCall counted;  // this thread's library allocations, from here on
  auto cycle = [&] {
    Region r = acquireRead(session_, kReadU32, 4, 100);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0, HostRuntimeSim_DisposeReference(r.reference));
  };
  cycle();
  const uint64_t afterFirst = reliability::allocationsCounted();
  ASSERT_GT(afterFirst, 0u) << "the first region makes its node";
  for (int i = 0; i < 3; ++i) cycle();
  EXPECT_EQ(afterFirst, reliability::allocationsCounted()) << "steady cycles";

  Region older = acquireRead(session_, kReadU32, 1, 100);  // takes the spare
  ASSERT_EQ(0, older.status);
  testsupport::OnSeam seam(tSeam::reserveFoundNoSpare,
                           [&] { EXPECT_EQ(0, HostRuntimeSim_DisposeReference(older.reference)); });
  Region r = acquireRead(session_, kReadU32, 2, 100);
  EXPECT_TRUE(seam.fired());
  EXPECT_EQ(0, r.status) << "the spare a release left meanwhile is there to take";
  EXPECT_EQ(2u, r.acquired);
  EXPECT_EQ(afterFirst, reliability::allocationsCounted()) << "no node made beside it";
}

// --- a session gone between ensuring its FIFO record and using it --------------

TEST_F(RegionTest, LockingAFifoOfAClosedSessionHoldsAndRegistersNothing) {
  tCleanupFlag flag{0};
  tFifoState* state = nullptr;
  EXPECT_EQ(-63195, lockFifoForAcquisition(0x777, kReadU32, &flag, &state));
  EXPECT_EQ(-63195, lockFifoForAcquisition(session_, 12, &flag, &state)) << "no record for that FIFO";
  EXPECT_EQ(nullptr, state);
  EXPECT_EQ(1u, HostRuntimeSim_ListCleanup(nullptr, 0)) << "only the session's own registration";
  EXPECT_EQ(0, ViDazoHx_Close(session_, 0)) << "no shared lock was left held";
}

// A close refused for regions out elsewhere still removes idle FIFO records;
// it must not run between an acquisition's find-or-create and its lookup.
TEST_F(RegionTest, CloseRefusedElsewhereCannotTakeTheRecordAnAcquisitionEnsured) {
  ASSERT_EQ(0, acquireRead(session_, kReadI32, 1, 100, kTypeI32).status);
  ASSERT_EQ(-61217, ViDazoHx_Close(session_, 0)) << "removes the idle U32 record";
  std::atomic<bool> closed{false};
  std::thread closer;
  testsupport::OnSeam seam(tSeam::acquireAfterEnsure, [&] {
    closer = std::thread([&] {
      ViDazoHx_Close(session_, 0);
      closed = true;
    });
    EXPECT_TRUE(eventually([&] { return closed.load() || tSharedExclusiveLockTestPeer::exclusiveWaiting(registryLock); }));
  });
  Region r = acquireRead(session_, kReadU32, 2, 100);
  closer.join();
  EXPECT_TRUE(seam.fired());
  EXPECT_EQ(0, r.status) << "the session is open";
  EXPECT_EQ(2u, r.acquired);
}

// --- deferred close ----------------------------------------------------------

uint32_t closesOf(uint32_t session, uint32_t attribute) {
  uint32_t found = 0;
  ViDazoSim_JournalRecord record;
  for (uint32_t i = 0; ViDazoSim_FindJournalRecord("ViDazoDll_Close", i, &record) == 0; ++i) {
    if (record.arguments[0] == session && record.arguments[1] == attribute) ++found;
  }
  return found;
}

TEST_F(RegionTest, LastReleaseCompletesAPutOffCloseAndReturnsItsStatus) {
  Region first = acquireRead(session_, kReadU32, 2, 100);
  Region second = acquireRead(session_, kReadU32, 3, 100);
  EXPECT_EQ(-61217, ViDazoHx_Close(session_, 7));
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(second.reference)) << "only marked: no close yet";
  EXPECT_EQ(0u, closesOf(session_, 1));
  ASSERT_EQ(0, ViDazoSim_InjectStatus("ViDazoDll_Close", -63001, 1));
  EXPECT_EQ(-63001, HostRuntimeSim_DisposeReference(first.reference));
  EXPECT_EQ(1u, closesOf(session_, 1));
  EXPECT_EQ(-63195, ViDazoHx_StartFifo(session_, kReadU32)) << "the record is gone";
}

TEST_F(RegionTest, PutOffCloseWaitsForTheLastBusyFifo) {
  Region onU32 = acquireRead(session_, kReadU32, 2, 100);
  Region onI32 = acquireRead(session_, kReadI32, 2, 100, kTypeI32);
  ASSERT_EQ(0, onI32.status);
  EXPECT_EQ(-61217, ViDazoHx_Close(session_, 0));
  EXPECT_EQ(-61217, HostRuntimeSim_DisposeReference(onU32.reference)) << "the other FIFO is still busy";
  EXPECT_EQ(0u, closesOf(session_, 1));
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(onI32.reference));
  EXPECT_EQ(1u, closesOf(session_, 1));
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

TEST_F(RegionTest, BusyChildHoldsOffItsParentsCloseUntilItsRegionReturns) {
  uint32_t idleChild = 0, busyChild = 0;
  ASSERT_EQ(0, ViDazoHx_OpenResource(session_, "sim1", 0, &idleChild));
  ASSERT_EQ(0, ViDazoHx_OpenResource(session_, "sim1", 0, &busyChild));
  startFifos(busyChild);
  Region r = acquireRead(busyChild, kReadU32, 4, 100);
  ASSERT_EQ(0, r.status);
  EXPECT_EQ(-61217, ViDazoHx_Close(session_, 0));
  EXPECT_EQ(1u, closesOf(idleChild, 1));
  EXPECT_EQ(0u, closesOf(session_, 1));
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(r.reference));
  EXPECT_EQ(1u, closesOf(busyChild, 1));
  EXPECT_EQ(1u, closesOf(session_, 1)) << "the pending parent closes with its last child";
  EXPECT_EQ(-63195, ViDazoHx_StartFifo(session_, kReadU32)) << "and its record is removed";
  tSharedHolder hold(registryLock);
  EXPECT_EQ(nullptr, lookupSession(session_));
}

// A close the library starts itself acts only on the record it saw: by then
// another release or the host may have closed the session, and the lower
// library may have handed its value to a new one.
TEST_F(RegionTest, PutOffCloseFinishedElsewhereMeanwhileIsNotRepeated) {
  Region onU32 = acquireRead(session_, kReadU32, 2, 100);
  Region onI32 = acquireRead(session_, kReadI32, 2, 100, kTypeI32);
  ASSERT_EQ(-61217, ViDazoHx_Close(session_, 0));
  uint32_t reopened = 0;
  testsupport::OnSeam seam(tSeam::releaseBeforeOwnClose, [&] {
    EXPECT_EQ(0, HostRuntimeSim_DisposeReference(onI32.reference)) << "the other release closes the session";
    ASSERT_EQ(0, ViDazoSim_SetNextSession(session_));
    EXPECT_EQ(0, ViDazoHx_Open("regions.bit", "sig", "sim0", 0, &reopened));
  });
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(onU32.reference));
  EXPECT_EQ(session_, reopened);
  EXPECT_EQ(1u, closesOf(session_, 1));
  EXPECT_EQ(1u, ViDazoSim_OpenSessionCount()) << "the new session stays open";
  EXPECT_EQ(0, ViDazoHx_StartFifo(session_, kReadU32)) << "and registered";
}

// A value registered again keeps its record and draws a new generation,
// under registryLock only; a release reads the generation under its FIFO's
// regionMutex only. Nothing orders the two, so the read must be one that
// cannot tear (a torn value would make a put-off close skip for good). The
// thread sanitizer reports the race when the field is a plain 64-bit one.
TEST_F(RegionTest, AReleaseReadsTheGenerationOfARecordRegisteredAgainWithoutARace) {
  Region r = acquireRead(session_, kReadU32, 2, 100);
  ASSERT_EQ(0, r.status);
  auto release = std::async(std::launch::async, [&] { return HostRuntimeSim_DisposeReference(r.reference); });
  EXPECT_EQ(0, registerSession(&session_, 0));
  EXPECT_EQ(0, release.get());
  EXPECT_EQ((GiveBacks{{kReadU32, 2}}), giveBacks(session_));
}

TEST_F(RegionTest, ParentClosedBeforeItsBusyChildsReleaseClosesTheChildOnce) {
  uint32_t child = 0;
  ASSERT_EQ(0, ViDazoHx_OpenResource(session_, "sim1", 0, &child));
  startFifos(child);
  Region r = acquireRead(child, kReadU32, 4, 100);
  ASSERT_EQ(-61217, ViDazoHx_Close(session_, 0));
  testsupport::OnSeam seam(tSeam::releaseBeforeOwnClose, [&] { EXPECT_EQ(0, ViDazoHx_Close(session_, 0)); });
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(r.reference));
  EXPECT_TRUE(seam.fired());
  EXPECT_EQ(1u, closesOf(child, 1));
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

// --- download and reset guard ------------------------------------------------

TEST_F(RegionTest, DownloadAndResetWaitForEveryRegionMarkedOrNot) {
  Region older = acquireRead(session_, kReadU32, 1, 100);
  Region younger = acquireRead(session_, kReadU32, 1, 100);
  EXPECT_EQ(-61217, ViDazoHx_Download(session_));
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(younger.reference));
  EXPECT_EQ(-61217, ViDazoHx_Reset(session_)) << "a marked region is still out";
  EXPECT_EQ(0u, ViDazoSim_CountJournalRecords("ViDazoDll_Download") + ViDazoSim_CountJournalRecords("ViDazoDll_Reset"));
  EXPECT_EQ(0, HostRuntimeSim_DisposeReference(older.reference));
  EXPECT_EQ(0, ViDazoHx_Download(session_));
  EXPECT_EQ(0, ViDazoHx_Reset(session_));
  ViDazoSim_JournalRecord record;
  ASSERT_EQ(0, ViDazoSim_FindJournalRecord("ViDazoDll_Reset", 0, &record));
  EXPECT_EQ(session_, record.arguments[0]) << "handed on without bit 0x4000";
}

TEST_F(RegionTest, GuardForwardsUnregisteredSessionsAndRefusesBit2000) {
  EXPECT_EQ(ViDazoSim_StatusInvalidSession, ViDazoHx_Download(0x777));
  EXPECT_EQ(1u, ViDazoSim_CountJournalRecords("ViDazoDll_Download"));
  EXPECT_EQ(-61499, ViDazoHx_Reset(session_ | 0x2000));
  EXPECT_EQ(0u, ViDazoSim_CountJournalRecords("ViDazoDll_Reset"));
}

TEST(RemainingWait, CountsDownWholeMillisecondsFromTheStopwatch) {
  const int64_t ms = 1000 * 1000;
  EXPECT_EQ(0u, remainingWait(0, monotonicNanoseconds()));
  EXPECT_EQ(3000u, remainingWait(ViDazoHx_InfiniteTimeout, monotonicNanoseconds() - 10000 * ms));
  uint32_t left = remainingWait(1000, monotonicNanoseconds() - 400 * ms);
  EXPECT_LE(left, 600u);
  EXPECT_GT(left, 500u);
  EXPECT_EQ(0u, remainingWait(1000, monotonicNanoseconds() - 1000 * ms));
  EXPECT_EQ(0u, remainingWait(1000, monotonicNanoseconds() - 5000 * ms)) << "used up, not wrapped";
}

}  // namespace
}  // namespace regiontest
