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
// moduleMain(): reason 1 process attach, reason 2 process detach.
bool moduleMain(int32_t reason);
