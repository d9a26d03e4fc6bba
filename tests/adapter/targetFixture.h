// targetFixture.h: a test fixture with the lower library bound, a fresh
// simulated target with one open session, and a fresh host runtime.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "VoKelSrv/VoKelSrvSim.h"
#include "adapter/entryTable.h"
#include "protons/status/statusCodes.h"

// Journal arguments are zero-extended bit patterns; pointers by address.
inline uint64_t arg(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
inline uint64_t arg(uint32_t value) { return value; }

class tTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(loadLowerLibrary(), 0);
    ViDazoSim_Reset();
    VoKelSrvSim_Reset();
    HostRuntimeSim_Reset();
    ASSERT_EQ(ViDazoDll_Open(nullptr, nullptr, "sim0", 0, &session), 0);
    ViDazoSim_ClearJournal();
    VoKelSrvSim_JournalClear();
  }
  void TearDown() override {
    ViDazoSim_Reset();
    HostRuntimeSim_Reset();
  }

  // The only call the simulated target saw since SetUp.
  ViDazoSim_JournalRecord onlyCall() {
    ViDazoSim_JournalRecord record{};
    EXPECT_EQ(ViDazoSim_JournalCount(), 1u);
    uint32_t copied = 0;
    ViDazoSim_ReadJournal(0, &record, 1, &copied);
    return record;
  }

  static std::vector<uint64_t> arguments(const ViDazoSim_JournalRecord& record) {
    return std::vector<uint64_t>(record.arguments, record.arguments + record.argumentCount);
  }

  uint32_t session = 0;
};
