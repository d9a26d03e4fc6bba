// lowerJournalTest.cpp: the call journal and fault injection of the
// simulated lower library.
#include "lowerFixture.h"

namespace {

class LowerJournalTest : public LowerTest {
 protected:
  void SetUp() override {
    LowerTest::SetUp();
    ViDazoSim_ClearJournal();
  }

  static ViDazoSim_JournalRecord find(const char* name, uint32_t nth = 0) {
    ViDazoSim_JournalRecord record{};
    EXPECT_EQ(ViDazoSim_FindJournalRecord(name, nth, &record), 0) << name;
    return record;
  }
};

uint64_t address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

TEST_F(LowerJournalTest, RecordsRawArgumentsAndResults) {
  uint32_t value = 0;
  ASSERT_EQ(ViDazoDll_ReadU32(session | kRoutingBit, 8, &value), 0);
  ASSERT_EQ(ViDazoDll_ReserveIrqContext(session, nullptr), 0);
  EXPECT_EQ(ViDazoDll_WriteI8(session, 3, -1), 0);
  EXPECT_EQ(ViDazoDll_Run(0x999, 4), ViDazoSim_StatusInvalidSession);

  const ViDazoSim_JournalRecord read = find("ViDazoDll_ReadU32");
  EXPECT_EQ(read.argumentCount, 3u);
  EXPECT_EQ(read.arguments[0], session | kRoutingBit);
  EXPECT_EQ(read.arguments[1], 8u);
  EXPECT_EQ(read.arguments[2], address(&value));
  EXPECT_EQ(read.sequence, 0u);
  EXPECT_EQ(find("ViDazoDll_ReserveIrqContext").arguments[1], 0u);
  EXPECT_EQ(find("ViDazoDll_WriteI8").arguments[2], 0xFFu);
  const ViDazoSim_JournalRecord run = find("ViDazoDll_Run");
  EXPECT_EQ(run.result, ViDazoSim_StatusInvalidSession);
  EXPECT_EQ(run.arguments[1], 4u);
  EXPECT_EQ(run.sequence, 3u);
  EXPECT_EQ(ViDazoSim_JournalCount(), 4u);
}

TEST_F(LowerJournalTest, RecordsPointersIntoHostBlocksAsAddresses) {
  // A host array block: count first, 64-bit elements 8 bytes in.
  alignas(8) uint8_t block[8 + 4 * sizeof(uint64_t)] = {};
  uint64_t* elements = reinterpret_cast<uint64_t*>(block + 8);
  uint32_t remaining = 0;
  ASSERT_EQ(ViDazoDll_WriteFifoU64(session, kFromHostU64, elements, 4, 0, &remaining), 0);
  const ViDazoSim_JournalRecord write = find("ViDazoDll_WriteFifoU64");
  EXPECT_EQ(write.argumentCount, 6u);
  EXPECT_EQ(write.arguments[2] - address(block), 8u);
  EXPECT_EQ(write.arguments[5], address(&remaining));
}

TEST_F(LowerJournalTest, SwitchedOffItRecordsNothingAndClearingRestartsTheSequence) {
  ViDazoSim_SetJournalEnabled(0);
  ASSERT_EQ(ViDazoDll_Run(session, 0), 0);
  EXPECT_EQ(ViDazoSim_JournalCount(), 0u);
  ViDazoSim_SetJournalEnabled(1);
  ASSERT_EQ(ViDazoDll_Abort(session), 0);
  ASSERT_EQ(ViDazoDll_Abort(session), 0);
  EXPECT_EQ(ViDazoSim_CountJournalRecords("ViDazoDll_Abort"), 2u);
  EXPECT_EQ(ViDazoSim_FindJournalRecord("ViDazoDll_Abort", 2, nullptr), ViDazoSim_StatusInvalidParameter);
  ViDazoSim_JournalRecord record{};
  EXPECT_EQ(ViDazoSim_FindJournalRecord("ViDazoDll_Abort", 2, &record), ViDazoSim_StatusNoSuchRecord);
  ViDazoSim_ClearJournal();
  ASSERT_EQ(ViDazoDll_Abort(session), 0);
  EXPECT_EQ(find("ViDazoDll_Abort").sequence, 0u);
}

TEST_F(LowerJournalTest, NegativeInjectionReplacesTheCall) {
  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_WriteU32", -1234, 2), 0);
  EXPECT_EQ(ViDazoDll_WriteU32(session, 0, 5), -1234);
  EXPECT_EQ(ViDazoDll_WriteU32(session, 0, 6), -1234);
  uint32_t value = 9;
  ASSERT_EQ(ViDazoDll_ReadU32(session, 0, &value), 0);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(ViDazoDll_WriteU32(session, 0, 7), 0);
  EXPECT_EQ(find("ViDazoDll_WriteU32", 1).result, -1234);

  // An injected failure does not wait, whatever the timeout.
  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_ReadFifoU32", ViDazoDll_StatusFifoTimeout, 1), 0);
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, &value, 1, ViDazoDll_InfiniteTimeout, nullptr),
            ViDazoDll_StatusFifoTimeout);
}

TEST_F(LowerJournalTest, WarningInjectionDoesTheWorkUnlessItFails) {
  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_ReadFifoU32", 7, 1), 0);
  pushSequence(kToHostU32, 40, 1);
  uint32_t value = 0;
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, &value, 1, 0, nullptr), 7);
  EXPECT_EQ(value, 40u);
  EXPECT_EQ(counts(kToHostU32).used, 0u);

  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_Run", 3, 2), 0);
  EXPECT_EQ(ViDazoDll_Run(0x999, 0), ViDazoSim_StatusInvalidSession);
  EXPECT_EQ(ViDazoDll_Run(session, 0), 3);
  EXPECT_EQ(ViDazoDll_Run(session, 0), 0);
}

TEST_F(LowerJournalTest, InjectionNeedsAKnownFunctionAndCanBeCancelled) {
  EXPECT_EQ(ViDazoSim_InjectStatus("ViDazoDll_Nothing", -1, 1), ViDazoSim_StatusUnknownFunction);
  EXPECT_EQ(ViDazoSim_InjectStatus("ViDazoDll_Run", 0, 1), ViDazoSim_StatusInvalidParameter);
  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_Run", -1, 5), 0);
  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_Run", -1, 0), 0);
  EXPECT_EQ(ViDazoDll_Run(session, 0), 0);
  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_AddResources", -2, 1), 0);
  ViDazoSim_ClearInjections();
  const char* const names[] = {"simY"};
  EXPECT_EQ(ViDazoDll_AddResources(names, 1), 0);
}

}  // namespace
