// -----------------------------------------------------------------------------
// File: bench/bench_regions.cpp
// -----------------------------------------------------------------------------
//
// What lending FIFO regions costs.
//
// Cycle: acquire + dispose of one small region through the library, against
// the same lower-library acquire + release called directly, against the
// host stand-in's share of a cycle (cleanup registration and withdrawal,
// reference creation and disposal), and against one priority-inheriting
// mutex lock+unlock pair, all in the same run. The library's own cost per
// cycle is library - lower - host; the goal is at most 7 mutex pairs with
// timeouts 0 and infinite. What a finite timeout adds (two clock reads) is
// judged by instruction count instead (tests/perf), which load cannot move.
//
// Scaling: region cycles per second (wall time) with two threads, each on a
// FIFO of its own, against one thread; the FIFOs in two sessions, then in
// one. The FIFOs generate on demand (no device threads, which would compete
// for the same cores). Streaming is in bench_streaming.cpp.
// Run in a Release build; the journals are off.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <thread>

#include "benchSupport.h"
#include "protons/status/stlStatus.h"
#include "quarks/synchronization.h"

namespace {

using benchsupport::kFifo;
using benchsupport::kTimeout;
using benchsupport::openGeneratingSession;

constexpr uint32_t kCycleElements = 16;

// One region acquired and disposed of through the library and the host.
bool regionThroughLibrary(uint32_t session, uint32_t count, uint32_t timeout = kTimeout, uint32_t fifo = kFifo,
                          int32_t typeCode = ViDazoHx_TypeU32) {
  uint32_t reference = 0, acquired = 0, remaining = 0;
  if (ViDazoHx_AcquireFifoReadRegionScalar(session, fifo, &reference, count, typeCode, 0, timeout,
                                           &acquired, &remaining) != 0) {
    return false;
  }
  benchmark::DoNotOptimize(HostRuntimeSim_ReferenceRecord(reference));
  return HostRuntimeSim_DisposeReference(reference) == 0 && acquired == count;
}

void cycleThroughLibrary(benchmark::State& state) {
  const uint32_t session = openGeneratingSession(1024);
  for (auto _ : state) {
    if (!regionThroughLibrary(session, kCycleElements, static_cast<uint32_t>(state.range(0)))) {
      state.SkipWithError("region cycle failed");
    }
  }
  ViDazoHx_Close(session, 0);
}

void cycleLowerDirectly(benchmark::State& state) {
  const uint32_t session = openGeneratingSession(1024);
  uint32_t* elements = nullptr;
  uint32_t acquired = 0, remaining = 0;
  for (auto _ : state) {
    if (ViDazoDll_AcquireFifoReadElementsU32(session | 0x4000, kFifo, &elements, kCycleElements,
                                             static_cast<uint32_t>(state.range(0)),
                                             &acquired, &remaining) != 0 ||
        ViDazoDll_ReleaseFifoElements(session | 0x4000, kFifo, acquired) != 0) {
      state.SkipWithError("lower cycle failed");
    }
    benchmark::DoNotOptimize(elements);
  }
  ViDazoHx_Close(session, 0);
}

int32_t noCleanup(uintptr_t) { return 0; }

// The host stand-in's share of one library cycle, so that it can be taken
// out of the library's figure.
void cycleHostShare(benchmark::State& state) {
  HostRuntimeSim_Reset();
  for (auto _ : state) {
    uint32_t reference = 0;
    ViDazoHx_DataRecord* record = nullptr;
    RTSetCleanupProc(&noCleanup, 0, 6);
    RTSetCleanupProc(nullptr, 0, 6);
    EDVR_CreateReference(&reference, &record);
    HostRuntimeSim_DisposeReference(reference);  // no release procedure: the stand-in's work only
  }
}

void piMutexPair(benchmark::State& state) {
  tStatus status;
  tMutex mutex(status);
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}

// Scaling: thread i cycles regions on FIFO kScalingFifos[i], in session
// scalingSessions[i]. Argument 0: a session per FIFO; 1: both in one session.
constexpr uint32_t kScalingFifos[2] = {6, 5};  // U32 and I32, both target-to-host
constexpr int32_t kScalingTypes[2] = {ViDazoHx_TypeU32, ViDazoHx_TypeI32};
uint32_t scalingSessions[2];

// A host process is always multi-threaded, but a benchmark program is not
// until it starts a thread, and while it is not, the C library and the C++
// run-time skip the atomic operations of plain mutexes and shared_ptr
// counts. One thread started and joined up front makes the one-thread figure
// pay what the two-thread figure pays (a mutex pair here: 4.9 ns without,
// 13 ns with), so the ratio measures contention only.
void becomeMultiThreaded() {
  static const bool started = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)started;
}

void openScalingFifos(const benchmark::State& state) {
  becomeMultiThreaded();
  benchsupport::resetStandIns();
  scalingSessions[0] = benchsupport::openOn("sim0");
  scalingSessions[1] = state.range(0) == 0 ? benchsupport::openOn("sim1") : scalingSessions[0];
  for (int i = 0; i < 2; ++i) benchsupport::startGenerating(scalingSessions[i], kScalingFifos[i], 1024);
}

void closeScalingFifos(const benchmark::State& state) {
  ViDazoHx_Close(scalingSessions[0], 0);
  if (state.range(0) == 0) ViDazoHx_Close(scalingSessions[1], 0);
}

void scalingCycles(benchmark::State& state) {
  const int i = state.thread_index();
  for (auto _ : state) {
    if (!regionThroughLibrary(scalingSessions[i], kCycleElements, kTimeout, kScalingFifos[i], kScalingTypes[i])) {
      state.SkipWithError("region cycle failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

// Timeouts: 0 (no wait), a finite one (the stopwatch is read), no limit.
// The library's cycle and its lower-library anchor run back to back for each
// timeout, so that a burst of load elsewhere falls on both alike.
BENCHMARK(cycleThroughLibrary)->Arg(0);
BENCHMARK(cycleLowerDirectly)->Arg(0);
BENCHMARK(cycleThroughLibrary)->Arg(kTimeout);
BENCHMARK(cycleLowerDirectly)->Arg(kTimeout);
BENCHMARK(cycleThroughLibrary)->Arg(ViDazoHx_InfiniteTimeout);
BENCHMARK(cycleLowerDirectly)->Arg(ViDazoHx_InfiniteTimeout);
BENCHMARK(cycleHostShare);
BENCHMARK(piMutexPair);
BENCHMARK(scalingCycles)
    ->ArgName("oneSession")
    ->Arg(0)
    ->Arg(1)
    ->Setup(openScalingFifos)
    ->Teardown(closeScalingFifos)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

BENCHMARK_MAIN();
