// -----------------------------------------------------------------------------
// File: close.h
// -----------------------------------------------------------------------------
//
// Closing sessions. The export itself, ViDazoHx_Close(), is declared in
// ViDazoHx.h; the library calls it for its own closes too (undo of a failed
// open, host cleanup, a put-off close finished by the last region release),
// always with attribute kLibraryCloseAttribute.
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
