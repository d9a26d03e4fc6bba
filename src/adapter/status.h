// status.h: the merge rule and the host result conversion.
#pragma once

#include <cstdint>

#include "protons/status/statusCodes.h"

// mergeStatus() lives with the status codes (statusCodes.h): the platform's
// scoped status record folds its code back by the same rule.

// convertHostResult(): 0 -> 0, 2 -> StatusMemoryFull, 41 -> StatusHostCancelled,
// anything else -> StatusUnexpectedFailure.
int32_t convertHostResult(int32_t hostResult);

// The session-value bits the exports look at.
constexpr uint32_t kSessionBitUnsupported = 0x2000;  // refused with StatusSessionNotSupported
constexpr uint32_t kSessionBitRouted = 0x4000;       // added on most calls into the lower library
constexpr uint32_t kSessionBrokerMask = 0xf000;      // cleared before the broker sees a session

inline bool isUnsupportedSession(uint32_t session) { return (session & kSessionBitUnsupported) != 0; }
inline uint32_t routedSession(uint32_t session) { return session | kSessionBitRouted; }
