// driver.h: runs steps over the 33 exports, region disposals and host
// cleanup against the stand-ins, and checks every step against the model.
// The random sequences, the fuzz target and the allocation sweep's
// scenarios all run through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <set>
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

// Session instances as the lower library opened and closed them, told
// apart by instance rather than by value (values are handed out again).
// Checks a promise of the header without the model: once no region is
// out, no instance whose close the host asked for is open below, unless a
// lower close it waited for (its own or a resource session's below it)
// answered an error.
class Instances {
 public:
  void clear() { *this = Instances(); }
  // The host asks for the close of whatever instance has `value` now.
  void ask(uint32_t value);
  // One lower call of a step as the model writes it ("Close 5 1"), in
  // journal order; `opened` is the value an open handed out.
  void lowerCall(const std::string& call, int32_t result, uint32_t opened);
  // After steps it could not follow one by one (two threads): starts again
  // from the sessions open below, none of them asked to close yet.
  void restart(const Model& model);
  // "" or the first asked instance still open below.
  std::string unclosed() const;

 private:
  uint64_t last_ = 0;
  std::map<uint32_t, uint64_t> current_;      // value -> the instance open with it
  std::map<uint32_t, uint32_t> parentValue_;  // value -> the value it was last opened under (0: none)
  std::map<uint64_t, uint32_t> value_;        // open instance -> value
  std::set<uint64_t> asked_, excused_;
};

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
  Instances instances_;
  // The instances a step asks to close (Close, host cleanup), then its lower
  // calls; "" or the unclosed instance once no region is out.
  void askCloses(const Step& step);
  std::string followInstances(const Oracle& actual, uint32_t opened);
};

}  // namespace reliability
