/*
 * broker.cpp: the simulated resource broker (libVoKelSrv.so.13).
 *
 * Defines the four broker functions of VoKelSrv.h and the control API of
 * VoKelSrvSim.h over one process-wide table of resource names with a use
 * count per index, a journal of the calls made into the broker and a
 * per-function fault injection.
 *
 * One mutex guards all of the state. Every call that another component
 * makes (the four broker functions and the two table functions the
 * simulated lower library uses) runs as one critical section: injection
 * check, the operation, then the journal entry, so the journal order is the
 * order in which calls took effect.
 */
#include "VoKelSrv/VoKelSrvSim.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The functions a journal entry or an injection can name.
enum Function : unsigned {
  kGetResources,
  kGetResourceName,
  kGetResourceIndex,
  kReleaseResourceIndex,
  kAddResources,
  kLookupResource,
  kFunctionCount
};

const char* const kFunctionNames[kFunctionCount] = {
    "VoKelSrv_fpga_GetResources",       "VoKelSrv_broker_GetResourceName",
    "VoKelSrv_broker_GetResourceIndex", "VoKelSrv_broker_ReleaseResourceIndex",
    "VoKelSrvSim_AddResources",         "VoKelSrvSim_LookupResource"};

const char* const kDefaultNames[] = {"sim0", "sim1"};

struct Injection {
  uint32_t callsLeft = 0;
  int32_t status = 0;
};

// Raw arguments of one call, widened so 32-bit and 64-bit builds record alike.
struct Arguments {
  uint32_t count;
  uint64_t values[4];
};

struct BrokerState {
  std::mutex lock;
  std::vector<std::string> names;
  std::vector<uint32_t> useCounts;  // parallel to names
  std::vector<VoKelSrvSim_JournalEntry> journal;
  uint32_t dropped = 0;
  Injection injections[kFunctionCount];
};

// Read without the lock on every call, so that a switched-off journal costs
// one relaxed load and nothing else.
std::atomic<bool> journalEnabled{true};

uint64_t raw(const void* pointer) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer)); }

// Puts the table back to the default names with no index in use.
// Caller holds the lock; may throw std::bad_alloc.
void loadDefaultTable(BrokerState& state) {
  state.names.assign(std::begin(kDefaultNames), std::end(kDefaultNames));
  state.useCounts.assign(state.names.size(), 0);
}

// Returns the process-wide state, creating it on first use. It is never
// destroyed: the simulated lower library may still call in from its own
// exit-time teardown, after this library's static destructors would have run.
BrokerState& brokerState() {
  static BrokerState* state = [] {
    BrokerState* created = new BrokerState();
    loadDefaultTable(*created);
    return created;
  }();
  return *state;
}

// Returns the function's index for `name`, or kFunctionCount when unknown.
unsigned functionIndex(const char* name) {
  if (name == nullptr) return kFunctionCount;
  for (unsigned i = 0; i < kFunctionCount; ++i) {
    if (std::strcmp(kFunctionNames[i], name) == 0) return i;
  }
  return kFunctionCount;
}

// Returns the table index of `name`, or names.size() when absent. Caller holds the lock.
size_t findName(const BrokerState& state, const char* name) {
  size_t i = 0;
  while (i < state.names.size() && state.names[i] != name) ++i;
  return i;
}

// Copies up to the journal's text width of `text` (may be null).
void copyText(char* destination, const char* text) {
  destination[0] = '\0';
  if (text == nullptr) return;
  size_t length = strnlen(text, VoKelSrvSim_MaxNameLength);
  std::memcpy(destination, text, length);
  destination[length] = '\0';
}

// Appends one entry; a full journal or a failed allocation counts as
// dropped rather than failing the call it describes. Caller holds the lock.
void recordCall(BrokerState& state, unsigned function, const Arguments& arguments, const char* text,
                int32_t result) noexcept {
  if (state.journal.size() >= VoKelSrvSim_MaxJournalEntries) {
    ++state.dropped;
    return;
  }
  VoKelSrvSim_JournalEntry entry{};
  entry.function = kFunctionNames[function];
  entry.argumentCount = arguments.count;
  std::memcpy(entry.arguments, arguments.values, sizeof entry.arguments);
  entry.result = result;
  copyText(entry.text, text);
  try {
    state.journal.push_back(entry);
  } catch (...) {
    ++state.dropped;
  }
}

// Consumes one injected answer of `function` into `result`; returns whether
// there was one. Caller holds the lock.
bool takeInjection(BrokerState& state, unsigned function, int32_t* result) {
  Injection& injection = state.injections[function];
  if (injection.callsLeft == 0) return false;
  --injection.callsLeft;
  *result = injection.status;
  return true;
}

// Runs one externally called function: the injection check, `operation`
// under the lock unless an injected error or 0 replaces it, then the
// journal entry. Returns the call's status; no
// exception leaves it (an allocation failure answers StatusNoMemory).
template <typename Operation>
int32_t serve(unsigned function, const Arguments& arguments, const char* text, Operation operation) noexcept {
  try {
    BrokerState& state = brokerState();
    std::lock_guard<std::mutex> hold(state.lock);
    int32_t injected = 0;
    bool inject = takeInjection(state, function, &injected);
    int32_t result = inject && injected <= 0 ? injected : operation(state);
    // An injected warning rides on a call that did its work, as the lower
    // library's stand-in does it, and never hides a real failure.
    if (inject && result >= 0) result = injected;
    if (journalEnabled.load(std::memory_order_relaxed)) recordCall(state, function, arguments, text, result);
    return result;
  } catch (...) {
    return VoKelSrvSim_StatusNoMemory;
  }
}

// Writes `text` and its NUL into a caller buffer of `capacity` bytes. When it
// does not fit, the buffer is left holding "" (if it has room for that) so a
// caller that ignores the status never reads stale or unterminated bytes.
int32_t copyOut(const std::string& text, char* buffer, uint32_t capacity) {
  if (buffer == nullptr || capacity < text.size() + 1) {
    if (buffer != nullptr && capacity > 0) buffer[0] = '\0';
    return VoKelSrvSim_StatusBufferTooSmall;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

// Writes all names separated by ',' and their number. The count is written
// even when the buffer is too small, so a caller can size its next attempt.
int32_t getResources(BrokerState& state, char* names, uint32_t capacity, uint32_t* count) {
  if (count == nullptr) return VoKelSrvSim_StatusNullArgument;
  std::string joined;
  for (size_t i = 0; i < state.names.size(); ++i) {
    if (i != 0) joined += ',';
    joined += state.names[i];
  }
  *count = static_cast<uint32_t>(state.names.size());
  return copyOut(joined, names, capacity);
}

int32_t getResourceName(BrokerState& state, uint32_t index, char* name, uint32_t capacity) {
  if (name == nullptr) return VoKelSrvSim_StatusNullArgument;
  if (index >= state.names.size()) return VoKelSrvSim_StatusUnknownIndex;
  return copyOut(state.names[index], name, capacity);
}

// Finds `name` and, when `claim` is set, counts one more use of its index.
int32_t findIndex(BrokerState& state, const char* name, uint32_t* index, bool claim) {
  if (name == nullptr || index == nullptr) return VoKelSrvSim_StatusNullArgument;
  size_t found = findName(state, name);
  if (found == state.names.size()) return VoKelSrvSim_StatusUnknownName;
  if (claim) ++state.useCounts[found];
  *index = static_cast<uint32_t>(found);
  return 0;
}

int32_t releaseIndex(BrokerState& state, uint32_t index) {
  if (index >= state.names.size()) return VoKelSrvSim_StatusUnknownIndex;
  if (state.useCounts[index] == 0) return VoKelSrvSim_StatusIndexNotInUse;
  --state.useCounts[index];
  return 0;
}

// A name must be non-empty, fit the journal and the name buffers, and not
// contain the separator of the GetResources list.
int32_t checkName(const char* name) {
  if (name == nullptr) return VoKelSrvSim_StatusNullArgument;
  size_t length = strnlen(name, VoKelSrvSim_MaxNameLength + 1);
  if (length == 0 || length > VoKelSrvSim_MaxNameLength) return VoKelSrvSim_StatusInvalidName;
  if (std::strchr(name, ',') != nullptr) return VoKelSrvSim_StatusInvalidName;
  return 0;
}

// Validates every name before changing the table, so a bad batch adds nothing.
int32_t addResources(BrokerState& state, const char* const* names, uint32_t count) {
  if (count == 0) return 0;
  if (names == nullptr) return VoKelSrvSim_StatusNullArgument;
  std::vector<std::string> fresh;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t status = checkName(names[i]);
    if (status != 0) return status;
    bool known = findName(state, names[i]) != state.names.size();
    for (const std::string& pending : fresh) known = known || pending == names[i];
    if (!known) fresh.emplace_back(names[i]);
  }
  if (state.names.size() + fresh.size() > VoKelSrvSim_MaxResources) return VoKelSrvSim_StatusTableFull;
  state.names.reserve(state.names.size() + fresh.size());
  state.useCounts.reserve(state.names.size() + fresh.size());
  for (std::string& name : fresh) {
    state.names.push_back(std::move(name));
    state.useCounts.push_back(0);
  }
  return 0;
}

// Runs `body` under the lock for control functions; returns `fallback` if
// the state cannot be created or `body` throws.
template <typename Result, typename Body>
Result control(Result fallback, Body body) noexcept {
  try {
    BrokerState& state = brokerState();
    std::lock_guard<std::mutex> hold(state.lock);
    return body(state);
  } catch (...) {
    return fallback;
  }
}

}  // namespace

/* ---- broker functions ------------------------------------------------- */

int32_t VoKelSrv_fpga_GetResources(uint32_t session, char* names, uint32_t capacity, uint32_t* count) {
  Arguments arguments{4, {session, raw(names), capacity, raw(count)}};
  return serve(kGetResources, arguments, nullptr,
               [&](BrokerState& state) { return getResources(state, names, capacity, count); });
}

int32_t VoKelSrv_broker_GetResourceName(uint32_t index, char* name, uint32_t capacity) {
  Arguments arguments{3, {index, raw(name), capacity, 0}};
  return serve(kGetResourceName, arguments, nullptr,
               [&](BrokerState& state) { return getResourceName(state, index, name, capacity); });
}

int32_t VoKelSrv_broker_GetResourceIndex(const char* name, uint32_t* index) {
  Arguments arguments{2, {raw(name), raw(index), 0, 0}};
  return serve(kGetResourceIndex, arguments, name,
               [&](BrokerState& state) { return findIndex(state, name, index, true); });
}

int32_t VoKelSrv_broker_ReleaseResourceIndex(uint32_t index) {
  Arguments arguments{1, {index, 0, 0, 0}};
  return serve(kReleaseResourceIndex, arguments, nullptr,
               [&](BrokerState& state) { return releaseIndex(state, index); });
}

/* ---- table functions used by the simulated lower library --------------- */

int32_t VoKelSrvSim_AddResources(const char* const* names, uint32_t count) {
  Arguments arguments{2, {raw(names), count, 0, 0}};
  return serve(kAddResources, arguments, nullptr,
               [&](BrokerState& state) { return addResources(state, names, count); });
}

int32_t VoKelSrvSim_LookupResource(const char* name, uint32_t* index) {
  Arguments arguments{2, {raw(name), raw(index), 0, 0}};
  return serve(kLookupResource, arguments, name,
               [&](BrokerState& state) { return findIndex(state, name, index, false); });
}

/* ---- control ---------------------------------------------------------- */

void VoKelSrvSim_Reset(void) {
  control(0, [](BrokerState& state) {
    loadDefaultTable(state);
    state.journal.clear();
    state.dropped = 0;
    for (Injection& injection : state.injections) injection = Injection{};
    journalEnabled.store(true, std::memory_order_relaxed);
    return 0;
  });
}

uint32_t VoKelSrvSim_ResourceCount(void) {
  return control(0u, [](BrokerState& state) { return static_cast<uint32_t>(state.names.size()); });
}

uint32_t VoKelSrvSim_ListInUse(uint32_t* indexes, uint32_t capacity) {
  return control(0u, [&](BrokerState& state) {
    uint32_t total = 0;
    for (size_t i = 0; i < state.useCounts.size(); ++i) {
      if (state.useCounts[i] == 0) continue;
      if (indexes != nullptr && total < capacity) indexes[total] = static_cast<uint32_t>(i);
      ++total;
    }
    return total;
  });
}

uint32_t VoKelSrvSim_UseCount(uint32_t index) {
  return control(0u, [&](BrokerState& state) { return index < state.useCounts.size() ? state.useCounts[index] : 0u; });
}

void VoKelSrvSim_JournalEnable(int32_t enabled) { journalEnabled.store(enabled != 0, std::memory_order_relaxed); }

void VoKelSrvSim_JournalClear(void) {
  control(0, [](BrokerState& state) {
    state.journal.clear();
    state.dropped = 0;
    return 0;
  });
}

uint32_t VoKelSrvSim_JournalSize(void) {
  return control(0u, [](BrokerState& state) { return static_cast<uint32_t>(state.journal.size()); });
}

uint32_t VoKelSrvSim_JournalDropped(void) {
  return control(0u, [](BrokerState& state) { return state.dropped; });
}

int32_t VoKelSrvSim_JournalRead(uint32_t position, VoKelSrvSim_JournalEntry* entry) {
  if (entry == nullptr) return VoKelSrvSim_StatusNullArgument;
  return control(VoKelSrvSim_StatusNoMemory, [&](BrokerState& state) {
    if (position >= state.journal.size()) return VoKelSrvSim_StatusUnknownIndex;
    *entry = state.journal[position];
    return 0;
  });
}

uint32_t VoKelSrvSim_JournalCount(const char* function) {
  if (function == nullptr) return 0;
  return control(0u, [&](BrokerState& state) {
    uint32_t matches = 0;
    for (const VoKelSrvSim_JournalEntry& entry : state.journal) {
      if (std::strcmp(entry.function, function) == 0) ++matches;
    }
    return matches;
  });
}

int32_t VoKelSrvSim_InjectStatus(const char* function, uint32_t calls, int32_t status) {
  if (function == nullptr) return VoKelSrvSim_StatusNullArgument;
  unsigned which = functionIndex(function);
  if (which == kFunctionCount) return VoKelSrvSim_StatusUnknownFunction;
  return control(VoKelSrvSim_StatusNoMemory, [&](BrokerState& state) {
    state.injections[which] = Injection{calls, status};
    return 0;
  });
}

uint32_t VoKelSrvSim_InjectionsLeft(const char* function) {
  unsigned which = functionIndex(function);
  if (which == kFunctionCount) return 0;
  return control(0u, [&](BrokerState& state) { return state.injections[which].callsLeft; });
}
