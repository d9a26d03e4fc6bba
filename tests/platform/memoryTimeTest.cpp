// Allocation that reports exhaustion into a status, and the clock.
//
// This program replaces the global non-throwing operator new so that a test
// can make the next allocation fail; allocateObject must go through exactly
// that operator.

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <new>

#include "protons/cppNewDelete/memoryAllocation.h"
#include "protons/status/statusCodes.h"
#include "protons/time/monotonicClock.h"

namespace {
std::atomic<bool> failNothrowNew{false};
std::atomic<int> nothrowNewCalls{0};
}  // namespace

// Forwards to the throwing form when not failing, so the default deletes
// (and a sanitizer's allocator) see a matching pair.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++nothrowNewCalls;
  if (failNothrowNew.load()) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

class FailingAllocation {
 public:
  FailingAllocation() { failNothrowNew = true; }
  ~FailingAllocation() { failNothrowNew = false; }
};

TEST(AllocateObject, ReturnsUsableMemoryAndLeavesStatusClean) {
  tStatus status;
  void* memory = allocateObject(64, status);
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(status.code, 0);
  static_cast<char*>(memory)[63] = 'x';
  releaseObject(memory);
}

TEST(AllocateObject, ErroredStatusAllocatesNothingAndKeepsItsError) {
  tStatus status;
  status.offerCode(-1, "earlier", "earlier/file", 9);
  const int callsBefore = nothrowNewCalls.load();
  EXPECT_EQ(allocateObject(64, status), nullptr);
  EXPECT_EQ(nothrowNewCalls.load(), callsBefore);
  EXPECT_EQ(status.code, -1);
  EXPECT_STREQ(status.fileName, "earlier/file");
}

TEST(AllocateObject, ExhaustionReportsMemoryFullOverSuccessOrWarning) {
  for (int32_t held : {0, 5}) {
    tStatus status;
    status.offerCode(held, "earlier", "earlier/file", 9);
    void* memory;
    {
      FailingAllocation failing;
      memory = allocateObject(64, status);
    }
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(status.code, StatusMemoryFull);
    EXPECT_STREQ(status.componentName, "ViDazoHx");
    EXPECT_STREQ(status.fileName, "protons/cppNewDelete/memoryAllocation");
    EXPECT_EQ(status.lineNumber, 252u);
  }
}

TEST(AllocateObject, CreateObjectConstructsNothingWhenAllocationFails) {
  static int constructed;
  constructed = 0;
  struct Probe {
    explicit Probe(tStatus&) { ++constructed; }
  };
  tStatus status;
  Probe* probe;
  {
    FailingAllocation failing;
    probe = createObject<Probe>(status);
  }
  EXPECT_EQ(probe, nullptr);
  EXPECT_EQ(constructed, 0);
  EXPECT_EQ(status.code, StatusMemoryFull);
}

TEST(ReleaseObject, NullIsIgnored) { releaseObject(nullptr); }

TEST(ConvertDuration, CoarserTruncatesFinerMultiplies) {
  using U = tDurationUnit;
  EXPECT_EQ(convertDuration(1999999, U::nanoseconds, U::milliseconds), 1u);
  EXPECT_EQ(convertDuration(2, U::minutes, U::milliseconds), 120000u);
  EXPECT_EQ(convertDuration(3, U::hours, U::seconds), 10800u);
  EXPECT_EQ(convertDuration(7199, U::seconds, U::hours), 1u);
  EXPECT_EQ(convertDuration(42, U::microseconds, U::microseconds), 42u);
  // Step-by-step truncation: 59999 ms is 59 s, which is 0 min.
  EXPECT_EQ(convertDuration(59999, U::milliseconds, U::minutes), 0u);
}

TEST(ConvertDuration, OverflowSaturatesInsteadOfWrapping) {
  using U = tDurationUnit;
  EXPECT_EQ(convertDuration(UINT64_MAX / 1000, U::hours, U::nanoseconds), UINT64_MAX);
  EXPECT_EQ(convertDuration(UINT64_MAX, U::seconds, U::milliseconds), UINT64_MAX);
}

TEST(AddMilliseconds, CarriesPasses2038AndSaturatesInsteadOfOverflowing) {
  auto expectSum = [](timespec time, uint32_t ms, time_t seconds, long nanoseconds) {
    const timespec sum = addMilliseconds(time, ms);
    EXPECT_EQ(sum.tv_sec, seconds);
    EXPECT_EQ(sum.tv_nsec, nanoseconds);
  };
  expectSum({10, 999999999}, 1, 11, 999999);
  expectSum({10, 500000000}, 0xFFFFFFFEu, 10 + 4294967, 794000000);
  // 2038-01-19 03:14:07 UTC is the last second of a 32-bit time_t.
  expectSum({2147483647, 0}, 3000, time_t{2147483650}, 0);
  constexpr time_t kLast = std::numeric_limits<time_t>::max();
  expectSum({kLast - 1, 500000000}, 2000, kLast, 999999999);
  expectSum({kLast, 999999999}, 0xFFFFFFFFu, kLast, 999999999);
}

TEST(MonotonicClock, ReadingsNeverDecrease) {
  int64_t previous = monotonicNanoseconds();
  for (int i = 0; i < 10000; ++i) {
    const int64_t now = monotonicNanoseconds();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

}  // namespace
