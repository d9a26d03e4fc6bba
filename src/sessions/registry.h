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
//   registryLock -> the close-end signal's mutex
//
// * registryLock guards the map itself and, in every record, childSessions,
//   parentState and closePendingOnChildren. Opening and closing hold it
//   exclusively for their whole registry part; FIFO start, region
//   acquisition and the download/reset guard hold it shared.
// * sessionLock guards a record's fifoStates. It is only ever taken while
//   registryLock is held (shared for lookups, exclusive for insertion and
//   for the close's sweep).
// * The region release path holds only a FIFO's regionMutex. It reads
//   closePending there and finishes the put-off close (finishPutOffClose())
//   only after unlocking, since closing takes every lock above regionMutex.
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
//   waits with no lock held, on a signal (a count of ended closes and a
//   condition) that the ending close raises under registryLock; the
//   signal's own mutex comes last. The waiter reads the count while it
//   still finds its close linked and sleeps only while the count is
//   unchanged, so an end is never lost to what other waiters do. Earlier
//   releases shared one manual-reset event: a waiter whose close was still
//   in flight reset it before another, whose close had just ended, looked
//   again, and that one slept until an unrelated close ended.
//
// Life of a record.
//
//   registerSession()                 ViDazoHx_Close()
//   ------------------> open  ----------------------------------> removed
//                        |  ^                                        ^
//   close refused while  |  | (never reset;                          |
//   regions are out      v  |  the record stays usable)              |
//                    pending ------ last region of its subtree back ---+
//                                   the whole close runs again
//
// * A record is inserted by registerSession() and removed by the close of
//   its session or of an ancestor, or at once by registerSession() when its
//   own lock could not be built. Unload frees whatever remains without
//   calling the lower library or the host.
// * A close removes a record only after it has closed its whole subtree of
//   resource sessions, deepest first; a descendant with regions lent out
//   keeps its ancestors registered and marked (closePendingOnChildren).
//   Each time a child of a marked session closes, or moves away by a
//   registration, the marked session's close runs again once nothing in
//   its subtree is lent (children gained since are closed with it, with
//   attribute 1, as a second host close would); while something is, the
//   busy descendants are marked, closing nothing, so that the last region
//   of the subtree runs it. Earlier releases ran it only when the list of
//   children was empty: a parent that gained a child after its close was
//   put off, or while the last busy child's close was under way, stayed
//   open below for good, with that child.
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
//   last release, a pending parent's once its subtree is idle, or an
//   ancestor's for an idle descendant), or the cleanup procedure that
//   cancelled an open in its window (see "An open in its window" below).
//   Descendants are closed below with the lock held; the session itself,
//   and a pending parent, after it is let go: the host registration is
//   withdrawn first, then the lower close runs.
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
// * A registration that moves or unlinks a child of a parent whose close
//   waited for its children reports that parent; the open that registered
//   runs its close again (attribute 1) on its own thread, as that child's
//   close would have.
// * A close on the thread that runs the close in flight it meets (a host
//   that closes from inside RTSetCleanupProc() while we withdraw) answers
//   0 at once, as the cleanup does: waiting would wait for itself.
//
// * An open refused for a value that still has a record from an earlier
//   session (the lower library closed that one on its own and handed the
//   value out again) closes only the lower session it opened, withdrawing
//   the host registration ViDazoHx_Open() made; the record, its flags and
//   its links stay as they were, for the host's close of the earlier
//   session to clear. Earlier releases undid it with a full close of the
//   value, which closed the earlier session's record and its subtree.
//
// An open in its window. ViDazoHx_Open() registers the cleanup procedure
// before the registry records the session, and the host may run it in
// between. The open links a tOpenInFlight before registering; a cleanup
// that finds no record and no close in flight cancels every open of the
// value so linked, marks its own close in flight and closes the session
// below itself. The open, at its registration or undo, finds itself
// cancelled: it answers StatusHostCancelled, records nothing and closes
// nothing (the cleanup's mark must stand). The mark is the open's own, not
// the value's: once the cleanup closed the session, the lower library may
// hand the value to another open, whose record the cancelled open must not
// take for its own. An open that fails after its registration hands its
// mark over to a close in flight of its own, in one tenure of
// registryLock, when no record holds the value; a cleanup from then on
// leaves the session to that close. Earlier releases recorded the closed
// session, answered 0, and left the record to the next open of the value,
// and could close a failed open's session twice.
//
// A kept record. Registering a value that has a record keeps it, with its
// flags, FIFO records (regions out included) and children; only the parent
// link is applied, and a new generation drawn. That is right for a lower
// library that answers a second open of one session with the same value.
// This library relies on the lower library's contract that a session with
// regions out is ended only through this library's close, so a record kept
// for a new session has nothing lent. Where a lower library ends such a
// session on its own and hands the value out again, the new session
// inherits what the record carries: when one of the earlier session's
// regions comes back its elements go back on the value, and the last of
// them finishes a put-off close on the new session; its resource sessions
// are closed with it. Only a close the library decided on before the
// registration (named by the old generation) and a close of the earlier
// session still in flight stay off it. Such a lower library has already
// taken the DMA memory out from under the host; we cannot make that safe.
// Objects with static storage. sessionRegistry, registryLoadStatus,
// registryLock and the signal that wakes closes waiting for a close in
// flight are constructed with init_priority(150), in that order, before
// the module-entry object (init_priority(200), protons/dll/posix/tDLLMain.cpp)
// binds the lower library, and destroyed after it has unbound it.
#pragma once

#include <pthread.h>

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
  // registration took the value from: the caller runs that close again
  // (finishPendingParentClose()), which closes it once nothing below it is
  // lent out. 0: none.
  uint32_t leftParent = 0;
  uint64_t leftParentGeneration = 0;
};

// registerSession()
//
// Records the session held in *sessionOut, linked under `parent` (0: none).
// An already registered value keeps its record, with everything it carries
// (see "A kept record" above); only the parent link is applied to it,
// moving it from its former parent's list (a link to the parent it has
// already changes nothing). The lower library hands a value
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
//
// `opening` (ViDazoHx_Open() only): the open's mark, linked since before
// its host cleanup registration; it ends here once the session is recorded,
// and a failed registration leaves it to the open's undo (so that a cleanup
// meanwhile still finds the open in its window). When the host's cleanup
// cancelled it (cancelOpensInFlightOf()), nothing is recorded and
// StatusHostCancelled is returned: that cleanup closes the session.
struct tOpenInFlight;
int32_t registerSession(const uint32_t* sessionOut, uint32_t parent, tRegistration* outcome = nullptr,
                        tOpenInFlight* opening = nullptr);

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
  pthread_t closer{};  // the thread running the close
  tCloseInFlight* next = nullptr;
};

// An open between its host cleanup registration and its record: the window
// in which the host may run the session's cleanup procedure while the
// library has no record of it. Lives on the opener's stack, linked into one
// process-wide list under registryLock.
struct tOpenInFlight {
  uint32_t session = 0;
  bool cancelled = false;  // the host's cleanup closes the session; the open records nothing
  tOpenInFlight* next = nullptr;
};

// beginOpenInFlight()
//
// Links `entry` for `session`. Blocks on registryLock (exclusive); the
// caller holds no lock and has not registered the cleanup procedure yet.
void beginOpenInFlight(tOpenInFlight& entry, uint32_t session);

// endOpenInFlight()
//
// Unlinks `entry` (registerSession() does it too, once it has recorded the
// session); returns whether the
// host's cleanup cancelled the open. The caller holds registryLock
// exclusively.
bool endOpenInFlight(tOpenInFlight& entry);

// cancelOpensInFlightOf()
//
// Cancels every open of `session` in its window; returns whether there was
// one. Called by the host's cleanup, which found no record and no close in
// flight for the value, and then closes it below itself. The caller holds
// registryLock exclusively.
bool cancelOpensInFlightOf(uint32_t session);

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
// The token of the close of `session` in flight, or 0; `byThisThread`
// (optional) tells whether the calling thread runs that close. The caller
// holds registryLock.
uint64_t closeInFlightToken(uint32_t session, bool* byThisThread = nullptr);

// closeStillInFlight()
//
// Whether the close of `entry` is still marked in flight: false once a
// registration of its value ended the mark, i.e. the lower library has
// handed the value to a new session. Takes registryLock shared.
bool closeStillInFlight(const tCloseInFlight& entry);

// waitForCloseInFlight()
//
// Blocks until the close of `token` has ended (returns at once when it
// already has), however many other closes wait or end meanwhile. Takes
// registryLock shared for each look; the caller holds no lock. Never called
// from the host's cleanup procedure (the close waited for withdraws that
// procedure first, and a withdrawal may wait for it to return), nor on the
// thread that runs the close waited for.
void waitForCloseInFlight(uint64_t token);
