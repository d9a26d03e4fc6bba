// testThread.h: helpers for concurrency tests. Threads are ordered with
// futures, counters and observable lock state, every wait is bounded,
// nothing sleeps.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "testSync.h"

namespace platformtest {

using testsync::Counter;
using testsync::eventually;
using testsync::kBound;

// A thread that runs posted work in order, so a test can make one specific
// thread acquire and later release a lock.
class WorkerThread {
 public:
  WorkerThread() : thread_([this] { run(); }) {}
  ~WorkerThread() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  std::future<void> post(std::function<void()> work) {
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(work));
    std::future<void> done = task->get_future();
    {
      std::lock_guard<std::mutex> hold(mutex_);
      queue_.emplace_back([task] { (*task)(); });
    }
    wake_.notify_one();
    return done;
  }

 private:
  void run() {
    for (;;) {
      std::function<void()> work;
      {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        work = std::move(queue_.front());
        queue_.pop_front();
      }
      work();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

inline bool finishes(std::future<void>& done) {
  return done.wait_for(kBound) == std::future_status::ready;
}

inline bool stillRunning(std::future<void>& done) {
  return done.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

}  // namespace platformtest
