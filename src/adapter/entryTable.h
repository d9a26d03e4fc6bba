// entryTable.h: the lower-library binding: the 89-entry table of function
// names and slots, and loading and unloading of libViDazo.so.
#pragma once

#include <atomic>
#include <cstdint>

#include "ViDazo/ViDazoDll.h"

// One entry: a lower-library function name and its slot (null while unbound).
// Slots are written only at load and unload; readers take no lock.
struct tEntryTableEntry {
  const char* name;
  std::atomic<void*> slot;
};

// Entry-table slot numbers, in table order (slot 0 first).
enum tEntrySlot : uint32_t {
#define VIDAZOHX_SLOT_ENUM(name) slot_##name,
  VIDAZODLL_FOR_EACH_ENTRY(VIDAZOHX_SLOT_ENUM)
#undef VIDAZOHX_SLOT_ENUM
  slotCount
};
static_assert(slotCount == VIDAZODLL_ENTRY_COUNT, "the entry table has 89 slots");

// The table, ended by an entry with no name.
extern tEntryTableEntry entryTable[slotCount + 1];

// loadLowerLibrary(): opens "libViDazo.so" (RTLD_LAZY) and fills every slot.
// 0 when already loaded (nothing reopened); StatusLibraryNotFound (after
// printing "Error opening %s: %s\n") or StatusEntryPointMissing on failure.
int32_t loadLowerLibrary();
// unloadLowerLibrary(): closes the library and empties every slot;
// StatusLibraryNotOpen when nothing was loaded or the close failed.
int32_t unloadLowerLibrary();
// lowerLibraryHandle(): the dynamic-loader handle of the lower library, or
// null while nothing is loaded. For tests and diagnostics; never closed by callers.
void* lowerLibraryHandle();

// Reasons for moduleMain().
constexpr int32_t kModuleAttach = 1;
constexpr int32_t kModuleDetach = 2;

// moduleMain(): reason 1 process attach (resets the reserved IRQ context
// count, then loads), reason 2 process detach (unloads). True when the step's
// status is 0 or a warning; other reasons do nothing and succeed.
//
// Called by the module-entry object in protons/dll/posix/tDLLMain.cpp: the
// platform layer owns the load-time hook, but what a load means belongs to
// the adapter, so this is the one place the platform calls upward.
bool moduleMain(int32_t reason);
