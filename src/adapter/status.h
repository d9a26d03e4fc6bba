// status.h: the merge rule and the host result conversion.
#pragma once

#include <cstdint>

#include "protons/status/statusCodes.h"

// mergeStatus(): merges `status` into *destination (an error is never
// replaced; a warning only by an error; 0 by anything) and returns the new
// value; returns StatusInvalidParameter and stores nothing when absent.
int32_t mergeStatus(int32_t* destination, int32_t status);

// convertHostResult(): 0 -> 0, 2 -> StatusMemoryFull, 41 -> StatusHostCancelled,
// anything else -> StatusUnexpectedFailure.
int32_t convertHostResult(int32_t hostResult);

// The session-value bits the exports look at.
constexpr uint32_t kSessionBitUnsupported = 0x2000;  // refused with StatusSessionNotSupported
constexpr uint32_t kSessionBitRouted = 0x4000;       // added on most calls into the lower library
constexpr uint32_t kSessionBrokerMask = 0xf000;      // cleared before the broker sees a session

inline bool isUnsupportedSession(uint32_t session) { return (session & kSessionBitUnsupported) != 0; }
inline uint32_t routedSession(uint32_t session) { return session | kSessionBitRouted; }
