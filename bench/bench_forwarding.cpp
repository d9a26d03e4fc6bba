// bench_forwarding.cpp: the cost the library adds to a scalar FIFO read:
// session check, host array resize, type dispatch, forwarding through the
// entry table and the status record around the remaining-count copy,
// against calling the lower library's typed read directly.
//
// The simulated target generates elements on demand and its journal is off,
// so both sides measure the copy out of the FIFO plus the call path.

#include <benchmark/benchmark.h>

#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrvSim.h"

namespace {

constexpr uint32_t kFifo = 6;  // target-to-host, unsigned 32-bit
constexpr uint32_t kTimeout = 1000;

// A session whose FIFO fills itself, deep enough for the largest read.
uint32_t openGeneratingSession() {
  ViDazoSim_Reset();
  VoKelSrvSim_Reset();
  ViDazoSim_SetJournalEnabled(0);
  uint32_t session = 0;
  if (ViDazoDll_Open(nullptr, nullptr, "sim0", 0, &session) != 0) return 0;
  uint32_t depth = 0;
  ViDazoDll_ConfigureFifo2(session, kFifo, 8192, &depth);
  ViDazoSim_StartGenerator(session, kFifo, 0, ViDazoSim_EndlessStream);
  return session;
}

void readThroughLibrary(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0));
  const uint32_t session = openGeneratingSession();
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, count);
  uint32_t remaining = 0;
  for (auto _ : state) {
    const int32_t status =
        ViDazoHx_ReadFifoScalar(session, kFifo, count, ViDazoHx_TypeU32, 0, kTimeout, array, &remaining);
    if (status != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(remaining);
  }
  state.SetItemsProcessed(state.iterations() * count);
  HostRuntimeSim_FreeArray(array);
}

void readLowerDirectly(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0));
  const uint32_t session = openGeneratingSession();
  std::vector<uint32_t> buffer(count);
  uint32_t remaining = 0;
  for (auto _ : state) {
    const int32_t status = ViDazoDll_ReadFifoU32(session | 0x4000, kFifo, buffer.data(), count, kTimeout, &remaining);
    if (status != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(remaining);
  }
  state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(readThroughLibrary)->Arg(1)->Arg(64)->Arg(4096);
BENCHMARK(readLowerDirectly)->Arg(1)->Arg(64)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
