// floatArgumentTest.cpp: ViDazoHx_WriteSgl called through the public
// header's prototype against the shared library, as a host links it. On
// armhf hard-float the float travels in a VFP register (s0), not in a core
// register; a header or build that disagreed with the library would hand
// over whatever r2 held.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"

namespace {

TEST(WriteSglThroughTheHeader, EverySingleArrivesAsItsBitPattern) {
  ViDazoSim_Reset();
  HostRuntimeSim_Reset();
  uint32_t session = 0;
  ASSERT_EQ(0, ViDazoHx_Open("float.bit", "sig", "sim0", 0, &session));
  // 1.5, -0, the smallest subnormal, the largest finite, -infinity, a quiet NaN with payload.
  for (uint32_t pattern : {0x3FC00000u, 0x80000000u, 0x00000001u, 0x7F7FFFFFu, 0xFF800000u, 0x7FC12345u}) {
    float single = 0;
    std::memcpy(&single, &pattern, sizeof single);
    ASSERT_EQ(0, ViDazoHx_WriteSgl(session, 24, single));
    uint32_t arrived = 0;
    ASSERT_EQ(0, ViDazoHx_Read32(session, 24, &arrived));
    EXPECT_EQ(pattern, arrived);
  }
  EXPECT_EQ(0, ViDazoHx_Close(session, 0));
}

}  // namespace
