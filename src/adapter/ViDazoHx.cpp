// ViDazoHx.cpp: the host-facing exports that only check the session and
// forward, and the exports that marshal host arrays.
//
// This is the library's chief source. The host calls these functions on its
// own threads, concurrently; none of them takes a lock, the only state kept
// between calls is the reserved IRQ context count (changed atomically), and
// each blocks only as long as the lower library, the resource broker or the
// host runtime does. A session value with bit 0x2000 is refused before
// anything is called; only the register-array exports look at their handle
// first, and the array read then still sets the element count to 0. Most
// calls reach the lower library with bit 0x4000 set.
//
// Host arrays are filled in place: reads have the host resize the array
// once, up front, then let the lower library write straight into the
// array's storage, and set the element count from the outcome (0 on an
// error, the requested count otherwise, warnings included). No element is
// copied here.
//
// Opening, closing, FIFO start, region acquisition, download and reset live
// with the session registry and the FIFO records (sessions/, fifo/).
//
// Each export is two lines at the end of the file: the trace's check
// (adapter/callTrace.h), then its work, in a function of its own above, so
// that the library's own calls (ReadSgl's read, WriteSgl's write) are never
// taken for the host's.

#include <cstring>

#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrv.h"
#include "adapter/callTrace.h"
#include "adapter/forwarding.h"
#include "adapter/hostRuntime.h"
#include "adapter/status.h"
#include "protons/status/stlStatus.h"

namespace {

// Register arrays always hold unsigned 32-bit elements.
constexpr int32_t kRegisterArrayType = ViDazoHx_TypeU32;

// Where the fixed source lines of the elements-remaining copies are recorded.
constexpr int32_t kReadFifoRemainingLine = 1519;
constexpr int32_t kWriteFifoRemainingLine = 1607;

bool isValidTypeCode(int32_t typeCode) { return elementSizeOf(typeCode) != 0; }

bool isAbsentArray(ViDazoHx_ArrayHandle array) { return array == nullptr || *array == nullptr; }

// The element storage of a host array block, read through the master
// pointer now: a resize may have moved the block.
void* arrayElements(ViDazoHx_ArrayHandle array, int32_t typeCode) {
  return reinterpret_cast<uint8_t*>(*array) + arrayDataOffset(typeCode);
}

// A read keeps its elements unless it failed; warnings keep them too.
void setReadCount(ViDazoHx_ArrayHandle array, int32_t status, uint32_t requested) {
  if (isAbsentArray(array)) return;
  (*array)->count = status < 0 ? 0 : static_cast<int32_t>(requested);
}

// Copies the elements remaining to the caller's output, when present, under
// a status record bound to `status` so that the copy's origin is recorded
// with the call's outcome; the record hands the same code back on closing.
void copyRemaining(int32_t* status, uint32_t* remainingOut, uint32_t remaining, int32_t line) {
  tKelAutoStatus record(status);
  record.offerCode(*status, kComponentName, kFileViDazoHx, line);
  if (remainingOut != nullptr) *remainingOut = remaining;
}

// ---- sessions ----------------------------------------------------------

int32_t run(uint32_t session, uint32_t attribute) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::Run(session, attribute);
}

int32_t abortSession(uint32_t session) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::Abort(session);
}

// ---- registers -----------------------------------------------------------

int32_t read16(uint32_t session, uint32_t offset, uint16_t* value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::ReadU16(routedSession(session), offset, value);
}

int32_t read32(uint32_t session, uint32_t offset, uint32_t* value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::ReadU32(routedSession(session), offset, value);
}

// The lower library stores the register's 32-bit pattern straight into the
// caller's float; this unit never reads or writes it as either type.
int32_t readSgl(uint32_t session, uint32_t offset, float* value) {
  static_assert(sizeof(float) == sizeof(uint32_t), "a single travels as its 32-bit pattern");
  // cppcheck-suppress invalidPointerCast ; the float is the target of the 32-bit register read, as its bit pattern
  return read32(session, offset, reinterpret_cast<uint32_t*>(value));
}

int32_t write16(uint32_t session, uint32_t offset, uint16_t value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::WriteU16(routedSession(session), offset, value);
}

int32_t write32(uint32_t session, uint32_t offset, uint32_t value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::WriteU32(routedSession(session), offset, value);
}

int32_t writeSgl(uint32_t session, uint32_t offset, float value) {
  uint32_t pattern = 0;
  std::memcpy(&pattern, &value, sizeof pattern);
  return write32(session, offset, pattern);
}

// ViDazoHx_ReadArray32()
// An absent handle is refused before anything else, the session rule
// included. From there on the element count is always set from the outcome,
// also for a refused session, which is never resized or forwarded.
int32_t readArray32(uint32_t session, uint32_t offset, uint32_t count, ViDazoHx_ArrayHandle array) {
  if (isAbsentArray(array)) return StatusInvalidParameter;

  int32_t status = StatusSuccess;
  if (isUnsupportedSession(session)) {
    mergeStatus(&status, StatusSessionNotSupported);
  } else {
    status = hostResizeArray(kRegisterArrayType, &array, count);
    if (status == StatusSuccess) {
      auto* elements = static_cast<uint32_t*>(arrayElements(array, kRegisterArrayType));
      mergeStatus(&status, lower::ReadArrayU32(routedSession(session), offset, elements, count));
    }
  }
  setReadCount(array, status, count);
  return status;
}

// ViDazoHx_WriteArray32(): the array's own count and storage go to the lower
// library as they are; nothing is resized.
int32_t writeArray32(uint32_t session, uint32_t offset, ViDazoHx_ArrayHandle array) {
  if (isAbsentArray(array)) return StatusInvalidParameter;
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  const auto* elements = static_cast<const uint32_t*>(arrayElements(array, kRegisterArrayType));
  return lower::WriteArrayU32(routedSession(session), offset, elements, static_cast<uint32_t>((*array)->count));
}

// ---- IRQs ----------------------------------------------------------------

// The count only announces contexts for sessions opened later; the session
// and context arguments are part of the host's signature and are not used.
int32_t reserveIrqContext(uint32_t, ViDazoHx_IrqContext*) {
  addReservedIrqContexts(1);
  return StatusSuccess;
}

int32_t unreserveIrqContext(uint32_t, ViDazoHx_IrqContext*) {
  addReservedIrqContexts(-1);
  return StatusSuccess;
}

// The host holds the context in its own variable and passes its address;
// the lower library wants the value. An absent pointer is refused rather
// than read.
int32_t waitOnIrqs(uint32_t session, ViDazoHx_IrqContext* context, uint32_t irqMask, uint32_t timeout,
                   uint32_t* irqsAsserted, uint8_t* timedOut) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (context == nullptr) return StatusInvalidParameter;
  return lower::WaitOnIrqs(session, *context, irqMask, timeout, irqsAsserted, timedOut);
}

int32_t acknowledgeIrqs(uint32_t session, uint32_t irqs) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::AcknowledgeIrqs(session, irqs);
}

// ---- DMA FIFOs -----------------------------------------------------------

int32_t configureFifo(uint32_t session, uint32_t fifo, uint32_t depth) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::ConfigureFifo(routedSession(session), fifo, depth);
}

// The actual depth goes through a local so that the caller's output is
// written exactly once, whatever the lower library did with it.
int32_t configureFifo2(uint32_t session, uint32_t fifo, uint32_t requestedDepth, uint32_t* actualDepth) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (actualDepth == nullptr) return StatusInvalidParameter;
  uint32_t depth = 0;
  int32_t status = StatusSuccess;
  mergeStatus(&status, lower::ConfigureFifo2(routedSession(session), fifo, requestedDepth, &depth));
  *actualDepth = depth;
  return status;
}

int32_t stopFifo(uint32_t session, uint32_t fifo) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::StopFifo(routedSession(session), fifo);
}

int32_t getPeerToPeerFifoEndpoint(uint32_t session, uint32_t fifo, uint32_t* endpoint) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::GetPeerToPeerFifoEndpoint(routedSession(session), fifo, endpoint);
}

// The resize uses the type code as received, before it is checked: the host
// decides what it makes of a code it does not know. The elements-remaining
// output is written whenever present, also on failure; when the lower
// library was not called it receives 0.
int32_t readFifoScalar(uint32_t session, uint32_t fifo, uint32_t count, int32_t typeCode, int32_t, uint32_t timeout,
                       ViDazoHx_ArrayHandle array, uint32_t* remaining) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (isAbsentArray(array)) return StatusInvalidParameter;

  int32_t status = hostResizeArray(typeCode, &array, count);
  uint32_t elementsRemaining = 0;
  if (!isValidTypeCode(typeCode)) {
    status = StatusInvalidParameter;
  } else if (status == StatusSuccess) {
    mergeStatus(&status, lower::readFifo(typeCode, routedSession(session), fifo, arrayElements(array, typeCode), count,
                                         timeout, &elementsRemaining));
  }
  copyRemaining(&status, remaining, elementsRemaining, kReadFifoRemainingLine);
  setReadCount(array, status, count);
  return status;
}

int32_t writeFifoScalar(uint32_t session, uint32_t fifo, ViDazoHx_ArrayHandle array, int32_t typeCode, int32_t,
                        uint32_t timeout, uint32_t* remaining) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (isAbsentArray(array)) return StatusInvalidParameter;

  const uint32_t count = static_cast<uint32_t>((*array)->count);
  uint32_t elementsRemaining = 0;
  int32_t status = StatusInvalidParameter;
  if (isValidTypeCode(typeCode)) {
    status = lower::writeFifo(typeCode, routedSession(session), fifo, arrayElements(array, typeCode), count, timeout,
                              &elementsRemaining);
  }
  copyRemaining(&status, remaining, elementsRemaining, kWriteFifoRemainingLine);
  return status;
}

// ---- resources -----------------------------------------------------------

// The broker knows sessions without the library's routing bits.
int32_t getResources(uint32_t session, char* names, uint32_t capacity, uint32_t* count) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return VoKelSrv_fpga_GetResources(session & ~kSessionBrokerMask, names, capacity, count);
}

int32_t getResourceName(uint32_t index, char* name, uint32_t capacity) {
  return VoKelSrv_broker_GetResourceName(index, name, capacity);
}

int32_t getResourceIndex(const char* name, uint32_t* index) { return VoKelSrv_broker_GetResourceIndex(name, index); }

int32_t releaseResourceIndex(uint32_t index) { return VoKelSrv_broker_ReleaseResourceIndex(index); }

// Not in the entry table: linked at build time, so there is no slot to find empty.
int32_t addResources(const char* const* names, uint32_t count) { return ViDazoDll_AddResources(names, count); }

}  // namespace

// ---- the exports: traced, or straight to the work above ----------------

extern "C" VIDAZOHX_API int32_t ViDazoHx_Run(uint32_t session, uint32_t attribute) {
  if (traceIsOn()) return traceCall<kTraceRun, run>(session, attribute);
  return run(session, attribute);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Abort(uint32_t session) {
  if (traceIsOn()) return traceCall<kTraceAbort, abortSession>(session);
  return abortSession(session);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Read16(uint32_t session, uint32_t offset, uint16_t* value) {
  if (traceIsOn()) return traceCall<kTraceRead16, read16>(session, offset, value);
  return read16(session, offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Read32(uint32_t session, uint32_t offset, uint32_t* value) {
  if (traceIsOn()) return traceCall<kTraceRead32, read32>(session, offset, value);
  return read32(session, offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ReadSgl(uint32_t session, uint32_t offset, float* value) {
  if (traceIsOn()) return traceCall<kTraceReadSgl, readSgl>(session, offset, value);
  return readSgl(session, offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Write16(uint32_t session, uint32_t offset, uint16_t value) {
  if (traceIsOn()) return traceCall<kTraceWrite16, write16>(session, offset, value);
  return write16(session, offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Write32(uint32_t session, uint32_t offset, uint32_t value) {
  if (traceIsOn()) return traceCall<kTraceWrite32, write32>(session, offset, value);
  return write32(session, offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_WriteSgl(uint32_t session, uint32_t offset, float value) {
  if (traceIsOn())
    return traceCall<kTraceWriteSgl, writeSgl>(session, offset, value);
  return writeSgl(session, offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ReadArray32(uint32_t session, uint32_t offset, uint32_t count,
                                                     ViDazoHx_ArrayHandle array) {
  if (traceIsOn())
    return traceCall<kTraceReadArray32, readArray32>(session, offset, count, array);
  return readArray32(session, offset, count, array);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_WriteArray32(uint32_t session, uint32_t offset, ViDazoHx_ArrayHandle array) {
  if (traceIsOn())
    return traceCall<kTraceWriteArray32, writeArray32>(session, offset, array);
  return writeArray32(session, offset, array);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ReserveIrqContext(uint32_t session, ViDazoHx_IrqContext* context) {
  if (traceIsOn())
    return traceCall<kTraceReserveIrqContext, reserveIrqContext>(session, context);
  return reserveIrqContext(session, context);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_UnreserveIrqContext(uint32_t session, ViDazoHx_IrqContext* context) {
  if (traceIsOn())
    return traceCall<kTraceUnreserveIrqContext, unreserveIrqContext>(session, context);
  return unreserveIrqContext(session, context);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_WaitOnIrqs(uint32_t session, ViDazoHx_IrqContext* context, uint32_t irqMask,
                                                    uint32_t timeout, uint32_t* irqsAsserted, uint8_t* timedOut) {
  if (traceIsOn())
    return traceCall<kTraceWaitOnIrqs, waitOnIrqs>(session, context, irqMask, timeout, irqsAsserted, timedOut);
  return waitOnIrqs(session, context, irqMask, timeout, irqsAsserted, timedOut);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_AcknowledgeIrqs(uint32_t session, uint32_t irqs) {
  if (traceIsOn())
    return traceCall<kTraceAcknowledgeIrqs, acknowledgeIrqs>(session, irqs);
  return acknowledgeIrqs(session, irqs);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo(uint32_t session, uint32_t fifo, uint32_t depth) {
  if (traceIsOn())
    return traceCall<kTraceConfigureFifo, configureFifo>(session, fifo, depth);
  return configureFifo(session, fifo, depth);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo2(uint32_t session, uint32_t fifo, uint32_t requestedDepth,
                                                        uint32_t* actualDepth) {
  if (traceIsOn())
    return traceCall<kTraceConfigureFifo2, configureFifo2>(session, fifo, requestedDepth, actualDepth);
  return configureFifo2(session, fifo, requestedDepth, actualDepth);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_StopFifo(uint32_t session, uint32_t fifo) {
  if (traceIsOn()) return traceCall<kTraceStopFifo, stopFifo>(session, fifo);
  return stopFifo(session, fifo);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_GetPeerToPeerFifoEndpoint(uint32_t session, uint32_t fifo,
                                                                   uint32_t* endpoint) {
  if (traceIsOn())
    return traceCall<kTraceGetPeerToPeerFifoEndpoint, getPeerToPeerFifoEndpoint>(session, fifo, endpoint);
  return getPeerToPeerFifoEndpoint(session, fifo, endpoint);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ReadFifoScalar(uint32_t session, uint32_t fifo, uint32_t count,
                                                        int32_t typeCode, int32_t ignored, uint32_t timeout,
                                                        ViDazoHx_ArrayHandle array, uint32_t* remaining) {
  if (traceIsOn())
    return traceCall<kTraceReadFifoScalar, readFifoScalar>(session, fifo, count, typeCode, ignored, timeout, array, remaining);
  return readFifoScalar(session, fifo, count, typeCode, ignored, timeout, array, remaining);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_WriteFifoScalar(uint32_t session, uint32_t fifo, ViDazoHx_ArrayHandle array,
                                                         int32_t typeCode, int32_t ignored, uint32_t timeout,
                                                         uint32_t* remaining) {
  if (traceIsOn())
    return traceCall<kTraceWriteFifoScalar, writeFifoScalar>(session, fifo, array, typeCode, ignored, timeout, remaining);
  return writeFifoScalar(session, fifo, array, typeCode, ignored, timeout, remaining);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_GetResources(uint32_t session, char* names, uint32_t capacity,
                                                      uint32_t* count) {
  if (traceIsOn())
    return traceCall<kTraceGetResources, getResources>(session, names, capacity, count);
  return getResources(session, names, capacity, count);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_GetResourceName(uint32_t index, char* name, uint32_t capacity) {
  if (traceIsOn())
    return traceCall<kTraceGetResourceName, getResourceName>(index, name, capacity);
  return getResourceName(index, name, capacity);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_GetResourceIndex(const char* name, uint32_t* index) {
  if (traceIsOn()) return traceCall<kTraceGetResourceIndex, getResourceIndex>(name, index);
  return getResourceIndex(name, index);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ReleaseResourceIndex(uint32_t index) {
  if (traceIsOn()) return traceCall<kTraceReleaseResourceIndex, releaseResourceIndex>(index);
  return releaseResourceIndex(index);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_AddResources(const char* const* names, uint32_t count) {
  if (traceIsOn()) return traceCall<kTraceAddResources, addResources>(names, count);
  return addResources(names, count);
}
