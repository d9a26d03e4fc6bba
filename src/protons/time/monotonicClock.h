// monotonicClock.h: the monotonic clock in nanoseconds and the duration
// units that elapsed time is converted between.
#pragma once

#include <cstdint>
#include <ctime>

// monotonicNanoseconds(): CLOCK_MONOTONIC as seconds * 1e9 + nanoseconds.
// Only differences between readings mean anything.
int64_t monotonicNanoseconds();

// addMilliseconds(): `time` plus `milliseconds`, with the nanoseconds
// carried into seconds. Saturates at the last representable second (and
// 999999999 ns) instead of overflowing: a deadline that far out is never
// reached anyway. Never blocks.
timespec addMilliseconds(const timespec& time, uint32_t milliseconds);

// Duration units, finest first. Adjacent units differ by 1000, 1000, 1000,
// 60 and 60.
enum class tDurationUnit { nanoseconds, microseconds, milliseconds, seconds, minutes, hours };

// convertDuration(): to a finer unit multiplies by every factor on the way,
// saturating at the largest count instead of wrapping to a small,
// plausible-looking one; to a coarser one divides one step at a time, each
// division truncating, so the result is the same as converting unit by unit.
// Inline so that, with units known at the call, the divisions become
// multiplications: the region acquisition converts on every attempt.
constexpr uint64_t convertDuration(uint64_t value, tDurationUnit from, tDurationUnit to) {
  constexpr uint64_t kFactorToCoarser[] = {1000, 1000, 1000, 60, 60};  // indexed by the finer unit
  constexpr uint64_t kMax = ~uint64_t{0};
  for (int unit = static_cast<int>(from); unit < static_cast<int>(to); ++unit) {
    value /= kFactorToCoarser[unit];
  }
  for (int unit = static_cast<int>(from); unit > static_cast<int>(to); --unit) {
    const uint64_t factor = kFactorToCoarser[unit - 1];
    if (value > kMax / factor) return kMax;
    value *= factor;
  }
  return value;
}
