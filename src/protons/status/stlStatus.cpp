// stlStatus.cpp: the status record and its scoped variant.
//
// Everything here runs on the caller's stack with no allocation and no
// locking: a record belongs to one call on one thread.

#include "protons/status/stlStatus.h"

#include <cstring>

#include "protons/status/statusCodes.h"

namespace {

// Records built with a smaller size predate the origin fields and carry the
// code alone; writing past their code would corrupt the caller's memory.
constexpr uint32_t kFullRecordSize = 164;

// The fixed origin of the container check (tests and field reports compare it).
constexpr int32_t kLineContainerCheck = 34;

constexpr size_t kComponentCapacity = sizeof(tStatus::componentName);  // 9 characters + NUL
constexpr size_t kFileCapacity = sizeof(tStatus::fileName);            // 100 characters + NUL
constexpr size_t kFileKeptHead = 49;
constexpr size_t kFileKeptTail = 49;
constexpr size_t kTraceEntries = sizeof(tStatus::stackTrace) / sizeof(tStatus::stackTrace[0]);

// Callers promise non-null texts; an absent one is stored as empty rather
// than read through, since a status record must never be what crashes.
const char* textOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Copies at most `capacity - 1` characters of `source` and NUL-fills the
// rest, so the stored text is always terminated and the tail is clean.
void copyNulFilled(char* destination, size_t capacity, const char* source) {
  size_t length = strnlen(source, capacity - 1);
  std::memcpy(destination, source, length);
  std::memset(destination + length, 0, capacity - length);
}

// Long file names keep both ends: the head says which tree, the tail says
// which file, and the middle is what can best be spared.
void storeFileName(char* destination, const char* source) {
  const size_t length = std::strlen(source);
  if (length < kFileCapacity) {
    copyNulFilled(destination, kFileCapacity, source);
    return;
  }
  std::memcpy(destination, source, kFileKeptHead);
  std::memcpy(destination + kFileKeptHead, "..", 2);
  std::memcpy(destination + kFileKeptHead + 2, source + length - kFileKeptTail, kFileKeptTail);
  destination[kFileCapacity - 1] = '\0';
}

// Severity decides; of equal severity the first one stays.
bool takesPrecedence(int32_t held, int32_t offered) {
  if (held == 0) return offered != 0;
  return held > 0 && offered < 0;
}

}  // namespace

// tStatus::tStatus()
// Clears only the first byte of each text and the first trace entry: the
// rest is never read before it is written, and this runs on every call.
tStatus::tStatus() noexcept : structSize(kFullRecordSize), code(0), lineNumber(0) {
  componentName[0] = '\0';
  fileName[0] = '\0';
  stackTrace[0] = 0;
}

// tStatus::offerCode()
// Does not block. Returns true when the record took `newCode` and its origin.
bool tStatus::offerCode(int32_t newCode, const char* component, const char* file, int32_t line) {
  if (!takesPrecedence(code, newCode)) return false;
  code = newCode;
  if (structSize < kFullRecordSize) return true;
  copyNulFilled(componentName, kComponentCapacity, textOrEmpty(component));
  storeFileName(fileName, textOrEmpty(file));
  stackTrace[0] = 0;
  lineNumber = static_cast<uint32_t>(line);
  return true;
}

// tStatus::absorbStatus()
// Does not block. Returns what the inner offer returned; on false nothing,
// the trace included, has changed.
bool tStatus::absorbStatus(const tStatus& other) {
  const bool otherHasOrigin = other.structSize >= kFullRecordSize;
  const char* component = otherHasOrigin ? other.componentName : "";
  const char* file = otherHasOrigin ? other.fileName : "";
  const int32_t line = otherHasOrigin ? static_cast<int32_t>(other.lineNumber) : 0;
  if (!offerCode(other.code, component, file, line)) return false;
  if (!otherHasOrigin || structSize < kFullRecordSize) return true;
  for (size_t i = 0; i < kTraceEntries; ++i) {
    stackTrace[i] = other.stackTrace[i];
    if (other.stackTrace[i] == 0) break;
  }
  return true;
}

// tKelAutoStatus::tKelAutoStatus()
tKelAutoStatus::tKelAutoStatus(int32_t* bound) : tStatus(), boundStatus(bound) {}

// tKelAutoStatus::~tKelAutoStatus()
// Folds the record's code into the bound word by the merge rule: an error
// there stays, a warning there yields only to an error. An absent word is
// left alone.
tKelAutoStatus::~tKelAutoStatus() { mergeStatus(boundStatus, code); }

// containerCheck(): a status word carries no origin, so only the code goes.
int32_t containerCheck(bool allocationFailed) { return allocationFailed ? StatusMemoryFull : StatusSuccess; }

// offerContainerCheck()
// Does not block. The one place the container check's origin is written.
bool offerContainerCheck(bool allocationFailed, tStatus& status) {
  if (!allocationFailed) return false;
  return status.offerCode(StatusMemoryFull, kComponentName, kFileStlStatus, kLineContainerCheck);
}
