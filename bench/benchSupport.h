// -----------------------------------------------------------------------------
// File: bench/benchSupport.h
// -----------------------------------------------------------------------------
//
// Set-up shared by the FIFO benchmarks: fresh stand-ins with the journal off
// and a session opened through the library.
#pragma once

#include <cstdint>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrvSim.h"

namespace benchsupport {

constexpr uint32_t kFifo = 6;  // target-to-host, unsigned 32-bit
constexpr uint32_t kTimeout = 1000;

// Resets the stand-ins and switches the journals off, so that they do not
// weigh on the figures. Host arrays are resized in place when their size
// does not change, as a real host may.
inline void resetStandIns() {
  ViDazoSim_Reset();
  VoKelSrvSim_Reset();
  HostRuntimeSim_Reset();
  ViDazoSim_SetJournalEnabled(0);
  VoKelSrvSim_JournalEnable(0);
  HostRuntimeSim_SetResizeInPlace(1);
}

// Opens a session on `resource` through the library; 0 when it cannot.
inline uint32_t openOn(const char* resource) {
  uint32_t session = 0;
  return ViDazoHx_Open(nullptr, nullptr, resource, 0, &session) == 0 ? session : 0;
}

// Fresh stand-ins and one session on "sim0"; 0 when it cannot be opened.
inline uint32_t openSession() {
  resetStandIns();
  return openOn("sim0");
}

// Gives FIFO `fifo` of an open session `depth` elements, starts it and lets
// it generate an endless stream on demand.
inline void startGenerating(uint32_t session, uint32_t fifo, uint32_t depth) {
  uint32_t actual = 0;
  ViDazoHx_ConfigureFifo2(session, fifo, depth, &actual);
  ViDazoHx_StartFifo(session, fifo);
  ViDazoSim_StartGenerator(session, fifo, 0, ViDazoSim_EndlessStream);
}

// Opens a session whose FIFO `kFifo`, `depth` elements deep, generates an
// endless stream. Returns 0 when the session cannot be opened.
inline uint32_t openGeneratingSession(uint32_t depth) {
  const uint32_t session = openSession();
  if (session != 0) startGenerating(session, kFifo, depth);
  return session;
}

}  // namespace benchsupport
