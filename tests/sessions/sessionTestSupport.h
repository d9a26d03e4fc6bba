// sessionTestSupport.h: the fixture of the session tests, a reader for the
// simulated lower library's journal, and a look into the registry through
// the library's internal interfaces (the unit-test seam).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fifo/fifoState.h"

namespace sessiontest {

// One lower-library call as the simulator journalled it.
struct LowerCall {
  std::string function;
  std::vector<uint64_t> arguments;
  int32_t result;
};

// Every journalled call since the last clear, oldest first.
std::vector<LowerCall> journal();
// The journalled function names only, e.g. {"ViDazoDll_Open", ...}.
std::vector<std::string> journalNames();
// The calls of one function.
std::vector<LowerCall> journalOf(const std::string& function);
void clearJournal();

// Registry state, read under registryLock held shared.
bool isRegistered(uint32_t session);
std::vector<uint32_t> registeredSessions();
std::vector<uint32_t> childrenOf(uint32_t session);
// 0: no parent (or not registered); kDanglingParent: a parentState that
// designates no record of the registry.
constexpr uint32_t kDanglingParent = 0xFFFFFFFFu;
uint32_t parentOf(uint32_t session);
bool closePendingOf(uint32_t session);
bool closePendingOnChildrenOf(uint32_t session);
std::vector<uint32_t> fifosOf(uint32_t session);

// Host stand-in: whether `session` has a live mode-2 cleanup registration,
// and how many RTSetCleanupProc calls were made.
bool cleanupRegistered(uint32_t session);
uint32_t cleanupCallCount();

// A region lent out as the acquisition path would record it (the FIFO record
// is created if needed), without the lower library; and its return as the
// release path does it, finishing a put-off close. Single-threaded use.
tRegionEntry* lendRegion(uint32_t session, uint32_t fifo);
int32_t returnRegion(tRegionEntry* entry);

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens a session on the simulated target; fails the test otherwise.
  uint32_t open();
  // Opens a resource session under `parent`; fails the test otherwise.
  uint32_t openResource(uint32_t parent);
};

}  // namespace sessiontest
