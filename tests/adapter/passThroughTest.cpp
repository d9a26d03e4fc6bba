// passThroughTest.cpp: the exports that check the session and forward. The
// simulated target's journal shows exactly what reached the lower library.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/forwarding.h"
#include "targetFixture.h"

namespace {

constexpr uint32_t kRouted = 0x4000;
constexpr uint32_t kUnsupported = 0x2000;

// One pass-through export, called with a given session, and what the lower
// library must receive: the function and its arguments after the session.
struct tPassThrough {
  const char* lowerFunction;
  bool routed;  // session handed on with bit 0x4000
  std::function<int32_t(uint32_t session)> call;
  std::vector<uint64_t> otherArguments;
};

class PassThrough : public tTargetTest {
 protected:
  uint16_t value16 = 0;
  uint32_t value32 = 0;
  float single = 0;
  ViDazoHx_IrqContext context = reinterpret_cast<ViDazoHx_IrqContext>(uintptr_t{0x1234});
  uint32_t asserted = 0;
  uint8_t timedOut = 0;
  uint32_t depth = 0;

  std::vector<tPassThrough> exports() {
    return {
        {"ViDazoDll_Run", false, [](uint32_t s) { return ViDazoHx_Run(s, 7); }, {7}},
        {"ViDazoDll_Abort", false, [](uint32_t s) { return ViDazoHx_Abort(s); }, {}},
        {"ViDazoDll_ReadU16", true, [&](uint32_t s) { return ViDazoHx_Read16(s, 4, &value16); }, {4, arg(&value16)}},
        {"ViDazoDll_ReadU32", true, [&](uint32_t s) { return ViDazoHx_Read32(s, 8, &value32); }, {8, arg(&value32)}},
        {"ViDazoDll_ReadU32", true, [&](uint32_t s) { return ViDazoHx_ReadSgl(s, 12, &single); }, {12, arg(&single)}},
        {"ViDazoDll_WriteU16", true, [](uint32_t s) { return ViDazoHx_Write16(s, 2, 0xBEEF); }, {2, 0xBEEF}},
        {"ViDazoDll_WriteU32", true, [](uint32_t s) { return ViDazoHx_Write32(s, 16, 0xDEADBEEF); }, {16, 0xDEADBEEF}},
        {"ViDazoDll_WriteU32", true, [](uint32_t s) { return ViDazoHx_WriteSgl(s, 20, 1.5f); }, {20, 0x3FC00000}},
        {"ViDazoDll_WaitOnIrqs", false,
         [&](uint32_t s) { return ViDazoHx_WaitOnIrqs(s, &context, 3, 0, &asserted, &timedOut); },
         {0x1234, 3, 0, arg(&asserted), arg(&timedOut)}},
        {"ViDazoDll_AcknowledgeIrqs", false, [](uint32_t s) { return ViDazoHx_AcknowledgeIrqs(s, 5); }, {5}},
        {"ViDazoDll_ConfigureFifo", true, [](uint32_t s) { return ViDazoHx_ConfigureFifo(s, 0, 64); }, {0, 64}},
        {"ViDazoDll_StopFifo", true, [](uint32_t s) { return ViDazoHx_StopFifo(s, 2); }, {2}},
        {"ViDazoDll_GetPeerToPeerFifoEndpoint", true,
         [&](uint32_t s) { return ViDazoHx_GetPeerToPeerFifoEndpoint(s, 1, &value32); }, {1, arg(&value32)}},
    };
  }
};

TEST_F(PassThrough, HandsTheSessionOnWithOrWithoutTheRoutingBitAndTheRestUnchanged) {
  for (const tPassThrough& e : exports()) {
    ViDazoSim_ClearJournal();
    EXPECT_EQ(e.call(session), 0) << e.lowerFunction;
    const ViDazoSim_JournalRecord record = onlyCall();
    EXPECT_STREQ(record.function, e.lowerFunction);
    std::vector<uint64_t> expected{e.routed ? (session | kRouted) : session};
    expected.insert(expected.end(), e.otherArguments.begin(), e.otherArguments.end());
    EXPECT_EQ(arguments(record), expected) << e.lowerFunction;
  }
}

TEST_F(PassThrough, PassesLowerStatusesAndWarningsBackUnchanged) {
  for (const tPassThrough& e : exports()) {
    for (int32_t injected : {-63999, 17}) {
      ASSERT_EQ(ViDazoSim_InjectStatus(e.lowerFunction, injected, 1), 0);
      EXPECT_EQ(e.call(session), injected) << e.lowerFunction;
    }
  }
}

TEST_F(PassThrough, RefusesUnsupportedSessionsBeforeCallingAnything) {
  for (const tPassThrough& e : exports()) {
    EXPECT_EQ(e.call(session | kUnsupported), StatusSessionNotSupported) << e.lowerFunction;
  }
  EXPECT_EQ(ViDazoHx_ConfigureFifo2(session | kUnsupported, 0, 64, nullptr), StatusSessionNotSupported);
  char names[64];
  uint32_t count = 0;
  EXPECT_EQ(ViDazoHx_GetResources(1 | kUnsupported | 0x1000, names, sizeof names, &count), StatusSessionNotSupported);
  EXPECT_EQ(ViDazoSim_JournalCount(), 0u);
  EXPECT_EQ(VoKelSrvSim_JournalSize(), 0u);
}

TEST_F(PassThrough, SinglesTravelAsTheirBitPattern) {
  ASSERT_EQ(ViDazoHx_WriteSgl(session, 24, -2.75f), 0);
  uint32_t pattern = 0;
  ASSERT_EQ(ViDazoHx_Read32(session, 24, &pattern), 0);
  EXPECT_EQ(pattern, 0xC0300000u);
  float single = 0;
  ASSERT_EQ(ViDazoHx_ReadSgl(session, 24, &single), 0);
  EXPECT_EQ(single, -2.75f);
}

TEST_F(PassThrough, ConfigureFifo2ReportsTheActualDepthThroughALocal) {
  uint32_t actual = 0xFFFFFFFF;
  ASSERT_EQ(ViDazoHx_ConfigureFifo2(session, 0, 40, &actual), 0);
  EXPECT_EQ(onlyCall().arguments[0], session | kRouted);
  EXPECT_EQ(actual, 48u);  // the target rounds to 16
  // A failing lower call writes nothing; the caller still gets a defined 0.
  actual = 0xFFFFFFFF;
  ASSERT_EQ(ViDazoSim_InjectStatus("ViDazoDll_ConfigureFifo2", -63999, 1), 0);
  EXPECT_EQ(ViDazoHx_ConfigureFifo2(session, 0, 40, &actual), -63999);
  EXPECT_EQ(actual, 0u);
  EXPECT_EQ(ViDazoHx_ConfigureFifo2(session, 0, 40, nullptr), StatusInvalidParameter);
}

TEST_F(PassThrough, WaitOnIrqsRefusesAnAbsentContextPointer) {
  EXPECT_EQ(ViDazoHx_WaitOnIrqs(session, nullptr, 1, 0, nullptr, nullptr), StatusInvalidParameter);
  EXPECT_EQ(ViDazoSim_JournalCount(), 0u);
}

TEST_F(PassThrough, BrokerCallsGetTheirArgumentsWithoutTheLibrarysSessionBits) {
  char names[64];
  uint32_t count = 0;
  ASSERT_EQ(ViDazoHx_GetResources(1 | kRouted | 0x1000 | 0x8000, names, sizeof names, &count), 0);
  VoKelSrvSim_JournalEntry entry{};
  ASSERT_EQ(VoKelSrvSim_JournalRead(0, &entry), 0);
  EXPECT_EQ(entry.arguments[0], 1u);
  EXPECT_EQ(entry.arguments[1], arg(names));

  // The other broker exports and AddResources see every bit as given.
  uint32_t index = 0;
  EXPECT_EQ(ViDazoHx_GetResourceIndex("sim1", &index), 0);
  EXPECT_EQ(ViDazoHx_GetResourceName(index | 0x6000, names, 7), VoKelSrvSim_StatusUnknownIndex);
  EXPECT_EQ(ViDazoHx_ReleaseResourceIndex(index | 0x2000), VoKelSrvSim_StatusUnknownIndex);
  ASSERT_EQ(VoKelSrvSim_JournalRead(2, &entry), 0);
  EXPECT_EQ(entry.arguments[0], index | 0x6000);
  EXPECT_EQ(entry.arguments[2], 7u);
  ASSERT_EQ(VoKelSrvSim_InjectStatus("VoKelSrv_broker_ReleaseResourceIndex", 1, 33), 0);
  EXPECT_EQ(ViDazoHx_ReleaseResourceIndex(index), 33);

  const char* added[] = {"extra0", "extra1"};
  EXPECT_EQ(ViDazoHx_AddResources(added, 2), 0);
  const ViDazoSim_JournalRecord record = onlyCall();
  EXPECT_STREQ(record.function, "ViDazoDll_AddResources");
  EXPECT_EQ(arguments(record), (std::vector<uint64_t>{arg(added), 2}));
}

TEST_F(PassThrough, ReservedIrqContextsCountWithoutCallingTheTarget) {
  resetReservedIrqContexts();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ViDazoHx_ReserveIrqContext(session | kUnsupported, nullptr), 0);
  EXPECT_EQ(ViDazoHx_UnreserveIrqContext(0, nullptr), 0);
  EXPECT_EQ(reservedIrqContextCount(), 2);
  EXPECT_EQ(ViDazoSim_JournalCount(), 0u);

  // Concurrent reserve/unreserve pairs leave the count where it was.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) {
        ViDazoHx_ReserveIrqContext(0, nullptr);
        ViDazoHx_UnreserveIrqContext(0, nullptr);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(reservedIrqContextCount(), 2);
  resetReservedIrqContexts();
}

}  // namespace
