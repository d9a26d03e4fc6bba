// driver.h: runs steps over the 33 exports, region disposals and host
// cleanup against the stand-ins, and checks every step against the model.
// The random sequences, the fuzz target and the allocation sweep's
// scenarios all run through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "hostModel.h"

namespace reliability {

// Where the choices come from: a seeded generator, or fuzz input (which
// answers 0 once used up).
class Choices {
 public:
  explicit Choices(uint64_t seed) : random_(seed) {}
  Choices(const uint8_t* data, std::size_t size) : data_(data), size_(size), fromData_(true) {}
  uint32_t below(uint32_t bound);  // 0 .. bound-1
  bool chance(uint32_t percent) { return below(100) < percent; }
  bool exhausted() const { return fromData_ && position_ >= size_; }
  // Records the choices as fuzz input that makes the same ones (every bound
  // is below 65536: two bytes each).
  std::vector<uint8_t>* recording = nullptr;

 private:
  std::mt19937_64 random_;
  const uint8_t* data_ = nullptr;
  std::size_t size_ = 0, position_ = 0;
  bool fromData_ = false;
};

enum class Op : uint8_t {
  Open, OpenResource, Close, Run, Abort, Download, Reset, Read16, Read32, ReadSgl, Write16, Write32, WriteSgl,
  ReadArray32, WriteArray32, ReserveIrq, UnreserveIrq, WaitOnIrqs, AcknowledgeIrqs, ConfigureFifo,
  ConfigureFifo2, StartFifo, StopFifo, ReadFifoScalar, WriteFifoScalar, AcquireRead, AcquireWrite,
  PeerToPeer, GetResources, GetResourceName, GetResourceIndex, ReleaseResourceIndex, AddResources,
  Dispose, HostCleanup, LowerClose, Count
};

enum class Inject : uint8_t { none, lower, host, broker, allocation };

struct Step {
  Op op = Op::Run;
  uint32_t session = 0;  // or parent, reference, index
  uint32_t fifo = 6;
  uint32_t count = 4;
  int32_t typeCode = 7;
  uint32_t attribute = 0;
  bool infinite = false;
  bool nullPointer = false;  // the step's main output or handle is absent
  uint32_t reuseValue = 0;   // the lower library hands out this value next
  Inject inject = Inject::none;
  std::string function;      // injected function
  int32_t answer = 0;        // injected status or host answer; n-th allocation
};

std::string describe(const Step& step);

class Driver;

Step makeStep(Op op, uint32_t session = 0, uint32_t fifo = 6, uint32_t count = 8);

// Runs steps in order through a driver, stopping at the first difference.
class Script {
 public:
  explicit Script(Driver& driver) : driver_(driver) {}
  // The step's session (or reference) handed back, for later steps.
  uint32_t operator()(const Step& step);
  std::string failure;

 private:
  Driver& driver_;
};

class Driver {
 public:
  Driver();
  // Fresh stand-ins and library state for a new sequence.
  void reset();
  Step randomStep(Choices& choices);
  // Runs one step; returns "" or what differed from the model.
  std::string run(const Step& step);
  // Gives everything back, closes what is open, checks nothing is left.
  std::string finish(Choices& choices);
  // One sequence of `steps` random steps; "" or the failure with the prefix.
  std::string sequence(Choices& choices, uint32_t steps, bool verbose);

  // What the last step handed back (session, reference).
  const Observed& last() const { return last_; }
  const Model& model() const { return model_; }
  // After steps the model could not follow one by one (two threads): takes
  // the first candidate whose state is the library's and the stand-ins'
  // (records and their links, open lower sessions, host registrations, lent
  // references and elements); "" or how the first candidate differs.
  std::string adopt(const std::vector<Model>& candidates);
  uint64_t stepsRun = 0;

 private:
  int32_t call(const Step& step, Observed* seen, uint32_t* arrayCount);
  std::string compare(const Step& step, int32_t status, const Observed& seen, const Oracle& actual,
                      uint32_t arrayCount, bool allocationFailed);
  std::string checkState();
  std::string compareState(const Model& candidate);
  int32_t predict(Model& model, Oracle& oracle, const Step& step, const Observed& seen);
  uint32_t pickSession(Choices& choices);
  bool infiniteIsSafe(uint32_t session, uint32_t count, const Step& step);

  Model model_;
  int32_t lastStatus_ = 0;
  Observed last_;
  std::vector<uint32_t> closedValues_;
  std::vector<Step> history_;
};

}  // namespace reliability
