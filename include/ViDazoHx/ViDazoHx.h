/**
 * @file ViDazoHx.h
 * @brief The host-facing interface of libViDazoHx: 33 functions, their
 *        statuses, the host data types and the host-runtime contract.
 *
 * A host programming environment loads libViDazoHx.so into its own process
 * and drives FPGA targets through the 33 functions below. The library
 * forwards register, IRQ and FIFO work to the lower FPGA interface library
 * (libViDazo.so) and adds what a host needs on top:
 *
 *   - session-value rules: a session value with bit 0x2000 is refused with
 *     ViDazoHx_StatusSessionNotSupported; most calls reach the lower library
 *     with bit 0x4000 set;
 *   - host arrays resized through the host runtime and filled in place;
 *   - a registry of open sessions whose cleanup the host runs when it stops;
 *   - FIFO regions lent to the host without copying, given back strictly in
 *     acquisition order, holding off close, download and reset while out.
 *
 * New to the library? examples/c-host/host.c and examples/cpp-host/host.cpp
 * are complete hosts to start from.
 *
 * @section vidazohx_statuses Statuses
 * Every function returns an int32_t status: 0 success, negative error,
 * positive warning (the call did its work; the warning comes from below).
 * The statuses the library makes itself are the ViDazoHx_Status* macros;
 * any other value comes from the lower library, the resource broker or the
 * host runtime and is passed on unchanged. ViDazoHx_StatusText() names
 * them. Each function lists the outcomes a host can see.
 *
 * @section vidazohx_timeouts Timeouts
 * Timeouts are in milliseconds; 0 means "do not wait" and
 * ViDazoHx_InfiniteTimeout "no limit". WaitOnIrqs, ReadFifoScalar and
 * WriteFifoScalar hand theirs to the lower library. The acquire-region
 * functions measure theirs from the moment they are called, so time spent
 * queued behind another acquisition of the same FIFO counts against it;
 * which timeout status they give is described at
 * ViDazoHx_AcquireFifoReadRegionScalar().
 *
 * @section vidazohx_threads Threads
 * Every function may be called from any thread, concurrently with any
 * other. The library starts no threads of its own and keeps no thread
 * affinity: a session opened on one thread may be used and closed on
 * another, and a reference may be disposed of on any thread.
 *
 * What blocks, and on what:
 *   - Run, Abort, the register functions, AcknowledgeIrqs, ConfigureFifo,
 *     ConfigureFifo2, StopFifo, GetPeerToPeerFifoEndpoint and the resource
 *     functions take no lock of the library's: they block only as long as
 *     the lower library or the broker does. ReserveIrqContext and
 *     UnreserveIrqContext never block.
 *   - WaitOnIrqs, ReadFifoScalar and WriteFifoScalar wait in the lower
 *     library, within their timeout (the last two also in the host's
 *     NumericArrayResize for reads).
 *   - Open, OpenResource, Close, StartFifo, Download, Reset and the two
 *     acquire-region functions need the registry of sessions: Open,
 *     OpenResource and Close hold it exclusively for a moment, the others
 *     share it.
 *   - An acquire-region call holds its FIFO for its whole wait (within its
 *     timeout): a second acquisition of the same FIFO queues behind it
 *     without limit, and so does a Close of that session, which waits for
 *     every acquisition under way on the FIFOs it closes.
 *   - Disposing of a reference (the release procedure) takes only that
 *     FIFO's region lock; when it gives back the last region of a session
 *     whose close was put off it finishes that close, blocking as Close does.
 *
 * A limitation of the design: an acquisition queued behind another one on
 * the same FIFO, or a Close waiting for an acquisition, holds up every call
 * that needs the registry (opens, closes, FIFO starts, acquisitions,
 * download and reset) on every session, until the acquisition it waits for
 * ends. Register, IRQ and scalar FIFO calls go on. So:
 *   - give acquisitions finite timeouts: the hold-up then lasts at most one
 *     timeout; with ViDazoHx_InfiniteTimeout it lasts until data arrives or
 *     the host's cleanup runs;
 *   - acquire from one thread per FIFO, so that no acquisition queues;
 *   - stop acquiring on a session before closing it.
 *
 * @section vidazohx_host_runtime Host-runtime contract
 * The library calls three functions it does not define: the hosting
 * process provides NumericArrayResize(), RTSetCleanupProc() and
 * EDVR_CreateReference() (declared at the end of this header; during
 * development the host-runtime stand-in provides them). Their results: 0
 * success, 2 out of memory (the library answers ViDazoHx_StatusMemoryFull),
 * 41 cancelled (ViDazoHx_StatusHostCancelled), anything else
 * ViDazoHx_StatusUnexpectedFailure.
 *
 * The library hands the host two kinds of procedure: cleanup procedures
 * (through RTSetCleanupProc) and the release procedure of each lent region
 * (in its data record). The host must:
 *   - run them on its own threads, never synchronously inside
 *     RTSetCleanupProc() or EDVR_CreateReference(): the library calls those
 *     two holding its registry or FIFO locks, and a procedure run inside
 *     them would deadlock on them or act on a record that is not finished,
 *     or is already destroyed, when the call returns;
 *   - when it stops, run every mode-6 cleanup before any mode-2 one: mode 6
 *     ends a waiting acquisition, mode 2 closes a session, and a close
 *     waits for acquisitions on the session, so the other order can wait for
 *     ever;
 *   - when a registration is withdrawn while its procedure is running, let
 *     the withdrawal return only after the procedure has: the argument of a
 *     mode-6 procedure lives on the stack of the acquiring call.
 *
 * References and their data records: see EDVR_CreateReference() and
 * ViDazoHx_DataRecord.
 *
 * @section vidazohx_load Load failure
 * Loading libViDazoHx.so opens the lower library, libViDazo.so, through the
 * loader's search path (LD_LIBRARY_PATH, the loader cache, the default
 * directories: the library carries no RPATH) and resolves all of its
 * functions. When the lower library cannot be opened, or lacks any of its
 * functions, the library halts the process on purpose, during the load: a
 * host cannot be told that a library failed to load, and every function
 * would run on an unbound lower library. The load never returns. On
 * standard error come, when libViDazo.so is missing, the open error
 *
 *     Error opening libViDazo.so: libViDazo.so: cannot open shared object file: No such file or directory
 *
 * then, in either case, the assertion line and the halt message
 *
 *     [ViDazoHx|protons/dll/posix/tDLLMain|59] !!!ASSERT!!!
 *     Main failed during process attach request.  Module not loaded. No choice but to halt the process.
 *
 * after which the process stops with a trap signal (SIGTRAP). So make sure
 * libViDazo.so can be found before loading libViDazoHx.so. For the same
 * reason a host never sees ViDazoHx_StatusLibraryNotFound or
 * ViDazoHx_StatusEntryPointMissing returned by a function.
 *
 * @section vidazohx_version Version
 * VIDAZOHX_VERSION_MAJOR, VIDAZOHX_VERSION_MINOR and VIDAZOHX_VERSION_PATCH
 * name the release this header belongs to; the library's version block
 * (`strings libViDazoHx.so | grep ViDazoHx.version`) and the CMake and
 * pkg-config packages carry the same version.
 *
 * @section vidazohx_c C
 * The header compiles as C89, C99 and C++. ViDazoHx_StatusText() is an
 * inline function; a C89 compiler that is not GNU-compatible goes without
 * it.
 */
#ifndef VIDAZOHX_VIDAZOHX_H
#define VIDAZOHX_VIDAZOHX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VIDAZOHX_API __attribute__((visibility("default")))
#else
#define VIDAZOHX_API
#endif

/* ======================================================================
 * Statuses produced by the library itself
 * ==================================================================== */
/** The host's cleanup ran while a region acquisition waited, or a host function answered 41. */
#define ViDazoHx_StatusHostCancelled (-50405)
/** A host function answered 2, or a registry, FIFO or platform record could not be allocated. */
#define ViDazoHx_StatusMemoryFull (-52000)
/** A host function answered an unknown code, a mutex could not be made, or the host refused a cleanup registration. */
#define ViDazoHx_StatusUnexpectedFailure (-52003)
/** An absent handle or output pointer, or an element type code outside 1 to 8. */
#define ViDazoHx_StatusInvalidParameter (-52005)
/** The lower library could not be opened at load time; the load then halts the process, so no function returns it. */
#define ViDazoHx_StatusLibraryNotFound (-52006)
/** An internal timed wait ran out. No function returns it: an acquisition whose wait runs out answers ViDazoHx_StatusAcquireTimedOut. */
#define ViDazoHx_StatusTimedOut (-52007)
/** The condition variable of an event could not be created. */
#define ViDazoHx_StatusSyncInitFailed (-52008)
/** The lower library is not bound (not loaded, or unloaded). */
#define ViDazoHx_StatusLibraryNotOpen (-52010)
/** Download, reset or close refused while FIFO regions are lent to the host. */
#define ViDazoHx_StatusRegionsOutstanding (-61217)
/**
 * A region acquisition could not be met because elements of the FIFO were
 * still lent to the host, and none came back within the timeout. The lower
 * library answers the same value when a request cannot be met until
 * elements are given back; the library then waits for a give-back itself.
 * Not the status of a FIFO that simply had too few elements or free places
 * in time: that is ViDazoHx_StatusFifoTimeout.
 */
#define ViDazoHx_StatusAcquireTimedOut (-61219)
/** The session value has bit 0x2000 set. */
#define ViDazoHx_StatusSessionNotSupported (-61499)
/** A lower-library function was missing at load time; the load then halts the process, so no function returns it. */
#define ViDazoHx_StatusEntryPointMissing (-63194)
/** The session value was not opened through this library (or is closed). */
#define ViDazoHx_StatusSessionNotFound (-63195)
/**
 * The lower library's own FIFO wait ran out: too few elements (reads) or
 * free places (writes) within the timeout. Made by the lower library, passed
 * on unchanged by ReadFifoScalar, WriteFifoScalar and the acquire-region
 * functions; the library never makes it itself.
 */
#define ViDazoHx_StatusFifoTimeout (-50400)

/** Timeout value meaning "no limit"; 0 means "do not wait". */
#define ViDazoHx_InfiniteTimeout 0xFFFFFFFFu

/* ======================================================================
 * Status names
 * ==================================================================== */

/* An inline function needs C99 or C++; GNU-compatible compilers also accept
 * their own spelling in C89 mode. A plain C89 compiler does without it. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define VIDAZOHX_STATUS_TEXT_INLINE static inline
#elif defined(__GNUC__)
#define VIDAZOHX_STATUS_TEXT_INLINE static __inline__
#endif

#ifdef VIDAZOHX_STATUS_TEXT_INLINE
/**
 * Names a status for logs and messages: "Success" for 0, the macro name
 * without its prefix for every status the library produces and for the
 * lower library's FIFO timeout (-50400), otherwise "warning from below"
 * (positive) or "error from the lower library, broker or host" (negative).
 * The text is static; the function is inline, so it adds no export.
 */
VIDAZOHX_STATUS_TEXT_INLINE const char* ViDazoHx_StatusText(int32_t status) {
  switch (status) {
    case 0: return "Success";
    case ViDazoHx_StatusHostCancelled: return "HostCancelled";
    case ViDazoHx_StatusMemoryFull: return "MemoryFull";
    case ViDazoHx_StatusUnexpectedFailure: return "UnexpectedFailure";
    case ViDazoHx_StatusInvalidParameter: return "InvalidParameter";
    case ViDazoHx_StatusLibraryNotFound: return "LibraryNotFound";
    case ViDazoHx_StatusTimedOut: return "TimedOut";
    case ViDazoHx_StatusSyncInitFailed: return "SyncInitFailed";
    case ViDazoHx_StatusLibraryNotOpen: return "LibraryNotOpen";
    case ViDazoHx_StatusRegionsOutstanding: return "RegionsOutstanding";
    case ViDazoHx_StatusAcquireTimedOut: return "AcquireTimedOut";
    case ViDazoHx_StatusSessionNotSupported: return "SessionNotSupported";
    case ViDazoHx_StatusEntryPointMissing: return "EntryPointMissing";
    case ViDazoHx_StatusSessionNotFound: return "SessionNotFound";
    case ViDazoHx_StatusFifoTimeout: return "FifoTimeout";
    default: break;
  }
  return status > 0 ? "warning from below" : "error from the lower library, broker or host";
}
#endif

/* ======================================================================
 * Host data
 * ==================================================================== */

/** Element type codes of host arrays and FIFO regions. */
enum {
  ViDazoHx_TypeI8 = 1,  /**< signed 8-bit,    elements at block offset 4 */
  ViDazoHx_TypeI16 = 2, /**< signed 16-bit,   elements at block offset 4 */
  ViDazoHx_TypeI32 = 3, /**< signed 32-bit,   elements at block offset 4 */
  ViDazoHx_TypeI64 = 4, /**< signed 64-bit,   elements at block offset 8 */
  ViDazoHx_TypeU8 = 5,  /**< unsigned 8-bit,  elements at block offset 4 */
  ViDazoHx_TypeU16 = 6, /**< unsigned 16-bit, elements at block offset 4 */
  ViDazoHx_TypeU32 = 7, /**< unsigned 32-bit, elements at block offset 4 */
  ViDazoHx_TypeU64 = 8  /**< unsigned 64-bit, elements at block offset 8 */
};

/**
 * A one-dimensional host array block: a signed 32-bit element count, then the
 * elements, 4 bytes after the start for 8/16/32-bit types, 8 bytes after it
 * (after 4 bytes of padding) for the 64-bit types, so they are aligned.
 */
typedef struct ViDazoHx_ArrayBlock {
  int32_t count;
} ViDazoHx_ArrayBlock;
/** A host array handle: a pointer to the master pointer of the block. */
typedef ViDazoHx_ArrayBlock** ViDazoHx_ArrayHandle;

/** A procedure handed to the host; it receives one pointer-sized argument. */
typedef int32_t (*ViDazoHx_HostProcedure)(uintptr_t argument);

/** Opaque IRQ context of the lower library. */
typedef void* ViDazoHx_IrqContext;

/**
 * Data record of an external data value reference (a lent FIFO region).
 * The host creates it zeroed; the library fills the named fields; when the
 * host disposes of the reference it calls `release` with the record's
 * address, exactly once. On 32-bit targets the offsets are 0, 4, 8, 12, 16
 * and 52 and the record is 56 bytes; on 64-bit targets the same fields come
 * in the same order with natural alignment (0, 8, 16, 24, 28, 64; 72 bytes).
 */
typedef struct ViDazoHx_DataRecord {
  void* regionEntry;              /**< the library's record of the region */
  int32_t kind;                   /**< always 1 */
  void* elements;                 /**< first element, inside the lower library's DMA buffer */
  uint32_t elementCount;          /**< number of elements lent */
  uint32_t elementSize;           /**< bytes per element: 1, 2, 4 or 8 */
  uint8_t hostReserved[32];       /**< the host's; the library never writes it */
  ViDazoHx_HostProcedure release; /**< called by the host on dispose, with the record's address */
} ViDazoHx_DataRecord;

/* ======================================================================
 * Sessions
 * ==================================================================== */

/** Opens a session on `resource`, reserves the announced IRQ contexts and
 *  registers host cleanup. Returns: 0 or a lower-library warning; the error
 *  of the lower open or of an IRQ reservation; StatusUnexpectedFailure when
 *  the host refuses the cleanup registration; StatusMemoryFull; any failure
 *  recorded when the library was loaded; StatusLibraryNotOpen. On any error
 *  after the lower open the session is closed again. */
VIDAZOHX_API int32_t ViDazoHx_Open(const char* bitfile, const char* signature, const char* resource,
                                   uint32_t attribute, uint32_t* sessionOut);
/** Opens a resource session under `parent` (0: none). Returns: 0 or a lower
 *  warning; StatusSessionNotSupported; the lower error; StatusSessionNotFound
 *  (parent not open through this library); StatusMemoryFull; StatusUnexpectedFailure. */
VIDAZOHX_API int32_t ViDazoHx_OpenResource(uint32_t parent, const char* resource, uint32_t attribute,
                                           uint32_t* sessionOut);
/** Closes a session, its child sessions first. Returns: the lower close's
 *  status; StatusSessionNotSupported; StatusRegionsOutstanding while regions
 *  are lent (the close then completes when the last one comes back);
 *  StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_Close(uint32_t session, uint32_t attribute);
/** Returns: the lower status; StatusSessionNotSupported; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_Run(uint32_t session, uint32_t attribute);
/** Returns: the lower status; StatusSessionNotSupported; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_Abort(uint32_t session);
/** Returns: the lower status; StatusSessionNotSupported; StatusRegionsOutstanding; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_Download(uint32_t session);
/** Returns: the lower status; StatusSessionNotSupported; StatusRegionsOutstanding; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_Reset(uint32_t session);

/* ======================================================================
 * Registers
 * Each returns: the lower status; StatusSessionNotSupported; StatusLibraryNotOpen.
 * ==================================================================== */
VIDAZOHX_API int32_t ViDazoHx_Read16(uint32_t session, uint32_t offset, uint16_t* value);
VIDAZOHX_API int32_t ViDazoHx_Read32(uint32_t session, uint32_t offset, uint32_t* value);
/** Reads a single-precision value as its 32-bit pattern through ViDazoHx_Read32. */
VIDAZOHX_API int32_t ViDazoHx_ReadSgl(uint32_t session, uint32_t offset, float* value);
VIDAZOHX_API int32_t ViDazoHx_Write16(uint32_t session, uint32_t offset, uint16_t value);
VIDAZOHX_API int32_t ViDazoHx_Write32(uint32_t session, uint32_t offset, uint32_t value);
/** Writes a single-precision value as its 32-bit pattern through ViDazoHx_Write32. */
VIDAZOHX_API int32_t ViDazoHx_WriteSgl(uint32_t session, uint32_t offset, float value);
/** Resizes the host array to `count` and reads into it in place; the count is
 *  set to 0 on error. Returns also StatusInvalidParameter (absent handle) and
 *  the converted resize failure (StatusMemoryFull, StatusHostCancelled,
 *  StatusUnexpectedFailure). */
VIDAZOHX_API int32_t ViDazoHx_ReadArray32(uint32_t session, uint32_t offset, uint32_t count,
                                          ViDazoHx_ArrayHandle array);
/** Writes the host array's elements. Returns also StatusInvalidParameter (absent handle). */
VIDAZOHX_API int32_t ViDazoHx_WriteArray32(uint32_t session, uint32_t offset, ViDazoHx_ArrayHandle array);

/* ======================================================================
 * IRQs
 * ==================================================================== */
/** Announces one more IRQ context for sessions opened from now on. Returns 0. */
VIDAZOHX_API int32_t ViDazoHx_ReserveIrqContext(uint32_t session, ViDazoHx_IrqContext* context);
/** Announces one IRQ context fewer. Returns 0. */
VIDAZOHX_API int32_t ViDazoHx_UnreserveIrqContext(uint32_t session, ViDazoHx_IrqContext* context);
/** Waits for an IRQ of `irqMask`; the lower library receives the context
 *  value `context` points at. Returns: the lower status;
 *  StatusSessionNotSupported; StatusInvalidParameter (absent `context`);
 *  StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_WaitOnIrqs(uint32_t session, ViDazoHx_IrqContext* context, uint32_t irqMask,
                                         uint32_t timeout, uint32_t* irqsAsserted, uint8_t* timedOut);
/** Returns: the lower status; StatusSessionNotSupported; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_AcknowledgeIrqs(uint32_t session, uint32_t irqs);

/* ======================================================================
 * DMA FIFOs
 * ==================================================================== */
/** Returns: the lower status; StatusSessionNotSupported; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo(uint32_t session, uint32_t fifo, uint32_t depth);
/** Writes the depth the lower library chose to `actualDepth` (0 when the
 *  lower library wrote none). Returns: the lower status;
 *  StatusSessionNotSupported (checked first); StatusInvalidParameter (absent
 *  actualDepth); StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo2(uint32_t session, uint32_t fifo, uint32_t requestedDepth,
                                             uint32_t* actualDepth);
/** Starts a FIFO of a session opened through this library. Returns: the lower
 *  status; StatusSessionNotSupported; StatusSessionNotFound; StatusMemoryFull;
 *  StatusUnexpectedFailure; StatusSyncInitFailed; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_StartFifo(uint32_t session, uint32_t fifo);
/** Returns: the lower status; StatusSessionNotSupported; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_StopFifo(uint32_t session, uint32_t fifo);
/** Resizes the host array to `count` elements of `typeCode` and reads into it
 *  in place; the count is set to 0 on error and kept on a warning. Returns:
 *  the lower status; StatusSessionNotSupported (array untouched);
 *  StatusInvalidParameter (type code outside 1 to 8, absent handle or block);
 *  the converted resize failure (StatusMemoryFull, StatusHostCancelled,
 *  StatusUnexpectedFailure); StatusLibraryNotOpen. `ignored` is not used;
 *  `remaining`, when present, is written on every path past the session and
 *  handle checks (0 when the lower library was not called). */
VIDAZOHX_API int32_t ViDazoHx_ReadFifoScalar(uint32_t session, uint32_t fifo, uint32_t count, int32_t typeCode,
                                             int32_t ignored, uint32_t timeout, ViDazoHx_ArrayHandle array,
                                             uint32_t* remaining);
/** Writes the host array's elements, as many as its count says. Returns:
 *  the lower status; StatusSessionNotSupported; StatusInvalidParameter (type
 *  code outside 1 to 8, absent handle or block); StatusLibraryNotOpen.
 *  `remaining` as for ViDazoHx_ReadFifoScalar. */
VIDAZOHX_API int32_t ViDazoHx_WriteFifoScalar(uint32_t session, uint32_t fifo, ViDazoHx_ArrayHandle array,
                                              int32_t typeCode, int32_t ignored, uint32_t timeout,
                                              uint32_t* remaining);
/** Lends up to `elementsRequested` elements of a target-to-host FIFO to the
 *  host as a reference, without copying. Returns: 0 or a lower warning;
 *  StatusSessionNotSupported; StatusInvalidParameter; StatusSessionNotFound;
 *  StatusAcquireTimedOut; StatusHostCancelled; StatusMemoryFull;
 *  StatusUnexpectedFailure; StatusSyncInitFailed; the lower error. */
VIDAZOHX_API int32_t ViDazoHx_AcquireFifoReadRegionScalar(uint32_t session, uint32_t fifo, uint32_t* referenceOut,
                                                          uint32_t elementsRequested, int32_t typeCode,
                                                          int32_t ignored, uint32_t timeout,
                                                          uint32_t* elementsAcquiredOut,
                                                          uint32_t* elementsRemainingOut);
/** As ViDazoHx_AcquireFifoReadRegionScalar, for space in a host-to-target FIFO. */
VIDAZOHX_API int32_t ViDazoHx_AcquireFifoWriteRegionScalar(uint32_t session, uint32_t fifo, uint32_t* referenceOut,
                                                           uint32_t elementsRequested, int32_t typeCode,
                                                           int32_t ignored, uint32_t timeout,
                                                           uint32_t* elementsAcquiredOut,
                                                           uint32_t* elementsRemainingOut);
/** Returns: the lower status; StatusSessionNotSupported; StatusLibraryNotOpen. */
VIDAZOHX_API int32_t ViDazoHx_GetPeerToPeerFifoEndpoint(uint32_t session, uint32_t fifo, uint32_t* endpoint);

/* ======================================================================
 * Resources (resource broker)
 * ==================================================================== */
/** Returns: the broker's status; StatusSessionNotSupported. */
VIDAZOHX_API int32_t ViDazoHx_GetResources(uint32_t session, char* names, uint32_t capacity, uint32_t* count);
/** Returns the broker's status. */
VIDAZOHX_API int32_t ViDazoHx_GetResourceName(uint32_t index, char* name, uint32_t capacity);
/** Returns the broker's status. */
VIDAZOHX_API int32_t ViDazoHx_GetResourceIndex(const char* name, uint32_t* index);
/** Returns the broker's status. */
VIDAZOHX_API int32_t ViDazoHx_ReleaseResourceIndex(uint32_t index);
/** Returns the lower library's status. */
VIDAZOHX_API int32_t ViDazoHx_AddResources(const char* const* names, uint32_t count);

/* ======================================================================
 * Host runtime: provided by the hosting process, not by this library
 * ==================================================================== */
/** Resizes a host array; 0 success, 2 out of memory, 41 cancelled. */
int32_t NumericArrayResize(int32_t typeCode, int32_t dimensions, ViDazoHx_ArrayHandle* array, uint32_t count);
/** Registers (mode 2 or 6) or withdraws (mode 0) a cleanup procedure; 0 success. */
int32_t RTSetCleanupProc(ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode);
/** Creates an external data value reference and hands out its zeroed data record; 0 success. */
int32_t EDVR_CreateReference(uint32_t* reference, ViDazoHx_DataRecord** record);

#ifdef __cplusplus
}
#endif

#endif /* VIDAZOHX_VIDAZOHX_H */
