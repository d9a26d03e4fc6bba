// entryTable.cpp: binding of the lower library at load time.
//
// The library reaches every register, IRQ and FIFO function of the lower
// library through this table rather than through the dynamic linker, so
// that a missing or incomplete lower library is detected once, at load,
// with a clear diagnostic, instead of at the first call. All 89 names are
// resolved, including those nothing calls: a lower library that lacks any
// of them is not one this library was built for.
//
// The table and the handle are written only by process attach and detach,
// which the dynamic loader serialises; readers take no lock. Slots are
// published with release stores and read with acquire loads.

#include "adapter/entryTable.h"

#include <dlfcn.h>

#include "adapter/forwarding.h"
#include "protons/debug/debugOutput.h"
#include "protons/status/statusCodes.h"

// Constant-initialised: the table is ready before any constructor runs.
tEntryTableEntry entryTable[slotCount + 1] = {
#define VIDAZOHX_ENTRY_INIT(name) {#name, {nullptr}},
    VIDAZODLL_FOR_EACH_ENTRY(VIDAZOHX_ENTRY_INIT)
#undef VIDAZOHX_ENTRY_INIT
        {nullptr, {nullptr}}};

namespace {

constexpr const char* kLowerLibraryFile = "libViDazo.so";

// The dynamic-loader handle of the lower library; null while nothing is open.
void* lowerLibrary = nullptr;

}  // namespace

void* lowerLibraryHandle() { return lowerLibrary; }

int32_t loadLowerLibrary() {
  if (lowerLibrary != nullptr) return StatusSuccess;

  lowerLibrary = dlopen(kLowerLibraryFile, RTLD_LAZY);
  if (lowerLibrary == nullptr) {
    const char* reason = dlerror();  // NOLINT(concurrency-mt-unsafe): process attach, serialised by the loader
    debugPrint("Error opening %s: %s\n", kLowerLibraryFile, reason != nullptr ? reason : "");
    return StatusLibraryNotFound;
  }

  for (tEntryTableEntry* entry = entryTable; entry->name != nullptr; ++entry) {
    void* address = dlsym(lowerLibrary, entry->name);
    entry->slot.store(address, std::memory_order_release);
    // The handle stays open and later slots stay as they were: process
    // attach fails and halts the process, so nothing runs on a partial table.
    if (address == nullptr) return StatusEntryPointMissing;
  }
  return StatusSuccess;
}

int32_t unloadLowerLibrary() {
  if (lowerLibrary == nullptr) return StatusLibraryNotOpen;

  const int closeResult = dlclose(lowerLibrary);
  lowerLibrary = nullptr;
  for (tEntryTableEntry* entry = entryTable; entry->name != nullptr; ++entry) {
    entry->slot.store(nullptr, std::memory_order_release);
  }
  return closeResult == 0 ? StatusSuccess : StatusLibraryNotOpen;
}

bool moduleMain(int32_t reason) {
  switch (reason) {
    case kModuleAttach:
      // Sessions opened from now on reserve as many IRQ contexts as the host
      // announces after this point; a reload starts the count afresh.
      resetReservedIrqContexts();
      return loadLowerLibrary() >= 0;
    case kModuleDetach:
      return unloadLowerLibrary() >= 0;
    default:
      return true;
  }
}
