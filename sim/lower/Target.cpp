/*
 * Target.cpp: sessions, registers and IRQs of the simulated target, and the
 * process-wide session registry.
 *
 * Sessions are kept in a map keyed by the session value without bit 0x4000,
 * because callers may route a value with or without that bit. Closing a
 * session removes it from the map, marks it closed, wakes every waiter under
 * the mutex it waits with (which then sees `closed` and returns) and ends the
 * session's device threads.
 */
#include "Target.h"

#include <cstring>
#include <map>
#include <shared_mutex>
#include <vector>

#include "CallTrace.h"
#include "VoKelSrv/VoKelSrvSim.h"

namespace vidazosim {

namespace {

constexpr uint32_t kRoutingBit = 0x4000u;
// Generated values avoid every bit a caller may use as a flag.
constexpr uint32_t kReservedBits = 0xF000u;
constexpr uint32_t kRegisterWords = ViDazoSim_RegisterSpaceBytes / 8;
constexpr uint32_t kDoorbellBytes = 4;

struct Registry {  // NOLINT(clang-analyzer-optin.performance.Padding): generation's cache line is kept apart on purpose
  // Shared for look-ups, which every call makes, so that calls into
  // different sessions do not queue behind one another here.
  std::shared_mutex lock;
  std::map<uint32_t, SessionPtr> sessions;
  uint32_t counter = 1;
  uint32_t requested = 0;  // 0: none
  // Changed (under the lock held exclusively) whenever `sessions` changes,
  // so that a thread's cached look-ups know when they may be stale. On a
  // line of its own: every call reads it, only an open or close writes it.
  alignas(64) std::atomic<uint64_t> generation{1};
};

// A thread's recent look-ups. Even a shared lock writes the lock's own
// counter, so two threads looking up sessions at once would pass that cache
// line back and forth on every call; a hit here reads only `generation`.
// An entry keeps its session alive until it is replaced or the thread ends;
// while a SessionRef borrows it (pins > 0) it is not replaced.
struct CachedSession {
  uint64_t generation = 0;  // 0: empty
  SessionPtr session;
  uint32_t key = 0;
  uint32_t pins = 0;
};
constexpr unsigned kCachedSessions = 4;
thread_local CachedSession cachedSessions[kCachedSessions];
thread_local unsigned nextCachedSession = 0;

// Returns the calling thread's current entry for `key`, or null.
CachedSession* cachedLookUp(uint32_t key, uint64_t generation) {
  for (CachedSession& entry : cachedSessions) {
    if (entry.generation == generation && entry.key == key) return &entry;
  }
  return nullptr;
}

// Returns the next entry that may be replaced, or null when all are borrowed.
CachedSession* replaceableEntry() {
  for (unsigned tried = 0; tried < kCachedSessions; ++tried) {
    CachedSession& entry = cachedSessions[nextCachedSession++ % kCachedSessions];
    if (entry.pins == 0) return &entry;
  }
  return nullptr;
}

struct BlockedCalls {
  std::mutex lock;
  std::condition_variable changed;
  uint32_t count = 0;
};

// Set once the registry exists, so that the exit-time device reaper does not
// make one (a registry made during an unload would leak with the module).
std::atomic<Registry*> madeRegistry{nullptr};

// Both live until the process ends, so that calls from exit handlers of other
// libraries still find them.
Registry& registry() {
  static Registry* instance = [] {
    Registry* made = new Registry;
    madeRegistry.store(made, std::memory_order_release);
    return made;
  }();
  return *instance;
}

BlockedCalls& blockedCalls() {
  static BlockedCalls* instance = new BlockedCalls;
  return *instance;
}

uint32_t keyOf(uint32_t value) { return value & ~kRoutingBit; }

// Adds `delta` to the blocked-call count and wakes its waiters. Locks the counter.
void adjustBlockedCalls(int delta) {
  BlockedCalls& calls = blockedCalls();
  std::lock_guard<std::mutex> guard(calls.lock);
  calls.count += static_cast<uint32_t>(delta);
  calls.changed.notify_all();
}

// Picks the value of a new session; the registry must be locked. Returns 0 or
// ViDazoSim_StatusSessionValueInUse for a requested value that is taken.
int32_t chooseValue(Registry& r, uint32_t* value) {
  if (r.requested != 0) {
    const uint32_t wanted = r.requested;
    r.requested = 0;
    if (r.sessions.count(keyOf(wanted)) != 0) return ViDazoSim_StatusSessionValueInUse;
    *value = wanted;
    return 0;
  }
  for (;;) {
    const uint32_t candidate = r.counter++;
    if (candidate != 0 && (candidate & kReservedBits) == 0 && r.sessions.count(keyOf(candidate)) == 0) {
      *value = candidate;
      return 0;
    }
  }
}

// Gives the session a value, enters it into the registry and writes the value
// out. Locks the registry; may throw std::bad_alloc.
int32_t enterSession(const SessionPtr& session, uint32_t* out) {
  Registry& r = registry();
  std::lock_guard<std::shared_mutex> guard(r.lock);
  uint32_t value = 0;
  const int32_t status = chooseValue(r, &value);
  if (status != 0) return status;
  session->value = value;
  r.sessions.emplace(keyOf(value), session);
  r.generation.fetch_add(1, std::memory_order_release);
  *out = value;
  return 0;
}

// Builds a session on the named broker resource. May throw std::bad_alloc.
int32_t makeSession(const char* resource, uint32_t attribute, SessionPtr* out) {
  uint32_t index = 0;
  if (VoKelSrvSim_LookupResource(resource, &index) != 0) return ViDazoSim_StatusResourceNotFound;
  SessionPtr session = std::make_shared<Session>();
  session->resource = resource;
  session->resourceIndex = index;
  session->openAttribute = attribute;
  session->registers.reset(new uint64_t[kRegisterWords]());
  initialiseFifos(*session);
  *out = std::move(session);
  return 0;
}

// Marks a session closed, wakes everything waiting in it and ends its device
// threads. Takes the session's mutex, then each FIFO's, one at a time: a
// waiter checks `closed` under the mutex it waits with, so the wake cannot
// slip in between its check and its wait.
void shutDown(Session& session) {
  session.closed = true;
  {
    std::lock_guard<std::mutex> guard(session.lock);
    session.irqsChanged.notify_all();
  }
  for (Fifo& fifo : session.fifos) {
    std::lock_guard<std::mutex> guard(fifo.lock);
    fifo.changed.notify_all();
    fifo.deviceWake.notify_all();
  }
  stopDevices(session);
}

// Ends every device thread when the stand-in is unloaded or the process
// exits without closing its sessions, so that no thread runs in unmapped
// code and no joinable std::thread is destroyed. The registry itself lives
// on (see registry()).
struct DeviceReaper {
  ~DeviceReaper() {
    Registry* made = madeRegistry.load(std::memory_order_acquire);
    if (made == nullptr) return;  // no session was ever opened
    std::vector<SessionPtr> open;
    {
      Registry& r = *made;
      std::lock_guard<std::shared_mutex> guard(r.lock);
      for (auto& entry : r.sessions) open.push_back(entry.second);
    }
    for (SessionPtr& session : open) stopDevices(*session);
  }
} deviceReaper;

// Asserts IRQs; the session must be locked.
void raiseLocked(Session& session, uint32_t irqs) {
  if (irqs == 0) return;
  session.irqsAsserted |= irqs;
  session.irqsChanged.notify_all();
}

// Rings the doorbell if a write of [offset, end) touched it; the session must
// be locked.
void ringDoorbell(Session& session, uint64_t offset, uint64_t end) {
  if (end <= ViDazoSim_DoorbellOffset || offset >= ViDazoSim_DoorbellOffset + kDoorbellBytes) return;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(session.registers.get()) + ViDazoSim_DoorbellOffset;
  uint32_t irqs = 0;
  std::memcpy(&irqs, bytes, sizeof irqs);
  std::memset(bytes, 0, kDoorbellBytes);
  raiseLocked(session, irqs);
}

// Runs `work` on the locked session `value` and returns its status, or the
// status of a failed lookup. Blocks on the session's mutex.
template <typename Work>
int32_t withSession(uint32_t value, Work&& work) {
  SessionPtr session;
  std::unique_lock<std::mutex> lock;
  const int32_t status = lockSession(value, &session, &lock);
  return status != 0 ? status : work(*session);
}

void copyText(char* destination, size_t capacity, const std::string& text) {
  std::strncpy(destination, text.c_str(), capacity - 1);
  destination[capacity - 1] = '\0';
}

}  // namespace

uint32_t elementSize(uint32_t type) {
  // Bool, I8, I16, I32, I64, U8, U16, U32, U64: the library's codes 1 to 8.
  static const uint32_t kSizes[] = {1, 1, 2, 4, 8, 1, 2, 4, 8};
  return type < 9 ? kSizes[type] : 0;
}

BlockedScope::BlockedScope(bool counted) : counted_(counted) {
  if (counted_) adjustBlockedCalls(+1);
}

BlockedScope::~BlockedScope() {
  if (counted_) adjustBlockedCalls(-1);
}

// The generation is read before the map: a change that slips in between
// leaves the entry one generation behind, so the next look-up just misses.
SessionPtr findSession(uint32_t value) {
  Registry& r = registry();
  const uint32_t key = keyOf(value);
  const uint64_t generation = r.generation.load(std::memory_order_acquire);
  if (const CachedSession* entry = cachedLookUp(key, generation)) return entry->session;
  SessionPtr found;
  {
    std::shared_lock<std::shared_mutex> guard(r.lock);
    auto it = r.sessions.find(key);
    if (it == r.sessions.end()) return nullptr;
    found = it->second;
  }
  if (CachedSession* slot = replaceableEntry()) *slot = CachedSession{generation, found, key, 0};
  return found;
}

// A hit borrows the cached pointer (no count of the session's own to
// change, which threads working in one session would otherwise pass back
// and forth); a miss looks up and owns a reference.
bool SessionRef::find(uint32_t value) {
  release();
  const uint64_t generation = registry().generation.load(std::memory_order_acquire);
  if (CachedSession* entry = cachedLookUp(keyOf(value), generation)) {
    ++entry->pins;
    pinned_ = &entry->pins;
    session_ = entry->session.get();
    return true;
  }
  owned_ = findSession(value);
  session_ = owned_.get();
  return session_ != nullptr;
}

void SessionRef::release() {
  if (pinned_ != nullptr) --*pinned_;
  pinned_ = nullptr;
  owned_.reset();
  session_ = nullptr;
}

int32_t lockSession(uint32_t value, SessionPtr* session, std::unique_lock<std::mutex>* lock) {
  *session = findSession(value);
  if (!*session) return ViDazoSim_StatusInvalidSession;
  *lock = std::unique_lock<std::mutex>((*session)->lock);
  return (*session)->closed ? ViDazoSim_StatusInvalidSession : 0;
}

bool Deadline::expired() const {
  if (infinite()) return false;
  if (timeoutMs_ == 0) return true;
  const auto now = std::chrono::steady_clock::now();
  if (!started_) {
    started_ = true;
    at_ = now + std::chrono::milliseconds(timeoutMs_);
    return false;
  }
  return now >= at_;
}

int32_t openSession(const char* bitfile, const char* signature, const char* resource, uint32_t attribute,
                    uint32_t* session) {
  if (resource == nullptr || session == nullptr) return ViDazoSim_StatusInvalidParameter;
  SessionPtr created;
  const int32_t status = makeSession(resource, attribute, &created);
  if (status != 0) return status;
  created->bitfile = bitfile != nullptr ? bitfile : "";
  created->signature = signature != nullptr ? signature : "";
  created->bitfileContents = "ViDazoSim bitfile\nbitfile=" + created->bitfile + "\nsignature=" +
                             created->signature + "\nresource=" + created->resource + "\n";
  return enterSession(created, session);
}

int32_t openResourceSession(uint32_t parent, const char* resource, uint32_t attribute, uint32_t* session) {
  if (resource == nullptr || session == nullptr) return ViDazoSim_StatusInvalidParameter;
  SessionPtr parentSession;
  // Callers route the parent with bit 0x4000, so "no parent" may arrive as 0x4000.
  if (keyOf(parent) != 0) {
    parentSession = findSession(parent);
    if (!parentSession) return ViDazoSim_StatusInvalidSession;
  }
  SessionPtr created;
  const int32_t status = makeSession(resource, attribute, &created);
  if (status != 0) return status;
  created->parent = parentSession ? parentSession->value : 0;
  created->bitfileContents = "ViDazoSim bitfile\nbitfile=\nsignature=\nresource=" + created->resource + "\n";
  return enterSession(created, session);
}

int32_t closeSession(uint32_t session) {
  SessionPtr closing;
  {
    Registry& r = registry();
    std::lock_guard<std::shared_mutex> guard(r.lock);
    auto it = r.sessions.find(keyOf(session));
    if (it == r.sessions.end()) return ViDazoSim_StatusInvalidSession;
    closing = std::move(it->second);
    r.sessions.erase(it);
    r.generation.fetch_add(1, std::memory_order_release);
  }
  shutDown(*closing);
  return 0;
}

int32_t setTargetState(uint32_t session, uint32_t state) {
  return withSession(session, [&](Session& s) {
    s.state = state;
    return 0;
  });
}

int32_t accessRegisters(uint32_t session, uint32_t offset, void* data, uint32_t count, uint32_t type, bool write) {
  const uint32_t size = elementSize(type);
  if (size == 0 || (data == nullptr && count != 0)) return ViDazoSim_StatusInvalidParameter;
  const uint64_t end = static_cast<uint64_t>(offset) + static_cast<uint64_t>(count) * size;
  if (offset % size != 0 || end > ViDazoSim_RegisterSpaceBytes) return ViDazoSim_StatusInvalidRegister;
  return withSession(session, [&](Session& s) {
    uint8_t* space = reinterpret_cast<uint8_t*>(s.registers.get()) + offset;
    uint8_t* bytes = static_cast<uint8_t*>(data);
    const size_t length = static_cast<size_t>(count) * size;
    if (write) {
      if (type == ViDazoSim_TypeBool) {
        for (size_t i = 0; i < length; ++i) space[i] = bytes[i] != 0 ? 1 : 0;
      } else if (length != 0) {
        std::memcpy(space, bytes, length);
      }
      ringDoorbell(s, offset, end);
    } else {
      if (type == ViDazoSim_TypeBool) {
        for (size_t i = 0; i < length; ++i) bytes[i] = space[i] != 0 ? 1 : 0;
      } else if (length != 0) {
        std::memcpy(bytes, space, length);
      }
    }
    return 0;
  });
}

int32_t reserveIrqContext(uint32_t session, ViDazoDll_IrqContext* context) {
  return withSession(session, [&](Session& s) {
    if (context == nullptr) {
      ++s.anonymousIrqContexts;
      return 0;
    }
    const uintptr_t token = s.nextIrqContext++;
    s.irqContexts.insert(token);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): an IRQ context is an opaque handle that is never dereferenced
    *context = reinterpret_cast<ViDazoDll_IrqContext>(token);
    return 0;
  });
}

int32_t unreserveIrqContext(uint32_t session, ViDazoDll_IrqContext context) {
  return withSession(session, [&](Session& s) {
    if (context == nullptr) {
      if (s.anonymousIrqContexts == 0) return ViDazoSim_StatusInvalidIrqContext;
      --s.anonymousIrqContexts;
      return 0;
    }
    return s.irqContexts.erase(reinterpret_cast<uintptr_t>(context)) != 0 ? 0 : ViDazoSim_StatusInvalidIrqContext;
  });
}

int32_t waitOnIrqs(uint32_t session, uint32_t mask, uint32_t timeout, uint32_t* asserted, ViDazoDll_Bool* timedOut) {
  SessionPtr s;
  std::unique_lock<std::mutex> lock;
  int32_t status = lockSession(session, &s, &lock);
  if (status != 0) return status;
  const Deadline deadline(timeout);
  uint32_t hit = s->irqsAsserted & mask;
  while (hit == 0 && deadline.wait(lock, s->irqsChanged)) {
    if (s->closed) return ViDazoSim_StatusInvalidSession;
    hit = s->irqsAsserted & mask;
  }
  if (asserted != nullptr) *asserted = hit;
  if (timedOut != nullptr) *timedOut = hit == 0 ? 1 : 0;
  return 0;
}

int32_t acknowledgeIrqs(uint32_t session, uint32_t irqs) {
  return withSession(session, [&](Session& s) {
    s.irqsAsserted &= ~irqs;
    return 0;
  });
}

int32_t raiseIrqs(uint32_t session, uint32_t irqs) {
  return withSession(session, [&](Session& s) {
    raiseLocked(s, irqs);
    return 0;
  });
}

int32_t getAssertedIrqs(uint32_t session, uint32_t* irqs) {
  if (irqs == nullptr) return ViDazoSim_StatusInvalidParameter;
  return withSession(session, [&](Session& s) {
    *irqs = s.irqsAsserted;
    return 0;
  });
}

int32_t bitfileContents(uint32_t session, const char** contents, uint32_t* length) {
  if (contents == nullptr || length == nullptr) return ViDazoSim_StatusInvalidParameter;
  return withSession(session, [&](Session& s) {
    *contents = s.bitfileContents.c_str();
    *length = static_cast<uint32_t>(s.bitfileContents.size());
    return 0;
  });
}

int32_t resetSimulator() {
  std::map<uint32_t, SessionPtr> closing;
  {
    Registry& r = registry();
    std::lock_guard<std::shared_mutex> guard(r.lock);
    closing.swap(r.sessions);
    r.generation.fetch_add(1, std::memory_order_release);
    r.counter = 1;
    r.requested = 0;
  }
  for (auto& entry : closing) shutDown(*entry.second);
  clearInjections();
  clearJournal();
  setJournalEnabled(true);
  return 0;
}

int32_t setNextSession(uint32_t value) {
  if (value == 0) return ViDazoSim_StatusInvalidParameter;
  Registry& r = registry();
  std::lock_guard<std::shared_mutex> guard(r.lock);
  r.requested = value;
  return 0;
}

uint32_t openSessionCount() {
  Registry& r = registry();
  std::shared_lock<std::shared_mutex> guard(r.lock);
  return static_cast<uint32_t>(r.sessions.size());
}

int32_t getTargetState(uint32_t session, uint32_t* state) {
  if (state == nullptr) return ViDazoSim_StatusInvalidParameter;
  return withSession(session, [&](Session& s) {
    *state = s.state;
    return 0;
  });
}

int32_t getSessionInfo(uint32_t session, ViDazoSim_SessionInfo* info) {
  if (info == nullptr) return ViDazoSim_StatusInvalidParameter;
  return withSession(session, [&](Session& s) {
    *info = ViDazoSim_SessionInfo{};
    info->value = s.value;
    info->parent = s.parent;
    info->state = s.state;
    info->openAttribute = s.openAttribute;
    info->resourceIndex = s.resourceIndex;
    info->irqContexts = s.anonymousIrqContexts + static_cast<uint32_t>(s.irqContexts.size());
    copyText(info->resource, sizeof info->resource, s.resource);
    copyText(info->bitfile, sizeof info->bitfile, s.bitfile);
    copyText(info->signature, sizeof info->signature, s.signature);
    return 0;
  });
}

uint32_t blockedCallCount() {
  BlockedCalls& calls = blockedCalls();
  std::lock_guard<std::mutex> guard(calls.lock);
  return calls.count;
}

int32_t waitForBlockedCalls(uint32_t count, uint32_t timeout) {
  BlockedCalls& calls = blockedCalls();
  std::unique_lock<std::mutex> lock(calls.lock);
  const Deadline deadline(timeout);
  while (calls.count < count) {
    if (!deadline.wait(lock, calls.changed, false)) return ViDazoDll_StatusFifoTimeout;
  }
  return 0;
}

}  // namespace vidazosim
