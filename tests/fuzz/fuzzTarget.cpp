// fuzzTarget.cpp: libFuzzer drives the reliability driver: the fuzz input
// makes the choices a seed would make (two bytes each), so every input is
// one sequence of steps over the exports, checked against the model.
// Built and run by scripts/fuzz.sh, not by CI.

#include <cstdio>
#include <cstdlib>

#include "driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static reliability::Driver driver;
  reliability::Choices choices(data, size);
  const std::string failure = driver.sequence(choices, 50, false);
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz input differs from the model: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
