// watchdogStress.cpp: threads acquire and dispose of regions in random order
// on FIFOs of long-lived sessions and of short-lived sessions with children,
// while open, close, StartFifo, download, reset, register and IRQ calls run
// beside them; the host's cleanup runs at the end with the threads still
// working. Runs for VIDAZOHX_STRESS_SECONDS (default 3), in rounds of about
// a second: each ends with the host's cleanup, which races the put-off
// closes the workers finish, and the next opens new long-lived sessions.
//
// The lower library's journal is read in epochs: the workers pause at a
// barrier, the journal is drained and cleared, and they go on. So the run
// can check every release and every close however long it lasts:
//   - every acquired element went back to the lower library exactly once;
//   - the long-lived read streams reached the host in order, none skipped
//     or repeated, and unchanged until disposed of;
//   - no session was closed twice on the library's own account, the host's
//     cleanup included, which runs at the end racing put-off closes;
//   - every session instance the host has not closed is open below. The
//     short-lived sessions take values the host closed before, so the
//     lower library hands values out again; the host keeps its own log of
//     what it opened and closed, by instance, since the journal alone
//     cannot tell one instance of a value from the next;
//   - nothing is left open, lent or registered at the end.
// A watchdog ends a run whose workers stop reaching the barrier and prints
// the export each one is in.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "sessions/registry.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWorkers = 4;
constexpr uint32_t kReadFifo = 6, kWriteFifo = 15, kU32 = 7;
constexpr auto kEpoch = std::chrono::milliseconds(40);
constexpr uint32_t kJournalDrainAt = 20000;  // of the 65536 records the journal keeps

struct Held {
  uint32_t reference, session, first, count;
  const uint32_t* elements;
};

// One session instance as the host opened it; a value handed out again
// is a new instance.
struct Instance {
  uint32_t value;
  int parent;    // index of the parent's instance, -1 for none
  bool closed;   // the host closed it (or its parent); -61217 promised it closes
};

// What every worker shares; guarded by `lock` unless atomic.
struct Shared {
  std::mutex lock;
  std::condition_variable wake;
  bool pause = false, stop = false, noOpen = false;
  int paused = 0;
  std::vector<uint32_t> longLived;         // sessions never closed by the workers
  std::vector<uint32_t> churn;             // short-lived sessions any worker may close
  std::map<uint64_t, uint64_t> acquired;   // (session << 8 | fifo) -> elements lent
  std::map<uint64_t, std::vector<std::pair<uint32_t, uint32_t>>> delivered;  // (round, session) -> stream pieces
  uint64_t round = 0;
  std::vector<Instance> instances;         // the host's log, by instance
  std::vector<uint32_t> reusable;          // short-lived values the host closed
  std::atomic<const char*> inExport[kWorkers];
  std::atomic<uint64_t> operations{0};
  int wrongData = 0;
};
Shared shared;

uint64_t key(uint32_t session, uint32_t fifo) { return static_cast<uint64_t>(session) << 8 | fifo; }

void enter(int worker, const char* name) {
  shared.inExport[worker].store(name);
  shared.operations.fetch_add(1, std::memory_order_relaxed);
}

// Holds a worker at the epoch barrier while the journal is drained. A
// worker that finds the journal filling asks for the drain itself, so a
// main thread the scheduler keeps waiting cannot let it overflow.
bool atBarrier(uint32_t step) {
  const bool full = step % 16 == 0 && ViDazoSim_JournalCount() >= 2 * kJournalDrainAt;
  std::unique_lock<std::mutex> hold(shared.lock);
  if (full) shared.pause = true;
  if (!shared.pause) return !shared.stop;
  ++shared.paused;
  shared.wake.notify_all();
  shared.wake.wait(hold, [] { return !shared.pause; });
  --shared.paused;
  return !shared.stop;
}

uint32_t pick(std::mt19937& random, const std::vector<uint32_t>& from) {
  std::lock_guard<std::mutex> hold(shared.lock);
  return from.empty() ? 0 : from[random() % from.size()];
}

// Logs an instance the host opened; returns its index.
int logOpened(uint32_t value, int parent) {
  std::lock_guard<std::mutex> hold(shared.lock);
  shared.instances.push_back(Instance{value, parent, false});
  return static_cast<int>(shared.instances.size()) - 1;
}

// Takes a short-lived session for the host to close and logs its live
// instance closed before the close is asked for, so that no check sees it
// live meanwhile.
uint32_t takeChurn(std::mt19937& random) {
  std::lock_guard<std::mutex> hold(shared.lock);
  if (shared.churn.empty()) return 0;
  const auto chosen = shared.churn.begin() + static_cast<std::ptrdiff_t>(random() % shared.churn.size());
  const uint32_t session = *chosen;
  shared.churn.erase(chosen);
  for (Instance& instance : shared.instances) {
    if (instance.value == session) instance.closed = true;
  }
  shared.reusable.push_back(session);
  return session;
}

// Whether the host closed the instance or one above it.
bool closedByHost(int index) {
  for (; index >= 0; index = shared.instances[index].parent) {
    if (shared.instances[index].closed) return true;
  }
  return false;
}

// With the workers paused: every instance the host has not closed must be
// open below; one that is not was closed behind the host's back, most
// likely by a close meant for an earlier instance of its value.
int liveInstancesClosed() {
  std::lock_guard<std::mutex> hold(shared.lock);
  int closed = 0;
  for (std::size_t index = 0; index < shared.instances.size(); ++index) {
    ViDazoSim_SessionInfo info{};
    if (closedByHost(static_cast<int>(index)) || ViDazoSim_GetSessionInfo(shared.instances[index].value, &info) == 0) {
      continue;
    }
    std::printf("session %u, a live instance, is closed below\n", shared.instances[index].value);
    shared.instances[index].closed = true;  // reported once
    ++closed;
  }
  return closed;
}

void dispose(int worker, std::vector<Held>& held, std::size_t index) {
  Held region = held[index];
  held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
  if (region.elements != nullptr &&
      ViDazoSim_CheckGenerated(ViDazoSim_TypeU32, region.session, region.first, region.elements, region.count, nullptr) != 0) {
    std::lock_guard<std::mutex> hold(shared.lock);
    ++shared.wrongData;
  }
  enter(worker, "dispose");
  HostRuntimeSim_DisposeReference(region.reference);
}

void acquire(int worker, std::vector<Held>& held, uint32_t session, uint32_t fifo, bool longLived,
             std::mt19937& random) {
  uint32_t reference = 0, count = 0, remaining = 0;
  const bool write = fifo == kWriteFifo;
  enter(worker, write ? "AcquireFifoWriteRegionScalar" : "AcquireFifoReadRegionScalar");
  auto acquireRegion = write ? &ViDazoHx_AcquireFifoWriteRegionScalar : &ViDazoHx_AcquireFifoReadRegionScalar;
  if (acquireRegion(session, fifo, &reference, 1 + random() % 16, kU32, 0, 0, &count, &remaining) < 0) return;
  ViDazoHx_DataRecord record{};
  HostRuntimeSim_ReadReference(reference, &record);
  const auto* elements = static_cast<const uint32_t*>(record.elements);
  Held region{reference, session, 0, count, nullptr};
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.acquired[key(session, fifo)] += count;
    if (longLived && !write && count != 0) {
      region.first = elements[0] - session;  // the generator's stream index
      region.elements = elements;
      shared.delivered[shared.round << 32 | session].push_back({region.first, count});
    }
  }
  held.push_back(region);
}

// One short-lived parent with a child, regions out on two FIFOs of the
// child, and a close that must wait for them.
// Half of them ask the lower library for a value the host closed before
// (the open fails while that session's put-off close has not finished).
void churn(int worker, std::mt19937& random) {
  uint32_t parent = 0, child = 0, reuse = 0;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (shared.noOpen) return;
    if (!shared.reusable.empty() && random() % 2 == 0) reuse = shared.reusable[random() % shared.reusable.size()];
  }
  if (reuse != 0) ViDazoSim_SetNextSession(reuse);
  enter(worker, "Open");
  if (ViDazoHx_Open("bitfile", "signature", "sim0", 0, &parent) < 0) return;
  int parentInstance = logOpened(parent, -1);
  enter(worker, "OpenResource");
  if (ViDazoHx_OpenResource(parent, "sim1", 0, &child) >= 0) {
    logOpened(child, parentInstance);
    for (uint32_t fifo : {kReadFifo, kWriteFifo}) {
      enter(worker, "StartFifo");
      ViDazoHx_StartFifo(child, fifo);
    }
    ViDazoSim_StartGenerator(child, kReadFifo, child, ~0ull);
  }
  std::lock_guard<std::mutex> hold(shared.lock);
  shared.churn.push_back(random() % 2 ? parent : child);
}

void work(int worker) {
  shared.inExport[worker].store("nothing yet");
  std::mt19937 random(static_cast<uint32_t>(worker) * 7919u + 1);
  std::vector<Held> held;
  ViDazoHx_IrqContext context = nullptr;
  uint32_t value = 0, irqs = 0;
  uint8_t timedOut = 0;
  uint32_t drained[16];
  for (uint32_t step = 0; atBarrier(step); ++step) {
    const uint32_t roll = random() % 100;
    const uint32_t session = pick(random, shared.longLived);
    if (roll < 35) {
      acquire(worker, held, session, roll < 28 ? kReadFifo : kWriteFifo, true, random);
    } else if (roll < 65) {
      if (!held.empty()) dispose(worker, held, random() % held.size());
    } else if (roll < 72) {
      const uint32_t target = pick(random, shared.churn);
      if (target != 0) acquire(worker, held, target, random() % 2 ? kReadFifo : kWriteFifo, false, random);
    } else if (roll < 75) {
      churn(worker, random);
    } else if (roll < 79) {
      // The host closes each short-lived session once: a refused close is
      // finished by the last release, and a second close of its own would
      // be forwarded and could not be told apart from the library's.
      const uint32_t target = takeChurn(random);
      enter(worker, "Close");
      if (target != 0) ViDazoHx_Close(target, 0);
    } else if (roll < 83) {
      // Only short-lived sessions: a reset may drop the long-lived streams.
      const uint32_t target = pick(random, shared.churn);
      enter(worker, roll % 2 ? "Download" : "Reset");
      roll % 2 ? ViDazoHx_Download(target) : ViDazoHx_Reset(target);
    } else if (roll < 87) {
      enter(worker, "StartFifo");
      ViDazoHx_StartFifo(session, kReadFifo);
    } else if (roll < 91) {
      enter(worker, "ReserveIrqContext");
      ViDazoHx_ReserveIrqContext(session, &context);
      enter(worker, "UnreserveIrqContext");
      ViDazoHx_UnreserveIrqContext(session, &context);
      enter(worker, "WaitOnIrqs");
      ViDazoHx_WaitOnIrqs(session, &context, 1, 0, &irqs, &timedOut);
    } else {
      enter(worker, "Read32");
      ViDazoHx_Write32(session, 4 * (roll % 8), roll);
      ViDazoHx_Read32(session, 4 * (roll % 8), &value);
    }
    if (roll % 10 == 0) ViDazoSim_PullFifo(session, kWriteFifo, drained, 1 + roll % 16, 0, nullptr);
  }
  while (!held.empty()) dispose(worker, held, held.size() - 1);
  shared.inExport[worker].store("finished");
}

// Pauses the workers, or reports where each one is stuck and ends the run.
void pauseWorkers(std::chrono::seconds watchdog) {
  std::unique_lock<std::mutex> hold(shared.lock);
  shared.pause = true;
  if (!shared.wake.wait_for(hold, watchdog, [] { return shared.paused == kWorkers; })) {
    std::printf("watchdog: the workers stopped reaching the barrier\n");
    for (int worker = 0; worker < kWorkers; ++worker) {
      std::printf("  worker %d is in %s\n", worker, shared.inExport[worker].load());
    }
    std::fflush(stdout);
    std::_Exit(2);
  }
}

void resumeWorkers() {
  std::lock_guard<std::mutex> hold(shared.lock);
  shared.pause = false;
  shared.wake.notify_all();
}

// Reads the journal of an epoch: releases per FIFO, and closes the library
// made on its own account (attribute 1) of sessions already closed. The
// host's cleanup counts too: a close of the host's that finished before the
// cleanup took the session's registration withdrew it, and one in flight
// leaves the cleanup nothing to do. Only the host's own closes (attribute
// 0) may meet a session its cleanup closed.
void drainJournal(std::map<uint64_t, uint64_t>* released, int* doubleCloses) {
  std::vector<ViDazoSim_JournalRecord> records(ViDazoSim_JournalCount());
  uint32_t copied = 0;
  if (!records.empty()) ViDazoSim_ReadJournal(0, records.data(), records.size(), &copied);
  for (uint32_t index = 0; index < copied; ++index) {
    const ViDazoSim_JournalRecord& record = records[index];
    const std::string name = record.function;
    const uint32_t session = static_cast<uint32_t>(record.arguments[0]) & ~0x4000u;
    if (name == "ViDazoDll_ReleaseFifoElements" && record.result >= 0) {
      (*released)[key(session, static_cast<uint32_t>(record.arguments[1]))] += record.arguments[2];
    }
    if (doubleCloses != nullptr && name == "ViDazoDll_Close" && record.arguments[1] == 1 && record.result == -63001) {
      ++*doubleCloses;
      std::printf("session %u closed again on the library's account; its calls this epoch:\n", session);
      for (uint32_t earlier = 0; earlier <= index; ++earlier) {
        const ViDazoSim_JournalRecord& call = records[earlier];
        if ((static_cast<uint32_t>(call.arguments[0]) & ~0x4000u) != session) continue;
        std::printf("  %s(%llu, %llu) -> %d\n", call.function, static_cast<unsigned long long>(call.arguments[0]),
                    static_cast<unsigned long long>(call.arguments[1]), call.result);
      }
    }
  }
  if (ViDazoSim_JournalDropped() != 0) {
    std::printf("FAILED: the journal overflowed in an epoch\n");
    std::exit(1);
  }
  ViDazoSim_ClearJournal();
}

}  // namespace

// Opens the long-lived sessions of a round. Workers are paused or not yet
// started.
void openLongLived() {
  std::vector<uint32_t> sessions;
  for (int index = 0; index < 2; ++index) {
    uint32_t parent = 0, child = 0;
    ViDazoHx_Open("bitfile", "signature", "sim0", 0, &parent);
    ViDazoHx_OpenResource(parent, "sim1", 0, &child);
    for (uint32_t session : {parent, child}) {
      ViDazoHx_StartFifo(session, kReadFifo);
      ViDazoHx_StartFifo(session, kWriteFifo);
      ViDazoSim_StartGenerator(session, kReadFifo, session, ~0ull);
      sessions.push_back(session);
    }
  }
  std::lock_guard<std::mutex> hold(shared.lock);
  shared.longLived = sessions;
  shared.churn.clear();
  shared.noOpen = false;
}

// The host stops with the workers still running: its cleanup closes what
// is open, racing the put-off closes the workers' disposals finish, and
// their calls from then on meet closed sessions. An open under way
// meanwhile registers after the run; the next round's run, or the last
// one after the workers stop, takes it.
void stopHost(std::chrono::seconds watchdog, std::map<uint64_t, uint64_t>* released, int* doubleCloses,
              int* liveClosed) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.noOpen = true;
  }
  pauseWorkers(watchdog);
  drainJournal(released, doubleCloses);
  *liveClosed += liveInstancesClosed();
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    for (Instance& instance : shared.instances) instance.closed = true;
  }
  resumeWorkers();
  HostRuntimeSim_RunCleanup();
  pauseWorkers(watchdog);
  drainJournal(released, doubleCloses);
}

int main() {
  const char* configured = std::getenv("VIDAZOHX_STRESS_SECONDS");
  const double seconds = configured != nullptr ? std::atof(configured) : 3.0;
  const int rounds = std::max(1, static_cast<int>(seconds));
  const auto watchdog = std::chrono::seconds(30);
  ViDazoSim_Reset();
  HostRuntimeSim_Reset();
  openLongLived();
  ViDazoSim_ClearJournal();
  std::vector<std::thread> workers;
  for (int worker = 0; worker < kWorkers; ++worker) workers.emplace_back(work, worker);

  std::map<uint64_t, uint64_t> released;
  int doubleCloses = 0, liveClosed = 0;
  const auto start = Clock::now();
  for (int round = 1; round <= rounds; ++round) {
    while (Clock::now() - start < std::chrono::duration<double>(seconds * round / rounds)) {
      // An epoch ends after kEpoch or when the journal fills; the short
      // sleeps pace the check, they order nothing.
      const auto epochStart = Clock::now();
      while (Clock::now() - epochStart < kEpoch && ViDazoSim_JournalCount() < kJournalDrainAt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      pauseWorkers(watchdog);
      drainJournal(&released, &doubleCloses);
      liveClosed += liveInstancesClosed();
      resumeWorkers();
    }
    stopHost(watchdog, &released, &doubleCloses, &liveClosed);
    if (round < rounds) {
      {
        std::lock_guard<std::mutex> hold(shared.lock);
        ++shared.round;
      }
      openLongLived();
    }
    if (round == rounds) {
      std::lock_guard<std::mutex> hold(shared.lock);
      shared.stop = true;
    }
    resumeWorkers();
  }
  for (std::thread& worker : workers) worker.join();
  HostRuntimeSim_RunCleanup();
  drainJournal(&released, &doubleCloses);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  int failures = 0;
  auto fail = [&failures](const std::string& what) {
    std::printf("FAILED: %s\n", what.c_str());
    ++failures;
  };
  if (released != shared.acquired) fail("elements released differ from elements acquired");
  for (auto& stream : shared.delivered) {
    std::sort(stream.second.begin(), stream.second.end());
    for (std::size_t index = 1; index < stream.second.size(); ++index) {
      const auto& before = stream.second[index - 1];
      if (before.first + before.second != stream.second[index].first) {
        fail("session " + std::to_string(stream.first & 0xFFFFFFFFu) + ": stream elements skipped or repeated");
        break;
      }
    }
  }
  if (shared.wrongData != 0) fail(std::to_string(shared.wrongData) + " regions changed before disposal");
  if (doubleCloses != 0) fail(std::to_string(doubleCloses) + " sessions closed twice on the library's account");
  if (liveClosed != 0) fail(std::to_string(liveClosed) + " live session instances closed behind the host's back");
  if (ViDazoSim_OpenSessionCount() != 0) fail(std::to_string(ViDazoSim_OpenSessionCount()) + " sessions left open");
  if (HostRuntimeSim_ListReferences(nullptr, 0) != 0) fail("references left");
  if (HostRuntimeSim_ListCleanup(nullptr, 0) != 0) fail("cleanup registrations left");
  {
    tSharedHolder registry(registryLock);
    if (!sessionRegistry.empty()) fail("sessions left in the registry");
  }
  std::printf("%llu operations in %.1f s: %.0f per second\n",
              static_cast<unsigned long long>(shared.operations.load()), elapsed, shared.operations.load() / elapsed);
  return failures == 0 ? 0 : 1;
}
