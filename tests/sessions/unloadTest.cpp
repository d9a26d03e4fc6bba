// unloadTest.cpp: records still present when the process exits are freed by
// the registry's destruction without calling the lower library or the host.

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "sessionTestSupport.h"

namespace sessiontest {
namespace {

constexpr int kHostCalledAtExit = 3;

void failOnHostCall(const char*, void*) { _exit(kHostCalledAtExit); }

class UnloadTest : public SessionTest {};

TEST_F(UnloadTest, ExitFreesOpenSessionsWithoutCallingTheHost) {
  // "fast" forks without re-executing the program: a cross build runs under an
  // emulator, where the test program cannot start itself again.
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        const uint32_t parent = open();
        const uint32_t child = openResource(parent);
        ViDazoHx_StartFifo(parent, 0);
        lendRegion(child, 1);
        HostRuntimeSim_SetCallHook("RTSetCleanupProc", failOnHostCall, nullptr);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sessiontest
