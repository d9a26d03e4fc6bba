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
// cycle is library - lower - host; the goal is at most 12 mutex pairs.
//
// Streaming: bytes per second through regions of 4 KiB to 1 MiB from a
// generator FIFO, against ViDazoHx_ReadFifoScalar of the same sizes and
// against a plain memcpy of the same bytes. The simulated target generates
// elements on demand, so both FIFO paths pay for the generation; the region
// path copies nothing on top. Run in a Release build; the journal is off.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "benchSupport.h"
#include "protons/status/stlStatus.h"
#include "quarks/synchronization.h"

namespace {

using benchsupport::kFifo;
using benchsupport::kTimeout;
using benchsupport::openGeneratingSession;

constexpr uint32_t kCycleElements = 16;
constexpr uint32_t kStreamDepth = 1u << 19;  // elements; every streamed size divides it

// One region acquired and disposed of through the library and the host.
bool regionThroughLibrary(uint32_t session, uint32_t count, uint32_t timeout = kTimeout) {
  uint32_t reference = 0, acquired = 0, remaining = 0;
  if (ViDazoHx_AcquireFifoReadRegionScalar(session, kFifo, &reference, count, ViDazoHx_TypeU32, 0, timeout,
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

void streamThroughRegions(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0)) / 4;
  const uint32_t session = openGeneratingSession(kStreamDepth);
  for (auto _ : state) {
    if (!regionThroughLibrary(session, count)) state.SkipWithError("region failed");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  ViDazoHx_Close(session, 0);
}

void streamThroughReadFifoScalar(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0)) / 4;
  const uint32_t session = openGeneratingSession(kStreamDepth);
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, count);
  uint32_t remaining = 0;
  for (auto _ : state) {
    if (ViDazoHx_ReadFifoScalar(session, kFifo, count, ViDazoHx_TypeU32, 0, kTimeout, array, &remaining) != 0) {
      state.SkipWithError("read failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  HostRuntimeSim_FreeArray(array);
  ViDazoHx_Close(session, 0);
}

void streamMemcpy(benchmark::State& state) {
  std::vector<uint8_t> from(state.range(0), 1), to(state.range(0));
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

// Timeouts: 0 (no wait), a finite one (the stopwatch is read), no limit.
BENCHMARK(cycleThroughLibrary)->Arg(0)->Arg(kTimeout)->Arg(ViDazoHx_InfiniteTimeout);
BENCHMARK(cycleLowerDirectly)->Arg(0)->Arg(kTimeout)->Arg(ViDazoHx_InfiniteTimeout);
BENCHMARK(cycleHostShare);
BENCHMARK(piMutexPair);
BENCHMARK(streamThroughRegions)->RangeMultiplier(4)->Range(4 << 10, 1 << 20);
BENCHMARK(streamThroughReadFifoScalar)->RangeMultiplier(4)->Range(4 << 10, 1 << 20);
BENCHMARK(streamMemcpy)->RangeMultiplier(4)->Range(4 << 10, 1 << 20);

BENCHMARK_MAIN();
