/*
 * Exports.cpp: the ViDazoDll_ functions of the simulated lower library.
 *
 * Each export only routes its arguments to the target model through
 * tracedCall(), which applies fault injection, keeps exceptions inside the
 * library and journals the call with the arguments exactly as received.
 */
#include "CallTrace.h"
#include "Target.h"
#include "VoKelSrv/VoKelSrvSim.h"

using namespace vidazosim;

extern "C" {

int32_t ViDazoDll_Open(const char* bitfile, const char* signature, const char* resource, uint32_t attribute,
                       ViDazoDll_Session* session) {
  return tracedCall(
      fn_ViDazoDll_Open, [&] { return openSession(bitfile, signature, resource, attribute, session); }, bitfile,
      signature, resource, attribute, session);
}

int32_t ViDazoDll_Close(ViDazoDll_Session session, uint32_t attribute) {
  return tracedCall(fn_ViDazoDll_Close, [&] { return closeSession(session); }, session, attribute);
}

int32_t ViDazoDll_Run(ViDazoDll_Session session, uint32_t attribute) {
  return tracedCall(
      fn_ViDazoDll_Run, [&] { return setTargetState(session, ViDazoSim_StateRunning); }, session, attribute);
}

int32_t ViDazoDll_Abort(ViDazoDll_Session session) {
  return tracedCall(fn_ViDazoDll_Abort, [&] { return setTargetState(session, ViDazoSim_StateAborted); }, session);
}

int32_t ViDazoDll_Reset(ViDazoDll_Session session) {
  return tracedCall(fn_ViDazoDll_Reset, [&] { return setTargetState(session, ViDazoSim_StateReset); }, session);
}

int32_t ViDazoDll_Download(ViDazoDll_Session session) {
  return tracedCall(
      fn_ViDazoDll_Download, [&] { return setTargetState(session, ViDazoSim_StateDownloaded); }, session);
}

int32_t ViDazoDll_OpenResource(ViDazoDll_Session parent, const char* resource, uint32_t attribute,
                               ViDazoDll_Session* session) {
  return tracedCall(
      fn_ViDazoDll_OpenResource, [&] { return openResourceSession(parent, resource, attribute, session); }, parent,
      resource, attribute, session);
}

int32_t ViDazoDll_AddResources(const char* const* names, uint32_t count) {
  return tracedCall(
      fn_ViDazoDll_AddResources, [&] { return VoKelSrvSim_AddResources(names, count); }, names, count);
}

// NOLINTBEGIN(bugprone-macro-parentheses): Type is a type name, which parentheses would not compile
#define VIDAZOSIM_DEFINE_REGISTER(Suffix, Type)                                                                   \
  int32_t ViDazoDll_Read##Suffix(ViDazoDll_Session session, uint32_t offset, Type* value) {                       \
    return tracedCall(                                                                                            \
        fn_ViDazoDll_Read##Suffix,                                                                                \
        [&] { return accessRegisters(session, offset, value, 1, ViDazoSim_Type##Suffix, false); }, session, offset, \
        value);                                                                                                   \
  }                                                                                                               \
  int32_t ViDazoDll_Write##Suffix(ViDazoDll_Session session, uint32_t offset, Type value) {                       \
    return tracedCall(                                                                                            \
        fn_ViDazoDll_Write##Suffix,                                                                               \
        [&] { return accessRegisters(session, offset, &value, 1, ViDazoSim_Type##Suffix, true); }, session, offset, \
        value);                                                                                                   \
  }                                                                                                               \
  int32_t ViDazoDll_ReadArray##Suffix(ViDazoDll_Session session, uint32_t offset, Type* values, uint32_t count) { \
    return tracedCall(                                                                                            \
        fn_ViDazoDll_ReadArray##Suffix,                                                                           \
        [&] { return accessRegisters(session, offset, values, count, ViDazoSim_Type##Suffix, false); }, session,  \
        offset, values, count);                                                                                   \
  }                                                                                                               \
  int32_t ViDazoDll_WriteArray##Suffix(ViDazoDll_Session session, uint32_t offset, const Type* values,            \
                                       uint32_t count) {                                                          \
    return tracedCall(                                                                                            \
        fn_ViDazoDll_WriteArray##Suffix,                                                                          \
        [&] {                                                                                                     \
          return accessRegisters(session, offset, const_cast<Type*>(values), count, ViDazoSim_Type##Suffix, true); \
        },                                                                                                        \
        session, offset, values, count);                                                                          \
  }

#define VIDAZOSIM_DEFINE_FIFO(Suffix, Type)                                                                          \
  int32_t ViDazoDll_ReadFifo##Suffix(ViDazoDll_Session session, uint32_t fifo, Type* data, uint32_t count,           \
                                     uint32_t timeout, uint32_t* remaining) {                                        \
    return tracedCall(                                                                                               \
        fn_ViDazoDll_ReadFifo##Suffix,                                                                               \
        [&] { return readFifo(session, fifo, ViDazoSim_Type##Suffix, data, count, timeout, remaining); }, session,   \
        fifo, data, count, timeout, remaining);                                                                      \
  }                                                                                                                  \
  int32_t ViDazoDll_WriteFifo##Suffix(ViDazoDll_Session session, uint32_t fifo, const Type* data, uint32_t count,    \
                                      uint32_t timeout, uint32_t* remaining) {                                       \
    return tracedCall(                                                                                               \
        fn_ViDazoDll_WriteFifo##Suffix,                                                                              \
        [&] { return writeFifo(session, fifo, ViDazoSim_Type##Suffix, data, count, timeout, remaining); }, session,  \
        fifo, data, count, timeout, remaining);                                                                      \
  }                                                                                                                  \
  int32_t ViDazoDll_AcquireFifoReadElements##Suffix(ViDazoDll_Session session, uint32_t fifo, Type** elements,      \
                                                    uint32_t count, uint32_t timeout, uint32_t* acquired,            \
                                                    uint32_t* remaining) {                                           \
    return tracedCall(                                                                                               \
        fn_ViDazoDll_AcquireFifoReadElements##Suffix,                                                                \
        [&] { return acquireTyped(session, fifo, ViDazoSim_Type##Suffix, true, elements, count, timeout, acquired,   \
                                  remaining); },                                                                     \
        session, fifo, elements, count, timeout, acquired, remaining);                                               \
  }                                                                                                                  \
  int32_t ViDazoDll_AcquireFifoWriteElements##Suffix(ViDazoDll_Session session, uint32_t fifo, Type** elements,     \
                                                     uint32_t count, uint32_t timeout, uint32_t* acquired,           \
                                                     uint32_t* remaining) {                                          \
    return tracedCall(                                                                                               \
        fn_ViDazoDll_AcquireFifoWriteElements##Suffix,                                                               \
        [&] { return acquireTyped(session, fifo, ViDazoSim_Type##Suffix, false, elements, count, timeout, acquired,  \
                                  remaining); },                                                                     \
        session, fifo, elements, count, timeout, acquired, remaining);                                               \
  }
// NOLINTEND(bugprone-macro-parentheses)

}  // extern "C"

namespace {

// Acquires through the untyped model and hands the pointer out as the
// caller's element type.
template <typename Type>
int32_t acquireTyped(uint32_t session, uint32_t fifo, uint32_t type, bool read, Type** elements, uint32_t count,
                     uint32_t timeout, uint32_t* acquired, uint32_t* remaining) {
  void* lent = nullptr;
  const int32_t status = acquireElements(session, fifo, type, read, elements != nullptr ? &lent : nullptr, count,
                                         timeout, acquired, remaining);
  if (elements != nullptr) *elements = static_cast<Type*>(lent);
  return status;
}

}  // namespace

extern "C" {

VIDAZODLL_FOR_EACH_TYPE(VIDAZOSIM_DEFINE_REGISTER)
VIDAZODLL_FOR_EACH_TYPE(VIDAZOSIM_DEFINE_FIFO)

int32_t ViDazoDll_ReserveIrqContext(ViDazoDll_Session session, ViDazoDll_IrqContext* context) {
  return tracedCall(
      fn_ViDazoDll_ReserveIrqContext, [&] { return reserveIrqContext(session, context); }, session, context);
}

int32_t ViDazoDll_UnreserveIrqContext(ViDazoDll_Session session, ViDazoDll_IrqContext context) {
  return tracedCall(
      fn_ViDazoDll_UnreserveIrqContext, [&] { return unreserveIrqContext(session, context); }, session, context);
}

int32_t ViDazoDll_WaitOnIrqs(ViDazoDll_Session session, ViDazoDll_IrqContext context, uint32_t irqMask,
                             uint32_t timeout, uint32_t* irqsAsserted, ViDazoDll_Bool* timedOut) {
  return tracedCall(
      fn_ViDazoDll_WaitOnIrqs, [&] { return waitOnIrqs(session, irqMask, timeout, irqsAsserted, timedOut); },
      session, context, irqMask, timeout, irqsAsserted, timedOut);
}

int32_t ViDazoDll_AcknowledgeIrqs(ViDazoDll_Session session, uint32_t irqs) {
  return tracedCall(fn_ViDazoDll_AcknowledgeIrqs, [&] { return acknowledgeIrqs(session, irqs); }, session, irqs);
}

int32_t ViDazoDll_ConfigureFifo(ViDazoDll_Session session, uint32_t fifo, uint32_t depth) {
  return tracedCall(
      fn_ViDazoDll_ConfigureFifo, [&] { return configureFifo(session, fifo, depth, nullptr); }, session, fifo, depth);
}

int32_t ViDazoDll_ConfigureFifo2(ViDazoDll_Session session, uint32_t fifo, uint32_t requestedDepth,
                                 uint32_t* actualDepth) {
  return tracedCall(
      fn_ViDazoDll_ConfigureFifo2, [&] { return configureFifo(session, fifo, requestedDepth, actualDepth); }, session,
      fifo, requestedDepth, actualDepth);
}

int32_t ViDazoDll_StartFifo(ViDazoDll_Session session, uint32_t fifo) {
  return tracedCall(fn_ViDazoDll_StartFifo, [&] { return startFifo(session, fifo, true); }, session, fifo);
}

int32_t ViDazoDll_StopFifo(ViDazoDll_Session session, uint32_t fifo) {
  return tracedCall(fn_ViDazoDll_StopFifo, [&] { return startFifo(session, fifo, false); }, session, fifo);
}

int32_t ViDazoDll_ReleaseFifoElements(ViDazoDll_Session session, uint32_t fifo, uint32_t count) {
  return tracedCall(
      fn_ViDazoDll_ReleaseFifoElements, [&] { return releaseElements(session, fifo, count); }, session, fifo, count);
}

int32_t ViDazoDll_GetPeerToPeerFifoEndpoint(ViDazoDll_Session session, uint32_t fifo, uint32_t* endpoint) {
  return tracedCall(
      fn_ViDazoDll_GetPeerToPeerFifoEndpoint, [&] { return peerToPeerEndpoint(session, fifo, endpoint); }, session,
      fifo, endpoint);
}

#ifndef VIDAZOSIM_WITHOUT_BITFILE_CONTENTS
// Left out of the missing-entry variant, which exists to prove that a lower
// library lacking one entry point cannot be bound.
int32_t ViDazoDll_GetBitfileContents(ViDazoDll_Session session, const char** contents, uint32_t* length) {
  return tracedCall(
      fn_ViDazoDll_GetBitfileContents, [&] { return bitfileContents(session, contents, length); }, session, contents,
      length);
}
#endif

}  // extern "C"
