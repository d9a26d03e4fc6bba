// monotonicClock.cpp: the monotonic clock and duration-unit conversion.

#include "protons/time/monotonicClock.h"

#include <ctime>
#include <limits>

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

// Factor between a unit and the next coarser one, indexed by the finer unit.
constexpr uint64_t kFactorToCoarser[] = {1000, 1000, 1000, 60, 60};

int unitIndex(tDurationUnit unit) { return static_cast<int>(unit); }

}  // namespace

// monotonicNanoseconds(): does not block. Seconds are widened before the
// multiplication so a 32-bit time_t cannot overflow it.
int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + static_cast<int64_t>(now.tv_nsec);
}

// convertDuration()
// Coarser: divides one step at a time, each step truncating, so the result is
// the same as converting unit by unit. Finer: multiplies, and saturates at
// the largest count instead of wrapping to a small, plausible-looking one.
uint64_t convertDuration(uint64_t value, tDurationUnit from, tDurationUnit to) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  for (int unit = unitIndex(from); unit < unitIndex(to); ++unit) {
    value /= kFactorToCoarser[unit];
  }
  for (int unit = unitIndex(from); unit > unitIndex(to); --unit) {
    const uint64_t factor = kFactorToCoarser[unit - 1];
    if (value > kMax / factor) return kMax;
    value *= factor;
  }
  return value;
}
