/*
 * hostReferencesTest.cpp: tests of the simulated host runtime's references:
 * the data record handed out, disposal calling the release procedure once
 * with the record's address, and injected answers.
 */
#include <atomic>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "hostTestSupport.h"

namespace {

using HostReferences = HostRuntimeTest;

// The record layout both sides of the host interface rely on.
static_assert(sizeof(void*) != 4 || (offsetof(ViDazoHx_DataRecord, elementCount) == 12 &&
                                     offsetof(ViDazoHx_DataRecord, elementSize) == 16 &&
                                     offsetof(ViDazoHx_DataRecord, release) == 52 &&
                                     sizeof(ViDazoHx_DataRecord) == 56),
              "32-bit data record layout");
static_assert(sizeof(void*) != 8 || (offsetof(ViDazoHx_DataRecord, release) == 64 &&
                                     sizeof(ViDazoHx_DataRecord) == 72),
              "64-bit data record layout");

std::atomic<int> releaseCalls{0};
std::atomic<uintptr_t> releasedRecord{0};

int32_t countingRelease(uintptr_t record) {
  ++releaseCalls;
  releasedRecord = record;
  return -61217;
}

// Creates a reference from inside a release procedure, as a release that
// triggers further host work would.
int32_t reentrantRelease(uintptr_t) {
  uint32_t reference = 0;
  ViDazoHx_DataRecord* record = nullptr;
  return EDVR_CreateReference(&reference, &record) == 0 && reference != 0 ? 5 : -1;
}

TEST_F(HostReferences, CreateHandsOutDistinctReferencesWithZeroedRecords) {
  uint32_t one = 0, two = 0;
  ViDazoHx_DataRecord* recordOne = nullptr;
  ViDazoHx_DataRecord* recordTwo = nullptr;
  ASSERT_EQ(0, EDVR_CreateReference(&one, &recordOne));
  ASSERT_EQ(0, EDVR_CreateReference(&two, &recordTwo));
  EXPECT_NE(0u, one);
  EXPECT_NE(one, two);
  ASSERT_NE(nullptr, recordOne);
  EXPECT_NE(recordOne, recordTwo);
  static const ViDazoHx_DataRecord zero{};
  EXPECT_EQ(0, std::memcmp(&zero, recordOne, sizeof zero));

  recordOne->elementCount = 9;
  ViDazoHx_DataRecord copy{};
  ASSERT_EQ(0, HostRuntimeSim_ReadReference(one, &copy));
  EXPECT_EQ(9u, copy.elementCount);
  EXPECT_EQ(recordTwo, HostRuntimeSim_ReferenceRecord(two));
  uint32_t live[4] = {};
  ASSERT_EQ(2u, HostRuntimeSim_ListReferences(live, 4));
  EXPECT_EQ(one, live[0]);
  EXPECT_EQ(two, live[1]);

  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, EDVR_CreateReference(nullptr, &recordOne));
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, EDVR_CreateReference(&one, nullptr));
}

TEST_F(HostReferences, DisposeCallsReleaseOnceWithTheRecordAddress) {
  releaseCalls = 0;
  uint32_t reference = 0;
  ViDazoHx_DataRecord* record = nullptr;
  ASSERT_EQ(0, EDVR_CreateReference(&reference, &record));
  record->release = countingRelease;

  EXPECT_EQ(-61217, HostRuntimeSim_DisposeReference(reference)) << "the release procedure's result is returned";
  EXPECT_EQ(1, releaseCalls.load());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(record), releasedRecord.load());
  EXPECT_EQ(0u, HostRuntimeSim_ListReferences(nullptr, 0));
  EXPECT_EQ(nullptr, HostRuntimeSim_ReferenceRecord(reference));

  int32_t result = 0;
  EXPECT_EQ(HostRuntimeSim_ErrorUnknownReference, HostRuntimeSim_DisposeReferenceEx(reference, &result));
  EXPECT_EQ(HostRuntimeSim_ErrorUnknownReference, HostRuntimeSim_DisposeReference(0));
  EXPECT_EQ(1, releaseCalls.load());
}

TEST_F(HostReferences, DisposeWithoutReleaseProcedureFreesTheRecord) {
  uint32_t reference = 0;
  ViDazoHx_DataRecord* record = nullptr;
  ASSERT_EQ(0, EDVR_CreateReference(&reference, &record));
  int32_t result = 123;
  EXPECT_EQ(HostRuntimeSim_ErrorNoReleaseProcedure, HostRuntimeSim_DisposeReferenceEx(reference, &result));
  EXPECT_EQ(123, result);
  EXPECT_EQ(0u, HostRuntimeSim_ListReferences(nullptr, 0));
}

TEST_F(HostReferences, ConcurrentDisposalsCallReleaseOnce) {
  releaseCalls = 0;
  uint32_t reference = 0;
  ViDazoHx_DataRecord* record = nullptr;
  ASSERT_EQ(0, EDVR_CreateReference(&reference, &record));
  record->release = countingRelease;
  std::atomic<int> disposed{0};
  std::thread threads[4];
  for (std::thread& thread : threads) {
    thread = std::thread([&] {
      int32_t result = 0;
      if (HostRuntimeSim_DisposeReferenceEx(reference, &result) == 0) ++disposed;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(1, disposed.load());
  EXPECT_EQ(1, releaseCalls.load());
}

TEST_F(HostReferences, ReleaseProceduresMayCallBackIntoTheHost) {
  uint32_t reference = 0;
  ViDazoHx_DataRecord* record = nullptr;
  ASSERT_EQ(0, EDVR_CreateReference(&reference, &record));
  record->release = reentrantRelease;
  EXPECT_EQ(5, HostRuntimeSim_DisposeReference(reference));
  EXPECT_EQ(1u, HostRuntimeSim_ListReferences(nullptr, 0));
}

TEST_F(HostReferences, InjectedAnswersCreateNothing) {
  for (int32_t code : {2, 41, 99}) {
    ASSERT_EQ(0, HostRuntimeSim_InjectResult("EDVR_CreateReference", 1, code));
    uint32_t reference = 7;
    ViDazoHx_DataRecord* record = nullptr;
    EXPECT_EQ(code, EDVR_CreateReference(&reference, &record));
    EXPECT_EQ(7u, reference) << "code " << code;
    EXPECT_EQ(nullptr, record);
  }
  EXPECT_EQ(0u, HostRuntimeSim_ListReferences(nullptr, 0));
  EXPECT_EQ(3u, HostRuntimeSim_CallCount("EDVR_CreateReference"));
}

}  // namespace
