// lowerFifoTest.cpp: ring buffers, region lending, waits and the target-side
// helpers (push, pull, generator, loopback) of the simulated lower library.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "lowerFixture.h"
#include "testSync.h"

namespace {

using LowerFifoTest = LowerTest;

uint32_t* ringBase(uint32_t session, uint32_t fifo) {
  void* base = nullptr;
  uint32_t bytes = 0;
  EXPECT_EQ(ViDazoSim_GetFifoBuffer(session, fifo, &base, &bytes), 0);
  return static_cast<uint32_t*>(base);
}

TEST_F(LowerFifoTest, ScalarCopiesKeepOrderAcrossTheWrap) {
  prepareFifo(kToHostU32, 16);
  std::vector<uint32_t> out(12);
  uint32_t remaining = 99;
  pushSequence(kToHostU32, 0, 10);
  ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, out.data(), 10, 0, &remaining), 0);
  EXPECT_EQ(remaining, 0u);
  pushSequence(kToHostU32, 10, 12);  // occupies places 10..15 and 0..5
  ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, out.data(), 12, 0, &remaining), 0);
  for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(out[i], 10 + i);

  prepareFifo(kFromHostU32, 16);
  const std::vector<uint32_t> in = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  std::vector<uint32_t> pulled(12);
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(ViDazoDll_WriteFifoU32(session, kFromHostU32, in.data(), 12, 0, &remaining), 0);
    EXPECT_EQ(remaining, 4u);
    ASSERT_EQ(ViDazoSim_PullFifo(session, kFromHostU32, pulled.data(), 12, 0, nullptr), 0);
    EXPECT_EQ(pulled, in);
  }
}

TEST_F(LowerFifoTest, RegionsPointIntoTheRingAndStopShortAtItsEnd) {
  prepareFifo(kToHostU32, 16);
  std::vector<uint32_t> sink(12);
  pushSequence(kToHostU32, 0, 12);
  ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, sink.data(), 12, 0, nullptr), 0);
  pushSequence(kToHostU32, 100, 8);  // places 12..15 and 0..3

  uint32_t* elements = nullptr;
  uint32_t acquired = 0, remaining = 0;
  ASSERT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 8, 0, &acquired, &remaining), 0);
  EXPECT_EQ(elements, ringBase(session, kToHostU32) + 12);
  EXPECT_EQ(acquired, 4u);
  EXPECT_EQ(remaining, 4u);
  EXPECT_EQ(elements[0], 100u);
  EXPECT_EQ(elements[3], 103u);

  ASSERT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 4, 0, &acquired, nullptr), 0);
  EXPECT_EQ(elements, ringBase(session, kToHostU32));
  EXPECT_EQ(acquired, 4u);
  EXPECT_EQ(elements[0], 104u);
  EXPECT_EQ(counts(kToHostU32).acquired, 8u);
}

TEST_F(LowerFifoTest, WriteRegionsAreFilledInPlaceAndReachTheTargetOnRelease) {
  prepareFifo(kFromHostU64, 16);
  uint64_t* elements = nullptr;
  uint32_t acquired = 0;
  ASSERT_EQ(ViDazoDll_AcquireFifoWriteElementsU64(session, kFromHostU64, &elements, 3, 0, &acquired, nullptr), 0);
  ASSERT_EQ(acquired, 3u);
  for (uint32_t i = 0; i < 3; ++i) elements[i] = 0x1000000000ull + i;
  uint64_t pulled[3] = {};
  EXPECT_EQ(ViDazoSim_PullFifo(session, kFromHostU64, pulled, 1, 0, nullptr), ViDazoDll_StatusFifoTimeout);
  ASSERT_EQ(ViDazoDll_ReleaseFifoElements(session, kFromHostU64, 3), 0);
  ASSERT_EQ(ViDazoSim_PullFifo(session, kFromHostU64, pulled, 3, 0, nullptr), 0);
  EXPECT_EQ(pulled[2], 0x1000000002ull);
}

TEST_F(LowerFifoTest, TimeoutsAnswerFifoTimeoutAndLeaveEverythingInPlace) {
  prepareFifo(kToHostU32, 16);
  pushSequence(kToHostU32, 7, 3);
  uint32_t out[5] = {};
  uint32_t remaining = 0;
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, out, 5, 20, &remaining), ViDazoDll_StatusFifoTimeout);
  EXPECT_EQ(remaining, 3u);
  uint32_t* elements = nullptr;
  uint32_t acquired = 9;
  EXPECT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 4, 10, &acquired, nullptr),
            ViDazoDll_StatusFifoTimeout);
  EXPECT_EQ(acquired, 0u);
  EXPECT_EQ(elements, nullptr);
  EXPECT_EQ(counts(kToHostU32).used, 3u);
  EXPECT_EQ(counts(kToHostU32).acquired, 0u);
  ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, out, 3, 0, nullptr), 0);
  EXPECT_EQ(out[0], 7u);

  prepareFifo(kFromHostU32, 16);
  const std::vector<uint32_t> block(16, 5);
  ASSERT_EQ(ViDazoDll_WriteFifoU32(session, kFromHostU32, block.data(), 16, 0, nullptr), 0);
  EXPECT_EQ(ViDazoDll_WriteFifoU32(session, kFromHostU32, block.data(), 1, 0, &remaining),
            ViDazoDll_StatusFifoTimeout);
  EXPECT_EQ(remaining, 0u);
  EXPECT_EQ(counts(kFromHostU32).used, 16u);
}

TEST_F(LowerFifoTest, BlockedCallsWakeWhenTheOtherSideActs) {
  prepareFifo(kToHostU32, 16);
  auto reader = std::async(std::launch::async, [this] {
    uint32_t out[4] = {};
    const int32_t status = ViDazoDll_ReadFifoU32(session, kToHostU32, out, 4, kLongWaitMs, nullptr);
    return status == 0 ? out[3] : static_cast<uint32_t>(status);
  });
  ASSERT_EQ(ViDazoSim_WaitForBlockedCalls(1, kLongWaitMs), 0);
  pushSequence(kToHostU32, 50, 4);
  EXPECT_EQ(reader.get(), 53u);

  prepareFifo(kFromHostU32, 16);
  const std::vector<uint32_t> block(16, 1);
  ASSERT_EQ(ViDazoDll_WriteFifoU32(session, kFromHostU32, block.data(), 16, 0, nullptr), 0);
  auto writer = std::async(std::launch::async, [this] {
    uint32_t* elements = nullptr;
    uint32_t acquired = 0;
    return ViDazoDll_AcquireFifoWriteElementsU32(session, kFromHostU32, &elements, 2, kLongWaitMs, &acquired,
                                                 nullptr);
  });
  ASSERT_EQ(ViDazoSim_WaitForBlockedCalls(1, kLongWaitMs), 0);
  uint32_t pulled[2];
  ASSERT_EQ(ViDazoSim_PullFifo(session, kFromHostU32, pulled, 2, 0, nullptr), 0);
  EXPECT_EQ(writer.get(), 0);
  EXPECT_EQ(counts(kFromHostU32).acquired, 2u);
}

TEST_F(LowerFifoTest, WaitsEndWhenTheFifoStopsOrTheSessionCloses) {
  prepareFifo(kToHostU32, 16);
  auto waitForData = [this] {
    uint32_t out = 0;
    return ViDazoDll_ReadFifoU32(session, kToHostU32, &out, 1, ViDazoDll_InfiniteTimeout, nullptr);
  };
  auto stopped = std::async(std::launch::async, waitForData);
  ASSERT_EQ(ViDazoSim_WaitForBlockedCalls(1, kLongWaitMs), 0);
  ASSERT_EQ(ViDazoDll_StopFifo(session, kToHostU32), 0);
  EXPECT_EQ(stopped.get(), ViDazoSim_StatusFifoNotStarted);

  auto closed = std::async(std::launch::async, waitForData);
  ASSERT_EQ(ViDazoSim_WaitForBlockedCalls(1, kLongWaitMs), 0);
  ASSERT_EQ(ViDazoDll_Close(session, 0), 0);
  EXPECT_EQ(closed.get(), ViDazoSim_StatusInvalidSession);
}

TEST_F(LowerFifoTest, RequestsThatCannotFitBesideAcquiredElementsFailAtOnce) {
  prepareFifo(kToHostU32, 16);
  pushSequence(kToHostU32, 0, 16);
  uint32_t* elements = nullptr;
  uint32_t acquired = 0;
  ASSERT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 10, 0, &acquired, nullptr), 0);
  // A long timeout would only show as a slow -50400 if the check were missing.
  EXPECT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 7, kLongWaitMs, &acquired, nullptr),
            ViDazoDll_StatusAcquireTimedOut);
  EXPECT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 6, 0, &acquired, nullptr), 0);
  EXPECT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 17, 0, &acquired, nullptr),
            ViDazoSim_StatusInvalidParameter);
}

TEST_F(LowerFifoTest, ReleaseReturnsTheOldestElementsAndRefusesTooMany) {
  prepareFifo(kToHostU32, 16);
  pushSequence(kToHostU32, 0, 16);
  uint32_t* first = nullptr;
  uint32_t* second = nullptr;
  uint32_t acquired = 0;
  ASSERT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &first, 4, 0, &acquired, nullptr), 0);
  ASSERT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &second, 4, 0, &acquired, nullptr), 0);
  EXPECT_EQ(second[0], 4u);
  uint32_t out = 0;
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, &out, 1, 0, nullptr), ViDazoSim_StatusFifoBusy);
  EXPECT_EQ(ViDazoDll_ConfigureFifo(session, kToHostU32, 32), ViDazoSim_StatusFifoBusy);

  ASSERT_EQ(ViDazoDll_ReleaseFifoElements(session, kToHostU32, 4), 0);
  EXPECT_EQ(counts(kToHostU32).acquired, 4u);
  EXPECT_EQ(counts(kToHostU32).used, 12u);
  EXPECT_EQ(ViDazoDll_ReleaseFifoElements(session, kToHostU32, 5), ViDazoSim_StatusOverRelease);
  EXPECT_EQ(counts(kToHostU32).acquired, 4u);
  ASSERT_EQ(ViDazoDll_ReleaseFifoElements(session, kToHostU32, 4), 0);
  ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, &out, 1, 0, nullptr), 0);
  EXPECT_EQ(out, 8u);
}

TEST_F(LowerFifoTest, CallsThatDoNotFitTheFifoAreRefused) {
  uint32_t u32 = 0;
  int32_t i32 = 0;
  uint32_t* elements = nullptr;
  uint32_t acquired = 0;
  EXPECT_EQ(ViDazoDll_ReadFifoI32(session, kToHostU32, &i32, 1, 0, nullptr), ViDazoSim_StatusWrongType);
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session, kFromHostU32, &u32, 1, 0, nullptr), ViDazoSim_StatusWrongDirection);
  EXPECT_EQ(ViDazoDll_WriteFifoU32(session, kToHostU32, &u32, 1, 0, nullptr), ViDazoSim_StatusWrongDirection);
  EXPECT_EQ(ViDazoDll_AcquireFifoWriteElementsU32(session, kToHostU32, &elements, 1, 0, &acquired, nullptr),
            ViDazoSim_StatusWrongDirection);
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session, ViDazoSim_FifoCount, &u32, 1, 0, nullptr), ViDazoSim_StatusInvalidFifo);
  EXPECT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 1, 0, &acquired, nullptr),
            ViDazoSim_StatusFifoNotStarted);
  EXPECT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, nullptr, 1, 0, &acquired, nullptr),
            ViDazoSim_StatusInvalidParameter);
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session + 1, kToHostU32, &u32, 1, 0, nullptr), ViDazoSim_StatusInvalidSession);
  EXPECT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, &u32, ViDazoSim_DefaultFifoDepth + 1, 0, nullptr),
            ViDazoSim_StatusInvalidParameter);

  uint32_t actual = 0;
  EXPECT_EQ(ViDazoDll_ConfigureFifo2(session, kToHostU32, 5, &actual), 0);
  EXPECT_EQ(actual, 16u);
  EXPECT_EQ(ViDazoDll_ConfigureFifo2(session, kToHostU32, 0, &actual), ViDazoSim_StatusInvalidParameter);
  EXPECT_EQ(ViDazoDll_ConfigureFifo(session, kToHostU32, ViDazoSim_MaxFifoDepth + 1),
            ViDazoSim_StatusInvalidParameter);
}

TEST_F(LowerFifoTest, GeneratorStreamsACheckablePatternThroughRegions) {
  prepareFifo(kToHostU32, 64);
  const uint64_t seed = 0xFFFFFF00u;  // the values wrap through 0 on the way
  ASSERT_EQ(ViDazoSim_StartGenerator(session, kToHostU32, seed, ViDazoSim_EndlessStream), 0);
  uint64_t index = 0;
  for (int round = 0; round < 40; ++round) {
    uint32_t* elements = nullptr;
    uint32_t acquired = 0;
    ASSERT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, 48, 0, &acquired, nullptr), 0);
    ASSERT_EQ(ViDazoSim_CheckGenerated(ViDazoSim_TypeU32, seed, index, elements, acquired, nullptr), 0);
    ASSERT_EQ(ViDazoDll_ReleaseFifoElements(session, kToHostU32, acquired), 0);
    index += acquired;
  }
  EXPECT_EQ(index, 20u * (48u + 16u));  // every other run stopped short at the wrap

  // A finite stream ends; the checker points at the first wrong element.
  prepareFifo(kToHostI16, 16);
  ASSERT_EQ(ViDazoSim_StartGenerator(session, kToHostI16, 7, 20), 0);
  int16_t values[16] = {};
  ASSERT_EQ(ViDazoDll_ReadFifoI16(session, kToHostI16, values, 16, 0, nullptr), 0);
  ASSERT_EQ(ViDazoDll_ReadFifoI16(session, kToHostI16, values, 4, 0, nullptr), 0);
  EXPECT_EQ(ViDazoDll_ReadFifoI16(session, kToHostI16, values, 1, 0, nullptr), ViDazoDll_StatusFifoTimeout);
  EXPECT_EQ(ViDazoSim_CheckGenerated(ViDazoSim_TypeI16, 7, 16, values, 4, nullptr), 0);
  values[2] = 0;
  uint32_t mismatch = 0;
  EXPECT_EQ(ViDazoSim_CheckGenerated(ViDazoSim_TypeI16, 7, 16, values, 4, &mismatch),
            ViDazoSim_StatusPatternMismatch);
  EXPECT_EQ(mismatch, 2u);
  EXPECT_EQ(ViDazoSim_GeneratorValue(ViDazoSim_TypeU8, 250, 10), 4u);
}

// Hosts pass the library's type codes to the simulator too (that the names
// carry the library's values is checked where both headers are seen,
// tests/abi/headerCheck.c): the layout must report them, with the FIFO
// numbers unchanged, and the generator must size elements by them.
TEST_F(LowerFifoTest, ElementTypesAreTheLibrarysTypeCodes) {
  const uint32_t byPosition[] = {ViDazoSim_TypeBool, ViDazoSim_TypeI8,  ViDazoSim_TypeU8,
                                 ViDazoSim_TypeI16,  ViDazoSim_TypeU16, ViDazoSim_TypeI32,
                                 ViDazoSim_TypeU32,  ViDazoSim_TypeI64, ViDazoSim_TypeU64};
  for (uint32_t fifo = 0; fifo < ViDazoSim_FifoCount; ++fifo) {
    uint32_t toHost = 9, type = 99;
    ASSERT_EQ(ViDazoSim_GetFifoLayout(fifo, &toHost, &type, nullptr), 0);
    EXPECT_EQ(type, byPosition[fifo % 9]) << "FIFO " << fifo;
    EXPECT_EQ(toHost, fifo < 9 ? 1u : 0u) << "FIFO " << fifo;
  }
  EXPECT_EQ(ViDazoSim_GeneratorValue(ViDazoSim_TypeU16, 0xFFFF0, 0x20), 0x10u);
  EXPECT_EQ(ViDazoSim_GeneratorValue(ViDazoSim_TypeI64, 1ull << 40, 1), (1ull << 40) + 1);
  EXPECT_EQ(ViDazoSim_GeneratorValue(ViDazoSim_TypeBool, 0, 3), 1u);
}

TEST_F(LowerFifoTest, LoopbackCarriesHostWritesBackToTheHost) {
  prepareFifo(kFromHostU32, 16);
  prepareFifo(kToHostU32, 16);
  ASSERT_EQ(ViDazoSim_SetLoopback(session, kFromHostU32, kToHostU32), 0);
  std::vector<uint32_t> in(32), out(32);
  for (uint32_t i = 0; i < 32; ++i) in[i] = 3 * i;
  // 32 elements through two 16-place FIFOs: the second half waits in the
  // source until the host reads the first.
  ASSERT_EQ(ViDazoDll_WriteFifoU32(session, kFromHostU32, in.data(), 16, 0, nullptr), 0);
  ASSERT_EQ(ViDazoDll_WriteFifoU32(session, kFromHostU32, in.data() + 16, 16, 0, nullptr), 0);
  ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, out.data(), 16, 0, nullptr), 0);
  ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, out.data() + 16, 16, 0, nullptr), 0);
  EXPECT_EQ(out, in);
  EXPECT_EQ(ViDazoSim_SetLoopback(session, kFromHostU32, kToHostU64), ViDazoSim_StatusWrongType);
  EXPECT_EQ(ViDazoSim_SetLoopback(session, kToHostU32, kFromHostU32), ViDazoSim_StatusWrongDirection);
}

TEST_F(LowerFifoTest, ConcurrentProducerAndRegionConsumerKeepEveryElementInOrder) {
  prepareFifo(kToHostU32, 64);
  constexpr uint32_t kTotal = 20000;
  auto producer = std::async(std::launch::async, [this] {
    for (uint32_t next = 0; next < kTotal;) {
      uint32_t chunk[10];
      for (uint32_t i = 0; i < 10; ++i) chunk[i] = next + i;
      const int32_t status = ViDazoSim_PushFifo(session, kToHostU32, chunk, 10, kLongWaitMs, nullptr);
      if (status != 0) return status;
      next += 10;
    }
    return 0;
  });
  uint32_t expected = 0;
  while (expected < kTotal) {
    uint32_t* elements = nullptr;
    uint32_t acquired = 0;
    const uint32_t wanted = std::min(8u, kTotal - expected);
    ASSERT_EQ(ViDazoDll_AcquireFifoReadElementsU32(session, kToHostU32, &elements, wanted, kLongWaitMs, &acquired,
                                                   nullptr), 0);
    for (uint32_t i = 0; i < acquired; ++i) ASSERT_EQ(elements[i], expected + i);
    ASSERT_EQ(ViDazoDll_ReleaseFifoElements(session, kToHostU32, acquired), 0);
    expected += acquired;
  }
  EXPECT_EQ(producer.get(), 0);
}

// Device mode: the FIFO's own thread produces or checks the pattern while
// the host streams through scalar copies and regions.
TEST_F(LowerFifoTest, DeviceThreadsProduceAndCheckThePatternOnTheirOwn) {
  constexpr uint64_t kSeed = 5;
  constexpr uint32_t kTotal = 1000;
  prepareFifo(kToHostU32, 64);
  ASSERT_EQ(ViDazoSim_StartDevice(session, kToHostU32, kSeed, 0), 0);
  std::vector<uint32_t> out(kTotal);
  for (uint32_t done = 0; done < kTotal; done += 40) {
    ASSERT_EQ(ViDazoDll_ReadFifoU32(session, kToHostU32, out.data() + done, 40, kLongWaitMs, nullptr), 0);
  }
  EXPECT_EQ(ViDazoSim_CheckGenerated(ViDazoSim_TypeU32, kSeed, 0, out.data(), kTotal, nullptr), 0);
  // The device is the target's only actor while it runs.
  uint32_t actual = 0;
  EXPECT_EQ(ViDazoSim_StartGenerator(session, kToHostU32, 0, 1), ViDazoSim_StatusFifoBusy);
  EXPECT_EQ(ViDazoSim_PushFifo(session, kToHostU32, out.data(), 1, 0, nullptr), ViDazoSim_StatusFifoBusy);
  EXPECT_EQ(ViDazoDll_ConfigureFifo2(session, kToHostU32, 128, &actual), ViDazoSim_StatusFifoBusy);
  EXPECT_EQ(ViDazoSim_StartDevice(session, kToHostU32, 0, 0), ViDazoSim_StatusFifoBusy);
  ASSERT_EQ(ViDazoSim_StopDevice(session, kToHostU32), 0);
  ASSERT_EQ(ViDazoSim_StopDevice(session, kToHostU32), 0);
  EXPECT_EQ(ViDazoDll_ConfigureFifo2(session, kToHostU32, 128, &actual), 0);

  // Host to target through write regions; element 100 breaks the pattern.
  prepareFifo(kFromHostU32, 64);
  ASSERT_EQ(ViDazoSim_StartDevice(session, kFromHostU32, kSeed, 0), 0);
  for (uint32_t done = 0; done < kTotal;) {
    uint32_t* elements = nullptr;
    uint32_t acquired = 0;
    const uint32_t wanted = std::min(24u, kTotal - done);
    ASSERT_EQ(ViDazoDll_AcquireFifoWriteElementsU32(session, kFromHostU32, &elements, wanted, kLongWaitMs, &acquired,
                                                    nullptr), 0);
    for (uint32_t i = 0; i < acquired; ++i) elements[i] = static_cast<uint32_t>(kSeed + done + i);
    if (done <= 100 && 100 < done + acquired) elements[100 - done] = 0;
    ASSERT_EQ(ViDazoDll_ReleaseFifoElements(session, kFromHostU32, acquired), 0);
    done += acquired;
  }
  // A full-depth write fits only once the device has taken everything before it.
  std::vector<uint32_t> tail(64);
  for (uint32_t i = 0; i < 64; ++i) tail[i] = static_cast<uint32_t>(kSeed + kTotal + i);
  ASSERT_EQ(ViDazoDll_WriteFifoU32(session, kFromHostU32, tail.data(), 64, kLongWaitMs, nullptr), 0);
  ViDazoSim_DeviceCounts device{};
  ASSERT_EQ(ViDazoSim_GetDeviceCounts(session, kFromHostU32, &device), 0);
  EXPECT_GE(device.elements, kTotal);
  EXPECT_EQ(device.mismatches, 1u);
  EXPECT_EQ(device.firstMismatch, 100u);
  EXPECT_EQ(device.running, 1u);
}

// A write device that ran dry sleeps without a time limit; a single place
// committed then must still be taken within about a millisecond, far below
// the quarter ring that wakes it when busy. Once the count shows the first
// place taken the device has gone back to sleep (it holds the FIFO's lock
// from the count until its wait), so the second place finds it asleep.
TEST_F(LowerFifoTest, WriteDeviceTakesASingleCommittedPlaceWithoutAHostWait) {
  constexpr uint64_t kSeed = 7;
  prepareFifo(kFromHostU32, 1024);
  ASSERT_EQ(ViDazoSim_StartDevice(session, kFromHostU32, kSeed, 0), 0);
  for (uint32_t place = 0; place < 2; ++place) {
    uint32_t* elements = nullptr;
    uint32_t acquired = 0;
    ASSERT_EQ(ViDazoDll_AcquireFifoWriteElementsU32(session, kFromHostU32, &elements, 1, 0, &acquired, nullptr), 0);
    ASSERT_EQ(acquired, 1u);
    elements[0] = static_cast<uint32_t>(kSeed + place);
    ASSERT_EQ(ViDazoDll_ReleaseFifoElements(session, kFromHostU32, 1), 0);
    ViDazoSim_DeviceCounts device{};
    EXPECT_TRUE(testsync::eventually(
        [&] { return ViDazoSim_GetDeviceCounts(session, kFromHostU32, &device) == 0 && device.elements > place; },
        std::chrono::seconds(1)))
        << "place " << place << " still in the ring";
    EXPECT_EQ(device.mismatches, 0u);
  }
}

TEST_F(LowerFifoTest, ClosingResettingAndExitingEndRunningDevices) {
  prepareFifo(kToHostU32, 64);
  prepareFifo(kFromHostU32, 64);
  ASSERT_EQ(ViDazoSim_StartDevice(session, kToHostU32, 0, 0), 0);
  ASSERT_EQ(ViDazoSim_StartDevice(session, kFromHostU32, 0, 1000), 0);
  ASSERT_EQ(ViDazoDll_Close(session, 0), 0);
  ViDazoSim_DeviceCounts device{};
  EXPECT_EQ(ViDazoSim_GetDeviceCounts(session, kToHostU32, &device), ViDazoSim_StatusInvalidSession);

  ASSERT_EQ(ViDazoDll_Open("demo.bit", "SIG", "sim0", 0, &session), 0);
  prepareFifo(kToHostU32, 64);
  ASSERT_EQ(ViDazoSim_StartDevice(session, kToHostU32, 0, 0), 0);
  ASSERT_EQ(ViDazoSim_Reset(), 0);  // the device's ring is freed: its thread must be gone

  // Forks without exec, which also works under qemu-user; no device thread
  // runs any more at this point.
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        uint32_t forgotten = 0;
        ViDazoDll_Open("demo.bit", "SIG", "sim0", 0, &forgotten);
        ViDazoDll_StartFifo(forgotten, kToHostU32);
        ViDazoSim_StartDevice(forgotten, kToHostU32, 0, 0);
        std::exit(0);  // no close
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
