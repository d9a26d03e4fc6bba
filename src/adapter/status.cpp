// status.cpp: the host result conversion.
//
// Results of host-runtime functions arrive in the host's own code space and
// are mapped onto the library's statuses here. It neither blocks nor locks.

#include "adapter/status.h"

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
