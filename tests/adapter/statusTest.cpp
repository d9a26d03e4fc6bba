// statusTest.cpp: the merge rule and the host result conversion.
#include <gtest/gtest.h>

#include "adapter/status.h"

namespace {

struct tMergeCase {
  int32_t current, incoming, expected;
};

TEST(MergeStatus, KeepsTheMostSevereAndTheEarliestOfEqualSeverity) {
  const tMergeCase cases[] = {
      {0, 0, 0},  {0, 5, 5},   {5, 7, 5},   {5, 0, 5},   {5, -3, -3},
      {-3, -7, -3}, {-3, 0, -3}, {-3, 5, -3}, {0, -52005, -52005},
  };
  for (const tMergeCase& c : cases) {
    int32_t status = c.current;
    EXPECT_EQ(mergeStatus(&status, c.incoming), c.expected) << c.current << " <- " << c.incoming;
    EXPECT_EQ(status, c.expected) << c.current << " <- " << c.incoming;
  }
}

TEST(MergeStatus, AbsentDestinationIsAnInvalidParameter) {
  EXPECT_EQ(mergeStatus(nullptr, -7), StatusInvalidParameter);
  EXPECT_EQ(mergeStatus(nullptr, 0), StatusInvalidParameter);
}

TEST(ConvertHostResult, MapsTheHostCodes) {
  EXPECT_EQ(convertHostResult(0), 0);
  EXPECT_EQ(convertHostResult(2), StatusMemoryFull);
  EXPECT_EQ(convertHostResult(41), StatusHostCancelled);
  for (int32_t other : {1, -1, 3, 40, 42, INT32_MIN}) EXPECT_EQ(convertHostResult(other), StatusUnexpectedFailure);
}

}  // namespace
