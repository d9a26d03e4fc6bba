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
 * host runtime and is passed on unchanged. Each function lists the
 * outcomes a host can see.
 *
 * ViDazoHx_StatusText() names the library's own statuses only; for any
 * other it says where the status came from. Names of statuses from below
 * come from the lower library's own name function, if it has one (the
 * simulated target's is ViDazoSim_StatusText(), which also names the
 * simulated broker's), so a host asks that first:
 * @code
 * const char* name = ViDazoSim_StatusText(status);  // NULL: not one of the lower library's
 * if (name == NULL) name = ViDazoHx_StatusText(status);
 * @endcode
 *
 * Session values the library does not hold (never opened through it, or
 * closed) meet two answers. StartFifo and the acquire-region functions
 * answer ViDazoHx_StatusSessionNotFound (-63195): they keep the FIFO's
 * record in the library's own record of the session, so without that
 * record they cannot proceed, and they call nothing below. Close passes
 * such a value on to the lower library and returns its answer (the
 * simulated target: ViDazoSim_StatusInvalidSession, -63001), so that a
 * session the library lost track of is still closed below. The other FIFO
 * functions (ConfigureFifo, ConfigureFifo2, StopFifo, ReadFifoScalar,
 * WriteFifoScalar, GetPeerToPeerFifoEndpoint) keep no record and only
 * forward, so the lower library answers for them too.
 *
 * @section vidazohx_timeouts Timeouts
 * Timeouts are unsigned 32-bit milliseconds; 0 means "do not wait" and
 * ViDazoHx_InfiniteTimeout (0xFFFFFFFF, what -1 becomes) "no limit". Any
 * other value is a limit, and a host language's negative number arrives as
 * a large one: -2 is 4294967294 ms, about 49.7 days. WaitOnIrqs,
 * ReadFifoScalar and WriteFifoScalar hand theirs to the lower library. The
 * acquire-region functions measure theirs from the moment they are called,
 * so time spent queued behind another acquisition of the same FIFO counts
 * against it; which timeout status they give is described at
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
 *     whose close was put off it finishes that close, blocking as Close does:
 *     behind an acquisition under way on another FIFO of the session, or,
 *     when it finishes a parent's close, on a FIFO of a sibling resource
 *     session.
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
 * The library needs its lower library under two file names, found through
 * the loader's search path (LD_LIBRARY_PATH, the loader cache, the default
 * directories; the library carries no RPATH), and fails differently
 * without each:
 *
 *   - libViDazo.so.inherit, the name the library is linked against (and
 *     libVoKelSrv.so.13, the resource broker's, likewise). Without it the
 *     dynamic loader refuses libViDazoHx.so before any of the library's code
 *     runs. A host linked against the library does not start: the loader
 *     prints
 *
 *         <program>: error while loading shared libraries: libViDazo.so.inherit: cannot open shared object file: No such file or directory
 *
 *     and the process exits with status 127 before main. A host that loads
 *     the library with dlopen() gets NULL, and dlerror() names the missing
 *     file; the host goes on running.
 *
 *   - libViDazo.so, the name the library opens while it loads, to resolve
 *     the lower library's functions. When it cannot be opened, or lacks any
 *     of those functions, the library halts the process on purpose, during
 *     the load, also inside dlopen(): a host cannot be told that a library's
 *     load-time work failed, and every function would run on an unbound
 *     lower library. dlopen() never returns. On standard error come, when
 *     libViDazo.so is missing, the open error
 *
 *         Error opening libViDazo.so: libViDazo.so: cannot open shared object file: No such file or directory
 *
 *     then, in either case, the assertion line and the halt message
 *
 *         [ViDazoHx|protons/dll/posix/tDLLMain|59] !!!ASSERT!!!
 *         Main failed during process attach request.  Module not loaded. No choice but to halt the process.
 *
 *     after which the process stops with a trap signal (SIGTRAP; a shell
 *     reports status 133), even when the host handles SIGTRAP itself.
 *
 * So the two cases tell themselves apart: the first is reported by the
 * loader (exit status 127, or NULL from dlopen()) and names
 * libViDazo.so.inherit; the second ends the process by SIGTRAP after the
 * library's own lines. Both names must be present: the simulated lower
 * library installs libViDazo.so as a link to libViDazo.so.inherit. A host that must survive the
 * second case can call dlopen("libViDazo.so", RTLD_LAZY) itself before it
 * loads libViDazoHx.so, and stop there when that fails. For the same reason
 * a host never sees ViDazoHx_StatusLibraryNotFound or
 * ViDazoHx_StatusEntryPointMissing returned by a function.
 *
 * @section vidazohx_trace Tracing
 * Two environment variables, read once at load, switch on a trace of the
 * host's calls: VIDAZOHX_TRACE (unset or 0: off; errors: each call that
 * answers non-zero; calls: every call, with an entry line for those that
 * can block; all: also the library's own events, such as a put-off close
 * and its finish) and VIDAZOHX_TRACE_FILE (a file to append to; otherwise
 * standard error as it was at load). One line per call or event, written
 * whole; off, it costs each function one compare and a branch. The levels,
 * the line format and the costs: @ref diagnosing.
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

/** Major version of the library this header belongs to. */
#define VIDAZOHX_VERSION_MAJOR 1
/** Minor version of the library this header belongs to. */
#define VIDAZOHX_VERSION_MINOR 0
/** Patch version of the library this header belongs to. */
#define VIDAZOHX_VERSION_PATCH 0

/** Marks the library's exported functions. */
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
 * For the name of a status from below, ask the lower library's own name
 * function first (see @ref vidazohx_statuses).
 * The text is static; the function is inline, so it adds no export.
 * @param status Any status a function of this library returned.
 * @return The name, never NULL.
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
  int32_t count; /**< number of elements; the library sets it after a read */
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

/**
 * Opens a session on a target, reserves in the lower library as many IRQ
 * contexts as ViDazoHx_ReserveIrqContext() announced, and registers the
 * session's cleanup with the host (RTSetCleanupProc mode 2), so that a
 * session the host forgets is closed when it stops.
 *
 * @param bitfile   The lower library's to interpret, passed on unchanged.
 *                  The simulated target accepts any text or NULL, records
 *                  it and hands it back in its bitfile contents.
 * @param signature The lower library's to interpret, passed on unchanged.
 *                  The simulated target accepts any text or NULL and
 *                  records it.
 * @param resource  The target to open, the lower library's to interpret
 *                  (names come from the resource broker). The simulated
 *                  target accepts the names of its broker's table: "sim0"
 *                  and "sim1", and any added with ViDazoHx_AddResources().
 * @param attribute Open options, passed on to the lower library unchanged;
 *                  this library does not interpret them. The simulated
 *                  target records them and ignores them.
 * @param sessionOut Receives the session value. Required.
 * @return 0, or a warning of the lower open or of an IRQ reservation,
 *         with the session open. Otherwise nothing stays open:
 *  - a failure recorded while the library was loaded, or
 *    ViDazoHx_StatusMemoryFull once the registry has failed to grow
 *    (nothing is opened);
 *  - ViDazoHx_StatusInvalidParameter: `sessionOut` is NULL (nothing is
 *    opened: the session could neither be reported nor closed);
 *  - the lower open's error;
 *  - the error of an IRQ reservation;
 *  - ViDazoHx_StatusUnexpectedFailure: the host refused the cleanup
 *    registration;
 *  - ViDazoHx_StatusMemoryFull, ViDazoHx_StatusUnexpectedFailure,
 *    ViDazoHx_StatusSyncInitFailed: the session could not be recorded;
 *  - ViDazoHx_StatusLibraryNotOpen: the lower library is not bound;
 *  - ViDazoHx_StatusHostCancelled: the host ran the session's cleanup
 *    procedure while the call was under way, after it registered that
 *    procedure. The cleanup closed the session below (once: the call does
 *    not close it again) and nothing of it is recorded, even when the lower
 *    library has handed the value to another open since. Earlier releases
 *    recorded the closed session and answered 0, and the next open that got
 *    the value inherited that record.
 *
 * After an error past the lower open, the session is closed again (with
 * attribute 1) before the call returns, once: a cleanup the host runs
 * meanwhile either closes it itself or leaves it to that close. Earlier
 * releases could close it twice when the cleanup ran just before that
 * close. See ViDazoHx_OpenResource() for
 * what a refused open leaves behind when the lower library hands out a
 * value that still designates an earlier session, for what a value handed
 * out again carries over, and for a put-off close that such an open runs
 * again.
 */
VIDAZOHX_API int32_t ViDazoHx_Open(const char* bitfile, const char* signature, const char* resource,
                                   uint32_t attribute, uint32_t* sessionOut);

/**
 * Opens a resource session under `parent`. A resource session is closed by
 * its own close or by its parent's; it registers no host cleanup and
 * reserves no IRQ contexts.
 *
 * @param parent     The parent session, or 0 for none.
 * @param resource   As for ViDazoHx_Open().
 * @param attribute  Passed on to the lower library unchanged, as for
 *                   ViDazoHx_Open().
 * @param sessionOut Receives the session value. Required.
 * @return 0 or a lower warning, with the session open. Otherwise nothing
 *         stays open:
 *  - ViDazoHx_StatusSessionNotSupported: `parent` has bit 0x2000;
 *  - ViDazoHx_StatusInvalidParameter: `sessionOut` is NULL, or linking the
 *    session under `parent` would make it its own ancestor;
 *  - the lower open's error;
 *  - ViDazoHx_StatusSessionNotFound: `parent` was not opened through this
 *    library, or is closed;
 *  - ViDazoHx_StatusMemoryFull, ViDazoHx_StatusUnexpectedFailure,
 *    ViDazoHx_StatusSyncInitFailed: the session could not be recorded.
 *
 * What a refused open leaves behind. The undo closes, with attribute 1,
 * the lower session this call opened and nothing else: no session of the
 * host's is closed by an open that failed. Ordinarily that is a full close
 * of the new session (and, for ViDazoHx_Open(), the withdrawal of its
 * cleanup). When the lower library has closed an earlier session on its
 * own and hands its value out again, the library still holds that earlier
 * session's record, children included: a refused open of that value then
 * closes only its new lower session (ViDazoHx_Open() also withdraws the
 * cleanup it registered) and leaves the record and its links as they
 * were, until the host closes the earlier session. Earlier releases
 * undid such an open with a full close of the value, which closed the
 * earlier session's resource sessions behind the host's back.
 *
 * A value handed out again keeps its record. The lower library hands a
 * value out only after the session that had it is closed; this library
 * relies on that session having been closed through it (ViDazoHx_Close(),
 * the cleanup, or a put-off close finishing) whenever regions of it were
 * lent, and on a second open of one session answering with the same value.
 * Then the kept record is that same session's, or has nothing lent. If the
 * lower library instead ends a session on its own while regions of it are
 * out and hands the value to a new open, the new session takes over
 * everything the record carries: its flags, its FIFO records with the
 * regions still out, and the resource sessions opened under the earlier
 * one (closed when the new session is). The host sees a new session that
 * has regions out it never acquired: its Close answers
 * ViDazoHx_StatusRegionsOutstanding and its download and reset are refused
 * until they come back; when one comes back its elements are given back
 * on the value, now the new session's; and a close put off for the earlier
 * session is finished on the new one by the last of them. Only a close
 * this library had decided on before the new open recorded the value, and
 * a close of the earlier session still under way, stay off it. Ending a
 * session whose DMA regions the host still holds has already taken that
 * memory away from the host; this library cannot make that case safe.
 *
 * The kept record moves under `parent` (or, for ViDazoHx_Open(), out from
 * under any parent). When that takes a resource session from a parent
 * whose close was put off (ViDazoHx_StatusRegionsOutstanding), the call
 * runs that close again on its own thread, with attribute 1, before it
 * returns, as the close of that resource session would have (see
 * ViDazoHx_Close()). Earlier releases did so only when the moved session
 * was the parent's last.
 */
VIDAZOHX_API int32_t ViDazoHx_OpenResource(uint32_t parent, const char* resource, uint32_t attribute,
                                           uint32_t* sessionOut);

/**
 * Closes a session: its resource sessions first (with attribute 1), then
 * the session itself in the lower library, and withdraws its host cleanup.
 * Waits for acquisitions under way on the session's FIFOs (see
 * @ref vidazohx_threads).
 *
 * @param session   The session.
 * @param attribute Passed on to the lower close unchanged. The library's
 *                  own closes (undoing a failed open, host cleanup, a close
 *                  finished by a release) use 1. The simulated target
 *                  ignores it.
 * @return
 *  - the lower close's status (a session not opened through this library,
 *    or closed already, is still closed in the lower library, which
 *    answers for it);
 *  - 0 without calling the lower library, when another close of the same
 *    session is under way in the library (one the library finishes on its
 *    own account, the host's cleanup, or a Close on another thread) and
 *    has already taken it out of the registry: the call waits until that
 *    close has closed the session below. Earlier releases closed twice in
 *    that case: the second Close found no record, withdrew the host
 *    cleanup again and called the lower close again, and, once the lower
 *    library had handed the value to a new session, closed that one;
 *  - ViDazoHx_StatusSessionNotSupported: bit 0x2000;
 *  - ViDazoHx_StatusRegionsOutstanding: regions of the session, or of one
 *    of its resource sessions, are lent to the host. Nothing is taken back;
 *    the close is put off and completes by itself when the last of those
 *    regions is given back (the host need not call again). Resource
 *    sessions below it with nothing lent may be closed already. A put-off
 *    close does not stop the session: new acquisitions on it succeed, and
 *    the close completes only when the last of its regions, old or new,
 *    comes back;
 *  - ViDazoHx_StatusLibraryNotOpen.
 *
 * A put-off close that waits for resource sessions below the session runs
 * the whole close again each time one of them closes (or moves away, see
 * ViDazoHx_OpenResource()) and nothing below the session is lent any more:
 * the resource sessions opened under it after it was put off are closed
 * with it, with attribute 1, as a second Close would. While something below
 * is still lent, the sessions holding it are marked so that the last of
 * those regions to come back finishes the close, whichever session it
 * belongs to. Disposing of a resource session's last region may then wait,
 * as Close does, for an acquisition under way on a FIFO of a sibling.
 * Earlier releases finished the parent's close only when its last listed
 * resource session closed, so a parent that gained a resource session
 * after its close was put off stayed open below for good, that one with it.
 *
 * A put-off close finished by the release procedure answers to the host
 * only through that procedure's result: a host that ignores it leaves the
 * session open below when the lower close fails (the record is gone all
 * the same).
 *
 * Each session is closed in the lower library once, by exactly one close.
 * The cleanup procedure that ViDazoHx_Open() registers closes the session
 * with attribute 1 and returns 0. When it meets a close of the session
 * already under way it returns 0 at once, without waiting: that close
 * withdraws the procedure, and a host may hold the withdrawal until the
 * procedure has returned. When it runs while ViDazoHx_Open() of the
 * session is still under way (see there), it closes the session itself,
 * and that open answers ViDazoHx_StatusHostCancelled; it never waits for
 * the open either.
 *
 * A Close on the very thread that runs a close of the session under way
 * (a host that closes from inside its own RTSetCleanupProc() while the
 * library withdraws, which the host contract does not provide for) answers
 * 0 at once, as the cleanup does, and leaves the session to that close.
 * Earlier releases waited there for ever, for themselves.
 */
VIDAZOHX_API int32_t ViDazoHx_Close(uint32_t session, uint32_t attribute);

/**
 * Runs the target.
 * @param session   The session.
 * @param attribute Passed on to the lower library unchanged; the simulated
 *                  target ignores it.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported (bit
 *         0x2000); ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Run(uint32_t session, uint32_t attribute);
/**
 * Aborts the target.
 * @param session The session.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Abort(uint32_t session);
/**
 * Downloads the bitfile to the target again. Refused while regions are
 * lent, because the target's FIFOs would change under the host.
 * @param session The session.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusRegionsOutstanding (regions of the session are
 *         lent; nothing was done); ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Download(uint32_t session);
/**
 * Resets the target. Refused while regions are lent, as for
 * ViDazoHx_Download().
 * @param session The session.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusRegionsOutstanding; ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Reset(uint32_t session);

/* ======================================================================
 * Registers
 * Offsets are the lower library's; the simulated target takes byte offsets
 * into a 64 KiB space per session, naturally aligned.
 * ==================================================================== */

/**
 * Reads a 16-bit register.
 * @param session The session.
 * @param offset  The register.
 * @param value   Receives the value. Required: this library passes it to
 *                the lower library unchecked (the simulated target answers
 *                NULL with ViDazoSim_StatusInvalidParameter).
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Read16(uint32_t session, uint32_t offset, uint16_t* value);
/**
 * Reads a 32-bit register.
 * @param session The session.
 * @param offset  The register.
 * @param value   Receives the value. Required: this library passes it to
 *                the lower library unchecked (the simulated target answers
 *                NULL with ViDazoSim_StatusInvalidParameter).
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Read32(uint32_t session, uint32_t offset, uint32_t* value);
/**
 * Reads a single-precision value: the register's 32-bit pattern, through
 * ViDazoHx_Read32().
 * @param session The session.
 * @param offset  The register.
 * @param value   Receives the value. Required and unchecked, as for
 *                ViDazoHx_Read32().
 * @return As ViDazoHx_Read32().
 */
VIDAZOHX_API int32_t ViDazoHx_ReadSgl(uint32_t session, uint32_t offset, float* value);
/**
 * Writes a 16-bit register.
 * @param session The session.
 * @param offset  The register.
 * @param value   The value.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Write16(uint32_t session, uint32_t offset, uint16_t value);
/**
 * Writes a 32-bit register.
 * @param session The session.
 * @param offset  The register.
 * @param value   The value.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_Write32(uint32_t session, uint32_t offset, uint32_t value);
/**
 * Writes a single-precision value as its 32-bit pattern, through
 * ViDazoHx_Write32().
 *
 * `value` is a float, not a double and not an integer: on 32-bit ARM with
 * hard-float calling (armhf) it arrives in a VFP register (s0), not in an
 * integer register. Call it through this prototype; a caller that passes
 * the value as an integer or a double hands the library something else.
 * @param session The session.
 * @param offset  The register.
 * @param value   The value.
 * @return As ViDazoHx_Write32().
 */
VIDAZOHX_API int32_t ViDazoHx_WriteSgl(uint32_t session, uint32_t offset, float value);
/**
 * Reads `count` consecutive 32-bit registers into a host array: the host
 * resizes the array to `count` unsigned 32-bit elements first
 * (NumericArrayResize), then the lower library writes into it in place.
 * The array's count is set to `count` on success or a warning, to 0 on an
 * error (also when the session is refused).
 * @param session The session.
 * @param offset  The first register.
 * @param count   Number of registers.
 * @param array   The host array. Required.
 * @return The lower status; ViDazoHx_StatusInvalidParameter (`array` or
 *         its block absent: checked first, the array is untouched);
 *         ViDazoHx_StatusSessionNotSupported; the resize's failure
 *         (ViDazoHx_StatusMemoryFull, ViDazoHx_StatusHostCancelled,
 *         ViDazoHx_StatusUnexpectedFailure); ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_ReadArray32(uint32_t session, uint32_t offset, uint32_t count,
                                          ViDazoHx_ArrayHandle array);
/**
 * Writes the host array's elements, as many as its count says, to
 * consecutive 32-bit registers. Nothing is resized.
 * @param session The session.
 * @param offset  The first register.
 * @param array   The host array, of unsigned 32-bit elements. Required.
 * @return The lower status; ViDazoHx_StatusInvalidParameter (`array` or
 *         its block absent, checked first); ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_WriteArray32(uint32_t session, uint32_t offset, ViDazoHx_ArrayHandle array);

/* ======================================================================
 * IRQs
 * ==================================================================== */

/**
 * Announces one more IRQ context: every session opened from now on
 * reserves one more in the lower library when it opens. Sessions already
 * open are not affected.
 * @param session Not used.
 * @param context Not used; nothing is written to it.
 * @return 0, always. Never blocks.
 */
VIDAZOHX_API int32_t ViDazoHx_ReserveIrqContext(uint32_t session, ViDazoHx_IrqContext* context);
/**
 * Announces one IRQ context fewer for sessions opened from now on.
 * @param session Not used.
 * @param context Not used.
 * @return 0, always. Never blocks.
 */
VIDAZOHX_API int32_t ViDazoHx_UnreserveIrqContext(uint32_t session, ViDazoHx_IrqContext* context);
/**
 * Waits until an IRQ of `irqMask` is asserted or the timeout passes, in the
 * lower library.
 * @param session      The session.
 * @param context      Points at the host's IRQ context variable; the lower
 *                     library receives the value it holds. Required.
 * @param irqMask      The IRQs to wait for.
 * @param timeout      In milliseconds; ViDazoHx_InfiniteTimeout: no limit.
 * @param irqsAsserted Receives the asserted IRQs of the mask. Required:
 *                     this library passes it to the lower library unchecked
 *                     (the simulated target skips a NULL output).
 * @param timedOut     Receives 1 when the timeout passed first, else 0.
 *                     Required and unchecked, as `irqsAsserted`.
 * @return The lower status (the simulated target answers 0 also when the
 *         timeout passes, with `timedOut` set); ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusInvalidParameter (`context` is NULL);
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_WaitOnIrqs(uint32_t session, ViDazoHx_IrqContext* context, uint32_t irqMask,
                                         uint32_t timeout, uint32_t* irqsAsserted, uint8_t* timedOut);
/**
 * Acknowledges IRQs.
 * @param session The session.
 * @param irqs    The IRQs to acknowledge.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_AcknowledgeIrqs(uint32_t session, uint32_t irqs);

/* ======================================================================
 * DMA FIFOs
 * FIFO numbers are the lower library's; sim/README.md lists the simulated
 * target's default FIFOs with their directions and type codes.
 * ==================================================================== */

/**
 * Sets a FIFO's depth.
 * @param session The session.
 * @param fifo    The FIFO.
 * @param depth   Requested depth in elements.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo(uint32_t session, uint32_t fifo, uint32_t depth);
/**
 * Sets a FIFO's depth and reports the depth the lower library chose.
 * @param session        The session.
 * @param fifo           The FIFO.
 * @param requestedDepth Requested depth in elements.
 * @param actualDepth    Receives the depth chosen (0 when the lower library
 *                       wrote none, e.g. on an error). Required.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported (checked
 *         first); ViDazoHx_StatusInvalidParameter (`actualDepth` is NULL);
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_ConfigureFifo2(uint32_t session, uint32_t fifo, uint32_t requestedDepth,
                                             uint32_t* actualDepth);
/**
 * Starts a FIFO and prepares it for region acquisition.
 * @param session The session, opened through this library.
 * @param fifo    The FIFO.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusSessionNotFound (not opened through this library,
 *         or closed); ViDazoHx_StatusMemoryFull, ViDazoHx_StatusUnexpectedFailure,
 *         ViDazoHx_StatusSyncInitFailed (the FIFO's record could not be
 *         made; the lower start is not called); ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_StartFifo(uint32_t session, uint32_t fifo);
/**
 * Stops a FIFO.
 * @param session The session.
 * @param fifo    The FIFO.
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_StopFifo(uint32_t session, uint32_t fifo);
/**
 * Reads `count` elements of a target-to-host FIFO into a host array by
 * copy: the host resizes the array to `count` elements of `typeCode` first
 * (the type code goes to NumericArrayResize as given, before the library
 * checks it), then the lower library reads into it in place. The array's
 * count is set to `count` on success or a warning, to 0 on an error.
 * @param session   The session.
 * @param fifo      The FIFO.
 * @param count     Number of elements.
 * @param typeCode  Element type, ViDazoHx_TypeI8 to ViDazoHx_TypeU64.
 * @param ignored   Not used.
 * @param timeout   In milliseconds, for the lower library's wait;
 *                  ViDazoHx_InfiniteTimeout: no limit.
 * @param array     The host array. Required.
 * @param remaining Optional. Receives the elements left in the FIFO, on
 *                  every outcome past the session and array checks (0 when
 *                  the lower library was not called).
 * @return The lower status (ViDazoHx_StatusFifoTimeout when the elements
 *         did not arrive in time); ViDazoHx_StatusSessionNotSupported (the
 *         array is untouched); ViDazoHx_StatusInvalidParameter (`typeCode`
 *         outside 1 to 8, `array` or its block absent); the resize's
 *         failure (ViDazoHx_StatusMemoryFull, ViDazoHx_StatusHostCancelled,
 *         ViDazoHx_StatusUnexpectedFailure); ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_ReadFifoScalar(uint32_t session, uint32_t fifo, uint32_t count, int32_t typeCode,
                                             int32_t ignored, uint32_t timeout, ViDazoHx_ArrayHandle array,
                                             uint32_t* remaining);
/**
 * Writes the host array's elements, as many as its count says, to a
 * host-to-target FIFO by copy.
 * @param session   The session.
 * @param fifo      The FIFO.
 * @param array     The host array. Required.
 * @param typeCode  Element type of the array, ViDazoHx_TypeI8 to
 *                  ViDazoHx_TypeU64.
 * @param ignored   Not used.
 * @param timeout   In milliseconds, for the lower library's wait.
 * @param remaining Optional. Receives the free places left, as for
 *                  ViDazoHx_ReadFifoScalar().
 * @return The lower status (ViDazoHx_StatusFifoTimeout when there was no
 *         room in time); ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusInvalidParameter (`typeCode` outside 1 to 8,
 *         `array` or its block absent); ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_WriteFifoScalar(uint32_t session, uint32_t fifo, ViDazoHx_ArrayHandle array,
                                              int32_t typeCode, int32_t ignored, uint32_t timeout,
                                              uint32_t* remaining);
/**
 * Lends up to `elementsRequested` elements of a target-to-host FIFO to the
 * host, without copying: the elements stay in the lower library's DMA
 * buffer, and the host receives a reference whose data record
 * (ViDazoHx_DataRecord) points at them. The run is contiguous, so at the
 * buffer's end it may be shorter than requested; `elementsAcquiredOut` and
 * the record's `elementCount` say how many were lent. The host gives the
 * elements back by disposing of the reference (see EDVR_CreateReference());
 * regions go back to the lower library in acquisition order. While any
 * region of a session is out, its close is put off and its download and
 * reset are refused. The FIFO must have been started with
 * ViDazoHx_StartFifo() (or the record is made here). A close of the session
 * put off by regions still out does not stop new acquisitions: they
 * succeed, and the session closes when the last of its regions comes back
 * (see ViDazoHx_Close()).
 *
 * One acquisition per FIFO runs at a time; others queue behind it (see
 * @ref vidazohx_threads for what that holds up).
 *
 * Timeouts, as the call behaves. The timeout covers the whole call, from
 * its start, including time queued behind another acquisition of the FIFO:
 *  - ViDazoHx_StatusFifoTimeout (-50400): the lower library's own wait ran
 *    out: too few elements (for a write region: free places) arrived within
 *    what was left of the timeout. With timeout 0, or once the time is used
 *    up in the queue, the lower library is asked without waiting.
 *  - ViDazoHx_StatusAcquireTimedOut (-61219): the request could not be met
 *    while elements of the FIFO were still lent to the host (the lower
 *    library answered -61219), and no region was given back within what was
 *    left of the timeout. Each give-back makes the call ask again.
 *  - ViDazoHx_InfiniteTimeout: neither. The call asks again, in attempts of
 *    3 seconds, until the request is met or the host's cleanup (mode 6)
 *    runs, which ends it with ViDazoHx_StatusHostCancelled within one
 *    attempt.
 *  - A finite timeout above 3000 ms is cut into attempts in the same way:
 *    no wait for the turn and no wait in the lower library is longer than
 *    3 seconds or than what is left of the timeout, and a wait cut short
 *    that ends without elements while time is left is followed by another,
 *    so the call still gives up only once its whole timeout is used up
 *    (with -50400 or -61219 as above). The host's cleanup (mode 6) ends it
 *    with ViDazoHx_StatusHostCancelled within two attempts (one when it
 *    runs while the call waits in the lower library). A call waiting in
 *    the lower library for a timeout of T ms asks it about T / 3000 times
 *    (rounded up), not once. Earlier releases made a single wait of the
 *    whole timeout, which the cleanup could not end: a timeout of -2 (about
 *    49.7 days) held the host's stop for that long. Timeouts 0, up to 3000
 *    and ViDazoHx_InfiniteTimeout behave as before.
 *
 * @param session             The session, opened through this library.
 * @param fifo                The FIFO.
 * @param referenceOut        Receives the reference; set to 0 first, and
 *                            stays 0 when no region is lent. Required.
 * @param elementsRequested   Most elements to lend. 0 asks the lower
 *                            library but lends nothing (no reference).
 * @param typeCode            Element type, ViDazoHx_TypeI8 to
 *                            ViDazoHx_TypeU64; must match the FIFO's.
 * @param ignored             Not used.
 * @param timeout             In milliseconds; see above.
 * @param elementsAcquiredOut Receives the number lent, from the lower
 *                            library. Required (NULL is refused).
 * @param elementsRemainingOut Receives, from the lower library, the
 *                            elements (free places) left after the region.
 *                            Required: this library passes it to the lower
 *                            library unchecked (the simulated target skips
 *                            a NULL output).
 *
 * The two counts are meaningful only when a region is lent (0 or a
 * warning). When the call fails they are left as they were if it failed
 * before asking the lower library (its argument, session, registration,
 * turn and queue-node steps), and otherwise hold what the lower library
 * last wrote into them: it may be asked several times, and on a failure
 * after it lent elements, `elementsAcquiredOut` still holds their number
 * although they went back. Only `referenceOut` is set by this library (to
 * 0 first).
 * @return 0 or a lower warning, with a region lent. Otherwise no region is
 *         lent and every element the lower library lent on this call has
 *         been given back:
 *  - ViDazoHx_StatusSessionNotSupported: bit 0x2000;
 *  - ViDazoHx_StatusInvalidParameter: `referenceOut` or
 *    `elementsAcquiredOut` NULL, or `typeCode` outside 1 to 8;
 *  - ViDazoHx_StatusSessionNotFound: not opened through this library, or
 *    closed;
 *  - ViDazoHx_StatusFifoTimeout, ViDazoHx_StatusAcquireTimedOut: see above;
 *  - ViDazoHx_StatusHostCancelled: the host's cleanup ran during the wait,
 *    or the host answered 41 to a registration or the reference;
 *  - ViDazoHx_StatusMemoryFull: the region could not be recorded, or the
 *    host answered 2;
 *  - ViDazoHx_StatusUnexpectedFailure: the host refused the cleanup
 *    registration or the reference otherwise, or a wait failed;
 *  - ViDazoHx_StatusSyncInitFailed: the FIFO's record could not be made;
 *  - the lower library's error (e.g. a FIFO not started, a wrong type).
 */
VIDAZOHX_API int32_t ViDazoHx_AcquireFifoReadRegionScalar(uint32_t session, uint32_t fifo, uint32_t* referenceOut,
                                                          uint32_t elementsRequested, int32_t typeCode,
                                                          int32_t ignored, uint32_t timeout,
                                                          uint32_t* elementsAcquiredOut,
                                                          uint32_t* elementsRemainingOut);
/**
 * As ViDazoHx_AcquireFifoReadRegionScalar(), for free places of a
 * host-to-target FIFO: the host fills the lent places in place, and
 * disposing of the reference commits them to the target. The timeouts and
 * outcomes are the same.
 *
 * A write region the host did not get (because the host refused the
 * reference, or the region could not be recorded) is still given back to
 * the lower library, and giving a write region back commits its places:
 * the target receives whatever the buffer held there. That is deliberate:
 * holding the places back instead would stall the FIFO for good.
 *
 * @param session             The session, opened through this library.
 * @param fifo                The FIFO.
 * @param referenceOut        Receives the reference; 0 when none. Required.
 * @param elementsRequested   Most places to lend.
 * @param typeCode            Element type, ViDazoHx_TypeI8 to ViDazoHx_TypeU64.
 * @param ignored             Not used.
 * @param timeout             In milliseconds; see
 *                            ViDazoHx_AcquireFifoReadRegionScalar().
 * @param elementsAcquiredOut Receives the number lent. Required (NULL is
 *                            refused).
 * @param elementsRemainingOut Receives the free places left. Required and
 *                            unchecked, as for the read region.
 *
 * The two counts mean what they mean for ViDazoHx_AcquireFifoReadRegionScalar():
 * only when a region is lent.
 * @return As ViDazoHx_AcquireFifoReadRegionScalar().
 */
VIDAZOHX_API int32_t ViDazoHx_AcquireFifoWriteRegionScalar(uint32_t session, uint32_t fifo, uint32_t* referenceOut,
                                                           uint32_t elementsRequested, int32_t typeCode,
                                                           int32_t ignored, uint32_t timeout,
                                                           uint32_t* elementsAcquiredOut,
                                                           uint32_t* elementsRemainingOut);
/**
 * Reports a FIFO's peer-to-peer endpoint.
 * @param session  The session.
 * @param fifo     The FIFO.
 * @param endpoint Receives the endpoint. Required: this library passes it
 *                 to the lower library unchecked (the simulated target
 *                 answers NULL with ViDazoSim_StatusInvalidParameter).
 * @return The lower status; ViDazoHx_StatusSessionNotSupported;
 *         ViDazoHx_StatusLibraryNotOpen.
 */
VIDAZOHX_API int32_t ViDazoHx_GetPeerToPeerFifoEndpoint(uint32_t session, uint32_t fifo, uint32_t* endpoint);

/* ======================================================================
 * Resources (resource broker)
 * ==================================================================== */

/**
 * Lists the resource names the broker knows for a session, comma-separated.
 * @param session  The session; the broker receives it without bits
 *                 0xF000.
 * @param names    Receives the list, NUL-terminated. Required: this
 *                 library passes it to the broker unchecked (the simulated
 *                 broker answers NULL with VoKelSrvSim_StatusBufferTooSmall).
 * @param capacity Size of `names` in bytes.
 * @param count    Receives the number of names. Required and unchecked
 *                 (the simulated broker answers NULL with
 *                 VoKelSrvSim_StatusNullArgument).
 * @return The broker's status; ViDazoHx_StatusSessionNotSupported.
 */
VIDAZOHX_API int32_t ViDazoHx_GetResources(uint32_t session, char* names, uint32_t capacity, uint32_t* count);
/**
 * Names the resource at `index`.
 * @param index    The broker's index.
 * @param name     Receives the name, NUL-terminated. Required: this library
 *                 passes it to the broker unchecked (the simulated broker
 *                 answers NULL with VoKelSrvSim_StatusBufferTooSmall).
 * @param capacity Size of `name` in bytes.
 * @return The broker's status.
 */
VIDAZOHX_API int32_t ViDazoHx_GetResourceName(uint32_t index, char* name, uint32_t capacity);
/**
 * Finds the index of a resource and claims it (release it with
 * ViDazoHx_ReleaseResourceIndex()).
 * @param name  The resource name.
 * @param index Receives the index. Required: this library passes it to the
 *              broker unchecked (the simulated broker answers NULL with
 *              VoKelSrvSim_StatusNullArgument).
 * @return The broker's status.
 */
VIDAZOHX_API int32_t ViDazoHx_GetResourceIndex(const char* name, uint32_t* index);
/**
 * Gives back a claim of ViDazoHx_GetResourceIndex().
 * @param index The index.
 * @return The broker's status.
 */
VIDAZOHX_API int32_t ViDazoHx_ReleaseResourceIndex(uint32_t index);
/**
 * Adds resource names, through the lower library (which is linked for this
 * call, not bound at load).
 * @param names The names.
 * @param count Number of names.
 * @return The lower library's status.
 */
VIDAZOHX_API int32_t ViDazoHx_AddResources(const char* const* names, uint32_t count);

/* ======================================================================
 * Host runtime: provided by the hosting process, not by this library
 * ==================================================================== */

/**
 * Provided by the host: resizes a host array. Called by
 * ViDazoHx_ReadArray32() (type ViDazoHx_TypeU32) and
 * ViDazoHx_ReadFifoScalar() (the caller's type code, unchecked: reject a
 * code you do not know), always with one dimension. It must leave room for
 * `count` elements at the type's offset (see ViDazoHx_ArrayBlock); it may
 * move the block, and the library reads the master pointer again
 * afterwards. It need not set the count; the library does.
 * @param typeCode   Element type.
 * @param dimensions Always 1.
 * @param array      The handle to resize.
 * @param count      Elements to make room for.
 * @return 0 success, 2 out of memory, 41 cancelled; anything else is a
 *         failure (ViDazoHx_StatusUnexpectedFailure). 0 without a block
 *         left behind is taken as a failure.
 */
int32_t NumericArrayResize(int32_t typeCode, int32_t dimensions, ViDazoHx_ArrayHandle* array, uint32_t count);
/**
 * Provided by the host: registers or withdraws a cleanup procedure that
 * the host calls, with `argument`, when it stops.
 *  - mode 2: registered by ViDazoHx_Open() for the session (the procedure
 *    closes it); withdrawn by ViDazoHx_Close() with mode 0 and the same
 *    procedure and argument.
 *  - mode 6: registered by an acquire-region call for the length of its
 *    wait, on the calling thread (the procedure ends the wait); withdrawn
 *    on the same thread with a NULL procedure, argument 0 and mode 6, which
 *    withdraws that thread's mode-6 registrations.
 *  - mode 0: withdraws a mode-2 registration.
 * The host runs the procedures on its own threads, never inside this call,
 * mode 6 before mode 2, and lets a withdrawal return only after a call of
 * that procedure already under way has (see @ref vidazohx_host_runtime).
 * The procedures return 0.
 * @param procedure The procedure, or NULL (mode-6 withdrawal).
 * @param argument  Its argument.
 * @param mode      2, 6 or 0.
 * @return 0 when the registration (or withdrawal) was taken. Anything else
 *         refuses it: ViDazoHx_Open() then fails with
 *         ViDazoHx_StatusUnexpectedFailure; an acquisition fails with the
 *         converted result. Results of withdrawals are not looked at.
 */
int32_t RTSetCleanupProc(ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode);
/**
 * Provided by the host: creates an external data value reference for a
 * region being lent, and hands out its data record, zeroed. The library
 * fills the record after this returns.
 *
 * The reference and the record are the host's. The record must stay at
 * its address, and the elements it points at may be used, until the host
 * disposes of the reference. When it does (on any thread, never inside
 * this call), it calls the record's `release` with the record's address,
 * exactly once, and may free the record when `release` has returned;
 * the elements are no longer the host's from then on. `release` returns 0,
 * the status of a put-off close it finished, or
 * ViDazoHx_StatusInvalidParameter for a record the library did not fill.
 * Finishing a put-off close, `release` blocks as ViDazoHx_Close() does,
 * behind an acquisition under way on another FIFO of the session. A host
 * that ignores its result leaves the session open below when that lower
 * close fails.
 * @param reference Receives the reference (non-zero).
 * @param record    Receives the data record.
 * @return 0 success, 2 out of memory, 41 cancelled, anything else a
 *         failure; 0 without a record is taken as a failure. On any
 *         failure no region is lent and the elements are given back.
 */
int32_t EDVR_CreateReference(uint32_t* reference, ViDazoHx_DataRecord** record);

#ifdef __cplusplus
}
#endif

#endif /* VIDAZOHX_VIDAZOHX_H */
