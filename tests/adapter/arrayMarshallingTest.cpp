// arrayMarshallingTest.cpp: host arrays resized through the host runtime and
// filled in place by the lower library, with the element count set from the
// outcome; every row of the failure table.
#include <gtest/gtest.h>

#include "ViDazoHx/ViDazoHx.h"
#include "targetFixture.h"

namespace {

constexpr uint32_t kRouted = 0x4000;
constexpr uint32_t kUnsupported = 0x2000;
constexpr uint32_t kNotWritten = 0xFFFFFFFF;

class ArrayMarshalling : public tTargetTest {
 protected:
  HostRuntimeSim_ArrayInfo info(ViDazoHx_ArrayHandle array) {
    HostRuntimeSim_ArrayInfo result{};
    EXPECT_EQ(HostRuntimeSim_GetArrayInfo(array, &result), 0);
    return result;
  }
  uint32_t resizes() { return HostRuntimeSim_CallCount("NumericArrayResize"); }
  uint32_t lowerCalls() { return ViDazoSim_JournalCount(); }
};

// Host type code -> the simulated target's FIFO of that type (target-to-host;
// the host-to-target FIFO of the type is 9 more) and the lower function suffix.
struct tTypeCase {
  int32_t code;
  uint32_t fifo;
  const char* suffix;
  uint32_t dataOffset;
};
const tTypeCase kTypes[] = {{1, 1, "I8", 4},  {2, 3, "I16", 4}, {3, 5, "I32", 4}, {4, 7, "I64", 8},
                            {5, 2, "U8", 4},  {6, 4, "U16", 4}, {7, 6, "U32", 4}, {8, 8, "U64", 8}};

TEST_F(ArrayMarshalling, ReadArray32RejectsAbsentHandlesFirst) {
  ViDazoHx_ArrayBlock* noBlock = nullptr;
  EXPECT_EQ(ViDazoHx_ReadArray32(session, 0, 4, nullptr), StatusInvalidParameter);
  EXPECT_EQ(ViDazoHx_ReadArray32(session | kUnsupported, 0, 4, nullptr), StatusInvalidParameter);
  EXPECT_EQ(ViDazoHx_ReadArray32(session, 0, 4, &noBlock), StatusInvalidParameter);
  EXPECT_EQ(ViDazoHx_WriteArray32(session, 0, &noBlock), StatusInvalidParameter);
  EXPECT_EQ(resizes() + lowerCalls(), 0u);
}

TEST_F(ArrayMarshalling, ReadArray32FillsTheResizedBlockInPlace) {
  const uint32_t values[4] = {11, 22, 33, 44};
  ASSERT_EQ(ViDazoDll_WriteArrayU32(session, 64, values, 4), 0);
  ViDazoSim_ClearJournal();
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(7, 1);
  const ViDazoHx_ArrayBlock* before = *array;

  ASSERT_EQ(ViDazoHx_ReadArray32(session, 64, 4096, array), 0);
  const HostRuntimeSim_ArrayInfo after = info(array);
  ASSERT_NE(after.block, before) << "precondition: the host moved the block on resize";
  EXPECT_EQ(after.count, 4096);
  EXPECT_EQ(arguments(onlyCall()), (std::vector<uint64_t>{session | kRouted, 64, arg(after.elements), 4096}));
  EXPECT_EQ(static_cast<const uint32_t*>(after.elements)[3], 44u);

  ASSERT_EQ(ViDazoHx_ReadArray32(session, 64, 0, array), 0);
  EXPECT_EQ(info(array).count, 0);
  EXPECT_EQ(ViDazoSim_CountJournalRecords("ViDazoDll_ReadArrayU32"), 2u);
}

TEST_F(ArrayMarshalling, ReadArray32SetsTheCountFromTheOutcome) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(7, 3);
  EXPECT_EQ(ViDazoHx_ReadArray32(session | kUnsupported, 0, 8, array), StatusSessionNotSupported);
  EXPECT_EQ(info(array).count, 0);
  EXPECT_EQ(resizes() + lowerCalls(), 0u);

  const std::pair<int32_t, int32_t> resizeFailures[] = {
      {2, StatusMemoryFull}, {41, StatusHostCancelled}, {7, StatusUnexpectedFailure}};
  for (const auto& [hostResult, status] : resizeFailures) {
    HostRuntimeSim_InjectResult("NumericArrayResize", 1, hostResult);
    EXPECT_EQ(ViDazoHx_ReadArray32(session, 0, 8, array), status);
    EXPECT_EQ(info(array).count, 0);
  }
  EXPECT_EQ(lowerCalls(), 0u);

  ViDazoSim_InjectStatus("ViDazoDll_ReadArrayU32", -63999, 1);
  EXPECT_EQ(ViDazoHx_ReadArray32(session, 0, 8, array), -63999);
  EXPECT_EQ(info(array).count, 0);
  ViDazoSim_InjectStatus("ViDazoDll_ReadArrayU32", 9, 1);
  EXPECT_EQ(ViDazoHx_ReadArray32(session, 0, 8, array), 9);
  EXPECT_EQ(info(array).count, 8);
}

TEST_F(ArrayMarshalling, WriteArray32HandsOverTheArraysOwnElements) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(7, 5);
  const HostRuntimeSim_ArrayInfo block = info(array);
  for (uint32_t i = 0; i < 5; ++i) static_cast<uint32_t*>(block.elements)[i] = 100 + i;
  EXPECT_EQ(ViDazoHx_WriteArray32(session | kUnsupported, 0, array), StatusSessionNotSupported);
  ASSERT_EQ(ViDazoHx_WriteArray32(session, 32, array), 0);
  EXPECT_EQ(arguments(onlyCall()), (std::vector<uint64_t>{session | kRouted, 32, arg(block.elements), 5}));
  uint32_t value = 0;
  ASSERT_EQ(ViDazoDll_ReadU32(session, 32 + 4 * 4, &value), 0);
  EXPECT_EQ(value, 104u);
  ViDazoSim_InjectStatus("ViDazoDll_WriteArrayU32", 9, 1);
  EXPECT_EQ(ViDazoHx_WriteArray32(session, 32, array), 9);
}

TEST_F(ArrayMarshalling, ReadFifoScalarPicksTheFunctionAndOffsetByTypeCode) {
  for (const tTypeCase& t : kTypes) {
    ASSERT_EQ(ViDazoSim_StartGenerator(session, t.fifo, 40, ViDazoSim_EndlessStream), 0);
    ViDazoSim_ClearJournal();
    ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(t.code, 0);
    uint32_t remaining = kNotWritten;
    ASSERT_EQ(ViDazoHx_ReadFifoScalar(session, t.fifo, 3, t.code, 0, 100, array, &remaining), 0) << t.suffix;
    const HostRuntimeSim_ArrayInfo after = info(array);
    EXPECT_EQ(after.count, 3);
    EXPECT_EQ(static_cast<const char*>(after.elements) - reinterpret_cast<const char*>(after.block),
              static_cast<ptrdiff_t>(t.dataOffset));
    const ViDazoSim_JournalRecord record = onlyCall();
    EXPECT_EQ(std::string(record.function), std::string("ViDazoDll_ReadFifo") + t.suffix);
    EXPECT_EQ(record.arguments[0], session | kRouted);
    EXPECT_EQ(record.arguments[2], arg(after.elements));
    EXPECT_EQ(record.arguments[4], 100u);
    EXPECT_EQ(ViDazoSim_CheckGenerated(static_cast<uint32_t>(t.code), 40, 0, after.elements, 3, nullptr), 0) << t.suffix;
    EXPECT_NE(remaining, kNotWritten);
  }
}

TEST_F(ArrayMarshalling, ReadFifoScalarFailures) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(7, 3);
  uint32_t remaining = kNotWritten;
  EXPECT_EQ(ViDazoHx_ReadFifoScalar(session | kUnsupported, 6, 8, 7, 0, 0, array, &remaining),
            StatusSessionNotSupported);
  EXPECT_EQ(info(array).count, 3);
  EXPECT_EQ(remaining, kNotWritten);
  EXPECT_EQ(ViDazoHx_ReadFifoScalar(session, 6, 8, 7, 0, 0, nullptr, &remaining), StatusInvalidParameter);
  EXPECT_EQ(resizes(), 0u);

  // Invalid codes are still offered to the host's resize, then refused.
  for (int32_t code : {0, 9}) {
    remaining = kNotWritten;
    EXPECT_EQ(ViDazoHx_ReadFifoScalar(session, 6, 8, code, 0, 0, array, &remaining), StatusInvalidParameter);
    EXPECT_EQ(info(array).count, 0);
    EXPECT_EQ(remaining, 0u);
  }
  EXPECT_EQ(resizes(), 2u);

  const std::pair<int32_t, int32_t> resizeFailures[] = {
      {2, StatusMemoryFull}, {41, StatusHostCancelled}, {7, StatusUnexpectedFailure}};
  for (const auto& [hostResult, status] : resizeFailures) {
    HostRuntimeSim_InjectResult("NumericArrayResize", 1, hostResult);
    remaining = kNotWritten;
    EXPECT_EQ(ViDazoHx_ReadFifoScalar(session, 6, 8, 7, 0, 0, array, &remaining), status);
    EXPECT_EQ(info(array).count, 0);
    EXPECT_EQ(remaining, 0u);
  }
  EXPECT_EQ(lowerCalls(), 0u);

  ViDazoSim_InjectStatus("ViDazoDll_ReadFifoU32", -63999, 1);
  EXPECT_EQ(ViDazoHx_ReadFifoScalar(session, 6, 8, 7, 0, 0, array, nullptr), -63999);
  EXPECT_EQ(info(array).count, 0);
  ASSERT_EQ(ViDazoSim_StartGenerator(session, 6, 0, ViDazoSim_EndlessStream), 0);
  ViDazoSim_InjectStatus("ViDazoDll_ReadFifoU32", 9, 1);
  EXPECT_EQ(ViDazoHx_ReadFifoScalar(session, 6, 8, 7, 0, 0, array, nullptr), 9);
  EXPECT_EQ(info(array).count, 8);
}

TEST_F(ArrayMarshalling, WriteFifoScalarHandsOverTheArraysElementsAndCount) {
  for (const tTypeCase& t : {kTypes[6], kTypes[7]}) {
    ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(t.code, 5);
    const HostRuntimeSim_ArrayInfo block = info(array);
    ViDazoSim_ClearJournal();
    uint32_t remaining = kNotWritten;
    ASSERT_EQ(ViDazoHx_WriteFifoScalar(session, t.fifo + 9, array, t.code, 0, 50, &remaining), 0);
    const ViDazoSim_JournalRecord record = onlyCall();
    EXPECT_EQ(std::string(record.function), std::string("ViDazoDll_WriteFifo") + t.suffix);
    EXPECT_EQ(record.arguments[0], session | kRouted);
    EXPECT_EQ(record.arguments[2], arg(block.elements));
    EXPECT_EQ(record.arguments[3], 5u);
    EXPECT_NE(remaining, kNotWritten);
  }
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(7, 5);
  uint32_t remaining = kNotWritten;
  EXPECT_EQ(ViDazoHx_WriteFifoScalar(session | kUnsupported, 15, array, 7, 0, 0, &remaining),
            StatusSessionNotSupported);
  EXPECT_EQ(ViDazoHx_WriteFifoScalar(session, 15, nullptr, 7, 0, 0, &remaining), StatusInvalidParameter);
  EXPECT_EQ(remaining, kNotWritten);
  ViDazoSim_ClearJournal();
  EXPECT_EQ(ViDazoHx_WriteFifoScalar(session, 15, array, 9, 0, 0, &remaining), StatusInvalidParameter);
  EXPECT_EQ(remaining, 0u);
  EXPECT_EQ(lowerCalls(), 0u);
  for (int32_t injected : {-63999, 9}) {
    ViDazoSim_InjectStatus("ViDazoDll_WriteFifoU32", injected, 1);
    EXPECT_EQ(ViDazoHx_WriteFifoScalar(session, 15, array, 7, 0, 0, nullptr), injected);
  }
}

}  // namespace
