// vidazohx-demo: libViDazoHx at work against the simulated target.
//
// The program is the host: it links the host-runtime stand-in for the
// functions a hosting process provides, and the simulated lower library's
// control API to play the target's side (a generator feeding a FIFO). It
// opens a session on "sim0", exercises registers and an IRQ, streams a
// target-to-host FIFO once by copying into a host array and once through
// zero-copy regions lent by the library, shows a close put off while a
// region is out, and prints what it measured. It exits non-zero when any
// step does not answer as expected or any element differs from the
// generator's pattern.
//
//   vidazohx-demo [--elements N] [--chunk N]
#include <ViDazoHx/ViDazoHx.h>
#include <HostRuntime/HostRuntimeSim.h>
#include <ViDazo/ViDazoSim.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The simulator's default layout: FIFO 6 is target-to-host with unsigned
// 32-bit elements, which the library calls type code ViDazoHx_TypeU32.
constexpr uint32_t kFifo = 6;
constexpr uint64_t kSeed = 0x5EED0000u;
constexpr uint32_t kTimeoutMs = 2000;
constexpr uint32_t kScratchRegister = 0x100;
constexpr uint32_t kDemoIrq = 1u << 3;
// A deeper FIFO than the simulator's default, so that one call can move a
// large block: the larger the block, the more a copy costs and a loan saves.
constexpr uint32_t kDemoFifoDepth = 1u << 16;

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

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void printRate(const char* path, uint64_t elements, uint32_t calls, double seconds) {
  const double mib = static_cast<double>(elements) * sizeof(uint32_t) / (1024.0 * 1024.0);
  std::printf("  %-10s %9" PRIu64 " elements in %6u calls, %8.3f ms, %9.1f MiB/s\n", path, elements, calls,
              seconds * 1e3, seconds > 0 ? mib / seconds : 0.0);
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

// Copy path: the library resizes a host array and reads into it in place.
uint64_t streamByCopy(uint32_t session, uint32_t elements, uint32_t chunk, uint64_t streamIndex) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, 0);
  if (!expectTrue("the host stand-in made no array", array != nullptr)) {
    return streamIndex;
  }
  uint32_t calls = 0;
  uint64_t done = 0;
  const auto start = std::chrono::steady_clock::now();
  while (done < elements) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(chunk, elements - done));
    uint32_t remaining = 0;
    if (!expectStatus("ViDazoHx_ReadFifoScalar",
                      ViDazoHx_ReadFifoScalar(session, kFifo, count, ViDazoHx_TypeU32, 0, kTimeoutMs, array,
                                              &remaining))) {
      break;
    }
    ++calls;
    HostRuntimeSim_ArrayInfo info{};
    HostRuntimeSim_GetArrayInfo(array, &info);
    uint32_t mismatch = 0;
    if (!expectTrue("array count differs from the elements read", info.count == static_cast<int32_t>(count)) ||
        !expectStatus("pattern check of copied elements",
                      ViDazoSim_CheckGenerated(ViDazoSim_TypeU32, kSeed, streamIndex, info.elements, count,
                                               &mismatch))) {
      break;
    }
    streamIndex += count;
    done += count;
  }
  printRate("copy", done, calls, secondsSince(start));
  HostRuntimeSim_FreeArray(array);
  return streamIndex;
}

// Zero-copy path: the library lends elements inside the simulator's DMA
// buffer as a host reference; disposing of the reference gives them back.
uint64_t streamByRegions(uint32_t session, uint32_t elements, uint32_t chunk, uint64_t streamIndex) {
  void* bufferBase = nullptr;
  uint32_t bufferBytes = 0;
  expectStatus("ViDazoSim_GetFifoBuffer", ViDazoSim_GetFifoBuffer(session, kFifo, &bufferBase, &bufferBytes));
  const auto* low = static_cast<const unsigned char*>(bufferBase);

  uint32_t calls = 0;
  uint64_t done = 0;
  bool allInsideBuffer = true;
  const auto start = std::chrono::steady_clock::now();
  while (done < elements) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(chunk, elements - done));
    uint32_t reference = 0;
    uint32_t acquired = 0;
    uint32_t remaining = 0;
    if (!expectStatus("ViDazoHx_AcquireFifoReadRegionScalar",
                      ViDazoHx_AcquireFifoReadRegionScalar(session, kFifo, &reference, count, ViDazoHx_TypeU32, 0,
                                                           kTimeoutMs, &acquired, &remaining))) {
      break;
    }
    ++calls;
    const ViDazoHx_DataRecord* record = HostRuntimeSim_ReferenceRecord(reference);
    if (!expectTrue("no data record for the lent region", record != nullptr)) {
      break;
    }
    // A run at the end of the ring buffer may be shorter than asked for.
    const bool recordOk = record->elementCount == acquired && record->elementSize == sizeof(uint32_t) &&
                          acquired > 0 && acquired <= count;
    const auto* first = static_cast<const unsigned char*>(record->elements);
    allInsideBuffer = allInsideBuffer && first >= low &&
                      first + static_cast<size_t>(acquired) * sizeof(uint32_t) <= low + bufferBytes;
    uint32_t mismatch = 0;
    const int32_t check = recordOk ? ViDazoSim_CheckGenerated(ViDazoSim_TypeU32, kSeed, streamIndex,
                                                              record->elements, acquired, &mismatch)
                                   : 0;
    int32_t released = 0;
    expectStatus("HostRuntimeSim_DisposeReferenceEx", HostRuntimeSim_DisposeReferenceEx(reference, &released));
    expectStatus("release procedure", released);
    if (!expectTrue("data record does not describe the region", recordOk) ||
        !expectStatus("pattern check of lent elements", check)) {
      break;
    }
    streamIndex += acquired;
    done += acquired;
  }
  printRate("zero-copy", done, calls, secondsSince(start));
  expectTrue("a lent region lies outside the FIFO's DMA buffer", allInsideBuffer);
  std::printf("  regions lie inside the FIFO's DMA buffer: %s\n", allInsideBuffer ? "yes (no copy made)" : "NO");
  return streamIndex;
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

  // Streaming: the simulator's generator keeps the FIFO filled with a
  // checkable pattern; both paths continue the same stream.
  uint32_t depth = 0;
  expectStatus("ViDazoHx_ConfigureFifo2", ViDazoHx_ConfigureFifo2(session, kFifo, kDemoFifoDepth, &depth));
  expectStatus("ViDazoSim_StartGenerator", ViDazoSim_StartGenerator(session, kFifo, kSeed, ViDazoSim_EndlessStream));
  expectStatus("ViDazoHx_StartFifo", ViDazoHx_StartFifo(session, kFifo));
  std::printf("fifo %u (target-to-host, U32, depth %" PRIu32 "): %" PRIu32 " elements per path, %" PRIu32
              " per call\n",
              kFifo, depth, elements, chunk);
  uint64_t streamIndex = 0;
  streamIndex = streamByCopy(session, elements, chunk, streamIndex);
  streamIndex = streamByRegions(session, elements, chunk, streamIndex);
  std::printf("  every element matched the generator's pattern: %s\n", failures == 0 ? "yes" : "NO");
  std::printf("  lower library calls: %u ReadFifoU32, %u AcquireFifoReadElementsU32, %u ReleaseFifoElements\n",
              ViDazoSim_CountJournalRecords("ViDazoDll_ReadFifoU32"),
              ViDazoSim_CountJournalRecords("ViDazoDll_AcquireFifoReadElementsU32"),
              ViDazoSim_CountJournalRecords("ViDazoDll_ReleaseFifoElements"));

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
