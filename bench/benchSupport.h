// -----------------------------------------------------------------------------
// File: bench/benchSupport.h
// -----------------------------------------------------------------------------
//
// Set-up shared by the FIFO benchmarks: fresh stand-ins with the journal off
// and one session, opened through the library, whose FIFO fills itself.
#pragma once

#include <cstdint>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrvSim.h"

namespace benchsupport {

constexpr uint32_t kFifo = 6;  // target-to-host, unsigned 32-bit
constexpr uint32_t kTimeout = 1000;

// Opens a session whose FIFO `kFifo`, `depth` elements deep, generates an
// endless stream. The journal is off so that it does not weigh on the
// figures. Returns 0 when the session cannot be opened.
inline uint32_t openGeneratingSession(uint32_t depth) {
  ViDazoSim_Reset();
  VoKelSrvSim_Reset();
  HostRuntimeSim_Reset();
  ViDazoSim_SetJournalEnabled(0);
  uint32_t session = 0;
  if (ViDazoHx_Open(nullptr, nullptr, "sim0", 0, &session) != 0) return 0;
  uint32_t actual = 0;
  ViDazoHx_ConfigureFifo2(session, kFifo, depth, &actual);
  ViDazoHx_StartFifo(session, kFifo);
  ViDazoSim_StartGenerator(session, kFifo, 0, ViDazoSim_EndlessStream);
  return session;
}

}  // namespace benchsupport
