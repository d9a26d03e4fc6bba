// steadyCycle.h: runs steady region cycles in a forked child that a seccomp
// filter allows no system call but exit_group (and, at a finite timeout, the
// clock reads, which are system calls on machines without a vDSO clock), and
// counts the library's allocations over the same cycles with failPoint's
// wrappers. A real-time host calls the region cycle from its control loop,
// where a system call or an allocation is a latency it cannot bound.
//
// One cycle writes a region to a host-to-target FIFO looped back into a
// target-to-host FIFO, disposes of it, then reads a region from that FIFO and
// disposes of it, so the library's read and write paths and the stand-ins'
// work all run under the filter.
#pragma once

#include <cstdint>
#include <string>

namespace reliability {

// What the child did; `refused` when the kernel (or an emulator) refused the
// filter, and then nothing else is meaningful.
struct tSteadyVerdict {
  bool refused = false;
  std::string refusal;     // why, when refused
  long systemCall = -1;    // the number of the first system call the filter caught, or -1
  uint64_t allocations = 0;
  uint64_t cyclesDone = 0;
  int32_t failedStatus = 0;  // the status of a cycle that failed, 0 when none did
  std::string ending;        // how the child ended, when it did not end as planned

  bool clean() const { return !refused && systemCall < 0 && allocations == 0 && failedStatus == 0 && ending.empty(); }
  std::string describe() const;
};

// What a hook at the seam before the lower acquisition does once, in the
// checker's negative cases: nothing, one system call, or one allocation.
enum class tMisbehaviour { none, systemCall, allocation };

// Forks, warms up, installs the filter and runs `cycles` cycles at `timeout`.
// Bounded: the child is killed by an alarm after 60 s.
tSteadyVerdict checkSteadyCycles(uint32_t timeout, uint64_t cycles, tMisbehaviour misbehaviour = tMisbehaviour::none);

// The name of system call `number` on this machine, or its number.
std::string systemCallName(long number);

}  // namespace reliability
