// -----------------------------------------------------------------------------
// File: tests/perf/perfDriver.cpp
// -----------------------------------------------------------------------------
//
// The program whose instructions callgrind counts for the instruction-count
// check (instructionCounts.sh). It runs one kind of call a given number of
// times through the built libViDazoHx.so and the stand-ins, single-threaded
// and with the journal off, so that a run executes the same instructions
// every time. The check runs it with N and 2N iterations: everything outside
// the loop (load, open, close, exit) cancels out of the difference.
//
//   vidazohx_perf_driver <case> <iterations>
//     read32          ViDazoHx_Read32 of one register
//     cycle-0         region acquire + dispose, timeout 0
//     cycle-finite    the same with a finite timeout (the stopwatch runs)
//     cycle-infinite  the same without a time limit
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"

namespace {

constexpr uint32_t kFifo = 6;  // target-to-host, unsigned 32-bit
constexpr uint32_t kRegionElements = 16;

uint32_t openSession() {
  ViDazoSim_SetJournalEnabled(0);
  uint32_t session = 0;
  if (ViDazoHx_Open(nullptr, nullptr, "sim0", 0, &session) != 0) return 0;
  uint32_t actual = 0;
  if (ViDazoHx_ConfigureFifo2(session, kFifo, 1024, &actual) != 0 || ViDazoHx_StartFifo(session, kFifo) != 0 ||
      ViDazoSim_StartGenerator(session, kFifo, 0, ViDazoSim_EndlessStream) != 0) {
    ViDazoHx_Close(session, 0);
    return 0;
  }
  return session;
}

bool readRegisters(uint32_t session, long iterations) {
  uint32_t value = 0;
  for (long i = 0; i < iterations; ++i) {
    if (ViDazoHx_Read32(session, 0, &value) != 0) return false;
  }
  return true;
}

bool cycleRegions(uint32_t session, long iterations, uint32_t timeout) {
  for (long i = 0; i < iterations; ++i) {
    uint32_t reference = 0, acquired = 0, remaining = 0;
    if (ViDazoHx_AcquireFifoReadRegionScalar(session, kFifo, &reference, kRegionElements, ViDazoHx_TypeU32, 0,
                                             timeout, &acquired, &remaining) != 0 ||
        acquired != kRegionElements || HostRuntimeSim_DisposeReference(reference) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const long iterations = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
  if (iterations <= 0) {
    std::fprintf(stderr, "usage: %s read32|cycle-0|cycle-finite|cycle-infinite <iterations>\n", argv[0]);
    return 2;
  }
  const char* kind = argv[1];
  const uint32_t session = openSession();
  if (session == 0) {
    std::fprintf(stderr, "cannot open a session on the simulated target\n");
    return 1;
  }
  bool ran = false;
  if (std::strcmp(kind, "read32") == 0) {
    ran = readRegisters(session, iterations);
  } else if (std::strcmp(kind, "cycle-0") == 0) {
    ran = cycleRegions(session, iterations, 0);
  } else if (std::strcmp(kind, "cycle-finite") == 0) {
    ran = cycleRegions(session, iterations, 1000);
  } else if (std::strcmp(kind, "cycle-infinite") == 0) {
    ran = cycleRegions(session, iterations, ViDazoHx_InfiniteTimeout);
  } else {
    std::fprintf(stderr, "unknown case %s\n", kind);
  }
  ViDazoHx_Close(session, 0);
  if (!ran) std::fprintf(stderr, "%s failed\n", kind);
  return ran ? 0 : 1;
}
