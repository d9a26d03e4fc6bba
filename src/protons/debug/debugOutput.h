// debugOutput.h: printf-style debug output through a replaceable output hook
// (standard error by default), and the assertion path that halts the process.
#pragma once

#include <cstdint>

// Where an assertion or debug line comes from. Fixed texts, not __FILE__.
struct tSourceLocation {
  const char* file;
  int32_t line;
  const char* lineTerminator;  // "\n"
};

// Output hook: receives a finished NUL-terminated text. Default: fputs to stderr.
typedef int (*tDebugOutputHook)(const char* text);
// Assertion-failure hook: default executes a breakpoint trap (SIGTRAP) with
// SIGTRAP's default action restored and the signal unblocked, and aborts if
// the trap returns: it never returns.
typedef void (*tAssertionFailureHook)(const tSourceLocation& location, const char* kind);

extern tDebugOutputHook debugOutputHook;
extern tAssertionFailureHook assertionFailureHook;

// debugPrint(): formats into a 512-byte stack buffer (text beyond 511
// characters is cut) and hands it to the output hook; returns its result.
int debugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// assertionFailure(): prints "[component|file|line] !!!ASSERT!!!\n", then
// `message`, then calls the assertion-failure hook with kind "ASSERT". Does
// not return with the default hook.
void assertionFailure(const char* component, const tSourceLocation& location, const char* message);
