/*
 * Control.cpp: the ViDazoSim_ control API of the simulated target.
 *
 * Thin C wrappers over the target model and the call trace. None of them is
 * journalled, so tests can inspect the simulator without changing what they
 * inspect. Each keeps exceptions inside the library.
 */
#include "CallTrace.h"
#include "Target.h"

using namespace vidazosim;

namespace {

// Runs `work`, turning an escaping allocation failure into a status.
template <typename Work>
int32_t guarded(Work&& work) noexcept {
  try {
    return work();
  } catch (...) {
    return ViDazoSim_StatusOutOfMemory;
  }
}

}  // namespace

extern "C" {

int32_t ViDazoSim_Reset(void) { return guarded([] { return resetSimulator(); }); }

int32_t ViDazoSim_SetNextSession(uint32_t value) { return setNextSession(value); }

uint32_t ViDazoSim_OpenSessionCount(void) { return openSessionCount(); }

int32_t ViDazoSim_GetTargetState(uint32_t session, uint32_t* state) { return getTargetState(session, state); }

int32_t ViDazoSim_GetSessionInfo(uint32_t session, ViDazoSim_SessionInfo* info) {
  return getSessionInfo(session, info);
}

uint32_t ViDazoSim_BlockedCallCount(void) { return blockedCallCount(); }

int32_t ViDazoSim_WaitForBlockedCalls(uint32_t count, uint32_t timeout) {
  return guarded([&] { return waitForBlockedCalls(count, timeout); });
}

int32_t ViDazoSim_RaiseIrqs(uint32_t session, uint32_t irqs) { return raiseIrqs(session, irqs); }

int32_t ViDazoSim_GetAssertedIrqs(uint32_t session, uint32_t* irqs) { return getAssertedIrqs(session, irqs); }

int32_t ViDazoSim_GetFifoLayout(uint32_t fifo, uint32_t* toHost, uint32_t* elementType, uint32_t* defaultDepth) {
  return getFifoLayout(fifo, toHost, elementType, defaultDepth);
}

int32_t ViDazoSim_GetFifoCounts(uint32_t session, uint32_t fifo, ViDazoSim_FifoCounts* counts) {
  return getFifoCounts(session, fifo, counts);
}

int32_t ViDazoSim_GetFifoBuffer(uint32_t session, uint32_t fifo, void** base, uint32_t* bytes) {
  return getFifoBuffer(session, fifo, base, bytes);
}

int32_t ViDazoSim_PushFifo(uint32_t session, uint32_t fifo, const void* data, uint32_t count, uint32_t timeout,
                           uint32_t* remaining) {
  return guarded([&] { return pushFifo(session, fifo, data, count, timeout, remaining); });
}

int32_t ViDazoSim_PullFifo(uint32_t session, uint32_t fifo, void* data, uint32_t count, uint32_t timeout,
                           uint32_t* remaining) {
  return guarded([&] { return pullFifo(session, fifo, data, count, timeout, remaining); });
}

int32_t ViDazoSim_StartGenerator(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t total) {
  return startGenerator(session, fifo, seed, total);
}

int32_t ViDazoSim_StopGenerator(uint32_t session, uint32_t fifo) { return stopGenerator(session, fifo); }

uint64_t ViDazoSim_GeneratorValue(uint32_t elementType, uint64_t seed, uint64_t index) {
  return generatorValue(elementType, seed, index);
}

int32_t ViDazoSim_CheckGenerated(uint32_t elementType, uint64_t seed, uint64_t firstIndex, const void* elements,
                                 uint32_t count, uint32_t* mismatch) {
  return checkGenerated(elementType, seed, firstIndex, elements, count, mismatch);
}

int32_t ViDazoSim_SetLoopback(uint32_t session, uint32_t from, uint32_t to) {
  return setLoopback(session, from, to);
}

int32_t ViDazoSim_ClearLoopback(uint32_t session, uint32_t from) { return clearLoopback(session, from); }

int32_t ViDazoSim_StartDevice(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t rate) {
  return guarded([&] { return startDevice(session, fifo, seed, rate); });
}

int32_t ViDazoSim_StopDevice(uint32_t session, uint32_t fifo) {
  return guarded([&] { return stopDevice(session, fifo); });
}

int32_t ViDazoSim_GetDeviceCounts(uint32_t session, uint32_t fifo, ViDazoSim_DeviceCounts* counts) {
  return getDeviceCounts(session, fifo, counts);
}

void ViDazoSim_SetJournalEnabled(int32_t enabled) { setJournalEnabled(enabled != 0); }

void ViDazoSim_ClearJournal(void) { clearJournal(); }

uint32_t ViDazoSim_JournalCount(void) { return journalCount(); }

uint32_t ViDazoSim_JournalDropped(void) { return journalDropped(); }

int32_t ViDazoSim_ReadJournal(uint32_t first, ViDazoSim_JournalRecord* records, uint32_t capacity,
                              uint32_t* copied) {
  return readJournal(first, records, capacity, copied);
}

int32_t ViDazoSim_FindJournalRecord(const char* name, uint32_t nth, ViDazoSim_JournalRecord* record) {
  return findJournalRecord(name, nth, record);
}

uint32_t ViDazoSim_CountJournalRecords(const char* name) { return countJournalRecords(name); }

int32_t ViDazoSim_InjectStatus(const char* name, int32_t status, uint32_t count) {
  return injectStatus(name, status, count);
}

void ViDazoSim_ClearInjections(void) { clearInjections(); }

}  // extern "C"
