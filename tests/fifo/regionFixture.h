// -----------------------------------------------------------------------------
// File: tests/fifo/regionFixture.h
// -----------------------------------------------------------------------------
//
// Shared set-up of the region tests: fresh stand-ins, an open session with
// started FIFOs, and helpers that play the host's part (acquire, dispose)
// and read the lower library's journal.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrvSim.h"
#include "testSync.h"

namespace regiontest {

using testsync::Counter;
using testsync::eventually;

// Simulated FIFO numbers with the host type code of their element type.
constexpr uint32_t kReadU32 = 6;    // target-to-host, U32
constexpr uint32_t kReadI32 = 5;    // target-to-host, I32
constexpr uint32_t kReadU8 = 2;     // target-to-host, U8
constexpr uint32_t kWriteU32 = 15;  // host-to-target, U32
constexpr int32_t kTypeU32 = ViDazoHx_TypeU32;
constexpr int32_t kTypeI32 = ViDazoHx_TypeI32;
constexpr int32_t kTypeU8 = ViDazoHx_TypeU8;
constexpr uint64_t kSeed = 1000;

constexpr const char* kAcquireReadU32 = "ViDazoDll_AcquireFifoReadElementsU32";
constexpr const char* kRelease = "ViDazoDll_ReleaseFifoElements";

// One acquisition as the host sees it.
struct Region {
  int32_t status = 0;
  uint32_t reference = 0;
  uint32_t acquired = 0;
  uint32_t remaining = 0;
};

inline Region acquireRead(uint32_t session, uint32_t fifo, uint32_t count, uint32_t timeout,
                          int32_t typeCode = kTypeU32) {
  Region r;
  r.status = ViDazoHx_AcquireFifoReadRegionScalar(session, fifo, &r.reference, count, typeCode, 0, timeout,
                                                  &r.acquired, &r.remaining);
  return r;
}

// The (fifo, count) of every give-back of `session` in the journal, in order.
inline std::vector<std::pair<uint32_t, uint32_t>> giveBacks(uint32_t session) {
  std::vector<std::pair<uint32_t, uint32_t>> result;
  ViDazoSim_JournalRecord record;
  for (uint32_t i = 0; ViDazoSim_FindJournalRecord(kRelease, i, &record) == 0; ++i) {
    if (record.arguments[0] == (session | 0x4000u)) {
      result.emplace_back(static_cast<uint32_t>(record.arguments[1]), static_cast<uint32_t>(record.arguments[2]));
    }
  }
  return result;
}

inline uint32_t acquiredInLower(uint32_t session, uint32_t fifo) {
  ViDazoSim_FifoCounts counts{};
  EXPECT_EQ(0, ViDazoSim_GetFifoCounts(session, fifo, &counts));
  return counts.acquired;
}

class RegionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ViDazoSim_Reset();
    HostRuntimeSim_Reset();
    VoKelSrvSim_Reset();
    session_ = openStarted();
  }

  void TearDown() override {
    ViDazoSim_ClearInjections();
    disposeAll();
    for (uint32_t session : sessions_) ViDazoHx_Close(session, 0);
  }

  // Opens a session whose U32, I32 and U8 read FIFOs produce the generator
  // stream and whose U32 write FIFO is started.
  uint32_t openStarted() {
    uint32_t session = 0;
    EXPECT_EQ(0, ViDazoHx_Open("regions.bit", "sig", "sim0", 0, &session));
    startFifos(session);
    sessions_.push_back(session);
    return session;
  }

  static void startFifos(uint32_t session) {
    for (uint32_t fifo : {kReadU32, kReadI32, kReadU8}) {
      EXPECT_EQ(0, ViDazoHx_StartFifo(session, fifo));
      EXPECT_EQ(0, ViDazoSim_StartGenerator(session, fifo, kSeed, ViDazoSim_EndlessStream));
    }
    EXPECT_EQ(0, ViDazoHx_StartFifo(session, kWriteU32));
  }

  static void disposeAll() {
    uint32_t references[256];
    uint32_t live = HostRuntimeSim_ListReferences(references, 256);
    for (uint32_t i = 0; i < live && i < 256; ++i) HostRuntimeSim_DisposeReference(references[i]);
  }

  static ViDazoHx_DataRecord recordOf(uint32_t reference) {
    ViDazoHx_DataRecord record{};
    EXPECT_EQ(0, HostRuntimeSim_ReadReference(reference, &record));
    return record;
  }

  uint32_t session_ = 0;
  std::vector<uint32_t> sessions_;
};

}  // namespace regiontest
