// trapProbe.cpp: a host process with handlers of its own that return, for
// SIGTRAP and for SIGBUS and SIGILL (what a trap instruction raises where a
// core cannot take it as a breakpoint), for the load-failure tests: the
// library's halt must stop it all the same, by SIGTRAP.
//
// The handlers are installed before the library is loaded with dlopen. The
// line on standard output proves that the load returned, which it must not
// when the library halts; when the loader refuses the library, the line
// carries the loader's reason, as a host would log it.

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "HostRuntime/HostRuntimeSim.h"

namespace {

volatile sig_atomic_t trapsSeen = 0;

// A trap that returns onto itself would loop for ever; leaving after a few
// makes that fault fail the test at once instead of by its time limit.
void returningTrapHandler(int) {
  if (++trapsSeen > 100) _exit(3);
}

}  // namespace

int main() {
  HostRuntimeSim_Reset();  // the host functions the library needs are this program's
  struct sigaction action {};
  action.sa_handler = returningTrapHandler;
  sigemptyset(&action.sa_mask);
  const int hostSignals[] = {SIGTRAP, SIGBUS, SIGILL};
  for (int signal : hostSignals) sigaction(signal, &action, nullptr);
  void* library = dlopen(VIDAZOHX_SONAME, RTLD_NOW | RTLD_GLOBAL);
  std::printf("dlopen returned: %s\n", library != nullptr ? "loaded" : dlerror());
  return 0;
}
