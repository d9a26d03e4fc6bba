// -----------------------------------------------------------------------------
// File: registry.h
// -----------------------------------------------------------------------------
//
// The session registry: every session opened through this library, keyed by
// its session value, with its FIFO records and its links to the resource
// sessions opened under it.
//
// Design notes
// ------------
//
// Lock order. One order holds everywhere, outermost first:
//
//   registryLock -> a record's sessionLock -> a FIFO's acquireMutex
//                -> that FIFO's regionMutex -> an event's own mutex
//
// * registryLock guards the map itself and, in every record, childSessions,
//   parentState and closePendingOnChildren. Opening and closing hold it
//   exclusively for their whole registry part; FIFO start, region
//   acquisition and the download/reset guard hold it shared.
// * sessionLock guards a record's fifoStates. It is only ever taken while
//   registryLock is held (shared for lookups, exclusive for insertion and
//   for the close's sweep).
// * The region release path holds only a FIFO's regionMutex. It reads
//   closePending there and calls ViDazoHx_Close() only after unlocking, since
//   closing takes every lock above regionMutex.
// * closePending is written under one FIFO's regionMutex by the close and
//   read under another FIFO's regionMutex by a release, so the two do not
//   share a mutex: it is atomic.
// * generation is written under registryLock by a registration and read
//   under a FIFO's regionMutex by a release: atomic as well, so that the
//   64-bit read cannot tear on a 32-bit core.
// * Nothing in the registry calls the lower library or the host while
//   holding a FIFO mutex. The close calls the lower library for idle child
//   sessions with registryLock held; every other lower-library and host call
//   of opening and closing runs with no lock held.
// * A host's close that waits for another close of its value in flight
//   waits with no lock held, on an event that the ending close sets under
//   registryLock (the event's own mutex comes last in the order).
//
// Life of a record.
//
//   registerSession()                 ViDazoHx_Close()
//   ------------------> open  ----------------------------------> removed
//                        |  ^                                        ^
//   close refused while  |  | (never reset;                          |
//   regions are out      v  |  the record stays usable)              |
//                    pending ------ last region back / last child ---+
//                                   closed: the close runs again
//
// * A record is inserted by registerSession() and removed by the close of
//   its session or of an ancestor, or at once by registerSession() when its
//   own lock could not be built. Unload frees whatever remains without
//   calling the lower library or the host.
// * A close removes a record only after it has closed its whole subtree of
//   resource sessions, deepest first; a descendant with regions lent out
//   keeps its ancestors registered and marked (closePendingOnChildren), and
//   the close of the last busy descendant closes the marked ancestors.
// * A value can be handed to a new session once its session is closed, and
//   the new record often lands in the freed block: a close the library
//   starts on its own account names its record by `generation`, drawn from
//   a counter under registryLock, never by value or address alone.
// * parentState never designates a destroyed record: removing a record
//   clears the parentState of every record that still points at it.
// * A record in the map always owns a built sessionLock; a record whose lock
//   failed is never left in the map.
//
// One close per session instance.
//
// * Who closes. Exactly one closer closes a session instance below: the
//   close that removes its record under registryLock (the host's, the
//   cleanup procedure's, an open's undo, a put-off close finished by the
//   last release, a pending parent's after its last child, or an
//   ancestor's for an idle descendant). Descendants are closed below with
//   the lock held; the session itself, and a pending parent, after it is
//   let go: the host registration is withdrawn first, then the lower close
//   runs.
// * How a close in flight is recognised. From removing the record to the
//   end of its lower close, the closer keeps a tCloseInFlight entry, on its
//   stack, in a list under registryLock, with a token of its own. A close
//   that finds no record for the value but such an entry leaves the lower
//   library to that closer: a host's close waits for the entry to end and
//   answers 0; the cleanup procedure answers 0 at once, because the closer
//   withdraws the procedure before closing below and the host may hold that
//   withdrawal until the procedure returns. A close the library starts on
//   its own account finds the record gone and does nothing. Earlier
//   releases closed twice here: the second close found no record, withdrew
//   the host registration again and called the lower close again, and once
//   the value had gone to a new session it closed that one. A second close
//   that comes after the first has ended still does so.
// * When a value may be registered again. Once the lower library hands it
//   out, which it does only after the earlier instance's close returned:
//   the registration ends any entry left for the value, and the closer
//   removes only its own entry (by token) afterwards.
// * The lower library may also end a session by itself (its target went
//   away) while our close of it is in flight, and hand the value out
//   again. That registration ends our entry as well. The closer looks at
//   its entry before it withdraws and before it closes below; once the
//   entry is gone it touches neither, since the value and its newest host
//   registration are the new session's. Every registration, of a new
//   record or a kept one, draws a new generation, so a close the library
//   decided on for the earlier session is skipped too.
// * A registration that moves or unlinks the last child of a parent whose
//   close waited for its children reports that parent; the open that
//   registered finishes its close (attribute 1) on its own thread, as that
//   child's close would have.
// * An open refused for a value that still has a record from an earlier
//   session (the lower library closed that one on its own and handed the
//   value out again) closes only the lower session it opened, withdrawing
//   the host registration ViDazoHx_Open() made; the record, its flags and
//   its links stay as they were, for the host's close of the earlier
//   session to clear. Earlier releases undid it with a full close of the
//   value, which closed the earlier session's record and its subtree.
//
// Objects with static storage. sessionRegistry, registryLoadStatus,
// registryLock and the event that wakes closes waiting for a close in
// flight are constructed with init_priority(150), in that order, before
// the module-entry object (init_priority(200), protons/dll/posix/tDLLMain.cpp)
// binds the lower library, and destroyed after it has unbound it.
#pragma once

#include <atomic>
#include <cstdint>

#include "fifo/fifoState.h"
#include "protons/containers/nothrowContainers.h"
#include "protons/status/stlStatus.h"
#include "quarks/synchronization.h"

struct tSessionState {
  std::atomic<bool> closePending;       // close refused for own regions; the last release finishes it
  tStatus buildStatus;                  // failures while the record and its lock were built
  tSharedExclusiveLock* sessionLock;    // guards fifoStates; null only when its allocation failed
  tOrderedMap<tFifoState> fifoStates;   // FIFO number -> record, created on first use
  tValueList childSessions;             // resource sessions opened under this one, in order
  tSessionState* parentState;           // non-owning; null without a parent
  bool closePendingOnChildren;          // close refused for a child's regions
  // Drawn at each registration; never reused, unlike the value. Written
  // under registryLock only, and read by a release under a regionMutex only:
  // atomic, so that the read cannot tear (a 64-bit load is two loads on a
  // 32-bit core without LPAE; this one is a single ldrexd, no library call)
  // and sees the generation stored before it.
  std::atomic<uint64_t> generation;

  tSessionState();
  ~tSessionState();
  tSessionState(const tSessionState&) = delete;
  tSessionState& operator=(const tSessionState&) = delete;
};
// A generation that needed a lock (libatomic) could not be read inside a
// release, and would add a library to what the host must load.
static_assert(std::atomic<uint64_t>::is_always_lock_free, "a session's generation needs lock-free 64-bit atomics");

// The process-wide registry objects, constructed at load in this order
// before the module entry binds the lower library, destroyed after it.
extern tOrderedMap<tSessionState> sessionRegistry;  // guarded by registryLock
extern tStatus registryLoadStatus;                  // what failed while registryLock was built
extern tSharedExclusiveLock registryLock;

// What a registration tells its caller beyond its status.
struct tRegistration {
  bool inserted = false;  // a new record; false: the value had one already, which was kept
  // A parent whose close was put off for its children and whose list this
  // registration emptied by moving the value away: the caller finishes that
  // close (finishPendingParentClose()). 0: none.
  uint32_t emptiedParent = 0;
  uint64_t emptiedParentGeneration = 0;
};

// registerSession()
//
// Records the session held in *sessionOut, linked under `parent` (0: none).
// An already registered value keeps its record; only the parent link is
// applied to it, moving it from its former parent's list (a link to the
// parent it has already changes nothing). The lower library hands a value
// out only after its close returned, so a close of the value still marked
// in flight is over: its mark ends here. Blocks on registryLock, which it
// holds exclusively.
// Returns 0, StatusMemoryFull (now or ever before in this map, or in the
// parent's child list), StatusSessionNotFound (unregistered parent),
// StatusInvalidParameter (the link would make a session its own ancestor;
// nothing changes) or
// the failure of building the record's lock, in which case the record is
// gone again. On other failures a newly inserted record stays: the caller
// closes the session, which removes it. `outcome` (optional) receives what
// the caller must know to undo or finish its work.
int32_t registerSession(const uint32_t* sessionOut, uint32_t parent, tRegistration* outcome = nullptr);

// lookupSession()
//
// The record of `session` (compared unsigned, exactly as passed), or null.
// The caller holds registryLock (shared is enough); the record stays valid
// only while it does.
tSessionState* lookupSession(uint32_t session);

// keyOfRecord()
//
// The session value of `record`, found by walking the map in ascending
// order (records do not carry their own value); 0 when absent. The caller
// holds registryLock.
uint32_t keyOfRecord(const tSessionState* record);

// removeSession()
//
// Destroys the record of `session` (nothing when absent) and clears the
// parentState of any record that designated it. Does not touch the parent's
// childSessions and calls neither the lower library nor the host. The caller
// holds registryLock exclusively and no lock of the record.
void removeSession(uint32_t session);

// A close between the moment it took its session's record out of the map
// and the end of its lower-library close: the window in which the session
// has no record but is still open below. The entry lives on the closer's
// stack and is linked into one process-wide list under registryLock.
struct tCloseInFlight {
  uint32_t session = 0;
  uint64_t token = 0;  // unique per close, never reused; 0: not linked yet
  tCloseInFlight* next = nullptr;
};

// beginCloseInFlight()
//
// Links `entry` for `session`, with a fresh token. The caller holds
// registryLock exclusively and has just removed the session's record.
void beginCloseInFlight(tCloseInFlight& entry, uint32_t session);

// endCloseInFlight()
//
// Unlinks `entry` if it is still linked (a registration of its value may
// have ended it already) and wakes the closes waiting for it. Blocks on
// registryLock (exclusive); the caller holds no lock.
void endCloseInFlight(const tCloseInFlight& entry);

// endClosesInFlightOf()
//
// Ends the mark of a close of `session` still in flight, if any: the lower
// library has handed the value out again, so that close has returned below.
// The caller holds registryLock exclusively.
void endClosesInFlightOf(uint32_t session);

// closeInFlightToken()
//
// The token of the close of `session` in flight, or 0. The caller holds
// registryLock.
uint64_t closeInFlightToken(uint32_t session);

// closeStillInFlight()
//
// Whether the close of `entry` is still marked in flight: false once a
// registration of its value ended the mark, i.e. the lower library has
// handed the value to a new session. Takes registryLock shared.
bool closeStillInFlight(const tCloseInFlight& entry);

// waitForCloseInFlight()
//
// Blocks until the close of `token` has ended (returns at once when it
// already has). Takes registryLock shared for each look; the caller holds no
// lock. Never called from the host's cleanup procedure: the close waited for
// withdraws that procedure first, and a withdrawal may wait for it to return.
void waitForCloseInFlight(uint64_t token);
