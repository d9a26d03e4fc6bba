// steadyCycle.cpp: the steady-cycle checker (see steadyCycle.h). The filter
// is raw BPF: it checks the system call's architecture first, so that a call
// through another ABI cannot pass under a number that means something else
// there, then allows only the listed numbers and traps everything else. The
// trap's handler stores the number in memory shared with the parent and ends
// the child through exit_group, the one call still allowed.

#include "steadyCycle.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrvSim.h"
#include "failPoint.h"
#include "protons/seam/seam.h"

#if defined(__x86_64__)
#define STEADY_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__i386__)
#define STEADY_AUDIT_ARCH AUDIT_ARCH_I386
#elif defined(__arm__)
#define STEADY_AUDIT_ARCH AUDIT_ARCH_ARM
#elif defined(__aarch64__)
#define STEADY_AUDIT_ARCH AUDIT_ARCH_AARCH64
#else
#error "steadyCycle.cpp: no audit architecture for this machine"
#endif

namespace reliability {
namespace {

constexpr uint32_t kWriteFifo = 15;  // host-to-target U32, looped back into
constexpr uint32_t kReadFifo = 6;    // target-to-host U32
constexpr uint32_t kElements = 16;
constexpr uint64_t kWarmUpCycles = 64;
constexpr unsigned kChildSeconds = 60;
constexpr int kExitCaught = 3;
constexpr int kExitRefused = 4;

// Written by the child, read by the parent after the child has ended.
struct tShared {
  long systemCall;
  uint64_t allocations;
  uint64_t cyclesDone;
  int32_t failedStatus;
  int refusedErrno;
};

tShared* shared = nullptr;
std::atomic<tMisbehaviour> pendingMisbehaviour{tMisbehaviour::none};

void onTrappedCall(int, siginfo_t* info, void*) {
  shared->systemCall = info->si_syscall;
  _exit(kExitCaught);
}

// Once, at the seam before the lower acquisition: the fault a negative case
// plants for the checker to find.
void misbehave(tSeam seam) {
  if (seam != tSeam::acquireBeforeLower) return;
  switch (pendingMisbehaviour.exchange(tMisbehaviour::none)) {
    case tMisbehaviour::systemCall:
      syscall(SYS_getppid);
      break;
    case tMisbehaviour::allocation: {
      void* volatile memory = std::malloc(16);  // volatile: the pair must not be optimised away
      std::free(memory);
      break;
    }
    case tMisbehaviour::none:
      break;
  }
}

int32_t regionCycle(uint32_t session, uint32_t timeout) {
  uint32_t reference = 0, acquired = 0, remaining = 0;
  int32_t status = ViDazoHx_AcquireFifoWriteRegionScalar(session, kWriteFifo, &reference, kElements, ViDazoHx_TypeU32,
                                                         0, timeout, &acquired, &remaining);
  if (status == 0) status = HostRuntimeSim_DisposeReference(reference);
  if (status == 0) {
    status = ViDazoHx_AcquireFifoReadRegionScalar(session, kReadFifo, &reference, kElements, ViDazoHx_TypeU32, 0,
                                                  timeout, &acquired, &remaining);
  }
  if (status == 0) status = HostRuntimeSim_DisposeReference(reference);
  return status;
}

uint32_t openLoopedBackSession() {
  ViDazoSim_Reset();
  VoKelSrvSim_Reset();
  HostRuntimeSim_Reset();
  ViDazoSim_SetJournalEnabled(0);
  VoKelSrvSim_JournalEnable(0);
  uint32_t session = 0, depth = 0;
  if (ViDazoHx_Open(nullptr, nullptr, "sim0", 0, &session) != 0 ||
      ViDazoHx_ConfigureFifo2(session, kWriteFifo, 1024, &depth) != 0 ||
      ViDazoHx_ConfigureFifo2(session, kReadFifo, 1024, &depth) != 0 ||
      ViDazoSim_SetLoopback(session, kWriteFifo, kReadFifo) != 0 || ViDazoHx_StartFifo(session, kWriteFifo) != 0 ||
      ViDazoHx_StartFifo(session, kReadFifo) != 0) {
    return 0;
  }
  return session;
}

std::vector<sock_filter> filterAllowing(bool clockReads) {
  std::vector<sock_filter> program = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, STEADY_AUDIT_ARCH, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
  };
  auto allow = [&program](long number) {
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(number), 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  };
  allow(__NR_exit_group);
  if (clockReads) {
    allow(__NR_clock_gettime);
#ifdef __NR_clock_gettime64
    allow(__NR_clock_gettime64);  // 32-bit machines with 64-bit time
#endif
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP));
  return program;
}

[[noreturn]] void runChild(uint32_t timeout, uint64_t cycles, tMisbehaviour misbehaviour) {
  alarm(kChildSeconds);  // the parent's wait is bounded by this
  const uint32_t session = openLoopedBackSession();
  if (session == 0) {
    shared->failedStatus = -1;
    _exit(0);
  }
  // Warm-up: the FIFO records, their spare queue nodes and the stand-ins'
  // tables are made here, as a host's first cycles make them.
  for (uint64_t i = 0; i < kWarmUpCycles; ++i) {
    if (int32_t status = regionCycle(session, timeout); status != 0) {
      shared->failedStatus = status;
      _exit(0);
    }
  }
  seamHook.store(&misbehave);
  pendingMisbehaviour.store(misbehaviour);

  std::vector<sock_filter> program = filterAllowing(timeout != 0 && timeout != ViDazoHx_InfiniteTimeout);
  sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  struct sigaction trap {};
  trap.sa_sigaction = &onTrappedCall;
  trap.sa_flags = SA_SIGINFO;
  if (sigaction(SIGSYS, &trap, nullptr) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
    shared->refusedErrno = errno;
    _exit(kExitRefused);
  }

  {
    LibraryCall span;  // every allocation of the library's objects from here on is counted
    const uint64_t before = allocationsCounted();
    for (uint64_t i = 0; i < cycles && shared->failedStatus == 0; ++i) {
      shared->failedStatus = regionCycle(session, timeout);
      shared->cyclesDone = i + 1;
    }
    shared->allocations = allocationsCounted() - before;
  }
  _exit(0);
}

}  // namespace

std::string tSteadyVerdict::describe() const {
  if (refused) return "seccomp filter refused: " + refusal;
  std::string text = std::to_string(cyclesDone) + " cycles, " + std::to_string(allocations) + " allocations";
  if (systemCall >= 0) text += ", system call " + systemCallName(systemCall) + " caught";
  if (failedStatus != 0) text += ", a cycle failed with " + std::to_string(failedStatus);
  if (!ending.empty()) text += ", " + ending;
  return text;
}

std::string systemCallName(long number) {
  static const struct {
    long number;
    const char* name;
  } kNames[] = {
      {SYS_getppid, "getppid"}, {SYS_futex, "futex"},     {SYS_clock_gettime, "clock_gettime"},
      {SYS_brk, "brk"},         {SYS_write, "write"},     {SYS_gettid, "gettid"},
      {SYS_madvise, "madvise"}, {SYS_sched_yield, "sched_yield"},
#ifdef SYS_mmap
      {SYS_mmap, "mmap"},
#endif
#ifdef SYS_mmap2
      {SYS_mmap2, "mmap2"},
#endif
#ifdef SYS_clock_gettime64
      {SYS_clock_gettime64, "clock_gettime64"},
#endif
#ifdef SYS_futex_time64
      {SYS_futex_time64, "futex_time64"},
#endif
  };
  for (const auto& entry : kNames) {
    if (entry.number == number) return std::string(entry.name) + " (" + std::to_string(number) + ")";
  }
  return "number " + std::to_string(number);
}

tSteadyVerdict checkSteadyCycles(uint32_t timeout, uint64_t cycles, tMisbehaviour misbehaviour) {
  tSteadyVerdict verdict;
  void* memory = mmap(nullptr, sizeof(tShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    verdict.ending = "no shared memory";
    return verdict;
  }
  shared = new (memory) tShared{-1, 0, 0, 0, 0};
  const pid_t child = fork();
  if (child == 0) runChild(timeout, cycles, misbehaviour);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    verdict.ending = "the child could not be started or waited for";
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == kExitRefused) {
    verdict.refused = true;
    verdict.refusal = std::strerror(shared->refusedErrno);
  } else if (WIFSIGNALED(status)) {
    verdict.ending = std::string("killed by signal ") + strsignal(WTERMSIG(status));
  } else if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != kExitCaught)) {
    verdict.ending = "exited with " + std::to_string(WEXITSTATUS(status));
  }
  verdict.systemCall = shared->systemCall;
  verdict.allocations = shared->allocations;
  verdict.cyclesDone = shared->cyclesDone;
  verdict.failedStatus = shared->failedStatus;
  munmap(memory, sizeof(tShared));
  shared = nullptr;
  return verdict;
}

}  // namespace reliability
