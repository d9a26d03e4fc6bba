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

#include <cstring>

#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrv.h"
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

}  // namespace

// ---- sessions ----------------------------------------------------------

extern "C" VIDAZOHX_API int32_t ViDazoHx_Run(uint32_t session, uint32_t attribute) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::Run(session, attribute);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Abort(uint32_t session) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::Abort(session);
}

// ---- registers -----------------------------------------------------------

extern "C" VIDAZOHX_API int32_t ViDazoHx_Read16(uint32_t session, uint32_t offset, uint16_t* value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::ReadU16(routedSession(session), offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Read32(uint32_t session, uint32_t offset, uint32_t* value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::ReadU32(routedSession(session), offset, value);
}

// The lower library stores the register's 32-bit pattern straight into the
// caller's float; this unit never reads or writes it as either type.
extern "C" VIDAZOHX_API int32_t ViDazoHx_ReadSgl(uint32_t session, uint32_t offset, float* value) {
  static_assert(sizeof(float) == sizeof(uint32_t), "a single travels as its 32-bit pattern");
  // cppcheck-suppress invalidPointerCast ; the float is the target of the 32-bit register read, as its bit pattern
  return ViDazoHx_Read32(session, offset, reinterpret_cast<uint32_t*>(value));
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Write16(uint32_t session, uint32_t offset, uint16_t value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::WriteU16(routedSession(session), offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_Write32(uint32_t session, uint32_t offset, uint32_t value) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::WriteU32(routedSession(session), offset, value);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_WriteSgl(uint32_t session, uint32_t offset, float value) {
  uint32_t pattern = 0;
  std::memcpy(&pattern, &value, sizeof pattern);
  return ViDazoHx_Write32(session, offset, pattern);
}

// ViDazoHx_ReadArray32()
// An absent handle is refused before anything else, the session rule
// included. From there on the element count is always set from the outcome,
// also for a refused session, which is never resized or forwarded.
extern "C" VIDAZOHX_API int32_t ViDazoHx_ReadArray32(uint32_t session, uint32_t offset, uint32_t count,
                                                    ViDazoHx_ArrayHandle array) {
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
extern "C" VIDAZOHX_API int32_t ViDazoHx_WriteArray32(uint32_t session, uint32_t offset,
                                                     ViDazoHx_ArrayHandle array) {
  if (isAbsentArray(array)) return StatusInvalidParameter;
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  const auto* elements = static_cast<const uint32_t*>(arrayElements(array, kRegisterArrayType));
  return lower::WriteArrayU32(routedSession(session), offset, elements, static_cast<uint32_t>((*array)->count));
}

// ---- IRQs ----------------------------------------------------------------

// The count only announces contexts for sessions opened later; the session
// and context arguments are part of the host's signature and are not used.
extern "C" VIDAZOHX_API int32_t ViDazoHx_ReserveIrqContext(uint32_t, ViDazoHx_IrqContext*) {
  addReservedIrqContexts(1);
  return StatusSuccess;
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_UnreserveIrqContext(uint32_t, ViDazoHx_IrqContext*) {
  addReservedIrqContexts(-1);
  return StatusSuccess;
}

// The host holds the context in its own variable and passes its address;
// the lower library wants the value. An absent pointer is refused rather
// than read.
extern "C" VIDAZOHX_API int32_t ViDazoHx_WaitOnIrqs(uint32_t session, ViDazoHx_IrqContext* context,
                                                   uint32_t irqMask, uint32_t timeout, uint32_t* irqsAsserted,
                                                   uint8_t* timedOut) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (context == nullptr) return StatusInvalidParameter;
  return lower::WaitOnIrqs(session, *context, irqMask, timeout, irqsAsserted, timedOut);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_AcknowledgeIrqs(uint32_t session, uint32_t irqs) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::AcknowledgeIrqs(session, irqs);
}

// ---- DMA FIFOs -----------------------------------------------------------

extern "C" VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo(uint32_t session, uint32_t fifo, uint32_t depth) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::ConfigureFifo(routedSession(session), fifo, depth);
}

// The actual depth goes through a local so that the caller's output is
// written exactly once, whatever the lower library did with it.
extern "C" VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo2(uint32_t session, uint32_t fifo, uint32_t requestedDepth,
                                                       uint32_t* actualDepth) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (actualDepth == nullptr) return StatusInvalidParameter;
  uint32_t depth = 0;
  int32_t status = StatusSuccess;
  mergeStatus(&status, lower::ConfigureFifo2(routedSession(session), fifo, requestedDepth, &depth));
  *actualDepth = depth;
  return status;
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_StopFifo(uint32_t session, uint32_t fifo) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::StopFifo(routedSession(session), fifo);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_GetPeerToPeerFifoEndpoint(uint32_t session, uint32_t fifo,
                                                                  uint32_t* endpoint) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return lower::GetPeerToPeerFifoEndpoint(routedSession(session), fifo, endpoint);
}

// The resize uses the type code as received, before it is checked: the host
// decides what it makes of a code it does not know. The elements-remaining
// output is written whenever present, also on failure; when the lower
// library was not called it receives 0.
extern "C" VIDAZOHX_API int32_t ViDazoHx_ReadFifoScalar(uint32_t session, uint32_t fifo, uint32_t count,
                                                       int32_t typeCode, int32_t, uint32_t timeout,
                                                       ViDazoHx_ArrayHandle array, uint32_t* remaining) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (isAbsentArray(array)) return StatusInvalidParameter;

  int32_t status = hostResizeArray(typeCode, &array, count);
  uint32_t elementsRemaining = 0;
  if (!isValidTypeCode(typeCode)) {
    status = StatusInvalidParameter;
  } else if (status == StatusSuccess) {
    mergeStatus(&status, lower::readFifo(typeCode, routedSession(session), fifo, arrayElements(array, typeCode),
                                         count, timeout, &elementsRemaining));
  }
  copyRemaining(&status, remaining, elementsRemaining, kReadFifoRemainingLine);
  setReadCount(array, status, count);
  return status;
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_WriteFifoScalar(uint32_t session, uint32_t fifo,
                                                        ViDazoHx_ArrayHandle array, int32_t typeCode, int32_t,
                                                        uint32_t timeout, uint32_t* remaining) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  if (isAbsentArray(array)) return StatusInvalidParameter;

  const uint32_t count = static_cast<uint32_t>((*array)->count);
  uint32_t elementsRemaining = 0;
  int32_t status = StatusInvalidParameter;
  if (isValidTypeCode(typeCode)) {
    status = lower::writeFifo(typeCode, routedSession(session), fifo, arrayElements(array, typeCode), count,
                              timeout, &elementsRemaining);
  }
  copyRemaining(&status, remaining, elementsRemaining, kWriteFifoRemainingLine);
  return status;
}

// ---- resources -----------------------------------------------------------

// The broker knows sessions without the library's routing bits.
extern "C" VIDAZOHX_API int32_t ViDazoHx_GetResources(uint32_t session, char* names, uint32_t capacity,
                                                     uint32_t* count) {
  if (isUnsupportedSession(session)) return StatusSessionNotSupported;
  return VoKelSrv_fpga_GetResources(session & ~kSessionBrokerMask, names, capacity, count);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_GetResourceName(uint32_t index, char* name, uint32_t capacity) {
  return VoKelSrv_broker_GetResourceName(index, name, capacity);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_GetResourceIndex(const char* name, uint32_t* index) {
  return VoKelSrv_broker_GetResourceIndex(name, index);
}

extern "C" VIDAZOHX_API int32_t ViDazoHx_ReleaseResourceIndex(uint32_t index) {
  return VoKelSrv_broker_ReleaseResourceIndex(index);
}

// Not in the entry table: linked at build time, so there is no slot to find empty.
extern "C" VIDAZOHX_API int32_t ViDazoHx_AddResources(const char* const* names, uint32_t count) {
  return ViDazoDll_AddResources(names, count);
}
