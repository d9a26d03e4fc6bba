// lowerSessionsTest.cpp: sessions, resource sessions, target states and the
// exported surface of the simulated lower library.
#include <dlfcn.h>

#include <cstring>
#include <string>

#include "lowerFixture.h"

namespace {

using LowerSessionsTest = LowerTest;

TEST_F(LowerSessionsTest, SessionValuesAvoidFlagBitsAndIgnoreTheRoutingBit) {
  for (int i = 0; i < 5; ++i) {
    uint32_t value = 0;
    ASSERT_EQ(ViDazoDll_Open(nullptr, nullptr, "sim1", 0, &value), 0);
    EXPECT_EQ(value & 0xF000u, 0u);
    EXPECT_NE(value, session);
  }
  EXPECT_EQ(ViDazoSim_OpenSessionCount(), 6u);

  ASSERT_EQ(ViDazoDll_WriteU32(session | kRoutingBit, 0x40, 0xABCD), 0);
  uint32_t value = 0;
  ASSERT_EQ(ViDazoDll_ReadU32(session, 0x40, &value), 0);
  EXPECT_EQ(value, 0xABCDu);
  ASSERT_EQ(ViDazoDll_Run(session | kRoutingBit, 0), 0);
  EXPECT_EQ(stateOf(session), static_cast<uint32_t>(ViDazoSim_StateRunning));
  ASSERT_EQ(ViDazoDll_Close(session | kRoutingBit, 0), 0);
  EXPECT_EQ(ViDazoSim_OpenSessionCount(), 5u);
}

TEST_F(LowerSessionsTest, TargetStateFollowsRunAbortResetAndDownload) {
  EXPECT_EQ(stateOf(session), static_cast<uint32_t>(ViDazoSim_StateIdle));
  ASSERT_EQ(ViDazoDll_Download(session), 0);
  EXPECT_EQ(stateOf(session), static_cast<uint32_t>(ViDazoSim_StateDownloaded));
  ASSERT_EQ(ViDazoDll_Run(session, 0), 0);
  ASSERT_EQ(ViDazoDll_Abort(session), 0);
  EXPECT_EQ(stateOf(session), static_cast<uint32_t>(ViDazoSim_StateAborted));
  ASSERT_EQ(ViDazoDll_Reset(session), 0);
  EXPECT_EQ(stateOf(session), static_cast<uint32_t>(ViDazoSim_StateReset));
}

TEST_F(LowerSessionsTest, ClosedAndUnknownSessionsAreRefused) {
  ASSERT_EQ(ViDazoDll_Close(session, 1), 0);
  EXPECT_EQ(ViDazoDll_Run(session, 0), ViDazoSim_StatusInvalidSession);
  EXPECT_EQ(ViDazoDll_Close(session, 1), ViDazoSim_StatusInvalidSession);
  uint32_t value = 0;
  EXPECT_EQ(ViDazoDll_ReadU32(0x1234, 0, &value), ViDazoSim_StatusInvalidSession);
  uint32_t state = 0;
  EXPECT_EQ(ViDazoSim_GetTargetState(session, &state), ViDazoSim_StatusInvalidSession);
  EXPECT_EQ(ViDazoSim_OpenSessionCount(), 0u);
}

TEST_F(LowerSessionsTest, TestsCanChooseTheNextSessionValue) {
  ASSERT_EQ(ViDazoSim_SetNextSession(0x80000001u), 0);
  uint32_t chosen = 0;
  ASSERT_EQ(ViDazoDll_Open(nullptr, nullptr, "sim0", 0, &chosen), 0);
  EXPECT_EQ(chosen, 0x80000001u);
  EXPECT_EQ(ViDazoDll_Run(0x80004001u, 0), 0);
  EXPECT_EQ(stateOf(chosen), static_cast<uint32_t>(ViDazoSim_StateRunning));

  ASSERT_EQ(ViDazoSim_SetNextSession(0x80004001u), 0);  // same session once the routing bit is ignored
  uint32_t clash = 0;
  EXPECT_EQ(ViDazoDll_Open(nullptr, nullptr, "sim0", 0, &clash), ViDazoSim_StatusSessionValueInUse);
  EXPECT_EQ(ViDazoSim_SetNextSession(0), ViDazoSim_StatusInvalidParameter);
  ASSERT_EQ(ViDazoDll_Open(nullptr, nullptr, "sim0", 0, &clash), 0);  // the request was used up
  EXPECT_EQ(clash & 0xF000u, 0u);
}

TEST_F(LowerSessionsTest, OpenNeedsAResourceOfTheBroker) {
  uint32_t value = 0;
  EXPECT_EQ(ViDazoDll_Open(nullptr, nullptr, "nosuch", 0, &value), ViDazoSim_StatusResourceNotFound);
  EXPECT_EQ(ViDazoDll_Open(nullptr, nullptr, nullptr, 0, &value), ViDazoSim_StatusInvalidParameter);
  EXPECT_EQ(ViDazoDll_Open(nullptr, nullptr, "sim0", 0, nullptr), ViDazoSim_StatusInvalidParameter);
  const char* const names[] = {"simX"};
  ASSERT_EQ(ViDazoDll_AddResources(names, 1), 0);
  ASSERT_EQ(ViDazoDll_Open("x.bit", "S", "simX", 7, &value), 0);
  ViDazoSim_SessionInfo info{};
  ASSERT_EQ(ViDazoSim_GetSessionInfo(value, &info), 0);
  EXPECT_EQ(info.resourceIndex, 2u);
  EXPECT_EQ(info.openAttribute, 7u);
  EXPECT_STREQ(info.resource, "simX");
  EXPECT_STREQ(info.bitfile, "x.bit");
}

TEST_F(LowerSessionsTest, ResourceSessionsOpenUnderAnOpenParent) {
  uint32_t child = 0;
  ASSERT_EQ(ViDazoDll_OpenResource(session | kRoutingBit, "sim1", 0, &child), 0);
  ViDazoSim_SessionInfo info{};
  ASSERT_EQ(ViDazoSim_GetSessionInfo(child, &info), 0);
  EXPECT_EQ(info.parent, session);
  EXPECT_EQ(info.resourceIndex, 1u);

  for (uint32_t none : {0u, kRoutingBit}) {  // "no parent", with and without the routing bit
    uint32_t orphan = 0;
    ASSERT_EQ(ViDazoDll_OpenResource(none, "sim0", 0, &orphan), 0);
    ASSERT_EQ(ViDazoSim_GetSessionInfo(orphan, &info), 0);
    EXPECT_EQ(info.parent, 0u);
  }
  uint32_t orphan = 0;
  EXPECT_EQ(ViDazoDll_OpenResource(0x777, "sim0", 0, &orphan), ViDazoSim_StatusInvalidSession);

  // Closing the parent leaves its resource session to its own close.
  ASSERT_EQ(ViDazoDll_Close(session, 0), 0);
  EXPECT_EQ(ViDazoDll_Run(child, 0), 0);
}

TEST_F(LowerSessionsTest, BitfileContentsAndEndpointsAreDeterministic) {
  const char* contents = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(ViDazoDll_GetBitfileContents(session | kRoutingBit, &contents, &length), 0);
  const std::string expected = "ViDazoSim bitfile\nbitfile=demo.bit\nsignature=SIG\nresource=sim0\n";
  EXPECT_EQ(std::string(contents, length), expected);
  EXPECT_EQ(std::strlen(contents), length);

  uint32_t endpoint = 0;
  ASSERT_EQ(ViDazoDll_GetPeerToPeerFifoEndpoint(session, 5, &endpoint), 0);
  EXPECT_EQ(endpoint, 0x105u);  // resource index 0
  EXPECT_EQ(ViDazoDll_GetPeerToPeerFifoEndpoint(session, ViDazoSim_FifoCount, &endpoint),
            ViDazoSim_StatusInvalidFifo);
}

TEST(LowerExportsTest, EveryEntryIsExportedAndTheVariantLacksOne) {
#define LOWER_CHECK_EXPORTED(name) EXPECT_NE(dlsym(RTLD_DEFAULT, #name), nullptr) << #name;
  VIDAZODLL_FOR_EACH_ENTRY(LOWER_CHECK_EXPORTED)
  LOWER_CHECK_EXPORTED(ViDazoDll_OpenResource)
  LOWER_CHECK_EXPORTED(ViDazoDll_AddResources)
#undef LOWER_CHECK_EXPORTED
  // Internal helpers stay hidden.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "_ZN9vidazosim11findSessionEj"), nullptr);

  void* variant = dlopen(VIDAZOSIM_MISSING_ENTRY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(variant, nullptr) << dlerror();
  EXPECT_NE(dlsym(variant, "ViDazoDll_Open"), nullptr);
  EXPECT_EQ(dlsym(variant, "ViDazoDll_GetBitfileContents"), nullptr);
  dlclose(variant);
}

}  // namespace
