// monotonicClock.cpp: the monotonic clock and duration-unit conversion.

#include "protons/time/monotonicClock.h"

#include <ctime>

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

}  // namespace

// monotonicNanoseconds(): does not block. Seconds are widened before the
// multiplication so a 32-bit time_t cannot overflow it.
int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + static_cast<int64_t>(now.tv_nsec);
}
