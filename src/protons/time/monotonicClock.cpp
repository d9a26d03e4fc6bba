// monotonicClock.cpp: the monotonic clock and duration-unit conversion.

#include "protons/time/monotonicClock.h"

#include <ctime>
#include <limits>

// A 32-bit time_t ends in January 2038, and deadlines long before that for
// long timeouts. 32-bit builds must ask for the 64-bit one (_TIME_BITS=64,
// which the C library accepts only with _FILE_OFFSET_BITS=64).
static_assert(sizeof(time_t) >= 8, "time_t must be 64 bits wide: build with -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64");

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr int64_t kNanosecondsPerMillisecond = 1000000;
constexpr uint32_t kMillisecondsPerSecond = 1000;

}  // namespace

// addMilliseconds(): the sums stay in int64 (a uint32 count of milliseconds
// is under 4.3 million seconds), and the seconds are compared against the
// room left before they are added, so nothing overflows.
timespec addMilliseconds(const timespec& time, uint32_t milliseconds) {
  constexpr time_t kLastSecond = std::numeric_limits<time_t>::max();
  const int64_t nanoseconds = static_cast<int64_t>(time.tv_nsec) +
                              static_cast<int64_t>(milliseconds % kMillisecondsPerSecond) * kNanosecondsPerMillisecond;
  const int64_t seconds = milliseconds / kMillisecondsPerSecond + nanoseconds / kNanosecondsPerSecond;
  timespec result{};
  if (static_cast<int64_t>(time.tv_sec) > static_cast<int64_t>(kLastSecond) - seconds) {
    result.tv_sec = kLastSecond;
    result.tv_nsec = kNanosecondsPerSecond - 1;
    return result;
  }
  result.tv_sec = time.tv_sec + static_cast<time_t>(seconds);
  result.tv_nsec = static_cast<long>(nanoseconds % kNanosecondsPerSecond);
  return result;
}

// monotonicNanoseconds(): does not block. Seconds are widened before the
// multiplication so a 32-bit time_t cannot overflow it.
int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + static_cast<int64_t>(now.tv_nsec);
}
