// hostRuntime.cpp: the one unit that calls the host runtime.
//
// The host runtime's functions are not part of this library: the hosting
// process provides them, and the library leaves them undefined so that they
// bind to the host at load time. Keeping every call here means every host
// result goes through the same conversion, and there is one place to look
// when a host answers something unexpected.
//
// Each function blocks as long as the host does and takes no lock of ours.

#include "adapter/hostRuntime.h"

#include "adapter/status.h"

// hostResizeArray()
// A host that answers 0 but leaves no block behind is treated as failing:
// its callers would otherwise write the elements through a null pointer.
int32_t hostResizeArray(int32_t typeCode, ViDazoHx_ArrayHandle* array, uint32_t count) {
  constexpr int32_t kOneDimension = 1;
  const int32_t status = convertHostResult(NumericArrayResize(typeCode, kOneDimension, array, count));
  if (status == StatusSuccess && (*array == nullptr || **array == nullptr)) return StatusUnexpectedFailure;
  return status;
}

// The host answers 0 when it took the registration; anything else is a
// refusal. Both callers (opening a session and region acquisition) rely on
// this one reading.
int32_t hostSetCleanupProc(ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode) {
  return convertHostResult(RTSetCleanupProc(procedure, argument, mode));
}

// hostCreateReference()
// Likewise a host that answers 0 without handing out a data record: the
// caller could not fill it, so no region may be lent on that reference.
int32_t hostCreateReference(uint32_t* reference, ViDazoHx_DataRecord** record) {
  const int32_t status = convertHostResult(EDVR_CreateReference(reference, record));
  if (status == StatusSuccess && *record == nullptr) return StatusUnexpectedFailure;
  return status;
}
