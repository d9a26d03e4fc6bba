/**
 * @file HostRuntimeSim.h
 * @brief Control API of the simulated host runtime: arrays, cleanup,
 *        references, fault injection.
 *
 * The simulated host runtime (library HostRuntimeSim) provides the three
 * host functions that libViDazoHx calls, NumericArrayResize,
 * RTSetCleanupProc and EDVR_CreateReference (declared in ViDazoHx.h), to a
 * test program that links it, as a real hosting process would. The
 * functions below let that program play the host's part: make and inspect
 * array handles, run the cleanup a host runs when it stops, dispose of
 * references, and make host functions fail.
 *
 * Results of the host functions: 0 success, HostRuntimeSim_ResultMemoryFull
 * (2), HostRuntimeSim_ResultCancelled (41, only when injected) and
 * HostRuntimeSim_ResultArgumentError (1) for arguments the host rejects.
 *
 * Every function is thread-safe unless it says otherwise. None of them
 * calls a procedure while holding the stand-in's lock.
 */
#ifndef HOSTRUNTIME_HOSTRUNTIMESIM_H
#define HOSTRUNTIME_HOSTRUNTIMESIM_H

#include <stdint.h>

#include "ViDazoHx/ViDazoHx.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Marks the stand-in's exported functions. */
#if defined(__GNUC__)
#define HOSTRUNTIMESIM_API __attribute__((visibility("default")))
#else
#define HOSTRUNTIMESIM_API
#endif

/* ---- results of the host functions ------------------------------------ */

/** A host function rejected its arguments: a type code outside 1 to 8, a
 *  dimension count other than 1, a null pointer, an array handle the host
 *  did not make, or a cleanup mode other than 0, 2 and 6. */
#define HostRuntimeSim_ResultArgumentError 1
/** The host is out of memory (also: an array larger than
 *  HostRuntimeSim_MaxArrayBytes). */
#define HostRuntimeSim_ResultMemoryFull 2
/** The host cancelled the operation; only ever answered when injected. */
#define HostRuntimeSim_ResultCancelled 41

/* ---- results of the control functions --------------------------------- */

/** A control call named a function the host runtime does not have. */
#define HostRuntimeSim_ErrorUnknownFunction (-70001)
/** The array handle was not made by the stand-in, or was freed. */
#define HostRuntimeSim_ErrorUnknownHandle (-70002)
/** No live reference has this value. */
#define HostRuntimeSim_ErrorUnknownReference (-70003)
/** A required pointer argument is null. */
#define HostRuntimeSim_ErrorNullArgument (-70004)
/** The disposed reference's record had no release procedure; none was called. */
#define HostRuntimeSim_ErrorNoReleaseProcedure (-70005)

/* An inline function needs C99 or C++; GNU-compatible compilers also accept
 * their own spelling in C89 mode. A plain C89 compiler does without it. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define HOSTRUNTIMESIM_STATUS_TEXT_INLINE static inline
#elif defined(__GNUC__)
#define HOSTRUNTIMESIM_STATUS_TEXT_INLINE static __inline__
#endif

#ifdef HOSTRUNTIMESIM_STATUS_TEXT_INLINE
/**
 * Names a result of the control functions: "Success" for 0, the macro name
 * without its prefix for HostRuntimeSim_ErrorUnknownFunction (-70001) to
 * HostRuntimeSim_ErrorNoReleaseProcedure (-70005), NULL for any other value
 * (ViDazoHx_StatusText() names the library's statuses, which
 * HostRuntimeSim_DisposeReference() passes on from a release procedure).
 * Inline: no export.
 * @param status A result of a HostRuntimeSim_ function.
 * @return The name, or NULL.
 */
HOSTRUNTIMESIM_STATUS_TEXT_INLINE const char* HostRuntimeSim_StatusText(int32_t status) {
  switch (status) {
    case 0: return "Success";
    case HostRuntimeSim_ErrorUnknownFunction: return "UnknownFunction";
    case HostRuntimeSim_ErrorUnknownHandle: return "UnknownHandle";
    case HostRuntimeSim_ErrorUnknownReference: return "UnknownReference";
    case HostRuntimeSim_ErrorNullArgument: return "NullArgument";
    case HostRuntimeSim_ErrorNoReleaseProcedure: return "NoReleaseProcedure";
    default: break;
  }
  return 0;
}
#endif

/** Largest element storage, in bytes, that an array may have. */
#define HostRuntimeSim_MaxArrayBytes (64u * 1024u * 1024u)

/**
 * Puts the stand-in back into its initial state: frees every array handle
 * and every reference's record (without calling release procedures), drops
 * every cleanup registration, injection and hook, and zeroes the call
 * counts. Handles, records and hooks from before are invalid afterwards.
 * Call it only while no host function or control function runs.
 */
HOSTRUNTIMESIM_API void HostRuntimeSim_Reset(void);

/* ---- arrays ----------------------------------------------------------- */

/**
 * Returns the offset of the elements in a block of `typeCode`: 8 for the
 * 64-bit types 4 and 8, 4 for the other valid codes, 0 for an invalid code.
 */
HOSTRUNTIMESIM_API uint32_t HostRuntimeSim_DataOffset(int32_t typeCode);

/**
 * Makes a one-dimensional array handle of `typeCode` (1 to 8) with room for
 * `count` elements, its count field set to `count` and its elements zeroed.
 * Returns the handle, or null for an invalid type code or when memory (or
 * HostRuntimeSim_MaxArrayBytes) does not suffice. Takes the lock.
 */
HOSTRUNTIMESIM_API ViDazoHx_ArrayHandle HostRuntimeSim_NewArray(int32_t typeCode, uint32_t count);

/**
 * Frees a handle made by HostRuntimeSim_NewArray or by NumericArrayResize.
 * Returns 0 or HostRuntimeSim_ErrorUnknownHandle. Takes the lock.
 */
HOSTRUNTIMESIM_API int32_t HostRuntimeSim_FreeArray(ViDazoHx_ArrayHandle array);

/** What the stand-in knows about an array handle. */
typedef struct HostRuntimeSim_ArrayInfo {
  int32_t typeCode;            /**< type code of the last make or resize */
  uint32_t capacity;           /**< elements the block has room for */
  int32_t count;               /**< the block's count field */
  ViDazoHx_ArrayBlock* block;  /**< the current block (the master pointer) */
  void* elements;              /**< first element: block plus HostRuntimeSim_DataOffset */
} HostRuntimeSim_ArrayInfo;

/**
 * Fills `info` for `array`. Returns 0, HostRuntimeSim_ErrorNullArgument or
 * HostRuntimeSim_ErrorUnknownHandle. Takes the lock.
 */
HOSTRUNTIMESIM_API int32_t HostRuntimeSim_GetArrayInfo(ViDazoHx_ArrayHandle array, HostRuntimeSim_ArrayInfo* info);

/** Returns the number of live array handles, for leak checks. Takes the lock. */
HOSTRUNTIMESIM_API uint32_t HostRuntimeSim_LiveArrayCount(void);

/**
 * With `enabled` non-zero, NumericArrayResize keeps the block when it already
 * has room for exactly the elements asked for (same type code), as a real
 * host may; otherwise it always moves the block, which is what catches a
 * stale master pointer. Benchmarks and the demo switch it on so that the copy
 * path is not charged for the stand-in's moves. Off after load and reset.
 */
HOSTRUNTIMESIM_API void HostRuntimeSim_SetResizeInPlace(int32_t enabled);

/* ---- cleanup ---------------------------------------------------------- */

/** One cleanup registration, as RTSetCleanupProc received it. */
typedef struct HostRuntimeSim_Registration {
  ViDazoHx_HostProcedure procedure; /**< the procedure registered */
  uintptr_t argument;               /**< its argument */
  int32_t mode;         /**< 2 or 6 */
  int32_t byCaller;     /**< 1 if the thread listing it made it, else 0 */
} HostRuntimeSim_Registration;

/**
 * Writes up to `capacity` live registrations, oldest first, into `list`
 * (null allowed when `capacity` is 0) and returns how many there are in
 * all. Takes the lock.
 */
HOSTRUNTIMESIM_API uint32_t HostRuntimeSim_ListCleanup(HostRuntimeSim_Registration* list, uint32_t capacity);

/**
 * Runs the cleanup as a host does when it stops, on the calling thread:
 * every mode-6 registration, oldest first, then every mode-2 one, oldest
 * first. Each is withdrawn and then called once with its argument, without
 * the lock held, so procedures may call RTSetCleanupProc (and any other
 * function here). A registration withdrawn by a procedure before its turn
 * is not called; registrations made during the run stay and are not
 * called. Returns the number of procedures called. Run it from one thread
 * at a time.
 */
HOSTRUNTIMESIM_API uint32_t HostRuntimeSim_RunCleanup(void);

/* ---- references ------------------------------------------------------- */

/**
 * Writes up to `capacity` live reference values, ascending, into `list`
 * (null allowed when `capacity` is 0) and returns how many are live in
 * all. Takes the lock.
 */
HOSTRUNTIMESIM_API uint32_t HostRuntimeSim_ListReferences(uint32_t* list, uint32_t capacity);

/**
 * Returns the data record of a live reference, or null. The record stays
 * valid until the reference is disposed of or the stand-in is reset.
 * Takes the lock.
 */
HOSTRUNTIMESIM_API ViDazoHx_DataRecord* HostRuntimeSim_ReferenceRecord(uint32_t reference);

/**
 * Copies the data record of a live reference into `copy`. Returns 0,
 * HostRuntimeSim_ErrorNullArgument or HostRuntimeSim_ErrorUnknownReference.
 * Takes the lock.
 */
HOSTRUNTIMESIM_API int32_t HostRuntimeSim_ReadReference(uint32_t reference, ViDazoHx_DataRecord* copy);

/**
 * Disposes of a reference as a host does: withdraws it, calls the
 * procedure in the record's `release` field once with the record's address
 * (on the calling thread, without the lock), then frees the record.
 * Returns 0 when the reference was disposed of (with the procedure's
 * result in `releaseResult`, which may be null);
 * HostRuntimeSim_ErrorUnknownReference (nothing called, also when another
 * thread disposes of the same reference first); or
 * HostRuntimeSim_ErrorNoReleaseProcedure (record freed, nothing called).
 */
HOSTRUNTIMESIM_API int32_t HostRuntimeSim_DisposeReferenceEx(uint32_t reference, int32_t* releaseResult);

/**
 * As HostRuntimeSim_DisposeReferenceEx, returning the release procedure's
 * result, or HostRuntimeSim_ErrorUnknownReference /
 * HostRuntimeSim_ErrorNoReleaseProcedure (values no release procedure of
 * libViDazoHx returns).
 */
HOSTRUNTIMESIM_API int32_t HostRuntimeSim_DisposeReference(uint32_t reference);

/* ---- fault injection, hooks and call counts --------------------------- */
/* `function` is "NumericArrayResize", "RTSetCleanupProc" or
 * "EDVR_CreateReference". */

/**
 * Makes the next `calls` calls of `function` answer `result` and do
 * nothing else (no argument is read or written). `calls` 0 withdraws; a
 * new injection replaces the previous one. Returns 0,
 * HostRuntimeSim_ErrorNullArgument or HostRuntimeSim_ErrorUnknownFunction.
 * Takes the lock.
 */
HOSTRUNTIMESIM_API int32_t HostRuntimeSim_InjectResult(const char* function, uint32_t calls, int32_t result);

/** A procedure run at the start of every call of a host function. */
typedef void (*HostRuntimeSim_CallHook)(const char* function, void* context);

/**
 * Makes every later call of `function` first call `hook(function,
 * context)` on the calling thread, without the lock held, before the
 * injection check; a null hook removes it. The hook may call any function
 * of the stand-in. Returns 0, HostRuntimeSim_ErrorNullArgument or
 * HostRuntimeSim_ErrorUnknownFunction. Takes the lock.
 */
HOSTRUNTIMESIM_API int32_t HostRuntimeSim_SetCallHook(const char* function, HostRuntimeSim_CallHook hook,
                                                      void* context);

/**
 * Returns how many times `function` has been called since the last reset,
 * injected answers included (0 for an unknown name). Takes the lock.
 */
HOSTRUNTIMESIM_API uint32_t HostRuntimeSim_CallCount(const char* function);

#ifdef __cplusplus
}
#endif

#endif /* HOSTRUNTIME_HOSTRUNTIMESIM_H */
