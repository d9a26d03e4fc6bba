// stlStatus.h: tStatus, the platform's status record, and tKelAutoStatus,
// its scoped variant that folds its code back into an int32 status word.
//
// A tStatus carries a code plus where it was produced (component, file,
// line) in a fixed 164-byte value, so building one per call costs no
// allocation. Platform operations take a tStatus& and do nothing when it
// already holds an error, so construction sequences read straight through
// and stop at the first failure.
#pragma once

#include <cstdint>

struct tStatus {
  uint32_t structSize;         // bytes of the record as built: 164; below that only `code` is used
  int32_t code;                // 0 success, > 0 warning, < 0 error
  char componentName[10];      // at most 9 characters, NUL-filled
  char fileName[101];          // at most 100 characters, NUL-filled; long names keep head and tail
  uint32_t lineNumber;         // source line that stored the code
  uint32_t stackTrace[10];     // code addresses, ended by the first 0 entry

  // tStatus::tStatus(): a clean record (code 0, empty origin and trace).
  tStatus() noexcept;

  // tStatus::offerCode(): takes `newCode` when it is more severe than the held
  // one (error over warning over success; first of equal severity wins).
  // Returns true when taken. Both texts must be non-null.
  bool offerCode(int32_t newCode, const char* component, const char* file, int32_t line);

  // tStatus::absorbStatus(): offers another record's code, origin and trace.
  bool absorbStatus(const tStatus& other);

  bool isError() const { return code < 0; }
};

static_assert(sizeof(tStatus) == 164, "tStatus is a fixed 164-byte record");

// tKelAutoStatus: bound to a caller's int32 status word; at destruction its
// code merges into that word by the merge rule (an error there stays).
struct tKelAutoStatus : public tStatus {
  int32_t* boundStatus;

  explicit tKelAutoStatus(int32_t* bound);
  virtual ~tKelAutoStatus();

  tKelAutoStatus(const tKelAutoStatus&) = delete;
  tKelAutoStatus& operator=(const tKelAutoStatus&) = delete;
};

// Container check: containers report a failed allocation through a sticky
// flag. containerCheck() turns a set flag into StatusMemoryFull, else 0, for
// an int32 status word; offerContainerCheck() offers the same failure to a
// status record, with its origin, protons/status/stlStatus line 34, and
// returns what the offer returned (false for a clear flag).
int32_t containerCheck(bool allocationFailed);
bool offerContainerCheck(bool allocationFailed, tStatus& status);
