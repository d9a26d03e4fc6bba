// -----------------------------------------------------------------------------
// File: adapter/callTrace.h
// -----------------------------------------------------------------------------
//
// The trace of the host's calls of the 33 exports (protons/trace/trace.h
// for the levels, the destination and the line format). Every export starts
// with one line, then does its work in a function of its own:
//
//   if (traceIsOn()) return traceCall<kTraceRead32, read32>(session, offset, value);
//   return read32(session, offset, value);
//
// Off, that is one load and a branch not taken: traceCall() takes the
// export's own arguments, so the branch is a plain jump and the export
// needs no stack frame; a forwarding export still ends in a tail call. On,
// traceCall() (out of line, in the cold section) writes an entry line for a
// call that can block (level `calls`), runs the work and writes the return
// line with the status and the call's duration (every call at `calls`, only
// those that answered non-zero at `errors`). The library's own calls of its
// own functions go to the work functions, never through an export, so they
// are not reported as the host's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protons/time/monotonicClock.h"
#include "protons/trace/trace.h"

// What the trace says about one export: its name without the prefix,
// whether a call may block (those get an entry line, so that a call that
// hangs shows where it went in) and one key per argument, in order (trace.h
// for the formats); "-" leaves an argument out: names, host buffers and
// arrays, values written to the target.
struct tTracedCall {
  const char* name;
  bool blocks;
  const char* keys;
};

// traceValueOf(): an argument as a field. Unsigned and signed 32-bit values
// are inputs; a uint32_t* is an output, shown on the return line; anything
// else is never shown.
inline tTraceValue traceValueOf(uint32_t input) { return tTraceValue(input); }
inline tTraceValue traceValueOf(int32_t input) { return tTraceValue(input); }
inline tTraceValue traceValueOf(uint32_t* output) { return tTraceValue(static_cast<const uint32_t*>(output)); }
template <typename T>
tTraceValue traceValueOf(T) {
  return tTraceValue(tTraceValue::none);
}

// traceCall(): runs kWork with the export's arguments between the entry and
// the return line. Writes only when no library lock is held: before the
// work and after it. Returns what the work returned.
template <const tTracedCall& kCall, auto kWork, typename... Args>
[[gnu::cold, gnu::noinline]] int32_t traceCall(Args... args) {
  const tTraceValue values[] = {traceValueOf(args)...};
  constexpr size_t kCount = sizeof...(Args);
  const bool everyCall = traceAt(tTraceLevel::calls);
  const int64_t start = monotonicNanoseconds();
  if (everyCall && kCall.blocks) {
    tTraceLine line("enter", kCall.name);
    line.fields(kCall.keys, values, kCount);
    line.write();
  }
  const int32_t status = kWork(args...);
  if (everyCall || status != 0) {
    tTraceLine line("return", kCall.name);
    line.fields(kCall.keys, values, kCount, true, status);
    line.status(status);
    line.duration(monotonicNanoseconds() - start);
    line.write();
  }
  return status;
}

// The exports, as the trace names them.
inline constexpr tTracedCall kTraceOpen{"Open", true, "- - - attribute session"};
inline constexpr tTracedCall kTraceOpenResource{"OpenResource", true, "parent - attribute session"};
inline constexpr tTracedCall kTraceClose{"Close", true, "session attribute"};
inline constexpr tTracedCall kTraceRun{"Run", false, "session attribute"};
inline constexpr tTracedCall kTraceAbort{"Abort", false, "session"};
inline constexpr tTracedCall kTraceDownload{"Download", true, "session"};
inline constexpr tTracedCall kTraceReset{"Reset", true, "session"};
inline constexpr tTracedCall kTraceRead16{"Read16", false, "session offset:x -"};
inline constexpr tTracedCall kTraceRead32{"Read32", false, "session offset:x -"};
inline constexpr tTracedCall kTraceReadSgl{"ReadSgl", false, "session offset:x -"};
inline constexpr tTracedCall kTraceWrite16{"Write16", false, "session offset:x -"};
inline constexpr tTracedCall kTraceWrite32{"Write32", false, "session offset:x -"};
inline constexpr tTracedCall kTraceWriteSgl{"WriteSgl", false, "session offset:x -"};
inline constexpr tTracedCall kTraceReadArray32{"ReadArray32", false, "session offset:x count -"};
inline constexpr tTracedCall kTraceWriteArray32{"WriteArray32", false, "session offset:x -"};
inline constexpr tTracedCall kTraceReserveIrqContext{"ReserveIrqContext", false, "session -"};
inline constexpr tTracedCall kTraceUnreserveIrqContext{"UnreserveIrqContext", false, "session -"};
inline constexpr tTracedCall kTraceWaitOnIrqs{"WaitOnIrqs", true, "session - irqMask:x timeout:t irqsAsserted:x -"};
inline constexpr tTracedCall kTraceAcknowledgeIrqs{"AcknowledgeIrqs", false, "session irqs:x"};
inline constexpr tTracedCall kTraceConfigureFifo{"ConfigureFifo", false, "session fifo depth"};
inline constexpr tTracedCall kTraceConfigureFifo2{"ConfigureFifo2", false, "session fifo depth actualDepth"};
inline constexpr tTracedCall kTraceStartFifo{"StartFifo", false, "session fifo"};
inline constexpr tTracedCall kTraceStopFifo{"StopFifo", false, "session fifo"};
inline constexpr tTracedCall kTraceReadFifoScalar{"ReadFifoScalar", true, "session fifo count typeCode - timeout:t - -"};
inline constexpr tTracedCall kTraceWriteFifoScalar{"WriteFifoScalar", true, "session fifo - typeCode - timeout:t -"};
inline constexpr tTracedCall kTraceAcquireRead{"AcquireFifoReadRegionScalar", true,
                                               "session fifo reference requested typeCode - timeout:t acquired -"};
inline constexpr tTracedCall kTraceAcquireWrite{"AcquireFifoWriteRegionScalar", true,
                                                "session fifo reference requested typeCode - timeout:t acquired -"};
inline constexpr tTracedCall kTraceGetPeerToPeerFifoEndpoint{"GetPeerToPeerFifoEndpoint", false, "session fifo -"};
inline constexpr tTracedCall kTraceGetResources{"GetResources", false, "session - capacity count"};
inline constexpr tTracedCall kTraceGetResourceName{"GetResourceName", false, "index - capacity"};
inline constexpr tTracedCall kTraceGetResourceIndex{"GetResourceIndex", false, "- index"};
inline constexpr tTracedCall kTraceReleaseResourceIndex{"ReleaseResourceIndex", false, "index"};
inline constexpr tTracedCall kTraceAddResources{"AddResources", false, "- count"};
