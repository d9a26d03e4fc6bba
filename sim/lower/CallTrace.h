/*
 * CallTrace.h: the call journal and fault injection of the simulated target.
 *
 * Every exported ViDazoDll_ function runs its work through tracedCall(), which
 * consults the fault injections, runs the work without letting an exception
 * escape, and records the call in the journal. Both features share one flag
 * word so that, switched off, a call pays a single relaxed atomic load.
 */
#ifndef VIDAZOSIM_CALLTRACE_H
#define VIDAZOSIM_CALLTRACE_H

#include <atomic>
#include <cstdint>
#include <new>
#include <type_traits>

#include "ViDazo/ViDazoDll.h"
#include "ViDazo/ViDazoSim.h"

namespace vidazosim {

// One identifier per exported lower-library function, in entry-table order,
// followed by the two functions outside the table.
enum FunctionId : uint32_t {
#define VIDAZOSIM_FUNCTION_ID(name) fn_##name,
  VIDAZODLL_FOR_EACH_ENTRY(VIDAZOSIM_FUNCTION_ID)
#undef VIDAZOSIM_FUNCTION_ID
  fn_ViDazoDll_OpenResource,
  fn_ViDazoDll_AddResources,
  fnCount
};

// Bits of gTraceFlags.
constexpr uint32_t kJournalOn = 1u;
constexpr uint32_t kInjectionArmed = 2u;
extern std::atomic<uint32_t> gTraceFlags;

// Returns the function's name; never null.
const char* functionName(FunctionId id);
// Finds the id of a function name; returns false for an unknown name.
bool findFunction(const char* name, FunctionId* id);

// Consumes one pending injection of `id`. Locks the injection table; returns
// true and the status when one was pending.
bool takeInjection(FunctionId id, int32_t* status);
// Appends a record. Locks the journal; drops the record when it is full.
void recordCall(FunctionId id, int32_t result, const uint64_t* arguments, uint32_t count);

// Injection control and journal access for the control API; each locks the
// table it touches and never blocks otherwise.
int32_t injectStatus(const char* name, int32_t status, uint32_t count);
void clearInjections();
void setJournalEnabled(bool enabled);
void clearJournal();
uint32_t journalCount();
uint32_t journalDropped();
int32_t readJournal(uint32_t first, ViDazoSim_JournalRecord* records, uint32_t capacity, uint32_t* copied);
int32_t findJournalRecord(const char* name, uint32_t nth, ViDazoSim_JournalRecord* record);
uint32_t countJournalRecords(const char* name);

// Raw form of an argument: integers as the unsigned bit pattern of their own
// width, pointers as their address.
template <typename T>
inline uint64_t rawArgument(T value) {
  if constexpr (std::is_pointer<T>::value) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
  } else {
    static_assert(std::is_integral<T>::value, "journal arguments are integers or pointers");
    return static_cast<uint64_t>(static_cast<typename std::make_unsigned<T>::type>(value));
  }
}

// Runs `work` for function `id` with injection and journalling around it.
// Does not block by itself; returns the work's status, or the injected one.
template <typename Work, typename... Args>
inline int32_t tracedCall(FunctionId id, Work&& work, Args... args) noexcept {
  static_assert(sizeof...(Args) <= 7, "the journal keeps up to 7 arguments");
  const uint32_t flags = gTraceFlags.load(std::memory_order_relaxed);
  int32_t injected = 0;
  const bool inject = (flags & kInjectionArmed) != 0 && takeInjection(id, &injected);
  int32_t result;
  if (inject && injected < 0) {
    result = injected;
  } else {
    try {
      result = work();
    } catch (...) {
      // Only allocations can throw in the work; report them as a status.
      result = ViDazoSim_StatusOutOfMemory;
    }
    if (inject && result >= 0) result = injected;
  }
  if (flags & kJournalOn) {
    const uint64_t raw[sizeof...(Args) + 1] = {rawArgument(args)..., 0};
    recordCall(id, result, raw, static_cast<uint32_t>(sizeof...(Args)));
  }
  return result;
}

}  // namespace vidazosim

#endif  // VIDAZOSIM_CALLTRACE_H
