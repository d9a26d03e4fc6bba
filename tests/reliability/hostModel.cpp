// hostModel.cpp: the rules of the reference model, one comment per rule
// saying what a host may rely on.

#include "hostModel.h"

#include <algorithm>

namespace reliability {

int32_t Oracle::lower(const std::string& text) {
  const std::size_t position = expected.size();
  expected.push_back(text);
  if (answer) return answer(text);
  return position < results.size() ? results[position] : 0;
}

bool StickyKey::operator<(const StickyKey& other) const {
  if (kind != other.kind) return kind < other.kind;
  if (session != other.session) return session < other.session;
  return fifo < other.fifo;
}

// An error is never overwritten; a warning only replaces a success.
void merge(int32_t* into, int32_t status) {
  if (*into < 0) return;
  if (*into > 0 && status >= 0) return;
  *into = status;
}

// Host answers: 2 is memory full, 41 a cancel, anything else unexpected.
int32_t hostAnswer(int32_t hostResult) {
  if (hostResult == 0) return 0;
  if (hostResult == 2) return kMemoryFull;
  if (hostResult == 41) return kCancelled;
  return kUnexpected;
}

std::string typeSuffix(int32_t typeCode) {
  static const char* const names[] = {"", "I8", "I16", "I32", "I64", "U8", "U16", "U32", "U64"};
  return typeCode >= 1 && typeCode <= 8 ? names[typeCode] : "";
}

std::string line(const std::string& function, std::initializer_list<uint64_t> arguments) {
  std::string text = function;
  for (uint64_t argument : arguments) text += " " + std::to_string(argument);
  return text;
}

namespace {
uint32_t routed(uint32_t session) { return session | kRoutedBit; }
uint32_t lowerKey(uint32_t session) { return session & ~kRoutedBit; }
}  // namespace

// A latched allocation failure stays for the life of its container.
bool Model::latch(bool* flag, Sticky kind, uint32_t session, uint32_t fifo) {
  if (!*flag && latchedNow.count(StickyKey{kind, session, fifo}) != 0) *flag = true;
  return *flag;
}

void Model::applyLatched(const std::set<StickyKey>& latched) {
  for (const StickyKey& key : latched) {
    if (key.kind == Sticky::registry) registryFailed = true;
    auto found = sessions.find(key.session);
    if (key.kind == Sticky::registry || found == sessions.end()) continue;
    if (key.kind == Sticky::childList) found->second.childListFailed = true;
    if (key.kind == Sticky::fifoMap) found->second.fifoMapFailed = true;
    auto fifo = found->second.fifos.find(key.fifo);
    if (key.kind == Sticky::regionList && fifo != found->second.fifos.end()) fifo->second.regionListFailed = true;
  }
}

uint32_t Model::lentCount(uint32_t session, uint32_t fifo) const {
  auto found = sessions.find(session);
  if (found == sessions.end()) return 0;
  auto record = found->second.fifos.find(fifo);
  if (record == found->second.fifos.end()) return 0;
  uint32_t total = 0;
  for (const Region& region : record->second.regions) total += region.count;
  return total;
}

bool Model::hasRegionsOut(const SessionRecord& record) {
  for (const auto& fifo : record.fifos) {
    if (!fifo.second.regions.empty()) return true;
  }
  return false;
}

bool Model::isDescendant(uint32_t candidate, uint32_t ancestor) const {
  for (uint32_t at = candidate; at != 0;) {
    if (at == ancestor) return true;
    auto found = sessions.find(at);
    at = found == sessions.end() ? 0 : found->second.parent;
  }
  return false;
}

// A value leaving its parent's list by re-registration is gone from there
// as if it had closed: when it was the last child a put-off close of the
// parent waited for, that close finishes now, on the library's account.
void Model::leaveParent(Oracle& o, uint32_t session) {
  const uint32_t parent = sessions[session].parent;
  sessions[session].parent = 0;
  if (parent == 0 || sessions.count(parent) == 0) return;
  auto& old = sessions[parent].children;
  old.erase(std::remove(old.begin(), old.end(), session), old.end());
  if (!sessions[parent].closePendingOnChildren || !old.empty()) return;
  closePendingParent(o, parent, 1);
}

int32_t Model::registerSession(Oracle& o, uint32_t session, uint32_t parent) {
  const bool known = sessions.count(session) != 0;
  if (known) sessions[session].generation = ++lastGeneration;
  if (closing.count(session) != 0) closing[session] = false;
  // Once the session map failed to grow, no session is recorded any more.
  if (registryFailed) return kMemoryFull;
  if (!known && latch(&registryFailed, Sticky::registry)) return kMemoryFull;
  // A record whose own lock or node cannot be made is not kept.
  if (!known && forcedFailure != 0) return forcedFailure;
  // A parent must be a session opened through the library.
  if (parent != 0 && sessions.count(parent) == 0) return kNotFound;
  // A link that would make a session its own ancestor changes nothing.
  if (known && parent != 0 && isDescendant(parent, session)) return kInvalid;
  // A value handed out again keeps its record, which now describes the
  // live session that got it (regions lent by the ended one stay with it,
  // and the lower library no longer counts them): a close the library
  // started for the ended session does not reach the new one.
  if (known && !hasRegionsOut(sessions[session])) orphaned.erase(session);
  if (!known) sessions[session].generation = ++lastGeneration;
  // Linked again to the parent it has, a value stays where it is listed.
  if (known && parent != 0 && sessions[session].parent == parent) return 0;
  sessions[session];
  // A child list that failed to grow takes no value, not even a stale one;
  // the value stays where it was listed.
  if (parent != 0 && latch(&sessions[parent].childListFailed, Sticky::childList, parent)) return kMemoryFull;
  // Re-registration moves the value: it leaves its old parent's list.
  leaveParent(o, session);
  if (parent == 0) return 0;
  sessions[parent].children.push_back(session);
  sessions[session].parent = parent;
  return 0;
}

int32_t Model::open(Oracle& o, bool nullOut, int32_t hostCleanupAnswer, const Observed& seen) {
  // A failed session map fails every open before the lower library is asked.
  if (registryFailed) return kMemoryFull;
  // Without an output the new session could be neither reported nor closed.
  if (nullOut) return kInvalid;
  int32_t status = o.lower("Open");
  if (status < 0) return status;
  const uint32_t session = seen.session;
  lowerOpen.insert(lowerKey(session));
  // Each announced IRQ context is reserved, up to the first failure.
  for (int32_t index = 0; index < irqContexts && status >= 0; ++index) {
    merge(&status, o.lower(line("ReserveIrqContext", {session, 0})));
  }
  // The cleanup is registered even after a failed reservation; a refusal is
  // an unexpected failure unless an earlier error stands.
  const bool hadRecord = sessions.count(session) != 0;
  if (hostCleanupAnswer != 0) {
    const int32_t failure = status < 0 ? status : kUnexpected;
    undoOpen(o, session, hadRecord, false);
    return failure;
  }
  cleanups.push_back(session);
  // Every failure after the lower open closes the session again.
  if (status < 0 || (merge(&status, registerSession(o, session, 0)), status < 0)) {
    undoOpen(o, session, hadRecord, true);
    return status;
  }
  return status;
}

int32_t Model::openResource(Oracle& o, uint32_t parent, bool nullOut, const Observed& seen) {
  // A value with bit 0x2000 is refused before anything else.
  if (parent & kUnsupportedBit) return kNotSupported;
  if (nullOut) return kInvalid;
  // The parent reaches the lower library routed, as the host passed it.
  int32_t status = o.lower(line("OpenResource", {routed(parent)}));
  if (status < 0) return status;
  const bool hadRecord = sessions.count(seen.session) != 0;
  lowerOpen.insert(lowerKey(seen.session));
  merge(&status, registerSession(o, seen.session, parent));
  // A child that cannot be recorded is closed again, leaving no trace.
  if (status < 0) undoOpen(o, seen.session, hadRecord, false);
  return status;
}

// A failed open undoes only what it did. A value that had a record before
// the call belongs to a session the lower library ended by itself: that
// record, its children and its links stay as they are, and only the lower
// session this call opened is closed (with the cleanup registration this
// call made). Otherwise the value is closed as any close of the library's.
// The value was just handed out, so a close of it in flight is over below.
int32_t Model::undoOpen(Oracle& o, uint32_t session, bool hadRecord, bool registeredCleanup) {
  if (closing.count(session) != 0) closing[session] = false;
  const bool keepsRecord = hadRecord && sessions.count(session) != 0;
  if (keepsRecord) closing[session] = true;
  reach(tSeam::undoBeforeClose);
  if (!keepsRecord) return close(o, session, 1);
  if (registeredCleanup) withdrawCleanup(session);
  int32_t status = 0;
  if (closing[session]) lowerClose(o, session, 1, &status);
  closing.erase(session);
  return status;
}

int32_t Model::lowerClosesOnItsOwn(Oracle& o, uint32_t session) {
  const int32_t answer = o.lower(line("Close", {session, 0}));
  if (answer < 0) return answer;
  lowerOpen.erase(lowerKey(session));
  if (sessions.count(lowerKey(session)) != 0) orphaned.insert(lowerKey(session));
  return answer;
}

void Model::withdrawCleanup(uint32_t session) {
  auto newest = std::find(cleanups.rbegin(), cleanups.rend(), session);
  if (newest != cleanups.rend()) cleanups.erase(std::next(newest).base());
}

void Model::lowerClose(Oracle& o, uint32_t session, uint32_t attribute, int32_t* status) {
  const int32_t answer = o.lower(line("Close", {session, attribute}));
  if (answer >= 0) lowerOpen.erase(lowerKey(session));
  // A value closed below the library under another spelling leaves its
  // record behind, describing a lower session that is gone.
  if (answer >= 0 && session != lowerKey(session) && sessions.count(lowerKey(session)) != 0) {
    orphaned.insert(lowerKey(session));
  }
  if (status != nullptr) merge(status, answer);
}

// A close sweeps away idle FIFO records and marks the session when one of
// its FIFOs still has regions out.
bool Model::sweep(uint32_t session) {
  SessionRecord& record = sessions[session];
  bool busy = false;
  for (auto it = record.fifos.begin(); it != record.fifos.end();) {
    if (it->second.regions.empty()) {
      it = record.fifos.erase(it);
    } else {
      record.closePending = true;
      busy = true;
      ++it;
    }
  }
  return busy;
}

// Children close deepest first with attribute 1; a child with regions out
// below it stays, and keeps its parent open and marked.
bool Model::closeChildren(Oracle& o, uint32_t session) {
  bool busy = false;
  std::size_t index = 0;
  while (index < sessions[session].children.size()) {
    const uint32_t child = sessions[session].children[index];
    const bool registered = sessions.count(child) != 0;
    if (registered && (sweep(child) || closeChildren(o, child))) {
      sessions[session].closePendingOnChildren = true;
      busy = true;
      ++index;
      continue;
    }
    if (registered) lowerClose(o, child, 1, nullptr);
    auto& children = sessions[session].children;
    children.erase(children.begin() + static_cast<std::ptrdiff_t>(index));
    remove(child);
  }
  return busy;
}

void Model::remove(uint32_t session) {
  sessions.erase(session);
  orphaned.erase(session);
  for (auto& entry : sessions) {
    if (entry.second.parent == session) entry.second.parent = 0;
  }
}

Model::Settled Model::settle(Oracle& o, uint32_t session, bool onlyPendingParent, uint32_t* pendingParent) {
  auto found = sessions.find(session);
  // An unknown value is closed in the lower library all the same.
  if (found == sessions.end()) return onlyPendingParent ? Settled::skipped : Settled::closable;
  // A parent closes on its own account only while it waits for no child.
  if (onlyPendingParent && (!found->second.closePendingOnChildren || !found->second.children.empty())) {
    return Settled::skipped;
  }
  // Regions out in the session or below refuse the close.
  if (sweep(session) || closeChildren(o, session)) return Settled::refused;
  const uint32_t parent = sessions[session].parent;
  if (parent != 0 && sessions.count(parent) != 0) {
    auto& siblings = sessions[parent].children;
    auto first = std::find(siblings.begin(), siblings.end(), session);
    if (first != siblings.end()) siblings.erase(first);
    // The last busy child to go finishes its parent's put-off close.
    if (sessions[parent].closePendingOnChildren && siblings.empty()) *pendingParent = parent;
  }
  remove(session);
  return Settled::closable;
}

// A close whose record is gone withdraws the host registration and closes
// below, each only while the value is still the session's it took out: once
// the lower library ended that session by itself and handed the value to a
// new one, the value and its newest registration are the new session's.
// Then a parent that only waited for this session closes too.
int32_t Model::finishClose(Oracle& o, uint32_t session, uint32_t attribute, uint32_t pendingParent, bool marked,
                           CloseKind kind) {
  static const tSeam kWithdraw[] = {tSeam::closeBeforeWithdraw, tSeam::putOffCloseBeforeWithdraw,
                                    tSeam::parentCloseBeforeWithdraw};
  static const tSeam kLowerClose[] = {tSeam::closeBeforeLowerClose, tSeam::putOffCloseBeforeLowerClose,
                                      tSeam::parentCloseBeforeLowerClose};
  if (marked) closing[session] = true;
  const auto stillOurs = [&] { return !marked || closing[session]; };
  reach(kWithdraw[static_cast<int>(kind)]);
  if (stillOurs()) withdrawCleanup(session);
  reach(kLowerClose[static_cast<int>(kind)]);
  int32_t status = 0;
  if (stillOurs()) lowerClose(o, session, attribute, &status);
  reach(tSeam::closeAfterLowerClose);
  if (marked) closing.erase(session);
  if (pendingParent == 0 || status < 0) return status;
  merge(&status, closePendingParent(o, pendingParent, attribute));
  return status;
}

// A parent that has regions of its own out again, or gained a child, stays;
// that is no failure.
int32_t Model::closePendingParent(Oracle& o, uint32_t parent, uint32_t attribute) {
  uint32_t grandparent = 0;
  if (settle(o, parent, true, &grandparent) != Settled::closable) return 0;
  return finishClose(o, parent, attribute, grandparent, true, CloseKind::parent);
}

// A value without a record whose close is in flight is left to that close:
// the host's close waits for it and answers 0 without a lower call, the
// cleanup procedure returns at once.
int32_t Model::close(Oracle& o, uint32_t session, uint32_t attribute, bool cleanup) {
  if (session & kUnsupportedBit) return kNotSupported;
  const bool registered = sessions.count(session) != 0;
  if (!registered && closing.count(session) != 0 && closing[session]) {
    if (!cleanup) reach(tSeam::closeBeforeWaitingForCloseInFlight);
    return 0;
  }
  uint32_t pendingParent = 0;
  if (settle(o, session, false, &pendingParent) == Settled::refused) return kRegionsOut;
  return finishClose(o, session, attribute, pendingParent, registered, CloseKind::requested);
}

// Download and reset are refused while the session itself has regions out.
int32_t Model::guarded(Oracle& o, const char* lowerName, uint32_t session) {
  if (session & kUnsupportedBit) return kNotSupported;
  auto found = sessions.find(session);
  if (found != sessions.end()) {
    for (auto& fifo : found->second.fifos) {
      if (!fifo.second.regions.empty()) return kRegionsOut;
    }
  }
  reach(tSeam::guardBeforeForward);
  return o.lower(line(lowerName, {session}));
}

// A FIFO map that once failed to grow still records each new FIFO, but
// every addition answers memory full; the addition that failed records none.
// A FIFO record whose own mutex or event cannot be made is not kept.
bool Model::addFifo(SessionRecord& record, uint32_t session, uint32_t fifo) {
  const bool failedBefore = record.fifoMapFailed;
  if (latch(&record.fifoMapFailed, Sticky::fifoMap, session)) {
    if (failedBefore && forcedFailure == 0) record.fifos[fifo];
    return true;
  }
  if (forcedFailure == 0) record.fifos[fifo];
  return false;
}

int32_t Model::startFifo(Oracle& o, uint32_t session, uint32_t fifo) {
  if (session & kUnsupportedBit) return kNotSupported;
  auto found = sessions.find(session);
  // Only sessions opened through the library have FIFO records.
  if (found == sessions.end()) return kNotFound;
  SessionRecord& record = found->second;
  if (record.fifos.count(fifo) == 0) {
    if (addFifo(record, session, fifo)) return kMemoryFull;
    if (forcedFailure != 0) return forcedFailure;
  }
  reach(tSeam::startFifoBeforeLower);
  return o.lower(line("StartFifo", {routed(session), fifo}));
}

void Model::giveBack(Oracle& o, uint32_t session, uint32_t fifo, FifoRecord& record) {
  // Elements go back oldest first, each region once, released ones in their turn.
  while (!record.regions.empty() && record.regions.front().released) {
    o.lower(line("ReleaseFifoElements", {routed(session), fifo, record.regions.front().count}));
    record.regions.pop_front();
  }
}

int32_t Model::acquire(Oracle& o, bool write, uint32_t session, uint32_t fifo, uint32_t count, int32_t typeCode,
                       bool capped, bool nullReference, bool nullAcquired, int32_t hostCleanupAnswer,
                       int32_t hostReferenceAnswer, const Observed& seen) {
  if (session & kUnsupportedBit) return kNotSupported;
  // Absent outputs and type codes outside 1 to 8 are refused.
  if (nullReference || typeSuffix(typeCode).empty() || nullAcquired) return kInvalid;
  auto found = sessions.find(session);
  if (found == sessions.end()) return kNotFound;
  SessionRecord& record = found->second;
  bool created = false;
  if (record.fifos.count(fifo) == 0) {
    if (addFifo(record, session, fifo)) return kMemoryFull;
    if (forcedFailure != 0) return forcedFailure;
    created = true;
    reach(tSeam::acquireAfterEnsure);
  }
  // The acquisition's cleanup registration must be accepted; from here on
  // the host's cleanup tells this acquisition to stop.
  if (hostCleanupAnswer != 0) return hostAnswer(hostCleanupAnswer);
  acquisitionCancelled = false;
  if (count != 0) reach(tSeam::reserveFoundNoSpare);
  // What another thread did at a seam may have closed the session; the
  // library holds it off there, so a model that let it in answers as for a
  // closed session rather than read a removed record.
  found = sessions.find(session);
  if (found == sessions.end() || found->second.fifos.count(fifo) == 0) return kNotFound;
  // A FIFO whose region list failed takes no elements it cannot lend; a
  // request for none needs no region and goes ahead.
  if (count != 0 && latch(&found->second.fifos[fifo].regionListFailed, Sticky::regionList, session, fifo)) {
    return kMemoryFull;
  }
  if (count != 0 && !created && forcedFailure != 0) return forcedFailure;
  const std::string name =
      std::string(write ? "AcquireFifoWriteElements" : "AcquireFifoReadElements") + typeSuffix(typeCode);
  // Cycles: each first looks whether the host's cleanup ran, then asks the
  // lower library. A lower time-out of a capped wait asks again, holding the
  // turn; -61219 waits for the turn, which for timeout 0 ends the call
  // unless the cleanup ran meanwhile. Other answers end the call.
  int32_t answer = 0;
  for (;;) {
    if (acquisitionCancelled) return kCancelled;
    reach(tSeam::acquireBeforeLower);
    found = sessions.find(session);
    if (found == sessions.end() || found->second.fifos.count(fifo) == 0) return kNotFound;
    answer = o.lower(line(name, {routed(session), fifo, count}));
    if (capped && answer == kFifoTimeout) continue;
    if (answer == kAcquireTimedOut && acquisitionCancelled) continue;
    break;
  }
  FifoRecord& state = found->second.fifos[fifo];
  int32_t status = 0;
  merge(&status, answer);
  if (status < 0 || count == 0) return status;
  state.regions.push_back(Region{seen.acquired, 0, false});
  // A region the host refused goes back in its turn, behind older regions.
  const int32_t refused = hostAnswer(hostReferenceAnswer);
  if (refused != 0) {
    state.regions.back().released = true;
    giveBack(o, session, fifo, state);
    return refused;
  }
  state.regions.back().reference = seen.reference;
  lent[seen.reference] = {session, fifo};
  return status;
}

// The close a last release finishes names the record as it was then: a
// session that got the value since is not touched.
int32_t Model::finishPutOffClose(Oracle& o, uint32_t session, uint64_t generation) {
  auto found = sessions.find(session);
  if (found == sessions.end() || found->second.generation != generation) return 0;
  uint32_t pendingParent = 0;
  if (settle(o, session, false, &pendingParent) == Settled::refused) return kRegionsOut;
  return finishClose(o, session, 1, pendingParent, true, CloseKind::putOff);
}

int32_t Model::dispose(Oracle& o, uint32_t reference) {
  auto where = lent.find(reference);
  if (where == lent.end()) return 0;
  const uint32_t session = where->second.first, fifo = where->second.second;
  lent.erase(where);
  SessionRecord& record = sessions[session];
  FifoRecord& state = record.fifos[fifo];
  for (Region& region : state.regions) {
    if (region.reference == reference) region.released = true;
  }
  if (state.regions.empty() || state.regions.front().reference != reference) return 0;
  giveBack(o, session, fifo, state);
  // The last region back finishes a put-off close, on the library's account.
  if (!state.regions.empty() || !record.closePending) return 0;
  const uint64_t generation = record.generation;
  reach(tSeam::releaseBeforeOwnClose);
  return finishPutOffClose(o, session, generation);
}

// The host stopping runs every session cleanup once, oldest first; each
// closes its session with attribute 1 and its answer is not reported.
void Model::hostCleanup(Oracle& o) {
  // Mode 6 first: an acquisition under way stops at its next cycle.
  acquisitionCancelled = true;
  const std::vector<uint32_t> turn = cleanups;
  for (uint32_t session : turn) {
    auto still = std::find(cleanups.begin(), cleanups.end(), session);
    if (still == cleanups.end()) continue;
    cleanups.erase(still);
    close(o, session, 1, true);
  }
}

}  // namespace reliability
