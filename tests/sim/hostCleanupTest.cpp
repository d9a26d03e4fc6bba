/*
 * hostCleanupTest.cpp: tests of the simulated host runtime's cleanup
 * registrations: run order, withdrawal by mode 0 and by (null, 6),
 * procedures that call back, and withdrawals that must wait for a call in
 * progress.
 */
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostTestSupport.h"

namespace {

using HostCleanup = HostRuntimeTest;

// Calls made by the procedures below, in order, as "<procedure>:<argument>".
std::mutex callsLock;
std::vector<std::string> calls;

void note(const char* procedure, uintptr_t argument) {
  std::lock_guard<std::mutex> hold(callsLock);
  calls.push_back(std::string(procedure) + ":" + std::to_string(argument));
}

std::vector<std::string> takeCalls() {
  std::lock_guard<std::mutex> hold(callsLock);
  std::vector<std::string> taken;
  taken.swap(calls);
  return taken;
}

int32_t first(uintptr_t argument) {
  note("first", argument);
  return 0;
}

int32_t second(uintptr_t argument) {
  note("second", argument);
  return 0;
}

// Withdraws the mode-2 registration (second, argument) before its turn.
int32_t withdrawSecond(uintptr_t argument) {
  note("withdrawSecond", argument);
  return RTSetCleanupProc(second, argument, 0);
}

// Registers (first, argument + 100, 2) while the cleanup runs.
int32_t registerAnother(uintptr_t argument) {
  note("registerAnother", argument);
  return RTSetCleanupProc(first, argument + 100, 2);
}

// Withdraws its own registration, as a session cleanup that closes the session does.
int32_t withdrawSelf(uintptr_t argument) {
  note("withdrawSelf", argument);
  return RTSetCleanupProc(withdrawSelf, argument, 0);
}

TEST_F(HostCleanup, RunsMode6BeforeMode2EachOnceInRegistrationOrder) {
  takeCalls();
  ASSERT_EQ(0, RTSetCleanupProc(first, 1, 2));
  ASSERT_EQ(0, RTSetCleanupProc(second, 2, 6));
  ASSERT_EQ(0, RTSetCleanupProc(second, 3, 2));
  ASSERT_EQ(0, RTSetCleanupProc(first, 4, 6));
  EXPECT_EQ(4u, HostRuntimeSim_ListCleanup(nullptr, 0));

  EXPECT_EQ(4u, HostRuntimeSim_RunCleanup());
  EXPECT_EQ((std::vector<std::string>{"second:2", "first:4", "first:1", "second:3"}), takeCalls());
  EXPECT_EQ(0u, HostRuntimeSim_ListCleanup(nullptr, 0));
  EXPECT_EQ(0u, HostRuntimeSim_RunCleanup()) << "a registration is called once";
}

TEST_F(HostCleanup, Mode0WithdrawsOnlyTheMatchingMode2Registration) {
  ASSERT_EQ(0, RTSetCleanupProc(first, 1, 2));
  ASSERT_EQ(0, RTSetCleanupProc(first, 2, 2));
  ASSERT_EQ(0, RTSetCleanupProc(second, 1, 2));
  ASSERT_EQ(0, RTSetCleanupProc(first, 1, 6));
  EXPECT_EQ(0, RTSetCleanupProc(first, 1, 0));
  EXPECT_EQ(0, RTSetCleanupProc(first, 9, 0)) << "withdrawing nothing is not an error";

  HostRuntimeSim_Registration left[4] = {};
  ASSERT_EQ(3u, HostRuntimeSim_ListCleanup(left, 4));
  EXPECT_EQ(2u, left[0].argument);
  EXPECT_EQ(second, left[1].procedure);
  EXPECT_EQ(6, left[2].mode) << "mode 0 leaves mode-6 registrations alone";
  EXPECT_EQ(1, left[2].byCaller);
}

TEST_F(HostCleanup, NullMode6WithdrawsOnlyTheCallingThreadsRegistrations) {
  ASSERT_EQ(0, RTSetCleanupProc(first, 1, 6));
  ASSERT_EQ(0, RTSetCleanupProc(first, 2, 2));
  std::thread other([] {
    EXPECT_EQ(0, RTSetCleanupProc(second, 3, 6));
    EXPECT_EQ(0, RTSetCleanupProc(nullptr, 0, 6));
    EXPECT_EQ(0, RTSetCleanupProc(second, 4, 6));
  });
  other.join();
  HostRuntimeSim_Registration left[4] = {};
  ASSERT_EQ(3u, HostRuntimeSim_ListCleanup(left, 4));
  EXPECT_EQ(1u, left[0].argument);
  EXPECT_EQ(4u, left[2].argument);
  EXPECT_EQ(0, left[2].byCaller);

  EXPECT_EQ(0, RTSetCleanupProc(nullptr, 0, 6));
  ASSERT_EQ(2u, HostRuntimeSim_ListCleanup(left, 4));
  EXPECT_EQ(2, left[0].mode);
  EXPECT_EQ(4u, left[1].argument);
}

TEST_F(HostCleanup, RejectsUnknownModesAndNullProcedures) {
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, RTSetCleanupProc(first, 1, 1));
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, RTSetCleanupProc(first, 1, -2));
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, RTSetCleanupProc(nullptr, 1, 2));
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, RTSetCleanupProc(nullptr, 1, 0));
  EXPECT_EQ(0u, HostRuntimeSim_ListCleanup(nullptr, 0));
}

TEST_F(HostCleanup, ProceduresMayCallBackDuringTheRun) {
  takeCalls();
  ASSERT_EQ(0, RTSetCleanupProc(withdrawSecond, 5, 6));
  ASSERT_EQ(0, RTSetCleanupProc(withdrawSelf, 6, 2));
  ASSERT_EQ(0, RTSetCleanupProc(registerAnother, 7, 2));
  ASSERT_EQ(0, RTSetCleanupProc(second, 5, 2));

  EXPECT_EQ(3u, HostRuntimeSim_RunCleanup());
  EXPECT_EQ((std::vector<std::string>{"withdrawSecond:5", "withdrawSelf:6", "registerAnother:7"}), takeCalls())
      << "a registration withdrawn before its turn is skipped";
  HostRuntimeSim_Registration left[2] = {};
  ASSERT_EQ(1u, HostRuntimeSim_ListCleanup(left, 2)) << "one made during the run stays for later";
  EXPECT_EQ(107u, left[0].argument);
}

// Holds the cleanup run inside a procedure until the test lets it go.
struct HeldCall {
  Signal entered;
  Signal release;
  std::mutex lock;
  std::vector<std::string> events;

  void event(const char* what) {
    std::lock_guard<std::mutex> hold(lock);
    events.push_back(what);
  }
};
HeldCall* heldCall = nullptr;

int32_t holdingProcedure(uintptr_t flag) {
  heldCall->entered.raise();
  EXPECT_TRUE(heldCall->release.waitFor());
  *reinterpret_cast<volatile uint8_t*>(flag) = 1;
  heldCall->event("procedure returns");
  return 0;
}

TEST_F(HostCleanup, WithdrawalWaitsForACallInProgressOnAnotherThread) {
  HeldCall held;
  heldCall = &held;
  Signal registered;
  Signal withdrawn;
  std::thread waiter([&] {
    uint8_t flag = 0;  // lives on this stack, like a waiting call's cleanup flag
    EXPECT_EQ(0, RTSetCleanupProc(holdingProcedure, reinterpret_cast<uintptr_t>(&flag), 6));
    registered.raise();
    EXPECT_TRUE(held.entered.waitFor());
    EXPECT_EQ(0, RTSetCleanupProc(nullptr, 0, 6));
    held.event("withdrawal returns");
    withdrawn.raise();
    EXPECT_EQ(1, flag);
  });
  ASSERT_TRUE(registered.waitFor());
  std::thread host([] { EXPECT_EQ(1u, HostRuntimeSim_RunCleanup()); });

  EXPECT_FALSE(withdrawn.waitFor(std::chrono::milliseconds(100))) << "withdrawal returned while the call was running";
  held.release.raise();
  host.join();
  waiter.join();
  EXPECT_EQ((std::vector<std::string>{"procedure returns", "withdrawal returns"}), held.events);
  heldCall = nullptr;
}

TEST_F(HostCleanup, InjectedAnswersRegisterNothing) {
  for (int32_t code : {2, 41, -3}) {
    ASSERT_EQ(0, HostRuntimeSim_InjectResult("RTSetCleanupProc", 1, code));
    EXPECT_EQ(code, RTSetCleanupProc(first, 1, 2));
  }
  EXPECT_EQ(0u, HostRuntimeSim_ListCleanup(nullptr, 0));
  EXPECT_EQ(3u, HostRuntimeSim_CallCount("RTSetCleanupProc"));
}

// Counts calls and runs the cleanup from inside the host function.
struct HookRecord {
  int calls = 0;
  std::string function;
};

void cleanupHook(const char* function, void* context) {
  auto* record = static_cast<HookRecord*>(context);
  ++record->calls;
  record->function = function;
  HostRuntimeSim_RunCleanup();
}

TEST_F(HostCleanup, HooksRunBeforeInjectionAndMayDriveTheHost) {
  takeCalls();
  ASSERT_EQ(0, RTSetCleanupProc(first, 8, 2));
  HookRecord record;
  ASSERT_EQ(0, HostRuntimeSim_SetCallHook("RTSetCleanupProc", cleanupHook, &record));
  ASSERT_EQ(0, HostRuntimeSim_InjectResult("RTSetCleanupProc", 1, 41));
  EXPECT_EQ(41, RTSetCleanupProc(second, 9, 2));
  EXPECT_EQ(1, record.calls);
  EXPECT_EQ("RTSetCleanupProc", record.function);
  EXPECT_EQ(std::vector<std::string>{"first:8"}, takeCalls());
  ASSERT_EQ(0, HostRuntimeSim_SetCallHook("RTSetCleanupProc", nullptr, nullptr));
  EXPECT_EQ(0, RTSetCleanupProc(second, 9, 2));
  EXPECT_EQ(1, record.calls);
}

}  // namespace
