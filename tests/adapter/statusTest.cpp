// statusTest.cpp: the merge rule, the host result conversion and the status
// names of the public headers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "adapter/status.h"

namespace {

struct tMergeCase {
  int32_t current, incoming, expected;
};

TEST(MergeStatus, KeepsTheMostSevereAndTheEarliestOfEqualSeverity) {
  const tMergeCase cases[] = {
      {0, 0, 0},  {0, 5, 5},   {5, 7, 5},   {5, 0, 5},   {5, -3, -3},
      {-3, -7, -3}, {-3, 0, -3}, {-3, 5, -3}, {0, -52005, -52005},
  };
  for (const tMergeCase& c : cases) {
    int32_t status = c.current;
    EXPECT_EQ(mergeStatus(&status, c.incoming), c.expected) << c.current << " <- " << c.incoming;
    EXPECT_EQ(status, c.expected) << c.current << " <- " << c.incoming;
  }
}

TEST(MergeStatus, AbsentDestinationIsAnInvalidParameter) {
  EXPECT_EQ(mergeStatus(nullptr, -7), StatusInvalidParameter);
  EXPECT_EQ(mergeStatus(nullptr, 0), StatusInvalidParameter);
}

TEST(ConvertHostResult, MapsTheHostCodes) {
  EXPECT_EQ(convertHostResult(0), 0);
  EXPECT_EQ(convertHostResult(2), StatusMemoryFull);
  EXPECT_EQ(convertHostResult(41), StatusHostCancelled);
  for (int32_t other : {1, -1, 3, 40, 42, INT32_MIN}) EXPECT_EQ(convertHostResult(other), StatusUnexpectedFailure);
}

// A status added without a name, or a name copied onto a second status,
// would mislabel a host's logs.
TEST(StatusText, NamesEveryLibraryStatusOnceAndOnlyThose) {
  const int32_t named[] = {StatusSuccess,          StatusHostCancelled,      StatusMemoryFull,
                           StatusUnexpectedFailure, StatusInvalidParameter,  StatusLibraryNotFound,
                           StatusTimedOut,          StatusSyncInitFailed,     StatusLibraryNotOpen,
                           StatusRegionsOutstanding, StatusAcquireTimedOut,  StatusSessionNotSupported,
                           StatusEntryPointMissing, StatusSessionNotFound,    StatusFifoTimeout};
  const std::string fromBelow = ViDazoHx_StatusText(-1);
  const std::string warning = ViDazoHx_StatusText(1);
  EXPECT_EQ(fromBelow, "error from the lower library, broker or host");
  EXPECT_EQ(warning, "warning from below");
  std::set<std::string> names;
  for (int32_t status : named) {
    const std::string name = ViDazoHx_StatusText(status);
    EXPECT_TRUE(names.insert(name).second) << status << " shares the name " << name;
    EXPECT_NE(name, fromBelow) << status;
  }
  for (int32_t other : {-63001, -61218, -50401, INT32_MIN}) EXPECT_EQ(ViDazoHx_StatusText(other), fromBelow);
  EXPECT_EQ(ViDazoHx_StatusText(INT32_MAX), warning);
}

TEST(StatusText, StandInsNameTheirWholeRangesAndNothingElse) {
  std::set<std::string> names;
  auto expectNamed = [&](const char* (*text)(int32_t), int32_t first, int32_t last) {
    for (int32_t status = first; status >= last; --status) {
      const char* name = text(status);
      ASSERT_NE(name, nullptr) << status;
      EXPECT_TRUE(names.insert(name).second) << status << " shares the name " << name;
    }
    EXPECT_EQ(text(last - 1), nullptr) << last - 1;
    EXPECT_EQ(text(StatusMemoryFull), nullptr);
  };
  expectNamed(ViDazoSim_StatusText, ViDazoSim_StatusInvalidSession, ViDazoSim_StatusPatternMismatch);
  expectNamed(ViDazoSim_StatusText, VoKelSrvSim_StatusNullArgument, VoKelSrvSim_StatusUnknownFunction);
  names.clear();  // a function of its own: its names need differ only among themselves
  expectNamed(HostRuntimeSim_StatusText, HostRuntimeSim_ErrorUnknownFunction, HostRuntimeSim_ErrorNoReleaseProcedure);
}

}  // namespace
