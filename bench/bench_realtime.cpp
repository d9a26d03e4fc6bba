// -----------------------------------------------------------------------------
// File: bench/bench_realtime.cpp
// -----------------------------------------------------------------------------
//
// What an engineer deploying the library in a real-time control loop asks
// before anything else, measured and written as JSON for the performance
// report (scripts/bench-report.py):
//
// - region-cycle latency: p50, p99, p99.9 and the maximum of one acquire +
//   dispose, one thread, then two threads on one FIFO and on two FIFOs (in
//   two sessions), each thread under SCHED_FIFO when the machine allows it;
// - system calls and allocations per steady cycle (the steady-cycle check of
//   tests/reliability, run here with more cycles);
// - first-use costs: the allocations and time of a FIFO's start and first
//   cycle, which build its record and spare queue node;
// - how long the host's cleanup takes to end a blocked acquisition with
//   HostCancelled, for an infinite and a long finite wait;
// - how long an unrelated session's streaming stalls behind a close that
//   waits for an acquisition on the closed session.
//
//   bench_realtime [--quick] <output.json>
//
// --quick takes fewer samples and runs each slow figure (cancellation,
// stall) once. Not a Google Benchmark program: tail latencies need every
// sample, and the slow figures are single events. Run in a Release build.
#include <pthread.h>
#include <sched.h>
#include <sys/utsname.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "benchSupport.h"
#include "failPoint.h"
#include "steadyCycle.h"

namespace {

using benchsupport::kFifo;

constexpr uint32_t kCycleElements = 16;
constexpr uint32_t kCycleTimeout = 1000;
constexpr uint32_t kSecondFifo = 5;  // I32, target-to-host
constexpr int kFifoPriority = 50;

int64_t nowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

bool quick = false;
bool realTimeAllowed = false;
std::string schedulingNote;  // how the latency threads were scheduled

// Whether a thread may run under SCHED_FIFO here; asked once, on a thread of
// its own, with the reason kept when it may not.
void probeRealTime() {
  std::thread([] {
    sched_param parameter{};
    parameter.sched_priority = kFifoPriority;
    const int refused = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
    realTimeAllowed = refused == 0;
    schedulingNote = refused == 0 ? "SCHED_FIFO, priority " + std::to_string(kFifoPriority)
                                  : std::string("SCHED_OTHER: SCHED_FIFO refused (") + std::strerror(refused) + ")";
  }).join();
}

void becomeRealTime() {
  if (!realTimeAllowed) return;
  sched_param parameter{};
  parameter.sched_priority = kFifoPriority;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
}

int32_t regionCycle(uint32_t session, uint32_t fifo, int32_t typeCode) {
  uint32_t reference = 0, acquired = 0, remaining = 0;
  int32_t status = ViDazoHx_AcquireFifoReadRegionScalar(session, fifo, &reference, kCycleElements, typeCode, 0,
                                                        kCycleTimeout, &acquired, &remaining);
  return status == 0 ? HostRuntimeSim_DisposeReference(reference) : status;
}

struct tLatencyThread {
  uint32_t session;
  uint32_t fifo;
  int32_t typeCode;
  std::vector<int64_t> samples;
  int32_t failure = 0;
};

void timeCycles(tLatencyThread& thread, size_t cycles) {
  becomeRealTime();
  thread.samples.resize(cycles);  // before timing: the loop itself must not allocate
  for (size_t i = 0; i < cycles; ++i) {
    const int64_t start = nowNs();
    const int32_t status = regionCycle(thread.session, thread.fifo, thread.typeCode);
    thread.samples[i] = nowNs() - start;
    if (status != 0) {
      thread.failure = status;
      thread.samples.resize(i);
      return;
    }
  }
}

std::string percentiles(std::vector<int64_t> samples) {
  if (samples.empty()) return "null";
  std::sort(samples.begin(), samples.end());
  auto at = [&samples](double share) {
    return samples[std::min(samples.size() - 1, static_cast<size_t>(share * static_cast<double>(samples.size())))];
  };
  std::ostringstream out;
  out << "{\"samples\": " << samples.size() << ", \"p50\": " << at(0.5) << ", \"p99\": " << at(0.99)
      << ", \"p999\": " << at(0.999) << ", \"max\": " << samples.back() << "}";
  return out.str();
}

// One latency figure: `threads` threads, each on (session, FIFO) of its own
// entry; the samples of all threads pooled.
std::string latency(const std::vector<tLatencyThread>& layout, size_t cycles) {
  std::vector<tLatencyThread> threads = layout;
  std::vector<std::thread> running;
  for (auto& thread : threads) running.emplace_back([&thread, cycles] { timeCycles(thread, cycles); });
  for (auto& thread : running) thread.join();
  std::vector<int64_t> pooled;
  for (const auto& thread : threads) {
    if (thread.failure != 0) std::fprintf(stderr, "bench_realtime: a cycle failed with %d\n", thread.failure);
    pooled.insert(pooled.end(), thread.samples.begin(), thread.samples.end());
  }
  return percentiles(pooled);
}

std::string latencyFigures() {
  const size_t cycles = quick ? 20000 : 200000;
  benchsupport::resetStandIns();
  const uint32_t first = benchsupport::openOn("sim0"), second = benchsupport::openOn("sim1");
  benchsupport::startGenerating(first, kFifo, 1024);
  benchsupport::startGenerating(second, kSecondFifo, 1024);
  // Warm-up: records, spare nodes and the stand-ins' tables exist before timing.
  for (int i = 0; i < 64; ++i) {
    regionCycle(first, kFifo, ViDazoHx_TypeU32);
    regionCycle(second, kSecondFifo, ViDazoHx_TypeI32);
  }
  const tLatencyThread one{first, kFifo, ViDazoHx_TypeU32, {}};
  const tLatencyThread other{second, kSecondFifo, ViDazoHx_TypeI32, {}};
  std::ostringstream out;
  out << "{\"cycles_per_thread\": " << cycles << ", \"one_thread\": " << latency({one}, cycles)
      << ", \"two_threads_one_fifo\": " << latency({one, one}, cycles)
      << ", \"two_threads_two_fifos\": " << latency({one, other}, cycles) << "}";
  ViDazoHx_Close(first, 0);
  ViDazoHx_Close(second, 0);
  return out.str();
}

std::string steadyFigures() {
  const uint64_t cycles = quick ? 10000 : 100000;
  std::ostringstream out;
  out << "[";
  const char* separator = "";
  for (uint32_t timeout : {0u, kCycleTimeout, ViDazoHx_InfiniteTimeout}) {
    const reliability::tSteadyVerdict verdict = reliability::checkSteadyCycles(timeout, cycles);
    out << separator << "{\"timeout\": " << timeout << ", \"cycles\": " << verdict.cyclesDone
        << ", \"refused\": " << (verdict.refused ? "true" : "false") << ", \"clean\": "
        << (verdict.clean() ? "true" : "false") << ", \"allocations\": " << verdict.allocations
        << ", \"verdict\": \"" << verdict.describe() << "\"}";
    separator = ", ";
  }
  return out.str() + "]";
}

// First use of a FIFO, in fresh sessions: its start through the library
// (which builds the FIFO record), its first region cycle (which makes the
// spare queue node), and a later cycle for comparison.
std::string firstUseFigures() {
  const int sessions = quick ? 5 : 50;
  std::vector<int64_t> startNs, firstNs, steadyNs;
  uint64_t startAllocations = 0, firstAllocations = 0, steadyAllocations = 0;
  benchsupport::resetStandIns();
  for (int i = 0; i < sessions; ++i) {
    const uint32_t session = benchsupport::openOn("sim0");
    uint32_t depth = 0;
    ViDazoHx_ConfigureFifo2(session, kFifo, 1024, &depth);
    auto measure = [](auto&& step, std::vector<int64_t>& times, uint64_t& allocations) {
      reliability::LibraryCall span;
      const uint64_t before = reliability::allocationsCounted();
      const int64_t start = nowNs();
      step();
      times.push_back(nowNs() - start);
      allocations = reliability::allocationsCounted() - before;
    };
    measure([&] { ViDazoHx_StartFifo(session, kFifo); }, startNs, startAllocations);
    ViDazoSim_StartGenerator(session, kFifo, 0, ViDazoSim_EndlessStream);
    measure([&] { regionCycle(session, kFifo, ViDazoHx_TypeU32); }, firstNs, firstAllocations);
    for (int warm = 0; warm < 16; ++warm) regionCycle(session, kFifo, ViDazoHx_TypeU32);
    measure([&] { regionCycle(session, kFifo, ViDazoHx_TypeU32); }, steadyNs, steadyAllocations);
    ViDazoHx_Close(session, 0);
  }
  std::ostringstream out;
  out << "{\"sessions\": " << sessions << ", \"start\": {\"allocations\": " << startAllocations
      << ", \"ns\": " << percentiles(startNs) << "}, \"first_cycle\": {\"allocations\": " << firstAllocations
      << ", \"ns\": " << percentiles(firstNs) << "}, \"steady_cycle\": {\"allocations\": " << steadyAllocations
      << ", \"ns\": " << percentiles(steadyNs) << "}}";
  return out.str();
}

// Opens a session whose FIFO is started but empty: an acquisition on it waits.
uint32_t openStarvedSession(const char* resource) {
  const uint32_t session = benchsupport::openOn(resource);
  uint32_t depth = 0;
  ViDazoHx_ConfigureFifo2(session, kFifo, 1024, &depth);
  ViDazoHx_StartFifo(session, kFifo);
  return session;
}

struct tWaitingAcquisition {
  std::atomic<int64_t> endedNs{0};
  int32_t status = 0;
  std::thread thread;

  tWaitingAcquisition(uint32_t session, uint32_t timeout) {
    thread = std::thread([this, session, timeout] {
      uint32_t reference = 0, acquired = 0, remaining = 0;
      status = ViDazoHx_AcquireFifoReadRegionScalar(session, kFifo, &reference, kCycleElements, ViDazoHx_TypeU32, 0,
                                                    timeout, &acquired, &remaining);
      endedNs.store(nowNs());
    });
  }
  // Blocks until the acquisition waits inside the lower library (10 s at most).
  bool waiting() const { return ViDazoSim_WaitForBlockedCalls(1, 10000) == 0; }
};

// The host's cleanup against an acquisition that waits on an empty FIFO. The
// cleanup comes just after the acquisition began its wait in the lower
// library, the worst moment: the library sees the cleanup only between its
// waits.
std::string cancellation(uint32_t timeout, int samples) {
  std::vector<int64_t> times;
  std::ostringstream statuses;
  for (int i = 0; i < samples; ++i) {
    benchsupport::resetStandIns();
    const uint32_t session = openStarvedSession("sim0");
    tWaitingAcquisition acquisition(session, timeout);
    const bool waiting = acquisition.waiting();
    const int64_t start = nowNs();
    HostRuntimeSim_RunCleanup();  // also closes the session
    acquisition.thread.join();
    if (waiting) times.push_back(acquisition.endedNs.load() - start);
    statuses << (i ? ", " : "") << acquisition.status;
  }
  std::ostringstream out;
  out << "{\"timeout\": " << timeout << ", \"ns\": " << percentiles(times) << ", \"statuses\": ["
      << statuses.str() << "]}";
  return out.str();
}

// An unrelated session streams region cycles while another session is
// closed whose FIFO has an acquisition waiting with a finite timeout; the
// longest gap between two of the streaming cycles that ended after the close
// began.
std::string stallFigures(uint32_t timeout, int samples) {
  std::vector<int64_t> stalls, closes;
  for (int i = 0; i < samples; ++i) {
    benchsupport::resetStandIns();
    const uint32_t streaming = benchsupport::openOn("sim1");
    benchsupport::startGenerating(streaming, kFifo, 1024);
    const uint32_t closed = openStarvedSession("sim0");
    std::atomic<bool> stop{false};
    std::atomic<int64_t> closeStart{INT64_MAX};
    int64_t longest = 0;
    std::thread stream([&] {
      int64_t last = nowNs();
      while (!stop.load()) {
        regionCycle(streaming, kFifo, ViDazoHx_TypeU32);
        const int64_t now = nowNs();
        if (now > closeStart.load()) longest = std::max(longest, now - last);
        last = now;
      }
    });
    tWaitingAcquisition acquisition(closed, timeout);
    acquisition.waiting();
    closeStart.store(nowNs());
    ViDazoHx_Close(closed, 0);
    closes.push_back(nowNs() - closeStart.load());
    acquisition.thread.join();
    // A few more cycles after the close, so that the stalled one has ended.
    const int64_t settle = nowNs() + 20000000;
    while (nowNs() < settle) std::this_thread::yield();
    stop.store(true);
    stream.join();
    stalls.push_back(longest);
    ViDazoHx_Close(streaming, 0);
  }
  std::ostringstream out;
  out << "{\"timeout\": " << timeout << ", \"stall_ns\": " << percentiles(stalls)
      << ", \"close_ns\": " << percentiles(closes) << "}";
  return out.str();
}

std::string cpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

// Whether the CPU says it runs under a hypervisor (x86 only says so).
bool virtualMachine() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("flags", 0) == 0) return line.find(" hypervisor") != std::string::npos;
  }
  return false;
}

std::string machine() {
  utsname name{};
  uname(&name);
  double load[1] = {0};
  getloadavg(load, 1);
  char date[32] = "";
  const time_t now = time(nullptr);
  tm utc{};
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&now, &utc));
  std::ostringstream out;
  out << "{\"date\": \"" << date << "\", \"cpu\": \"" << cpuModel() << "\", \"cpus\": " << std::thread::hardware_concurrency()
      << ", \"arch\": \"" << name.machine << "\", \"kernel\": \"" << name.release << "\", \"load\": " << load[0]
      << ", \"virtual\": " << (virtualMachine() ? "true" : "false") << "}";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  int argument = 1;
  if (argument < argc && std::strcmp(argv[argument], "--quick") == 0) {
    quick = true;
    ++argument;
  }
  if (argument + 1 != argc) {
    std::fprintf(stderr, "usage: bench_realtime [--quick] <output.json>\n");
    return 2;
  }
  probeRealTime();  // also makes the process multi-threaded, as a host's always is
  const int64_t start = nowNs();
  std::ostringstream json;
  json << "{\"machine\": " << machine() << ",\n \"quick\": " << (quick ? "true" : "false");
  json << ",\n \"steady\": " << steadyFigures();
  json << ",\n \"first_use\": " << firstUseFigures();
  json << ",\n \"latency\": " << latencyFigures();
  json << ",\n \"scheduling\": \"" << schedulingNote << "\"";
  json << ",\n \"cancel_infinite\": " << cancellation(ViDazoHx_InfiniteTimeout, quick ? 1 : 3);
  json << ",\n \"cancel_finite\": " << cancellation(6000, quick ? 1 : 3);
  json << ",\n \"stall\": " << stallFigures(quick ? 300 : 1000, quick ? 1 : 3);
  json << ",\n \"elapsed_s\": " << (nowNs() - start) / 1000000000 << "}\n";
  std::ofstream(argv[argument]) << json.str();
  std::fputs(json.str().c_str(), stdout);
  return 0;
}
