// entryTableTest.cpp: binding and unbinding the lower library through the
// internal seam. Every test leaves the library bound for the tests after it.
#include <gtest/gtest.h>

#include <cstring>

#include "ViDazoHx/ViDazoHx.h"
#include "adapter/entryTable.h"
#include "adapter/forwarding.h"
#include "protons/status/statusCodes.h"

namespace {

class EntryTable : public ::testing::Test {
 protected:
  void TearDown() override { ASSERT_EQ(loadLowerLibrary(), 0); }
};

TEST_F(EntryTable, HoldsTheNamesInTableOrderAndEndsWithANamelessEntry) {
  EXPECT_STREQ(entryTable[0].name, "ViDazoDll_Open");
  EXPECT_STREQ(entryTable[12].name, "ViDazoDll_ReadU32");
  EXPECT_STREQ(entryTable[56].name, "ViDazoDll_ReadFifoU32");
  EXPECT_STREQ(entryTable[86].name, "ViDazoDll_ReleaseFifoElements");
  EXPECT_STREQ(entryTable[88].name, "ViDazoDll_GetBitfileContents");
  EXPECT_EQ(entryTable[89].name, nullptr);
}

TEST_F(EntryTable, BoundSlotsHoldTheLowerFunctions) {
  ASSERT_NE(lowerLibraryHandle(), nullptr);
  EXPECT_EQ(entryTable[slot_ViDazoDll_ReadU32].slot.load(), reinterpret_cast<void*>(&ViDazoDll_ReadU32));
  EXPECT_EQ(entryTable[slot_ViDazoDll_GetBitfileContents].slot.load(),
            reinterpret_cast<void*>(&ViDazoDll_GetBitfileContents));
  for (const tEntryTableEntry* entry = entryTable; entry->name != nullptr; ++entry) {
    EXPECT_NE(entry->slot.load(), nullptr) << entry->name;
  }
}

TEST_F(EntryTable, UnloadEmptiesEverySlotAndForwardingThenReportsNotOpen) {
  ASSERT_EQ(unloadLowerLibrary(), 0);
  EXPECT_EQ(lowerLibraryHandle(), nullptr);
  for (const tEntryTableEntry* entry = entryTable; entry->name != nullptr; ++entry) {
    EXPECT_EQ(entry->slot.load(), nullptr) << entry->name;
  }
  uint32_t value = 0;
  EXPECT_EQ(ViDazoHx_Read32(1, 0, &value), StatusLibraryNotOpen);
  EXPECT_EQ(lower::Close(1, 1), StatusLibraryNotOpen);
  EXPECT_EQ(lower::readFifo(7, 1, 6, &value, 1, 0, nullptr), StatusLibraryNotOpen);
  void* elements = nullptr;
  uint32_t acquired = 0;
  EXPECT_EQ(lower::acquireFifoElements(lower::tFifoDirection::write, 8, 1, 17, &elements, 1, 0, &acquired, nullptr),
            StatusLibraryNotOpen);
  EXPECT_EQ(unloadLowerLibrary(), StatusLibraryNotOpen);
}

TEST_F(EntryTable, LoadingWhileLoadedKeepsTheHandle) {
  void* handle = lowerLibraryHandle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(loadLowerLibrary(), 0);
  EXPECT_EQ(lowerLibraryHandle(), handle);
  // One unload undoes the one open: nothing stays held.
  EXPECT_EQ(unloadLowerLibrary(), 0);
  EXPECT_EQ(lowerLibraryHandle(), nullptr);
}

TEST_F(EntryTable, AttachResetsTheReservedIrqContextsAndBinds) {
  addReservedIrqContexts(5);
  ASSERT_TRUE(moduleMain(kModuleDetach));
  EXPECT_FALSE(moduleMain(kModuleDetach));  // nothing left to unload
  ASSERT_TRUE(moduleMain(kModuleAttach));
  EXPECT_EQ(reservedIrqContextCount(), 0);
  EXPECT_NE(lowerLibraryHandle(), nullptr);
}

}  // namespace
