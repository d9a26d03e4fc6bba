/*
 * hostArraysTest.cpp: tests of the simulated host runtime's array handles:
 * block layout, resizes that move the block, rejected arguments, and
 * injected resize answers.
 */
#include <initializer_list>

#include "hostTestSupport.h"

namespace {

using HostArrays = HostRuntimeTest;

uintptr_t address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

TEST_F(HostArrays, ElementsFollowTheCountWith64BitTypesAligned) {
  for (int32_t type = 1; type <= 8; ++type) {
    ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(type, 3);
    ASSERT_NE(nullptr, array) << "type " << type;
    HostRuntimeSim_ArrayInfo info{};
    ASSERT_EQ(0, HostRuntimeSim_GetArrayInfo(array, &info));
    const bool wide = type == 4 || type == 8;
    EXPECT_EQ(address(*array) + (wide ? 8 : 4), address(info.elements)) << "type " << type;
    if (wide) {
      EXPECT_EQ(0u, address(info.elements) % 8) << "type " << type;
    }
    EXPECT_EQ(3, (*array)->count);
    EXPECT_EQ(0, HostRuntimeSim_FreeArray(array));
  }
  EXPECT_EQ(nullptr, HostRuntimeSim_NewArray(9, 1));
  EXPECT_EQ(0u, HostRuntimeSim_DataOffset(0));
}

TEST_F(HostArrays, ResizeInPlaceKeepsOnlyABlockOfTheSameSizeAndTypeUntilReset) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, 4);
  ASSERT_NE(nullptr, array);
  HostRuntimeSim_SetResizeInPlace(1);
  ViDazoHx_ArrayBlock* before = *array;
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeU32, 1, &array, 4));
  EXPECT_EQ(before, *array);
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeI32, 1, &array, 4));
  EXPECT_NE(before, *array) << "another type code moves the block";
  before = *array;
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeI32, 1, &array, 5));
  EXPECT_NE(before, *array) << "another size moves the block";
  HostRuntimeSim_Reset();  // frees the array and switches the shortcut off
  array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, 4);
  before = *array;
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeU32, 1, &array, 4));
  EXPECT_NE(before, *array);
  EXPECT_EQ(0, HostRuntimeSim_FreeArray(array));
}

TEST_F(HostArrays, ResizeMovesTheBlockAndKeepsCountAndElements) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU64, 2);
  ASSERT_NE(nullptr, array);
  auto* elements = reinterpret_cast<uint64_t*>(reinterpret_cast<char*>(*array) + 8);
  elements[0] = 0x1122334455667788ull;
  elements[1] = 42;
  ViDazoHx_ArrayBlock* before = *array;

  ViDazoHx_ArrayHandle variable = array;
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeU64, 1, &variable, 1000));
  EXPECT_EQ(array, variable) << "the handle stays, the block behind it moves";
  EXPECT_NE(before, *array);
  EXPECT_EQ(2, (*array)->count) << "the caller writes the count, not the host";
  HostRuntimeSim_ArrayInfo info{};
  ASSERT_EQ(0, HostRuntimeSim_GetArrayInfo(array, &info));
  EXPECT_EQ(1000u, info.capacity);
  EXPECT_EQ(0u, address(info.elements) % 8);
  auto* moved = static_cast<uint64_t*>(info.elements);
  EXPECT_EQ(0x1122334455667788ull, moved[0]);
  EXPECT_EQ(42u, moved[1]);
  EXPECT_EQ(0xA5A5A5A5A5A5A5A5ull, moved[999]) << "new elements carry the fresh-memory pattern";

  ViDazoHx_ArrayBlock* grown = *array;
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeU64, 1, &variable, 1));
  EXPECT_NE(grown, *array) << "shrinking moves the block as well";
  EXPECT_EQ(0x1122334455667788ull, *reinterpret_cast<uint64_t*>(reinterpret_cast<char*>(*array) + 8));
  EXPECT_EQ(0, HostRuntimeSim_FreeArray(array));
}

TEST_F(HostArrays, ResizeToAnotherTypeUsesThatTypesLayout) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, 2);
  ASSERT_NE(nullptr, array);
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeI64, 1, &array, 4));
  HostRuntimeSim_ArrayInfo info{};
  ASSERT_EQ(0, HostRuntimeSim_GetArrayInfo(array, &info));
  EXPECT_EQ(ViDazoHx_TypeI64, info.typeCode);
  EXPECT_EQ(address(*array) + 8, address(info.elements));
  EXPECT_EQ(0, HostRuntimeSim_FreeArray(array));
}

TEST_F(HostArrays, RejectedResizesChangeNothing) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeI8, 4);
  ASSERT_NE(nullptr, array);
  ViDazoHx_ArrayBlock* block = *array;
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, NumericArrayResize(0, 1, &array, 8));
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, NumericArrayResize(9, 1, &array, 8));
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, NumericArrayResize(1, 2, &array, 8));
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, NumericArrayResize(1, 1, nullptr, 8));
  EXPECT_EQ(HostRuntimeSim_ResultMemoryFull, NumericArrayResize(ViDazoHx_TypeU64, 1, &array, 0xFFFFFFFFu))
      << "an array beyond the size limit is refused, also where size_t is 32 bits";
  EXPECT_EQ(block, *array);

  ViDazoHx_ArrayBlock stranger{0};
  ViDazoHx_ArrayBlock* strangerPointer = &stranger;
  ViDazoHx_ArrayHandle foreign = &strangerPointer;
  EXPECT_EQ(HostRuntimeSim_ResultArgumentError, NumericArrayResize(1, 1, &foreign, 8));
  EXPECT_EQ(HostRuntimeSim_ErrorUnknownHandle, HostRuntimeSim_FreeArray(foreign));
  EXPECT_EQ(0, HostRuntimeSim_FreeArray(array));
  EXPECT_EQ(HostRuntimeSim_ErrorUnknownHandle, HostRuntimeSim_FreeArray(array));
}

TEST_F(HostArrays, ResizeOfANullHandleMakesANewArray) {
  ViDazoHx_ArrayHandle array = nullptr;
  ASSERT_EQ(0, NumericArrayResize(ViDazoHx_TypeI16, 1, &array, 5));
  ASSERT_NE(nullptr, array);
  EXPECT_EQ(0, (*array)->count);
  EXPECT_EQ(1u, HostRuntimeSim_LiveArrayCount());
  EXPECT_EQ(0, HostRuntimeSim_FreeArray(array));
}

TEST_F(HostArrays, InjectedAnswersLeaveTheArrayAlone) {
  ViDazoHx_ArrayHandle array = HostRuntimeSim_NewArray(ViDazoHx_TypeU32, 1);
  ASSERT_NE(nullptr, array);
  ViDazoHx_ArrayBlock* block = *array;
  for (int32_t code : {2, 41, 7}) {
    ASSERT_EQ(0, HostRuntimeSim_InjectResult("NumericArrayResize", 1, code));
    EXPECT_EQ(code, NumericArrayResize(ViDazoHx_TypeU32, 1, &array, 100));
    EXPECT_EQ(block, *array) << "code " << code;
  }
  EXPECT_EQ(0, NumericArrayResize(ViDazoHx_TypeU32, 1, &array, 100)) << "only the injected calls fail";
  EXPECT_EQ(4u, HostRuntimeSim_CallCount("NumericArrayResize"));
  EXPECT_EQ(HostRuntimeSim_ErrorUnknownFunction, HostRuntimeSim_InjectResult("ArrayResize", 1, 2));
  EXPECT_EQ(0, HostRuntimeSim_FreeArray(array));
}

}  // namespace
