// vidazohx-demo: libViDazoHx at work against the simulated target.
//
// The program is the host: it links the host-runtime stand-in for the
// functions a hosting process provides, and the simulated lower library's
// control API to play the target's side. It opens a session on "sim0",
// exercises registers and an IRQ, then streams a target-to-host FIFO whose
// device thread fills it on its own, as a DMA engine would: once by copying
// into a host array and once through zero-copy regions lent by the library.
// For each path it prints the bytes copied between buffers on the host's
// side, this thread's CPU time per byte, the throughput and the ratio between
// the paths, and for regions the latency of one acquire + dispose cycle.
// Finally it shows a close put off while a region is out. It exits non-zero
// when any step does not answer as expected or the checksum of what arrived
// differs from the device's pattern.
//
//   vidazohx-demo [--elements N] [--chunk N]
#include <ViDazoHx/ViDazoHx.h>
#include <HostRuntime/HostRuntimeSim.h>
#include <ViDazo/ViDazoSim.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The simulator's default layout: FIFO 6 is target-to-host with unsigned
// 32-bit elements, which the library calls type code ViDazoHx_TypeU32.
constexpr uint32_t kFifo = 6;
constexpr uint64_t kSeed = 0x5EED0000u;
constexpr uint32_t kTimeoutMs = 2000;
constexpr uint32_t kScratchRegister = 0x100;
constexpr uint32_t kDemoIrq = 1u << 3;
// A deeper FIFO than the simulator's default, so that one call can move a
// large block and the device can fill ahead while the host works.
constexpr uint32_t kDemoFifoDepth = 1u << 16;
constexpr uint32_t kElementBytes = sizeof(uint32_t);

int failures = 0;

// The library names its own statuses; the simulator names those it answers
// and the library passes on.
const char* statusName(int32_t status) {
  const char* simulatorName = ViDazoSim_StatusText(status);
  return simulatorName != nullptr ? simulatorName : ViDazoHx_StatusText(status);
}

bool expectStatus(const char* what, int32_t status, int32_t expected = 0) {
  if (status == expected) {
    return true;
  }
  std::printf("  !! %s answered %" PRId32 " (%s), expected %" PRId32 " (%s)\n", what, status, statusName(status),
              expected, statusName(expected));
  ++failures;
  return false;
}

bool expectTrue(const char* what, bool condition) {
  if (!condition) {
    std::printf("  !! %s\n", what);
    ++failures;
  }
  return condition;
}

uint32_t parseCount(const char* text, const char* option) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0' || value == 0 || value > 0xFFFFFFFFul) {
    std::fprintf(stderr, "vidazohx-demo: %s needs a positive count, not '%s'\n", option, text);
    std::exit(2);
  }
  return static_cast<uint32_t>(value);
}

// CPU time of the calling thread: the host's own work, whatever the device
// thread does meanwhile.
double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

uint64_t checksum(const uint32_t* elements, uint32_t count) {
  uint64_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) sum += elements[i];
  return sum;
}

// The checksum the device's stream elements first..first+count-1 must have.
uint64_t expectedChecksum(uint64_t first, uint64_t count) {
  uint64_t sum = 0;
  for (uint64_t i = first; i < first + count; ++i) sum += ViDazoSim_GeneratorValue(ViDazoSim_TypeU32, kSeed, i);
  return sum;
}

// What one streaming path did and what it cost the host.
struct PathRun {
  explicit PathRun(const char* pathName) : name(pathName) {}
  const char* name;
  uint64_t elements = 0;
  uint32_t calls = 0;
  uint64_t bytesCopied = 0;  // between buffers on the host's side
  double wallSeconds = 0;
  double cpuSeconds = 0;
  uint64_t checksum = 0;
  std::vector<double> cycleSeconds;  // regions: one acquire + dispose each

  double cpuPerByte() const { return elements != 0 ? cpuSeconds / (elements * kElementBytes) : 0; }
  double throughput() const { return wallSeconds > 0 ? elements * kElementBytes / wallSeconds : 0; }
};

// A progress line on a terminal, for runs longer than a second.
class Progress {
 public:
  explicit Progress(const char* path) : path_(path), shown_(isatty(STDOUT_FILENO) != 0) {}
  ~Progress() {
    if (printed_) std::printf("\r\033[K");
  }
  void update(uint64_t done, uint64_t total) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    printed_ = true;
    std::printf("\r  %s: %3.0f%% of %" PRIu64 " elements", path_, 100.0 * done / total, total);
    std::fflush(stdout);
  }

 private:
  const char* path_;
  bool shown_;
  bool printed_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_ = start_;
};

// Copy path: the library resizes a host array and the lower library copies
// the elements into it; the host then checksums the array.
PathRun streamByCopy(uint32_t session, uint32_t elements, uint32_t chunk) {
  PathRun run("copy");
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, 0);
  if (!expectTrue("the host stand-in made no array", array != nullptr)) return run;
  Progress progress(run.name);
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = threadCpuSeconds();
  while (run.elements < elements) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(chunk, elements - run.elements));
    uint32_t remaining = 0;
    if (!expectStatus("ViDazoHx_ReadFifoScalar",
                      ViDazoHx_ReadFifoScalar(session, kFifo, count, ViDazoHx_TypeU32, 0, kTimeoutMs, array,
                                              &remaining))) {
      break;
    }
    ++run.calls;
    const auto* data = reinterpret_cast<const uint32_t*>(reinterpret_cast<const unsigned char*>(*array) +
                                                         HostRuntimeSim_DataOffset(ViDazoHx_TypeU32));
    run.checksum += checksum(data, count);
    run.bytesCopied += static_cast<uint64_t>(count) * kElementBytes;
    run.elements += count;
    progress.update(run.elements, elements);
  }
  run.cpuSeconds = threadCpuSeconds() - cpuStart;
  run.wallSeconds = secondsSince(start);
  HostRuntimeSim_FreeArray(array);
  return run;
}

// Zero-copy path: the library lends elements inside the simulator's DMA
// buffer as a host reference; the host checksums them in place, and
// disposing of the reference gives them back.
PathRun streamByRegions(uint32_t session, uint32_t elements, uint32_t chunk, bool* allInsideBuffer) {
  PathRun run("region");
  void* bufferBase = nullptr;
  uint32_t bufferBytes = 0;
  expectStatus("ViDazoSim_GetFifoBuffer", ViDazoSim_GetFifoBuffer(session, kFifo, &bufferBase, &bufferBytes));
  const auto* low = static_cast<const unsigned char*>(bufferBase);
  run.cycleSeconds.reserve(elements / chunk + 2);
  *allInsideBuffer = true;
  Progress progress(run.name);
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = threadCpuSeconds();
  while (run.elements < elements) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(chunk, elements - run.elements));
    uint32_t reference = 0, acquired = 0, remaining = 0;
    const auto cycleStart = std::chrono::steady_clock::now();
    if (!expectStatus("ViDazoHx_AcquireFifoReadRegionScalar",
                      ViDazoHx_AcquireFifoReadRegionScalar(session, kFifo, &reference, count, ViDazoHx_TypeU32, 0,
                                                           kTimeoutMs, &acquired, &remaining))) {
      break;
    }
    const auto cycleAcquired = std::chrono::steady_clock::now();
    ++run.calls;
    const ViDazoHx_DataRecord* record = HostRuntimeSim_ReferenceRecord(reference);
    // A run at the end of the ring buffer may be shorter than asked for.
    const bool recordOk = record != nullptr && record->elementCount == acquired &&
                          record->elementSize == kElementBytes && acquired > 0 && acquired <= count;
    if (recordOk) {
      const auto* first = static_cast<const unsigned char*>(record->elements);
      *allInsideBuffer = *allInsideBuffer && first >= low &&
                         first + static_cast<size_t>(acquired) * kElementBytes <= low + bufferBytes;
      run.checksum += checksum(static_cast<const uint32_t*>(record->elements), acquired);
    }
    const auto cycleDisposing = std::chrono::steady_clock::now();
    int32_t released = 0;
    expectStatus("HostRuntimeSim_DisposeReferenceEx", HostRuntimeSim_DisposeReferenceEx(reference, &released));
    // The cycle is the library's part: the acquire and the dispose, not the checksum between them.
    run.cycleSeconds.push_back(std::chrono::duration<double>(cycleAcquired - cycleStart).count() +
                               secondsSince(cycleDisposing));
    if (!expectStatus("release procedure", released) ||
        !expectTrue("data record does not describe the region", recordOk)) {
      break;
    }
    run.elements += acquired;
    progress.update(run.elements, elements);
  }
  run.cpuSeconds = threadCpuSeconds() - cpuStart;
  run.wallSeconds = secondsSince(start);
  return run;
}

void printPath(const PathRun& run) {
  std::printf("  %-7s %10" PRIu64 " bytes in %6u calls; copied on the host's side: %10" PRIu64
              " bytes; CPU %7.1f ps/byte; %8.1f MB/s\n",
              run.name, run.elements * kElementBytes, run.calls, run.bytesCopied, run.cpuPerByte() * 1e12,
              run.throughput() / 1e6);
}

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

// Streams the same device stream through both paths and prints what each cost.
void streamBothPaths(uint32_t session, uint32_t elements, uint32_t chunk) {
  std::printf("timed: each path's loop of library calls and the host's checksum of every element; CPU time is\n"
              "       this thread's own (the device fills the FIFO on a thread of its own); throughput is wall time\n");
  // One untimed chunk through each path first, so that neither pays for the
  // device thread's start or for first touches of the buffers.
  bool allInsideBuffer = false;
  const PathRun warmCopy = streamByCopy(session, chunk, chunk);
  const PathRun warmRegion = streamByRegions(session, chunk, chunk, &allInsideBuffer);
  const uint64_t warm = warmCopy.elements + warmRegion.elements;
  const uint64_t warmChecksum = warmCopy.checksum + warmRegion.checksum;
  const uint32_t warmResizes = HostRuntimeSim_CallCount("NumericArrayResize");
  const PathRun copy = streamByCopy(session, elements, chunk);
  const PathRun region = streamByRegions(session, elements, chunk, &allInsideBuffer);
  printPath(copy);
  printPath(region);
  std::printf("  (copy: the lower library copies into the host array, which the %u resizes left in place)\n",
              HostRuntimeSim_CallCount("NumericArrayResize") - warmResizes);
  if (region.cpuPerByte() > 0 && copy.throughput() > 0) {
    std::printf("  ratios: CPU per byte copy / region %.2fx (above 1: regions cost the host less), "
                "throughput region / copy %.2fx\n",
                copy.cpuPerByte() / region.cpuPerByte(), region.throughput() / copy.throughput());
  }
  std::printf("  region cycle (acquire + dispose, wall): median %.2f us, p99 %.2f us over %zu cycles\n",
              percentile(region.cycleSeconds, 0.5) * 1e6, percentile(region.cycleSeconds, 0.99) * 1e6,
              region.cycleSeconds.size());
  expectTrue("a lent region lies outside the FIFO's DMA buffer", allInsideBuffer);
  std::printf("  regions lie inside the FIFO's DMA buffer: %s\n", allInsideBuffer ? "yes (no copy made)" : "NO");
  const bool copyOk = warmChecksum + copy.checksum == expectedChecksum(0, warm + copy.elements);
  const bool regionOk = region.checksum == expectedChecksum(warm + copy.elements, region.elements);
  expectTrue("the copy path's checksum differs from the device's pattern", copyOk);
  expectTrue("the region path's checksum differs from the device's pattern", regionOk);
  std::printf("  checksums match the device's pattern: %s\n", copyOk && regionOk ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t elements = 1u << 22;
  uint32_t chunk = 16384;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if ((option == "--elements" || option == "--chunk") && i + 1 < argc) {
      ++i;
      (option == "--elements" ? elements : chunk) = parseCount(argv[i], option.c_str());
    } else {
      std::fprintf(stderr, "usage: vidazohx-demo [--elements N] [--chunk N]\n");
      return 2;
    }
  }
  if (chunk > kDemoFifoDepth) {
    std::fprintf(stderr, "vidazohx-demo: --chunk is at most %u, the FIFO's depth\n", kDemoFifoDepth);
    return 2;
  }

  std::printf("vidazohx-demo: libViDazoHx driving the simulated target\n");

  uint32_t session = 0;
  if (!expectStatus("ViDazoHx_Open",
                    ViDazoHx_Open("demo.bitfile", "demo-signature", "sim0", 0, &session))) {
    return EXIT_FAILURE;
  }
  std::printf("open \"sim0\": session %" PRIu32 ", %u session(s) open in the simulator\n", session,
              ViDazoSim_OpenSessionCount());

  // Registers: what is written reads back, in every width the host uses.
  uint32_t value = 0;
  expectStatus("ViDazoHx_Write32", ViDazoHx_Write32(session, kScratchRegister, 0xC0FFEE42u));
  expectStatus("ViDazoHx_Read32", ViDazoHx_Read32(session, kScratchRegister, &value));
  uint16_t low16 = 0;
  expectStatus("ViDazoHx_Read16", ViDazoHx_Read16(session, kScratchRegister, &low16));
  std::printf("registers: wrote 0x%08X at 0x%X, read back 0x%08" PRIX32 " (16-bit read 0x%04X)\n", 0xC0FFEE42u,
              kScratchRegister, value, low16);
  expectTrue("register did not read back", value == 0xC0FFEE42u);

  // IRQ: writing the doorbell register raises the IRQs whose bits it holds.
  ViDazoHx_IrqContext context = nullptr;
  uint32_t asserted = 0;
  uint8_t timedOut = 1;
  expectStatus("ViDazoHx_Write32 (doorbell)", ViDazoHx_Write32(session, ViDazoSim_DoorbellOffset, kDemoIrq));
  expectStatus("ViDazoHx_WaitOnIrqs",
               ViDazoHx_WaitOnIrqs(session, &context, kDemoIrq, kTimeoutMs, &asserted, &timedOut));
  expectStatus("ViDazoHx_AcknowledgeIrqs", ViDazoHx_AcknowledgeIrqs(session, asserted));
  std::printf("irq: doorbell rang, wait saw 0x%08" PRIX32 " (timed out: %s), acknowledged\n", asserted,
              timedOut ? "yes" : "no");
  expectTrue("the doorbell IRQ was not seen", asserted == kDemoIrq && !timedOut);

  // Streaming: the FIFO's device thread keeps it filled with a checkable
  // pattern; both paths continue the same stream. The simulator's journal
  // is switched off so that it does not weigh on the figures.
  uint32_t depth = 0;
  ViDazoSim_SetJournalEnabled(0);
  // A real host leaves an array of the right size where it is; the stand-in
  // would otherwise move it on every read and charge the copy path for that.
  HostRuntimeSim_SetResizeInPlace(1);
  expectStatus("ViDazoHx_ConfigureFifo2", ViDazoHx_ConfigureFifo2(session, kFifo, kDemoFifoDepth, &depth));
  expectStatus("ViDazoHx_StartFifo", ViDazoHx_StartFifo(session, kFifo));
  expectStatus("ViDazoSim_StartDevice", ViDazoSim_StartDevice(session, kFifo, kSeed, 0));
  std::printf("fifo %u (target-to-host, U32, depth %" PRIu32 ", device mode): %" PRIu32 " elements per path, %" PRIu32
              " per call\n",
              kFifo, depth, elements, chunk);
  streamBothPaths(session, elements, chunk);

  // A close while a region is out is put off until the host gives it back.
  uint32_t reference = 0;
  uint32_t acquired = 0;
  expectStatus("ViDazoHx_AcquireFifoReadRegionScalar",
               ViDazoHx_AcquireFifoReadRegionScalar(session, kFifo, &reference, 16, ViDazoHx_TypeU32, 0, kTimeoutMs,
                                                    &acquired, nullptr));
  const int32_t closeStatus = ViDazoHx_Close(session, 0);
  std::printf("close with a region out: %" PRId32 " (%s), %u session(s) open\n", closeStatus,
              statusName(closeStatus), ViDazoSim_OpenSessionCount());
  expectStatus("ViDazoHx_Close with a region out", closeStatus, ViDazoHx_StatusRegionsOutstanding);
  expectStatus("HostRuntimeSim_DisposeReference", HostRuntimeSim_DisposeReference(reference));
  std::printf("region given back: the close completed, %u session(s) open\n", ViDazoSim_OpenSessionCount());
  expectTrue("the put-off close did not complete", ViDazoSim_OpenSessionCount() == 0);

  std::printf("%s\n", failures == 0 ? "vidazohx-demo: done" : "vidazohx-demo: FAILED");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
