// bench_locks: cost of the platform locks against the alternatives.
//
// The shared path of tSharedExclusiveLock is meant to cost what a bare
// atomic increment/decrement pair costs (BM_AtomicPair, the limit) and to
// beat a pthread read lock. tMutex is a thin wrapper and should match a raw
// recursive priority-inheriting pthread mutex.

#include <benchmark/benchmark.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <shared_mutex>

#include "quarks/synchronization.h"

namespace {

// Shared by every thread of a multi-threaded run, as a real lock would be.
tSharedExclusiveLock& sharedExclusiveLock() {
  static tStatus status;
  static tSharedExclusiveLock lock(status);
  return lock;
}

pthread_rwlock_t rwlock = PTHREAD_RWLOCK_INITIALIZER;
std::shared_mutex standardSharedMutex;
std::atomic<int32_t> bareCounter{1};

void BM_SharedExclusiveLock_Shared(benchmark::State& state) {
  tSharedExclusiveLock& lock = sharedExclusiveLock();
  for (auto _ : state) {
    lock.acquireShared();
    lock.releaseShared();
  }
}

void BM_PthreadRwlock_Read(benchmark::State& state) {
  for (auto _ : state) {
    pthread_rwlock_rdlock(&rwlock);
    pthread_rwlock_unlock(&rwlock);
  }
}

void BM_StdSharedMutex_Shared(benchmark::State& state) {
  for (auto _ : state) {
    standardSharedMutex.lock_shared();
    standardSharedMutex.unlock_shared();
  }
}

void BM_AtomicPair(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(bareCounter.fetch_add(1, std::memory_order_seq_cst));
    benchmark::DoNotOptimize(bareCounter.fetch_sub(1, std::memory_order_seq_cst));
  }
}

void BM_tMutex_LockUnlock(benchmark::State& state) {
  static tStatus status;
  static tMutex mutex(status);
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}

pthread_mutex_t* rawRecursivePiMutex() {
  static pthread_mutex_t mutex;
  static bool made = [] {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return true;
  }();
  (void)made;
  return &mutex;
}

void BM_RawPiRecursiveMutex_LockUnlock(benchmark::State& state) {
  pthread_mutex_t* mutex = rawRecursivePiMutex();
  for (auto _ : state) {
    pthread_mutex_lock(mutex);
    pthread_mutex_unlock(mutex);
  }
}

}  // namespace

BENCHMARK(BM_SharedExclusiveLock_Shared)->Threads(1)->Threads(2);
BENCHMARK(BM_PthreadRwlock_Read)->Threads(1)->Threads(2);
BENCHMARK(BM_StdSharedMutex_Shared)->Threads(1)->Threads(2);
BENCHMARK(BM_AtomicPair)->Threads(1)->Threads(2);
BENCHMARK(BM_tMutex_LockUnlock);
BENCHMARK(BM_RawPiRecursiveMutex_LockUnlock);

BENCHMARK_MAIN();
