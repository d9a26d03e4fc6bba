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
// and returns 0 whatever the close answered. Blocks as ViDazoHx_Close() does.
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
