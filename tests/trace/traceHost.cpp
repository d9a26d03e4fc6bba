// -----------------------------------------------------------------------------
// File: tests/trace/traceHost.cpp
// -----------------------------------------------------------------------------
//
// A small host for checkTrace.sh: brings the library into the states the
// trace must report, or does to its own descriptors what a host may do
// after load. Prints "done" and exits 0 when every call answered as
// expected; the trace's lines are checked by the script.
//
//   traceHost putOff                 a close put off by a lent region, finished by its release
//   traceHost threads                four threads reading registers at once
//   traceHost takeFd <fd|path> <own file>
//       closes descriptor <fd> (or the one open on <path>, the trace file),
//       opens <own file> on that number, then calls the library
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "HostRuntime/HostRuntimeSim.h"
#include "ViDazo/ViDazoSim.h"
#include "ViDazoHx/ViDazoHx.h"

namespace {

constexpr uint32_t kToHostFifo = 6;
constexpr uint32_t kMarkerOffset = 0x200;  // the script looks for calls at this offset
std::atomic<int> failures{0};

void expect(const char* what, int32_t status, int32_t expected) {
  if (status == expected) return;
  std::printf("%s: %d, expected %d\n", what, static_cast<int>(status), static_cast<int>(expected));
  ++failures;
}

uint32_t openStreaming() {
  uint32_t session = 0;
  expect("Open", ViDazoHx_Open(nullptr, nullptr, "sim0", 0, &session), 0);
  expect("StartFifo", ViDazoHx_StartFifo(session, kToHostFifo), 0);
  expect("StartGenerator", ViDazoSim_StartGenerator(session, kToHostFifo, 0, ViDazoSim_EndlessStream), 0);
  return session;
}

void putOff() {
  const uint32_t session = openStreaming();
  uint32_t reference = 0, acquired = 0;
  expect("Acquire", ViDazoHx_AcquireFifoReadRegionScalar(session, kToHostFifo, &reference, 16, ViDazoHx_TypeU32, 0,
                                                         1000, &acquired, nullptr), 0);
  expect("Close while lent", ViDazoHx_Close(session, 0), ViDazoHx_StatusRegionsOutstanding);
  expect("Read32 with bit 0x2000", ViDazoHx_Read32(session | 0x2000, 0, &acquired),
         ViDazoHx_StatusSessionNotSupported);
  expect("Dispose", HostRuntimeSim_DisposeReference(reference), 0);
}

void threads() {
  const uint32_t session = openStreaming();
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([session] {
      uint32_t value = 0;
      for (int i = 0; i < 200; ++i) expect("Read32", ViDazoHx_Read32(session, kMarkerOffset, &value), 0);
    });
  }
  for (std::thread& reader : readers) reader.join();
  expect("Close", ViDazoHx_Close(session, 0), 0);
}

// The descriptor open on `path`, found by device and inode; -1 if none.
int descriptorOf(const char* path) {
  struct stat file {};
  if (stat(path, &file) != 0) return -1;
  for (int fd = 3; fd < 1024; ++fd) {
    struct stat open {};
    if (fstat(fd, &open) == 0 && open.st_dev == file.st_dev && open.st_ino == file.st_ino) return fd;
  }
  return -1;
}

void takeFd(const char* which, const char* ownFile) {
  const int fd = std::strchr(which, '/') != nullptr ? descriptorOf(which) : std::atoi(which);
  if (fd < 0) {
    std::printf("no descriptor for %s\n", which);
    ++failures;
    return;
  }
  const uint32_t session = openStreaming();
  close(fd);
  const int own = open(ownFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (own < 0 || (own != fd && (dup2(own, fd) != fd || close(own) != 0))) {
    std::printf("cannot open %s on descriptor %d\n", ownFile, fd);
    ++failures;
    return;
  }
  uint32_t value = 0;
  expect("Read32 after", ViDazoHx_Read32(session, kMarkerOffset, &value), 0);
  expect("Write32 after", ViDazoHx_Write32(session, kMarkerOffset, 1), 0);
  expect("Close", ViDazoHx_Close(session, 0), 0);
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const char* scenario = argc > 1 ? argv[1] : "";
  if (std::strcmp(scenario, "putOff") == 0) {
    putOff();
  } else if (std::strcmp(scenario, "threads") == 0) {
    threads();
  } else if (std::strcmp(scenario, "takeFd") == 0 && argc == 4) {
    takeFd(argv[2], argv[3]);
  } else {
    std::printf("usage: %s putOff | threads | takeFd <fd|path> <own file>\n", argv[0]);
    return 2;
  }
  std::printf(failures == 0 ? "done\n" : "FAILED\n");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
