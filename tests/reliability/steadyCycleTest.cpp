// steadyCycleTest.cpp: a steady region cycle makes no system call and no
// allocation, at timeouts 0, finite and infinite; and the checker does see
// one system call or one allocation planted at the seam before the lower
// acquisition, so that a checker gone blind cannot pass the first cases.

#include <gtest/gtest.h>
#include <sys/syscall.h>

#include "ViDazoHx/ViDazoHx.h"
#include "steadyCycle.h"

namespace {

using reliability::checkSteadyCycles;
using reliability::tMisbehaviour;
using reliability::tSteadyVerdict;

constexpr uint64_t kCycles = 4000;  // seconds under the emulated Cortex-A9 of the ARM-kernel suite

// Sanitizers intercept calls and allocate behind the library's back; the
// figures mean something only for the code a host runs.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kInstrumented = true;
#else
constexpr bool kInstrumented = false;
#endif

tSteadyVerdict check(uint32_t timeout, tMisbehaviour misbehaviour = tMisbehaviour::none) {
  return checkSteadyCycles(timeout, kCycles, misbehaviour);
}

#define SKIP_WHERE_UNCHECKABLE(verdict)                                                                   \
  if (kInstrumented) GTEST_SKIP() << "sanitizer build: its run-time makes system calls and allocations"; \
  if ((verdict).refused) GTEST_SKIP() << (verdict).describe() << " (qemu-user refuses filters, which would bind the emulator)"

TEST(SteadyCycle, NoSystemCallAndNoAllocationAtAnyTimeout) {
  if (kInstrumented) GTEST_SKIP() << "sanitizer build: its run-time makes system calls and allocations";
  for (uint32_t timeout : {0u, 1000u, ViDazoHx_InfiniteTimeout}) {
    const tSteadyVerdict verdict = check(timeout);
    SKIP_WHERE_UNCHECKABLE(verdict);
    EXPECT_TRUE(verdict.clean()) << "timeout " << timeout << ": " << verdict.describe();
    EXPECT_EQ(verdict.cyclesDone, kCycles) << "timeout " << timeout;
  }
}

TEST(SteadyCycle, CheckerReportsAPlantedSystemCallAndAPlantedAllocation) {
  const tSteadyVerdict call = check(0, tMisbehaviour::systemCall);
  SKIP_WHERE_UNCHECKABLE(call);
  EXPECT_EQ(call.systemCall, SYS_getppid) << call.describe();
  EXPECT_LT(call.cyclesDone, kCycles);

  const tSteadyVerdict allocation = check(ViDazoHx_InfiniteTimeout, tMisbehaviour::allocation);
  EXPECT_EQ(allocation.allocations, 1u) << allocation.describe();
  EXPECT_EQ(allocation.systemCall, -1) << allocation.describe();
  EXPECT_EQ(allocation.cyclesDone, kCycles);
}

}  // namespace
