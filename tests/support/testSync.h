// -----------------------------------------------------------------------------
// File: tests/support/testSync.h
// -----------------------------------------------------------------------------
//
// Ordering helpers for tests that use threads. A test thread waits for what
// another thread signals (Signal, Counter) rather than sleeping; every wait
// is bounded, so a broken implementation fails the test instead of hanging
// the suite. `eventually` is the last resort, for state nobody signals, such
// as a thread blocked inside the library whose only trace is a journal entry
// or a lock's counters.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace testsync {

// Upper bound of every wait. A correct implementation never comes near it.
constexpr std::chrono::seconds kBound{10};

// A flag one thread raises and others wait for.
class Signal {
 public:
  void raise() {
    std::lock_guard<std::mutex> hold(lock_);
    raised_ = true;
    changed_.notify_all();
  }
  // Returns whether the flag was raised within `limit`.
  bool waitFor(std::chrono::milliseconds limit = kBound) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, limit, [this] { return raised_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool raised_ = false;
};

// A count that worker threads raise and a test thread waits on.
class Counter {
 public:
  void add() {
    std::lock_guard<std::mutex> hold(lock_);
    ++count_;
    changed_.notify_all();
  }
  int value() {
    std::lock_guard<std::mutex> hold(lock_);
    return count_;
  }
  // Returns whether the count reached `atLeast` within `limit`.
  bool waitFor(int atLeast, std::chrono::milliseconds limit = kBound) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, limit, [&] { return count_ >= atLeast; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Polls `predicate`, yielding between looks, until it holds or `limit`
// passes; returns whether it held.
template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds limit = kBound) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace testsync
