// hostModel.h: a small reference model of what a host can observe of the
// library: sessions and their children, FIFO records, lent regions, put-off
// closes, host cleanup registrations and the reserved IRQ context count.
//
// The model is written from the public header and the settled behaviour, not
// from the library's code. It does not simulate the lower library: each
// lower call it predicts is answered by the matching entry of the journal the
// stand-in kept (the Oracle), so the model checks which calls the library
// made, with which session value and count, in which order, and what the
// library made of their answers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "protons/seam/seam.h"

namespace reliability {

// The lower calls of one step as the stand-in journalled them.
struct Oracle {
  std::vector<std::string> actual;  // "Close 5 1", "ReleaseFifoElements 16389 6 12", ...
  std::vector<int32_t> results;
  std::vector<std::string> expected;
  // When set, answers every call instead of the journal: for steps that ran
  // on two threads, whose calls interleave.
  std::function<int32_t(const std::string&)> answer;
  // lower(): records the call the model expects and answers with the result
  // the stand-in gave at the same position (0 past the end: the lines differ
  // then anyway).
  int32_t lower(const std::string& line);
};

// Allocation failures the library latches for the life of a container.
enum class Sticky { registry, childList, fifoMap, regionList };
struct StickyKey {
  Sticky kind;
  uint32_t session;
  uint32_t fifo;
  bool operator<(const StickyKey& other) const;
};

struct Region {
  uint32_t count = 0;
  uint32_t reference = 0;  // 0: never handed out (the host refused it)
  bool released = false;
};

struct FifoRecord {
  std::deque<Region> regions;  // oldest first, released ones wait for their turn
  bool regionListFailed = false;
};

struct SessionRecord {
  uint32_t parent = 0;
  std::vector<uint32_t> children;
  std::map<uint32_t, FifoRecord> fifos;
  bool closePending = false;
  bool closePendingOnChildren = false;
  bool childListFailed = false;
  bool fifoMapFailed = false;
  uint64_t generation = 0;  // a new one each time the lower library hands the value out
};

// What a step handed back that the model cannot know beforehand.
struct Observed {
  uint32_t session = 0;        // *sessionOut of an open
  uint32_t acquired = 0;       // *elementsAcquiredOut
  uint32_t reference = 0;      // *referenceOut
};

class Model {
 public:
  std::map<uint32_t, SessionRecord> sessions;
  std::set<uint32_t> lowerOpen;      // values open in the lower library (bit 0x4000 ignored)
  std::vector<uint32_t> cleanups;    // mode-2 host registrations, oldest first
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> lent;  // reference -> (session, FIFO)
  std::set<uint32_t> orphaned;      // records whose lower session the host closed behind them
  bool registryFailed = false;
  int32_t irqContexts = 0;
  uint64_t lastGeneration = 0;
  // Closes in flight, from the removal of the record to the lower close:
  // true while the value is still theirs, false once a registration of it
  // showed that the lower library ended the session and handed it out again.
  std::map<uint32_t, bool> closing;
  // The host's cleanup ran while an acquisition was under way (its mode-6
  // procedure): that acquisition stops at the top of its next cycle.
  bool acquisitionCancelled = false;

  // Set by the driver for a step in which an allocation failed: the sticky
  // flags the library latched during the step, and a failure of the step's
  // first non-sticky allocation (0: none).
  std::set<StickyKey> latchedNow;
  int32_t forcedFailure = 0;

  int32_t open(Oracle& o, bool nullOut, int32_t hostCleanupAnswer, const Observed& seen);
  int32_t openResource(Oracle& o, uint32_t parent, bool nullOut, const Observed& seen);
  // `cleanup`: the host's cleanup procedure, which never waits for a close in flight.
  int32_t close(Oracle& o, uint32_t session, uint32_t attribute, bool cleanup = false);
  int32_t guarded(Oracle& o, const char* lowerName, uint32_t session);  // download, reset
  int32_t startFifo(Oracle& o, uint32_t session, uint32_t fifo);
  // `capped`: the timeout is infinite, or finite above 3000 ms and not used
  // up within the step (the model keeps no time); its waits are cut into
  // attempts, and the host's cleanup ends it at the next cycle.
  int32_t acquire(Oracle& o, bool write, uint32_t session, uint32_t fifo, uint32_t count, int32_t typeCode,
                  bool capped, bool nullReference, bool nullAcquired, int32_t hostCleanupAnswer,
                  int32_t hostReferenceAnswer, const Observed& seen);
  int32_t dispose(Oracle& o, uint32_t reference);
  // Called at each point where the library lets another host thread act
  // between two steps of one operation (protons/seam/seam.h names them), so
  // that a driver can put that thread's operation into the model there.
  std::function<void(tSeam)> onSeam;
  void hostCleanup(Oracle& o);
  // The lower library ends a session by itself (its target went away): the
  // value may be handed out again while the library still has a record of it.
  int32_t lowerClosesOnItsOwn(Oracle& o, uint32_t session);

  uint32_t lentCount(uint32_t session, uint32_t fifo) const;
  // Takes over the flags the library latched in a step that failed an allocation.
  void applyLatched(const std::set<StickyKey>& latched);

 private:
  bool latch(bool* flag, Sticky kind, uint32_t session = 0, uint32_t fifo = 0);
  int32_t registerSession(Oracle& o, uint32_t session, uint32_t parent);
  void leaveParent(Oracle& o, uint32_t session);
  int32_t undoOpen(Oracle& o, uint32_t session, bool hadRecord, bool registeredCleanup);
  bool addFifo(SessionRecord& record, uint32_t session, uint32_t fifo);
  bool isDescendant(uint32_t candidate, uint32_t ancestor) const;
  static bool hasRegionsOut(const SessionRecord& record);
  enum class Settled { closable, refused, skipped };
  enum class CloseKind { requested, putOff, parent };
  void reach(tSeam seam) {
    if (onSeam) onSeam(seam);
  }
  int32_t finishPutOffClose(Oracle& o, uint32_t session, uint64_t generation);
  int32_t closePendingParent(Oracle& o, uint32_t parent, uint32_t attribute);
  Settled settle(Oracle& o, uint32_t session, bool onlyPendingParent, uint32_t* pendingParent);
  bool sweep(uint32_t session);
  bool closeChildren(Oracle& o, uint32_t session);
  void remove(uint32_t session);
  int32_t finishClose(Oracle& o, uint32_t session, uint32_t attribute, uint32_t pendingParent, bool marked,
                      CloseKind kind);
  void lowerClose(Oracle& o, uint32_t session, uint32_t attribute, int32_t* status);
  void giveBack(Oracle& o, uint32_t session, uint32_t fifo, FifoRecord& record);
  void withdrawCleanup(uint32_t session);
};

// Statuses the model speaks of.
constexpr int32_t kNotSupported = -61499, kRegionsOut = -61217, kNotFound = -63195, kMemoryFull = -52000,
                  kInvalid = -52005, kUnexpected = -52003, kCancelled = -50405, kAcquireTimedOut = -61219,
                  kFifoTimeout = -50400;
constexpr uint32_t kUnsupportedBit = 0x2000, kRoutedBit = 0x4000;

void merge(int32_t* into, int32_t status);
int32_t hostAnswer(int32_t hostResult);
std::string typeSuffix(int32_t typeCode);
std::string line(const std::string& function, std::initializer_list<uint64_t> arguments);

}  // namespace reliability
