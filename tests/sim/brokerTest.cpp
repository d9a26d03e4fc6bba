/*
 * brokerTest.cpp: tests of the simulated resource broker: table lookups and
 * their errors, in-use counting, the journal and fault injection.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "VoKelSrv/VoKelSrvSim.h"

namespace {

class BrokerTest : public ::testing::Test {
 protected:
  void SetUp() override { VoKelSrvSim_Reset(); }
  void TearDown() override { VoKelSrvSim_Reset(); }

  static VoKelSrvSim_JournalEntry entry(uint32_t position) {
    VoKelSrvSim_JournalEntry read{};
    EXPECT_EQ(0, VoKelSrvSim_JournalRead(position, &read));
    return read;
  }
};

TEST_F(BrokerTest, LooksUpDefaultNamesAndRejectsUnknownOnes) {
  uint32_t index = 99;
  EXPECT_EQ(0, VoKelSrvSim_LookupResource("sim1", &index));
  EXPECT_EQ(1u, index);
  EXPECT_EQ(VoKelSrvSim_StatusUnknownName, VoKelSrvSim_LookupResource("SIM1", &index));
  EXPECT_EQ(VoKelSrvSim_StatusUnknownName, VoKelSrv_broker_GetResourceIndex("sim2", &index));
  EXPECT_EQ(VoKelSrvSim_StatusNullArgument, VoKelSrv_broker_GetResourceIndex(nullptr, &index));
  EXPECT_EQ(VoKelSrvSim_StatusNullArgument, VoKelSrv_broker_GetResourceIndex("sim0", nullptr));
  EXPECT_EQ(0u, VoKelSrvSim_ListInUse(nullptr, 0)) << "failed lookups claim nothing";

  char name[8] = "xxxxxxx";
  EXPECT_EQ(VoKelSrvSim_StatusUnknownIndex, VoKelSrv_broker_GetResourceName(2, name, sizeof name));
  EXPECT_EQ(0, VoKelSrv_broker_GetResourceName(0, name, 5));
  EXPECT_STREQ("sim0", name);
}

TEST_F(BrokerTest, TooSmallBuffersLeaveAnEmptyStringAndTheCount) {
  char name[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(VoKelSrvSim_StatusBufferTooSmall, VoKelSrv_broker_GetResourceName(0, name, sizeof name));
  EXPECT_EQ('\0', name[0]);
  EXPECT_EQ('x', name[1]) << "nothing beyond the terminator is written";

  char list[9];
  uint32_t count = 0;
  EXPECT_EQ(VoKelSrvSim_StatusBufferTooSmall, VoKelSrv_fpga_GetResources(0, list, sizeof list, &count));
  EXPECT_EQ(2u, count) << "the count lets a caller size its next attempt";
  EXPECT_STREQ("", list);
  EXPECT_EQ(VoKelSrvSim_StatusBufferTooSmall, VoKelSrv_fpga_GetResources(0, nullptr, 0, &count));

  char fits[10];
  EXPECT_EQ(0, VoKelSrv_fpga_GetResources(0, fits, sizeof fits, &count));
  EXPECT_STREQ("sim0,sim1", fits);
  EXPECT_EQ(VoKelSrvSim_StatusNullArgument, VoKelSrv_fpga_GetResources(0, fits, sizeof fits, nullptr));
}

TEST_F(BrokerTest, IndexesAreCountedPerClaimAndReleasedOnlyWhenInUse) {
  uint32_t index = 0;
  ASSERT_EQ(0, VoKelSrv_broker_GetResourceIndex("sim1", &index));
  ASSERT_EQ(0, VoKelSrv_broker_GetResourceIndex("sim1", &index));
  uint32_t inUse[4] = {};
  EXPECT_EQ(1u, VoKelSrvSim_ListInUse(inUse, 4));
  EXPECT_EQ(1u, inUse[0]);
  EXPECT_EQ(2u, VoKelSrvSim_UseCount(1));

  EXPECT_EQ(VoKelSrvSim_StatusIndexNotInUse, VoKelSrv_broker_ReleaseResourceIndex(0));
  EXPECT_EQ(VoKelSrvSim_StatusUnknownIndex, VoKelSrv_broker_ReleaseResourceIndex(7));
  EXPECT_EQ(0, VoKelSrv_broker_ReleaseResourceIndex(1));
  EXPECT_EQ(0, VoKelSrv_broker_ReleaseResourceIndex(1));
  EXPECT_EQ(VoKelSrvSim_StatusIndexNotInUse, VoKelSrv_broker_ReleaseResourceIndex(1));
  EXPECT_EQ(0u, VoKelSrvSim_ListInUse(nullptr, 0));
}

TEST_F(BrokerTest, AddingResourcesIsAllOrNothingAndSkipsKnownNames) {
  const char* good[] = {"rio0", "sim0", "rio0"};
  ASSERT_EQ(0, VoKelSrvSim_AddResources(good, 3));
  EXPECT_EQ(3u, VoKelSrvSim_ResourceCount());
  uint32_t index = 0;
  EXPECT_EQ(0, VoKelSrvSim_LookupResource("rio0", &index));
  EXPECT_EQ(2u, index);

  const char* withComma[] = {"rio1", "a,b"};
  EXPECT_EQ(VoKelSrvSim_StatusInvalidName, VoKelSrvSim_AddResources(withComma, 2));
  const char* withNull[] = {"rio1", nullptr};
  EXPECT_EQ(VoKelSrvSim_StatusNullArgument, VoKelSrvSim_AddResources(withNull, 2));
  const std::string tooLong(VoKelSrvSim_MaxNameLength + 1, 'n');
  const char* longName[] = {tooLong.c_str()};
  EXPECT_EQ(VoKelSrvSim_StatusInvalidName, VoKelSrvSim_AddResources(longName, 1));
  EXPECT_EQ(VoKelSrvSim_StatusUnknownName, VoKelSrvSim_LookupResource("rio1", &index)) << "bad batches add nothing";
  EXPECT_EQ(0, VoKelSrvSim_AddResources(nullptr, 0));

  std::vector<std::string> many;
  for (uint32_t i = 0; i < VoKelSrvSim_MaxResources; ++i) many.push_back("extra" + std::to_string(i));
  std::vector<const char*> pointers;
  for (const std::string& name : many) pointers.push_back(name.c_str());
  EXPECT_EQ(VoKelSrvSim_StatusTableFull, VoKelSrvSim_AddResources(pointers.data(), uint32_t(pointers.size())));
  EXPECT_EQ(3u, VoKelSrvSim_ResourceCount());

  VoKelSrvSim_Reset();
  EXPECT_EQ(2u, VoKelSrvSim_ResourceCount()) << "reset restores the default table";
}

TEST_F(BrokerTest, JournalRecordsRawArgumentsResultAndName) {
  uint32_t index = 0;
  char buffer[16];
  ASSERT_EQ(0, VoKelSrv_broker_GetResourceIndex("sim1", &index));
  ASSERT_EQ(VoKelSrvSim_StatusUnknownIndex, VoKelSrv_broker_GetResourceName(0x80000005u, buffer, 16));

  ASSERT_EQ(2u, VoKelSrvSim_JournalSize());
  VoKelSrvSim_JournalEntry first = entry(0);
  EXPECT_STREQ("VoKelSrv_broker_GetResourceIndex", first.function);
  EXPECT_EQ(2u, first.argumentCount);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&index), first.arguments[1]);
  EXPECT_STREQ("sim1", first.text);
  EXPECT_EQ(0, first.result);
  VoKelSrvSim_JournalEntry second = entry(1);
  EXPECT_EQ(0x80000005u, second.arguments[0]) << "unsigned arguments are not sign-extended";
  EXPECT_EQ(16u, second.arguments[2]);
  EXPECT_EQ(VoKelSrvSim_StatusUnknownIndex, second.result);
  EXPECT_EQ(1u, VoKelSrvSim_JournalCount("VoKelSrv_broker_GetResourceName"));

  VoKelSrvSim_JournalEntry unused{};
  EXPECT_EQ(VoKelSrvSim_StatusUnknownIndex, VoKelSrvSim_JournalRead(2, &unused));

  VoKelSrvSim_JournalEnable(0);
  EXPECT_EQ(0, VoKelSrv_broker_ReleaseResourceIndex(1));
  EXPECT_EQ(2u, VoKelSrvSim_JournalSize()) << "a switched-off journal records nothing";
  VoKelSrvSim_JournalEnable(1);
  VoKelSrvSim_JournalClear();
  EXPECT_EQ(0u, VoKelSrvSim_JournalSize());
}

TEST_F(BrokerTest, InjectedErrorsReplaceTheNextCallsOnly) {
  ASSERT_EQ(0, VoKelSrvSim_InjectStatus("VoKelSrv_broker_GetResourceIndex", 2, -1234));
  uint32_t index = 77;
  EXPECT_EQ(-1234, VoKelSrv_broker_GetResourceIndex("sim0", &index));
  EXPECT_EQ(77u, index) << "an injected failure writes no output";
  EXPECT_EQ(1u, VoKelSrvSim_InjectionsLeft("VoKelSrv_broker_GetResourceIndex"));
  EXPECT_EQ(-1234, VoKelSrv_broker_GetResourceIndex("sim0", &index));
  EXPECT_EQ(0u, VoKelSrvSim_UseCount(0)) << "an injected failure claims nothing";
  EXPECT_EQ(0, VoKelSrv_broker_GetResourceIndex("sim0", &index));
  EXPECT_EQ(1u, VoKelSrvSim_UseCount(0));
  EXPECT_EQ(-1234, entry(0).result) << "injected answers are journaled";

  const char* names[] = {"rio0"};
  ASSERT_EQ(0, VoKelSrvSim_InjectStatus("VoKelSrvSim_AddResources", 1, -5));
  EXPECT_EQ(-5, VoKelSrvSim_AddResources(names, 1));
  EXPECT_EQ(2u, VoKelSrvSim_ResourceCount());

  EXPECT_EQ(VoKelSrvSim_StatusUnknownFunction, VoKelSrvSim_InjectStatus("VoKelSrv_broker_Open", 1, -1));
  EXPECT_EQ(VoKelSrvSim_StatusNullArgument, VoKelSrvSim_InjectStatus(nullptr, 1, -1));
}

TEST_F(BrokerTest, InjectedWarningsNeverHideARealFailure) {
  ASSERT_EQ(0, VoKelSrvSim_InjectStatus("VoKelSrvSim_LookupResource", 2, 17));
  uint32_t index = 0;
  EXPECT_EQ(17, VoKelSrvSim_LookupResource("sim1", &index));
  EXPECT_EQ(1u, index) << "a warning lets the call do its work";
  EXPECT_EQ(VoKelSrvSim_StatusUnknownName, VoKelSrvSim_LookupResource("nope", &index));
}

TEST_F(BrokerTest, ConcurrentClaimsAndReleasesBalance) {
  VoKelSrvSim_JournalEnable(0);
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      uint32_t index = 0;
      for (int i = 0; i < kRounds; ++i) {
        if (VoKelSrv_broker_GetResourceIndex(t % 2 ? "sim1" : "sim0", &index) != 0) ++failures[t];
        if (VoKelSrv_broker_ReleaseResourceIndex(index) != 0) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), failures);
  EXPECT_EQ(0u, VoKelSrvSim_ListInUse(nullptr, 0));
  EXPECT_EQ(0u, VoKelSrvSim_JournalSize());
}

}  // namespace
