// hostRuntime.h: every call into the host runtime goes through here, with
// its result already converted to a status (0 success, 2 StatusMemoryFull,
// 41 StatusHostCancelled, anything else StatusUnexpectedFailure).
//
// The host functions themselves are provided by the hosting process; the
// library leaves them undefined.
#pragma once

#include <cstdint>

#include "ViDazoHx/ViDazoHx.h"

// hostResizeArray(): NumericArrayResize(typeCode, 1, array, count). On 0 the
// handle in *array designates a block; a host that claims success without
// one gets StatusUnexpectedFailure.
int32_t hostResizeArray(int32_t typeCode, ViDazoHx_ArrayHandle* array, uint32_t count);
// hostSetCleanupProc(): RTSetCleanupProc(procedure, argument, mode). 0 is
// success; anything else is a refusal.
int32_t hostSetCleanupProc(ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode);
// hostCreateReference(): EDVR_CreateReference(reference, record). On 0
// *record designates the data record to fill; a host that claims success
// without one gets StatusUnexpectedFailure. `record` must point at a null
// pointer.
int32_t hostCreateReference(uint32_t* reference, ViDazoHx_DataRecord** record);

// Cleanup modes the library uses.
constexpr int32_t kCleanupWithdraw = 0;         // withdraws a mode-2 registration
constexpr int32_t kCleanupSessionMode = 2;      // session cleanup, run when the host stops
constexpr int32_t kCleanupAcquisitionMode = 6;  // per-call cleanup of a waiting acquisition
