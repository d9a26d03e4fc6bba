// status.cpp: the merge rule and the host result conversion.
//
// Every sequence of steps in the library keeps one status variable and
// merges each step into it, so the first error wins and a warning survives
// later successes. Results of host-runtime functions arrive in the host's
// own code space and are mapped onto the library's statuses here.
//
// Neither function blocks or locks; a status variable belongs to one call.

#include "adapter/status.h"

int32_t mergeStatus(int32_t* destination, int32_t status) {
  if (destination == nullptr) return StatusInvalidParameter;
  const int32_t current = *destination;
  // An earlier error is never replaced; a warning gives way only to an error.
  if (current < 0) return current;
  if (current > 0 && status >= 0) return current;
  *destination = status;
  return status;
}

int32_t convertHostResult(int32_t hostResult) {
  switch (hostResult) {
    case 0:
      return StatusSuccess;
    case 2:  // the host could not allocate
      return StatusMemoryFull;
    case 41:  // the host is stopping and cancelled the request
      return StatusHostCancelled;
    default:
      return StatusUnexpectedFailure;
  }
}
