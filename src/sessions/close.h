// -----------------------------------------------------------------------------
// File: close.h
// -----------------------------------------------------------------------------
//
// Closing sessions. The export itself, ViDazoHx_Close(), is declared in
// ViDazoHx.h; the library calls it for its own closes too (undo of a failed
// open, host cleanup, a put-off close finished by the last region release),
// always with attribute kLibraryCloseAttribute, or through
// finishPutOffClose() when it finishes a close that was put off.
#pragma once

#include <cstdint>

// The close attribute of every close the library makes on its own account.
constexpr uint32_t kLibraryCloseAttribute = 1;

// sessionCleanupProc()
//
// Registered with the host (mode 2) by ViDazoHx_Open() for the session value
// in `session`; the host calls it, on any thread holding none of the
// library's locks, when it cleans up. Closes the session with attribute 1
// and returns 0 whatever the close answered. Blocks as ViDazoHx_Close() does,
// except that a close of the value already in flight is left to finish on
// its own: the procedure returns at once. A value with no record whose
// ViDazoHx_Open() is under way (past its cleanup registration) is closed
// all the same, and that open is cancelled (tOpenInFlight, registry.h).
int32_t sessionCleanupProc(uintptr_t session);

// finishPutOffClose()
//
// The close the last region release starts on the library's own account.
// Acts only on the record of `generation`, the one whose close was put off:
// when that record is gone (another release or the host closed the session
// meanwhile) or `session` now designates a later record (the lower library
// handed the value to a new session), does nothing and returns 0. Otherwise
// closes as ViDazoHx_Close(session, kLibraryCloseAttribute), blocking and
// returning as it does. Called with no lock held.
int32_t finishPutOffClose(uint32_t session, uint64_t generation);

// finishPendingParentClose()
//
// Runs again the put-off close of `parent` (the record of `generation`)
// once a re-registration has taken a child from its list (tRegistration::
// leftParent), as the close of that child would have: when nothing below the
// parent is lent out any more, closes its remaining children (attribute 1),
// withdraws its host registration, closes it with attribute 1 in the lower
// library and removes its record; otherwise marks the busy sessions below
// it, whose last region then runs the close again. Does nothing when that
// record is gone or no longer waits for its children. Called with no lock
// held, on the thread of the open that re-registered the child; blocks as
// ViDazoHx_Close() does.
int32_t finishPendingParentClose(uint32_t parent, uint64_t generation);

// undoRefusedOpen()
//
// Closes, on the library's account, the session an open has just opened in
// the lower library and now refuses. When the value had a record before
// this open (`recordIsNew` false and a record present; the lower library
// closed the earlier session on its own and handed the value out again),
// closes only the lower session, after withdrawing the host registration
// the open made if `withdrawRegistration`: the record is the host's earlier
// session, with its children, and stays as it is. So does the session of
// an `opening` whose value has no record: its mark becomes a close in flight
// in one tenure of registryLock, so that the host's cleanup, from then on,
// leaves the session to the undo. Otherwise closes as
// ViDazoHx_Close(session, kLibraryCloseAttribute). `opening`: the open's
// mark (ViDazoHx_Open() past its cleanup registration), ended here; when the
// host's cleanup cancelled it, that cleanup closes the session and the undo
// does nothing. Called with no lock held.
struct tOpenInFlight;
void undoRefusedOpen(uint32_t session, bool recordIsNew, bool withdrawRegistration,
                     tOpenInFlight* opening = nullptr);