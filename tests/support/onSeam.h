// onSeam.h: runs a test's action once, on the library thread that reaches a
// chosen seam (protons/seam/seam.h), for the life of one scope.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

#include "protons/seam/seam.h"

namespace testsupport {

class OnSeam {
 public:
  OnSeam(tSeam seam, std::function<void()> action) {
    seam_ = seam;
    action_ = std::move(action);
    fired_.store(false);
    seamHook.store(&hook);
  }
  ~OnSeam() { seamHook.store(nullptr); }
  OnSeam(const OnSeam&) = delete;
  OnSeam& operator=(const OnSeam&) = delete;

  bool fired() const { return fired_.load(); }

 private:
  // The action runs once: a seam reached again from inside it passes.
  static void hook(tSeam seam) {
    if (seam == seam_ && !fired_.exchange(true)) action_();
  }
  static inline tSeam seam_{};
  static inline std::function<void()> action_;
  static inline std::atomic<bool> fired_{false};
};

}  // namespace testsupport
