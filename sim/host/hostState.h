/*
 * hostState.h: the shared state of the simulated host runtime.
 *
 * Defines the one process-wide record that the array, cleanup and reference
 * parts of the stand-in share, and the call-entry step every host function
 * takes first (call count, hook, injected answer). Internal to the stand-in.
 */
#ifndef HOSTRUNTIME_HOSTSTATE_H
#define HOSTRUNTIME_HOSTSTATE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"

namespace hostsim {

// The host functions an injection, a hook or a call count can name.
enum Function : unsigned { kNumericArrayResize, kRTSetCleanupProc, kEDVRCreateReference, kFunctionCount };

struct ArrayRecord {
  int32_t typeCode;
  uint32_t capacity;  // elements the current block has room for
};

struct Registration {
  ViDazoHx_HostProcedure procedure;
  uintptr_t argument;
  int32_t mode;
  std::thread::id owner;  // thread that registered it
  uint64_t sequence;      // registration order; also tells a cleanup run what predates it
};

// A registration that a cleanup run has withdrawn and is calling right now.
struct InFlight {
  Registration registration;
  std::thread::id caller;  // thread running the cleanup
};

struct Injection {
  uint32_t callsLeft = 0;
  int32_t result = 0;
};

struct Hook {
  HostRuntimeSim_CallHook procedure = nullptr;
  void* context = nullptr;
};

// One mutex per part, so that a region cycle (a cleanup registration and
// withdrawal, a reference made and disposed of) takes each lock it needs once
// and threads working on different parts do not queue behind each other.
// A call takes one of them at a time; only the reset takes them all, in the
// order they are declared.
struct HostState {
  std::mutex controlLock;  // injections and hooks
  Injection injections[kFunctionCount];
  Hook hooks[kFunctionCount];
  // Set once a hook or an injection names the function; until then a call
  // skips controlLock altogether.
  std::atomic<bool> armed[kFunctionCount] = {};
  std::atomic<uint32_t> callCounts[kFunctionCount] = {};

  std::mutex cleanupLock;
  // Signalled whenever a cleanup call ends, for withdrawals that wait for it.
  std::condition_variable cleanupCallEnded;
  std::vector<Registration> registrations;  // oldest first
  std::vector<InFlight> inFlight;
  uint64_t nextSequence = 1;

  std::mutex referencesLock;
  std::map<uint32_t, ViDazoHx_DataRecord*> references;
  uint32_t nextReference = 1;

  std::mutex arraysLock;
  std::unordered_map<ViDazoHx_ArrayHandle, ArrayRecord> arrays;
  bool resizeInPlace = false;  // see HostRuntimeSim_SetResizeInPlace
};

// Returns the process-wide state; created on first use, never destroyed.
HostState& hostState();

// Counts the call, runs the function's hook (without the lock), then
// consumes an injected answer. Returns true with `*result` set when the call
// must answer that and do nothing else. Takes controlLock twice, briefly,
// and only for a function a hook or an injection was ever set for.
bool enterCall(Function function, int32_t* result) noexcept;

// Frees every array (handle slot and block). Caller holds arraysLock.
void freeAllArrays(HostState& state);

// Frees every reference record without calling it. Caller holds referencesLock.
void freeAllReferences(HostState& state);

}  // namespace hostsim

#endif /* HOSTRUNTIME_HOSTSTATE_H */
