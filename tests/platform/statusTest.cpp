// Status record: precedence of offered codes, truncation of the origin
// texts, short records, absorption and the scoped record's merge.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protons/status/statusCodes.h"
#include "protons/status/stlStatus.h"

namespace {

constexpr int32_t kWarning = 5;
constexpr int32_t kOtherWarning = 7;
constexpr int32_t kError = -3;
constexpr int32_t kOtherError = -7;

// Fills every byte so that a copy which forgets to NUL-fill shows up.
void poison(tStatus& status) {
  std::memset(status.componentName, 'x', sizeof(status.componentName));
  std::memset(status.fileName, 'x', sizeof(status.fileName));
}

bool allNul(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p) {
    if (*p != '\0') return false;
  }
  return true;
}

TEST(StatusRecord, NewRecordIsCleanAndFullSize) {
  tStatus status;
  EXPECT_EQ(status.structSize, 164u);
  EXPECT_EQ(status.code, 0);
  EXPECT_STREQ(status.componentName, "");
  EXPECT_STREQ(status.fileName, "");
  EXPECT_EQ(status.lineNumber, 0u);
  EXPECT_EQ(status.stackTrace[0], 0u);
}

TEST(StatusRecordOffer, PrecedenceFollowsSeverityAndFirstOfEqualSeverityWins) {
  struct Case {
    int32_t held;
    int32_t offered;
    bool taken;
  };
  const Case cases[] = {
      {0, 0, false},          {0, kWarning, true},     {0, kError, true},
      {kWarning, 0, false},   {kWarning, kOtherWarning, false}, {kWarning, kError, true},
      {kError, 0, false},     {kError, kWarning, false},        {kError, kOtherError, false},
  };
  for (const Case& c : cases) {
    tStatus status;
    status.offerCode(c.held, "first", "firstFile", 1);
    EXPECT_EQ(status.offerCode(c.offered, "second", "secondFile", 2), c.taken)
        << "held " << c.held << " offered " << c.offered;
    EXPECT_EQ(status.code, c.taken ? c.offered : c.held);
    if (c.held != 0 && !c.taken) {
      EXPECT_STREQ(status.componentName, "first");
      EXPECT_STREQ(status.fileName, "firstFile");
      EXPECT_EQ(status.lineNumber, 1u);
    }
  }
}

TEST(StatusRecordOffer, ErrorOverWarningReplacesWholeOriginAndEmptiesTrace) {
  tStatus status;
  status.offerCode(kWarning, "warnComp", "warn/file", 11);
  status.stackTrace[0] = 0x1000;
  status.stackTrace[1] = 0;
  ASSERT_TRUE(status.offerCode(kError, "errComp", "err/file", 22));
  EXPECT_EQ(status.code, kError);
  EXPECT_STREQ(status.componentName, "errComp");
  EXPECT_STREQ(status.fileName, "err/file");
  EXPECT_EQ(status.lineNumber, 22u);
  EXPECT_EQ(status.stackTrace[0], 0u);
}

TEST(StatusRecordOffer, ComponentKeepsFirstNineCharactersNulFilled) {
  tStatus status;
  poison(status);
  status.offerCode(kError, "ABCDEFGHIJKL", "f", 1);
  EXPECT_STREQ(status.componentName, "ABCDEFGHI");

  tStatus shortName;
  poison(shortName);
  shortName.offerCode(kError, "ab", "f", 1);
  EXPECT_STREQ(shortName.componentName, "ab");
  EXPECT_TRUE(allNul(shortName.componentName + 2, shortName.componentName + 10));
}

TEST(StatusRecordOffer, FileOfOneHundredCharactersIsStoredWhole) {
  const std::string name(100, 'a');
  tStatus status;
  poison(status);
  status.offerCode(kError, "c", name.c_str(), 1);
  EXPECT_EQ(std::string(status.fileName), name);
  EXPECT_EQ(status.fileName[100], '\0');
}

TEST(StatusRecordOffer, LongerFileKeepsHeadAndTailAroundTwoDots) {
  std::string name;
  for (int i = 0; i < 101; ++i) name.push_back(static_cast<char>('A' + i % 26));
  tStatus status;
  status.offerCode(kError, "c", name.c_str(), 1);
  const std::string expected = name.substr(0, 49) + ".." + name.substr(101 - 49);
  EXPECT_EQ(std::string(status.fileName), expected);
  EXPECT_EQ(std::strlen(status.fileName), 100u);

  const std::string veryLong(5000, 'z');
  tStatus other;
  other.offerCode(kError, "c", veryLong.c_str(), 1);
  EXPECT_EQ(std::string(other.fileName), std::string(49, 'z') + ".." + std::string(49, 'z'));
}

TEST(StatusRecordOffer, ShortRecordTakesCodeOnly) {
  tStatus status;
  status.structSize = 8;
  poison(status);
  status.lineNumber = 77;
  EXPECT_TRUE(status.offerCode(kError, "comp", "file", 5));
  EXPECT_EQ(status.code, kError);
  EXPECT_EQ(status.componentName[0], 'x');
  EXPECT_EQ(status.fileName[0], 'x');
  EXPECT_EQ(status.lineNumber, 77u);
}

TEST(StatusRecordOffer, AbsentTextsAreStoredEmpty) {
  tStatus status;
  EXPECT_TRUE(status.offerCode(kError, nullptr, nullptr, 3));
  EXPECT_STREQ(status.componentName, "");
  EXPECT_STREQ(status.fileName, "");
  EXPECT_EQ(status.lineNumber, 3u);
}

TEST(StatusRecordAbsorb, TakesCodeOriginAndTraceUpToTerminator) {
  tStatus source;
  source.offerCode(kError, "srcComp", "src/file", 42);
  source.stackTrace[0] = 1;
  source.stackTrace[1] = 2;
  source.stackTrace[2] = 3;
  source.stackTrace[3] = 0;
  source.stackTrace[4] = 99;  // beyond the terminator: must not be copied

  tStatus target;
  for (uint32_t& entry : target.stackTrace) entry = 0xEE;
  target.stackTrace[0] = 0;
  ASSERT_TRUE(target.absorbStatus(source));
  EXPECT_EQ(target.code, kError);
  EXPECT_STREQ(target.componentName, "srcComp");
  EXPECT_STREQ(target.fileName, "src/file");
  EXPECT_EQ(target.lineNumber, 42u);
  EXPECT_EQ(target.stackTrace[0], 1u);
  EXPECT_EQ(target.stackTrace[2], 3u);
  EXPECT_EQ(target.stackTrace[3], 0u);
  EXPECT_EQ(target.stackTrace[4], 0xEEu);
}

TEST(StatusRecordAbsorb, FullTraceOfTenIsCopiedWithoutTerminator) {
  tStatus source;
  source.offerCode(kError, "c", "f", 1);
  for (uint32_t i = 0; i < 10; ++i) source.stackTrace[i] = i + 1;
  tStatus target;
  ASSERT_TRUE(target.absorbStatus(source));
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(target.stackTrace[i], i + 1);
}

TEST(StatusRecordAbsorb, ShortSourceTransfersCodeWithEmptyOrigin) {
  tStatus source;
  source.structSize = 8;
  source.code = kError;
  poison(source);  // its origin fields must not be read
  source.lineNumber = 12;
  tStatus target;
  target.offerCode(kWarning, "w", "wfile", 9);
  ASSERT_TRUE(target.absorbStatus(source));
  EXPECT_EQ(target.code, kError);
  EXPECT_STREQ(target.componentName, "");
  EXPECT_STREQ(target.fileName, "");
  EXPECT_EQ(target.lineNumber, 0u);
}

TEST(StatusRecordAbsorb, RefusedAbsorbLeavesTraceUntouched) {
  tStatus target;
  target.offerCode(kError, "t", "tfile", 1);
  target.stackTrace[0] = 7;
  target.stackTrace[1] = 0;
  tStatus source;
  source.offerCode(kOtherError, "s", "sfile", 2);
  source.stackTrace[0] = 8;
  EXPECT_FALSE(target.absorbStatus(source));
  EXPECT_EQ(target.code, kError);
  EXPECT_EQ(target.stackTrace[0], 7u);
}

TEST(ScopedStatus, MergesIntoBoundWordAtScopeEnd) {
  struct Case {
    int32_t word;
    int32_t recordCode;
    int32_t expected;
  };
  const Case cases[] = {
      {0, 0, 0},          {0, kWarning, kWarning},      {0, kError, kError},
      {kWarning, 0, kWarning}, {kWarning, kOtherWarning, kWarning}, {kWarning, kError, kError},
      {kError, 0, kError}, {kError, kWarning, kError},  {kError, kOtherError, kError},
  };
  for (const Case& c : cases) {
    int32_t word = c.word;
    {
      tKelAutoStatus scoped(&word);
      scoped.offerCode(c.recordCode, kComponentName, kFileViDazoHx, 1);
      EXPECT_EQ(word, c.word) << "merge must wait for the end of the scope";
    }
    EXPECT_EQ(word, c.expected) << "word " << c.word << " record " << c.recordCode;
  }
}

TEST(ScopedStatus, UnboundRecordDoesNothing) {
  tKelAutoStatus scoped(nullptr);
  EXPECT_TRUE(scoped.offerCode(kError, kComponentName, kFileViDazoHx, 1));
  EXPECT_EQ(scoped.structSize, 164u);
}

TEST(ContainerCheck, ReportsMemoryFullOnlyWhenFlagged) {
  EXPECT_EQ(containerCheck(false), 0);
  EXPECT_EQ(containerCheck(true), StatusMemoryFull);
}

}  // namespace
