/*
 * Fifo.cpp: the DMA FIFOs of the simulated target.
 *
 * Each FIFO is a ring buffer owned by its session; region acquisitions lend
 * pointers straight into it. The generator and the loopback run lazily,
 * whenever a host or target operation touches the FIFO, so they need no
 * thread. Device mode is the exception: there a thread of the FIFO's own
 * plays the DMA engine, so the host's thread does none of the target's work.
 * Every change notifies the FIFO's condition variable, on which both sides
 * wait.
 */
#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "Target.h"

namespace vidazosim {

namespace {

constexpr uint32_t kTypesPerDirection = 9;
// Element type of the default FIFOs by position within a direction. The
// positions predate the type codes (which follow the library's); tests and
// hosts address FIFOs by number, so the layout stays as it is.
constexpr uint32_t kLayoutTypes[kTypesPerDirection] = {
    ViDazoSim_TypeBool, ViDazoSim_TypeI8,  ViDazoSim_TypeU8,  ViDazoSim_TypeI16, ViDazoSim_TypeU16,
    ViDazoSim_TypeI32,  ViDazoSim_TypeU32, ViDazoSim_TypeI64, ViDazoSim_TypeU64};

uint32_t layoutType(uint32_t fifo) { return kLayoutTypes[fifo % kTypesPerDirection]; }

constexpr uint32_t kDepthGranule = 16;

// Holds a FIFO's mutex and, when the FIFO is in a loopback, its partner's,
// taken in ascending FIFO number. Lockable, so that a wait on the FIFO's
// condition variable releases and retakes both.
class FifoLock {
 public:
  FifoLock() = default;
  FifoLock(const FifoLock&) = delete;
  FifoLock& operator=(const FifoLock&) = delete;
  ~FifoLock() {
    if (held_) unlock();
  }
  // Takes over mutexes the caller has locked, `first` the lower-numbered.
  void adopt(std::mutex* first, std::mutex* second) {
    first_ = first;
    second_ = second;
    held_ = true;
  }
  void lock() {
    first_->lock();
    if (second_ != nullptr) second_->lock();
    held_ = true;
  }
  void unlock() {
    held_ = false;
    if (second_ != nullptr) second_->unlock();
    first_->unlock();
  }

 private:
  std::mutex* first_ = nullptr;
  std::mutex* second_ = nullptr;
  bool held_ = false;
};

// A session together with one of its FIFOs, locked.
struct FifoAccess {
  SessionRef session;
  FifoLock lock;
  Fifo* fifo = nullptr;
};

int32_t loopPartner(const Fifo& fifo) { return fifo.toHost ? fifo.loopSource : fifo.loopTarget; }

// Finds the session and locks FIFO `number` with its loopback partner, if
// any. Links change only while every FIFO of the session is locked, so a
// partner read under the FIFO's own mutex is current; after taking both in
// order it is read again. Blocks on FIFO mutexes; returns 0,
// ViDazoSim_StatusInvalidSession or ViDazoSim_StatusInvalidFifo.
int32_t lockFifo(uint32_t session, uint32_t number, FifoAccess* access) {
  if (number >= ViDazoSim_FifoCount) return ViDazoSim_StatusInvalidFifo;
  if (!access->session.find(session)) return ViDazoSim_StatusInvalidSession;
  Session& s = *access->session;
  Fifo& fifo = s.fifos[number];
  for (;;) {
    fifo.lock.lock();
    const int32_t partner = loopPartner(fifo);
    if (partner < 0) {
      access->lock.adopt(&fifo.lock, nullptr);
      break;
    }
    fifo.lock.unlock();
    std::mutex* first = static_cast<uint32_t>(partner) < number ? &s.fifos[partner].lock : &fifo.lock;
    std::mutex* second = first == &fifo.lock ? &s.fifos[partner].lock : &fifo.lock;
    first->lock();   // cppcheck-suppress localMutex ; false positive: a FIFO's mutex through a pointer, not a local
    second->lock();  // cppcheck-suppress localMutex ; false positive: a FIFO's mutex through a pointer, not a local
    if (loopPartner(fifo) == partner) {
      access->lock.adopt(first, second);
      break;
    }
    second->unlock();
    first->unlock();
  }
  access->fifo = &fifo;
  return s.closed ? ViDazoSim_StatusInvalidSession : 0;
}

// Every FIFO of a session locked, for changes of the loopback links.
struct AllFifos {
  SessionPtr session;
  std::unique_lock<std::mutex> locks[ViDazoSim_FifoCount];
};

// Finds the session and locks all its FIFOs in ascending order. Returns 0 or
// ViDazoSim_StatusInvalidSession.
int32_t lockAllFifos(uint32_t session, AllFifos* all) {
  all->session = findSession(session);
  if (!all->session) return ViDazoSim_StatusInvalidSession;
  for (uint32_t i = 0; i < ViDazoSim_FifoCount; ++i) {
    all->locks[i] = std::unique_lock<std::mutex>(all->session->fifos[i].lock);
  }
  return all->session->closed ? ViDazoSim_StatusInvalidSession : 0;
}

bool deviceIdle(const Fifo& fifo) { return fifo.deviceState == DeviceState::kIdle; }

// Places (target-to-host) or elements (host-to-target) a device wants before
// it wakes up on its own: a quarter of the ring, at most 64 KiB.
uint32_t deviceWakeAt(const Fifo& fifo) {
  return std::max(1u, std::min(fifo.depth / 4, (64u << 10) / fifo.elementBytes));
}

// Whether the device thread has reason to run now. The FIFO is locked.
bool deviceHasWork(const Fifo& fifo) {
  if (fifo.deviceState != DeviceState::kRunning) return true;  // to stop
  const uint32_t ready = fifo.started ? fifo.targetAvailable() : 0;
  return ready != 0 && (ready >= deviceWakeAt(fifo) || fifo.hostWaiters != 0);
}

// Whether a sleeping device thread should be woken now: it has work, or it
// sleeps without a time limit and something became ready. Without the
// latter a device that ran dry would keep a few committed elements (or free
// places) until a quarter of the ring gathered. The FIFO is locked.
bool deviceShouldWake(const Fifo& fifo) {
  if (!fifo.deviceWaiting) return false;
  if (deviceHasWork(fifo)) return true;
  return fifo.deviceWaitsEmpty && fifo.started && fifo.targetAvailable() != 0;
}

// Tells waiters a FIFO changed, and wakes a sleeping device thread when it
// should run. The FIFO is locked.
void notifyChanged(Fifo& fifo) {
  fifo.changed.notify_all();
  if (deviceShouldWake(fifo)) fifo.deviceWake.notify_one();
}

// Waits on the FIFO for the host, as Deadline::wait does; a device thread
// learns that the host waits, so it works even below its wake-up share.
bool waitAsHost(FifoAccess& a, const Deadline& deadline) {
  Fifo& fifo = *a.fifo;
  ++fifo.hostWaiters;
  if (deviceShouldWake(fifo)) fifo.deviceWake.notify_one();
  const bool waited = deadline.wait(a.lock, fifo.changed);
  --fifo.hostWaiters;
  return waited;
}

// Checks that a typed host function fits the FIFO.
int32_t checkUse(const Fifo& fifo, uint32_t type, bool toHost) {
  if (fifo.toHost != toHost) return ViDazoSim_StatusWrongDirection;
  return fifo.type == type ? 0 : ViDazoSim_StatusWrongType;
}

// Gives the FIFO an empty ring of `depth` elements. Returns
// ViDazoSim_StatusOutOfMemory when the buffer cannot be had.
int32_t allocateRing(Fifo& fifo, uint32_t depth) {
  const size_t words = (static_cast<size_t>(depth) * fifo.elementBytes + 7) / 8;
  uint64_t* storage = new (std::nothrow) uint64_t[words]();
  if (storage == nullptr) return ViDazoSim_StatusOutOfMemory;
  fifo.storage.reset(storage);
  fifo.depth = depth;
  fifo.head = 0;
  fifo.used = 0;
  fifo.acquired = 0;
  return 0;
}

// Copies n elements into the ring from position `position` on, wrapping.
void copyIntoRing(Fifo& fifo, uint32_t position, const uint8_t* source, uint32_t n) {
  const uint32_t first = std::min(n, fifo.depth - position);
  std::memcpy(fifo.element(position), source, static_cast<size_t>(first) * fifo.elementBytes);
  if (n > first) {
    std::memcpy(fifo.element(0), source + static_cast<size_t>(first) * fifo.elementBytes,
                static_cast<size_t>(n - first) * fifo.elementBytes);
  }
}

// Copies n elements out of the ring from position `position` on, wrapping.
void copyOutOfRing(Fifo& fifo, uint32_t position, uint8_t* destination, uint32_t n) {
  const uint32_t first = std::min(n, fifo.depth - position);
  std::memcpy(destination, fifo.element(position), static_cast<size_t>(first) * fifo.elementBytes);
  if (n > first) {
    std::memcpy(destination + static_cast<size_t>(first) * fifo.elementBytes, fifo.element(0),
                static_cast<size_t>(n - first) * fifo.elementBytes);
  }
}

// Appends n elements behind the ones in the ring; the caller checked the space.
void appendElements(Fifo& fifo, const void* source, uint32_t n) {
  if (n == 0) return;
  copyIntoRing(fifo, fifo.wrap(static_cast<uint64_t>(fifo.head) + fifo.used), static_cast<const uint8_t*>(source), n);
  fifo.used += n;
  notifyChanged(fifo);
}

// Takes the n oldest elements out of the ring; the caller checked they are there.
void takeElements(Fifo& fifo, void* destination, uint32_t n) {
  if (n == 0) return;
  copyOutOfRing(fifo, fifo.head, static_cast<uint8_t*>(destination), n);
  fifo.head = fifo.wrap(static_cast<uint64_t>(fifo.head) + n);
  fifo.used -= n;
  notifyChanged(fifo);
}

template <typename T>
void fillPattern(uint8_t* destination, uint32_t n, uint64_t first) {
  T* elements = reinterpret_cast<T*>(destination);
  for (uint32_t i = 0; i < n; ++i) elements[i] = static_cast<T>(first + i);
}

void fillBoolPattern(uint8_t* destination, uint32_t n, uint64_t first) {
  for (uint32_t i = 0; i < n; ++i) destination[i] = static_cast<uint8_t>((first + i) & 1u);
}

// Writes generator values seed + index .. for n elements at `destination`.
void fillGenerated(uint32_t type, uint8_t* destination, uint32_t n, uint64_t first) {
  switch (type) {
    case ViDazoSim_TypeBool: fillBoolPattern(destination, n, first); break;
    case ViDazoSim_TypeI8:
    case ViDazoSim_TypeU8: fillPattern<uint8_t>(destination, n, first); break;
    case ViDazoSim_TypeI16:
    case ViDazoSim_TypeU16: fillPattern<uint16_t>(destination, n, first); break;
    case ViDazoSim_TypeI32:
    case ViDazoSim_TypeU32: fillPattern<uint32_t>(destination, n, first); break;
    default: fillPattern<uint64_t>(destination, n, first); break;
  }
}

// Tops a generating target-to-host FIFO up with the next stream elements.
void generate(Fifo& fifo) {
  uint64_t n = std::min<uint64_t>(fifo.depth - fifo.used, fifo.generatorEnd - fifo.generatorNext);
  if (n == 0) return;
  while (n > 0) {
    const uint32_t tail = fifo.wrap(static_cast<uint64_t>(fifo.head) + fifo.used);
    const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(n, fifo.depth - tail));
    fillGenerated(fifo.type, fifo.element(tail), chunk, fifo.generatorSeed + fifo.generatorNext);
    fifo.used += chunk;
    fifo.generatorNext += chunk;
    n -= chunk;
  }
  fifo.changed.notify_all();
}

// Moves committed elements of host-to-target `from` into target-to-host `to`.
void pump(Fifo& from, Fifo& to) {
  uint32_t n = std::min(from.targetAvailable(), to.targetAvailable());
  if (n == 0) return;
  while (n > 0) {
    const uint32_t tail = to.wrap(static_cast<uint64_t>(to.head) + to.used);
    const uint32_t chunk = std::min({n, from.depth - from.head, to.depth - tail});
    std::memcpy(to.element(tail), from.element(from.head), static_cast<size_t>(chunk) * from.elementBytes);
    from.head = from.wrap(static_cast<uint64_t>(from.head) + chunk);
    from.used -= chunk;
    to.used += chunk;
    n -= chunk;
  }
  from.changed.notify_all();
  to.changed.notify_all();
}

// Lets the target's automatic parts act on a FIFO; the session must be locked.
void settle(Session& session, Fifo& fifo) {
  if (fifo.toHost) {
    if (fifo.loopSource >= 0) pump(session.fifos[fifo.loopSource], fifo);
    if (fifo.generating) generate(fifo);
  } else if (fifo.loopTarget >= 0) {
    pump(fifo, session.fifos[fifo.loopTarget]);
  }
}

// Re-checks, after a wait, what a host copy or acquisition needs.
int32_t recheckHostWait(const FifoAccess& a, uint32_t count, bool scalar) {
  if (a.session->closed) return ViDazoSim_StatusInvalidSession;
  if (!a.fifo->started) return ViDazoSim_StatusFifoNotStarted;
  if (count > a.fifo->depth) return ViDazoSim_StatusInvalidParameter;
  return scalar && a.fifo->acquired != 0 ? ViDazoSim_StatusFifoBusy : 0;
}

// Copies `count` elements between the host and the ring, all or none, within
// the timeout. The session is locked; the wait releases it.
int32_t copyForHost(FifoAccess& a, void* data, uint32_t count, uint32_t timeout) {
  Fifo& fifo = *a.fifo;
  if (data == nullptr && count != 0) return ViDazoSim_StatusInvalidParameter;
  if (count > fifo.depth) return ViDazoSim_StatusInvalidParameter;
  if (fifo.acquired != 0) return ViDazoSim_StatusFifoBusy;
  fifo.started = true;
  const Deadline deadline(timeout);
  for (;;) {
    settle(*a.session, fifo);
    if (fifo.hostAvailable() >= count) break;
    if (!waitAsHost(a, deadline)) return ViDazoDll_StatusFifoTimeout;
    const int32_t status = recheckHostWait(a, count, true);
    if (status != 0) return status;
  }
  if (fifo.toHost) {
    takeElements(fifo, data, count);
  } else {
    appendElements(fifo, data, count);
  }
  settle(*a.session, fifo);
  return 0;
}

// Lends up to `count` contiguous elements within the timeout. The session is
// locked; the wait releases it.
int32_t lendElements(FifoAccess& a, void** elements, uint32_t count, uint32_t timeout, uint32_t* acquired) {
  Fifo& fifo = *a.fifo;
  if (count > fifo.depth) return ViDazoSim_StatusInvalidParameter;
  if (!fifo.started) return ViDazoSim_StatusFifoNotStarted;
  const Deadline deadline(timeout);
  for (;;) {
    // Elements still out can only come back through a release, so a request
    // that does not fit beside them would wait in vain.
    if (fifo.acquired != 0 && static_cast<uint64_t>(fifo.acquired) + count > fifo.depth) {
      return ViDazoDll_StatusAcquireTimedOut;
    }
    settle(*a.session, fifo);
    if (fifo.hostAvailable() >= count) break;
    if (!waitAsHost(a, deadline)) return ViDazoDll_StatusFifoTimeout;
    const int32_t status = recheckHostWait(a, count, false);
    if (status != 0) return status;
  }
  const uint64_t start = static_cast<uint64_t>(fifo.head) + (fifo.toHost ? fifo.acquired : fifo.used);
  const uint32_t position = fifo.wrap(start);
  const uint32_t run = std::min(count, fifo.depth - position);
  *elements = fifo.element(position);
  *acquired = run;
  fifo.acquired += run;
  if (!fifo.toHost) fifo.used += run;
  if (run != 0) notifyChanged(fifo);
  return 0;
}

// Writes the host's available count to an optional output.
void reportHostAvailable(const Fifo& fifo, uint32_t* remaining) {
  if (remaining != nullptr) *remaining = fifo.hostAvailable();
}

}  // namespace

void initialiseFifos(Session& session) {
  for (uint32_t number = 0; number < ViDazoSim_FifoCount; ++number) {
    Fifo& fifo = session.fifos[number];
    fifo.toHost = number < kTypesPerDirection;
    fifo.type = layoutType(number);
    fifo.elementBytes = elementSize(fifo.type);
    if (allocateRing(fifo, ViDazoSim_DefaultFifoDepth) != 0) throw std::bad_alloc();
  }
}

int32_t configureFifo(uint32_t session, uint32_t fifo, uint32_t depth, uint32_t* actualDepth) {
  FifoAccess a;
  int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  if (depth == 0 || depth > ViDazoSim_MaxFifoDepth) return ViDazoSim_StatusInvalidParameter;
  // Lent pointers and a device thread point into the ring; it must not move under them.
  if (a.fifo->acquired != 0 || !deviceIdle(*a.fifo)) return ViDazoSim_StatusFifoBusy;
  const uint32_t actual = (depth + kDepthGranule - 1) / kDepthGranule * kDepthGranule;
  status = allocateRing(*a.fifo, actual);
  if (status != 0) return status;
  a.fifo->changed.notify_all();
  if (actualDepth != nullptr) *actualDepth = actual;
  return 0;
}

int32_t startFifo(uint32_t session, uint32_t fifo, bool start) {
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  a.fifo->started = start;
  notifyChanged(*a.fifo);
  return 0;
}

int32_t readFifo(uint32_t session, uint32_t fifo, uint32_t type, void* data, uint32_t count, uint32_t timeout,
                 uint32_t* remaining) {
  FifoAccess a;
  int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  status = checkUse(*a.fifo, type, true);
  if (status == 0) status = copyForHost(a, data, count, timeout);
  reportHostAvailable(*a.fifo, remaining);
  return status;
}

int32_t writeFifo(uint32_t session, uint32_t fifo, uint32_t type, const void* data, uint32_t count, uint32_t timeout,
                  uint32_t* remaining) {
  FifoAccess a;
  int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  status = checkUse(*a.fifo, type, false);
  if (status == 0) status = copyForHost(a, const_cast<void*>(data), count, timeout);
  reportHostAvailable(*a.fifo, remaining);
  return status;
}

int32_t acquireElements(uint32_t session, uint32_t fifo, uint32_t type, bool read, void** elements, uint32_t count,
                        uint32_t timeout, uint32_t* acquired, uint32_t* remaining) {
  if (elements == nullptr || acquired == nullptr) return ViDazoSim_StatusInvalidParameter;
  *elements = nullptr;
  *acquired = 0;
  FifoAccess a;
  int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  status = checkUse(*a.fifo, type, read);
  if (status == 0) status = lendElements(a, elements, count, timeout, acquired);
  reportHostAvailable(*a.fifo, remaining);
  return status;
}

int32_t releaseElements(uint32_t session, uint32_t fifo, uint32_t count) {
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  Fifo& f = *a.fifo;
  if (count > f.acquired) return ViDazoSim_StatusOverRelease;
  if (count == 0) return 0;
  f.acquired -= count;
  if (f.toHost) {
    f.head = f.wrap(static_cast<uint64_t>(f.head) + count);
    f.used -= count;
  }
  notifyChanged(f);
  settle(*a.session, f);
  return 0;
}

int32_t peerToPeerEndpoint(uint32_t session, uint32_t fifo, uint32_t* endpoint) {
  if (endpoint == nullptr) return ViDazoSim_StatusInvalidParameter;
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  *endpoint = ((a.session->resourceIndex + 1u) << 8) | fifo;
  return 0;
}

int32_t getFifoLayout(uint32_t fifo, uint32_t* toHost, uint32_t* type, uint32_t* depth) {
  if (fifo >= ViDazoSim_FifoCount) return ViDazoSim_StatusInvalidFifo;
  if (toHost != nullptr) *toHost = fifo < kTypesPerDirection ? 1 : 0;
  if (type != nullptr) *type = layoutType(fifo);
  if (depth != nullptr) *depth = ViDazoSim_DefaultFifoDepth;
  return 0;
}

int32_t getFifoCounts(uint32_t session, uint32_t fifo, ViDazoSim_FifoCounts* counts) {
  if (counts == nullptr) return ViDazoSim_StatusInvalidParameter;
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  const Fifo& f = *a.fifo;
  counts->depth = f.depth;
  counts->used = f.used;
  counts->acquired = f.acquired;
  counts->available = f.hostAvailable();
  counts->started = f.started ? 1 : 0;
  return 0;
}

int32_t getFifoBuffer(uint32_t session, uint32_t fifo, void** base, uint32_t* bytes) {
  if (base == nullptr || bytes == nullptr) return ViDazoSim_StatusInvalidParameter;
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  *base = a.fifo->bytes();
  *bytes = a.fifo->depth * a.fifo->elementBytes;
  return 0;
}

namespace {

// transferOnTargetSide(): the target's end of a FIFO, all or nothing: pushes
// `in` into a target-to-host FIFO, or pulls into `out` from a host-to-target
// one, blocking within `timeout` until there is room or there are elements.
int32_t transferOnTargetSide(uint32_t session, uint32_t fifo, bool push, const void* in, void* out, uint32_t count,
                             uint32_t timeout, uint32_t* remaining) {
  FifoAccess a;
  int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  Fifo& f = *a.fifo;
  if (f.toHost != push) return ViDazoSim_StatusWrongDirection;
  // The device thread owns the target's end while it runs.
  if (!deviceIdle(f)) return ViDazoSim_StatusFifoBusy;
  const bool noData = push ? in == nullptr : out == nullptr;
  if ((noData && count != 0) || count > f.depth) return ViDazoSim_StatusInvalidParameter;
  const Deadline deadline(timeout);
  while (status == 0 && f.targetAvailable() < count) {
    if (!deadline.wait(a.lock, f.changed)) {
      status = ViDazoDll_StatusFifoTimeout;
    } else if (a.session->closed) {
      return ViDazoSim_StatusInvalidSession;
    } else if (count > f.depth) {
      status = ViDazoSim_StatusInvalidParameter;
    }
  }
  if (status == 0) {
    if (push) appendElements(f, in, count); else takeElements(f, out, count);
  }
  if (remaining != nullptr) *remaining = f.targetAvailable();
  return status;
}

}  // namespace

int32_t pushFifo(uint32_t session, uint32_t fifo, const void* data, uint32_t count, uint32_t timeout,
                 uint32_t* remaining) {
  return transferOnTargetSide(session, fifo, true, data, nullptr, count, timeout, remaining);
}

int32_t pullFifo(uint32_t session, uint32_t fifo, void* data, uint32_t count, uint32_t timeout, uint32_t* remaining) {
  return transferOnTargetSide(session, fifo, false, nullptr, data, count, timeout, remaining);
}

int32_t startGenerator(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t total) {
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  Fifo& f = *a.fifo;
  if (!f.toHost) return ViDazoSim_StatusWrongDirection;
  if (!deviceIdle(f)) return ViDazoSim_StatusFifoBusy;
  f.generating = true;
  f.generatorSeed = seed;
  f.generatorNext = 0;
  f.generatorEnd = total;
  settle(*a.session, f);
  return 0;
}

int32_t stopGenerator(uint32_t session, uint32_t fifo) {
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  if (!a.fifo->toHost) return ViDazoSim_StatusWrongDirection;
  a.fifo->generating = false;
  return 0;
}

uint64_t generatorValue(uint32_t type, uint64_t seed, uint64_t index) {
  const uint64_t value = seed + index;
  switch (elementSize(type)) {
    case 1: return type == ViDazoSim_TypeBool ? (value & 1u) : (value & 0xFFu);
    case 2: return value & 0xFFFFu;
    case 4: return value & 0xFFFFFFFFu;
    default: return value;
  }
}

int32_t checkGenerated(uint32_t type, uint64_t seed, uint64_t firstIndex, const void* elements, uint32_t count,
                       uint32_t* mismatch) {
  const uint32_t size = elementSize(type);
  if (size == 0 || (elements == nullptr && count != 0)) return ViDazoSim_StatusInvalidParameter;
  const uint8_t* bytes = static_cast<const uint8_t*>(elements);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t value = 0;
    switch (size) {
      case 1: value = bytes[i]; break;
      case 2: { uint16_t v; std::memcpy(&v, bytes + 2 * static_cast<size_t>(i), 2); value = v; break; }
      case 4: { uint32_t v; std::memcpy(&v, bytes + 4 * static_cast<size_t>(i), 4); value = v; break; }
      default: std::memcpy(&value, bytes + 8 * static_cast<size_t>(i), 8); break;
    }
    if (value != generatorValue(type, seed, firstIndex + i)) {
      if (mismatch != nullptr) *mismatch = i;
      return ViDazoSim_StatusPatternMismatch;
    }
  }
  return 0;
}

int32_t setLoopback(uint32_t session, uint32_t from, uint32_t to) {
  if (from >= ViDazoSim_FifoCount || to >= ViDazoSim_FifoCount) return ViDazoSim_StatusInvalidFifo;
  AllFifos a;
  const int32_t status = lockAllFifos(session, &a);
  if (status != 0) return status;
  Fifo& source = a.session->fifos[from];
  Fifo& target = a.session->fifos[to];
  if (source.toHost || !target.toHost) return ViDazoSim_StatusWrongDirection;
  if (source.type != target.type) return ViDazoSim_StatusWrongType;
  if (!deviceIdle(source) || !deviceIdle(target)) return ViDazoSim_StatusFifoBusy;
  // One source feeds one target: undo links either end already has.
  if (source.loopTarget >= 0) a.session->fifos[source.loopTarget].loopSource = -1;
  if (target.loopSource >= 0) a.session->fifos[target.loopSource].loopTarget = -1;
  source.loopTarget = static_cast<int32_t>(to);
  target.loopSource = static_cast<int32_t>(from);
  pump(source, target);
  return 0;
}

int32_t clearLoopback(uint32_t session, uint32_t from) {
  if (from >= ViDazoSim_FifoCount) return ViDazoSim_StatusInvalidFifo;
  AllFifos a;
  const int32_t status = lockAllFifos(session, &a);
  if (status != 0) return status;
  Fifo& source = a.session->fifos[from];
  if (source.toHost) return ViDazoSim_StatusWrongDirection;
  if (source.loopTarget >= 0) {
    a.session->fifos[source.loopTarget].loopSource = -1;
    source.loopTarget = -1;
  }
  return 0;
}

namespace {

// Elements a device thread handles per turn at most, so that the host sees
// data (or room) appear while a large ring is still being worked through.
constexpr uint32_t kDeviceChunkBytes = 64u << 10;
// How long a device with less than its wake-up share ready waits for more.
constexpr std::chrono::milliseconds kDeviceLinger(1);

// Elements the device may move now without exceeding its rate, counted from
// `done` moved since `start`; `until` gets the time the next one is due.
uint64_t rateAllowance(const Fifo& fifo, std::chrono::steady_clock::time_point start, uint64_t done,
                       std::chrono::steady_clock::time_point* until) {
  if (fifo.deviceRate == 0) return UINT64_MAX;
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
  const uint64_t due = static_cast<uint64_t>(static_cast<long double>(elapsed.count()) * fifo.deviceRate / 1e9L);
  if (due > done) return due - done;
  *until = start + std::chrono::nanoseconds(static_cast<int64_t>(static_cast<long double>(done + 1) * 1e9L /
                                                                  fifo.deviceRate));
  return 0;
}

// Counts the elements of a host-to-target run that differ from `expected`
// (the pattern for the run); `first` gets the position of the first one.
uint64_t countMismatches(const uint8_t* elements, const uint8_t* expected, uint32_t n, size_t bytes,
                         uint32_t* first) {
  if (std::memcmp(elements, expected, n * bytes) == 0) return 0;
  uint64_t wrong = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (std::memcmp(elements + i * bytes, expected + i * bytes, bytes) == 0) continue;
    if (wrong++ == 0) *first = i;
  }
  return wrong;
}

// The device thread of a FIFO: fills free places of a target-to-host ring
// with the generator pattern, or takes committed elements of a host-to-target
// ring and checks them against it, as space or data appears and the rate
// allows, until stopped or the session closes. The ring is worked on
// outside the lock (`deviceBusy`); the host never touches those places.
void runDevice(Session* session, Fifo* fifo) {
  std::vector<uint8_t> expected;
  std::unique_lock<std::mutex> lock(fifo->lock);
  const auto start = std::chrono::steady_clock::now();
  uint64_t done = 0;
  bool lingered = false;  // waited kDeviceLinger with less than its share ready
  const uint32_t chunk = std::max(1u, kDeviceChunkBytes / fifo->elementBytes);
  if (!fifo->toHost) expected.resize(static_cast<size_t>(chunk) * fifo->elementBytes);
  while (fifo->deviceState == DeviceState::kRunning && !session->closed) {
    const uint32_t position = fifo->toHost ? fifo->wrap(static_cast<uint64_t>(fifo->head) + fifo->used) : fifo->head;
    const uint32_t ready = fifo->started ? std::min(fifo->targetAvailable(), fifo->depth - position) : 0;
    auto until = start;
    const uint64_t allowed = rateAllowance(*fifo, start, done, &until);
    // Less than its share waits a little for more, so that the last few
    // elements of a stream do not stay put until the host waits.
    if ((!deviceHasWork(*fifo) && !(lingered && ready != 0)) || allowed == 0) {
      fifo->deviceWaiting = true;
      if (allowed == 0) {
        fifo->deviceWake.wait_until(lock, until);
      } else if (ready != 0) {
        lingered = fifo->deviceWake.wait_for(lock, kDeviceLinger) == std::cv_status::timeout;
      } else {
        fifo->deviceWaitsEmpty = true;
        fifo->deviceWake.wait(lock);
        fifo->deviceWaitsEmpty = false;
      }
      fifo->deviceWaiting = false;
      continue;
    }
    lingered = false;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>({ready, allowed, chunk}));
    uint8_t* elements = fifo->element(position);
    const uint64_t seed = fifo->deviceSeed + done;
    uint64_t wrong = 0;
    uint32_t firstWrong = 0;
    fifo->deviceBusy = true;
    lock.unlock();
    if (fifo->toHost) {
      fillGenerated(fifo->type, elements, n, seed);
    } else {
      fillGenerated(fifo->type, expected.data(), n, seed);
      wrong = countMismatches(elements, expected.data(), n, fifo->elementBytes, &firstWrong);
    }
    lock.lock();
    fifo->deviceBusy = false;
    if (fifo->toHost) {
      fifo->used += n;
    } else {
      if (wrong != 0 && fifo->deviceMismatches == 0) fifo->deviceFirstMismatch = done + firstWrong;
      fifo->deviceMismatches += wrong;
      fifo->head = fifo->wrap(static_cast<uint64_t>(fifo->head) + n);
      fifo->used -= n;
    }
    done += n;
    fifo->deviceElements = done;
    fifo->changed.notify_all();
  }
}

// Ends the device thread of a FIFO, if one runs, and waits until it has
// ended. Takes the FIFO's own mutex (a device FIFO has no loopback partner).
void endDevice(Fifo& fifo) {
  std::unique_lock<std::mutex> lock(fifo.lock);
  if (fifo.deviceState == DeviceState::kStopping) {
    // Another caller is joining; wait for it to finish.
    while (fifo.deviceState != DeviceState::kIdle) fifo.changed.wait(lock);
    return;
  }
  if (fifo.deviceState == DeviceState::kIdle) return;
  fifo.deviceState = DeviceState::kStopping;
  std::thread device = std::move(fifo.device);
  fifo.deviceWake.notify_all();
  lock.unlock();
  if (device.joinable()) device.join();
  lock.lock();
  fifo.deviceState = DeviceState::kIdle;
  fifo.changed.notify_all();
}

}  // namespace

Fifo::~Fifo() {
  if (!device.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock);
    deviceState = DeviceState::kStopping;
    deviceWake.notify_all();
  }
  device.join();
}

int32_t startDevice(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t rate) {
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  Fifo& f = *a.fifo;
  // The device is the target's only actor on the FIFO.
  if (!deviceIdle(f) || f.generating || loopPartner(f) >= 0) return ViDazoSim_StatusFifoBusy;
  f.deviceSeed = seed;
  f.deviceRate = rate;
  f.deviceElements = 0;
  f.deviceMismatches = 0;
  f.deviceFirstMismatch = 0;
  f.deviceState = DeviceState::kRunning;
  try {
    f.device = std::thread(runDevice, a.session.get(), &f);
  } catch (const std::system_error&) {
    f.deviceState = DeviceState::kIdle;
    return ViDazoSim_StatusOutOfMemory;
  }
  return 0;
}

int32_t stopDevice(uint32_t session, uint32_t fifo) {
  if (fifo >= ViDazoSim_FifoCount) return ViDazoSim_StatusInvalidFifo;
  // Keeps the session, and so the FIFO, alive while the thread is joined.
  const SessionPtr s = findSession(session);
  if (!s) return ViDazoSim_StatusInvalidSession;
  endDevice(s->fifos[fifo]);
  return 0;
}

void stopDevices(Session& session) {
  for (Fifo& fifo : session.fifos) endDevice(fifo);
}

int32_t getDeviceCounts(uint32_t session, uint32_t fifo, ViDazoSim_DeviceCounts* counts) {
  if (counts == nullptr) return ViDazoSim_StatusInvalidParameter;
  FifoAccess a;
  const int32_t status = lockFifo(session, fifo, &a);
  if (status != 0) return status;
  const Fifo& f = *a.fifo;
  counts->elements = f.deviceElements;
  counts->mismatches = f.deviceMismatches;
  counts->firstMismatch = f.deviceFirstMismatch;
  counts->running = f.deviceState == DeviceState::kRunning ? 1 : 0;
  return 0;
}

}  // namespace vidazosim
