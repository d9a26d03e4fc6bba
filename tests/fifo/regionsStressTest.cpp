// -----------------------------------------------------------------------------
// File: tests/fifo/regionsStressTest.cpp
// -----------------------------------------------------------------------------
//
// Bounded concurrency: one acquiring thread per FIFO on two FIFOs of each of
// two sessions, disposing of its regions in shuffled order, while other
// threads call download, reset and StartFifo, and one closes the second
// session in the middle of it all. Afterwards every acquired element must
// have gone back exactly once and in acquisition order, and nothing may be
// left in the registry or the host.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "regionFixture.h"
#include "sessions/registry.h"

namespace regiontest {
namespace {

constexpr int kRegionsPerWorker = 200;
constexpr size_t kMaxHeld = 3;

struct Worker {
  uint32_t session;
  uint32_t fifo;
  int32_t typeCode;
  uint32_t elementType;
  std::vector<uint32_t> lentCounts;  // per region, in acquisition order
  int wrongData = 0;
  int unexpectedStatus = 0;
};

// Acquires regions, checks that each one continues the generator stream
// (zero copy, in order) and disposes of them in shuffled order. Stops early
// once its session is gone.
void runWorker(Worker& w, Counter& progress) {
  std::mt19937 random(w.fifo * 7919u + w.session);
  std::vector<uint32_t> held;
  uint64_t streamIndex = 0;
  for (int i = 0; i < kRegionsPerWorker; ++i) {
    Region r = acquireRead(w.session, w.fifo, 1 + random() % 16, 2000, w.typeCode);
    if (r.status == -63195) break;  // the session was closed
    if (r.status != 0) {
      ++w.unexpectedStatus;
      continue;
    }
    ViDazoHx_DataRecord record{};
    HostRuntimeSim_ReadReference(r.reference, &record);
    if (ViDazoSim_CheckGenerated(w.elementType, kSeed, streamIndex, record.elements, r.acquired, nullptr) != 0) {
      ++w.wrongData;
    }
    streamIndex += r.acquired;
    w.lentCounts.push_back(r.acquired);
    held.push_back(r.reference);
    if (held.size() == kMaxHeld || random() % 3 == 0) {
      std::shuffle(held.begin(), held.end(), random);
      for (uint32_t reference : held) HostRuntimeSim_DisposeReference(reference);
      held.clear();
    }
    progress.add();
  }
  for (uint32_t reference : held) HostRuntimeSim_DisposeReference(reference);
}

class RegionStressTest : public RegionTest {};

TEST_F(RegionStressTest, EveryElementGoesBackOnceAndInOrder) {
  uint32_t second = openStarted();
  ViDazoSim_SetJournalEnabled(1);
  std::vector<Worker> workers;
  for (uint32_t session : {session_, second}) {
    workers.push_back({session, kReadU32, kTypeU32, ViDazoSim_TypeU32, {}});
    workers.push_back({session, kReadU8, kTypeU8, ViDazoSim_TypeU8, {}});
  }
  Counter progress;
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (Worker& w : workers) threads.emplace_back(runWorker, std::ref(w), std::ref(progress));
  threads.emplace_back([&] {  // the guard, bounded
    for (int i = 0; i < 400 && !done.load(); ++i) {
      ViDazoHx_Download(session_);
      ViDazoHx_Reset(second);
    }
  });
  threads.emplace_back([&] {  // FIFO starts, also on records a close swept away
    for (int i = 0; i < 400 && !done.load(); ++i) {
      ViDazoHx_StartFifo(second, kReadU32);
      ViDazoHx_StartFifo(session_, kReadU8);
    }
  });
  threads.emplace_back([&] {  // closes the second session mid-run
    progress.waitFor(kRegionsPerWorker, std::chrono::seconds(60));
    int32_t status = ViDazoHx_Close(second, 0);
    EXPECT_TRUE(status == 0 || status == -61217) << status;
  });
  for (size_t i = 0; i < workers.size(); ++i) threads[i].join();
  done.store(true);
  for (size_t i = workers.size(); i < threads.size(); ++i) threads[i].join();

  EXPECT_EQ(0u, HostRuntimeSim_ListReferences(nullptr, 0));
  EXPECT_EQ(0u, ViDazoSim_JournalDropped());
  for (const Worker& w : workers) {
    EXPECT_EQ(0, w.wrongData) << "fifo " << w.fifo;
    EXPECT_EQ(0, w.unexpectedStatus) << "fifo " << w.fifo;
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    for (uint32_t count : w.lentCounts) expected.emplace_back(w.fifo, count);
    std::vector<std::pair<uint32_t, uint32_t>> actual;
    for (const auto& giveBack : giveBacks(w.session)) {
      if (giveBack.first == w.fifo) actual.push_back(giveBack);
    }
    EXPECT_EQ(expected, actual) << "session " << w.session << " fifo " << w.fifo;
  }
  EXPECT_EQ(1u, ViDazoSim_OpenSessionCount()) << "the second session's close completed";
  EXPECT_EQ(0, ViDazoHx_Close(session_, 0));
  tSharedHolder hold(registryLock);
  EXPECT_EQ(0u, sessionRegistry.size());
}

}  // namespace
}  // namespace regiontest
