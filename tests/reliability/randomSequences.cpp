// randomSequences.cpp: runs a fixed set of seeded random sequences through
// the driver and stops at the first difference from the model, printing the
// seed and the failing prefix.
//
//   reliability_sequences [--seed N] [--first N] [--count N] [--steps N]
//                         [--keep-going] [--write-corpus DIRECTORY]
//
// --seed N re-runs one sequence verbosely. Without it, seeds first..first+
// count-1 run (count from VIDAZOHX_SEQUENCES, default 20000). --keep-going
// reports every failing seed on one line; --write-corpus writes each
// sequence's choices as a fuzz input that replays it (scripts/fuzz.sh).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "driver.h"

int main(int argc, char** argv) {
  uint64_t seed = 0, count = 20000, steps = 50, first = 1, failures = 0;
  bool keepGoing = false;
  const char* corpus = nullptr;
  if (const char* fromEnvironment = std::getenv("VIDAZOHX_SEQUENCES")) count = std::strtoull(fromEnvironment, nullptr, 10);
  for (int index = 1; index < argc; ++index) {
    if (std::strcmp(argv[index], "--keep-going") == 0) keepGoing = true;
  }
  for (int index = 1; index + 1 < argc; index += 2) {
    const uint64_t value = std::strtoull(argv[index + 1], nullptr, 10);
    if (std::strcmp(argv[index], "--seed") == 0) seed = value;
    if (std::strcmp(argv[index], "--count") == 0) count = value;
    if (std::strcmp(argv[index], "--steps") == 0) steps = value;
    if (std::strcmp(argv[index], "--first") == 0) first = value;
    if (std::strcmp(argv[index], "--write-corpus") == 0) corpus = argv[index + 1];
  }
  reliability::Driver driver;
  const auto start = std::chrono::steady_clock::now();
  if (seed != 0) first = seed;
  const uint64_t last = seed != 0 ? seed : first + count - 1;
  for (uint64_t current = first; current <= last; ++current) {
    reliability::Choices choices(current);
    std::vector<uint8_t> recorded;
    if (corpus != nullptr) choices.recording = &recorded;
    const std::string failure = driver.sequence(choices, static_cast<uint32_t>(steps), seed != 0);
    if (corpus != nullptr) {
      std::ofstream(std::string(corpus) + "/seed-" + std::to_string(current), std::ios::binary)
          .write(reinterpret_cast<const char*>(recorded.data()), static_cast<std::streamsize>(recorded.size()));
    }
    if (!failure.empty() && keepGoing) {
      ++failures;
      std::printf("seed %llu: %s\n", static_cast<unsigned long long>(current), failure.substr(0, failure.find('\n')).c_str());
    } else if (!failure.empty()) {
      std::printf("seed %llu differs from the model: %s  re-run: %s --seed %llu\n",
                  static_cast<unsigned long long>(current), failure.c_str(), argv[0],
                  static_cast<unsigned long long>(current));
      return 1;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%llu sequences, %llu steps, no difference from the model (%.1f s)\n",
              static_cast<unsigned long long>(last - first + 1), static_cast<unsigned long long>(driver.stepsRun),
              seconds);
  return failures == 0 ? 0 : 1;
}
