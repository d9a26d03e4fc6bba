// Debug output, the assertion path and the debug-line classes. The output
// hook is replaced to capture text; the real trap runs only in a death test's
// child process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "protons/debug/debugOutput.h"
#include "protons/debug/vosdbg.h"

namespace {

std::vector<std::string> captured;

int capture(const char* text) {
  captured.emplace_back(text);
  return 17;
}

std::vector<std::string> assertionCalls;

void recordAssertion(const tSourceLocation& location, const char* kind) {
  assertionCalls.push_back(std::string(kind) + "@" + location.file + ":" + std::to_string(location.line));
}

class DebugOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    captured.clear();
    assertionCalls.clear();
    savedOutput = debugOutputHook;
    savedAssertion = assertionFailureHook;
    debugOutputHook = capture;
    assertionFailureHook = recordAssertion;
  }
  void TearDown() override {
    debugOutputHook = savedOutput;
    assertionFailureHook = savedAssertion;
    vosdbgDecorations = vosdbgDefaultDecorations;
  }

  tDebugOutputHook savedOutput = nullptr;
  tAssertionFailureHook savedAssertion = nullptr;
};

TEST_F(DebugOutput, PrintFormatsAndReturnsHookResult) {
  EXPECT_EQ(debugPrint("%s=%d", "x", 42), 17);
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], "x=42");
}

TEST_F(DebugOutput, LongTextIsCutToFirst511Characters) {
  std::string text;
  for (int i = 0; i < 600; ++i) text.push_back(static_cast<char>('a' + i % 26));
  debugPrint("%s", text.c_str());
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], text.substr(0, 511));
}

TEST_F(DebugOutput, AssertionPrintsLineThenMessageThenCallsHook) {
  const tSourceLocation where{"protons/dll/posix/tDLLMain", 59, "\n"};
  assertionFailure("ViDazoHx", where, "Module not loaded. %s %d\n");
  ASSERT_EQ(captured.size(), 2u);
  EXPECT_EQ(captured[0], "[ViDazoHx|protons/dll/posix/tDLLMain|59] !!!ASSERT!!!\n");
  EXPECT_EQ(captured[1], "Module not loaded. %s %d\n") << "the message is text, not a format";
  ASSERT_EQ(assertionCalls.size(), 1u);
  EXPECT_EQ(assertionCalls[0], "ASSERT@protons/dll/posix/tDLLMain:59");
}

using DebugOutputDeathTest = DebugOutput;

TEST_F(DebugOutputDeathTest, DefaultAssertionHookStopsWithTrap) {
  // "fast" forks without re-executing the program: a cross build runs under an
  // emulator, where the test program cannot start itself again.
  GTEST_FLAG_SET(death_test_style, "fast");
  const tSourceLocation where{"file", 1, "\n"};
  EXPECT_EXIT(savedAssertion(where, "ASSERT"), ::testing::KilledBySignal(SIGTRAP), "");
}

volatile sig_atomic_t hostSignalsSeen = 0;

// A trap that came back onto itself would loop for ever; leaving after a few
// makes that fault fail the test at once.
void returningHostHandler(int) {
  if (++hostSignalsSeen > 100) _exit(3);
}

// Hosts keep handlers of their own, SIGBUS for mapped files say, that return.
// A trap instruction a core cannot take as a breakpoint arrives as one of
// these, so the halt must not depend on them.
TEST_F(DebugOutputDeathTest, DefaultAssertionHookStopsWithTrapWhateverHandlersTheHostKeeps) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const tSourceLocation where{"file", 1, "\n"};
  auto haltInHandlingHost = [&] {
    struct sigaction action {};
    action.sa_handler = returningHostHandler;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTRAP, SIGBUS, SIGILL, SIGSEGV}) sigaction(signal, &action, nullptr);
    savedAssertion(where, "ASSERT");
  };
  EXPECT_EXIT(haltInHandlingHost(), ::testing::KilledBySignal(SIGTRAP), "");
}

// ---------------------------------------------------------------------------
// Debug-line classes
// ---------------------------------------------------------------------------

using VarLine = DebugOutput;

TEST_F(VarLine, DecoratesWithPaddedComponentFileAndLine) {
  vosdbg_VarLine line("abc.cpp", 7, "\n");
  line.print("%c", 'm');
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], "[  ViDazoHx|" + std::string(25, ' ') + "abc.cpp|0007] m\n");
}

TEST_F(VarLine, LongFileKeepsLast32AndLongLineKeepsLast4Digits) {
  const std::string file = "0123456789" + std::string("abcdefghijklmnopqrstuvwxyz012345");
  ASSERT_EQ(file.size(), 42u);
  vosdbg_VarLine line(file.c_str(), 123456, "\n");
  line.print("x");
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], "[  ViDazoHx|abcdefghijklmnopqrstuvwxyz012345|3456] x\n");
}

TEST_F(VarLine, LineZeroIsFourZeros) {
  vosdbg_VarLine line("f", 0);
  line.print("x");
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_NE(captured[0].find("|0000] x\n"), std::string::npos);
}

TEST_F(VarLine, LongMessageIsCutButTerminatorKept) {
  vosdbg_VarLine line("f", 1, "\r\n");
  line.print("%s", std::string(1000, 'q').c_str());
  ASSERT_EQ(captured.size(), 1u);
  const std::string& text = captured[0];
  EXPECT_EQ(text.size(), 511u);
  EXPECT_EQ(text.substr(text.size() - 3), "q\r\n");
}

TEST_F(VarLine, OverlongTerminatorStaysInsideBuffer) {
  const std::string terminator(600, 't');
  vosdbg_VarLine line("f", 1, terminator.c_str());
  line.print("message");
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_LE(captured[0].size(), 511u);
}

TEST_F(VarLine, DecorationListIsReplaceable) {
  static const tVarLineDecorator onlyBracket[] = {
      [](const vosdbg_VarLine&, char* cursor, char*) {
        std::strcpy(cursor, "<");
        return cursor + 1;
      },
      nullptr};
  vosdbgDecorations = onlyBracket;
  vosdbg_VarLine line("f", 1);
  line.print("m");
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], "<m\n");
}

TEST_F(VarLine, ToBufferCutsToCapacityAndWritesNoOutput) {
  char buffer[8];
  std::memset(buffer, '#', sizeof(buffer));
  vosdbg_VarLineToBuffer line("f", 1, buffer, 4);
  line.print("%s", "hello");
  EXPECT_STREQ(buffer, "hel");
  EXPECT_EQ(buffer[4], '#');
  EXPECT_TRUE(captured.empty());
}

TEST_F(VarLine, ToBufferWithZeroCapacityWritesNothing) {
  char guard[4] = {'#', '#', '#', '#'};
  vosdbg_VarLineToBuffer line("f", 1, guard + 2, 0);
  line.print("%s", "hello");
  EXPECT_EQ(std::string(guard, 4), "####");
}

TEST_F(VarLine, DispatchesThroughBaseAndCarriesTypeInformation) {
  char buffer[16];
  vosdbg_VarLineToBuffer toBuffer("f", 1, buffer, sizeof(buffer));
  vosdbg_VarLine& asBase = toBuffer;
  asBase.print("%d", 5);
  EXPECT_STREQ(buffer, "5");
  EXPECT_TRUE(captured.empty());
  EXPECT_EQ(typeid(asBase), typeid(vosdbg_VarLineToBuffer));
}

}  // namespace
