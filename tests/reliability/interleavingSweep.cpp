// interleavingSweep.cpp: holds one host thread at each seam, where a path
// has let go of registryLock or a regionMutex and calls out next, and runs
// every operation another host thread may make at that moment. Each case
// runs in a process of its own:
//   1. the setup runs step by step against the model;
//   2. the first thread runs its operation and stops at the seam; a second
//      thread runs the other operation, which is given a bounded wait and
//      counted as returned or blocked (a blocked one is fine where the
//      design says it waits); the first thread goes on and both are joined;
//   3. the lower closes made, every acquisition's status and the state
//      must be the model's with the second operation put into the first
//      one's window (or, as one may wait for the other, with the two in
//      either order, or with the second's first call in the window and
//      its second after), and a session that got a value again must
//      still be open;
//   4. every region is given back and every session closed, step by step
//      against the model, and nothing may be left.
// The sweep fails when a seam never fired or fewer cases ran than seams
// times operations.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"
#include "driver.h"
#include "protons/seam/seam.h"

namespace {

using reliability::Driver;
using reliability::Model;
using reliability::Observed;
using reliability::Op;
using reliability::Oracle;
using reliability::Script;
using reliability::makeStep;

// Long enough for an operation that does not wait to finish on a loaded
// machine; an operation still running then is counted as blocked.
constexpr auto kBound = std::chrono::milliseconds(300);
constexpr int kSeamNotFired = 3, kNotApplicable = 4, kCaseSeconds = 30;

// The values a case acts on, set up before the first thread starts.
struct Values {
  uint32_t same = 0;      // the session the held path works on
  uint32_t parent = 0;    // its parent, 0 when it has none
  uint32_t opener = 0;    // a live session for resource opens
  uint32_t region = 0;    // the reference the first thread disposes of
  uint32_t spare = 0;     // another region, of another FIFO
  uint32_t child = 0;     // an idle child of the held session
};

enum class Kind {
  close, hostCleanup, closeParent, openWithValue, openResourceWithValue, lowerOwnClose, closeThenOpen,
  lowerCloseThenOpen, disposeOther, startFifo, acquire, acquireLong, dispose, openResourceUnder, download
};

// A finite timeout above one attempt (3000 ms): its waits are capped, so the
// host's cleanup must end it. Its first lower call is answered -50400 by the
// stand-in at once, as a capped wait that ran out would be; later ones find
// the FIFO's generated elements. No case waits out a real attempt.
constexpr uint32_t kLongTimeoutMs = 6000;
constexpr const char* kAcquireU32 = "ViDazoDll_AcquireFifoReadElementsU32";

// One operation on one thread: the call, what it handed back, and what the
// model makes of it.
struct Action {
  explicit Action(Kind kindOf, uint32_t sessionOf = 0, uint32_t reuseOf = 0)
      : kind(kindOf), session(sessionOf), reuse(reuseOf) {}
  Kind kind;
  uint32_t session, reuse;
  int32_t status = 0;
  Observed seen;
  // What the model made of an acquisition, and how many lower calls it
  // asked of it so far, in the candidate being built.
  mutable int32_t predicted = 0;
  mutable int lowerCalls = 0;

  void perform() {
    uint32_t extra = 0, remaining = 0;
    switch (kind) {
      case Kind::close: case Kind::closeParent: status = ViDazoHx_Close(session, 0); break;
      case Kind::hostCleanup: HostRuntimeSim_RunCleanup(); break;
      case Kind::lowerOwnClose: status = ViDazoDll_Close(session, 0); break;
      case Kind::closeThenOpen: case Kind::lowerCloseThenOpen:
        kind == Kind::closeThenOpen ? ViDazoHx_Close(session, 0) : ViDazoDll_Close(session, 0);
        [[fallthrough]];
      case Kind::openWithValue:
        ViDazoSim_SetNextSession(reuse);
        status = ViDazoHx_Open("bitfile", "signature", "sim0", 0, &seen.session);
        break;
      case Kind::openResourceWithValue: case Kind::openResourceUnder:
        ViDazoSim_SetNextSession(reuse);
        status = ViDazoHx_OpenResource(session, "sim1", 0, &seen.session);
        break;
      case Kind::disposeOther: case Kind::dispose: status = HostRuntimeSim_DisposeReference(session); break;
      case Kind::startFifo: status = ViDazoHx_StartFifo(session, 6); break;
      case Kind::acquire: case Kind::acquireLong: {
        const bool longWait = kind == Kind::acquireLong;
        if (longWait) ViDazoSim_InjectStatus(kAcquireU32, reliability::kFifoTimeout, 1);
        status = ViDazoHx_AcquireFifoReadRegionScalar(session, 6, &seen.reference, 4, 7, 0,
                                                      longWait ? kLongTimeoutMs : 0, &extra, &remaining);
        seen.acquired = extra;
        break;
      }
      case Kind::download: status = ViDazoHx_Download(session); break;
    }
  }

  // The same operation in the model.
  // An operation of two calls can be run in halves: `half` 1 is the first
  // call, 2 the second, 0 both (for the others, 1 is all and 2 nothing).
  // The host's cleanup is two calls too: its mode-6 procedures (ending
  // acquisitions under way), then its mode-2 ones (closes), which may wait
  // for such an acquisition.
  bool twoCalls() const {
    return kind == Kind::closeThenOpen || kind == Kind::lowerCloseThenOpen || kind == Kind::hostCleanup;
  }
  void apply(Model& model, Oracle& o, int half = 0) const {
    if (half == 2 && !twoCalls()) return;
    const bool firstCall = half != 2, secondCall = half != 1;
    switch (kind) {
      case Kind::close: case Kind::closeParent: model.close(o, session, 0); break;
      case Kind::hostCleanup:
        if (firstCall) model.acquisitionCancelled = true;
        if (secondCall) model.hostCleanup(o);
        break;
      case Kind::lowerOwnClose: model.lowerClosesOnItsOwn(o, session); break;
      case Kind::closeThenOpen:
        if (firstCall) model.close(o, session, 0);
        if (secondCall) model.open(o, false, 0, seen);
        break;
      case Kind::lowerCloseThenOpen:
        if (firstCall) model.lowerClosesOnItsOwn(o, session);
        if (secondCall) model.open(o, false, 0, seen);
        break;
      case Kind::openWithValue: model.open(o, false, 0, seen); break;
      case Kind::openResourceWithValue: case Kind::openResourceUnder: model.openResource(o, session, false, seen); break;
      case Kind::disposeOther: case Kind::dispose: model.dispose(o, session); break;
      case Kind::startFifo: model.startFifo(o, session, 6); break;
      case Kind::acquire: case Kind::acquireLong:
        lowerCalls = 0;
        predicted = model.acquire(o, false, session, 6, 4, 7, kind == Kind::acquireLong, false, false, 0, 0, seen);
        break;
      case Kind::download: model.guarded(o, "Download", session); break;
    }
  }

  // The lower library's answer to a call of this operation, as the model
  // asks for it: opens and acquisitions as they went, closes by whether the
  // value is open at that point of the model's order.
  int32_t lowerAnswer(const std::string& call, const Model& model) const {
    if (call.rfind("Close ", 0) == 0) {
      const uint32_t value = static_cast<uint32_t>(std::stoul(call.substr(6))) & ~0x4000u;
      return model.lowerOpen.count(value) != 0 ? 0 : ViDazoSim_StatusInvalidSession;
    }
    if (call.rfind("Open", 0) == 0) return seen.session != 0 ? 0 : status;
    if (kind == Kind::acquireLong && call.rfind("Acquire", 0) == 0) {
      // The first is the injected time-out; later ones lend elements, or
      // fail as the call did (its session ended below meanwhile).
      if (++lowerCalls == 1) return reliability::kFifoTimeout;
      return status < 0 && status != reliability::kFifoTimeout ? status : 0;
    }
    if (call.rfind("Acquire", 0) == 0 || call.rfind("StartFifo", 0) == 0 || call.rfind("Download", 0) == 0) {
      return status < 0 ? status : 0;
    }
    return 0;
  }
};

// The operations another host thread may make while the first is held.
struct Operation {
  const char* name;
  Kind kind;
};
const Operation kOperations[] = {
    {"Close of the same value", Kind::close},
    {"host cleanup", Kind::hostCleanup},
    {"Close of its parent (of its child, when it has none)", Kind::closeParent},
    {"Open answered with the value", Kind::openWithValue},
    {"OpenResource answered with the value", Kind::openResourceWithValue},
    {"the lower library's own close", Kind::lowerOwnClose},
    {"Close, then an Open answered with the value", Kind::closeThenOpen},
    {"the lower library's own close, then an Open answered with it", Kind::lowerCloseThenOpen},
    {"disposal of another region", Kind::disposeOther},
    {"StartFifo", Kind::startFifo},
    {"acquisition", Kind::acquire},
};
constexpr int kOperationCount = sizeof kOperations / sizeof kOperations[0];

// A seam and the first thread's way to it, after a setup of its own. A
// seam inside a close that meets another close in flight needs that other
// close held in its own window first: the background.
struct SeamPoint {
  const char* name;
  tSeam seam;
  std::function<Values(Script&)> setup;
  std::function<Action(const Values&)> first;
  std::function<Action(const Values&)> background = nullptr;
  tSeam backgroundSeam = tSeam::acquireAfterEnsure;
};

// Two sessions every case has: the one resource opens go under, and one
// with a region of its write FIFO out (the spare).
Values common(Script& s) {
  Values v;
  v.opener = s(makeStep(Op::Open));
  s(makeStep(Op::StartFifo, v.opener, 15));
  v.spare = s(makeStep(Op::AcquireWrite, v.opener, 15, 4));
  return v;
}

// A session with an idle child and a started FIFO.
Values idle(Script& s) {
  Values v = common(s);
  v.same = s(makeStep(Op::Open));
  v.child = s(makeStep(Op::OpenResource, v.same));
  s(makeStep(Op::StartFifo, v.same));
  return v;
}

// The idle child of that session is the one held.
Values idleChild(Script& s) {
  Values v = idle(s);
  v.parent = v.same;
  v.same = v.child;
  return v;
}

// The same, its close put off for a region of its own: the release of that
// region finishes the close.
Values putOffOwn(Script& s) {
  Values v = idle(s);
  v.region = s(makeStep(Op::AcquireRead, v.same, 6, 4));
  s(makeStep(Op::Close, v.same));
  return v;
}

// A parent whose close was put off for its child's region.
Values putOffForChild(Script& s, bool heldIsChild) {
  Values v = common(s);
  const uint32_t parent = s(makeStep(Op::Open));
  const uint32_t child = s(makeStep(Op::OpenResource, parent));
  s(makeStep(Op::StartFifo, child));
  v.region = s(makeStep(Op::AcquireRead, child, 6, 4));
  s(makeStep(Op::Close, parent));
  v.same = heldIsChild ? child : parent;
  v.parent = heldIsChild ? parent : 0;
  v.child = heldIsChild ? 0 : child;
  return v;
}

Action act(Kind kind, uint32_t session, uint32_t reuse = 0) { return Action(kind, session, reuse); }

Action disposeRegion(const Values& v) { return act(Kind::dispose, v.region); }
Action closeSame(const Values& v) { return act(Kind::close, v.same); }
Values busyChild(Script& s) { return putOffForChild(s, true); }
Values pendingParent(Script& s) { return putOffForChild(s, false); }

const std::vector<SeamPoint> kSeamPoints = {
    {"release finishing a put-off close", tSeam::releaseBeforeOwnClose, putOffOwn, disposeRegion},
    {"put-off close, before withdrawing", tSeam::putOffCloseBeforeWithdraw, putOffOwn, disposeRegion},
    {"put-off close, before the lower close", tSeam::putOffCloseBeforeLowerClose, putOffOwn, disposeRegion},
    {"busy child's put-off close, before withdrawing", tSeam::putOffCloseBeforeWithdraw, busyChild, disposeRegion},
    {"pending parent's close, before withdrawing", tSeam::parentCloseBeforeWithdraw, pendingParent, disposeRegion},
    {"pending parent's close, before the lower close", tSeam::parentCloseBeforeLowerClose, pendingParent,
     disposeRegion},
    {"host close, before withdrawing", tSeam::closeBeforeWithdraw, idle, closeSame},
    {"host close, before the lower close", tSeam::closeBeforeLowerClose, idle, closeSame},
    {"host close, after the lower close", tSeam::closeAfterLowerClose, idle, closeSame},
    {"host close meeting a put-off close in flight", tSeam::closeBeforeWaitingForCloseInFlight, putOffOwn, closeSame,
     disposeRegion, tSeam::putOffCloseBeforeLowerClose},
    // The lower library ended the middle session by itself and hands its
    // value to a resource open under the grandchild, which has a region
    // out: the link would make a cycle, so the open is undone.
    {"refused resource open, before its undo", tSeam::undoBeforeClose,
     [](Script& s) {
       Values v = common(s);
       const uint32_t top = s(makeStep(Op::Open));
       v.same = s(makeStep(Op::OpenResource, top));
       v.parent = s(makeStep(Op::OpenResource, v.same));
       s(makeStep(Op::StartFifo, v.parent));
       v.region = s(makeStep(Op::AcquireRead, v.parent, 6, 4));
       s(makeStep(Op::LowerClose, v.same));
       return v;
     },
     [](const Values& v) { return act(Kind::openResourceUnder, v.parent, v.same); }},
    // The busy child of a parent whose close waits for it.
    {"StartFifo, before the lower start", tSeam::startFifoBeforeLower, busyChild,
     [](const Values& v) { return act(Kind::startFifo, v.same); }},
    {"download of a child, before forwarding", tSeam::guardBeforeForward, idleChild,
     [](const Values& v) { return act(Kind::download, v.same); }},
    {"acquisition, before the lower library", tSeam::acquireBeforeLower, idle,
     [](const Values& v) { return act(Kind::acquire, v.same); }},
    {"acquisition with a finite timeout above one attempt, before the lower library", tSeam::acquireBeforeLower,
     idle, [](const Values& v) { return act(Kind::acquireLong, v.same); }},
    {"acquisition, making its region's queue node", tSeam::reserveFoundNoSpare, idle,
     [](const Values& v) { return act(Kind::acquire, v.same); }},
    {"acquisition, FIFO record just made", tSeam::acquireAfterEnsure,
     [](Script& s) {
       Values v = common(s);
       v.same = s(makeStep(Op::Open));
       v.child = s(makeStep(Op::OpenResource, v.same));
       return v;
     },
     [](const Values& v) { return act(Kind::acquire, v.same); }},
};

// The second thread's action for an operation, or false when the case has
// nothing for it to act on.
bool secondAction(Kind kind, const Values& v, Action* action) {
  switch (kind) {
    case Kind::closeParent:
      *action = act(kind, v.parent != 0 ? v.parent : v.child);
      return action->session != 0;
    case Kind::openResourceWithValue: *action = act(kind, v.opener, v.same); return true;
    case Kind::disposeOther: *action = act(kind, v.spare); return true;
    default: *action = act(kind, v.same, v.same); return true;
  }
}

// The hook. The background's thread is held at its seam until the case
// is over with the first thread's seam. On the first thread to reach the
// case's seam it starts the second thread's action and gives it the
// bound, then lets the first go on.
struct Hold {
  Hold(tSeam seamOf, Action* secondOf, tSeam backgroundSeamOf)
      : seam(seamOf), second(secondOf), backgroundSeam(backgroundSeamOf) {}
  tSeam seam;
  Action* second;
  tSeam backgroundSeam;
  std::thread thread;
  std::mutex lock;
  std::condition_variable done;
  std::atomic<bool> fired{false}, backgroundFired{false};  // other threads may reach seams too
  bool finished = false, blocked = false, backgroundHeld = false, backgroundReleased = true;

  void releaseBackground() {
    std::lock_guard<std::mutex> guard(lock);
    backgroundReleased = true;
    done.notify_all();
  }
};
Hold* hold = nullptr;

void onSeam(tSeam seam) {
  if (!hold->backgroundReleased && seam == hold->backgroundSeam && !hold->backgroundFired.exchange(true)) {
    std::unique_lock<std::mutex> guard(hold->lock);
    hold->backgroundHeld = true;
    hold->done.notify_all();
    hold->done.wait_for(guard, std::chrono::seconds(kCaseSeconds), [] { return hold->backgroundReleased; });
    return;
  }
  if (seam != hold->seam || hold->fired.exchange(true)) return;
  hold->thread = std::thread([] {
    hold->second->perform();
    std::lock_guard<std::mutex> guard(hold->lock);
    hold->finished = true;
    hold->done.notify_all();
  });
  {
    std::unique_lock<std::mutex> guard(hold->lock);
    hold->blocked = !hold->done.wait_for(guard, kBound, [] { return hold->finished; });
  }
  hold->releaseBackground();
}

// The lower closes made while the two threads ran, as the model writes
// them ("Close 5 1"), sorted: which session instance each closed is known
// from the order only, and the model's order is one of several.
std::vector<std::string> lowerCloses(const std::vector<std::string>& calls) {
  std::vector<std::string> closes;
  for (const std::string& call : calls) {
    if (call.rfind("Close ", 0) == 0) closes.push_back(call);
  }
  std::sort(closes.begin(), closes.end());
  return closes;
}

std::vector<std::string> journalledCloses() {
  std::vector<ViDazoSim_JournalRecord> records(ViDazoSim_JournalCount());
  uint32_t copied = 0;
  if (!records.empty()) ViDazoSim_ReadJournal(0, records.data(), records.size(), &copied);
  std::vector<std::string> calls;
  for (uint32_t index = 0; index < copied; ++index) {
    if (std::string(records[index].function) != "ViDazoDll_Close") continue;
    calls.push_back(reliability::line("Close", {records[index].arguments[0], records[index].arguments[1]}));
  }
  return lowerCloses(calls);
}

// The model after the operations: the background's held at its seam while
// the first runs, the second put in where the first is held; or, since an
// operation may wait for the other, one after the other in either order.
// The first that matches is taken: a second operation that was held is
// tried after the first one before anything else. Only candidates that
// made the lower closes that were made are kept: a session instance
// closed twice, or one closed that the model keeps open, leaves none.
std::vector<Model> candidates(const Model& before, const SeamPoint& point, const Action* background,
                              const Action& first, const Action& second, bool secondHeld,
                              std::string* closesDiffer) {
  const std::vector<std::string> made = journalledCloses();
  std::vector<Model> result;
  // Orders: 0 the second in the window, 1 first then second, 2 second then
  // first, 3 the second's first call in the window and its second call
  // after the first operation (its first call waited for it).
  std::vector<int> orders = secondHeld ? std::vector<int>{1, 0, 2} : std::vector<int>{0, 1, 2};
  if (second.twoCalls()) orders.push_back(3);
  for (int order : orders) {
    Model model = before;
    Oracle oracle;
    const Action* current = nullptr;
    oracle.answer = [&model, &current](const std::string& call) { return current->lowerAnswer(call, model); };
    auto run = [&current, &model, &oracle](const Action* action, int half) {
      const Action* outer = current;
      current = action;
      action->apply(model, oracle, half);
      current = outer;
    };
    const bool inWindow = order == 0 || order == 3;
    bool firstHeld = false, secondRan = false;
    model.onSeam = [&](tSeam seam) {
      if (!inWindow) return;
      if (background != nullptr && !firstHeld && seam == point.backgroundSeam && current == background) {
        firstHeld = true;
        run(&first, 0);
      } else if (!secondRan && seam == point.seam && current == &first) {
        secondRan = true;
        run(&second, order == 3 ? 1 : 0);
      }
    };
    if (background != nullptr) run(background, 0);
    const Action* sequence[] = {order == 2 ? &second : &first, order == 2 ? &first : &second};
    for (const Action* action : sequence) {
      if (inWindow && action == &first && firstHeld) continue;
      if (inWindow && action == &second && secondRan) {
        if (order == 3) run(&second, 2);
        continue;
      }
      run(action, 0);
    }
    model.onSeam = nullptr;
    const Action* wrongAcquisition = nullptr;
    for (const Action* action : {&first, &second}) {
      const bool acquisition = action->kind == Kind::acquire || action->kind == Kind::acquireLong;
      if (acquisition && action->predicted != action->status) wrongAcquisition = action;
    }
    if (wrongAcquisition != nullptr) {
      if (closesDiffer->empty()) {
        *closesDiffer = "an acquisition answered " + std::to_string(wrongAcquisition->status) + ", the model " +
                        std::to_string(wrongAcquisition->predicted);
      }
    } else if (lowerCloses(oracle.expected) == made) {
      result.push_back(model);
    } else if (closesDiffer->empty()) {
      std::string text;
      for (const std::string& call : made) text += " [" + call + "]";
      *closesDiffer = "lower closes" + text + " differ from the model's";
    }
  }
  return result;
}

// One case, in its own process: 0 checked, kSeamNotFired, kNotApplicable,
// 1 on a difference.
int runCase(const SeamPoint& point, const Operation& operation, bool* blocked) {
  alarm(kCaseSeconds);  // a deadlock ends the process instead of the sweep
  Driver driver;
  Script script(driver);
  const Values values = point.setup(script);
  std::string failure = script.failure;
  Action second(operation.kind);
  if (failure.empty() && !secondAction(operation.kind, values, &second)) return kNotApplicable;
  Action first = point.first(values);
  Action background = point.background ? point.background(values) : Action(Kind::dispose);
  if (failure.empty()) {
    Hold state(point.seam, &second, point.backgroundSeam);
    hold = &state;
    ViDazoSim_ClearJournal();
    seamHook.store(&onSeam);
    std::thread backgroundThread;
    if (point.background) {
      state.backgroundReleased = false;
      backgroundThread = std::thread([&background] { background.perform(); });
      std::unique_lock<std::mutex> guard(state.lock);
      state.done.wait_for(guard, std::chrono::seconds(kCaseSeconds), [&state] { return state.backgroundHeld; });
    }
    std::thread firstThread([&first] { first.perform(); });
    if (point.background) {
      // The first thread waits for the background's close once past its
      // seam, so it can only be joined after the background goes on.
      std::unique_lock<std::mutex> guard(state.lock);
      state.done.wait_for(guard, std::chrono::seconds(kCaseSeconds), [&state] { return state.backgroundReleased; });
    }
    firstThread.join();
    state.releaseBackground();
    if (backgroundThread.joinable()) backgroundThread.join();
    seamHook.store(nullptr);
    if (state.thread.joinable()) state.thread.join();
    if (!state.fired || (point.background && !state.backgroundHeld)) return kSeamNotFired;
    *blocked = state.blocked;
    ViDazoSim_SessionInfo info{};
    const uint32_t successor = second.seen.session;
    if (failure.empty() && successor != 0 && successor == second.reuse && ViDazoSim_GetSessionInfo(successor, &info) != 0) {
      failure = "the session that got value " + std::to_string(successor) + " again was closed behind the host";
    }
    if (failure.empty()) {
      std::string closesDiffer;
      const std::vector<Model> kept = candidates(driver.model(), point, point.background ? &background : nullptr,
                                                 first, second, state.blocked, &closesDiffer);
      failure = kept.empty() ? closesDiffer : driver.adopt(kept);
    }
  }
  if (failure.empty()) {
    reliability::Choices choices(1);
    failure = driver.finish(choices);
  }
  if (failure.empty()) return 0;
  std::printf("%s / %s: %s\n", point.name, operation.name, failure.c_str());
  return 1;
}

}  // namespace

int main() {
  int cases = 0, failures = 0, blockedCases = 0;
  std::vector<bool> fired(kSeamCount, false);
  const auto start = std::chrono::steady_clock::now();
  for (const SeamPoint& point : kSeamPoints) {
    for (const Operation& operation : kOperations) {
      std::fflush(stdout);
      int pipeEnds[2];
      if (pipe(pipeEnds) != 0) return 2;
      const pid_t child = fork();
      if (child == 0) {
        bool blocked = false;
        const int code = runCase(point, operation, &blocked);
        const char report = blocked ? 'b' : 'r';
        if (write(pipeEnds[1], &report, 1) != 1) std::_Exit(2);
        std::fflush(stdout);
        std::_Exit(code);
      }
      close(pipeEnds[1]);
      char report = 'r';
      if (read(pipeEnds[0], &report, 1) != 1) report = '?';
      close(pipeEnds[0]);
      int status = 0;
      waitpid(child, &status, 0);
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (code == kSeamNotFired || code == kNotApplicable) continue;
      ++cases;
      fired[static_cast<int>(point.seam)] = true;
      if (report == 'b') ++blockedCases;
      if (code != 0) {
        ++failures;
        if (code != 1) std::printf("%s / %s: process ended with %d\n", point.name, operation.name, code);
      }
    }
  }
  for (int seam = 0; seam < kSeamCount; ++seam) {
    if (!fired[seam]) {
      std::printf("seam %d never fired\n", seam);
      ++failures;
    }
  }
  if (cases < kSeamCount * kOperationCount) {
    std::printf("only %d cases for %d seams and %d operations\n", cases, kSeamCount, kOperationCount);
    ++failures;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d cases (%d seams, %d operations), %d held the other thread, %d differ from the model (%.1f s)\n",
              cases, kSeamCount, kOperationCount, blockedCases, failures, seconds);
  return failures == 0 ? 0 : 1;
}
