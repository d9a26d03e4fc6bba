/*
 * Target.h: the simulated target's sessions, registers, IRQs and FIFOs.
 *
 * Internal to the simulated lower library. A Session is one opened target;
 * the process-wide registry maps session values (without bit 0x4000) to
 * sessions. A session's mutex guards its registers, IRQs and identity; each
 * FIFO has a mutex of its own, so that FIFOs which are independent on a real
 * device (and the device threads that serve them) do not serialise on one
 * lock. Condition variables carry every wake-up, so waits block instead of
 * polling. Blocking operations hold a shared_ptr to their session, so a close
 * or a simulator reset can end them safely: they wake, see `closed` and return.
 *
 * Lock order: registry mutex, then a session's mutex or its FIFO mutexes in
 * ascending FIFO number (a FIFO is locked together with its loopback
 * partner), then the blocked-call counter's mutex. No session or FIFO mutex
 * is held while the registry is locked.
 */
#ifndef VIDAZOSIM_TARGET_H
#define VIDAZOSIM_TARGET_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "ViDazo/ViDazoDll.h"
#include "ViDazo/ViDazoSim.h"

namespace vidazosim {

// Size in bytes of each element type, indexed by ViDazoSim_ElementType.
uint32_t elementSize(uint32_t type);

// What a FIFO's device thread is doing (device mode).
enum class DeviceState { kIdle, kRunning, kStopping };

// On cache lines of its own: threads working on different FIFOs of one
// session must not pass a shared line back and forth.
struct alignas(64) Fifo {
  ~Fifo();  // stops a device thread still running

  std::mutex lock;  // guards everything below; see lockFifo() in Fifo.cpp
  bool toHost = true;
  uint32_t type = ViDazoSim_TypeU32;
  uint32_t elementBytes = 4;
  uint32_t depth = 0;
  std::unique_ptr<uint64_t[]> storage;  // uint64_t keeps every element naturally aligned
  // Ring state: `used` places from `head` hold elements. Target-to-host: the
  // first `acquired` of them are lent to the host. Host-to-target: the last
  // `acquired` are lent to the host, the ones before are committed.
  uint32_t head = 0;
  uint32_t used = 0;
  uint32_t acquired = 0;
  bool started = false;
  bool generating = false;
  uint64_t generatorSeed = 0;
  uint64_t generatorNext = 0;  // stream index of the next generated element
  uint64_t generatorEnd = 0;   // stream index at which generation stops
  int32_t loopTarget = -1;     // host-to-target: target-to-host FIFO fed by this one
  int32_t loopSource = -1;     // target-to-host: host-to-target FIFO feeding this one
  // Device mode: a thread of its own fills (target-to-host) or drains and
  // checks (host-to-target) the ring. While `deviceBusy` it works on places
  // outside the lock, so the ring must not be reallocated.
  DeviceState deviceState = DeviceState::kIdle;
  bool deviceBusy = false;
  // The device sleeps on `deviceWake` until it has a good share of the ring
  // to work on, a host call waits for it, or it must stop; so a host that
  // releases small regions does not pay a wake-up with every release. With
  // less than its share ready it sleeps at most a millisecond. With nothing
  // ready it sleeps without a limit (`deviceWaitsEmpty`), and then the first
  // place that becomes ready wakes it, to linger for more.
  bool deviceWaiting = false;
  bool deviceWaitsEmpty = false;
  uint32_t hostWaiters = 0;  // host calls waiting on `changed`
  std::condition_variable deviceWake;
  std::thread device;
  uint64_t deviceSeed = 0;
  uint64_t deviceRate = 0;        // elements per second; 0: as fast as it can
  uint64_t deviceElements = 0;    // elements moved since the start
  uint64_t deviceMismatches = 0;  // host-to-target: elements that broke the pattern
  uint64_t deviceFirstMismatch = 0;
  // Notified on every change of this FIFO; `_any` because a FIFO in a
  // loopback waits holding its partner's mutex as well.
  std::condition_variable_any changed;

  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(storage.get()); }
  uint8_t* element(uint32_t position) { return bytes() + static_cast<size_t>(position) * elementBytes; }
  uint32_t wrap(uint64_t position) const { return static_cast<uint32_t>(position % depth); }
  // Elements the host may take now (target-to-host) or free places it may fill (host-to-target).
  uint32_t hostAvailable() const { return toHost ? used - acquired : depth - used; }
  // Free places the target may fill (target-to-host) or committed elements it may take.
  uint32_t targetAvailable() const { return toHost ? depth - used : used - acquired; }
};

struct Session {
  uint32_t value = 0;
  uint32_t parent = 0;
  uint32_t openAttribute = 0;
  uint32_t resourceIndex = 0;
  std::string resource;
  std::string bitfile;
  std::string signature;
  std::string bitfileContents;

  std::mutex lock;
  // Set once, before every mutex of the session is taken in turn to wake its
  // waiters; read under the session's or a FIFO's mutex.
  std::atomic<bool> closed{false};
  uint32_t state = ViDazoSim_StateIdle;
  std::unique_ptr<uint64_t[]> registers;
  uint32_t irqsAsserted = 0;
  std::condition_variable irqsChanged;
  uint32_t anonymousIrqContexts = 0;
  std::set<uintptr_t> irqContexts;
  uintptr_t nextIrqContext = 1;
  Fifo fifos[ViDazoSim_FifoCount];
};

using SessionPtr = std::shared_ptr<Session>;

// Finds an open session; bit 0x4000 of the value is ignored. Answers from
// the calling thread's recent look-ups while no session was opened or closed
// since, else locks the registry briefly (shared); returns null for an
// unknown session.
SessionPtr findSession(uint32_t value);

// An open session held for the length of one call on the calling thread:
// borrows that thread's cached look-up (which stays put while borrowed) or
// owns a reference of its own. Either keeps the session alive.
class SessionRef {
 public:
  SessionRef() = default;
  ~SessionRef() { release(); }
  SessionRef(const SessionRef&) = delete;
  SessionRef& operator=(const SessionRef&) = delete;

  // Finds an open session as findSession() does; returns false when unknown.
  bool find(uint32_t value);
  explicit operator bool() const { return session_ != nullptr; }
  Session& operator*() const { return *session_; }
  Session* operator->() const { return session_; }
  Session* get() const { return session_; }

 private:
  void release();
  Session* session_ = nullptr;
  uint32_t* pinned_ = nullptr;  // the borrowed cache entry's pin count
  SessionPtr owned_;
};

// Finds and locks an open session. Blocks on the session's mutex; returns 0,
// or ViDazoSim_StatusInvalidSession for an unknown or closed session.
int32_t lockSession(uint32_t value, SessionPtr* session, std::unique_lock<std::mutex>* lock);

// Counts the calling thread as blocked for its lifetime (when `counted`).
// Locks the blocked-call counter.
class BlockedScope {
 public:
  explicit BlockedScope(bool counted = true);
  ~BlockedScope();
  BlockedScope(const BlockedScope&) = delete;
  BlockedScope& operator=(const BlockedScope&) = delete;

 private:
  bool counted_;
};

// A monotonic deadline from a millisecond timeout (0: none, 0xFFFFFFFF: never).
// The clock is read only when the caller first has to wait, not when the
// call starts: a call that finds what it needs reads no clock, because a
// clock read is a system call on machines without a vDSO clock, and a host's
// steady cycle must make none. The deadline then counts from that first
// wait, a few microseconds after the call began.
class Deadline {
 public:
  explicit Deadline(uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}
  bool expired() const;
  // Blocks on `cv` (releasing `lock`) until notified or the deadline passes;
  // counts the caller as blocked meanwhile. Returns false, without waiting,
  // once the deadline has passed. Callers re-check their condition in a loop.
  // `counted` false leaves the blocked-call count alone (for the waits on it).
  template <typename Lock, typename Condition>
  bool wait(Lock& lock, Condition& cv, bool counted = true) const {
    if (expired()) return false;
    BlockedScope scope(counted);
    if (infinite()) {
      cv.wait(lock);
    } else {
      cv.wait_until(lock, at_);
    }
    return true;
  }

 private:
  bool infinite() const { return timeoutMs_ == ViDazoDll_InfiniteTimeout; }

  uint32_t timeoutMs_;
  mutable bool started_ = false;  // at_ is set
  mutable std::chrono::steady_clock::time_point at_;
};

// Session functions (Target.cpp). All return a status and never throw except
// std::bad_alloc, which the exported wrappers turn into a status.
int32_t openSession(const char* bitfile, const char* signature, const char* resource, uint32_t attribute,
                    uint32_t* session);
int32_t openResourceSession(uint32_t parent, const char* resource, uint32_t attribute, uint32_t* session);
int32_t closeSession(uint32_t session);
int32_t setTargetState(uint32_t session, uint32_t state);
int32_t accessRegisters(uint32_t session, uint32_t offset, void* data, uint32_t count, uint32_t type, bool write);
int32_t reserveIrqContext(uint32_t session, ViDazoDll_IrqContext* context);
int32_t unreserveIrqContext(uint32_t session, ViDazoDll_IrqContext context);
int32_t waitOnIrqs(uint32_t session, uint32_t mask, uint32_t timeout, uint32_t* asserted, ViDazoDll_Bool* timedOut);
int32_t acknowledgeIrqs(uint32_t session, uint32_t irqs);
int32_t raiseIrqs(uint32_t session, uint32_t irqs);
int32_t getAssertedIrqs(uint32_t session, uint32_t* irqs);
int32_t bitfileContents(uint32_t session, const char** contents, uint32_t* length);
int32_t resetSimulator();
int32_t setNextSession(uint32_t value);
uint32_t openSessionCount();
int32_t getTargetState(uint32_t session, uint32_t* state);
int32_t getSessionInfo(uint32_t session, ViDazoSim_SessionInfo* info);
uint32_t blockedCallCount();
int32_t waitForBlockedCalls(uint32_t count, uint32_t timeout);

// FIFO functions (Fifo.cpp).
void initialiseFifos(Session& session);
int32_t configureFifo(uint32_t session, uint32_t fifo, uint32_t depth, uint32_t* actualDepth);
int32_t startFifo(uint32_t session, uint32_t fifo, bool start);
int32_t readFifo(uint32_t session, uint32_t fifo, uint32_t type, void* data, uint32_t count, uint32_t timeout,
                 uint32_t* remaining);
int32_t writeFifo(uint32_t session, uint32_t fifo, uint32_t type, const void* data, uint32_t count, uint32_t timeout,
                  uint32_t* remaining);
int32_t acquireElements(uint32_t session, uint32_t fifo, uint32_t type, bool read, void** elements, uint32_t count,
                        uint32_t timeout, uint32_t* acquired, uint32_t* remaining);
int32_t releaseElements(uint32_t session, uint32_t fifo, uint32_t count);
int32_t peerToPeerEndpoint(uint32_t session, uint32_t fifo, uint32_t* endpoint);
int32_t getFifoLayout(uint32_t fifo, uint32_t* toHost, uint32_t* type, uint32_t* depth);
int32_t getFifoCounts(uint32_t session, uint32_t fifo, ViDazoSim_FifoCounts* counts);
int32_t getFifoBuffer(uint32_t session, uint32_t fifo, void** base, uint32_t* bytes);
int32_t pushFifo(uint32_t session, uint32_t fifo, const void* data, uint32_t count, uint32_t timeout,
                 uint32_t* remaining);
int32_t pullFifo(uint32_t session, uint32_t fifo, void* data, uint32_t count, uint32_t timeout, uint32_t* remaining);
int32_t startGenerator(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t total);
int32_t stopGenerator(uint32_t session, uint32_t fifo);
uint64_t generatorValue(uint32_t type, uint64_t seed, uint64_t index);
int32_t checkGenerated(uint32_t type, uint64_t seed, uint64_t firstIndex, const void* elements, uint32_t count,
                       uint32_t* mismatch);
int32_t setLoopback(uint32_t session, uint32_t from, uint32_t to);
int32_t clearLoopback(uint32_t session, uint32_t from);
int32_t startDevice(uint32_t session, uint32_t fifo, uint64_t seed, uint64_t rate);
int32_t stopDevice(uint32_t session, uint32_t fifo);
int32_t getDeviceCounts(uint32_t session, uint32_t fifo, ViDazoSim_DeviceCounts* counts);
// Stops the device threads of a session that is closed or closing. Blocks
// until they have ended; takes each FIFO's mutex in turn.
void stopDevices(Session& session);

}  // namespace vidazosim

#endif  // VIDAZOSIM_TARGET_H
