// bench_forwarding.cpp: the cost the library adds to a scalar FIFO read:
// session check, host array resize, type dispatch, forwarding through the
// entry table and the status record around the remaining-count copy,
// against calling the lower library's typed read directly.
//
// The simulated target generates elements on demand and its journal is off,
// so both sides measure the copy out of the FIFO plus the call path.

#include <benchmark/benchmark.h>

#include <vector>

#include "benchSupport.h"

namespace {

using benchsupport::kFifo;
using benchsupport::kTimeout;
using benchsupport::openGeneratingSession;

constexpr uint32_t kDepth = 8192;  // deep enough for the largest read

void readThroughLibrary(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0));
  const uint32_t session = openGeneratingSession(kDepth);
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
  ViDazoHx_Close(session, 0);
}

void readLowerDirectly(benchmark::State& state) {
  const uint32_t count = static_cast<uint32_t>(state.range(0));
  const uint32_t session = openGeneratingSession(kDepth);
  std::vector<uint32_t> buffer(count);
  uint32_t remaining = 0;
  for (auto _ : state) {
    const int32_t status = ViDazoDll_ReadFifoU32(session | 0x4000, kFifo, buffer.data(), count, kTimeout, &remaining);
    if (status != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(remaining);
  }
  state.SetItemsProcessed(state.iterations() * count);
  ViDazoHx_Close(session, 0);
}

BENCHMARK(readThroughLibrary)->Arg(1)->Arg(64)->Arg(4096);
BENCHMARK(readLowerDirectly)->Arg(1)->Arg(64)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
