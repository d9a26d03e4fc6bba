// sessionTestSupport.cpp: see sessionTestSupport.h.

#include "sessionTestSupport.h"

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "adapter/forwarding.h"
#include "fifo/fifoStart.h"
#include "sessions/close.h"
#include "sessions/registry.h"

namespace sessiontest {

std::vector<LowerCall> journal() {
  std::vector<LowerCall> calls;
  const uint32_t count = ViDazoSim_JournalCount();
  std::vector<ViDazoSim_JournalRecord> records(count);
  uint32_t copied = 0;
  if (count != 0) ViDazoSim_ReadJournal(0, records.data(), count, &copied);
  for (uint32_t index = 0; index < copied; ++index) {
    const ViDazoSim_JournalRecord& record = records[index];
    calls.push_back(LowerCall{record.function,
                              std::vector<uint64_t>(record.arguments, record.arguments + record.argumentCount),
                              record.result});
  }
  return calls;
}

std::vector<std::string> journalNames() {
  std::vector<std::string> names;
  for (const LowerCall& call : journal()) names.push_back(call.function);
  return names;
}

std::vector<LowerCall> journalOf(const std::string& function) {
  std::vector<LowerCall> calls;
  for (LowerCall& call : journal()) {
    if (call.function == function) calls.push_back(std::move(call));
  }
  return calls;
}

void clearJournal() { ViDazoSim_ClearJournal(); }

namespace {
// Runs `read` on the record of `session` under registryLock held shared.
template <typename Result, typename Read>
Result readRecord(uint32_t session, Result absent, Read read) {
  tSharedHolder registry(registryLock);
  tSessionState* record = lookupSession(session);
  return record == nullptr ? absent : read(*record);
}
}  // namespace

bool isRegistered(uint32_t session) {
  return readRecord(session, false, [](tSessionState&) { return true; });
}

std::vector<uint32_t> registeredSessions() {
  tSharedHolder registry(registryLock);
  std::vector<uint32_t> sessions;
  for (uint32_t index = 0; index < sessionRegistry.size(); ++index) sessions.push_back(sessionRegistry.keyAt(index));
  return sessions;
}

std::vector<uint32_t> childrenOf(uint32_t session) {
  return readRecord(session, std::vector<uint32_t>{}, [](tSessionState& record) {
    std::vector<uint32_t> children;
    for (uint32_t index = 0; index < record.childSessions.size(); ++index) {
      children.push_back(record.childSessions.at(index));
    }
    return children;
  });
}

uint32_t parentOf(uint32_t session) {
  return readRecord(session, 0u, [](tSessionState& record) {
    if (record.parentState == nullptr) return 0u;
    for (uint32_t index = 0; index < sessionRegistry.size(); ++index) {
      if (&sessionRegistry.valueAt(index) == record.parentState) return sessionRegistry.keyAt(index);
    }
    return kDanglingParent;
  });
}

bool closePendingOf(uint32_t session) {
  return readRecord(session, false, [](tSessionState& record) { return record.closePending.load(); });
}

bool closePendingOnChildrenOf(uint32_t session) {
  return readRecord(session, false, [](tSessionState& record) { return record.closePendingOnChildren; });
}

std::vector<uint32_t> fifosOf(uint32_t session) {
  return readRecord(session, std::vector<uint32_t>{}, [](tSessionState& record) {
    tSharedHolder lock(*record.sessionLock);
    std::vector<uint32_t> fifos;
    for (uint32_t index = 0; index < record.fifoStates.size(); ++index) fifos.push_back(record.fifoStates.keyAt(index));
    return fifos;
  });
}

bool cleanupRegistered(uint32_t session) {
  HostRuntimeSim_Registration list[64];
  const uint32_t count = HostRuntimeSim_ListCleanup(list, 64);
  for (uint32_t index = 0; index < count && index < 64; ++index) {
    if (list[index].procedure == sessionCleanupProc && list[index].argument == session && list[index].mode == 2) {
      return true;
    }
  }
  return false;
}

uint32_t cleanupCallCount() { return HostRuntimeSim_CallCount("RTSetCleanupProc"); }

tRegionEntry* lendRegion(uint32_t session, uint32_t fifo) {
  if (getOrCreateFifoState(session, fifo) != 0) return nullptr;
  tSharedHolder registry(registryLock);
  tSessionState* record = lookupSession(session);
  tSharedHolder sessionLock(*record->sessionLock);
  tFifoState* state = record->fifoStates.find(fifo);
  tMutexHolder region(*state->regionMutex);
  return state->regions.pushBack(tRegionEntry{session, fifo, 1, state, false});
}

int32_t returnRegion(tRegionEntry* entry) {
  const uint32_t session = entry->session;
  tFifoState* state = entry->fifoState;
  bool closeNow = false;
  uint64_t generation = 0;
  {
    tMutexHolder region(*state->regionMutex);
    state->regions.popFront();
    closeNow = state->regions.empty() && state->owner->closePending.load();
    generation = state->owner->generation;
  }
  return closeNow ? finishPutOffClose(session, generation) : 0;
}

namespace {
// Records left by a test must not leak into the next one; the simulator's
// reset closes their sessions on its side.
void forgetAllRecords() {
  tExclusiveHolder registry(registryLock);
  while (!sessionRegistry.empty()) removeSession(sessionRegistry.keyAt(0));
}
}  // namespace

void SessionTest::SetUp() {
  forgetAllRecords();
  ViDazoSim_Reset();
  HostRuntimeSim_Reset();
  resetReservedIrqContexts();
}

void SessionTest::TearDown() {
  forgetAllRecords();
  ViDazoSim_Reset();
  HostRuntimeSim_Reset();
  resetReservedIrqContexts();
}

uint32_t SessionTest::open() {
  uint32_t session = 0;
  EXPECT_EQ(0, ViDazoHx_Open("bitfile", "signature", "sim0", 0, &session));
  return session;
}

uint32_t SessionTest::openResource(uint32_t parent) {
  uint32_t session = 0;
  EXPECT_EQ(0, ViDazoHx_OpenResource(parent, "sim1", 0, &session));
  return session;
}

}  // namespace sessiontest
