// forwarding.h: the forwarding functions, one per entry-table slot that the
// library calls, and the dispatch by element type code built on them.
//
// A forwarding function reads its slot; an empty slot (lower library not
// bound) gives StatusLibraryNotOpen without calling anything; otherwise it
// calls the slot with exactly its own arguments and returns the result
// unchanged. Session bits are the caller's business.
#pragma once

#include <cstdint>

#include "ViDazo/ViDazoDll.h"

namespace lower {

int32_t Open(const char* bitfile, const char* signature, const char* resource, uint32_t attribute,
             uint32_t* session);
int32_t Close(uint32_t session, uint32_t attribute);
int32_t Run(uint32_t session, uint32_t attribute);
int32_t Abort(uint32_t session);
int32_t Reset(uint32_t session);
int32_t Download(uint32_t session);
int32_t ReadU16(uint32_t session, uint32_t offset, uint16_t* value);
int32_t ReadU32(uint32_t session, uint32_t offset, uint32_t* value);
int32_t WriteU16(uint32_t session, uint32_t offset, uint16_t value);
int32_t WriteU32(uint32_t session, uint32_t offset, uint32_t value);
int32_t ReadArrayU32(uint32_t session, uint32_t offset, uint32_t* values, uint32_t count);
int32_t WriteArrayU32(uint32_t session, uint32_t offset, const uint32_t* values, uint32_t count);
int32_t ReserveIrqContext(uint32_t session, ViDazoDll_IrqContext* context);
int32_t WaitOnIrqs(uint32_t session, ViDazoDll_IrqContext context, uint32_t irqMask, uint32_t timeout,
                   uint32_t* irqsAsserted, ViDazoDll_Bool* timedOut);
int32_t AcknowledgeIrqs(uint32_t session, uint32_t irqs);
int32_t ConfigureFifo(uint32_t session, uint32_t fifo, uint32_t depth);
int32_t ConfigureFifo2(uint32_t session, uint32_t fifo, uint32_t requestedDepth, uint32_t* actualDepth);
int32_t StartFifo(uint32_t session, uint32_t fifo);
int32_t StopFifo(uint32_t session, uint32_t fifo);
int32_t ReleaseFifoElements(uint32_t session, uint32_t fifo, uint32_t count);
int32_t GetPeerToPeerFifoEndpoint(uint32_t session, uint32_t fifo, uint32_t* endpoint);

// FIFO element dispatch by host type code (1 to 8; see ViDazoHx.h). An
// invalid code gives StatusInvalidParameter and calls nothing.
int32_t readFifo(int32_t typeCode, uint32_t session, uint32_t fifo, void* data, uint32_t count, uint32_t timeout,
                 uint32_t* remaining);
int32_t writeFifo(int32_t typeCode, uint32_t session, uint32_t fifo, const void* data, uint32_t count,
                  uint32_t timeout, uint32_t* remaining);

enum class tFifoDirection { read, write };
int32_t acquireFifoElements(tFifoDirection direction, int32_t typeCode, uint32_t session, uint32_t fifo,
                            void** elements, uint32_t count, uint32_t timeout, uint32_t* acquired,
                            uint32_t* remaining);

}  // namespace lower

// Element size in bytes for a host type code, 0 for an invalid code.
uint32_t elementSizeOf(int32_t typeCode);
// Offset of the elements in a host array block: 8 for the 64-bit codes, else 4.
uint32_t arrayDataOffset(int32_t typeCode);

// The reserved IRQ context count: changed only by atomic add and subtract.
int32_t reservedIrqContextCount();
void addReservedIrqContexts(int32_t delta);
void resetReservedIrqContexts();
