// host.cpp: a complete host of libViDazoHx in C++. Start here when you
// write your own in C++ (examples/c-host/host.c is the same walk in C).
//
// A host is the program that loads libViDazoHx and calls its functions;
// ViDazoHx/ViDazoHx.h documents every one of them, its statuses and what
// may block. This host drives the simulated target, so it needs no hardware:
// the simulated lower library (ViDazo/ViDazoSim.h) plays the FPGA target,
// and the host-runtime stand-in (HostRuntime/HostRuntimeSim.h) provides the
// three functions a real hosting process provides itself and plays that
// process's part (host arrays, disposing of references).
//
// What C++ adds: a session and a lent region are owned by objects, so that
// a region is always given back and a session always closed, also on an
// early return. A region must be given back before its session closes (a
// close is refused while regions are out), which declaration order ensures.
//
// The walk: open a session, write and read registers, ring and wait for an
// IRQ, stream elements by copy and through write and read regions (lent
// without copying), meet two refusals and handle them by status name, close.
//
// Build and run against an installation under <prefix> (see CMakeLists.txt):
//
//   cmake -S . -B build -DCMAKE_PREFIX_PATH=<prefix> && cmake --build build
//   LD_LIBRARY_PATH=<prefix>/<libdir> build/cpp-host
#include <HostRuntime/HostRuntimeSim.h>
#include <ViDazo/ViDazoSim.h>
#include <ViDazoHx/ViDazoHx.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The simulator's default FIFOs: 6 carries unsigned 32-bit elements from the
// target to the host, 15 the same type from the host to the target. A
// loopback routes what the host commits to 15 into 6.
constexpr uint32_t kToHostFifo = 6;
constexpr uint32_t kFromHostFifo = 15;
constexpr uint32_t kElements = 256;
constexpr uint32_t kTimeoutMs = 1000;
constexpr uint32_t kScratchRegister = 0x100;
constexpr uint32_t kDemoIrq = 1u << 3;

int failures = 0;

// The simulator names the statuses it answers (the library passes them on
// unchanged); the library names its own and says where any other comes from.
const char* statusName(int32_t status) {
  const char* name = ViDazoSim_StatusText(status);
  return name != nullptr ? name : ViDazoHx_StatusText(status);
}

// Every function returns a status: 0 success, negative error, positive
// warning (the call did its work). True when the call did its work.
bool check(const char* call, int32_t status) {
  if (status != 0) {
    std::printf("  %s: %s %d (%s)\n", call, status < 0 ? "error" : "warning", static_cast<int>(status),
                statusName(status));
  }
  if (status < 0) ++failures;
  return status >= 0;
}

// A refusal this host provokes on purpose: anything else is a failure.
void expectRefusal(const char* call, int32_t status, int32_t expected) {
  std::printf("  %s: %d (%s)%s\n", call, static_cast<int>(status), statusName(status),
              status == expected ? ", as expected" : "");
  if (status != expected) ++failures;
}

uint32_t patternAt(uint32_t index) { return 0xA5000000u + index; }

void checkElements(const char* path, const uint32_t* elements, uint32_t count, uint32_t firstIndex) {
  for (uint32_t i = 0; i < count; ++i) {
    if (elements[i] != patternAt(firstIndex + i)) {
      std::printf("  %s: element %u differs\n", path, static_cast<unsigned>(firstIndex + i));
      ++failures;
      return;
    }
  }
}

// An open session; closed when the object goes.
class Session {
 public:
  Session(const char* bitfile, const char* signature, const char* resource) {
    opened_ = check("Open", ViDazoHx_Open(bitfile, signature, resource, 0, &value_));
  }
  ~Session() {
    if (opened_) check("Close", ViDazoHx_Close(value_, 0));
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool opened() const { return opened_; }
  uint32_t value() const { return value_; }

 private:
  uint32_t value_ = 0;
  bool opened_ = false;
};

// A FIFO region lent by the library; given back when the object goes (for a
// write region that commits its places to the target, whatever they hold).
class Region {
 public:
  enum class Direction { read, write };
  Region(const Session& session, uint32_t fifo, Direction direction, uint32_t count, uint32_t timeoutMs) {
    auto acquire = direction == Direction::read ? ViDazoHx_AcquireFifoReadRegionScalar
                                                : ViDazoHx_AcquireFifoWriteRegionScalar;
    uint32_t acquired = 0;
    status_ = acquire(session.value(), fifo, &reference_, count, ViDazoHx_TypeU32, 0, timeoutMs, &acquired, nullptr);
    // A real host reads the data record of its own reference.
    if (status_ >= 0) record_ = HostRuntimeSim_ReferenceRecord(reference_);
  }
  ~Region() {
    if (record_ != nullptr) check("dispose of a region", HostRuntimeSim_DisposeReference(reference_));
  }
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  int32_t status() const { return status_; }
  // The lent elements, in the FIFO's own buffer; shorter than asked for at
  // the buffer's end.
  uint32_t* elements() const { return static_cast<uint32_t*>(record_->elements); }
  uint32_t count() const { return record_ != nullptr ? record_->elementCount : 0; }

 private:
  uint32_t reference_ = 0;
  int32_t status_ = 0;
  ViDazoHx_DataRecord* record_ = nullptr;
};

// A host array of unsigned 32-bit elements; a real host makes its own.
class HostArray {
 public:
  explicit HostArray(uint32_t count) : handle_(HostRuntimeSim_NewArray(ViDazoHx_TypeU32, count)) {}
  ~HostArray() {
    if (handle_ != nullptr) HostRuntimeSim_FreeArray(handle_);
  }
  HostArray(const HostArray&) = delete;
  HostArray& operator=(const HostArray&) = delete;
  ViDazoHx_ArrayHandle handle() const { return handle_; }
  int32_t& count() const { return (*handle_)->count; }
  // A block holds a 32-bit count, then the elements: at offset 4 for 32-bit
  // elements (8 for the 64-bit types). Read through the handle each time: a
  // resize may move the block.
  uint32_t* elements() const { return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(*handle_) + 4); }

 private:
  ViDazoHx_ArrayHandle handle_;
};

void writeByCopy(const Session& session, const HostArray& array) {
  for (uint32_t i = 0; i < kElements; ++i) array.elements()[i] = patternAt(i);
  array.count() = kElements;  // the write takes as many elements as the count says
  check("WriteFifoScalar", ViDazoHx_WriteFifoScalar(session.value(), kFromHostFifo, array.handle(),
                                                    ViDazoHx_TypeU32, 0, kTimeoutMs, nullptr));
}

void writeByRegions(const Session& session) {
  for (uint32_t done = 0; done < kElements;) {
    Region region(session, kFromHostFifo, Region::Direction::write, kElements - done, kTimeoutMs);
    if (!check("AcquireFifoWriteRegionScalar", region.status())) return;
    for (uint32_t i = 0; i < region.count(); ++i) region.elements()[i] = patternAt(kElements + done + i);
    done += region.count();
  }  // each region is committed as it goes
}

void readByCopy(const Session& session, const HostArray& array) {
  if (check("ReadFifoScalar", ViDazoHx_ReadFifoScalar(session.value(), kToHostFifo, kElements, ViDazoHx_TypeU32, 0,
                                                      kTimeoutMs, array.handle(), nullptr))) {
    checkElements("read by copy", array.elements(), static_cast<uint32_t>(array.count()), 0);
  }
}

void readByRegions(const Session& session) {
  for (uint32_t done = 0; done < kElements;) {
    Region region(session, kToHostFifo, Region::Direction::read, kElements - done, kTimeoutMs);
    if (!check("AcquireFifoReadRegionScalar", region.status())) return;
    checkElements("read by regions", region.elements(), region.count(), kElements + done);
    done += region.count();
  }  // each region is given back as it goes
}

void meetRefusals(const Session& session) {
  {
    Region empty(session, kToHostFifo, Region::Direction::read, 16, 0);
    expectRefusal("read region from an empty FIFO, timeout 0", empty.status(), ViDazoHx_StatusFifoTimeout);
  }
  Region lent(session, kFromHostFifo, Region::Direction::write, 16, kTimeoutMs);
  if (check("AcquireFifoWriteRegionScalar", lent.status())) {
    expectRefusal("Download while a region is lent", ViDazoHx_Download(session.value()),
                  ViDazoHx_StatusRegionsOutstanding);
  }
}

}  // namespace

int main() {
  // Bitfile and signature are the lower library's to interpret; the
  // simulator only records them. "sim0" is a resource of its broker.
  Session session("example.bitfile", "example-signature", "sim0");
  if (!session.opened()) return EXIT_FAILURE;
  const uint32_t s = session.value();
  std::printf("session %u open on \"sim0\"\n", static_cast<unsigned>(s));

  uint32_t value = 0;
  float reading = 0;
  check("WriteSgl", ViDazoHx_WriteSgl(s, kScratchRegister, 2.5f));
  check("ReadSgl", ViDazoHx_ReadSgl(s, kScratchRegister, &reading));
  check("Read32", ViDazoHx_Read32(s, kScratchRegister, &value));
  std::printf("register 0x%X holds %g, pattern 0x%08X\n", static_cast<unsigned>(kScratchRegister), reading,
              static_cast<unsigned>(value));
  if (reading != 2.5f) ++failures;

  // The simulator raises the IRQs written to its doorbell register.
  ViDazoHx_IrqContext context = nullptr;
  uint32_t asserted = 0;
  uint8_t timedOut = 1;
  check("Write32 (doorbell)", ViDazoHx_Write32(s, ViDazoSim_DoorbellOffset, kDemoIrq));
  check("WaitOnIrqs", ViDazoHx_WaitOnIrqs(s, &context, kDemoIrq, kTimeoutMs, &asserted, &timedOut));
  check("AcknowledgeIrqs", ViDazoHx_AcknowledgeIrqs(s, asserted));
  std::printf("irq: asserted 0x%08X, timed out %s\n", static_cast<unsigned>(asserted), timedOut ? "yes" : "no");

  // Regions need started FIFOs.
  check("ViDazoSim_SetLoopback", ViDazoSim_SetLoopback(s, kFromHostFifo, kToHostFifo));
  check("StartFifo", ViDazoHx_StartFifo(s, kFromHostFifo));
  check("StartFifo", ViDazoHx_StartFifo(s, kToHostFifo));
  {
    HostArray array(kElements);
    if (array.handle() == nullptr) return EXIT_FAILURE;
    writeByCopy(session, array);
    writeByRegions(session);
    readByCopy(session, array);
    readByRegions(session);
  }
  std::printf("streamed %u elements each way, by copy and through regions\n", static_cast<unsigned>(2 * kElements));

  meetRefusals(session);
  std::printf("%s\n", failures == 0 ? "c++ host: done" : "c++ host: FAILED");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}  // the session closes here, after every region has been given back
