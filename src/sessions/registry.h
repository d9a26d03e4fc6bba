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
// * Nothing in the registry calls the lower library or the host while
//   holding a FIFO mutex. The close calls the lower library for idle child
//   sessions with registryLock held; every other lower-library and host call
//   of opening and closing runs with no lock held.
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
// Objects with static storage. sessionRegistry, registryLoadStatus and
// registryLock are constructed with init_priority(150), in that order, before
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
  uint64_t generation;                  // set once at registration; never reused, unlike the value

  tSessionState();
  ~tSessionState();
  tSessionState(const tSessionState&) = delete;
  tSessionState& operator=(const tSessionState&) = delete;
};

// The process-wide registry objects, constructed at load in this order
// before the module entry binds the lower library, destroyed after it.
extern tOrderedMap<tSessionState> sessionRegistry;  // guarded by registryLock
extern tStatus registryLoadStatus;                  // what failed while registryLock was built
extern tSharedExclusiveLock registryLock;

// registerSession()
//
// Records the session held in *sessionOut, linked under `parent` (0: none).
// An already registered value keeps its record; only the parent link is
// applied to it, moving it from its former parent's list (a link to the
// parent it has already changes nothing). Blocks on registryLock, which it holds exclusively.
// Returns 0, StatusMemoryFull (now or ever before in this map, or in the
// parent's child list), StatusSessionNotFound (unregistered parent),
// StatusInvalidParameter (the link would make a session its own ancestor;
// nothing changes) or
// the failure of building the record's lock, in which case the record is
// gone again. On other failures a newly inserted record stays: the caller
// closes the session, which removes it.
int32_t registerSession(const uint32_t* sessionOut, uint32_t parent);

// lookupSession()
//
// The record of `session` (compared unsigned, exactly as passed), or null.
// The caller holds registryLock (shared is enough); the record stays valid
// only while it does.
tSessionState* lookupSession(uint32_t session);

// removeSession()
//
// Destroys the record of `session` (nothing when absent) and clears the
// parentState of any record that designated it. Does not touch the parent's
// childSessions and calls neither the lower library nor the host. The caller
// holds registryLock exclusively and no lock of the record.
void removeSession(uint32_t session);
