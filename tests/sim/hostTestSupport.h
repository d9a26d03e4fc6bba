/*
 * hostTestSupport.h: the fixture of the tests of the simulated host runtime.
 */
#ifndef TESTS_SIM_HOSTTESTSUPPORT_H
#define TESTS_SIM_HOSTTESTSUPPORT_H

#include <gtest/gtest.h>

#include "HostRuntime/HostRuntimeSim.h"
#include "testSync.h"

// Starts and ends every test with a fresh stand-in and checks for leaked arrays.
class HostRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { HostRuntimeSim_Reset(); }
  void TearDown() override {
    EXPECT_EQ(0u, HostRuntimeSim_LiveArrayCount()) << "a test leaked an array handle";
    HostRuntimeSim_Reset();
  }
};

using testsync::Signal;

#endif  // TESTS_SIM_HOSTTESTSUPPORT_H
