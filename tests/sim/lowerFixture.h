// lowerFixture.h: fixture for the simulated lower library's tests: a reset
// simulator and broker with one session open on "sim0", and small helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <thread>

#include "ViDazo/ViDazoDll.h"
#include "ViDazo/ViDazoSim.h"
#include "VoKelSrv/VoKelSrvSim.h"

// Default layout (ViDazoSim.h): FIFOs 0 to 8 target-to-host, 9 + the same
// position host-to-target.
constexpr uint32_t kToHostU32 = 6;
constexpr uint32_t kToHostI16 = 3;
constexpr uint32_t kToHostU64 = 8;
constexpr uint32_t kFromHostU32 = 9 + kToHostU32;
constexpr uint32_t kFromHostU64 = 9 + kToHostU64;
constexpr uint32_t kRoutingBit = 0x4000;
// Bound for every wait that is expected to end early; never reached when the
// code is right.
constexpr uint32_t kLongWaitMs = 10000;

class LowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ViDazoSim_Reset();
    VoKelSrvSim_Reset();
    ASSERT_EQ(ViDazoDll_Open("demo.bit", "SIG", "sim0", 0, &session), 0);
  }
  void TearDown() override { ViDazoSim_Reset(); }

  // Gives FIFO `fifo` the depth `depth` (a multiple of 16) and starts it.
  void prepareFifo(uint32_t fifo, uint32_t depth) {
    uint32_t actual = 0;
    ASSERT_EQ(ViDazoDll_ConfigureFifo2(session, fifo, depth, &actual), 0);
    ASSERT_EQ(actual, depth);
    ASSERT_EQ(ViDazoDll_StartFifo(session, fifo), 0);
  }

  // Reads a session's target state or asserted IRQs through the control API.
  static uint32_t stateOf(uint32_t session) {
    uint32_t state = 99;
    EXPECT_EQ(ViDazoSim_GetTargetState(session, &state), 0);
    return state;
  }
  static uint32_t assertedIrqs(uint32_t session) {
    uint32_t irqs = 0;
    EXPECT_EQ(ViDazoSim_GetAssertedIrqs(session, &irqs), 0);
    return irqs;
  }

  ViDazoSim_FifoCounts counts(uint32_t fifo) {
    ViDazoSim_FifoCounts c{};
    EXPECT_EQ(ViDazoSim_GetFifoCounts(session, fifo, &c), 0);
    return c;
  }

  // Pushes the values first, first + 1, ... as U32 target elements.
  void pushSequence(uint32_t fifo, uint32_t first, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t value = first + i;
      ASSERT_EQ(ViDazoSim_PushFifo(session, fifo, &value, 1, 0, nullptr), 0);
    }
  }

  uint32_t session = 0;
};
