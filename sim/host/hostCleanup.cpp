/*
 * hostCleanup.cpp: cleanup registrations of the simulated host runtime.
 *
 * Defines RTSetCleanupProc and the cleanup part of the control API.
 * Modes: 2 registers a procedure for the host's stop; 6 registers one for
 * the duration of a wait of the registering thread, and (null, any, 6)
 * withdraws the mode-6 registrations of the calling thread; 0 withdraws the
 * newest mode-2 registration with the same procedure and argument.
 *
 * A withdrawal also waits for a cleanup run on another thread that is
 * calling a matching registration right now. Without that, a caller could
 * withdraw, return and let the procedure's argument (a flag on its stack)
 * go out of scope while the host is still writing through it.
 */
#include <algorithm>
#include <new>

#include "hostState.h"

namespace hostsim {
namespace {

// Which registrations a withdrawal matches.
struct Withdrawal {
  bool byThread;  // mode-6 withdrawal: match mode 6 and the owner thread
  ViDazoHx_HostProcedure procedure;
  uintptr_t argument;
  std::thread::id thread;

  bool matches(const Registration& registration) const {
    if (byThread) return registration.mode == 6 && registration.owner == thread;
    return registration.mode == 2 && registration.procedure == procedure && registration.argument == argument;
  }
};

// The calling thread's record; a plain pointer, so the common access needs
// no initialisation guard.
HOSTSIM_THREAD_LOCAL ThreadCleanup* ownRecord = nullptr;

// Gives a thread's record back when the thread ends, for the next new thread.
struct ThreadCleanupOwner {
  ~ThreadCleanupOwner() {
    if (ownRecord == nullptr) return;
    std::lock_guard<std::mutex> hold(hostState().cleanupLock);
    ownRecord->owned = false;
    ownRecord = nullptr;
  }
};

// Returns a record no live thread owns, or a new one; null when out of
// memory. Caller holds cleanupLock.
ThreadCleanup* freeRecord(HostState& state) {
  for (ThreadCleanup* record : state.threadCleanups) {
    if (!record->owned) return record;
  }
  auto* fresh = new (std::nothrow) ThreadCleanup();
  if (fresh == nullptr) return nullptr;
  try {
    state.threadCleanups.push_back(fresh);
  } catch (...) {
    delete fresh;
    return nullptr;
  }
  return fresh;
}

// Returns the calling thread's record, taking a free one or making one on
// first use; null when out of memory. Takes cleanupLock on first use only.
ThreadCleanup* ownCleanup(HostState& state) {
  if (ownRecord != nullptr) return ownRecord;
  static thread_local ThreadCleanupOwner owner;  // its end gives the record back
  (void)owner;
  std::lock_guard<std::mutex> hold(state.cleanupLock);
  ThreadCleanup* record = freeRecord(state);
  if (record != nullptr) record->owned = true;
  return ownRecord = record;
}

// Appends a registration to `list`; returns a host result. Caller holds the list's lock.
int32_t addRegistration(HostState& state, std::vector<Registration>& list, ViDazoHx_HostProcedure procedure,
                        uintptr_t argument, int32_t mode) {
  try {
    list.push_back(Registration{procedure, argument, mode, std::this_thread::get_id(),
                                state.nextSequence.fetch_add(1, std::memory_order_relaxed)});
    return 0;
  } catch (...) {
    return HostRuntimeSim_ResultMemoryFull;
  }
}

// Returns whether another thread's cleanup run is calling a registration
// that `withdrawal` matches. Caller holds the lock of `calls`.
bool callInFlight(const std::vector<InFlight>& calls, const Withdrawal& withdrawal) {
  for (const InFlight& call : calls) {
    if (call.caller != withdrawal.thread && withdrawal.matches(call.registration)) return true;
  }
  return false;
}

// Removes the matching registrations of `list` (only the newest one for
// mode 0), then waits on `ended` until no other thread is calling a matching
// one of `calls`. Holds the lock of both through `hold`; the wait releases it. Returns 0.
int32_t withdraw(std::vector<Registration>& list, const std::vector<InFlight>& calls, std::condition_variable& ended,
                 std::unique_lock<std::mutex>& hold, const Withdrawal& withdrawal) {
  if (withdrawal.byThread) {
    list.erase(std::remove_if(list.begin(), list.end(), [&](const Registration& r) { return withdrawal.matches(r); }),
               list.end());
  } else {
    auto newest = std::find_if(list.rbegin(), list.rend(), [&](const Registration& r) { return withdrawal.matches(r); });
    if (newest != list.rend()) list.erase(std::next(newest).base());
  }
  ended.wait(hold, [&] { return !callInFlight(calls, withdrawal); });
  return 0;
}

// Withdraws the calling thread's mode-6 registrations. Takes only its own record's lock.
int32_t withdrawOwnMode6(HostState& state) {
  ThreadCleanup* own = ownCleanup(state);
  if (own == nullptr) return 0;  // a thread without a record has nothing registered
  std::unique_lock<std::mutex> hold(own->lock);
  return withdraw(own->registrations, own->inFlight, own->callEnded, hold,
                  {true, nullptr, 0, std::this_thread::get_id()});
}

// Where a registration taken for a cleanup call came from.
struct Taken {
  Registration registration;
  ThreadCleanup* record;  // null for a mode-2 registration
};

// Returns the oldest registration of `list` made before `before`, or end.
std::vector<Registration>::iterator oldestBefore(std::vector<Registration>& list, uint64_t before) {
  return std::find_if(list.begin(), list.end(), [&](const Registration& r) { return r.sequence < before; });
}

// Moves `*which` from `list` to `calls` as called by this thread. Returns
// false when there is no memory to track the call (then it is not made).
bool startCall(std::vector<Registration>& list, std::vector<Registration>::iterator which,
               std::vector<InFlight>& calls, Taken* taken, ThreadCleanup* record) {
  try {
    calls.push_back(InFlight{*which, std::this_thread::get_id()});
  } catch (...) {
    return false;
  }
  *taken = Taken{*which, record};
  list.erase(which);
  return true;
}

// Takes the oldest mode-6 registration of any thread made before `before`.
// Caller holds cleanupLock; takes each thread record's lock in turn.
bool takeNextMode6(HostState& state, uint64_t before, Taken* taken) {
  ThreadCleanup* oldestRecord = nullptr;
  uint64_t oldest = before;
  for (ThreadCleanup* record : state.threadCleanups) {
    std::lock_guard<std::mutex> hold(record->lock);
    auto first = oldestBefore(record->registrations, oldest);
    if (first != record->registrations.end()) {
      oldest = first->sequence;
      oldestRecord = record;
    }
  }
  if (oldestRecord == nullptr) return false;
  std::lock_guard<std::mutex> hold(oldestRecord->lock);  // still there: only a cleanup run takes others' entries
  std::vector<Registration>& list = oldestRecord->registrations;
  auto which = std::find_if(list.begin(), list.end(), [&](const Registration& r) { return r.sequence == oldest; });
  if (which == list.end()) return takeNextMode6(state, before, taken);  // withdrawn meanwhile
  return startCall(list, which, oldestRecord->inFlight, taken, oldestRecord);
}

// Takes the oldest registration made before `before`, mode 6 first, and
// records it as being called by this thread. Returns false when there is
// none (or no memory to track the call). Takes cleanupLock.
bool takeNext(HostState& state, uint64_t before, Taken* taken) {
  std::lock_guard<std::mutex> hold(state.cleanupLock);
  if (takeNextMode6(state, before, taken)) return true;
  auto which = oldestBefore(state.registrations, before);
  return which != state.registrations.end() &&
         startCall(state.registrations, which, state.inFlight, taken, nullptr);
}

// Removes this thread's in-flight record of `sequence` from `calls` and
// wakes the withdrawals waiting on `ended`. Caller holds the lock of `calls`.
void endCall(std::vector<InFlight>& calls, std::condition_variable& ended, uint64_t sequence) {
  std::thread::id self = std::this_thread::get_id();
  auto mine = std::find_if(calls.begin(), calls.end(), [&](const InFlight& call) {
    return call.caller == self && call.registration.sequence == sequence;
  });
  if (mine != calls.end()) calls.erase(mine);
  ended.notify_all();
}

void endCall(HostState& state, const Taken& called) {
  if (called.record != nullptr) {
    std::lock_guard<std::mutex> hold(called.record->lock);
    endCall(called.record->inFlight, called.record->callEnded, called.registration.sequence);
  } else {
    std::lock_guard<std::mutex> hold(state.cleanupLock);
    endCall(state.inFlight, state.cleanupCallEnded, called.registration.sequence);
  }
}

}  // namespace

void clearAllRegistrations(HostState& state) {
  state.registrations.clear();
  for (ThreadCleanup* record : state.threadCleanups) {
    std::lock_guard<std::mutex> hold(record->lock);
    record->registrations.clear();
  }
}

}  // namespace hostsim

using hostsim::HostState;
using hostsim::hostState;

// Host function; 0 is success for every mode.
HOSTRUNTIMESIM_API int32_t RTSetCleanupProc(ViDazoHx_HostProcedure procedure, uintptr_t argument, int32_t mode) {
  int32_t injected = 0;
  if (hostsim::enterCall(hostsim::kRTSetCleanupProc, &injected)) return injected;
  HostState& state = hostState();
  if (mode == 6 && procedure == nullptr) return hostsim::withdrawOwnMode6(state);
  if (procedure == nullptr) return HostRuntimeSim_ResultArgumentError;
  if (mode == 6) {
    hostsim::ThreadCleanup* own = hostsim::ownCleanup(state);
    if (own == nullptr) return HostRuntimeSim_ResultMemoryFull;
    std::lock_guard<std::mutex> hold(own->lock);
    return hostsim::addRegistration(state, own->registrations, procedure, argument, mode);
  }
  std::unique_lock<std::mutex> hold(state.cleanupLock);
  if (mode == 0) {
    return hostsim::withdraw(state.registrations, state.inFlight, state.cleanupCallEnded, hold,
                             {false, procedure, argument, std::this_thread::get_id()});
  }
  if (mode == 2) return hostsim::addRegistration(state, state.registrations, procedure, argument, mode);
  return HostRuntimeSim_ResultArgumentError;
}

namespace hostsim {
namespace {

// Returns the registration of `list` with the lowest sequence above `after`,
// or `best` when it has none lower than that.
const Registration* lowestAfter(const std::vector<Registration>& list, uint64_t after, const Registration* best) {
  for (const Registration& r : list) {
    if (r.sequence > after && (best == nullptr || r.sequence < best->sequence)) best = &r;
  }
  return best;
}

}  // namespace
}  // namespace hostsim

// Lists every thread's registrations and the mode-2 ones together, oldest
// first, under all their locks. Allocates nothing (the lists are short).
uint32_t HostRuntimeSim_ListCleanup(HostRuntimeSim_Registration* list, uint32_t capacity) {
  HostState& state = hostState();
  std::lock_guard<std::mutex> hold(state.cleanupLock);
  for (hostsim::ThreadCleanup* record : state.threadCleanups) record->lock.lock();
  std::thread::id self = std::this_thread::get_id();
  uint32_t total = 0;
  for (uint64_t after = 0;; ++total) {
    const hostsim::Registration* next = hostsim::lowestAfter(state.registrations, after, nullptr);
    for (hostsim::ThreadCleanup* record : state.threadCleanups) {
      next = hostsim::lowestAfter(record->registrations, after, next);
    }
    if (next == nullptr) break;
    if (list != nullptr && total < capacity) {
      list[total] = HostRuntimeSim_Registration{next->procedure, next->argument, next->mode, next->owner == self ? 1 : 0};
    }
    after = next->sequence;
  }
  for (hostsim::ThreadCleanup* record : state.threadCleanups) record->lock.unlock();
  return total;
}

uint32_t HostRuntimeSim_RunCleanup(void) {
  HostState& state = hostState();
  const uint64_t before = state.nextSequence.load(std::memory_order_relaxed);
  uint32_t called = 0;
  for (hostsim::Taken next{}; hostsim::takeNext(state, before, &next); ++called) {
    next.registration.procedure(next.registration.argument);
    hostsim::endCall(state, next);
  }
  return called;
}
