// fifoStartTest.cpp: FIFO records created on demand by the start-FIFO export,
// alone and under concurrent callers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <thread>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "adapter/forwarding.h"
#include "failingAllocator.h"
#include "failingMutexInit.h"
#include "fifo/fifoStart.h"
#include "sessionTestSupport.h"
#include "protons/status/statusCodes.h"
#include "sessions/registry.h"

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace sessiontest {
namespace {

using testsupport::disarmAllocationFailures;
using testsupport::failAllocationsOf;

constexpr auto kBound = std::chrono::seconds(10);

class FifoStartTest : public SessionTest {};

TEST_F(FifoStartTest, StartingTwiceKeepsOneRecordAndForwardsEachTime) {
  const uint32_t session = open();
  clearJournal();

  EXPECT_EQ(0, ViDazoHx_StartFifo(session, 4));
  EXPECT_EQ(0, ViDazoHx_StartFifo(session, 4));

  EXPECT_THAT(fifosOf(session), ElementsAre(4u));
  const std::vector<LowerCall> starts = journalOf("ViDazoDll_StartFifo");
  ASSERT_EQ(2u, starts.size());
  EXPECT_THAT(starts[1].arguments, ElementsAre(session | 0x4000u, 4u));
}

TEST_F(FifoStartTest, SessionsNotOpenedHereNeverReachTheLowerLibrary) {
  uint32_t foreign = 0;
  ASSERT_EQ(0, lower::Open("bitfile", "signature", "sim0", 0, &foreign));
  clearJournal();

  EXPECT_EQ(StatusSessionNotFound, ViDazoHx_StartFifo(foreign, 0));
  EXPECT_EQ(StatusSessionNotFound, ViDazoHx_StartFifo(0x80000000u, 0));
  EXPECT_EQ(StatusSessionNotFound, getOrCreateFifoState(foreign, 0));
  EXPECT_THAT(journal(), IsEmpty());
}

TEST_F(FifoStartTest, AnUnsupportedSessionValueIsRefusedBeforeAnyLookup) {
  const uint32_t session = open();
  clearJournal();
  EXPECT_EQ(StatusSessionNotSupported, ViDazoHx_StartFifo(session | 0x2000u, 0));
  EXPECT_THAT(journal(), IsEmpty());
  EXPECT_THAT(fifosOf(session), IsEmpty());
}

TEST_F(FifoStartTest, ARefusedLowerStartKeepsTheRecord) {
  const uint32_t session = open();
  ViDazoSim_InjectStatus("ViDazoDll_StartFifo", -63004, 1);
  EXPECT_EQ(-63004, ViDazoHx_StartFifo(session, 1));
  EXPECT_THAT(fifosOf(session), ElementsAre(1u));
}

TEST_F(FifoStartTest, ARecordThatCannotBeBuiltLeavesNothingAndTheNextStartRetries) {
  const uint32_t session = open();
  clearJournal();
  failAllocationsOf(sizeof(tEvent));

  EXPECT_EQ(StatusMemoryFull, ViDazoHx_StartFifo(session, 1));
  EXPECT_EQ(0, disarmAllocationFailures());
  testsupport::failMutexCreation(1, EAGAIN);
  EXPECT_EQ(StatusUnexpectedFailure, ViDazoHx_StartFifo(session, 1)) << "its first member, a mutex, failed";
  EXPECT_FALSE(testsupport::disarmMutexCreationFailure());
  EXPECT_THAT(fifosOf(session), IsEmpty());
  EXPECT_THAT(journal(), IsEmpty());

  EXPECT_EQ(0, ViDazoHx_StartFifo(session, 1));
  EXPECT_THAT(fifosOf(session), ElementsAre(1u));
  // A later close must find every record lockable.
  EXPECT_EQ(0, ViDazoHx_Close(session, 0));
}

TEST_F(FifoStartTest, AFailedFifoMapNodeIsStickyForThatSessionOnly) {
  const uint32_t session = open();
  const uint32_t other = open();
  ASSERT_EQ(0, ViDazoHx_StartFifo(session, 0));
  failAllocationsOf(tOrderedMap<tFifoState>::nodeBytes());

  EXPECT_EQ(StatusMemoryFull, ViDazoHx_StartFifo(session, 1));
  EXPECT_EQ(0, disarmAllocationFailures());
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_StartFifo(session, 2)) << "created, but the map's flag stays set";
  EXPECT_EQ(0, ViDazoHx_StartFifo(session, 0)) << "present already: the fast path does not look at the flag";
  EXPECT_THAT(fifosOf(session), ElementsAre(0u, 2u));
  // A record that cannot be built is removed even though the flag already
  // decides the answer: left in place it would be locked through null.
  failAllocationsOf(sizeof(tEvent));
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_StartFifo(session, 3));
  EXPECT_EQ(0, disarmAllocationFailures());
  EXPECT_THAT(fifosOf(session), ElementsAre(0u, 2u));
  EXPECT_EQ(0, ViDazoHx_StartFifo(other, 1));
  EXPECT_EQ(0, ViDazoHx_Close(session, 0));
}

TEST_F(FifoStartTest, TwoThreadsStartingTheSameNewFifoCreateOneRecord) {
  for (uint32_t fifo = 0; fifo < 8; ++fifo) {
    const uint32_t session = open();
    std::promise<void> go;
    std::shared_future<void> started = go.get_future().share();
    auto start = [&] {
      started.wait();
      return ViDazoHx_StartFifo(session, fifo);
    };
    std::future<int32_t> first = std::async(std::launch::async, start);
    std::future<int32_t> second = std::async(std::launch::async, start);
    go.set_value();
    ASSERT_EQ(std::future_status::ready, first.wait_for(kBound));
    ASSERT_EQ(std::future_status::ready, second.wait_for(kBound));

    EXPECT_EQ(0, first.get());
    EXPECT_EQ(0, second.get());
    EXPECT_THAT(fifosOf(session), ElementsAre(fifo));
    EXPECT_EQ(0, ViDazoHx_Close(session, 0));
  }
}

// Starts racing a close: every start finds the session whole (and then
// reaches the lower library, which may have closed it meanwhile) or not at
// all; nothing is left behind and nothing deadlocks.
TEST_F(FifoStartTest, StartsRacingACloseSeeTheSessionWholeOrNotAtAll) {
  const uint32_t session = open();
  std::promise<void> go;
  std::shared_future<void> started = go.get_future().share();
  auto startAll = [&](uint32_t firstFifo) {
    started.wait();
    std::vector<int32_t> results;
    for (uint32_t round = 0; round < 50; ++round) results.push_back(ViDazoHx_StartFifo(session, firstFifo + round % 4));
    return results;
  };
  std::future<std::vector<int32_t>> starter = std::async(std::launch::async, startAll, 0u);
  std::future<std::vector<int32_t>> other = std::async(std::launch::async, startAll, 4u);
  std::future<int32_t> closer = std::async(std::launch::async, [&] {
    started.wait();
    return ViDazoHx_Close(session, 0);
  });
  go.set_value();
  ASSERT_EQ(std::future_status::ready, closer.wait_for(kBound));
  ASSERT_EQ(std::future_status::ready, starter.wait_for(kBound));
  ASSERT_EQ(std::future_status::ready, other.wait_for(kBound));

  EXPECT_EQ(0, closer.get());
  for (int32_t status : starter.get()) EXPECT_THAT(status, AnyOf(0, StatusSessionNotFound, ViDazoSim_StatusInvalidSession));
  for (int32_t status : other.get()) EXPECT_THAT(status, AnyOf(0, StatusSessionNotFound, ViDazoSim_StatusInvalidSession));
  EXPECT_FALSE(isRegistered(session));
}

}  // namespace
}  // namespace sessiontest
