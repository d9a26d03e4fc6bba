/*
 * CallTrace.cpp: the call journal and fault-injection tables of the simulated
 * target.
 *
 * The journal is a bounded vector guarded by one mutex; the injection table is
 * a fixed array indexed by function id, guarded by another. The shared flag
 * word tells calls whether either needs looking at.
 */
#include "CallTrace.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace vidazosim {

std::atomic<uint32_t> gTraceFlags{kJournalOn};

namespace {

const char* const kFunctionNames[fnCount] = {
#define VIDAZOSIM_FUNCTION_NAME(name) #name,
    VIDAZODLL_FOR_EACH_ENTRY(VIDAZOSIM_FUNCTION_NAME)
#undef VIDAZOSIM_FUNCTION_NAME
        "ViDazoDll_OpenResource",
    "ViDazoDll_AddResources"};

struct Injection {
  int32_t status = 0;
  uint32_t remaining = 0;
};

struct InjectionTable {
  std::mutex lock;
  Injection entries[fnCount];
  uint32_t armed = 0;  // number of entries with remaining > 0
};

struct Journal {
  std::mutex lock;
  std::vector<ViDazoSim_JournalRecord> records;
  uint32_t dropped = 0;
  uint64_t nextSequence = 0;
};

// Both tables live until the process ends: calls made from other libraries'
// exit handlers must still find them.
InjectionTable& injections() {
  static InjectionTable* table = new InjectionTable;
  return *table;
}

Journal& journal() {
  static Journal* instance = new Journal;
  return *instance;
}

// Sets or clears `bit` of the flag word. Lock-free.
void setFlag(uint32_t bit, bool on) {
  if (on) {
    gTraceFlags.fetch_or(bit, std::memory_order_relaxed);
  } else {
    gTraceFlags.fetch_and(~bit, std::memory_order_relaxed);
  }
}

bool sameName(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

}  // namespace

const char* functionName(FunctionId id) { return id < fnCount ? kFunctionNames[id] : "?"; }

bool findFunction(const char* name, FunctionId* id) {
  if (name == nullptr) return false;
  for (uint32_t i = 0; i < fnCount; ++i) {
    if (sameName(kFunctionNames[i], name)) {
      *id = static_cast<FunctionId>(i);
      return true;
    }
  }
  return false;
}

bool takeInjection(FunctionId id, int32_t* status) {
  InjectionTable& table = injections();
  std::lock_guard<std::mutex> guard(table.lock);
  Injection& entry = table.entries[id];
  if (entry.remaining == 0) return false;
  *status = entry.status;
  if (--entry.remaining == 0 && --table.armed == 0) setFlag(kInjectionArmed, false);
  return true;
}

int32_t injectStatus(const char* name, int32_t status, uint32_t count) {
  FunctionId id;
  if (!findFunction(name, &id)) return ViDazoSim_StatusUnknownFunction;
  if (status == 0 && count != 0) return ViDazoSim_StatusInvalidParameter;
  InjectionTable& table = injections();
  std::lock_guard<std::mutex> guard(table.lock);
  Injection& entry = table.entries[id];
  if (entry.remaining != 0) --table.armed;
  entry.status = status;
  entry.remaining = count;
  if (count != 0) ++table.armed;
  setFlag(kInjectionArmed, table.armed != 0);
  return 0;
}

void clearInjections() {
  InjectionTable& table = injections();
  std::lock_guard<std::mutex> guard(table.lock);
  for (Injection& entry : table.entries) entry = Injection{};
  table.armed = 0;
  setFlag(kInjectionArmed, false);
}

void recordCall(FunctionId id, int32_t result, const uint64_t* arguments, uint32_t count) {
  ViDazoSim_JournalRecord record{};
  std::strncpy(record.function, functionName(id), sizeof record.function - 1);
  record.argumentCount = count;
  record.result = result;
  for (uint32_t i = 0; i < count && i < 7; ++i) record.arguments[i] = arguments[i];
  Journal& j = journal();
  std::lock_guard<std::mutex> guard(j.lock);
  if (j.records.size() >= ViDazoSim_JournalCapacity) {
    ++j.dropped;
    return;
  }
  record.sequence = j.nextSequence++;
  try {
    j.records.push_back(record);
  } catch (...) {
    // A journal that cannot grow loses the record, never the call.
    ++j.dropped;
  }
}

void setJournalEnabled(bool enabled) { setFlag(kJournalOn, enabled); }

void clearJournal() {
  Journal& j = journal();
  std::lock_guard<std::mutex> guard(j.lock);
  j.records.clear();
  j.dropped = 0;
  j.nextSequence = 0;
}

uint32_t journalCount() {
  Journal& j = journal();
  std::lock_guard<std::mutex> guard(j.lock);
  return static_cast<uint32_t>(j.records.size());
}

uint32_t journalDropped() {
  Journal& j = journal();
  std::lock_guard<std::mutex> guard(j.lock);
  return j.dropped;
}

int32_t readJournal(uint32_t first, ViDazoSim_JournalRecord* records, uint32_t capacity, uint32_t* copied) {
  if (copied == nullptr || (records == nullptr && capacity != 0)) return ViDazoSim_StatusInvalidParameter;
  Journal& j = journal();
  std::lock_guard<std::mutex> guard(j.lock);
  uint32_t n = 0;
  for (size_t i = first; i < j.records.size() && n < capacity; ++i) records[n++] = j.records[i];
  *copied = n;
  return 0;
}

int32_t findJournalRecord(const char* name, uint32_t nth, ViDazoSim_JournalRecord* record) {
  if (name == nullptr || record == nullptr) return ViDazoSim_StatusInvalidParameter;
  Journal& j = journal();
  std::lock_guard<std::mutex> guard(j.lock);
  for (const ViDazoSim_JournalRecord& r : j.records) {
    if (sameName(r.function, name) && nth-- == 0) {
      *record = r;
      return 0;
    }
  }
  return ViDazoSim_StatusNoSuchRecord;
}

uint32_t countJournalRecords(const char* name) {
  if (name == nullptr) return 0;
  Journal& j = journal();
  std::lock_guard<std::mutex> guard(j.lock);
  uint32_t n = 0;
  for (const ViDazoSim_JournalRecord& r : j.records) n += sameName(r.function, name) ? 1u : 0u;
  return n;
}

}  // namespace vidazosim
