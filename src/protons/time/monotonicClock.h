// monotonicClock.h: the monotonic clock in nanoseconds and the duration
// units that elapsed time is converted between.
#pragma once

#include <cstdint>

// monotonicNanoseconds(): CLOCK_MONOTONIC as seconds * 1e9 + nanoseconds.
// Only differences between readings mean anything.
int64_t monotonicNanoseconds();

// Duration units, finest first. Adjacent units differ by 1000, 1000, 1000,
// 60 and 60.
enum class tDurationUnit { nanoseconds, microseconds, milliseconds, seconds, minutes, hours };

// convertDuration(): to a finer unit multiplies by every factor on the way;
// to a coarser one divides one step at a time, each division truncating.
uint64_t convertDuration(uint64_t value, tDurationUnit from, tDurationUnit to);
