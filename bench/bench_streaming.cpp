// -----------------------------------------------------------------------------
// File: bench/bench_streaming.cpp
// -----------------------------------------------------------------------------
//
// Streaming through FIFO regions against the limit of zero copy.
//
// The simulated target runs in device mode: a thread of its own fills the
// target-to-host FIFO, or drains the host-to-target one and checks the
// pattern, as a DMA engine would. So the benchmark thread does only the
// host's work, and its CPU time per byte (cpu_time here, which is the
// thread's own) is the figure to compare; wall time depends on how fast the
// device thread keeps up and is reported beside it.
//
// Every path moves the same bytes in chunks of 4 KiB to 4 MiB, and the host
// touches every element once: reads checksum what arrives, writes fill in
// the pattern the device checks.
//   Region: a region acquired and disposed of through the library.
//   Limit:  what a library of zero cost would spend: the lower library's own
//           acquire and release, plus the host-runtime calls a region needs
//           (register and withdraw the per-call cleanup, create the reference,
//           dispose of it), called directly.
//   Copy:   ViDazoHx_ReadFifoScalar / ViDazoHx_WriteFifoScalar through a host
//           array (the lower library copies between array and ring).
//   Memcpy: memcpy plus the checksum (or fill) of the same bytes in memory.
// Run in a Release build; journals are off.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "benchSupport.h"

namespace {

using benchsupport::kTimeout;

constexpr uint32_t kReadFifo = 6;           // target-to-host, U32
constexpr uint32_t kWriteFifo = 9 + 6;      // host-to-target, U32
constexpr uint32_t kRingElements = 1u << 21;  // 8 MiB: twice the largest chunk, and every chunk divides it
constexpr uint32_t kRouted = 0x4000;
constexpr uint64_t kSeed = 0;

uint64_t checksum(const uint32_t* elements, uint32_t count) {
  uint64_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) sum += elements[i];
  return sum;
}

// Writes the device's pattern: stream element `first` + i is kSeed + first + i.
void fillPattern(uint32_t* elements, uint32_t count, uint64_t first) {
  const uint32_t base = static_cast<uint32_t>(kSeed + first);
  for (uint32_t i = 0; i < count; ++i) elements[i] = base + i;
}

// A session opened through the library with one FIFO in device mode.
class DeviceStream {
 public:
  DeviceStream(benchmark::State& state, uint32_t fifo) : state_(state), fifo_(fifo) {
    session_ = benchsupport::openSession();
    uint32_t actual = 0;
    if (session_ == 0 || ViDazoHx_ConfigureFifo2(session_, fifo, kRingElements, &actual) != 0 ||
        ViDazoHx_StartFifo(session_, fifo) != 0 || ViDazoSim_StartDevice(session_, fifo, kSeed, 0) != 0) {
      state.SkipWithError("device-mode FIFO could not be set up");
    }
  }
  // Stops the device, checks what it saw and closes the session.
  ~DeviceStream() {
    ViDazoSim_DeviceCounts counts{};
    ViDazoSim_StopDevice(session_, fifo_);
    if (ViDazoSim_GetDeviceCounts(session_, fifo_, &counts) != 0 || counts.mismatches != 0) {
      state_.SkipWithError("the device saw elements break the pattern");
    }
    ViDazoHx_Close(session_, 0);
  }
  uint32_t session() const { return session_; }
  uint32_t routed() const { return session_ | kRouted; }

 private:
  benchmark::State& state_;
  uint32_t fifo_;
  uint32_t session_ = 0;
};

uint32_t chunkElements(const benchmark::State& state) { return static_cast<uint32_t>(state.range(0)) / 4; }

void finish(benchmark::State& state) { state.SetBytesProcessed(state.iterations() * state.range(0)); }

// ---- the host-runtime part of the limit path --------------------------------

int32_t noCleanup(uintptr_t) { return 0; }

// What a region's dispose does at the least: give the elements back.
struct LimitRelease {
  uint32_t session;
  uint32_t fifo;
  uint32_t count;
};
LimitRelease limitRelease;

int32_t releaseLimitRegion(uintptr_t) {
  return ViDazoDll_ReleaseFifoElements(limitRelease.session, limitRelease.fifo, limitRelease.count);
}

// Lends `elements` to the host as a reference, as a region would: the
// per-call cleanup registered around the wait, the reference created and its
// record filled. Returns the reference, 0 on failure.
uint32_t lendDirectly(uint32_t session, uint32_t fifo, void* elements, uint32_t count) {
  uint32_t reference = 0;
  ViDazoHx_DataRecord* record = nullptr;
  RTSetCleanupProc(&noCleanup, 0, 6);
  RTSetCleanupProc(nullptr, 0, 6);
  if (EDVR_CreateReference(&reference, &record) != 0) return 0;
  record->kind = 1;
  record->elements = elements;
  record->elementCount = count;
  record->elementSize = 4;
  record->release = &releaseLimitRegion;
  limitRelease = LimitRelease{session, fifo, count};
  return reference;
}

// ---- reads ----------------------------------------------------------------------

void readRegion(benchmark::State& state) {
  DeviceStream stream(state, kReadFifo);
  const uint32_t count = chunkElements(state);
  for (auto _ : state) {
    uint32_t reference = 0, acquired = 0, remaining = 0;
    if (ViDazoHx_AcquireFifoReadRegionScalar(stream.session(), kReadFifo, &reference, count, ViDazoHx_TypeU32, 0,
                                             kTimeout, &acquired, &remaining) != 0 ||
        acquired != count) {
      state.SkipWithError("region failed");
      break;
    }
    const ViDazoHx_DataRecord* record = HostRuntimeSim_ReferenceRecord(reference);
    benchmark::DoNotOptimize(checksum(static_cast<const uint32_t*>(record->elements), count));
    HostRuntimeSim_DisposeReference(reference);
  }
  finish(state);
}

void readLimit(benchmark::State& state) {
  DeviceStream stream(state, kReadFifo);
  const uint32_t count = chunkElements(state);
  for (auto _ : state) {
    uint32_t* elements = nullptr;
    uint32_t acquired = 0, remaining = 0;
    if (ViDazoDll_AcquireFifoReadElementsU32(stream.routed(), kReadFifo, &elements, count, kTimeout, &acquired,
                                             &remaining) != 0 ||
        acquired != count) {
      state.SkipWithError("lower acquire failed");
      break;
    }
    const uint32_t reference = lendDirectly(stream.routed(), kReadFifo, elements, count);
    benchmark::DoNotOptimize(checksum(elements, count));
    HostRuntimeSim_DisposeReference(reference);
  }
  finish(state);
}

void readCopy(benchmark::State& state) {
  DeviceStream stream(state, kReadFifo);
  const uint32_t count = chunkElements(state);
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, count);
  for (auto _ : state) {
    uint32_t remaining = 0;
    if (ViDazoHx_ReadFifoScalar(stream.session(), kReadFifo, count, ViDazoHx_TypeU32, 0, kTimeout, array,
                                &remaining) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    const auto* elements = reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(*array) +
                                                             HostRuntimeSim_DataOffset(ViDazoHx_TypeU32));
    benchmark::DoNotOptimize(checksum(elements, count));
  }
  HostRuntimeSim_FreeArray(array);
  finish(state);
}

void readMemcpy(benchmark::State& state) {
  const uint32_t count = chunkElements(state);
  std::vector<uint32_t> from(count), to(count);
  fillPattern(from.data(), count, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), count * sizeof(uint32_t));
    benchmark::DoNotOptimize(checksum(to.data(), count));
  }
  finish(state);
}

// ---- writes -------------------------------------------------------------------

void writeRegion(benchmark::State& state) {
  DeviceStream stream(state, kWriteFifo);
  const uint32_t count = chunkElements(state);
  uint64_t sent = 0;
  for (auto _ : state) {
    uint32_t reference = 0, acquired = 0, remaining = 0;
    if (ViDazoHx_AcquireFifoWriteRegionScalar(stream.session(), kWriteFifo, &reference, count, ViDazoHx_TypeU32, 0,
                                              kTimeout, &acquired, &remaining) != 0 ||
        acquired != count) {
      state.SkipWithError("region failed");
      break;
    }
    fillPattern(static_cast<uint32_t*>(HostRuntimeSim_ReferenceRecord(reference)->elements), count, sent);
    HostRuntimeSim_DisposeReference(reference);
    sent += count;
  }
  finish(state);
}

void writeLimit(benchmark::State& state) {
  DeviceStream stream(state, kWriteFifo);
  const uint32_t count = chunkElements(state);
  uint64_t sent = 0;
  for (auto _ : state) {
    uint32_t* elements = nullptr;
    uint32_t acquired = 0, remaining = 0;
    if (ViDazoDll_AcquireFifoWriteElementsU32(stream.routed(), kWriteFifo, &elements, count, kTimeout, &acquired,
                                              &remaining) != 0 ||
        acquired != count) {
      state.SkipWithError("lower acquire failed");
      break;
    }
    const uint32_t reference = lendDirectly(stream.routed(), kWriteFifo, elements, count);
    fillPattern(elements, count, sent);
    HostRuntimeSim_DisposeReference(reference);
    sent += count;
  }
  finish(state);
}

void writeCopy(benchmark::State& state) {
  DeviceStream stream(state, kWriteFifo);
  const uint32_t count = chunkElements(state);
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, count);
  auto* elements = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(*array) +
                                               HostRuntimeSim_DataOffset(ViDazoHx_TypeU32));
  uint64_t sent = 0;
  for (auto _ : state) {
    fillPattern(elements, count, sent);
    uint32_t remaining = 0;
    if (ViDazoHx_WriteFifoScalar(stream.session(), kWriteFifo, array, ViDazoHx_TypeU32, 0, kTimeout, &remaining) !=
        0) {
      state.SkipWithError("write failed");
      break;
    }
    sent += count;
  }
  HostRuntimeSim_FreeArray(array);
  finish(state);
}

void writeMemcpy(benchmark::State& state) {
  const uint32_t count = chunkElements(state);
  std::vector<uint32_t> from(count), to(count);
  uint64_t sent = 0;
  for (auto _ : state) {
    fillPattern(from.data(), count, sent);
    std::memcpy(to.data(), from.data(), count * sizeof(uint32_t));
    benchmark::ClobberMemory();
    sent += count;
  }
  finish(state);
}

}  // namespace

// Registered size by size, with region, limit, copy and memcpy back to back
// for each, so that a burst of load from elsewhere on the machine falls on
// all the paths of a size alike and the ratios between them hold. The report
// runs the program several times over and sets each ratio within one run.
int main(int argc, char** argv) {
  struct Path {
    const char* name;
    void (*run)(benchmark::State&);
  };
  const Path paths[] = {{"readRegion", readRegion},   {"readLimit", readLimit},   {"readCopy", readCopy},
                        {"readMemcpy", readMemcpy},   {"writeRegion", writeRegion}, {"writeLimit", writeLimit},
                        {"writeCopy", writeCopy},     {"writeMemcpy", writeMemcpy}};
  for (int64_t size = 4 << 10; size <= 4 << 20; size *= 4) {
    for (const Path& path : paths) benchmark::RegisterBenchmark(path.name, path.run)->Arg(size);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
