// statusCodes.h: the status values the library produces, as named constants.
//
// Statuses are signed 32-bit: 0 success, negative error, positive warning.
// The values are the public ones of ViDazoHx.h; the platform layer needs them
// too, which is why they live at the bottom of the layer stack.
#pragma once

#include <cstdint>

#include "ViDazoHx/ViDazoHx.h"

constexpr int32_t StatusSuccess = 0;
constexpr int32_t StatusFifoTimeout = ViDazoHx_StatusFifoTimeout;                  // lower library, recognised only
constexpr int32_t StatusHostCancelled = ViDazoHx_StatusHostCancelled;              // host answered 41, or host cleanup ran
constexpr int32_t StatusMemoryFull = ViDazoHx_StatusMemoryFull;                    // allocation failed, or host answered 2
constexpr int32_t StatusUnexpectedFailure = ViDazoHx_StatusUnexpectedFailure;      // unknown host code, mutex creation
constexpr int32_t StatusInvalidParameter = ViDazoHx_StatusInvalidParameter;        // absent pointer, bad type code
constexpr int32_t StatusLibraryNotFound = ViDazoHx_StatusLibraryNotFound;          // lower library not openable
constexpr int32_t StatusTimedOut = ViDazoHx_StatusTimedOut;                        // timed event wait ran out
constexpr int32_t StatusSyncInitFailed = ViDazoHx_StatusSyncInitFailed;            // condition variable creation
constexpr int32_t StatusLibraryNotOpen = ViDazoHx_StatusLibraryNotOpen;            // entry-table slot empty
constexpr int32_t StatusRegionsOutstanding = ViDazoHx_StatusRegionsOutstanding;    // regions lent to the host
constexpr int32_t StatusAcquireTimedOut = ViDazoHx_StatusAcquireTimedOut;          // region acquisition out of time
constexpr int32_t StatusSessionNotSupported = ViDazoHx_StatusSessionNotSupported;  // session bit 0x2000
constexpr int32_t StatusEntryPointMissing = ViDazoHx_StatusEntryPointMissing;      // lower function missing at load
constexpr int32_t StatusSessionNotFound = ViDazoHx_StatusSessionNotFound;          // session not registered

// Component name and source-file texts carried by every recorded failure.
// They are fixed values (tests compare them), not __FILE__.
constexpr const char* kComponentName = "ViDazoHx";
constexpr const char* kFileViDazoHx = "ViDazoHx";
constexpr const char* kFileSynchronization = "quarks/synchronization";
constexpr const char* kFileMemoryAllocation = "protons/cppNewDelete/memoryAllocation";
constexpr const char* kFileStlStatus = "protons/status/stlStatus";
constexpr const char* kFileDllMain = "protons/dll/posix/tDLLMain";

// knownStatusName(): the name ViDazoHx_StatusText() gives a status the
// library knows ("RegionsOutstanding"), or null for one it only says came
// from below (those texts are phrases, the names are single words).
inline const char* knownStatusName(int32_t status) {
  const char* name = ViDazoHx_StatusText(status);
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == ' ') return nullptr;
  }
  return name;
}

// mergeStatus(): the merge rule. Every sequence of steps keeps one status
// variable and merges each step into it, so the first error wins and a
// warning survives later successes: an error is never replaced, a warning
// only by an error, 0 by anything. Returns the variable's new value, or
// StatusInvalidParameter (storing nothing) when it is absent. Does not block
// or lock; a status variable belongs to one call.
inline int32_t mergeStatus(int32_t* destination, int32_t status) {
  if (destination == nullptr) return StatusInvalidParameter;
  const int32_t current = *destination;
  if (current < 0) return current;
  if (current > 0 && status >= 0) return current;
  *destination = status;
  return status;
}
