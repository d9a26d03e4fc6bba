// loadProbe.cpp: a minimal host process for the load-failure tests.
//
// It links libViDazoHx.so the way a host does, so the library's process
// attach runs before main. When attach fails the process must stop before
// main: the line below on standard output proves that it did not.

#include <cstdio>

#include "ViDazoHx/ViDazoHx.h"

int main() {
  std::fputs("main ran\n", stdout);
  std::fflush(stdout);
  return ViDazoHx_ReserveIrqContext(0, nullptr) == 0 ? 0 : 1;
}
