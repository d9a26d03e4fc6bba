/*
 * hostTestSupport.h: a fixture and a one-shot signal for the tests of the
 * simulated host runtime.
 */
#ifndef TESTS_SIM_HOSTTESTSUPPORT_H
#define TESTS_SIM_HOSTTESTSUPPORT_H

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "HostRuntime/HostRuntimeSim.h"

// Starts and ends every test with a fresh stand-in and checks for leaked arrays.
class HostRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { HostRuntimeSim_Reset(); }
  void TearDown() override {
    EXPECT_EQ(0u, HostRuntimeSim_LiveArrayCount()) << "a test leaked an array handle";
    HostRuntimeSim_Reset();
  }
};

// A flag one thread raises and others wait for, each wait bounded.
class Signal {
 public:
  void raise() {
    std::lock_guard<std::mutex> hold(lock_);
    raised_ = true;
    changed_.notify_all();
  }
  // Returns whether the flag was raised within `limit`.
  bool waitFor(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, limit, [this] { return raised_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool raised_ = false;
};

#endif  // TESTS_SIM_HOSTTESTSUPPORT_H
