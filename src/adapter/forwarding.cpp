// forwarding.cpp: the forwarding functions, one per entry-table slot the
// library calls, the dispatch of FIFO calls by host element type code, and
// the reserved IRQ context count.
//
// A forwarding function reads its slot with an acquire load and calls it
// with exactly its own arguments. Each slot's function type is taken from
// the lower library's own declaration, so a signature mismatch is a compile
// error here rather than a stack fault on the target. None of these
// functions locks; they block only as long as the lower library does.

#include "adapter/forwarding.h"

#include <atomic>

#include "adapter/entryTable.h"
#include "protons/status/statusCodes.h"

namespace {

// Calls slot `slot` as a function of type `Function` (deduced from the lower
// library's declaration); StatusLibraryNotOpen while the slot is empty.
template <typename Function, typename... Args>
inline int32_t forward(tEntrySlot slot, Args... args) {
  void* address = entryTable[slot].slot.load(std::memory_order_acquire);
  if (address == nullptr) return StatusLibraryNotOpen;
  return reinterpret_cast<Function*>(address)(args...);
}

#define VIDAZOHX_FORWARD(name, ...) forward<decltype(ViDazoDll_##name)>(slot_ViDazoDll_##name, __VA_ARGS__)

}  // namespace

namespace lower {

int32_t Open(const char* bitfile, const char* signature, const char* resource, uint32_t attribute,
             uint32_t* session) {
  return VIDAZOHX_FORWARD(Open, bitfile, signature, resource, attribute, session);
}
int32_t Close(uint32_t session, uint32_t attribute) { return VIDAZOHX_FORWARD(Close, session, attribute); }
int32_t Run(uint32_t session, uint32_t attribute) { return VIDAZOHX_FORWARD(Run, session, attribute); }
int32_t Abort(uint32_t session) { return VIDAZOHX_FORWARD(Abort, session); }
int32_t Reset(uint32_t session) { return VIDAZOHX_FORWARD(Reset, session); }
int32_t Download(uint32_t session) { return VIDAZOHX_FORWARD(Download, session); }

int32_t ReadU16(uint32_t session, uint32_t offset, uint16_t* value) {
  return VIDAZOHX_FORWARD(ReadU16, session, offset, value);
}
int32_t ReadU32(uint32_t session, uint32_t offset, uint32_t* value) {
  return VIDAZOHX_FORWARD(ReadU32, session, offset, value);
}
int32_t WriteU16(uint32_t session, uint32_t offset, uint16_t value) {
  return VIDAZOHX_FORWARD(WriteU16, session, offset, value);
}
int32_t WriteU32(uint32_t session, uint32_t offset, uint32_t value) {
  return VIDAZOHX_FORWARD(WriteU32, session, offset, value);
}
int32_t ReadArrayU32(uint32_t session, uint32_t offset, uint32_t* values, uint32_t count) {
  return VIDAZOHX_FORWARD(ReadArrayU32, session, offset, values, count);
}
int32_t WriteArrayU32(uint32_t session, uint32_t offset, const uint32_t* values, uint32_t count) {
  return VIDAZOHX_FORWARD(WriteArrayU32, session, offset, values, count);
}

int32_t ReserveIrqContext(uint32_t session, ViDazoDll_IrqContext* context) {
  return VIDAZOHX_FORWARD(ReserveIrqContext, session, context);
}
int32_t WaitOnIrqs(uint32_t session, ViDazoDll_IrqContext context, uint32_t irqMask, uint32_t timeout,
                   uint32_t* irqsAsserted, ViDazoDll_Bool* timedOut) {
  return VIDAZOHX_FORWARD(WaitOnIrqs, session, context, irqMask, timeout, irqsAsserted, timedOut);
}
int32_t AcknowledgeIrqs(uint32_t session, uint32_t irqs) { return VIDAZOHX_FORWARD(AcknowledgeIrqs, session, irqs); }

int32_t ConfigureFifo(uint32_t session, uint32_t fifo, uint32_t depth) {
  return VIDAZOHX_FORWARD(ConfigureFifo, session, fifo, depth);
}
int32_t ConfigureFifo2(uint32_t session, uint32_t fifo, uint32_t requestedDepth, uint32_t* actualDepth) {
  return VIDAZOHX_FORWARD(ConfigureFifo2, session, fifo, requestedDepth, actualDepth);
}
int32_t StartFifo(uint32_t session, uint32_t fifo) { return VIDAZOHX_FORWARD(StartFifo, session, fifo); }
int32_t StopFifo(uint32_t session, uint32_t fifo) { return VIDAZOHX_FORWARD(StopFifo, session, fifo); }
int32_t ReleaseFifoElements(uint32_t session, uint32_t fifo, uint32_t count) {
  return VIDAZOHX_FORWARD(ReleaseFifoElements, session, fifo, count);
}
int32_t GetPeerToPeerFifoEndpoint(uint32_t session, uint32_t fifo, uint32_t* endpoint) {
  return VIDAZOHX_FORWARD(GetPeerToPeerFifoEndpoint, session, fifo, endpoint);
}

// The typed FIFO calls. The host's type codes order the types differently
// from the lower library's table (signed types 1 to 4, unsigned 5 to 8), so
// each dispatch maps code to slot explicitly.
#define VIDAZOHX_FOR_EACH_TYPE_CODE(X) \
  X(1, I8, int8_t)                     \
  X(2, I16, int16_t)                   \
  X(3, I32, int32_t)                   \
  X(4, I64, int64_t)                   \
  X(5, U8, uint8_t)                    \
  X(6, U16, uint16_t)                  \
  X(7, U32, uint32_t)                  \
  X(8, U64, uint64_t)

int32_t readFifo(int32_t typeCode, uint32_t session, uint32_t fifo, void* data, uint32_t count, uint32_t timeout,
                 uint32_t* remaining) {
  switch (typeCode) {
// NOLINTBEGIN(bugprone-macro-parentheses): Type is a type name, which parentheses would not compile
#define VIDAZOHX_READ_CASE(code, Suffix, Type) \
  case code:                                   \
    return VIDAZOHX_FORWARD(ReadFifo##Suffix, session, fifo, static_cast<Type*>(data), count, timeout, remaining);
    // NOLINTEND(bugprone-macro-parentheses)
    VIDAZOHX_FOR_EACH_TYPE_CODE(VIDAZOHX_READ_CASE)
#undef VIDAZOHX_READ_CASE
    default:
      return StatusInvalidParameter;
  }
}

int32_t writeFifo(int32_t typeCode, uint32_t session, uint32_t fifo, const void* data, uint32_t count,
                  uint32_t timeout, uint32_t* remaining) {
  switch (typeCode) {
#define VIDAZOHX_WRITE_CASE(code, Suffix, Type)                                                                  \
  case code:                                                                                                     \
    return VIDAZOHX_FORWARD(WriteFifo##Suffix, session, fifo, static_cast<const Type*>(data), count, timeout, \
                            remaining);
    VIDAZOHX_FOR_EACH_TYPE_CODE(VIDAZOHX_WRITE_CASE)
#undef VIDAZOHX_WRITE_CASE
    default:
      return StatusInvalidParameter;
  }
}

namespace {

// One typed acquisition. The lower library writes a `Type*`; it lands in a
// variable of that type and is handed on as void*, so no pointer is written
// through a pointer of another type.
template <typename Function, typename Type>
int32_t acquireAs(tEntrySlot slot, uint32_t session, uint32_t fifo, void** elements, uint32_t count,
                  uint32_t timeout, uint32_t* acquired, uint32_t* remaining) {
  Type* typed = nullptr;
  const int32_t status =
      forward<Function>(slot, session, fifo, elements != nullptr ? &typed : nullptr, count, timeout, acquired,
                        remaining);
  if (elements != nullptr) *elements = typed;
  return status;
}

}  // namespace

int32_t acquireFifoElements(tFifoDirection direction, int32_t typeCode, uint32_t session, uint32_t fifo,
                            void** elements, uint32_t count, uint32_t timeout, uint32_t* acquired,
                            uint32_t* remaining) {
  const bool read = direction == tFifoDirection::read;
  switch (typeCode) {
#define VIDAZOHX_ACQUIRE_CASE(code, Suffix, Type)                                                               \
  case code:                                                                                                    \
    return read ? acquireAs<decltype(ViDazoDll_AcquireFifoReadElements##Suffix), Type>(                         \
                      slot_ViDazoDll_AcquireFifoReadElements##Suffix, session, fifo, elements, count, timeout, \
                      acquired, remaining)                                                                      \
                : acquireAs<decltype(ViDazoDll_AcquireFifoWriteElements##Suffix), Type>(                        \
                      slot_ViDazoDll_AcquireFifoWriteElements##Suffix, session, fifo, elements, count, timeout, \
                      acquired, remaining);
    VIDAZOHX_FOR_EACH_TYPE_CODE(VIDAZOHX_ACQUIRE_CASE)
#undef VIDAZOHX_ACQUIRE_CASE
    default:
      return StatusInvalidParameter;
  }
}

}  // namespace lower

uint32_t elementSizeOf(int32_t typeCode) {
  switch (typeCode) {
    case 1:
    case 5:
      return 1;
    case 2:
    case 6:
      return 2;
    case 3:
    case 7:
      return 4;
    case 4:
    case 8:
      return 8;
    default:
      return 0;
  }
}

// 64-bit elements sit after 4 bytes of padding so that they are aligned.
uint32_t arrayDataOffset(int32_t typeCode) { return elementSizeOf(typeCode) == 8 ? 8 : 4; }

namespace {

// Reserved IRQ contexts announced by the host; read when a session opens.
std::atomic<int32_t> reservedIrqContexts{0};

}  // namespace

int32_t reservedIrqContextCount() { return reservedIrqContexts.load(std::memory_order_relaxed); }

void addReservedIrqContexts(int32_t delta) { reservedIrqContexts.fetch_add(delta, std::memory_order_seq_cst); }

void resetReservedIrqContexts() { reservedIrqContexts.store(0, std::memory_order_seq_cst); }
