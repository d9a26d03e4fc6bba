/*
 * hostState.cpp: state, reset, injection, hooks and call counts of the
 * simulated host runtime.
 */
#include "hostState.h"

#include <cstring>
#include <new>

namespace hostsim {
namespace {

const char* const kFunctionNames[kFunctionCount] = {"NumericArrayResize", "RTSetCleanupProc",
                                                    "EDVR_CreateReference"};

// Returns the function's index for `name`, or kFunctionCount when unknown or null.
unsigned functionIndex(const char* name) {
  if (name == nullptr) return kFunctionCount;
  for (unsigned i = 0; i < kFunctionCount; ++i) {
    if (std::strcmp(kFunctionNames[i], name) == 0) return i;
  }
  return kFunctionCount;
}

// Returns 0 for a known name, else the control error that fits.
int32_t checkFunction(const char* name) {
  if (name == nullptr) return HostRuntimeSim_ErrorNullArgument;
  return functionIndex(name) == kFunctionCount ? HostRuntimeSim_ErrorUnknownFunction : 0;
}

}  // namespace

HostState& hostState() {
  // Built in static storage and never destroyed: a library under test may
  // still call host functions from its own exit-time teardown. Placement
  // construction allocates nothing, so first use cannot fail.
  alignas(HostState) static unsigned char storage[sizeof(HostState)];
  static HostState* state = new (storage) HostState();
  return *state;
}

unsigned threadShard() noexcept {
  // Handed out in turn, so that threads started together land on different
  // shards. A plain value (kShards: none yet), so an access needs no guard.
  static std::atomic<unsigned> nextShard{0};
  static HOSTSIM_THREAD_LOCAL unsigned shard = kShards;
  if (shard == kShards) shard = nextShard.fetch_add(1, std::memory_order_relaxed) % kShards;
  return shard;
}

bool enterCall(Function function, int32_t* result) noexcept {
  HostState& state = hostState();
  state.callCounts[threadShard()].counts[function].fetch_add(1, std::memory_order_relaxed);
  if (!state.armed[function].load(std::memory_order_acquire)) return false;
  Hook hook;
  {
    std::lock_guard<std::mutex> hold(state.controlLock);
    hook = state.hooks[function];
  }
  // The hook runs unlocked so it may drive the stand-in itself (run the
  // cleanup, dispose of a reference) at the moment the library calls in.
  if (hook.procedure != nullptr) hook.procedure(kFunctionNames[function], hook.context);
  std::lock_guard<std::mutex> hold(state.controlLock);
  Injection& injection = state.injections[function];
  if (injection.callsLeft == 0) return false;
  --injection.callsLeft;
  *result = injection.result;
  return true;
}

}  // namespace hostsim

using hostsim::HostState;
using hostsim::hostState;

void HostRuntimeSim_Reset(void) {
  HostState& state = hostState();
  std::scoped_lock hold(state.controlLock, state.cleanupLock);
  std::unique_lock<std::mutex> shards[hostsim::kShards];
  for (unsigned i = 0; i < hostsim::kShards; ++i) shards[i] = std::unique_lock<std::mutex>(state.references[i].lock);
  std::lock_guard<std::mutex> holdArrays(state.arraysLock);
  hostsim::freeAllArrays(state);
  hostsim::freeAllReferences(state);
  hostsim::clearAllRegistrations(state);
  state.resizeInPlace = false;
  for (unsigned i = 0; i < hostsim::kFunctionCount; ++i) {
    state.injections[i] = hostsim::Injection{};
    state.hooks[i] = hostsim::Hook{};
    state.armed[i].store(false, std::memory_order_release);
    for (hostsim::CallCountShard& shard : state.callCounts) shard.counts[i].store(0, std::memory_order_relaxed);
  }
}

int32_t HostRuntimeSim_InjectResult(const char* function, uint32_t calls, int32_t result) {
  int32_t status = hostsim::checkFunction(function);
  if (status != 0) return status;
  HostState& state = hostState();
  const unsigned which = hostsim::functionIndex(function);
  std::lock_guard<std::mutex> hold(state.controlLock);
  state.injections[which] = hostsim::Injection{calls, result};
  state.armed[which].store(true, std::memory_order_release);
  return 0;
}

int32_t HostRuntimeSim_SetCallHook(const char* function, HostRuntimeSim_CallHook hook, void* context) {
  int32_t status = hostsim::checkFunction(function);
  if (status != 0) return status;
  HostState& state = hostState();
  const unsigned which = hostsim::functionIndex(function);
  std::lock_guard<std::mutex> hold(state.controlLock);
  state.hooks[which] = hostsim::Hook{hook, hook != nullptr ? context : nullptr};
  state.armed[which].store(true, std::memory_order_release);
  return 0;
}

uint32_t HostRuntimeSim_CallCount(const char* function) {
  unsigned which = hostsim::functionIndex(function);
  if (which == hostsim::kFunctionCount) return 0;
  uint32_t total = 0;
  for (const hostsim::CallCountShard& shard : hostState().callCounts) {
    total += shard.counts[which].load(std::memory_order_relaxed);
  }
  return total;
}
