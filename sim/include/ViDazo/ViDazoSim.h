/**
 * @file ViDazoSim.h
 * @brief Control API of the simulated lower FPGA library: sessions, device
 *        mode, generator, journal, fault injection.
 *
 * The simulated target (libViDazo.so.inherit, CMake target ViDazoSim)
 * implements every ViDazoDll_* function of ViDazoDll.h in memory, so host code
 * and libViDazoHx can be developed and tested without hardware. This header
 * adds the ViDazoSim_* functions through which tests and demos play the
 * target's side: they reset the simulator, choose session values, raise IRQs,
 * feed and drain FIFOs, read the call journal and inject faults.
 *
 * Everything is process-wide and thread-safe. No function prints, and no
 * function waits longer than the timeout it is given.
 *
 * @par Sessions
 *   ViDazoDll_Open(bitfile, signature, resource, attribute, &session) opens a
 *   session when `resource` names an entry of the broker's resource table
 *   (e.g. "sim0"; see VoKelSrvSim.h). `bitfile` and `signature` may be null
 *   (taken as ""). Generated session values count up from 1 and never contain
 *   any of the bits 0x1000, 0x2000, 0x4000 or 0x8000; ViDazoSim_SetNextSession
 *   makes the next open (or resource open) hand out a value of the caller's
 *   choice instead. Bit 0x4000 is ignored when a session is looked up, so every
 *   function finds the same session with or without it.
 *   The session value that ViDazoHx_Open() or ViDazoHx_OpenResource() hands
 *   a host is this value: libViDazoHx passes the lower library's value on
 *   unchanged. So a host gives the value it got from the library to the
 *   ViDazoSim_ functions as it is.
 *   ViDazoDll_OpenResource(parent, resource, attribute, &session) opens a
 *   resource session under an open parent (0 or 0x4000: none; `resource`
 *   must be in the broker's table as for an open). A resource session is a
 *   target of its own: its own registers, IRQs and FIFOs. Closing a parent
 *   leaves its resource sessions open; each is closed by its own close.
 *   Run, Abort, Reset and Download move the target state (ViDazoSim_TargetState)
 *   and change nothing else: registers, IRQs and FIFO contents stay.
 *   Closing a session (or ViDazoSim_Reset) frees its FIFO buffers: element
 *   pointers lent from it are no longer valid afterwards.
 *
 * @par Bitfile contents and peer-to-peer endpoints
 *   ViDazoDll_GetBitfileContents hands out the text
 *     "ViDazoSim bitfile\nbitfile=<bitfile>\nsignature=<signature>\nresource=<resource>\n"
 *   built from the open's arguments (empty bitfile and signature for a
 *   resource session); the length excludes the terminating NUL, and the text
 *   stays valid until the session is closed.
 *   ViDazoDll_GetPeerToPeerFifoEndpoint answers ((resourceIndex + 1) << 8) | fifo,
 *   with the session's index in the broker's resource table.
 *
 * @par Registers
 *   Each session has a register space of ViDazoSim_RegisterSpaceBytes (65536)
 *   bytes, all 0 after open. The offset argument of every register function is
 *   a byte offset into it. An access of element size S (Bool/I8/U8 1, I16/U16
 *   2, I32/U32 4, I64/U64 8) needs offset % S == 0 and must lie wholly inside
 *   the space; arrays cover `count` consecutive elements from the offset.
 *   Values are kept in the host's byte order, so the widths alias each other
 *   like ordinary memory. A Bool is one byte: writes store 0 or 1, reads give 1
 *   for any non-zero byte.
 *
 * @par Doorbell
 *   The 32-bit word at ViDazoSim_DoorbellOffset (0xFFF0) is the IRQ doorbell.
 *   After any register write that touches one of its four bytes, the IRQs
 *   whose bits are set in the word are raised and the word reads 0 again.
 *
 * @par IRQs
 *   32 IRQ lines per session, level-style: an IRQ stays asserted from the time
 *   it is raised (ViDazoSim_RaiseIrqs or the doorbell) until
 *   ViDazoDll_AcknowledgeIrqs clears it. ViDazoDll_WaitOnIrqs returns 0 as soon
 *   as an IRQ of its mask is asserted, reporting the asserted IRQs of the mask
 *   and timedOut 0; when the timeout passes first it reports 0 and timedOut 1,
 *   still with status 0. Both outputs may be null. The IRQ context argument is
 *   not interpreted by the wait. ViDazoDll_ReserveIrqContext accepts a null
 *   context pointer (the reservation is then anonymous); otherwise it hands out
 *   a non-null token that ViDazoDll_UnreserveIrqContext takes back (null takes
 *   back one anonymous reservation).
 *
 * @par Default FIFO layout (every session)
 *   FIFO t (t = 0..8) is target-to-host, FIFO 9 + t host-to-target,
 *   with element types, by t: 0 Bool, 1 I8, 2 U8, 3 I16, 4 U16, 5 I32,
 *   6 U32, 7 I64, 8 U64. Their type codes (ViDazoSim_ElementType, the
 *   library's codes) are, by t: 0, 1, 5, 2, 6, 3, 7, 4, 8; e.g. FIFO 6 and
 *   FIFO 15 carry U32, code 7 (ViDazoHx_TypeU32). Every FIFO starts with
 *   depth ViDazoSim_DefaultFifoDepth (1024 elements), stopped and empty.
 *   ViDazoSim_GetFifoLayout describes a FIFO number.
 *
 * @par FIFOs
 *   ConfigureFifo/ConfigureFifo2 set the depth: the request (1 to
 *   ViDazoSim_MaxFifoDepth) is rounded up to a multiple of 16 and that actual
 *   depth is reported; buffered elements are dropped. They are refused while
 *   elements are acquired (ViDazoSim_StatusFifoBusy). StartFifo/StopFifo
 *   switch the host's side on and off; stopping keeps the buffered elements and
 *   ends every host wait on the FIFO with ViDazoSim_StatusFifoNotStarted.
 *   Scalar ReadFifo and WriteFifo start a stopped FIFO themselves; region
 *   acquisition needs a started FIFO.
 *   ReadFifo/WriteFifo copy all `count` elements or none: they wait until the
 *   elements (or the space) are there, and when the timeout passes first they
 *   answer ViDazoDll_StatusFifoTimeout (-50400) and nothing is consumed or
 *   written. A count above the depth can never be met and is an invalid
 *   parameter. They are refused while elements of the FIFO are acquired.
 *   AcquireFifoRead/WriteElements wait until `count` elements (or free places)
 *   are there, then lend a pointer into the ring buffer itself: the run is
 *   contiguous, so at the buffer's end it may be shorter than requested. They
 *   report the number lent and the number still available after it. A request
 *   above the depth is an invalid parameter; while elements are acquired and
 *   acquired + count > depth, they answer ViDazoDll_StatusAcquireTimedOut
 *   (-61219) at once; when the timeout passes they answer -50400 and lend
 *   nothing. ReleaseFifoElements gives back the oldest acquired elements
 *   (target-to-host: they are consumed; host-to-target: they are handed to the
 *   target); releasing more than is acquired is ViDazoSim_StatusOverRelease.
 *   Every remaining output may be null; the elements and acquired outputs of
 *   an acquisition are required.
 *   The typed FIFO functions must match the FIFO's element type
 *   (ViDazoSim_StatusWrongType) and direction (ViDazoSim_StatusWrongDirection).
 *
 * @par Generator
 *   ViDazoSim_StartGenerator makes a target-to-host FIFO fill itself on
 *   demand: whenever the host reads or acquires, the free places are filled
 *   with the next elements of the stream, where element i (counted from 0 at
 *   the start of the generator) has the value (seed + i) truncated to the
 *   FIFO's element width (Bool: (seed + i) & 1). ViDazoSim_GeneratorValue
 *   computes a value and ViDazoSim_CheckGenerated checks a run of elements.
 *
 * @par Device mode
 *   ViDazoSim_StartDevice gives a FIFO a thread of its own that plays the
 *   device's DMA engine, so the host's thread does none of the target's work:
 *   on a target-to-host FIFO it fills free places with the generator pattern
 *   (stream element i has the value of ViDazoSim_GeneratorValue for the
 *   FIFO's own element type, the seed and i); on a host-to-target FIFO it
 *   takes the elements the host commits and checks them against the same
 *   pattern, counting the ones that differ. It works whenever the FIFO is
 *   started and has room or data, at full speed (rate 0) or at most `rate`
 *   elements per second. While it runs, the target-side helpers (push, pull,
 *   generator, loopback) and reconfiguring the depth answer
 *   ViDazoSim_StatusFifoBusy. ViDazoSim_StopDevice, closing the session,
 *   ViDazoSim_Reset, unloading the simulator and process exit end the thread
 *   and wait for it; elements it produced stay buffered.
 *   ViDazoSim_StartDevice and the FIFO's start (ViDazoHx_StartFifo(), or
 *   ViDazoDll_StartFifo) may come in either order: a device on a stopped FIFO
 *   waits, and starts working when the FIFO is started; stopping the FIFO
 *   pauses it again. Set the depth first: ConfigureFifo answers
 *   ViDazoSim_StatusFifoBusy while a device runs.
 *
 * @par Loopback
 *   ViDazoSim_SetLoopback routes a host-to-target FIFO into a target-to-host
 *   FIFO of the same session and element type: elements the host commits
 *   (writes, or releases of write regions) move on as space permits.
 *
 * @par Journal
 *   Every ViDazoDll_* call is recorded when it returns: function name, the
 *   arguments as received (integers as the unsigned bit pattern of their own
 *   width, pointers as addresses, zero-extended to 64 bits; session values
 *   therefore show whether bit 0x4000 was set) and the result. It keeps at most
 *   ViDazoSim_JournalCapacity records; later calls are counted as dropped. It
 *   is on after load and after ViDazoSim_Reset; switched off, a call costs one
 *   relaxed atomic load for journal and fault injection together.
 *
 * @par Fault injection
 *   ViDazoSim_InjectStatus(name, status, n) makes the next n calls of that
 *   function answer `status`. A negative status replaces the call: nothing is
 *   done and no output is written. A positive status (a warning) lets the call
 *   do its work; when the work succeeds the warning is returned, when it fails
 *   the failure is. Injected answers are journalled like any other.
 *
 * Statuses: 0 success, negative error. The ViDazoDll_ and ViDazoSim_ functions
 * use ViDazoDll_StatusFifoTimeout (-50400) when time runs out,
 * ViDazoDll_StatusAcquireTimedOut (-61219) as above, and the values below.
 */
#ifndef VIDAZO_VIDAZOSIM_H
#define VIDAZO_VIDAZOSIM_H

#include <stdint.h>

#include "ViDazo/ViDazoDll.h"
#include "VoKelSrv/VoKelSrvSim.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Marks the simulator's exported functions. */
#if defined(__GNUC__)
#define VIDAZOSIM_API __attribute__((visibility("default")))
#else
#define VIDAZOSIM_API
#endif

/* ---- statuses ----------------------------------------------------------- */
#define ViDazoSim_StatusInvalidSession (-63001)    /**< session unknown, closed, or closed during the wait */
#define ViDazoSim_StatusInvalidParameter (-63002)  /**< null required pointer, bad count, offset or depth */
#define ViDazoSim_StatusResourceNotFound (-63003)  /**< resource name not in the broker's table */
#define ViDazoSim_StatusInvalidFifo (-63004)       /**< no FIFO with that number */
#define ViDazoSim_StatusWrongDirection (-63005)    /**< read/acquire-read on a host-to-target FIFO or the reverse */
#define ViDazoSim_StatusWrongType (-63006)         /**< typed function does not match the FIFO's element type */
#define ViDazoSim_StatusFifoNotStarted (-63007)    /**< acquisition on a stopped FIFO; FIFO stopped during a wait */
#define ViDazoSim_StatusOverRelease (-63008)       /**< release of more elements than are acquired */
#define ViDazoSim_StatusInvalidRegister (-63009)   /**< register access misaligned or outside the space */
#define ViDazoSim_StatusInvalidIrqContext (-63010) /**< unreserving a context that is not reserved */
#define ViDazoSim_StatusSessionValueInUse (-63011) /**< the requested next session value is taken */
#define ViDazoSim_StatusFifoBusy (-63012)          /**< configure or scalar copy while elements are acquired; device mode in the way */
#define ViDazoSim_StatusOutOfMemory (-63013)       /**< an allocation failed */
#define ViDazoSim_StatusUnknownFunction (-63014)   /**< not the name of a ViDazoDll_ function */
#define ViDazoSim_StatusNoSuchRecord (-63015)      /**< journal has no such record */
#define ViDazoSim_StatusPatternMismatch (-63016)   /**< elements differ from the generator pattern */

/* ---- status names ------------------------------------------------------- */
/* An inline function needs C99 or C++; GNU-compatible compilers also accept
 * their own spelling in C89 mode. A plain C89 compiler does without it. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define VIDAZOSIM_STATUS_TEXT_INLINE static inline
#elif defined(__GNUC__)
#define VIDAZOSIM_STATUS_TEXT_INLINE static __inline__
#endif

#ifdef VIDAZOSIM_STATUS_TEXT_INLINE
/** Names a status of the simulated target (-63001...), of the simulated
 * broker (-63301...) or of the lower library's interface (-50400, -61219):
 * the macro name without its prefix, "Success" for 0, NULL for any other
 * value (ViDazoHx_StatusText names the library's own). Inline: no export. */
VIDAZOSIM_STATUS_TEXT_INLINE const char* ViDazoSim_StatusText(int32_t status) {
  switch (status) {
    case 0: return "Success";
    case ViDazoDll_StatusFifoTimeout: return "FifoTimeout";
    case ViDazoDll_StatusAcquireTimedOut: return "AcquireTimedOut";
    case ViDazoSim_StatusInvalidSession: return "InvalidSession";
    case ViDazoSim_StatusInvalidParameter: return "InvalidParameter";
    case ViDazoSim_StatusResourceNotFound: return "ResourceNotFound";
    case ViDazoSim_StatusInvalidFifo: return "InvalidFifo";
    case ViDazoSim_StatusWrongDirection: return "WrongDirection";
    case ViDazoSim_StatusWrongType: return "WrongType";
    case ViDazoSim_StatusFifoNotStarted: return "FifoNotStarted";
    case ViDazoSim_StatusOverRelease: return "OverRelease";
    case ViDazoSim_StatusInvalidRegister: return "InvalidRegister";
    case ViDazoSim_StatusInvalidIrqContext: return "InvalidIrqContext";
    case ViDazoSim_StatusSessionValueInUse: return "SessionValueInUse";
    case ViDazoSim_StatusFifoBusy: return "FifoBusy";
    case ViDazoSim_StatusOutOfMemory: return "OutOfMemory";
    case ViDazoSim_StatusUnknownFunction: return "UnknownFunction";
    case ViDazoSim_StatusNoSuchRecord: return "NoSuchRecord";
    case ViDazoSim_StatusPatternMismatch: return "PatternMismatch";
    case VoKelSrvSim_StatusNullArgument: return "BrokerNullArgument";
    case VoKelSrvSim_StatusUnknownName: return "BrokerUnknownName";
    case VoKelSrvSim_StatusUnknownIndex: return "BrokerUnknownIndex";
    case VoKelSrvSim_StatusBufferTooSmall: return "BrokerBufferTooSmall";
    case VoKelSrvSim_StatusIndexNotInUse: return "BrokerIndexNotInUse";
    case VoKelSrvSim_StatusInvalidName: return "BrokerInvalidName";
    case VoKelSrvSim_StatusTableFull: return "BrokerTableFull";
    case VoKelSrvSim_StatusNoMemory: return "BrokerNoMemory";
    case VoKelSrvSim_StatusUnknownFunction: return "BrokerUnknownFunction";
    default: break;
  }
  return 0;
}
#endif

/* ---- constants ---------------------------------------------------------- */
#define ViDazoSim_RegisterSpaceBytes 65536u /**< bytes of register space per session */
#define ViDazoSim_DoorbellOffset 0xFFF0u     /**< the 32-bit IRQ doorbell register */
#define ViDazoSim_FifoCount 18u              /**< FIFOs per session: 0 to 8 to the host, 9 to 17 from it */
#define ViDazoSim_DefaultFifoDepth 1024u     /**< depth of every FIFO after open, in elements */
#define ViDazoSim_MaxFifoDepth (1u << 24)    /**< largest depth a configure may ask for */
#define ViDazoSim_JournalCapacity 65536u     /**< records the journal keeps */
#define ViDazoSim_EndlessStream UINT64_MAX   /**< generator total without an end */

/** Element types: the library's type codes (ViDazoHx_TypeI8 = 1 to
 * ViDazoHx_TypeU64 = 8), so a host passes the same code to both; Bool, which
 * the library has no code for, is 0. */
typedef enum ViDazoSim_ElementType {
  ViDazoSim_TypeBool = 0, /**< Boolean, one byte */
  ViDazoSim_TypeI8 = 1,   /**< signed 8-bit */
  ViDazoSim_TypeI16 = 2,  /**< signed 16-bit */
  ViDazoSim_TypeI32 = 3,  /**< signed 32-bit */
  ViDazoSim_TypeI64 = 4,  /**< signed 64-bit */
  ViDazoSim_TypeU8 = 5,   /**< unsigned 8-bit */
  ViDazoSim_TypeU16 = 6,  /**< unsigned 16-bit */
  ViDazoSim_TypeU32 = 7,  /**< unsigned 32-bit */
  ViDazoSim_TypeU64 = 8   /**< unsigned 64-bit */
} ViDazoSim_ElementType;

/** What the target last did; Run, Abort, Reset and Download move it. */
typedef enum ViDazoSim_TargetState {
  ViDazoSim_StateIdle = 0,       /**< after open */
  ViDazoSim_StateRunning = 1,    /**< after ViDazoDll_Run */
  ViDazoSim_StateAborted = 2,    /**< after ViDazoDll_Abort */
  ViDazoSim_StateReset = 3,      /**< after ViDazoDll_Reset */
  ViDazoSim_StateDownloaded = 4  /**< after ViDazoDll_Download */
} ViDazoSim_TargetState;

/** What the simulator knows about a session (ViDazoSim_GetSessionInfo()). */
typedef struct ViDazoSim_SessionInfo {
  uint32_t value;          /**< the session value as handed out */
  uint32_t parent;         /**< parent session (0: none or not a resource session) */
  uint32_t state;          /**< ViDazoSim_TargetState */
  uint32_t openAttribute;  /**< attribute given to the open */
  uint32_t resourceIndex;  /**< index of the resource in the broker's table */
  uint32_t irqContexts;    /**< IRQ contexts reserved and not unreserved */
  char resource[64];       /**< resource name, truncated, NUL-terminated */
  char bitfile[128];       /**< bitfile argument of the open ("" for a resource session) */
  char signature[64];      /**< signature argument of the open */
} ViDazoSim_SessionInfo;

/** A FIFO's fill state (ViDazoSim_GetFifoCounts()). */
typedef struct ViDazoSim_FifoCounts {
  uint32_t depth;     /**< current depth in elements */
  uint32_t used;      /**< places holding elements, acquired ones included */
  uint32_t acquired;  /**< elements lent to the host and not released */
  uint32_t available; /**< target-to-host: readable now; host-to-target: free places now */
  uint32_t started;   /**< 1 when started */
} ViDazoSim_FifoCounts;

/** What a FIFO's device has done (ViDazoSim_GetDeviceCounts()). */
typedef struct ViDazoSim_DeviceCounts {
  uint64_t elements;      /**< elements the device moved since its start */
  uint64_t mismatches;    /**< host-to-target: elements that broke the pattern */
  uint64_t firstMismatch; /**< stream index of the first of them */
  uint32_t running;       /**< 1 while the device thread runs */
} ViDazoSim_DeviceCounts;

/** One journalled ViDazoDll_ call. */
typedef struct ViDazoSim_JournalRecord {
  char function[48];       /**< e.g. "ViDazoDll_ReadU32" */
  uint32_t argumentCount;  /**< number of valid entries in arguments */
  int32_t result;          /**< status the call returned */
  uint64_t arguments[7];   /**< raw arguments in call order */
  uint64_t sequence;       /**< 0 for the first call after a clear, then counting up */
} ViDazoSim_JournalRecord;

/* ---- whole simulator ---------------------------------------------------- */
/** Closes every session (blocked calls return ViDazoSim_StatusInvalidSession),
 * forgets a pending next session value, restarts value generation at 1,
 * clears and switches on the journal and cancels every injection. The broker's
 * resource table is left alone. Blocks only on internal locks; returns 0. */
VIDAZOSIM_API int32_t ViDazoSim_Reset(void);
/** The next ViDazoDll_Open or ViDazoDll_OpenResource hands out `value` (once).
 * 0 is refused (ViDazoSim_StatusInvalidParameter). If the value is taken when
 * the open comes, the open fails with ViDazoSim_StatusSessionValueInUse. */
VIDAZOSIM_API int32_t ViDazoSim_SetNextSession(uint32_t value);
/** Number of sessions open now, resource sessions included. */
VIDAZOSIM_API uint32_t ViDazoSim_OpenSessionCount(void);
/** Writes the target state (ViDazoSim_TargetState) of the session. */
VIDAZOSIM_API int32_t ViDazoSim_GetTargetState(uint32_t session, uint32_t* state);
/** Fills `info` with what is known about the session. */
VIDAZOSIM_API int32_t ViDazoSim_GetSessionInfo(uint32_t session, ViDazoSim_SessionInfo* info);
/** Number of threads blocked in a ViDazoDll_ or ViDazoSim_ wait right now. */
VIDAZOSIM_API uint32_t ViDazoSim_BlockedCallCount(void);
/** Blocks until at least `count` threads are blocked in simulator waits, or
 * `timeout` ms pass (-50400). Lets tests order threads without sleeping. */
VIDAZOSIM_API int32_t ViDazoSim_WaitForBlockedCalls(uint32_t count, uint32_t timeout);

/* ---- IRQs ----------------------------------------------------------------- */
/** Asserts the IRQs in `irqs` and wakes every wait whose mask includes one. */
VIDAZOSIM_API int32_t ViDazoSim_RaiseIrqs(uint32_t session, uint32_t irqs);
/** Writes the IRQs asserted now. */
VIDAZOSIM_API int32_t ViDazoSim_GetAssertedIrqs(uint32_t session, uint32_t* irqs);

/* ---- FIFOs ---------------------------------------------------------------- */
/** Describes FIFO `fifo` of the default layout: toHost 1 for target-to-host, its
 * element type (ViDazoSim_ElementType: the library's type code, 0 for Bool)
 * and default depth; any output may be null. */
VIDAZOSIM_API int32_t ViDazoSim_GetFifoLayout(uint32_t fifo, uint32_t* toHost, uint32_t* elementType,
                                              uint32_t* defaultDepth);
/** Writes the FIFO's current counts. */
VIDAZOSIM_API int32_t ViDazoSim_GetFifoCounts(uint32_t session, uint32_t fifo, ViDazoSim_FifoCounts* counts);
/** Writes the address of the FIFO's ring buffer (element 0) and its size in
 * bytes; valid until the FIFO is reconfigured or the session closed. Acquired
 * element pointers always lie inside it. */
VIDAZOSIM_API int32_t ViDazoSim_GetFifoBuffer(uint32_t session, uint32_t fifo, void** base, uint32_t* bytes);
/** Target side: puts `count` elements (of the FIFO's type) into a
 * target-to-host FIFO; all or none, waiting up to `timeout` ms for space
 * (-50400). `remaining`, optional, gets the free places left. */
VIDAZOSIM_API int32_t ViDazoSim_PushFifo(uint32_t session, uint32_t fifo, const void* data, uint32_t count,
                                         uint32_t timeout, uint32_t* remaining);
/** Target side: takes `count` elements the host committed to a host-to-target
 * FIFO; all or none, waiting up to `timeout` ms (-50400). `remaining`,
 * optional, gets the committed elements left. */
VIDAZOSIM_API int32_t ViDazoSim_PullFifo(uint32_t session, uint32_t fifo, void* data, uint32_t count,
                                         uint32_t timeout, uint32_t* remaining);
/** Makes a target-to-host FIFO fill itself with the generator pattern from
 * stream index 0; `total` elements in all (ViDazoSim_EndlessStream: no end).
 * Elements already buffered stay ahead of the stream. */
VIDAZOSIM_API int32_t ViDazoSim_StartGenerator(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t total);
/** Stops the generator; what it produced stays buffered. */
VIDAZOSIM_API int32_t ViDazoSim_StopGenerator(uint32_t session, uint32_t fifo);
/** Value of stream element `index` for `elementType` and `seed`, as the
 * element's unsigned bit pattern. */
VIDAZOSIM_API uint64_t ViDazoSim_GeneratorValue(uint32_t elementType, uint64_t seed, uint64_t index);
/** Checks `count` elements (of `elementType`) against stream elements
 * firstIndex..firstIndex+count-1. 0 when all match; otherwise
 * ViDazoSim_StatusPatternMismatch with the position of the first wrong element
 * in `mismatch` (optional). */
VIDAZOSIM_API int32_t ViDazoSim_CheckGenerated(uint32_t elementType, uint64_t seed, uint64_t firstIndex,
                                               const void* elements, uint32_t count, uint32_t* mismatch);
/** Routes host-to-target FIFO `from` into target-to-host FIFO `to` of the same
 * session and element type; elements already committed move at once. */
VIDAZOSIM_API int32_t ViDazoSim_SetLoopback(uint32_t session, uint32_t from, uint32_t to);
/** Ends the loopback that starts at host-to-target FIFO `from`. */
VIDAZOSIM_API int32_t ViDazoSim_ClearLoopback(uint32_t session, uint32_t from);
/** Starts device mode on a FIFO (see "Device mode"): pattern from `seed`,
 * element type from the FIFO's configuration, `rate` elements per second
 * (0: full speed). ViDazoSim_StatusFifoBusy when a device, the generator or a
 * loopback already works the FIFO; ViDazoSim_StatusOutOfMemory when no thread
 * can be started. */
VIDAZOSIM_API int32_t ViDazoSim_StartDevice(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t rate);
/** Stops the FIFO's device thread and waits until it has ended; 0 also when
 * none runs. */
VIDAZOSIM_API int32_t ViDazoSim_StopDevice(uint32_t session, uint32_t fifo);
/** Writes what the FIFO's device has done since it was last started. */
VIDAZOSIM_API int32_t ViDazoSim_GetDeviceCounts(uint32_t session, uint32_t fifo, ViDazoSim_DeviceCounts* counts);

/* ---- journal -------------------------------------------------------------- */
/** Switches recording on (non-zero) or off; the records are kept. */
VIDAZOSIM_API void ViDazoSim_SetJournalEnabled(int32_t enabled);
/** Empties the journal, resets the dropped count and the sequence numbers. */
VIDAZOSIM_API void ViDazoSim_ClearJournal(void);
/** Number of records held. */
VIDAZOSIM_API uint32_t ViDazoSim_JournalCount(void);
/** Number of calls not recorded because the journal was full. */
VIDAZOSIM_API uint32_t ViDazoSim_JournalDropped(void);
/** Copies up to `capacity` records from position `first` on (0: oldest);
 * `copied` gets the number copied. */
VIDAZOSIM_API int32_t ViDazoSim_ReadJournal(uint32_t first, ViDazoSim_JournalRecord* records, uint32_t capacity,
                                            uint32_t* copied);
/** Copies the `nth` (0: first) record of function `name`;
 * ViDazoSim_StatusNoSuchRecord when there are not that many. */
VIDAZOSIM_API int32_t ViDazoSim_FindJournalRecord(const char* name, uint32_t nth, ViDazoSim_JournalRecord* record);
/** Number of records of function `name`. */
VIDAZOSIM_API uint32_t ViDazoSim_CountJournalRecords(const char* name);

/* ---- fault injection ------------------------------------------------------ */
/** The next `count` calls of ViDazoDll_ function `name` answer `status`
 * (non-zero; see the header comment). Replaces an earlier injection for that
 * function; count 0 cancels it. */
VIDAZOSIM_API int32_t ViDazoSim_InjectStatus(const char* name, int32_t status, uint32_t count);
/** Cancels every injection. */
VIDAZOSIM_API void ViDazoSim_ClearInjections(void);

#ifdef __cplusplus
}
#endif

#endif /* VIDAZO_VIDAZOSIM_H */
