// registryTest.cpp: registration, ordering, parent links and record
// building of the session registry, through the opening and closing exports.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "adapter/forwarding.h"
#include "failingAllocator.h"
#include "fifo/fifoStart.h"
#include "sessionTestSupport.h"
#include "protons/status/statusCodes.h"
#include "sessions/registry.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Stands in for a child list whose growth failed once: the flag is sticky.
class tValueListTestPeer {
 public:
  static void markGrowthFailed(tValueList& list) { list.allocationFailed_ = true; }
};

namespace sessiontest {
namespace {

using testsupport::disarmAllocationFailures;
using testsupport::failAllocationsOf;

class RegistryTest : public SessionTest {
 protected:
  uint32_t openAs(uint32_t value) {
    EXPECT_EQ(0, ViDazoSim_SetNextSession(value));
    return open();
  }
  // A session open in the lower library but never registered here.
  uint32_t openUnregistered() {
    uint32_t session = 0;
    EXPECT_EQ(0, lower::Open("bitfile", "signature", "sim0", 0, &session));
    return session;
  }
};

TEST_F(RegistryTest, SessionValuesAreOrderedUnsignedAndFoundOnlyExactly) {
  const uint32_t high = openAs(0x80000001u);
  const uint32_t middle = openAs(0x7FFF0001u);
  const uint32_t low = openAs(5u);

  EXPECT_THAT(registeredSessions(), ElementsAre(low, middle, high));
  EXPECT_FALSE(isRegistered(0x80000000u));
  EXPECT_FALSE(isRegistered(0x80000001u | 0x4000u));
  EXPECT_EQ(0, ViDazoHx_StartFifo(high, 0));
  EXPECT_THAT(fifosOf(high), ElementsAre(0u));

  EXPECT_EQ(0, ViDazoHx_Close(high, 0));
  EXPECT_THAT(registeredSessions(), ElementsAre(low, middle));
}

TEST_F(RegistryTest, RegisteringAValueAgainKeepsItsRecordAndAppliesOnlyTheParentLink) {
  const uint32_t session = open();
  const uint32_t other = open();
  const uint32_t child = openResource(session);
  ASSERT_EQ(0, ViDazoHx_StartFifo(session, 2));

  EXPECT_EQ(0, registerSession(&session, 0));
  EXPECT_THAT(fifosOf(session), ElementsAre(2u));
  EXPECT_THAT(childrenOf(session), ElementsAre(child));

  EXPECT_EQ(0, registerSession(&session, other));
  EXPECT_THAT(childrenOf(other), ElementsAre(session));
  EXPECT_EQ(other, parentOf(session));
  EXPECT_THAT(childrenOf(session), ElementsAre(child));
  EXPECT_THAT(fifosOf(session), ElementsAre(2u));
}

TEST_F(RegistryTest, LinkingASessionUnderItsOwnDescendantIsRefused) {
  const uint32_t root = open();
  const uint32_t child = openResource(root);
  const uint32_t grandchild = openResource(child);

  EXPECT_EQ(StatusInvalidParameter, registerSession(&root, grandchild));
  EXPECT_EQ(StatusInvalidParameter, registerSession(&child, child));
  EXPECT_EQ(0u, parentOf(root));
  EXPECT_THAT(childrenOf(grandchild), IsEmpty());
  EXPECT_THAT(childrenOf(child), ElementsAre(grandchild));
}

TEST_F(RegistryTest, RegisteringAgainMovesTheValueSoTheListsCannotCycle) {
  const uint32_t first = open();
  const uint32_t second = open();
  const uint32_t child = openResource(first);

  EXPECT_EQ(0, registerSession(&child, second));
  EXPECT_EQ(0, registerSession(&child, second));
  ASSERT_THAT(childrenOf(first), IsEmpty());
  EXPECT_THAT(childrenOf(second), ElementsAre(child)) << "listed once";
  EXPECT_EQ(StatusInvalidParameter, registerSession(&second, child));
  EXPECT_EQ(0u, parentOf(second));
  EXPECT_THAT(childrenOf(child), IsEmpty());

  // Without the move this link closed a cycle through the lists.
  EXPECT_EQ(0, registerSession(&first, child));
  EXPECT_EQ(0, ViDazoHx_Close(second, 0));
  EXPECT_THAT(registeredSessions(), IsEmpty());
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

// A value the lower library hands out again while a stale record still
// lists it as a child must not be closed with that parent.
TEST_F(RegistryTest, RegisteringAChildAgainWithoutAParentTakesItOffItsParentsList) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);

  EXPECT_EQ(0, registerSession(&child, 0));
  EXPECT_EQ(0u, parentOf(child));
  EXPECT_THAT(childrenOf(parent), IsEmpty());
  EXPECT_EQ(0, ViDazoHx_Close(parent, 0));
  EXPECT_TRUE(isRegistered(child));
  EXPECT_EQ(0, ViDazoHx_Close(child, 0));
}

TEST_F(RegistryTest, AnUnregisteredParentIsReportedAndTheNewSessionClosedAgain) {
  const uint32_t parent = openUnregistered();
  clearJournal();

  uint32_t session = 0;
  EXPECT_EQ(StatusSessionNotFound, ViDazoHx_OpenResource(parent, "sim1", 0, &session));

  EXPECT_FALSE(isRegistered(session));
  const std::vector<LowerCall> calls = journal();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ("ViDazoDll_OpenResource", calls[0].function);
  EXPECT_EQ(parent | 0x4000u, calls[0].arguments[0]);
  EXPECT_EQ("ViDazoDll_Close", calls[1].function);
  EXPECT_THAT(calls[1].arguments, ElementsAre(session, 1u));
  EXPECT_EQ(1u, cleanupCallCount()) << "only the withdrawal of the undo close";
}

TEST_F(RegistryTest, ChildrenAreListedInOpeningOrderAndLinkedToTheirParent) {
  const uint32_t parent = open();
  const uint32_t first = openResource(parent);
  const uint32_t second = openResource(parent);
  const uint32_t third = openResource(parent);

  EXPECT_THAT(childrenOf(parent), ElementsAre(first, second, third));
  EXPECT_EQ(parent, parentOf(first));
  EXPECT_EQ(parent, parentOf(third));
  EXPECT_FALSE(cleanupRegistered(first)) << "resource sessions get no host cleanup";
}

TEST_F(RegistryTest, AResourceSessionWithoutParentIsRegisteredUnlinked) {
  uint32_t session = 0;
  ASSERT_EQ(0, ViDazoHx_OpenResource(0, "sim1", 0, &session));

  EXPECT_TRUE(isRegistered(session));
  EXPECT_EQ(0u, parentOf(session));
  EXPECT_EQ(0u, cleanupCallCount());
  EXPECT_EQ(0x4000u, journalOf("ViDazoDll_OpenResource").at(0).arguments[0]);
}

// The lock of a record is its only own allocation outside the containers;
// a record that could not get one would be locked through null later.
class UnbuildableRecordTest : public RegistryTest {
 protected:
  void failNextSessionLock() { failAllocationsOf(sizeof(tSharedExclusiveLock)); }
  void TearDown() override {
    EXPECT_EQ(0, disarmAllocationFailures()) << "the armed failure was not reached";
    RegistryTest::TearDown();
  }
};

TEST_F(UnbuildableRecordTest, OpenFailsClosesTheSessionAndLeavesNoRecord) {
  failNextSessionLock();
  uint32_t session = 0;
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_Open("bitfile", "signature", "sim0", 0, &session));

  EXPECT_THAT(registeredSessions(), IsEmpty());
  EXPECT_FALSE(cleanupRegistered(session));
  EXPECT_THAT(journalNames(), ElementsAre("ViDazoDll_Open", "ViDazoDll_Close"));
  EXPECT_THAT(journalOf("ViDazoDll_Close").at(0).arguments, ElementsAre(session, 1u));
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

TEST_F(UnbuildableRecordTest, AChildThatCannotBeBuiltLeavesNoValueInItsParentsList) {
  const uint32_t parent = open();
  failNextSessionLock();
  uint32_t child = 0;
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_OpenResource(parent, "sim1", 0, &child));

  EXPECT_FALSE(isRegistered(child));
  EXPECT_THAT(childrenOf(parent), IsEmpty());
  // The parent still closes alone, touching nothing of the failed child.
  clearJournal();
  EXPECT_EQ(0, ViDazoHx_Close(parent, 0));
  EXPECT_THAT(journalNames(), ElementsAre("ViDazoDll_Close"));
}

TEST_F(RegistryTest, ChildrenRefusedAfterTheParentsListFailedLeaveNoValueBehind) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);
  {
    tExclusiveHolder registry(registryLock);
    tValueListTestPeer::markGrowthFailed(lookupSession(parent)->childSessions);
  }
  uint32_t refused = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(StatusMemoryFull, ViDazoHx_OpenResource(parent, "sim1", 0, &refused));
  }
  EXPECT_FALSE(isRegistered(refused));
  EXPECT_THAT(childrenOf(parent), ElementsAre(child));
  // The value goes to an unrelated session; the parent's close leaves it be.
  ASSERT_EQ(0, ViDazoSim_SetNextSession(refused));
  const uint32_t unrelated = open();
  EXPECT_EQ(0, ViDazoHx_Close(parent, 0));
  EXPECT_TRUE(isRegistered(unrelated));
  EXPECT_EQ(1u, ViDazoSim_OpenSessionCount());
}

TEST_F(RegistryTest, AChildValueWithoutARecordIsDroppedWhenTheParentCloses) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);
  {
    tExclusiveHolder registry(registryLock);
    removeSession(child);
  }
  clearJournal();

  EXPECT_EQ(0, ViDazoHx_Close(parent, 0));

  const std::vector<LowerCall> closes = journalOf("ViDazoDll_Close");
  ASSERT_EQ(1u, closes.size());
  EXPECT_EQ(parent, closes[0].arguments[0]);
}

TEST_F(RegistryTest, RemovingARecordLeavesNoChildPointingAtIt) {
  const uint32_t parent = open();
  const uint32_t child = openResource(parent);
  {
    tExclusiveHolder registry(registryLock);
    removeSession(parent);
  }
  EXPECT_TRUE(isRegistered(child));
  EXPECT_EQ(0u, parentOf(child));
  EXPECT_EQ(0, ViDazoHx_Close(child, 0));
}

}  // namespace
}  // namespace sessiontest
