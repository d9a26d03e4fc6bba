/*
 * ViDazoDll.h: declarations of the lower FPGA interface library.
 *
 * This header is the one contract between libViDazoHx and the lower library
 * (libViDazo.so, soname libViDazo.so.inherit). The adapter derives its entry
 * table's function types from these declarations, and the simulated target
 * under sim/ implements exactly them, so both sides agree by construction.
 *
 * Conventions
 *   - Every function returns an int32_t status: 0 success, negative error,
 *     positive warning.
 *   - The first argument is a session value. Bit 0x4000 of a session value is
 *     a routing hint: a function finds the same session with or without it.
 *   - Timeouts are milliseconds; 0 means "do not wait", 0xFFFFFFFF
 *     (ViDazoDll_InfiniteTimeout) means "no limit".
 *   - Every argument that carries an address has a pointer type, so the same
 *     source is right on 32-bit and 64-bit targets.
 */
#ifndef VIDAZO_VIDAZODLL_H
#define VIDAZO_VIDAZODLL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VIDAZODLL_API __attribute__((visibility("default")))
#else
#define VIDAZODLL_API
#endif

typedef uint32_t ViDazoDll_Session;
typedef uint8_t ViDazoDll_Bool;
/* Opaque IRQ context. Reserving with a null output pointer is allowed. */
typedef void* ViDazoDll_IrqContext;

#define ViDazoDll_InfiniteTimeout 0xFFFFFFFFu

/* Lower-library statuses that callers rely on. */
#define ViDazoDll_StatusFifoTimeout (-50400)    /* a FIFO wait ran out of time */
#define ViDazoDll_StatusAcquireTimedOut (-61219) /* a region request cannot be met until elements are released */

/* ---- sessions -------------------------------------------------------- */
VIDAZODLL_API int32_t ViDazoDll_Open(const char* bitfile, const char* signature, const char* resource,
                                     uint32_t attribute, ViDazoDll_Session* session);
VIDAZODLL_API int32_t ViDazoDll_Close(ViDazoDll_Session session, uint32_t attribute);
VIDAZODLL_API int32_t ViDazoDll_Run(ViDazoDll_Session session, uint32_t attribute);
VIDAZODLL_API int32_t ViDazoDll_Abort(ViDazoDll_Session session);
VIDAZODLL_API int32_t ViDazoDll_Reset(ViDazoDll_Session session);
VIDAZODLL_API int32_t ViDazoDll_Download(ViDazoDll_Session session);
/* Opens a resource session under an open parent (0: no parent). Not in the entry table. */
VIDAZODLL_API int32_t ViDazoDll_OpenResource(ViDazoDll_Session parent, const char* resource, uint32_t attribute,
                                             ViDazoDll_Session* session);
/* Adds `count` resource names to the broker's resource table. Not in the entry table. */
VIDAZODLL_API int32_t ViDazoDll_AddResources(const char* const* names, uint32_t count);

/* ---- registers ------------------------------------------------------- */
/* NOLINTBEGIN(bugprone-macro-parentheses): Type is a type name, which parentheses would not compile */
#define VIDAZODLL_DECLARE_REGISTER(Suffix, Type)                                                          \
  VIDAZODLL_API int32_t ViDazoDll_Read##Suffix(ViDazoDll_Session session, uint32_t offset, Type* value);   \
  VIDAZODLL_API int32_t ViDazoDll_Write##Suffix(ViDazoDll_Session session, uint32_t offset, Type value);   \
  VIDAZODLL_API int32_t ViDazoDll_ReadArray##Suffix(ViDazoDll_Session session, uint32_t offset, Type* values, \
                                                    uint32_t count);                                       \
  VIDAZODLL_API int32_t ViDazoDll_WriteArray##Suffix(ViDazoDll_Session session, uint32_t offset,            \
                                                     const Type* values, uint32_t count);

/* ---- DMA FIFOs: scalar copies and zero-copy element regions ---------- */
#define VIDAZODLL_DECLARE_FIFO(Suffix, Type)                                                                   \
  VIDAZODLL_API int32_t ViDazoDll_ReadFifo##Suffix(ViDazoDll_Session session, uint32_t fifo, Type* data,        \
                                                   uint32_t count, uint32_t timeout, uint32_t* remaining);      \
  VIDAZODLL_API int32_t ViDazoDll_WriteFifo##Suffix(ViDazoDll_Session session, uint32_t fifo, const Type* data, \
                                                    uint32_t count, uint32_t timeout, uint32_t* remaining);     \
  VIDAZODLL_API int32_t ViDazoDll_AcquireFifoReadElements##Suffix(ViDazoDll_Session session, uint32_t fifo,     \
                                                                  Type** elements, uint32_t count,              \
                                                                  uint32_t timeout, uint32_t* acquired,         \
                                                                  uint32_t* remaining);                         \
  VIDAZODLL_API int32_t ViDazoDll_AcquireFifoWriteElements##Suffix(ViDazoDll_Session session, uint32_t fifo,    \
                                                                   Type** elements, uint32_t count,             \
                                                                   uint32_t timeout, uint32_t* acquired,        \
                                                                   uint32_t* remaining);
/* NOLINTEND(bugprone-macro-parentheses) */

/* Applies X(Suffix, Type) to the nine element types, in entry-table order. */
#define VIDAZODLL_FOR_EACH_TYPE(X) \
  X(Bool, ViDazoDll_Bool)          \
  X(I8, int8_t)                    \
  X(U8, uint8_t)                   \
  X(I16, int16_t)                  \
  X(U16, uint16_t)                 \
  X(I32, int32_t)                  \
  X(U32, uint32_t)                 \
  X(I64, int64_t)                  \
  X(U64, uint64_t)

VIDAZODLL_FOR_EACH_TYPE(VIDAZODLL_DECLARE_REGISTER)
VIDAZODLL_FOR_EACH_TYPE(VIDAZODLL_DECLARE_FIFO)

/* ---- IRQs ------------------------------------------------------------ */
VIDAZODLL_API int32_t ViDazoDll_ReserveIrqContext(ViDazoDll_Session session, ViDazoDll_IrqContext* context);
VIDAZODLL_API int32_t ViDazoDll_UnreserveIrqContext(ViDazoDll_Session session, ViDazoDll_IrqContext context);
/* Blocks until an IRQ in `irqMask` is asserted or `timeout` passes. */
VIDAZODLL_API int32_t ViDazoDll_WaitOnIrqs(ViDazoDll_Session session, ViDazoDll_IrqContext context, uint32_t irqMask,
                                           uint32_t timeout, uint32_t* irqsAsserted, ViDazoDll_Bool* timedOut);
VIDAZODLL_API int32_t ViDazoDll_AcknowledgeIrqs(ViDazoDll_Session session, uint32_t irqs);

/* ---- FIFO control ------------------------------------------------------ */
VIDAZODLL_API int32_t ViDazoDll_ConfigureFifo(ViDazoDll_Session session, uint32_t fifo, uint32_t depth);
VIDAZODLL_API int32_t ViDazoDll_ConfigureFifo2(ViDazoDll_Session session, uint32_t fifo, uint32_t requestedDepth,
                                               uint32_t* actualDepth);
VIDAZODLL_API int32_t ViDazoDll_StartFifo(ViDazoDll_Session session, uint32_t fifo);
VIDAZODLL_API int32_t ViDazoDll_StopFifo(ViDazoDll_Session session, uint32_t fifo);
/* Gives back the `count` oldest acquired elements of the FIFO. */
VIDAZODLL_API int32_t ViDazoDll_ReleaseFifoElements(ViDazoDll_Session session, uint32_t fifo, uint32_t count);
VIDAZODLL_API int32_t ViDazoDll_GetPeerToPeerFifoEndpoint(ViDazoDll_Session session, uint32_t fifo,
                                                          uint32_t* endpoint);
/* Hands out a pointer to the downloaded bitfile's text and its length. */
VIDAZODLL_API int32_t ViDazoDll_GetBitfileContents(ViDazoDll_Session session, const char** contents,
                                                   uint32_t* length);

/*
 * X-macro of the 89 entry-table names, in table order (slot 0 first). The
 * adapter builds its entry table from it; the simulator's tests use it to
 * check that every name is exported.
 */
#define VIDAZODLL_REGISTER_NAMES(X, Op) \
  X(Op##Bool) X(Op##I8) X(Op##U8) X(Op##I16) X(Op##U16) X(Op##I32) X(Op##U32) X(Op##I64) X(Op##U64)
#define VIDAZODLL_FOR_EACH_ENTRY(X)                                                                     \
  X(ViDazoDll_Open) X(ViDazoDll_Close) X(ViDazoDll_Run) X(ViDazoDll_Abort) X(ViDazoDll_Reset)           \
  X(ViDazoDll_Download)                                                                                 \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_Read)                                                           \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_Write)                                                          \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_ReadArray)                                                      \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_WriteArray)                                                     \
  X(ViDazoDll_ReserveIrqContext) X(ViDazoDll_UnreserveIrqContext) X(ViDazoDll_WaitOnIrqs)               \
  X(ViDazoDll_AcknowledgeIrqs) X(ViDazoDll_ConfigureFifo) X(ViDazoDll_ConfigureFifo2)                  \
  X(ViDazoDll_StartFifo) X(ViDazoDll_StopFifo)                                                          \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_ReadFifo)                                                       \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_WriteFifo)                                                      \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_AcquireFifoReadElements)                                        \
  VIDAZODLL_REGISTER_NAMES(X, ViDazoDll_AcquireFifoWriteElements)                                       \
  X(ViDazoDll_ReleaseFifoElements) X(ViDazoDll_GetPeerToPeerFifoEndpoint) X(ViDazoDll_GetBitfileContents)

#define VIDAZODLL_ENTRY_COUNT 89

#ifdef __cplusplus
}
#endif

#endif /* VIDAZO_VIDAZODLL_H */
