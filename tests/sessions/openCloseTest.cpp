// openCloseTest.cpp: opening and closing sessions against the simulated
// lower library and host runtime, including closes put off while regions
// are lent out and the closing of nested resource sessions.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "adapter/forwarding.h"
#include "onSeam.h"
#include "protons/seam/seam.h"
#include "protons/status/statusCodes.h"
#include "sessionTestSupport.h"
#include "sessions/close.h"
#include "sessions/registry.h"
#include "testSync.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace sessiontest {
namespace {

constexpr int32_t kLowerFailure = -63013;
constexpr int32_t kLowerWarning = 7;

// The (session, attribute) pairs of every lower close, in order.
std::vector<std::pair<uint64_t, uint64_t>> lowerCloses() {
  std::vector<std::pair<uint64_t, uint64_t>> closes;
  for (const LowerCall& call : journalOf("ViDazoDll_Close")) closes.emplace_back(call.arguments[0], call.arguments[1]);
  return closes;
}
std::pair<uint64_t, uint64_t> closed(uint32_t session, uint32_t attribute) { return {session, attribute}; }

// ---- opening ---------------------------------------------------------------

class OpenTest : public SessionTest {
 protected:
  int32_t openInto(uint32_t* session) { return ViDazoHx_Open("bitfile", "signature", "sim0", 0, session); }
};

TEST_F(OpenTest, OpensRegistersForCleanupAndRecordsWithoutReservations) {
  uint32_t session = 0;
  ASSERT_EQ(0, openInto(&session));

  EXPECT_THAT(journalNames(), ElementsAre("ViDazoDll_Open"));
  EXPECT_TRUE(cleanupRegistered(session));
  EXPECT_EQ(1u, cleanupCallCount());
  EXPECT_TRUE(isRegistered(session));
  EXPECT_EQ(0u, parentOf(session));
}

TEST_F(OpenTest, ReservesOneIrqContextPerAnnouncedUnitWithANullContext) {
  addReservedIrqContexts(3);
  uint32_t session = 0;
  ASSERT_EQ(0, openInto(&session));

  const std::vector<LowerCall> reservations = journalOf("ViDazoDll_ReserveIrqContext");
  ASSERT_EQ(3u, reservations.size());
  for (const LowerCall& call : reservations) EXPECT_THAT(call.arguments, ElementsAre(session, 0u));
  ViDazoSim_SessionInfo info{};
  ASSERT_EQ(0, ViDazoSim_GetSessionInfo(session, &info));
  EXPECT_EQ(3u, info.irqContexts);
}

TEST_F(OpenTest, ANegativeReservationCountReservesNothing) {
  addReservedIrqContexts(-2);
  uint32_t session = 0;
  ASSERT_EQ(0, openInto(&session));
  EXPECT_THAT(journalNames(), ElementsAre("ViDazoDll_Open"));
  EXPECT_TRUE(isRegistered(session));
}

TEST_F(OpenTest, AFailedReservationSkipsTheRestRegistersCleanupAndClosesAgain) {
  addReservedIrqContexts(3);
  ViDazoSim_InjectStatus("ViDazoDll_ReserveIrqContext", kLowerFailure, 3);
  uint32_t session = 0;
  EXPECT_EQ(kLowerFailure, openInto(&session));

  EXPECT_THAT(journalNames(), ElementsAre("ViDazoDll_Open", "ViDazoDll_ReserveIrqContext", "ViDazoDll_Close"));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 1)));
  EXPECT_EQ(2u, cleanupCallCount()) << "registered, then withdrawn by the undo close";
  EXPECT_FALSE(cleanupRegistered(session));
  EXPECT_FALSE(isRegistered(session));
}

TEST_F(OpenTest, AWarningOfTheLowerOpenIsReturnedWhenEverythingElseSucceeds) {
  ViDazoSim_InjectStatus("ViDazoDll_Open", kLowerWarning, 1);
  uint32_t session = 0;
  EXPECT_EQ(kLowerWarning, openInto(&session));
  EXPECT_TRUE(isRegistered(session));
  EXPECT_TRUE(cleanupRegistered(session));
}

TEST_F(OpenTest, AFailedLowerOpenIsReturnedWithNothingElseCalled) {
  ViDazoSim_InjectStatus("ViDazoDll_Open", kLowerFailure, 1);
  uint32_t session = 0;
  EXPECT_EQ(kLowerFailure, openInto(&session));
  EXPECT_THAT(journalNames(), ElementsAre("ViDazoDll_Open"));
  EXPECT_EQ(0u, cleanupCallCount());
  EXPECT_THAT(registeredSessions(), IsEmpty());
}

TEST_F(OpenTest, ARefusedCleanupRegistrationIsAnUnexpectedFailureAndUndoesTheOpen) {
  for (int32_t hostResult : {2, 41, 1}) {
    SCOPED_TRACE(hostResult);
    ViDazoSim_ClearJournal();
    HostRuntimeSim_InjectResult("RTSetCleanupProc", 1, hostResult);
    uint32_t session = 0;
    EXPECT_EQ(StatusUnexpectedFailure, openInto(&session));
    EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 1)));
    EXPECT_FALSE(isRegistered(session));
  }
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

TEST_F(OpenTest, AnEarlierReservationErrorOutranksARefusedRegistration) {
  addReservedIrqContexts(1);
  ViDazoSim_InjectStatus("ViDazoDll_ReserveIrqContext", kLowerFailure, 1);
  HostRuntimeSim_InjectResult("RTSetCleanupProc", 1, 2);
  uint32_t session = 0;
  EXPECT_EQ(kLowerFailure, openInto(&session));
  EXPECT_EQ(1u, lowerCloses().size());
}

TEST_F(OpenTest, AFailureRecordedAtLoadFailsEveryOpenBeforeAnythingIsCalled) {
  const tStatus saved = registryLoadStatus;
  registryLoadStatus.offerCode(StatusUnexpectedFailure, kComponentName, kFileSynchronization, 657);
  uint32_t session = 0;
  const int32_t status = openInto(&session);
  registryLoadStatus = saved;

  EXPECT_EQ(StatusUnexpectedFailure, status);
  EXPECT_THAT(journal(), IsEmpty());
  EXPECT_EQ(0u, cleanupCallCount());
}

TEST_F(OpenTest, AnAbsentSessionOutputOpensNothing) {
  EXPECT_EQ(StatusInvalidParameter, openInto(nullptr));
  EXPECT_EQ(StatusInvalidParameter, ViDazoHx_OpenResource(0, "sim1", 0, nullptr));
  EXPECT_THAT(journal(), IsEmpty());
}

TEST_F(OpenTest, OpenResourceRefusesAnUnsupportedParentAndPassesWarningsOn) {
  uint32_t session = 0;
  EXPECT_EQ(StatusSessionNotSupported, ViDazoHx_OpenResource(0x2000u, "sim1", 0, &session));
  EXPECT_THAT(journal(), IsEmpty());

  const uint32_t parent = open();
  ViDazoSim_InjectStatus("ViDazoDll_OpenResource", kLowerWarning, 1);
  EXPECT_EQ(kLowerWarning, ViDazoHx_OpenResource(parent, "sim1", 0, &session));
  EXPECT_THAT(childrenOf(parent), ElementsAre(session));
}

TEST_F(OpenTest, AFailedResourceOpenIsReturnedWithNothingRecorded) {
  const uint32_t parent = open();
  ViDazoSim_InjectStatus("ViDazoDll_OpenResource", kLowerFailure, 1);
  uint32_t session = 0;
  EXPECT_EQ(kLowerFailure, ViDazoHx_OpenResource(parent, "sim1", 0, &session));
  EXPECT_THAT(childrenOf(parent), IsEmpty());
  EXPECT_THAT(lowerCloses(), IsEmpty());
}

// ---- closing ---------------------------------------------------------------

class CloseTest : public SessionTest {};

TEST_F(CloseTest, AnUnsupportedSessionValueIsRefusedBeforeAnything) {
  const uint32_t session = open();
  clearJournal();
  EXPECT_EQ(StatusSessionNotSupported, ViDazoHx_Close(session | 0x2000u, 0));
  EXPECT_THAT(journal(), IsEmpty());
  EXPECT_EQ(1u, cleanupCallCount());
  EXPECT_TRUE(isRegistered(session));
}

TEST_F(CloseTest, AnIdleSessionIsUnregisteredWithdrawnAndClosedWithTheCallersAttribute) {
  const uint32_t session = open();
  ASSERT_EQ(0, ViDazoHx_StartFifo(session, 0));
  clearJournal();

  EXPECT_EQ(0, ViDazoHx_Close(session, 0x1234u));

  EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 0x1234u)));
  EXPECT_THAT(journalNames(), ElementsAre("ViDazoDll_Close"));
  EXPECT_FALSE(isRegistered(session));
  EXPECT_FALSE(cleanupRegistered(session));
}

TEST_F(CloseTest, AFailedLowerCloseIsReturnedWithTheRecordAlreadyGone) {
  const uint32_t session = open();
  ViDazoSim_InjectStatus("ViDazoDll_Close", kLowerFailure, 1);
  EXPECT_EQ(kLowerFailure, ViDazoHx_Close(session, 0));
  EXPECT_FALSE(isRegistered(session));
  EXPECT_FALSE(cleanupRegistered(session));
}

TEST_F(CloseTest, ClosingTwiceWithdrawsAndClosesAgainAndReturnsTheLowerAnswer) {
  const uint32_t session = open();
  ASSERT_EQ(0, ViDazoHx_Close(session, 0));
  const uint32_t hostCalls = cleanupCallCount();

  const int32_t second = ViDazoHx_Close(session, 0);

  EXPECT_EQ(ViDazoSim_StatusInvalidSession, second);
  EXPECT_EQ(hostCalls + 1, cleanupCallCount());
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 0), closed(session, 0)));
}

TEST_F(CloseTest, TheHostsCleanupClosesEveryOpenSessionWithAttributeOne) {
  const uint32_t first = open();
  const uint32_t second = open();
  clearJournal();

  EXPECT_EQ(2u, HostRuntimeSim_RunCleanup());

  EXPECT_THAT(lowerCloses(), ElementsAre(closed(first, 1), closed(second, 1)));
  EXPECT_THAT(registeredSessions(), IsEmpty());
}

TEST_F(CloseTest, TheCleanupProcedureAnswersZeroWhateverTheCloseAnswers) {
  const uint32_t session = open();
  ViDazoSim_InjectStatus("ViDazoDll_Close", kLowerFailure, 1);
  EXPECT_EQ(0, sessionCleanupProc(session));
  EXPECT_EQ(0, sessionCleanupProc(0x2000u));
}

TEST_F(CloseTest, AChildOfAParentWithoutPendingCloseLeavesTheParentAlone) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);
  const uint32_t sibling = openResource(parent);
  clearJournal();

  EXPECT_EQ(0, ViDazoHx_Close(child, 0));

  EXPECT_THAT(lowerCloses(), ElementsAre(closed(child, 0)));
  EXPECT_THAT(childrenOf(parent), ElementsAre(sibling));
  EXPECT_TRUE(cleanupRegistered(parent));
}

TEST_F(CloseTest, ChildrenAreClosedFirstWithAttributeOneAndAFailingChildIsIgnored) {
  const uint32_t parent = open();
  const uint32_t first = openResource(parent);
  const uint32_t second = openResource(parent);
  ViDazoSim_InjectStatus("ViDazoDll_Close", kLowerFailure, 1);
  clearJournal();

  EXPECT_EQ(0, ViDazoHx_Close(parent, 5));

  EXPECT_THAT(lowerCloses(), ElementsAre(closed(first, 1), closed(second, 1), closed(parent, 5)));
  EXPECT_THAT(registeredSessions(), IsEmpty());
  EXPECT_EQ(1u, ViDazoSim_OpenSessionCount()) << "the child whose lower close failed";
}

TEST_F(CloseTest, ThreeLevelsCloseDeepestFirst) {
  const uint32_t root = open();
  const uint32_t child = openResource(root);
  const uint32_t grandchild = openResource(child);
  const uint32_t sibling = openResource(root);
  clearJournal();

  EXPECT_EQ(0, ViDazoHx_Close(root, 3));

  EXPECT_THAT(lowerCloses(),
              ElementsAre(closed(grandchild, 1), closed(child, 1), closed(sibling, 1), closed(root, 3)));
  EXPECT_THAT(registeredSessions(), IsEmpty());
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

TEST_F(CloseTest, ClosingAMiddleSessionTakesItsSubtreeAndKeepsTheRoot) {
  const uint32_t root = open();
  const uint32_t child = openResource(root);
  const uint32_t grandchild = openResource(child);
  clearJournal();

  EXPECT_EQ(0, ViDazoHx_Close(child, 0));

  EXPECT_THAT(lowerCloses(), ElementsAre(closed(grandchild, 1), closed(child, 0)));
  EXPECT_THAT(registeredSessions(), ElementsAre(root));
  EXPECT_THAT(childrenOf(root), IsEmpty());
}

// ---- closes put off while regions are lent out ------------------------------

class DeferredCloseTest : public SessionTest {};

TEST_F(DeferredCloseTest, OwnRegionsOutRefuseTheCloseRemoveIdleFifosAndTheLastReturnFinishesIt) {
  const uint32_t session = open();
  ASSERT_EQ(0, ViDazoHx_StartFifo(session, 0));
  tRegionEntry* region = lendRegion(session, 1);
  ASSERT_NE(nullptr, region);
  ASSERT_EQ(0, ViDazoHx_StartFifo(session, 2));
  clearJournal();

  EXPECT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(session, 0));
  EXPECT_THAT(journal(), IsEmpty());
  EXPECT_THAT(fifosOf(session), ElementsAre(1u));
  EXPECT_TRUE(closePendingOf(session));
  EXPECT_TRUE(cleanupRegistered(session)) << "a refused close leaves the session usable";

  EXPECT_EQ(0, returnRegion(region));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 1)));
  EXPECT_FALSE(isRegistered(session));
  EXPECT_FALSE(cleanupRegistered(session));
}

TEST_F(DeferredCloseTest, AnotherBusyFifoPutsTheCloseOffAgain) {
  const uint32_t session = open();
  tRegionEntry* first = lendRegion(session, 0);
  tRegionEntry* second = lendRegion(session, 1);
  ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(session, 0));

  EXPECT_EQ(StatusRegionsOutstanding, returnRegion(first));
  EXPECT_TRUE(isRegistered(session));
  EXPECT_THAT(lowerCloses(), IsEmpty());

  EXPECT_EQ(0, returnRegion(second));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 1)));
}

TEST_F(DeferredCloseTest, TheHostsCleanupOfABusySessionIsFinishedByTheLastReturn) {
  const uint32_t session = open();
  tRegionEntry* region = lendRegion(session, 0);

  EXPECT_EQ(1u, HostRuntimeSim_RunCleanup());
  EXPECT_TRUE(closePendingOf(session));

  EXPECT_EQ(0, returnRegion(region));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 1)));
}

TEST_F(DeferredCloseTest, ABusyChildKeepsItsParentUntilItsRegionComesBack) {
  const uint32_t parent = open();
  const uint32_t idle = openResource(parent);
  const uint32_t busy = openResource(parent);
  tRegionEntry* region = lendRegion(busy, 0);
  clearJournal();

  EXPECT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(parent, 9));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(idle, 1)));
  EXPECT_THAT(childrenOf(parent), ElementsAre(busy));
  EXPECT_TRUE(closePendingOnChildrenOf(parent));
  EXPECT_TRUE(closePendingOf(busy));
  EXPECT_FALSE(isRegistered(idle));

  EXPECT_EQ(0, returnRegion(region));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(idle, 1), closed(busy, 1), closed(parent, 1)));
  EXPECT_THAT(registeredSessions(), IsEmpty()) << "the pending parent's record goes with its close";
  EXPECT_FALSE(cleanupRegistered(parent));
}

TEST_F(DeferredCloseTest, AParentWithItsOwnRegionsOutWaitsForThemAfterItsLastChild) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);
  tRegionEntry* childRegion = lendRegion(child, 0);
  ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(parent, 0));
  tRegionEntry* parentRegion = lendRegion(parent, 3);
  ASSERT_NE(nullptr, parentRegion);
  clearJournal();

  EXPECT_EQ(0, returnRegion(childRegion));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(child, 1)));
  EXPECT_TRUE(isRegistered(parent));
  EXPECT_TRUE(closePendingOf(parent));

  EXPECT_EQ(0, returnRegion(parentRegion));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(child, 1), closed(parent, 1)));
  EXPECT_THAT(registeredSessions(), IsEmpty());
}

TEST_F(DeferredCloseTest, AFailedLowerCloseOfTheLastChildLeavesThePendingParentOpen) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);
  tRegionEntry* region = lendRegion(child, 0);
  ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(parent, 0));
  ASSERT_EQ(0, lower::Close(child, 0));  // the child is gone below already
  clearJournal();

  EXPECT_EQ(ViDazoSim_StatusInvalidSession, returnRegion(region));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(child, 1)));
  EXPECT_TRUE(cleanupRegistered(parent));
  EXPECT_FALSE(isRegistered(child));
}

TEST_F(DeferredCloseTest, AFailedLowerCloseOfThePendingParentIsMergedIntoTheChildsResult) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);
  tRegionEntry* region = lendRegion(child, 0);
  ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(parent, 0));
  ASSERT_EQ(0, lower::Close(parent, 0));  // the parent is gone below already
  clearJournal();

  EXPECT_EQ(ViDazoSim_StatusInvalidSession, returnRegion(region));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(child, 1), closed(parent, 1)));
  EXPECT_THAT(registeredSessions(), IsEmpty());
}

TEST_F(DeferredCloseTest, ABusyGrandchildKeepsEveryAncestorPendingAndItsReturnClosesThemAll) {
  const uint32_t root = open();
  const uint32_t child = openResource(root);
  const uint32_t grandchild = openResource(child);
  tRegionEntry* region = lendRegion(grandchild, 0);
  clearJournal();

  EXPECT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(root, 4));
  EXPECT_THAT(lowerCloses(), IsEmpty());
  EXPECT_TRUE(closePendingOf(grandchild));
  EXPECT_TRUE(closePendingOnChildrenOf(child));
  EXPECT_TRUE(closePendingOnChildrenOf(root));
  EXPECT_THAT(childrenOf(root), ElementsAre(child));
  EXPECT_EQ(child, parentOf(grandchild));

  EXPECT_EQ(0, returnRegion(region));
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(grandchild, 1), closed(child, 1), closed(root, 1)));
  EXPECT_THAT(registeredSessions(), IsEmpty());
}

// A parent whose close waits for its busy child C1 gains a child C2: before
// C1's region comes back, while C1's close is under way (C1 has left the
// list already), or holding a region of its own. The parent closes, C2 with
// it, once the last region below it is back. It used to stay open below
// for good, C2 with it.
TEST_F(DeferredCloseTest, AChildGainedByAPendingParentIsClosedWithItWhenTheLastRegionComesBack) {
  enum class Gained { before, duringLastClose, busy };
  for (const Gained gained : {Gained::before, Gained::duringLastClose, Gained::busy}) {
    SCOPED_TRACE(static_cast<int>(gained));
    const uint32_t parent = open();
    tRegionEntry* region = lendRegion(openResource(parent), 0);
    ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(parent, 0));
    uint32_t gainedChild = 0;
    tRegionEntry* gainedRegion = nullptr;
    if (gained != Gained::duringLastClose) gainedChild = openResource(parent);
    if (gained == Gained::busy) gainedRegion = lendRegion(gainedChild, 2);
    testsupport::OnSeam seam(tSeam::putOffCloseBeforeLowerClose, [&] {
      if (gained == Gained::duringLastClose) gainedChild = openResource(parent);
    });

    EXPECT_EQ(0, returnRegion(region));
    if (gainedRegion != nullptr) {
      EXPECT_TRUE(isRegistered(parent)) << "the gained child still holds a region";
      EXPECT_EQ(0, returnRegion(gainedRegion));
    }
    EXPECT_THAT(registeredSessions(), IsEmpty());
    EXPECT_EQ(0u, ViDazoSim_OpenSessionCount()) << "every session closed below";
    EXPECT_FALSE(cleanupRegistered(parent));
  }
}

TEST_F(DeferredCloseTest, ARefusedMiddleSessionStaysInItsParentsListAndClosesWithIt) {
  const uint32_t root = open();
  const uint32_t child = openResource(root);
  const uint32_t grandchild = openResource(child);
  tRegionEntry* region = lendRegion(grandchild, 0);

  ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(child, 0));
  EXPECT_THAT(childrenOf(root), ElementsAre(child));
  EXPECT_EQ(root, parentOf(child));

  // The root's close meets the same busy grandchild, and the return then
  // closes the whole chain without leaving a record behind.
  ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(root, 0));
  EXPECT_EQ(0, returnRegion(region));
  EXPECT_THAT(registeredSessions(), IsEmpty());
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

// ---- one close per session instance ----------------------------------------
//
// A close takes the record out under registryLock and closes below after
// letting it go. Whatever lands in that window (the host's cleanup, a host
// close, an open that gets the value next) must leave the lower close to
// that one closer, and must never touch a session that got the value again.

// Runs one action per chosen seam, each once, on the thread that reaches it.
class SeamActions {
 public:
  SeamActions(tSeam first, std::function<void()> onFirst, tSeam second, std::function<void()> onSecond) {
    entries_[0] = Entry{first, std::move(onFirst)};
    entries_[1] = Entry{second, std::move(onSecond)};
    for (std::atomic<bool>& flag : fired_) flag.store(false);
    seamHook.store(&hook);
  }
  ~SeamActions() { seamHook.store(nullptr); }
  SeamActions(const SeamActions&) = delete;
  SeamActions& operator=(const SeamActions&) = delete;
  bool fired(int index) const { return fired_[index].load(); }

 private:
  struct Entry {
    tSeam seam;
    std::function<void()> action;
  };
  static void hook(tSeam seam) {
    for (int index = 0; index < 2; ++index) {
      if (entries_[index].seam == seam && !fired_[index].exchange(true)) entries_[index].action();
    }
  }
  static inline Entry entries_[2];
  static inline std::atomic<bool> fired_[2];
};

class OneClosePerInstanceTest : public SessionTest {
 protected:
  // A window: a close of `target`, started by `closer`, held at `seam`.
  struct Window {
    const char* name;
    tSeam seam;
    uint32_t target;
    std::function<int32_t()> closer;
  };

  Window requestedClose(tSeam seam) {
    const uint32_t session = open();
    return Window{"host close", seam, session, [session] { return ViDazoHx_Close(session, 0); }};
  }
  Window putOffClose(tSeam seam) {
    const uint32_t session = open();
    tRegionEntry* region = lendRegion(session, 0);
    EXPECT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(session, 0));
    return Window{"put-off close", seam, session, [region] { return returnRegion(region); }};
  }
  Window pendingParentClose(tSeam seam) {
    const uint32_t parent = open();
    tRegionEntry* region = lendRegion(openResource(parent), 0);
    EXPECT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(parent, 0));
    return Window{"pending parent's close", seam, parent, [region] { return returnRegion(region); }};
  }

  uint32_t lowerClosesOf(uint32_t session) {
    uint32_t count = 0;
    for (const auto& close : lowerCloses()) count += close.first == session ? 1 : 0;
    return count;
  }

  // The successor that the lower library hands the same value to.
  void reopen(uint32_t value) {
    ASSERT_EQ(0, ViDazoSim_SetNextSession(value));
    uint32_t session = 0;
    ASSERT_EQ(0, ViDazoHx_Open("bitfile", "signature", "sim0", 0, &session));
    ASSERT_EQ(value, session);
  }
};

// Inside the window the host's cleanup runs (and returns at once, on its own
// thread, while the close stays held) and a host close of the value comes
// in. Without marking the close in flight both closed the value again, and
// an open that then got the value had its session closed by the held close.
TEST_F(OneClosePerInstanceTest, ACloseInItsWindowIsTheOnlyOneToCloseBelowAndSparesTheSuccessor) {
  const std::vector<std::function<Window()>> windows = {
      [&] { return requestedClose(tSeam::closeBeforeWithdraw); },
      [&] { return requestedClose(tSeam::closeBeforeLowerClose); },
      [&] { return putOffClose(tSeam::putOffCloseBeforeWithdraw); },
      [&] { return putOffClose(tSeam::putOffCloseBeforeLowerClose); },
      [&] { return pendingParentClose(tSeam::parentCloseBeforeWithdraw); },
      [&] { return pendingParentClose(tSeam::parentCloseBeforeLowerClose); }};
  for (const auto& makeWindow : windows) {
    const Window window = makeWindow();
    SCOPED_TRACE(window.name);
    clearJournal();
    testsync::Signal cleanupReturned, hostCloseReturned;
    std::atomic<int32_t> hostAnswer{1};
    std::thread cleanup, hostClose;
    bool reopenedInWindow = false;
    SeamActions seams(
        window.seam,
        [&] {
          cleanup = std::thread([&] {
            EXPECT_EQ(0, sessionCleanupProc(window.target));
            cleanupReturned.raise();
          });
          EXPECT_TRUE(cleanupReturned.waitFor()) << "the cleanup must not wait for the close held here";
          hostClose = std::thread([&] {
            hostAnswer = ViDazoHx_Close(window.target, 0);
            hostCloseReturned.raise();
          });
          EXPECT_TRUE(testsync::eventually([&] { return seams.fired(1) || hostCloseReturned.waitFor({}); }));
          // A host close that did not wait closed the value below: the lower
          // library may hand it out again now.
          if (hostCloseReturned.waitFor({})) {
            reopen(window.target);
            reopenedInWindow = true;
          }
        },
        tSeam::closeBeforeWaitingForCloseInFlight, [] {});

    EXPECT_EQ(0, window.closer());
    ASSERT_TRUE(seams.fired(0));
    cleanup.join();
    hostClose.join();
    EXPECT_EQ(0, hostAnswer.load()) << "after waiting for the close in flight, without a lower call";
    EXPECT_EQ(1u, lowerClosesOf(window.target));
    if (!reopenedInWindow) reopen(window.target);
    EXPECT_TRUE(isRegistered(window.target));
    EXPECT_TRUE(cleanupRegistered(window.target));
    ViDazoSim_SessionInfo info{};
    EXPECT_EQ(0, ViDazoSim_GetSessionInfo(window.target, &info)) << "the successor is open below";
  }
}

// Once the held close has returned below, the lower library may hand its
// value to an open before the close's mark ends. An open refused then must
// still close its own new session, not take the stale mark for a close of
// it under way.
TEST_F(OneClosePerInstanceTest, AnOpenRefusedWhileTheEarlierCloseStillEndsClosesItsOwnSession) {
  const uint32_t session = open();
  addReservedIrqContexts(1);
  ViDazoSim_InjectStatus("ViDazoDll_ReserveIrqContext", kLowerFailure, 1);
  testsync::Signal opened;
  std::thread opener;
  testsupport::OnSeam seam(tSeam::closeAfterLowerClose, [&] {
    opener = std::thread([&] {
      ASSERT_EQ(0, ViDazoSim_SetNextSession(session));
      uint32_t again = 0;
      EXPECT_EQ(kLowerFailure, ViDazoHx_Open("bitfile", "signature", "sim0", 0, &again));
      opened.raise();
    });
    EXPECT_TRUE(opened.waitFor()) << "the undo must not wait for the close that holds the seam";
  });
  EXPECT_EQ(0, ViDazoHx_Close(session, 0));
  opener.join();
  EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 0), closed(session, 1)));
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
  EXPECT_FALSE(cleanupRegistered(session));
}

// The busy child of a parent whose close waits for it leaves the parent's
// list when the lower library, having closed the child on its own, hands its
// value to an open (the record is kept and moved, or unlinked). The parent
// then has no child left to finish its close: the registering open does.
TEST_F(OneClosePerInstanceTest, ARegistrationThatEmptiesAPendingParentsListFinishesItsClose) {
  for (const bool move : {false, true}) {
    SCOPED_TRACE(move ? "moved under another parent" : "reopened without a parent");
    const uint32_t parent = open();
    const uint32_t child = openResource(parent);
    lendRegion(child, 0);
    ASSERT_EQ(StatusRegionsOutstanding, ViDazoHx_Close(parent, 9));
    const uint32_t newParent = move ? open() : 0;
    ASSERT_EQ(0, lower::Close(child, 0));
    clearJournal();

    ASSERT_EQ(0, ViDazoSim_SetNextSession(child));
    uint32_t reopened = 0;
    EXPECT_EQ(0, move ? ViDazoHx_OpenResource(newParent, "sim1", 0, &reopened)
                      : ViDazoHx_Open("bitfile", "signature", "sim0", 0, &reopened));

    EXPECT_THAT(lowerCloses(), ElementsAre(closed(parent, 1)));
    EXPECT_FALSE(isRegistered(parent));
    EXPECT_FALSE(cleanupRegistered(parent));
    EXPECT_EQ(newParent, parentOf(child));
  }
}

// Child C of P has a child G. The lower library closes C on its own and
// hands its value out again from a resource open under G, which is refused
// (C would become its own ancestor). Undoing it used to close C's old
// record, and with it G and its subtree, while the new lower session stayed
// open whenever G held a region.
TEST_F(OneClosePerInstanceTest, ARefusedOpenOfAValueStillRecordedClosesOnlyWhatItOpened) {
  for (const bool grandchildBusy : {false, true}) {
    SCOPED_TRACE(grandchildBusy ? "G holds a region" : "G idle");
    const uint32_t parent = open();
    const uint32_t child = openResource(parent);
    const uint32_t grandchild = openResource(child);
    if (grandchildBusy) lendRegion(grandchild, 0);
    ASSERT_EQ(0, lower::Close(child, 0));
    clearJournal();

    ASSERT_EQ(0, ViDazoSim_SetNextSession(child));
    uint32_t session = 0;
    EXPECT_EQ(StatusInvalidParameter, ViDazoHx_OpenResource(grandchild, "sim1", 0, &session));

    EXPECT_THAT(lowerCloses(), ElementsAre(closed(child, 1))) << "the new lower session, and nothing else";
    ViDazoSim_SessionInfo info{};
    EXPECT_EQ(0, ViDazoSim_GetSessionInfo(grandchild, &info));
    EXPECT_EQ(ViDazoSim_StatusInvalidSession, ViDazoSim_GetSessionInfo(child, &info));
    EXPECT_THAT(childrenOf(child), ElementsAre(grandchild)) << "the old record and its links stay";
    EXPECT_EQ(child, parentOf(grandchild));
    EXPECT_FALSE(closePendingOf(child));
  }
}

// The host runs the session's cleanup inside ViDazoHx_Open(), between the
// cleanup registration and the record: alone, with another open getting
// the value in the window, or on an open whose IRQ reservation failed,
// also once that open's undo has begun. The open is cancelled (or keeps its
// failure), records nothing and the session is closed once. It used to
// record the closed session and answer 0; the undo used to close it again.
TEST_F(OpenTest, TheHostsCleanupInsideAnOpenCancelsItAndClosesTheSessionOnce) {
  enum class Then { nothing, anotherOpen, failedReservation, failedReservationInUndo };
  for (const Then then :
       {Then::nothing, Then::anotherOpen, Then::failedReservation, Then::failedReservationInUndo}) {
    SCOPED_TRACE(static_cast<int>(then));
    constexpr uint32_t kValue = 0x111;
    const bool inUndo = then == Then::failedReservationInUndo;
    if (then == Then::failedReservation || inUndo) {
      addReservedIrqContexts(1);
      ViDazoSim_InjectStatus("ViDazoDll_ReserveIrqContext", kLowerFailure, 1);
    }
    ASSERT_EQ(0, ViDazoSim_SetNextSession(kValue));
    clearJournal();
    testsupport::OnSeam seam(inUndo ? tSeam::undoBeforeClose : tSeam::openAfterCleanupRegistered, [&] {
      EXPECT_EQ(1u, HostRuntimeSim_RunCleanup());
      if (then == Then::anotherOpen) {
        ASSERT_EQ(0, ViDazoSim_SetNextSession(kValue));
        EXPECT_EQ(kValue, open());
      }
    });
    uint32_t session = 0;
    const bool failed = then == Then::failedReservation || inUndo;
    EXPECT_EQ(failed ? kLowerFailure : StatusHostCancelled, openInto(&session));
    ASSERT_TRUE(seam.fired());
    EXPECT_THAT(lowerCloses(), ElementsAre(closed(kValue, 1))) << "closed by the cleanup, once";
    const bool successor = then == Then::anotherOpen;
    EXPECT_EQ(successor, isRegistered(kValue));
    EXPECT_EQ(successor, cleanupRegistered(kValue));
    EXPECT_EQ(successor ? 1u : 0u, ViDazoSim_OpenSessionCount());
    if (successor) {
      EXPECT_EQ(0, ViDazoHx_Close(kValue, 0));
    }
    resetReservedIrqContexts();
  }
}

// ---- closes that meet a close in flight --------------------------------------

// Runs `scenario` on a thread of a forked child, which passes when the
// scenario ends within about 2 s with no failed expectation: a close that
// waits for ever fails instead of hanging the suite.
void expectEndsInChild(const std::function<void()>& scenario) {
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        testsync::Signal done;
        std::thread run([&] {
          scenario();
          done.raise();
        });
        if (!done.waitFor(std::chrono::seconds(2))) std::_Exit(3);
        run.join();
        std::exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// Which close a thread runs, for the hook of the lost wake-up test: two
// closes held in flight (X, Y) and a host close waiting for each.
enum class Role { none, closerX, closerY, waiterX, waiterY };
thread_local Role role = Role::none;
struct WakeUp {
  uint32_t x = 0;
  testsync::Signal held[2], release[2], yEnded, xLooked;
  std::thread waiterX;
} wakeUp;

std::thread closeAs(Role as, uint32_t session, testsync::Signal* done = nullptr) {
  return std::thread([as, session, done] {
    role = as;
    EXPECT_EQ(0, ViDazoHx_Close(session, 0));
    if (done != nullptr) done->raise();
  });
}

// Y's waiter has looked and not slept yet when Y's close ends and X's
// waiter looks (X still in flight): Y's waiter must return all the same.
void wakeUpHook(tSeam seam) {
  const int closer = role == Role::closerX ? 0 : role == Role::closerY ? 1 : -1;
  if (seam == tSeam::closeBeforeLowerClose && closer >= 0) {
    wakeUp.held[closer].raise();
    wakeUp.release[closer].waitFor();
  } else if (seam == tSeam::closeWaitAfterLook && role == Role::waiterX) {
    wakeUp.xLooked.raise();
  } else if (seam == tSeam::closeWaitAfterLook && role == Role::waiterY && !wakeUp.waiterX.joinable()) {
    wakeUp.release[1].raise();
    wakeUp.yEnded.waitFor();
    wakeUp.waiterX = closeAs(Role::waiterX, wakeUp.x);
    wakeUp.xLooked.waitFor();
  }
}

class CloseInFlightTest : public SessionTest {};

// With one shared manual-reset event, X's waiter reset it before Y's waiter
// looked again, and Y's waiter slept until X's close ended.
TEST_F(CloseInFlightTest, AnEndingCloseWakesItsWaiterWhateverAnotherWaiterDoes) {
  expectEndsInChild([this] {
    wakeUp.x = open();
    const uint32_t y = open();
    seamHook.store(&wakeUpHook);
    std::thread closerX = closeAs(Role::closerX, wakeUp.x);
    wakeUp.held[0].waitFor();
    std::thread closerY = closeAs(Role::closerY, y, &wakeUp.yEnded);
    wakeUp.held[1].waitFor();
    closeAs(Role::waiterY, y).join();
    wakeUp.release[0].raise();
    for (std::thread* thread : {&closerX, &closerY, &wakeUp.waiterX}) thread->join();
    EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
  });
}

// A close on the thread of the close in flight it meets (a host closing
// from inside RTSetCleanupProc while the library withdraws) answers 0 at
// once. It used to wait for itself.
TEST_F(CloseInFlightTest, ACloseOnTheThreadOfTheCloseInFlightAnswersAtOnce) {
  expectEndsInChild([this] {
    const uint32_t session = open();
    testsupport::OnSeam seam(tSeam::closeBeforeWithdraw, [&] { EXPECT_EQ(0, ViDazoHx_Close(session, 0)); });
    EXPECT_EQ(0, ViDazoHx_Close(session, 0));
    EXPECT_THAT(lowerCloses(), ElementsAre(closed(session, 0)));
  });
}

}  // namespace
}  // namespace sessiontest
