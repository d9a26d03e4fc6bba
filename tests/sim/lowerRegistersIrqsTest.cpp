// lowerRegistersIrqsTest.cpp: register space, doorbell and IRQs of the
// simulated lower library.
#include "lowerFixture.h"

namespace {

using LowerRegistersIrqsTest = LowerTest;

TEST_F(LowerRegistersIrqsTest, AllWidthsShareOneByteAddressedSpace) {
  ASSERT_EQ(ViDazoDll_WriteU32(session, 0x100, 0x11223344u), 0);
  uint8_t low = 0;
  uint16_t high = 0;
  ASSERT_EQ(ViDazoDll_ReadU8(session, 0x100, &low), 0);
  ASSERT_EQ(ViDazoDll_ReadU16(session, 0x102, &high), 0);
  EXPECT_EQ(low, 0x44);  // host byte order (little-endian on every supported target)
  EXPECT_EQ(high, 0x1122);

  ASSERT_EQ(ViDazoDll_WriteI64(session, 0x108, -5), 0);
  int64_t wide = 0;
  ASSERT_EQ(ViDazoDll_ReadI64(session, 0x108, &wide), 0);
  EXPECT_EQ(wide, -5);

  ASSERT_EQ(ViDazoDll_WriteBool(session, 0x110, 7), 0);
  ASSERT_EQ(ViDazoDll_ReadU8(session, 0x110, &low), 0);
  EXPECT_EQ(low, 1);

  const uint16_t in[4] = {1, 2, 3, 0xFFFF};
  uint16_t out[4] = {};
  ASSERT_EQ(ViDazoDll_WriteArrayU16(session, 0x200, in, 4), 0);
  ASSERT_EQ(ViDazoDll_ReadArrayU16(session, 0x200, out, 4), 0);
  EXPECT_EQ(out[3], 0xFFFF);
  EXPECT_EQ(ViDazoDll_ReadArrayU32(session, 0x200, nullptr, 0), 0);
}

TEST_F(LowerRegistersIrqsTest, MisalignedOrOutOfRangeAccessesAreRefused) {
  uint32_t value = 0;
  uint64_t wide = 0;
  uint64_t many[2] = {};
  EXPECT_EQ(ViDazoDll_ReadU32(session, 0x102, &value), ViDazoSim_StatusInvalidRegister);
  EXPECT_EQ(ViDazoDll_ReadU64(session, ViDazoSim_RegisterSpaceBytes - 8, &wide), 0);
  EXPECT_EQ(ViDazoDll_ReadU64(session, ViDazoSim_RegisterSpaceBytes, &wide), ViDazoSim_StatusInvalidRegister);
  EXPECT_EQ(ViDazoDll_ReadArrayU64(session, ViDazoSim_RegisterSpaceBytes - 8, many, 2),
            ViDazoSim_StatusInvalidRegister);
  // A count whose byte length overflows 32 bits must not wrap into range.
  EXPECT_EQ(ViDazoDll_ReadArrayU64(session, 8, many, 0x20000001u), ViDazoSim_StatusInvalidRegister);
  EXPECT_EQ(ViDazoDll_ReadU32(session, 0, nullptr), ViDazoSim_StatusInvalidParameter);
}

TEST_F(LowerRegistersIrqsTest, DoorbellWritesRaiseIrqsAndReadBackZero) {
  ASSERT_EQ(ViDazoDll_WriteU32(session, ViDazoSim_DoorbellOffset, 0x30), 0);
  EXPECT_EQ(assertedIrqs(session), 0x30u);
  uint32_t doorbell = 1;
  ASSERT_EQ(ViDazoDll_ReadU32(session, ViDazoSim_DoorbellOffset, &doorbell), 0);
  EXPECT_EQ(doorbell, 0u);
  ASSERT_EQ(ViDazoDll_WriteU8(session, ViDazoSim_DoorbellOffset + 1, 1), 0);
  EXPECT_EQ(assertedIrqs(session), 0x130u);
  ASSERT_EQ(ViDazoDll_AcknowledgeIrqs(session | kRoutingBit, 0x10), 0);
  EXPECT_EQ(assertedIrqs(session), 0x120u);
}

TEST_F(LowerRegistersIrqsTest, WaitOnIrqsBlocksUntilAnIrqOfItsMask) {
  auto waiter = std::async(std::launch::async, [this] {
    uint32_t asserted = 0;
    ViDazoDll_Bool timedOut = 1;
    const int32_t status = ViDazoDll_WaitOnIrqs(session, nullptr, 0x4, kLongWaitMs, &asserted, &timedOut);
    return status == 0 && timedOut == 0 ? asserted : 0xDEADu;
  });
  ASSERT_EQ(ViDazoSim_WaitForBlockedCalls(1, kLongWaitMs), 0);
  ASSERT_EQ(ViDazoSim_RaiseIrqs(session, 0x1), 0);  // outside the mask: the wait goes on
  ASSERT_EQ(ViDazoSim_RaiseIrqs(session, 0x6), 0);
  EXPECT_EQ(waiter.get(), 0x4u);
}

TEST_F(LowerRegistersIrqsTest, WaitOnIrqsReportsTimeoutsAndAcceptsNullOutputs) {
  uint32_t asserted = 9;
  ViDazoDll_Bool timedOut = 0;
  ASSERT_EQ(ViDazoDll_WaitOnIrqs(session, nullptr, 0x1, 20, &asserted, &timedOut), 0);
  EXPECT_EQ(asserted, 0u);
  EXPECT_EQ(timedOut, 1);
  ASSERT_EQ(ViDazoSim_RaiseIrqs(session, 0x1), 0);
  ASSERT_EQ(ViDazoDll_WaitOnIrqs(session, nullptr, 0xFF, 0, &asserted, &timedOut), 0);
  EXPECT_EQ(asserted, 0x1u);
  EXPECT_EQ(timedOut, 0);
  EXPECT_EQ(ViDazoDll_WaitOnIrqs(session, nullptr, 0x1, 0, nullptr, nullptr), 0);
  ASSERT_EQ(ViDazoDll_AcknowledgeIrqs(session, 0x1), 0);
  ASSERT_EQ(ViDazoDll_WaitOnIrqs(session, nullptr, 0x1, 0, &asserted, &timedOut), 0);
  EXPECT_EQ(timedOut, 1);
}

TEST_F(LowerRegistersIrqsTest, IrqContextsAreCountedAndGivenBackOnce) {
  ASSERT_EQ(ViDazoDll_ReserveIrqContext(session, nullptr), 0);
  ViDazoDll_IrqContext context = nullptr;
  ASSERT_EQ(ViDazoDll_ReserveIrqContext(session | kRoutingBit, &context), 0);
  EXPECT_NE(context, nullptr);
  ViDazoSim_SessionInfo info{};
  ASSERT_EQ(ViDazoSim_GetSessionInfo(session, &info), 0);
  EXPECT_EQ(info.irqContexts, 2u);
  EXPECT_EQ(ViDazoDll_UnreserveIrqContext(session, context), 0);
  EXPECT_EQ(ViDazoDll_UnreserveIrqContext(session, context), ViDazoSim_StatusInvalidIrqContext);
  EXPECT_EQ(ViDazoDll_UnreserveIrqContext(session, nullptr), 0);
  EXPECT_EQ(ViDazoDll_UnreserveIrqContext(session, nullptr), ViDazoSim_StatusInvalidIrqContext);
}

}  // namespace
