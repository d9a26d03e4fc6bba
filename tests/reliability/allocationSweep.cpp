// allocationSweep.cpp: fails the 1st, 2nd, ... allocation the library makes
// in each scenario, each in a process of its own (some failures latch for
// the life of the process), until the scenario runs through without one.
// Every run is checked step by step against the model and must then give
// back every element, close everything and leave nothing registered;
// LeakSanitizer checks each process's exit in the ASan build.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "driver.h"
#include "failPoint.h"

namespace {

using reliability::Driver;
using reliability::Op;
using reliability::Script;
using reliability::Step;
using reliability::makeStep;

constexpr int kNotReached = 3;

struct Scenario {
  const char* name;
  // Runs the steps; returns "" or the first difference from the model.
  std::function<std::string(Driver&)> run;
};

const std::vector<Scenario> kScenarios = {
    {"open", [](Driver& d) { Script s(d); s(makeStep(Op::Open)); return s.failure; }},
    // Enough children that the parent's list must grow; then the lower
    // library hands the last child's value to a new session (taken only
    // when that child is closed again), and the parent closes.
    {"open resource with children",
     [](Driver& d) {
       Script s(d);
       const uint32_t parent = s(makeStep(Op::Open));
       const uint32_t child = s(makeStep(Op::OpenResource, parent));
       s(makeStep(Op::OpenResource, child));
       uint32_t last = 0;
       for (int index = 0; index < 5; ++index) last = s(makeStep(Op::OpenResource, parent));
       Step reuse = makeStep(Op::Open);
       reuse.reuseValue = last;
       s(reuse);
       s(makeStep(Op::Close, parent));
       return s.failure;
     }},
    {"StartFifo",
     [](Driver& d) {
       Script s(d);
       const uint32_t session = s(makeStep(Op::Open));
       s(makeStep(Op::StartFifo, session, 6));
       s(makeStep(Op::StartFifo, session, 15));
       return s.failure;
     }},
    {"region acquisition",
     [](Driver& d) {
       Script s(d);
       const uint32_t session = s(makeStep(Op::Open));
       s(makeStep(Op::StartFifo, session));
       s(makeStep(Op::AcquireRead, session));
       s(makeStep(Op::AcquireRead, session));
       return s.failure;
     }},
    {"release",
     [](Driver& d) {
       Script s(d);
       const uint32_t session = s(makeStep(Op::Open));
       s(makeStep(Op::StartFifo, session));
       const uint32_t first = s(makeStep(Op::AcquireRead, session));
       const uint32_t second = s(makeStep(Op::AcquireRead, session));
       s(makeStep(Op::Dispose, second));
       s(makeStep(Op::Dispose, first));
       return s.failure;
     }},
    {"close with children",
     [](Driver& d) {
       Script s(d);
       const uint32_t parent = s(makeStep(Op::Open));
       const uint32_t child = s(makeStep(Op::OpenResource, parent));
       const uint32_t grandchild = s(makeStep(Op::OpenResource, child));
       s(makeStep(Op::StartFifo, grandchild));
       s(makeStep(Op::Close, parent));
       return s.failure;
     }},
    {"put-off close completed by a release",
     [](Driver& d) {
       Script s(d);
       const uint32_t parent = s(makeStep(Op::Open));
       const uint32_t child = s(makeStep(Op::OpenResource, parent));
       s(makeStep(Op::StartFifo, child));
       const uint32_t region = s(makeStep(Op::AcquireRead, child));
       s(makeStep(Op::Close, parent));
       s(makeStep(Op::Dispose, region));
       return s.failure;
     }},
    {"host cleanup",
     [](Driver& d) {
       Script s(d);
       const uint32_t parent = s(makeStep(Op::Open));
       s(makeStep(Op::OpenResource, parent));
       s(makeStep(Op::StartFifo, parent));
       const uint32_t region = s(makeStep(Op::AcquireRead, parent));
       s(makeStep(Op::HostCleanup));
       s(makeStep(Op::Dispose, region));
       return s.failure;
     }},
};

// One failure point in a child process: exit 0 checked, kNotReached when
// the scenario made fewer allocations, 1 on a difference.
int runFailurePoint(const Scenario& scenario, uint64_t nth) {
  Driver driver;
  reliability::failAllocation(nth);
  std::string failure = scenario.run(driver);
  const bool reached = reliability::takeAllocationFailure() || driver.stepsRun == 0 || nth <= reliability::allocationsCounted();
  reliability::failAllocation(0);
  if (failure.empty()) {
    reliability::Choices choices(nth);
    failure = driver.finish(choices);
  }
  driver.reset();
  if (!failure.empty()) {
    std::printf("%s, allocation %llu failed: %s\n", scenario.name, static_cast<unsigned long long>(nth),
                failure.c_str());
    return 1;
  }
  return reached ? 0 : kNotReached;
}

}  // namespace

int main() {
  int failures = 0;
  for (const Scenario& scenario : kScenarios) {
    uint64_t nth = 1;
    for (;; ++nth) {
      std::fflush(stdout);
      const pid_t child = fork();
      if (child == 0) std::exit(runFailurePoint(scenario, nth));
      int status = 0;
      waitpid(child, &status, 0);
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (code == kNotReached) break;
      if (code != 0) {
        std::printf("%s: allocation %llu: process ended with %d\n", scenario.name,
                    static_cast<unsigned long long>(nth), code);
        ++failures;
      }
    }
    std::printf("%-40s %3llu allocation points failed in turn\n", scenario.name,
                static_cast<unsigned long long>(nth - 1));
  }
  return failures == 0 ? 0 : 1;
}
