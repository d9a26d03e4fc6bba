/*
 * hostCleanup.cpp: cleanup registrations of the simulated host runtime.
 *
 * Defines RTSetCleanupProc and the cleanup part of the control API.
 * Modes: 2 registers a procedure for the host's stop; 6 registers one for
 * the duration of a wait of the registering thread, and (null, any, 6)
 * withdraws the mode-6 registrations of the calling thread; 0 withdraws the
 * newest mode-2 registration with the same procedure and argument.
 *
 * A withdrawal also waits for a cleanup run on another thread that is
 * calling a matching registration right now. Without that, a caller could
 * withdraw, return and let the procedure's argument (a flag on its stack)
 * go out of scope while the host is still writing through it.
 */
#include <algorithm>

#include "hostState.h"

namespace hostsim {
namespace {

// Which registrations a withdrawal matches.
struct Withdrawal {
  bool byThread;  // mode-6 withdrawal: match mode 6 and the owner thread
  ViDazoHx_HostProcedure procedure;
  uintptr_t argument;
  std::thread::id thread;

  bool matches(const Registration& registration) const {
    if (byThread) return registration.mode == 6 && registration.owner == thread;
    return registration.mode == 2 && registration.procedure == procedure && registration.argument == argument;
  }
};

// Appends a registration; returns a host result. Caller holds the cleanup lock.
int32_t addRegistration(HostState& state, ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode) {
  try {
    state.registrations.push_back(
        Registration{procedure, argument, mode, std::this_thread::get_id(), state.nextSequence++});
    return 0;
  } catch (...) {
    return HostRuntimeSim_ResultMemoryFull;
  }
}

// Returns whether another thread's cleanup run is calling a matching
// registration. Caller holds the cleanup lock.
bool callInFlight(const HostState& state, const Withdrawal& withdrawal) {
  for (const InFlight& call : state.inFlight) {
    if (call.caller != withdrawal.thread && withdrawal.matches(call.registration)) return true;
  }
  return false;
}

// Removes the matching registrations (only the newest one for mode 0),
// then waits until no other thread is calling a matching one. Holds the cleanup
// lock through `hold`; the wait releases it. Returns 0.
int32_t withdraw(HostState& state, std::unique_lock<std::mutex>& hold, const Withdrawal& withdrawal) {
  std::vector<Registration>& list = state.registrations;
  if (withdrawal.byThread) {
    list.erase(std::remove_if(list.begin(), list.end(), [&](const Registration& r) { return withdrawal.matches(r); }),
               list.end());
  } else {
    auto newest = std::find_if(list.rbegin(), list.rend(), [&](const Registration& r) { return withdrawal.matches(r); });
    if (newest != list.rend()) list.erase(std::next(newest).base());
  }
  state.cleanupCallEnded.wait(hold, [&] { return !callInFlight(state, withdrawal); });
  return 0;
}

// Takes the oldest registration of `mode` made before `before` off the list
// and records it as being called by this thread. Returns false when there
// is none (or no memory to track the call). Caller holds the cleanup lock.
bool takeNext(HostState& state, int32_t mode, uint64_t before, Registration* taken) {
  std::vector<Registration>& list = state.registrations;
  auto next = std::find_if(list.begin(), list.end(),
                           [&](const Registration& r) { return r.mode == mode && r.sequence < before; });
  if (next == list.end()) return false;
  try {
    state.inFlight.push_back(InFlight{*next, std::this_thread::get_id()});
  } catch (...) {
    return false;  // cannot track the call, so do not make it
  }
  *taken = *next;
  list.erase(next);
  return true;
}

// Ends the in-flight record of `called` made by this thread and wakes waiting withdrawals.
void endCall(HostState& state, const Registration& called) {
  std::lock_guard<std::mutex> hold(state.cleanupLock);
  std::thread::id self = std::this_thread::get_id();
  auto mine = std::find_if(state.inFlight.begin(), state.inFlight.end(), [&](const InFlight& call) {
    return call.caller == self && call.registration.sequence == called.sequence;
  });
  if (mine != state.inFlight.end()) state.inFlight.erase(mine);
  state.cleanupCallEnded.notify_all();
}

}  // namespace
}  // namespace hostsim

using hostsim::HostState;
using hostsim::hostState;

// Host function; 0 is success for every mode.
HOSTRUNTIMESIM_API int32_t RTSetCleanupProc(ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode) {
  int32_t injected = 0;
  if (hostsim::enterCall(hostsim::kRTSetCleanupProc, &injected)) return injected;
  HostState& state = hostState();
  std::unique_lock<std::mutex> hold(state.cleanupLock);
  std::thread::id self = std::this_thread::get_id();
  if (mode == 6 && procedure == nullptr) return hostsim::withdraw(state, hold, {true, nullptr, 0, self});
  if (procedure == nullptr) return HostRuntimeSim_ResultArgumentError;
  if (mode == 0) return hostsim::withdraw(state, hold, {false, procedure, argument, self});
  if (mode == 2 || mode == 6) return hostsim::addRegistration(state, procedure, argument, mode);
  return HostRuntimeSim_ResultArgumentError;
}

uint32_t HostRuntimeSim_ListCleanup(HostRuntimeSim_Registration* list, uint32_t capacity) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.cleanupLock);
  std::thread::id self = std::this_thread::get_id();
  uint32_t total = 0;
  for (const hostsim::Registration& r : state.registrations) {
    if (list != nullptr && total < capacity) {
      list[total] = HostRuntimeSim_Registration{r.procedure, r.argument, r.mode, r.owner == self ? 1 : 0};
    }
    ++total;
  }
  return total;
}

uint32_t HostRuntimeSim_RunCleanup(void) {
  HostState& state = hostState();
  uint64_t before = 0;
  {
    std::lock_guard<std::mutex> hold(state.cleanupLock);
    before = state.nextSequence;
  }
  uint32_t called = 0;
  for (;;) {
    hostsim::Registration next{};
    {
      std::lock_guard<std::mutex> hold(state.cleanupLock);
      if (!hostsim::takeNext(state, 6, before, &next) && !hostsim::takeNext(state, 2, before, &next)) break;
    }
    next.procedure(next.argument);
    hostsim::endCall(state, next);
    ++called;
  }
  return called;
}
