// stickyAllocationTest.cpp: once a node allocation of the session map has
// failed, every later open fails with StatusMemoryFull for the life of the
// loaded library. That state cannot be undone, hence a program of its own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "failingAllocator.h"
#include "sessionTestSupport.h"
#include "protons/status/statusCodes.h"
#include "sessions/registry.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace sessiontest {
namespace {

using testsupport::disarmAllocationFailures;
using testsupport::failAllocationsOf;

class StickyAllocationTest : public SessionTest {};

// One test on purpose: its steps depend on the order in which they run.
TEST_F(StickyAllocationTest, OneFailedNodeFailsEveryLaterOpen) {
  const uint32_t before = open();

  failAllocationsOf(tOrderedMap<tSessionState>::nodeBytes());
  uint32_t session = 0;
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_Open("bitfile", "signature", "sim0", 0, &session));
  EXPECT_EQ(0, disarmAllocationFailures());
  EXPECT_FALSE(isRegistered(session));
  EXPECT_FALSE(cleanupRegistered(session));
  EXPECT_THAT(journalOf("ViDazoDll_Close").at(0).arguments, ElementsAre(session, 1u));

  // Every later open fails before the lower library is asked.
  clearJournal();
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_Open("bitfile", "signature", "sim0", 0, &session));
  EXPECT_THAT(journal(), IsEmpty());

  // A resource open gets its record inserted, reports the flag and is closed
  // again, which takes the record with it.
  uint32_t resource = 0;
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_OpenResource(before, "sim1", 0, &resource));
  EXPECT_FALSE(isRegistered(resource));
  EXPECT_THAT(childrenOf(before), IsEmpty());

  // The same with a record whose lock cannot be built: it must not stay in
  // the map, where the undo close would lock it.
  failAllocationsOf(sizeof(tSharedExclusiveLock));
  EXPECT_EQ(StatusMemoryFull, ViDazoHx_OpenResource(0, "sim1", 0, &resource));
  EXPECT_EQ(0, disarmAllocationFailures());
  EXPECT_FALSE(isRegistered(resource));

  // Sessions already registered work as before.
  EXPECT_EQ(0, ViDazoHx_StartFifo(before, 0));
  EXPECT_EQ(0, ViDazoHx_Close(before, 0));
  EXPECT_EQ(0u, ViDazoSim_OpenSessionCount());
}

}  // namespace
}  // namespace sessiontest
