/**
 * @file VoKelSrvSim.h
 * @brief Control API of the simulated resource broker: the resource table,
 *        use counts, the call journal, fault injection.
 *
 * The simulated broker keeps the resource table that sessions are opened on
 * (by default "sim0" at index 0 and "sim1" at index 1) and a use count per
 * index. These functions let the simulated lower library and tests fill the
 * table and look names up in it, and let tests reset the broker, read the
 * journal of calls made into it, make chosen calls fail and see which
 * indexes are in use.
 *
 * Every function is thread-safe. Functions returning int32_t answer 0 for
 * success or one of the negative statuses below.
 */
#ifndef VOKELSRV_VOKELSRVSIM_H
#define VOKELSRV_VOKELSRVSIM_H

#include <stdint.h>

#include "VoKelSrv/VoKelSrv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- statuses answered by the simulated broker ------------------------ */
/* They lie apart from the values libViDazoHx produces itself, so a test can
 * tell a passed-on broker status from one the library made. */

/** A required pointer argument (name, buffer, output) is null. */
#define VoKelSrvSim_StatusNullArgument (-63301)
/** No resource has the given name. */
#define VoKelSrvSim_StatusUnknownName (-63302)
/** The index designates no resource of the table. */
#define VoKelSrvSim_StatusUnknownIndex (-63303)
/** The caller's buffer cannot hold the answer and its terminating NUL. */
#define VoKelSrvSim_StatusBufferTooSmall (-63304)
/** ReleaseResourceIndex for an index that is not in use. */
#define VoKelSrvSim_StatusIndexNotInUse (-63305)
/** A name to add is empty, too long or contains ','. */
#define VoKelSrvSim_StatusInvalidName (-63306)
/** The table already holds VoKelSrvSim_MaxResources names. */
#define VoKelSrvSim_StatusTableFull (-63307)
/** Memory for the table or the journal could not be allocated. */
#define VoKelSrvSim_StatusNoMemory (-63308)
/** A control call named a function the broker does not have. */
#define VoKelSrvSim_StatusUnknownFunction (-63309)

/** Most resources the table holds. */
#define VoKelSrvSim_MaxResources 64u
/** Longest resource name, in bytes, without the terminating NUL. */
#define VoKelSrvSim_MaxNameLength 63u
/** Most journal entries kept; later calls are counted as dropped. */
#define VoKelSrvSim_MaxJournalEntries 65536u

/* ---- resource table --------------------------------------------------- */

/**
 * Adds `count` resource names to the end of the table; each gets the next
 * index. Names already in the table are skipped, so adding twice is
 * harmless. Either every new name is added or none is.
 * Returns 0; StatusNullArgument (names null with count > 0, or a null name);
 * StatusInvalidName; StatusTableFull; StatusNoMemory; or an injected status.
 * Takes the broker lock; journaled.
 */
VOKELSRV_API int32_t VoKelSrvSim_AddResources(const char* const* names, uint32_t count);

/**
 * Finds `name` in the resource table and writes its index; unlike
 * VoKelSrv_broker_GetResourceIndex it does not mark the index as in use.
 * Returns 0 when found; StatusUnknownName; StatusNullArgument; or an
 * injected status. Takes the broker lock; journaled.
 */
VOKELSRV_API int32_t VoKelSrvSim_LookupResource(const char* name, uint32_t* index);

/**
 * Puts the broker back into its initial state: the default table ("sim0",
 * "sim1"), no index in use, an empty and enabled journal with no dropped
 * entries, and no injected statuses. Takes the broker lock.
 */
VOKELSRV_API void VoKelSrvSim_Reset(void);

/** Returns the number of resources in the table. Takes the broker lock. */
VOKELSRV_API uint32_t VoKelSrvSim_ResourceCount(void);

/**
 * Writes up to `capacity` in-use indexes, in ascending order, into
 * `indexes` (which may be null when `capacity` is 0) and returns how many
 * indexes are in use in all. An index in use twice is listed once; see
 * VoKelSrvSim_UseCount. Takes the broker lock.
 */
VOKELSRV_API uint32_t VoKelSrvSim_ListInUse(uint32_t* indexes, uint32_t capacity);

/**
 * Returns how many VoKelSrv_broker_GetResourceIndex calls for `index` have
 * not been matched by a release yet (0 for an unknown index). Takes the
 * broker lock.
 */
VOKELSRV_API uint32_t VoKelSrvSim_UseCount(uint32_t index);

/* ---- journal ---------------------------------------------------------- */

/** One call made into the broker, as the caller made it. */
typedef struct VoKelSrvSim_JournalEntry {
  /** Function name, e.g. "VoKelSrv_broker_GetResourceIndex"; static storage. */
  const char* function;
  /** Number of meaningful values in `arguments`. */
  uint32_t argumentCount;
  /** Raw arguments in call order; pointers as their address value. */
  uint64_t arguments[4];
  /** Status the call answered. */
  int32_t result;
  /** Copy of the call's name argument (NUL-terminated, truncated), else "". */
  char text[VoKelSrvSim_MaxNameLength + 1];
} VoKelSrvSim_JournalEntry;

/**
 * Switches journaling on (non-zero) or off (0). While off, calls cost one
 * relaxed atomic load and leave no entry. Journaling starts on.
 */
VOKELSRV_API void VoKelSrvSim_JournalEnable(int32_t enabled);

/** Empties the journal and zeroes the dropped count. Takes the broker lock. */
VOKELSRV_API void VoKelSrvSim_JournalClear(void);

/** Returns the number of entries in the journal. Takes the broker lock. */
VOKELSRV_API uint32_t VoKelSrvSim_JournalSize(void);

/**
 * Returns how many calls found the journal full and left no entry since the
 * last clear. Takes the broker lock.
 */
VOKELSRV_API uint32_t VoKelSrvSim_JournalDropped(void);

/**
 * Copies entry `position` (0 is the oldest) into `entry`.
 * Returns 0; StatusNullArgument; StatusUnknownIndex when `position` is not
 * below VoKelSrvSim_JournalSize(). Takes the broker lock.
 */
VOKELSRV_API int32_t VoKelSrvSim_JournalRead(uint32_t position, VoKelSrvSim_JournalEntry* entry);

/**
 * Returns how many journal entries name `function` (0 for null). Takes the
 * broker lock.
 */
VOKELSRV_API uint32_t VoKelSrvSim_JournalCount(const char* function);

/* ---- fault injection -------------------------------------------------- */

/**
 * Makes the next `calls` calls of `function` answer `status`. A negative
 * status or 0 replaces the call: nothing else happens (no output is
 * written, the table is unchanged). A positive status (a warning) lets the
 * call do its work and is answered when the work succeeds; a failure of the
 * work is answered instead. Injected answers are journaled like any other. `function` is one of "VoKelSrv_fpga_GetResources",
 * "VoKelSrv_broker_GetResourceName", "VoKelSrv_broker_GetResourceIndex",
 * "VoKelSrv_broker_ReleaseResourceIndex", "VoKelSrvSim_AddResources",
 * "VoKelSrvSim_LookupResource". `calls` 0 withdraws an injection; a new
 * injection replaces the previous one for that function.
 * Returns 0; StatusNullArgument; StatusUnknownFunction. Takes the broker lock.
 */
VOKELSRV_API int32_t VoKelSrvSim_InjectStatus(const char* function, uint32_t calls, int32_t status);

/**
 * Returns how many injected answers of `function` are still to come (0 for
 * an unknown name). Takes the broker lock.
 */
VOKELSRV_API uint32_t VoKelSrvSim_InjectionsLeft(const char* function);

#ifdef __cplusplus
}
#endif

#endif /* VOKELSRV_VOKELSRVSIM_H */
