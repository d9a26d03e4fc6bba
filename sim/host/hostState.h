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

// The mode-6 registrations of one thread and the cleanup calls of them in
// progress. A thread registers and withdraws its own mode-6 procedures
// around every wait, so each thread keeps them under a lock of its own:
// threads waiting at the same time never touch each other's lock. A record
// outlives its thread (registrations it leaves stay listed) and is handed
// to the next new thread once its own has ended.
struct alignas(64) ThreadCleanup {
  std::mutex lock;
  // Signalled whenever a cleanup call of one of these registrations ends,
  // for the owner's withdrawal that waits for it.
  std::condition_variable callEnded;
  std::vector<Registration> registrations;  // oldest first
  std::vector<InFlight> inFlight;
  bool owned = false;  // a live thread uses it; guarded by HostState::cleanupLock
};

// Threads spread over this many shards of the call counts and of the
// reference table, so that threads working at once touch different locks
// and cache lines.
constexpr unsigned kShards = 16;

// Thread-local variables of the stand-in. Host programs link it (it is not
// loaded later), so the fixed-offset model is safe, and it spares the call
// to the run-time's look-up on every access.
#define HOSTSIM_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))

// Returns the calling thread's shard, below kShards.
unsigned threadShard() noexcept;

struct alignas(64) CallCountShard {
  std::atomic<uint32_t> counts[kFunctionCount] = {};
};

// The live references whose value is `shard` modulo kShards; the thread
// that creates a reference picks the shard, any thread may dispose of it.
struct alignas(64) ReferenceShard {
  std::mutex lock;
  std::map<uint32_t, ViDazoHx_DataRecord*> references;
  uint32_t next = 1;  // next reference is next * kShards + shard
};

struct Injection {
  uint32_t callsLeft = 0;
  int32_t result = 0;
};

struct Hook {
  HostRuntimeSim_CallHook procedure = nullptr;
  void* context = nullptr;
};

// One lock per part, and the parts a region cycle uses (mode-6 cleanup
// registrations, references, call counts) split per thread or per shard,
// so that threads cycling regions at once do not queue behind each other
// or bounce a shared cache line. Only the reset takes every lock: the
// control, cleanup, reference-shard and array locks in that order, and each
// thread's cleanup record after the cleanup lock.
struct HostState {  // NOLINT(clang-analyzer-optin.performance.Padding): nextSequence's cache line is kept apart on purpose
  std::mutex controlLock;  // injections and hooks
  Injection injections[kFunctionCount];
  Hook hooks[kFunctionCount];
  // Set once a hook or an injection names the function; until then a call
  // skips controlLock altogether.
  std::atomic<bool> armed[kFunctionCount] = {};
  CallCountShard callCounts[kShards];

  // Guards the mode-2 registrations, their calls in progress and the list
  // of thread records (not what is in a record).
  std::mutex cleanupLock;
  // Signalled whenever a cleanup call of a mode-2 registration ends.
  std::condition_variable cleanupCallEnded;
  std::vector<Registration> registrations;  // mode 2, oldest first
  std::vector<InFlight> inFlight;
  std::vector<ThreadCleanup*> threadCleanups;  // never freed
  alignas(64) std::atomic<uint64_t> nextSequence{1};

  ReferenceShard references[kShards];

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

// Frees every reference record without calling it. Caller holds every
// reference shard's lock.
void freeAllReferences(HostState& state);

// Forgets every cleanup registration. Caller holds cleanupLock.
void clearAllRegistrations(HostState& state);

}  // namespace hostsim

#endif /* HOSTRUNTIME_HOSTSTATE_H */
