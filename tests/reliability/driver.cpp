// driver.cpp: random and scripted steps over every export, run against the
// stand-ins and checked against the model after each step.

#include "driver.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "VoKelSrv/VoKelSrvSim.h"
#include "adapter/forwarding.h"
#include "failPoint.h"
#include "sessions/registry.h"

namespace reliability {

uint32_t Choices::below(uint32_t bound) {
  if (bound <= 1) return 0;
  if (!fromData_) {
    const auto value = static_cast<uint32_t>(random_() % bound);
    if (recording != nullptr) recording->insert(recording->end(), {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    return value;
  }
  uint32_t value = 0;
  for (int byte = 0; byte < 2; ++byte) value = value << 8 | (position_ < size_ ? data_[position_++] : 0);
  return value % bound;
}

namespace {

constexpr uint32_t kReadFifo = 6, kWriteFifo = 15;  // the stand-in's U32 FIFOs
constexpr uint32_t kUnknownSession = 0x7777;
constexpr int32_t kSyncInitFailed = -52008;

const char* const kOpNames[] = {
    "Open", "OpenResource", "Close", "Run", "Abort", "Download", "Reset", "Read16", "Read32", "ReadSgl",
    "Write16", "Write32", "WriteSgl", "ReadArray32", "WriteArray32", "ReserveIrqContext",
    "UnreserveIrqContext", "WaitOnIrqs", "AcknowledgeIrqs", "ConfigureFifo", "ConfigureFifo2", "StartFifo",
    "StopFifo", "ReadFifoScalar", "WriteFifoScalar", "AcquireFifoReadRegionScalar",
    "AcquireFifoWriteRegionScalar", "GetPeerToPeerFifoEndpoint", "GetResources", "GetResourceName",
    "GetResourceIndex", "ReleaseResourceIndex", "AddResources", "dispose", "host cleanup",
    "lower library's own close"};

// Relative weights: the session, FIFO and region steps come most often.
const uint8_t kWeights[] = {8, 6, 5, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 2, 1, 2, 1, 1, 1, 1, 1, 6,
                            1, 2, 1, 10, 4, 1, 1, 1, 1, 1, 1, 10, 1, 2};
static_assert(sizeof kWeights == static_cast<std::size_t>(Op::Count), "one weight per step kind");

// The lower function each forwarding export ends in, and whether it gets the
// session with bit 0x4000.
struct Forward {
  Op op;
  const char* lower;
  bool routed;
};
const Forward kForwards[] = {
    {Op::Run, "Run", false},           {Op::Abort, "Abort", false},
    {Op::Read16, "ReadU16", true},     {Op::Read32, "ReadU32", true},
    {Op::ReadSgl, "ReadU32", true},    {Op::Write16, "WriteU16", true},
    {Op::Write32, "WriteU32", true},   {Op::WriteSgl, "WriteU32", true},
    {Op::ReadArray32, "ReadArrayU32", true},     {Op::WriteArray32, "WriteArrayU32", true},
    {Op::WaitOnIrqs, "WaitOnIrqs", false},       {Op::AcknowledgeIrqs, "AcknowledgeIrqs", false},
    {Op::ConfigureFifo, "ConfigureFifo", true},  {Op::ConfigureFifo2, "ConfigureFifo2", true},
    {Op::StopFifo, "StopFifo", true},            {Op::PeerToPeer, "GetPeerToPeerFifoEndpoint", true},
    {Op::ReadFifoScalar, "ReadFifo", true},      {Op::WriteFifoScalar, "WriteFifo", true},
    {Op::AddResources, "AddResources", false}};

const Forward* forwardOf(Op op) {
  for (const Forward& forward : kForwards) {
    if (forward.op == op) return &forward;
  }
  return nullptr;
}

bool isBroker(Op op) {
  return op == Op::GetResources || op == Op::GetResourceName || op == Op::GetResourceIndex ||
         op == Op::ReleaseResourceIndex;
}

// A journal record as the model writes lower calls: the function without
// its prefix and the arguments that identify the call.
std::string lineOf(const ViDazoSim_JournalRecord& record) {
  std::string name = record.function;
  if (name.rfind("ViDazoDll_", 0) == 0) name = name.substr(10);
  const uint64_t* a = record.arguments;
  if (name == "Open" || name == "AddResources") return name;
  if (name == "Close" || name == "StartFifo" || name == "ReserveIrqContext") return line(name, {a[0], a[1]});
  if (name == "ReleaseFifoElements") return line(name, {a[0], a[1], a[2]});
  if (name.rfind("AcquireFifo", 0) == 0) return line(name, {a[0], a[1], a[3]});
  return line(name, {a[0]});
}

Oracle readLowerJournal() {
  Oracle oracle;
  const uint32_t total = ViDazoSim_JournalCount();
  std::vector<ViDazoSim_JournalRecord> records(total);
  uint32_t copied = 0;
  if (total != 0) ViDazoSim_ReadJournal(0, records.data(), total, &copied);
  for (uint32_t index = 0; index < copied; ++index) {
    oracle.actual.push_back(lineOf(records[index]));
    oracle.results.push_back(records[index].result);
  }
  return oracle;
}

// The sticky flags the library has latched and the model has not.
std::set<StickyKey> newlyLatched(const Model& model) {
  std::set<StickyKey> latched;
  tSharedHolder registry(registryLock);
  if (sessionRegistry.allocationFailed() && !model.registryFailed) latched.insert({Sticky::registry, 0, 0});
  for (uint32_t index = 0; index < sessionRegistry.size(); ++index) {
    const uint32_t session = sessionRegistry.keyAt(index);
    tSessionState& record = sessionRegistry.valueAt(index);
    auto known = model.sessions.find(session);
    if (known == model.sessions.end()) continue;
    if (record.childSessions.allocationFailed() && !known->second.childListFailed) {
      latched.insert({Sticky::childList, session, 0});
    }
    if (record.fifoStates.allocationFailed() && !known->second.fifoMapFailed) {
      latched.insert({Sticky::fifoMap, session, 0});
    }
    for (uint32_t fifo = 0; fifo < record.fifoStates.size(); ++fifo) {
      if (record.fifoStates.valueAt(fifo).regions.allocationFailed()) {
        latched.insert({Sticky::regionList, session, record.fifoStates.keyAt(fifo)});
      }
    }
  }
  return latched;
}

// A library whose session map has failed stays failed; a sequence starts
// with a fresh map. Records a failed sequence left are forgotten first.
void renewRegistry() {
  {
    tExclusiveHolder registry(registryLock);
    while (!sessionRegistry.empty()) removeSession(sessionRegistry.keyAt(0));
  }
  if (!sessionRegistry.allocationFailed()) return;
  sessionRegistry.~tOrderedMap<tSessionState>();
  new (&sessionRegistry) tOrderedMap<tSessionState>();
}

// Whether the model's FIFO records are the library's: tells apart the
// outcomes of a failed allocation that look alike from outside.
bool sameFifoRecords(const Model& model) {
  tSharedHolder registry(registryLock);
  for (const auto& entry : model.sessions) {
    tSessionState* record = sessionRegistry.find(entry.first);
    if (record == nullptr) continue;
    std::set<uint32_t> fifos;
    for (uint32_t index = 0; index < record->fifoStates.size(); ++index) fifos.insert(record->fifoStates.keyAt(index));
    std::set<uint32_t> expected;
    for (const auto& fifo : entry.second.fifos) expected.insert(fifo.first);
    if (fifos != expected) return false;
  }
  return true;
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& entry : lines) text += (text.empty() ? "" : ", ") + entry;
  return "[" + text + "]";
}

}  // namespace

std::string describe(const Step& step) {
  std::string text = kOpNames[static_cast<int>(step.op)];
  text += "(session " + std::to_string(step.session) + ", fifo " + std::to_string(step.fifo) + ", count " +
          std::to_string(step.count) + ", type " + std::to_string(step.typeCode) +
          (step.infinite ? ", infinite" : "") + (step.nullPointer ? ", null" : "") + ")";
  if (step.reuseValue != 0) text += " reusing value " + std::to_string(step.reuseValue);
  static const char* const kinds[] = {"", "lower", "host", "broker", "allocation"};
  if (step.inject != Inject::none) {
    text += std::string(" with ") + kinds[static_cast<int>(step.inject)] + " failure " + step.function + " " +
            std::to_string(step.answer);
  }
  return text;
}

Step makeStep(Op op, uint32_t session, uint32_t fifo, uint32_t count) {
  Step step;
  step.op = op;
  step.session = session;
  step.fifo = fifo;
  step.count = count;
  return step;
}

uint32_t Script::operator()(const Step& step) {
  // A region that was never lent has no reference to dispose of.
  if (step.op == Op::Dispose && step.session == 0) return 0;
  if (failure.empty()) failure = driver_.run(step);
  if (failure.empty()) {
    const bool lends = step.op == Op::AcquireRead || step.op == Op::AcquireWrite;
    return lends ? driver_.last().reference : driver_.last().session;
  }
  if (failure.find(" at ") == std::string::npos) failure = describe(step) + " at " + failure;
  return 0;
}

void Instances::ask(uint32_t value) {
  auto found = current_.find(value & ~kRoutedBit);
  if (found != current_.end()) asked_.insert(found->second);
}

// A failed lower close excuses its instance and those of every session
// above it: a parent whose close waited for it is documented to stay open.
// "Above" follows the values as the host linked them, as the library's
// records do (a value handed out again keeps its record, and the records
// below it keep pointing at the value).
void Instances::lowerCall(const std::string& call, int32_t result, uint32_t opened) {
  const bool open = call == "Open", openResource = call.rfind("OpenResource ", 0) == 0;
  const auto argument = [&call] { return static_cast<uint32_t>(std::stoul(call.substr(call.find(' ') + 1))) & ~kRoutedBit; };
  if ((open || openResource) && result >= 0) {
    const uint32_t value = opened & ~kRoutedBit;
    parentValue_[value] = openResource ? argument() : 0;
    current_[value] = ++last_;
    value_[last_] = value;
    return;
  }
  if (call.rfind("Close ", 0) != 0) return;
  const uint32_t value = argument();
  auto found = current_.find(value);
  if (result >= 0 && found != current_.end()) {
    value_.erase(found->second);
    current_.erase(found);
  }
  if (result >= 0) return;
  uint32_t at = value;
  for (int depth = 0; at != 0 && depth < 64; ++depth, at = parentValue_[at]) {
    if (current_.count(at) != 0) excused_.insert(current_[at]);
  }
}

void Instances::restart(const Model& model) {
  clear();
  for (uint32_t value : model.lowerOpen) current_[value] = ++last_, value_[last_] = value;
  for (const auto& entry : model.sessions) parentValue_[entry.first] = entry.second.parent;
}

std::string Instances::unclosed() const {
  for (uint64_t instance : asked_) {
    auto open = value_.find(instance);
    if (open == value_.end() || excused_.count(instance) != 0) continue;
    return "session " + std::to_string(open->second) + " (instance " + std::to_string(instance) +
           "), whose close the host asked for, is still open below with no region out";
  }
  return "";
}

void Driver::askCloses(const Step& step) {
  if (step.op == Op::Close && (step.session & kUnsupportedBit) == 0) instances_.ask(step.session);
  if (step.op != Op::HostCleanup) return;
  std::vector<HostRuntimeSim_Registration> registrations(HostRuntimeSim_ListCleanup(nullptr, 0));
  const uint32_t listed = HostRuntimeSim_ListCleanup(registrations.data(), static_cast<uint32_t>(registrations.size()));
  for (uint32_t index = 0; index < listed && index < registrations.size(); ++index) {
    if (registrations[index].mode == 2) instances_.ask(static_cast<uint32_t>(registrations[index].argument));
  }
}

std::string Driver::followInstances(const Oracle& actual, uint32_t opened) {
  for (std::size_t index = 0; index < actual.actual.size(); ++index) {
    instances_.lowerCall(actual.actual[index], actual.results[index], opened);
  }
  if (!model_.lent.empty() || HostRuntimeSim_ListReferences(nullptr, 0) != 0) return "";
  return instances_.unclosed();
}

Driver::Driver() { reset(); }

void Driver::reset() {
  ViDazoSim_Reset();
  VoKelSrvSim_Reset();
  HostRuntimeSim_Reset();
  resetReservedIrqContexts();
  renewRegistry();
  model_ = Model();
  model_.registryFailed = sessionRegistry.allocationFailed();
  closedValues_.clear();
  history_.clear();
  instances_.clear();
}

uint32_t Driver::pickSession(Choices& choices) {
  std::vector<uint32_t> open;
  for (const auto& entry : model_.sessions) open.push_back(entry.first);
  const uint32_t roll = choices.below(100);
  if (roll < 5) return kUnknownSession;
  if (roll < 10 && !closedValues_.empty()) return closedValues_[choices.below(closedValues_.size())];
  if (open.empty()) return roll < 50 ? 0 : kUnknownSession;
  const uint32_t session = open[choices.below(open.size())];
  if (roll < 16) return session | kUnsupportedBit;
  if (roll < 20) return session | kRoutedBit;
  return session;
}

bool Driver::infiniteIsSafe(uint32_t session, uint32_t count, const Step& step) {
  // An infinite wait is issued only where elements are sure to come: the
  // generator FIFO, started, nothing acquired, a request inside its depth.
  if (step.fifo != kReadFifo || step.typeCode != 7 || count == 0 || count > 16) return false;
  if (step.inject != Inject::none && !(step.inject == Inject::lower && step.answer == kFifoTimeout) &&
      step.inject != Inject::host && step.inject != Inject::allocation) {
    return false;
  }
  if (model_.sessions.count(session) == 0 || model_.lowerOpen.count(session) == 0) return false;
  ViDazoSim_FifoCounts counts{};
  return ViDazoSim_GetFifoCounts(session, kReadFifo, &counts) == 0 && counts.started == 1 &&
         counts.acquired == 0;
}

Step Driver::randomStep(Choices& choices) {
  Step step;
  uint32_t total = 0;
  for (uint8_t weight : kWeights) total += weight;
  uint32_t roll = choices.below(total), kind = 0;
  while (roll >= kWeights[kind]) roll -= kWeights[kind++];
  step.op = static_cast<Op>(kind);
  step.session = pickSession(choices);
  step.fifo = choices.chance(85) ? (choices.chance(60) ? kReadFifo : kWriteFifo) : choices.below(20);
  step.typeCode = choices.chance(85) ? 7 : static_cast<int32_t>(choices.below(10));
  step.count = choices.chance(10) ? 0 : 1 + choices.below(40);
  step.attribute = choices.below(2);
  step.nullPointer = choices.chance(4);
  if ((step.op == Op::Open || step.op == Op::OpenResource) && choices.chance(15) && !closedValues_.empty()) {
    const uint32_t value = closedValues_[choices.below(closedValues_.size())];
    if (model_.lowerOpen.count(value) == 0) step.reuseValue = value;
  }
  if (step.op == Op::OpenResource && choices.chance(20)) step.session = 0;
  if (step.op == Op::Dispose) {
    if (model_.lent.empty()) return randomStep(choices);
    auto it = model_.lent.begin();
    std::advance(it, choices.below(model_.lent.size()));
    step.session = it->first;
  }
  // Injected failures: of the lower library, the host, the broker, or of
  // one of the next allocations the step makes.
  const uint32_t injectRoll = choices.below(100);
  const Forward* forward = forwardOf(step.op);
  if (injectRoll < 6) {
    step.inject = Inject::allocation;
    step.answer = static_cast<int32_t>(1 + choices.below(4));
  } else if (injectRoll < 14) {
    static const int32_t lowerAnswers[] = {-63013, kFifoTimeout, kAcquireTimedOut, 7, -1};
    step.inject = Inject::lower;
    step.answer = lowerAnswers[choices.below(5)];
    if (step.op == Op::Open) {
      static const char* const names[] = {"ViDazoDll_Open", "ViDazoDll_ReserveIrqContext", "ViDazoDll_Close"};
      step.function = names[choices.below(3)];
    } else if (step.op == Op::AcquireRead || step.op == Op::AcquireWrite) {
      step.function = std::string(step.op == Op::AcquireRead ? "ViDazoDll_AcquireFifoReadElements"
                                                              : "ViDazoDll_AcquireFifoWriteElements") +
                      typeSuffix(step.typeCode);
    } else if (step.op == Op::Close || step.op == Op::OpenResource || step.op == Op::StartFifo) {
      step.function = std::string("ViDazoDll_") + kOpNames[static_cast<int>(step.op)];
    } else if (forward != nullptr && step.op != Op::ReadFifoScalar && step.op != Op::WriteFifoScalar) {
      step.function = std::string("ViDazoDll_") + forward->lower;
    } else {
      step.inject = Inject::none;
    }
  } else if (injectRoll < 20) {
    static const int32_t hostAnswers[] = {2, 41, 7};
    step.inject = Inject::host;
    step.answer = hostAnswers[choices.below(3)];
    if (step.op == Op::Open) step.function = "RTSetCleanupProc";
    else if (step.op == Op::AcquireRead || step.op == Op::AcquireWrite)
      step.function = choices.chance(50) ? "RTSetCleanupProc" : "EDVR_CreateReference";
    else if (step.op == Op::ReadArray32 || step.op == Op::ReadFifoScalar) step.function = "NumericArrayResize";
    else step.inject = Inject::none;
  } else if (injectRoll < 23 && isBroker(step.op)) {
    static const char* const names[] = {"VoKelSrv_fpga_GetResources", "VoKelSrv_broker_GetResourceName",
                                        "VoKelSrv_broker_GetResourceIndex", "VoKelSrv_broker_ReleaseResourceIndex"};
    step.inject = Inject::broker;
    step.function = names[static_cast<int>(step.op) - static_cast<int>(Op::GetResources)];
    step.answer = -1234;
  }
  // Infinite waits on the generator FIFO, some meeting an injected time-out.
  if (step.op == Op::AcquireRead && choices.chance(25)) {
    step.fifo = kReadFifo;
    step.typeCode = 7;
    step.count = 1 + choices.below(16);
    if (choices.chance(40)) {
      step.inject = Inject::lower;
      step.function = "ViDazoDll_AcquireFifoReadElementsU32";
      step.answer = kFifoTimeout;
    }
    step.infinite = infiniteIsSafe(step.session, step.count, step);
  }
  return step;
}

// Driver::call(): the export call itself, with the allocation counter on.
int32_t Driver::call(const Step& step, Observed* seen, uint32_t* arrayCount) {
  const uint32_t s = step.session;
  const bool null = step.nullPointer;
  uint32_t u32 = 0;
  uint16_t u16 = 0;
  float single = 0;
  uint8_t flag = 0;
  ViDazoHx_IrqContext context = nullptr;
  char text[64] = {};
  static const char* const names[] = {"sim0", "extra0"};
  const uint32_t timeout = step.infinite ? ViDazoHx_InfiniteTimeout : 0;
  // Register arrays are always U32; FIFO arrays have the step's type.
  const bool registerArray = step.op == Op::ReadArray32 || step.op == Op::WriteArray32;
  const int32_t arrayType = !registerArray && step.typeCode >= 1 && step.typeCode <= 8 ? step.typeCode : 7;
  ViDazoHx_ArrayHandle array = null ? nullptr : HostRuntimeSim_NewArray(arrayType, 3);
  int32_t status = 0;
  {
    LibraryCall counting;
    switch (step.op) {
      case Op::Open: status = ViDazoHx_Open("bitfile", "signature", "sim0", step.attribute, null ? nullptr : &seen->session); break;
      case Op::OpenResource: status = ViDazoHx_OpenResource(s, "sim1", 0, null ? nullptr : &seen->session); break;
      case Op::Close: status = ViDazoHx_Close(s, step.attribute); break;
      case Op::Run: status = ViDazoHx_Run(s, step.attribute); break;
      case Op::Abort: status = ViDazoHx_Abort(s); break;
      case Op::Download: status = ViDazoHx_Download(s); break;
      case Op::Reset: status = ViDazoHx_Reset(s); break;
      case Op::Read16: status = ViDazoHx_Read16(s, 4 * step.count, &u16); break;
      case Op::Read32: status = ViDazoHx_Read32(s, 4 * step.count, &u32); break;
      case Op::ReadSgl: status = ViDazoHx_ReadSgl(s, 4 * step.count, &single); break;
      case Op::Write16: status = ViDazoHx_Write16(s, 4 * step.count, 1); break;
      case Op::Write32: status = ViDazoHx_Write32(s, 4 * step.count, 2); break;
      case Op::WriteSgl: status = ViDazoHx_WriteSgl(s, 4 * step.count, 1.5f); break;
      case Op::ReadArray32: status = ViDazoHx_ReadArray32(s, 0, step.count, array); break;
      case Op::WriteArray32: status = ViDazoHx_WriteArray32(s, 0, array); break;
      case Op::ReserveIrq: status = ViDazoHx_ReserveIrqContext(s, &context); break;
      case Op::UnreserveIrq: status = ViDazoHx_UnreserveIrqContext(s, &context); break;
      case Op::WaitOnIrqs: status = ViDazoHx_WaitOnIrqs(s, null ? nullptr : &context, 1, 0, &u32, &flag); break;
      case Op::AcknowledgeIrqs: status = ViDazoHx_AcknowledgeIrqs(s, 1); break;
      case Op::ConfigureFifo: status = ViDazoHx_ConfigureFifo(s, step.fifo, 64); break;
      case Op::ConfigureFifo2: status = ViDazoHx_ConfigureFifo2(s, step.fifo, 64, null ? nullptr : &u32); break;
      case Op::StartFifo: status = ViDazoHx_StartFifo(s, step.fifo); break;
      case Op::StopFifo: status = ViDazoHx_StopFifo(s, step.fifo); break;
      case Op::ReadFifoScalar:
        status = ViDazoHx_ReadFifoScalar(s, step.fifo, step.count, step.typeCode, 0, 0, array, &u32);
        break;
      case Op::WriteFifoScalar: status = ViDazoHx_WriteFifoScalar(s, step.fifo, array, step.typeCode, 0, 0, &u32); break;
      case Op::AcquireRead:
      case Op::AcquireWrite: {
        auto acquire = step.op == Op::AcquireRead ? &ViDazoHx_AcquireFifoReadRegionScalar
                                                  : &ViDazoHx_AcquireFifoWriteRegionScalar;
        status = acquire(s, step.fifo, null ? nullptr : &seen->reference, step.count, step.typeCode, 0, timeout,
                         step.attribute == 1 && step.count == 3 ? nullptr : &seen->acquired, &u32);
        break;
      }
      case Op::PeerToPeer: status = ViDazoHx_GetPeerToPeerFifoEndpoint(s, step.fifo, null ? nullptr : &u32); break;
      case Op::GetResources: status = ViDazoHx_GetResources(s, text, null ? 0 : sizeof text, &u32); break;
      case Op::GetResourceName: status = ViDazoHx_GetResourceName(step.count % 3, text, sizeof text); break;
      case Op::GetResourceIndex: status = ViDazoHx_GetResourceIndex(null ? nullptr : "sim1", &u32); break;
      case Op::ReleaseResourceIndex: status = ViDazoHx_ReleaseResourceIndex(step.count % 3); break;
      case Op::AddResources: status = ViDazoHx_AddResources(null ? nullptr : names, null ? 1 : 2); break;
      case Op::Dispose: status = HostRuntimeSim_DisposeReference(s); break;
      case Op::HostCleanup: HostRuntimeSim_RunCleanup(); break;
      case Op::LowerClose: status = ViDazoDll_Close(s, 0); break;
      case Op::Count: break;
    }
  }
  if (array != nullptr) {
    *arrayCount = static_cast<uint32_t>((*array)->count);
    HostRuntimeSim_FreeArray(array);
  }
  return status;
}

// Driver::predict(): what the model says the step answers; the lower calls
// it expects land in the oracle.
int32_t Driver::predict(Model& model, Oracle& o, const Step& step, const Observed& seen) {
  const uint32_t s = step.session;
  const int32_t hostAnswer = step.inject == Inject::host ? step.answer : 0;
  const bool nullBlock = step.nullPointer;
  switch (step.op) {
    case Op::Open: return model.open(o, step.nullPointer, step.function == "RTSetCleanupProc" ? hostAnswer : 0, seen);
    case Op::OpenResource: return model.openResource(o, s, step.nullPointer, seen);
    case Op::Close: return model.close(o, s, step.attribute);
    case Op::Download: return model.guarded(o, "Download", s);
    case Op::Reset: return model.guarded(o, "Reset", s);
    case Op::StartFifo: return model.startFifo(o, s, step.fifo);
    case Op::AcquireRead:
    case Op::AcquireWrite:
      return model.acquire(o, step.op == Op::AcquireWrite, s, step.fifo, step.count, step.typeCode, step.infinite,
                           step.nullPointer, step.attribute == 1 && step.count == 3,
                           step.function == "RTSetCleanupProc" ? hostAnswer : 0,
                           step.function == "EDVR_CreateReference" ? hostAnswer : 0, seen);
    case Op::Dispose: return model.dispose(o, s);
    case Op::HostCleanup: model.hostCleanup(o); return 0;
    case Op::LowerClose: return model.lowerClosesOnItsOwn(o, s);
    // IRQ contexts are only counted here; the next open reserves them.
    case Op::ReserveIrq: ++model.irqContexts; return 0;
    case Op::UnreserveIrq: --model.irqContexts; return 0;
    default: break;
  }
  // The rest forward to the lower library or the broker and pass its answer on.
  if (step.op == Op::ReadArray32 && nullBlock) return kInvalid;
  if (step.op == Op::WriteArray32 && nullBlock) return kInvalid;
  if (step.op != Op::GetResourceName && step.op != Op::GetResourceIndex && step.op != Op::ReleaseResourceIndex &&
      step.op != Op::AddResources && (s & kUnsupportedBit)) {
    return kNotSupported;
  }
  if (isBroker(step.op)) return 1;  // compared with the broker's journal instead
  const Forward* forward = forwardOf(step.op);
  const bool typed = step.op == Op::ReadFifoScalar || step.op == Op::WriteFifoScalar;
  if ((step.op == Op::WaitOnIrqs || step.op == Op::ConfigureFifo2 || typed) && nullBlock) return kInvalid;
  if (typed && typeSuffix(step.typeCode).empty()) return kInvalid;
  if ((step.op == Op::ReadArray32 || step.op == Op::ReadFifoScalar) && hostAnswer != 0) {
    return reliability::hostAnswer(hostAnswer);
  }
  std::string name = forward->lower;
  if (typed) name += typeSuffix(step.typeCode);
  if (step.op == Op::AddResources) return o.lower(name);
  int32_t status = 0;
  merge(&status, o.lower(line(name, {forward->routed ? s | kRoutedBit : s})));
  return status;
}

std::string Driver::checkState() {
  // Host registrations: one mode-2 cleanup per open session, no acquisition's left.
  std::vector<HostRuntimeSim_Registration> registrations(HostRuntimeSim_ListCleanup(nullptr, 0));
  HostRuntimeSim_ListCleanup(registrations.data(), registrations.size());
  std::vector<uint32_t> cleanups;
  for (const auto& registration : registrations) {
    if (registration.mode != 2) return "an acquisition's cleanup registration was left behind";
    cleanups.push_back(static_cast<uint32_t>(registration.argument));
  }
  if (cleanups != model_.cleanups) {
    return "host cleanup registrations differ: expected " + std::to_string(model_.cleanups.size()) + ", found " +
           std::to_string(cleanups.size());
  }
  if (HostRuntimeSim_ListReferences(nullptr, 0) != model_.lent.size()) return "live references differ";
  // No lent element lost: the stand-in has out exactly what the model has.
  for (const auto& entry : model_.sessions) {
    if (model_.orphaned.count(entry.first) != 0) continue;
    for (uint32_t fifo : {kReadFifo, kWriteFifo}) {
      ViDazoSim_FifoCounts counts{};
      if (ViDazoSim_GetFifoCounts(entry.first, fifo, &counts) != 0) continue;
      if (counts.acquired != model_.lentCount(entry.first, fifo)) {
        return "session " + std::to_string(entry.first) + " FIFO " + std::to_string(fifo) + ": " +
               std::to_string(counts.acquired) + " elements acquired, model has " +
               std::to_string(model_.lentCount(entry.first, fifo));
      }
    }
  }
  return "";
}

// Driver::compareState(): the candidate's records, links, open lower
// sessions, registrations and references against what is there now. The
// order of registrations made on two threads is not the model's to know.
std::string Driver::compareState(const Model& candidate) {
  {
    tSharedHolder registry(registryLock);
    if (sessionRegistry.size() != candidate.sessions.size()) {
      return std::to_string(sessionRegistry.size()) + " records, model " + std::to_string(candidate.sessions.size());
    }
    for (const auto& entry : candidate.sessions) {
      tSessionState* record = sessionRegistry.find(entry.first);
      if (record == nullptr) return "no record of session " + std::to_string(entry.first);
      std::vector<uint32_t> children;
      for (uint32_t index = 0; index < record->childSessions.size(); ++index) children.push_back(record->childSessions.at(index));
      if (children != entry.second.children) return "children of session " + std::to_string(entry.first) + " differ";
      const tSessionState* parent = entry.second.parent == 0 ? nullptr : sessionRegistry.find(entry.second.parent);
      if (record->parentState != parent) return "parent of session " + std::to_string(entry.first) + " differs";
    }
  }
  if (ViDazoSim_OpenSessionCount() != candidate.lowerOpen.size()) {
    return "lower library has " + std::to_string(ViDazoSim_OpenSessionCount()) + " sessions open, model " +
           std::to_string(candidate.lowerOpen.size());
  }
  for (uint32_t value : candidate.lowerOpen) {
    ViDazoSim_SessionInfo info{};
    if (ViDazoSim_GetSessionInfo(value, &info) != 0) return "session " + std::to_string(value) + " closed below";
  }
  std::vector<HostRuntimeSim_Registration> registrations(HostRuntimeSim_ListCleanup(nullptr, 0));
  HostRuntimeSim_ListCleanup(registrations.data(), registrations.size());
  std::vector<uint32_t> cleanups, expected = candidate.cleanups;
  for (const auto& registration : registrations) cleanups.push_back(static_cast<uint32_t>(registration.argument));
  std::sort(cleanups.begin(), cleanups.end());
  std::sort(expected.begin(), expected.end());
  if (cleanups != expected) return "host cleanup registrations differ";
  std::vector<uint32_t> references(HostRuntimeSim_ListReferences(nullptr, 0));
  HostRuntimeSim_ListReferences(references.data(), references.size());
  for (uint32_t reference : references) {
    if (candidate.lent.count(reference) == 0) return "reference " + std::to_string(reference) + " not lent in the model";
  }
  return references.size() == candidate.lent.size() ? "" : "references differ";
}

std::string Driver::adopt(const std::vector<Model>& candidates) {
  std::string first;
  for (const Model& candidate : candidates) {
    std::string difference = compareState(candidate);
    if (difference.empty()) {
      model_ = candidate;
      // The registrations' order is the host's; later steps follow it.
      std::vector<HostRuntimeSim_Registration> registrations(HostRuntimeSim_ListCleanup(nullptr, 0));
      HostRuntimeSim_ListCleanup(registrations.data(), registrations.size());
      model_.cleanups.clear();
      for (const auto& registration : registrations) model_.cleanups.push_back(static_cast<uint32_t>(registration.argument));
      instances_.restart(model_);
      difference = checkState();
      if (difference.empty()) return "";
    }
    first += (first.empty() ? "" : "; or ") + difference;
  }
  return first;
}

std::string Driver::compare(const Step& step, int32_t status, const Observed& seen, const Oracle& actual,
                            uint32_t arrayCount, bool allocationFailed) {
  // With an allocation failed, the step may also have failed at its first
  // non-sticky allocation; the first alternative that matches is taken.
  const std::set<StickyKey> latched = allocationFailed ? newlyLatched(model_) : std::set<StickyKey>{};
  std::vector<int32_t> alternatives{0};
  if (allocationFailed) alternatives.insert(alternatives.end(), {kMemoryFull, kUnexpected, kSyncInitFailed});
  std::string firstDifference;
  for (int32_t forced : alternatives) {
    Model candidate = model_;
    candidate.latchedNow = latched;
    candidate.forcedFailure = forced;
    Oracle oracle = actual;
    int32_t expected = predict(candidate, oracle, step, seen);
    if (isBroker(step.op) && expected == 1) {
      VoKelSrvSim_JournalEntry entry{};
      const uint32_t size = VoKelSrvSim_JournalSize();
      expected = size == 1 && VoKelSrvSim_JournalRead(0, &entry) == 0 ? entry.result : 0x7FFFFFFF;
    }
    std::string difference;
    if (status != expected) {
      difference = "status " + std::to_string(status) + ", model " + std::to_string(expected) + " after lower calls " +
                   join(oracle.actual) + " answering " + std::to_string(oracle.results.empty() ? 0 : oracle.results.back());
    } else if (oracle.expected != oracle.actual) {
      difference = "lower calls " + join(oracle.actual) + ", model " + join(oracle.expected);
    } else if ((step.op == Op::ReadArray32 || step.op == Op::ReadFifoScalar) && !step.nullPointer &&
               !(step.session & kUnsupportedBit && step.op == Op::ReadFifoScalar) &&
               arrayCount != (status < 0 ? 0 : step.count)) {
      difference = "array count " + std::to_string(arrayCount);
    }
    if (difference.empty() && allocationFailed && !sameFifoRecords(candidate)) difference = "FIFO records differ";
    if (difference.empty()) {
      candidate.latchedNow.clear();
      candidate.forcedFailure = 0;
      candidate.applyLatched(latched);
      model_ = candidate;
      return checkState();
    }
    if (firstDifference.empty()) firstDifference = difference;
  }
  return firstDifference;
}

std::string Driver::run(const Step& step) {
  history_.push_back(step);
  ++stepsRun;
  if (step.reuseValue != 0) ViDazoSim_SetNextSession(step.reuseValue);
  if (step.inject == Inject::lower) ViDazoSim_InjectStatus(step.function.c_str(), step.answer, 1);
  if (step.inject == Inject::host) HostRuntimeSim_InjectResult(step.function.c_str(), 1, step.answer);
  if (step.inject == Inject::broker) VoKelSrvSim_InjectStatus(step.function.c_str(), 1, step.answer);
  ViDazoSim_ClearJournal();
  VoKelSrvSim_JournalClear();
  askCloses(step);
  if (step.inject == Inject::allocation) failAllocation(static_cast<uint64_t>(step.answer));
  Observed seen;
  uint32_t arrayCount = 0;
  const int32_t status = call(step, &seen, &arrayCount);
  lastStatus_ = status;
  const bool allocationFailed = takeAllocationFailure();
  if (step.inject == Inject::allocation) failAllocation(0);
  last_ = seen;
  ViDazoSim_ClearInjections();
  if (step.inject == Inject::host) HostRuntimeSim_InjectResult(step.function.c_str(), 0, 0);
  if (step.inject == Inject::broker) VoKelSrvSim_InjectStatus(step.function.c_str(), 0, 0);
  const Oracle actual = readLowerJournal();
  const std::set<uint32_t> openBefore = model_.lowerOpen;
  std::string difference = compare(step, status, seen, actual, arrayCount, allocationFailed);
  if (difference.empty()) difference = followInstances(actual, seen.session);
  for (uint32_t value : openBefore) {
    if (model_.lowerOpen.count(value) == 0) closedValues_.push_back(value);
  }
  // A new session's read FIFO feeds itself, so infinite waits can be issued.
  if ((step.op == Op::Open || step.op == Op::OpenResource) && model_.sessions.count(seen.session) != 0) {
    ViDazoSim_StartGenerator(seen.session, kReadFifo, seen.session, ~0ull);
  }
  return difference;
}

std::string Driver::finish(Choices& choices) {
  // The host lets go of every region in any order, then closes what is open.
  while (!model_.lent.empty()) {
    auto it = model_.lent.begin();
    std::advance(it, choices.below(model_.lent.size()));
    Step dispose;
    dispose.op = Op::Dispose;
    dispose.session = it->first;
    std::string difference = run(dispose);
    if (!difference.empty()) return describe(dispose) + ": " + difference;
  }
  for (int guard = 0; guard < 1000 && !model_.sessions.empty(); ++guard) {
    Step close;
    close.op = Op::Close;
    close.session = model_.sessions.begin()->first;
    std::string difference = run(close);
    if (!difference.empty()) return describe(close) + ": " + difference;
  }
  if (!model_.sessions.empty()) return "sessions stay registered after every close";
  // The host stops: registrations of values closed on the way are run.
  Step stop;
  stop.op = Op::HostCleanup;
  std::string stopped = run(stop);
  if (!stopped.empty()) return describe(stop) + ": " + stopped;
  {
    tSharedHolder registry(registryLock);
    if (!sessionRegistry.empty()) return "the library still records sessions the host closed";
  }
  // Nothing the library forgot stays open below it.
  if (ViDazoSim_OpenSessionCount() != model_.lowerOpen.size()) {
    return "lower library has " + std::to_string(ViDazoSim_OpenSessionCount()) + " sessions open, model " +
           std::to_string(model_.lowerOpen.size());
  }
  if (HostRuntimeSim_ListReferences(nullptr, 0) != 0 || HostRuntimeSim_ListCleanup(nullptr, 0) != 0) {
    return "references or registrations are left";
  }
  return "";
}

std::string Driver::sequence(Choices& choices, uint32_t steps, bool verbose) {
  reset();
  std::string difference;
  for (uint32_t index = 0; index < steps && difference.empty() && !choices.exhausted(); ++index) {
    const Step step = randomStep(choices);
    difference = run(step);
    if (verbose) {
      std::printf("  %3u %s -> %d (value %u) %s;", index, describe(step).c_str(), lastStatus_, last_.session, difference.empty() ? "ok" : "DIFFERS");
      for (const auto& entry : model_.sessions) {
        std::printf(" %u%s<%u", entry.first, entry.second.closePending ? "*" : "", entry.second.parent);
        for (const auto& fifo : entry.second.fifos) std::printf("/%u", fifo.first);
        if (entry.second.fifoMapFailed) std::printf("!");
      }
      std::printf("\n");
    }
  }
  if (difference.empty()) difference = finish(choices);
  if (difference.empty()) return "";
  std::string report = difference + "\n  shortest failing prefix (" + std::to_string(history_.size()) + " steps):\n";
  for (std::size_t index = 0; index < history_.size(); ++index) {
    report += "    " + std::to_string(index) + " " + describe(history_[index]) + "\n";
  }
  return report;
}

}  // namespace reliability
